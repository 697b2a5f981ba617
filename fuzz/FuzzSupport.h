#pragma once
// Shared by the fuzz targets: quiet logging that still formats every message (so a format
// mismatch is still caught by the sanitizers), and a private scratch folder per process.
#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "FLog.h"

namespace fuzzsupport {

inline void formatAndDrop(int, const char* format, va_list args, void*) {
    char line[2048];
    vsnprintf(line, sizeof(line), format, args);
}

// Routes the project log into formatAndDrop unless FUZZ_VERBOSE is set.
inline void quietLogs() {
    if (!qEnvironmentVariableIsSet("FUZZ_VERBOSE")) {
        flog_set_callback(&formatAndDrop, nullptr);
    }
}

// One scratch folder for the whole run; removed at exit.
inline const QString& scratchDir() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/vrk-fuzz-XXXXXX"));
    static const QString path = dir.path();
    return path;
}

inline QByteArray bytesOf(const uint8_t* data, size_t size) {
    // QByteArray holds at most INT_MAX bytes; fuzz inputs are far smaller.
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(size));
}

inline bool writeFile(const QString& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f) {
        return false;
    }
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Everything under `dir`, relative, sorted; used to prove that a run left nothing behind.
inline QStringList listTree(const QString& dir) {
    QStringList out;
    QDir base(dir);
    const QFileInfoList entries =
        base.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& e : entries) {
        out << e.fileName();
        if (e.isDir() && !e.isSymLink()) {
            for (const QString& sub : listTree(e.filePath())) {
                out << e.fileName() + QLatin1Char('/') + sub;
            }
        }
    }
    out.sort();
    return out;
}

[[noreturn]] inline void fail(const char* what, const QString& detail) {
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s: %s\n", what, detail.toUtf8().constData());
    std::abort();
}

}  // namespace fuzzsupport
