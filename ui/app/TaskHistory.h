#pragma once
// Tasks that ended (finished or failed), kept in the settings folder so that the main window lists
// them again after a restart.
#include <QList>
#include <QString>

#include "TaskInterface.h"

struct TaskRecord {
    QString id;
    int type = TaskType::Cut;
    QString source;
    QString sourceTip;
    QString output;
    int status = TaskStatus::Finished;
    bool hasRemark = false;  // a finish report came (its reason may be None)
    int reason = FinishReason::None;
    qint64 runningMs = 0;
};

namespace TaskHistory {
// "task_history.json" beside the settings file.
QString filePath();
// Records in the order they ended; an unreadable file gives none (logged).
QList<TaskRecord> load();
// Replaces the file as a whole; false (logged) when it cannot be written.
bool save(const QList<TaskRecord>& records);
}  // namespace TaskHistory

// A task of an earlier run as the table shows it: its recorded values, no work.
class HistoryTask : public TaskInterface {
public:
    explicit HistoryTask(const TaskRecord& record) : m_record(record) {}
    QString taskId() override { return m_record.id; }
    int taskType() override { return m_record.type; }
    QString sourceName() override { return m_record.source; }
    QString sourceToolTip() override { return m_record.sourceTip; }
    QString outputPath() override { return m_record.output; }
    int status() override { return m_record.status; }
    void setStatus(int) override {}
    qint64 timeConsume() override { return m_record.runningMs; }
    bool startTask() override { return false; }
    void setObserver(TaskInterfaceObserver*) override {}

private:
    TaskRecord m_record;
};
