#include "CSettings.h"

#include <QDir>
#include <mutex>
#include <QStandardPaths>

QString CSettings::settingsFilePath() {
    const QStringList locations = QStandardPaths::standardLocations(QStandardPaths::AppDataLocation);
    const QString dir = locations.isEmpty() ? QString() : locations.first();
    return dir + QStringLiteral("/system.ini");
}

CSettings* CSettings::instance() {
    static CSettings* s_instance = [] {
        const QStringList locations = QStandardPaths::standardLocations(QStandardPaths::AppDataLocation);
        const QString dir = locations.isEmpty() ? QString() : locations.first();
        QDir d(dir);
        if (!dir.isEmpty() && !d.exists()) {
            // Whole path: on a fresh account the parent ("~/.local/share") may be missing too, and the
            // settings would then never reach the disk.
            QDir().mkpath(d.absolutePath());
        }
        return new CSettings(dir + QStringLiteral("/system.ini"));
    }();
    return s_instance;
}

CSettings::CSettings(const QString& path) : QSettings(path, QSettings::IniFormat) {}

void CSettings::write(const QString& key, const QVariant& value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    setValue(key, value);
    sync();
}

QVariant CSettings::read(const QString& key, const QVariant& defaultValue) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return value(key, defaultValue);
}
