// The main window's task history: tasks that ended are written to the settings folder and listed
// again at the next start; deleting a row forgets it; one menu entry clears the whole history.
#define FLOG_SOURCE "ui/MainWindow"
#include <QTableWidget>

#include "FLog.h"
#include "MainWindow.h"

namespace {
constexpr int kColumnSource = 0;
constexpr int kColumnRemark = 4;
}  // namespace

void MainWindow::loadHistory() {
    m_history = TaskHistory::load();
    for (const TaskRecord& record : qAsConst(m_history)) {
        auto task = std::make_shared<HistoryTask>(record);
        m_tasks.insert(record.id, task);
        appendTaskRow(task);
        if (record.hasRemark) {
            m_table->item(m_table->rowCount() - 1, kColumnRemark)
                ->setText(TaskTexts::reasonText(record.reason));
        }
    }
    if (!m_history.isEmpty()) {
        FLOG(FLOG_INFO, "%d tasks of earlier runs listed", static_cast<int>(m_history.size()));
    }
}

void MainWindow::recordEnded(const QString& id, int status) {
    const auto it = m_tasks.constFind(id);
    if (it == m_tasks.constEnd() || !it.value() ||
        (status != TaskStatus::Finished && status != TaskStatus::Failed)) {
        return;
    }
    const std::shared_ptr<TaskInterface>& task = it.value();
    TaskRecord record;
    for (const TaskRecord& r : qAsConst(m_history)) {
        if (r.id == id) {
            record = r;
        }
    }
    record.id = id;
    record.type = task->taskType();
    record.source = task->sourceName();
    record.sourceTip = task->sourceToolTip();
    record.output = task->outputPath();
    record.status = status;
    // A failed task reports no running time of its own; the time since it was listed stands in.
    record.runningMs = task->timeConsume();
    if (record.runningMs <= 0 && m_added_at.contains(id)) {
        record.runningMs = m_added_at.value(id).msecsTo(QDateTime::currentDateTime());
    }
    forgetHistory(id);
    m_history.append(record);
    TaskHistory::save(m_history);
}

void MainWindow::recordRemark(const QString& id, int reason) {
    for (TaskRecord& r : m_history) {
        if (r.id == id) {
            r.hasRemark = true;
            r.reason = reason;
            TaskHistory::save(m_history);
            return;
        }
    }
}

void MainWindow::forgetHistory(const QString& id) {
    for (int i = 0; i < m_history.size(); ++i) {
        if (m_history.at(i).id == id) {
            m_history.removeAt(i);
            TaskHistory::save(m_history);
            return;
        }
    }
}

void MainWindow::clearHistory() {
    // The rows of ended tasks go with it; running and waiting tasks stay.
    for (int row = m_table->rowCount() - 1; row >= 0; --row) {
        QTableWidgetItem* cell = m_table->item(row, kColumnSource);
        const QString id = cell ? cell->data(Qt::UserRole).toString() : QString();
        const auto it = m_tasks.constFind(id);
        if (it != m_tasks.constEnd() && it.value() &&
            (it.value()->status() == TaskStatus::Finished || it.value()->status() == TaskStatus::Failed)) {
            m_table->removeRow(row);
            m_tasks.remove(id);
        }
    }
    m_history.clear();
    TaskHistory::save(m_history);
    refreshEmptyLook();
    FLOG(FLOG_INFO, "task history cleared");
}
