#pragma once
// The one settings store of the program: "system.ini" in the user's application data directory.
// Every write is synced to disk at once. Reads and writes are serialised by a lock, because task
// workers read the output folder while the GUI thread may be changing it.
#include <mutex>
#include <QSettings>

class CSettings : public QSettings {
    Q_OBJECT
public:
    // Keys of the file.
    static constexpr const char* kSystemPath = "System/Path";
    static constexpr const char* kSystemOutputPath = "System/OutputPath";
    static constexpr const char* kVideoTranseCode = "Video/TranseCode";

    // Created on the first call (from the GUI thread, in practice) and kept until the process ends.
    static CSettings* instance();
    // Path of the file the instance uses.
    static QString settingsFilePath();

    void write(const QString& key, const QVariant& value);
    QVariant read(const QString& key, const QVariant& defaultValue = QVariant());

private:
    explicit CSettings(const QString& path);

    std::mutex m_mutex;
};
