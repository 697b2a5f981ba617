#define FLOG_SOURCE "ui/TaskWindow"
#include "TaskWindow.h"

#include <QUuid>

#include "FLog.h"

TaskWindow::TaskWindow(int type, QWidget* parent, int initialStatus, TaskRunState::FailedTime failedTime)
    : BaseDialog(parent),
      m_state(std::make_shared<TaskRunState>(QUuid::createUuid().toString(), initialStatus, failedTime)),
      m_type(type) {}

TaskWindow::~TaskWindow() {
    m_state->setObserver(nullptr);
}

QString TaskWindow::taskId() {
    return m_state->id();
}

int TaskWindow::taskType() {
    return m_type;
}

QString TaskWindow::outputPath() {
    return m_state->outputPath();
}

int TaskWindow::status() {
    return m_state->status();
}

void TaskWindow::setStatus(int status) {
    m_state->setStatus(status);
}

qint64 TaskWindow::timeConsume() {
    return m_state->timeConsume();
}

void TaskWindow::setObserver(TaskInterfaceObserver* observer) {
    m_state->setObserver(observer);
}

void TaskWindow::cancelTask() {
    const char* kind = m_type == TaskType::Cut ? "cut" : m_type == TaskType::Merge ? "merge" : "convert";
    FLOG(FLOG_INFO, "cancel %s task.", kind);
    m_state->requestCancel();
}
