// Converts one package to MP4 with the export engine and reports frames, wall time and memory.
// Usage: bench_export PACKAGE OUTPUT.mp4 WIDTH HEIGHT KBPS [ENCODER]
// ENCODER names the H.264 encoder to try first (libx264 when it cannot be used); without it the
// export chooses.
// Prints: "frames N seconds S rss_kb_at_10 A rss_kb_at_50 B rss_kb_at_90 C" on success, then
// "video_rect X Y W H", where the picture of the video was drawn in the output.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

#include "VRK2Mp4.h"

namespace {
long residentKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').first().toLong();
        }
    }
    return -1;
}
}  // namespace

int main(int argc, char** argv) {
    VRK2Mp4::keepHeapFlat();
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        qunsetenv("QT_QPA_PLATFORM");  // the export needs a GL context from a real (X) display
    }
    QApplication app(argc, argv);
    if (argc != 6 && argc != 7) {
        fprintf(stderr, "usage: bench_export PACKAGE OUTPUT.mp4 WIDTH HEIGHT KBPS [ENCODER]\n");
        return 1;
    }
    auto param = std::make_shared<_RecordParam>();
    param->width = atoi(argv[3]);
    param->height = atoi(argv[4]);
    param->bitrate = atoi(argv[5]);
    if (argc == 7) {
        param->video_encoder = argv[6];
    }
    // The chat reads "expression/<code>.png" relative to the working directory: run in the
    // application's folder, as the application does, so that the emoticons are drawn.
    const QString input = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const QString output = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    const QString programDir = QStringLiteral(VRK_BINARY_DIR "/ui");
    if (QFileInfo::exists(programDir + QStringLiteral("/expression"))) {
        QDir::setCurrent(programDir);
    }
    VRK2Mp4 exporter;
    exporter.prepare(param);
    QEventLoop loop;
    bool read = false;
    if (exporter.openPackage(input, [&](int) {
            QMetaObject::invokeMethod(qApp, [&] {
                read = true;
                loop.quit();
            });
        }) != 0) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        return 2;
    }
    if (!read) {
        loop.exec();
    }
    long frames = 0;
    long rss[3] = {-1, -1, -1};
    QObject::connect(&exporter, &VRK2Mp4::signalProgressValueChange, [&](float value) {
        ++frames;
        const int slot = value >= 0.9f ? 2 : value >= 0.5f ? 1 : value >= 0.1f ? 0 : -1;
        if (slot >= 0 && rss[slot] < 0) {
            rss[slot] = residentKb();
        }
    });
    QObject::connect(&exporter, &VRK2Mp4::signalConvertFinished, &loop, &QEventLoop::quit,
                     Qt::QueuedConnection);
    QElapsedTimer timer;
    timer.start();
    const int code = exporter.startConvert(output);
    if (code != 0) {
        fprintf(stderr, "start failed with code %d\n", code);
        return 3;
    }
    loop.exec();
    const double seconds = timer.elapsed() / 1000.0;
    if (exporter.errorCode() != 0) {
        fprintf(stderr, "conversion failed with code %d\n", exporter.errorCode());
        return 4;
    }
    printf("frames %ld seconds %.3f rss_kb_at_10 %ld rss_kb_at_50 %ld rss_kb_at_90 %ld\n", frames, seconds,
           rss[0], rss[1], rss[2]);
    const QRect rect = exporter.videoRectInTemplate();
    printf("video_rect %d %d %d %d\n", rect.x(), rect.y(), rect.width(), rect.height());
    return 0;
}
