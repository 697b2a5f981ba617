#define FLOG_SOURCE "ui/TaskHistory"
#include "TaskHistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include "CSettings.h"
#include "FLog.h"

namespace TaskHistory {

QString filePath() {
    return QFileInfo(CSettings::settingsFilePath()).absolutePath() + QStringLiteral("/task_history.json");
}

QList<TaskRecord> load() {
    QList<TaskRecord> records;
    QFile file(filePath());
    if (!file.exists()) {
        return records;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        FLOG(FLOG_WARN, "task history cannot be read:%s", qUtf8Printable(file.fileName()));
        return records;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    if (!doc.isArray()) {
        FLOG(FLOG_WARN, "task history is not a list:%s", qUtf8Printable(file.fileName()));
        return records;
    }
    for (const QJsonValue& value : doc.array()) {
        const QJsonObject o = value.toObject();
        TaskRecord r;
        r.id = o.value(QStringLiteral("id")).toString();
        r.type = o.value(QStringLiteral("type")).toInt();
        r.source = o.value(QStringLiteral("source")).toString();
        r.sourceTip = o.value(QStringLiteral("sourceTip")).toString();
        r.output = o.value(QStringLiteral("output")).toString();
        r.status = o.value(QStringLiteral("status")).toInt();
        r.hasRemark = o.contains(QStringLiteral("reason"));
        r.reason = o.value(QStringLiteral("reason")).toInt();
        r.runningMs = qint64(o.value(QStringLiteral("runningMs")).toDouble());
        if (!r.id.isEmpty() && (r.status == TaskStatus::Finished || r.status == TaskStatus::Failed)) {
            records << r;
        }
    }
    return records;
}

bool save(const QList<TaskRecord>& records) {
    QJsonArray list;
    for (const TaskRecord& r : records) {
        QJsonObject o{{QStringLiteral("id"), r.id},
                      {QStringLiteral("type"), r.type},
                      {QStringLiteral("source"), r.source},
                      {QStringLiteral("sourceTip"), r.sourceTip},
                      {QStringLiteral("output"), r.output},
                      {QStringLiteral("status"), r.status},
                      {QStringLiteral("runningMs"), double(r.runningMs)}};
        if (r.hasRemark) {
            o.insert(QStringLiteral("reason"), r.reason);
        }
        list.append(o);
    }
    QDir().mkpath(QFileInfo(filePath()).absolutePath());
    // Written whole under a temporary name, so a crash never leaves half a history.
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(list).toJson()) < 0 || !file.commit()) {
        FLOG(FLOG_WARN, "task history cannot be written:%s", qUtf8Printable(filePath()));
        return false;
    }
    return true;
}

}  // namespace TaskHistory
