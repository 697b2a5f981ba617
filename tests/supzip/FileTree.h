#pragma once
// Small file helpers of the archive and workspace tests: whole-file reads and writes, and a
// snapshot of a folder tree (names and contents) to prove that nothing in it changed.
#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QString>

namespace hostile {

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Names and contents of every file under `dir`, to prove that nothing in it changed.
inline QMap<QString, QByteArray> snapshot(const QString& dir) {
    QMap<QString, QByteArray> m;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        m.insert(QDir(dir).relativeFilePath(p), it.fileInfo().isFile() ? readAll(p) : QByteArray("<dir>"));
    }
    return m;
}

}  // namespace hostile
