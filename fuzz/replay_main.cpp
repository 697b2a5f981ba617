// Runs a fuzz target over saved inputs without libFuzzer, so that ordinary builds (GCC, CI) replay
// the seed corpus and every input that once crashed. Arguments are files or folders (not
// recursive); a missing folder is skipped, an unreadable file fails the run.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static bool runFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", QFile::encodeName(path).constData());
        return false;
    }
    const QByteArray bytes = f.readAll();
    std::fprintf(stderr, "replay %s (%d bytes)\n", QFile::encodeName(path).constData(), int(bytes.size()));
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
    return true;
}

int main(int argc, char** argv) {
    int ran = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QFile::decodeName(argv[i]);
        const QFileInfo info(arg);
        if (info.isDir()) {
            const QFileInfoList files = QDir(arg).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
            for (const QFileInfo& file : files) {
                if (file.fileName() == QLatin1String("README") ||
                    file.fileName() == QLatin1String(".gitkeep")) {
                    continue;
                }
                ok = runFile(file.filePath()) && ok;
                ++ran;
            }
        } else if (info.exists()) {
            ok = runFile(arg) && ok;
            ++ran;
        }
    }
    std::printf("%d inputs replayed\n", ran);
    // A replay that found nothing to run is a broken set-up, not a pass.
    return ok && ran > 0 ? 0 : 1;
}
