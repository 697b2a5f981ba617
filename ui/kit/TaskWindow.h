#pragma once
// The base of the cut, merge and convert windows: a frameless dialog that is also a task. It holds
// the run state the window shares with its worker and answers every task call that only reads or
// writes that state; a window adds its form, names its sources and starts its job.
#include <memory>

#include "BaseDialog.h"
#include "TaskInterface.h"
#include "TaskSupport.h"

class TaskWindow : public BaseDialog, public TaskInterface, public CancellableTask {
    Q_OBJECT
public:
    // From now on a running worker reports to nobody; it keeps its own reference to the state.
    ~TaskWindow() override;

    QString taskId() override;
    int taskType() override;
    QString outputPath() override;
    int status() override;
    void setStatus(int status) override;
    qint64 timeConsume() override;
    void setObserver(TaskInterfaceObserver* observer) override;
    // Asks every session the worker registered to stop; the worker reports the end.
    void cancelTask() override;

protected:
    // A new id; `type` is a TaskType value.
    TaskWindow(int type, QWidget* parent, int initialStatus = TaskStatus::Wait,
               TaskRunState::FailedTime failedTime = TaskRunState::FailedTime::Zero);

    const std::shared_ptr<TaskRunState> m_state;

private:
    const int m_type;
};
