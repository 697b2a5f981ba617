// Drives the archive library and the workspace for bench/bench_archive.sh, which times each call.
//   bench_archive unpack PACKAGE DEST/
//   bench_archive pack 0|1 PACKAGE ENTRY...
//   bench_archive handler PACKAGE OUT   (unpack through FileHandler, fill the edit directory, pack)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "DataWrapper.h"
#include "FileHandler.h"
#include "supzip.h"

int main(int argc, char** argv) {
    if (argc >= 4 && strcmp(argv[1], "unpack") == 0) {
        return DecompressZipDec(argv[2], argv[3]) == 0 ? 0 : 1;
    }
    if (argc >= 5 && strcmp(argv[1], "pack") == 0) {
        const int mode = atoi(argv[2]);
        for (int i = 4; i < argc; ++i) {
            if (CompressToZipEnc(argv[3], argv[i], mode) != 0) {
                return 1;
            }
        }
        return 0;
    }
    if (argc >= 4 && strcmp(argv[1], "handler") == 0) {
        QCoreApplication app(argc, argv);
        auto owner = std::make_shared<DataWrapper>();
        FileHandler fh;
        fh.setOwner(owner);
        QElapsedTimer t;
        t.start();
        auto root = fh.decompress(QString::fromLocal8Bit(argv[2]));
        if (!root) {
            return 1;
        }
        const qint64 unpackMs = t.restart();
        // A cut hands over a new video and meta.json; a hard link stands in for the new video.
        const QString video = root->tmp_edit_path + QStringLiteral("c.mp4");
        if (::link(QFile::encodeName(root->video_path).constData(), QFile::encodeName(video).constData()) !=
                0 &&
            !QFile::copy(root->video_path, video)) {
            return 1;
        }
        QFile::copy(root->meta_path, root->tmp_edit_path + QStringLiteral("meta.json"));
        t.restart();
        const bool ok = fh.compress(root, QString::fromLocal8Bit(argv[3])) == 0;
        const qint64 packMs = t.elapsed();
        FileHandler::removeDir(root->tmp_edit_path);
        printf("%.3f %.3f\n", unpackMs / 1000.0, packMs / 1000.0);
        return ok ? 0 : 1;
    }
    fprintf(stderr, "usage: bench_archive unpack PKG DEST/ | pack 0|1 PKG ENTRY... | handler PKG OUT\n");
    return 2;
}
