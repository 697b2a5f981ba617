#pragma once
// Contract between the main window and the task windows (cut, merge, convert).
// Status, type and reason values are stored and passed as plain int.
#include <QString>
#include <QtGlobal>

namespace TaskStatus {
enum Value : int { Converting = 0, Finished = 1, Failed = 2, Wait = 3 };
}

namespace TaskType {
enum Value : int { Cut = 0, Merge = 1, Convert = 2 };
}

namespace FinishReason {
// CutFail and ConvertFail come after the historical values so that their numbers stay unchanged.
enum Value : int {
    None = 0,
    ReadFileFail = 1,
    TemplateTypeConflict = 2,
    MergeFail = 3,
    CutFail = 4,
    ConvertFail = 5,
    Cancelled = 6
};
}  // namespace FinishReason

class TaskInterfaceObserver;

class TaskInterface {
public:
    virtual QString taskId() = 0;
    virtual int taskType() = 0;
    virtual QString sourceName() = 0;
    virtual QString sourceToolTip() = 0;
    virtual QString outputPath() = 0;
    virtual int status() = 0;
    virtual void setStatus(int status) = 0;
    // Running time in milliseconds.
    virtual qint64 timeConsume() = 0;
    // False when the task cannot start.
    virtual bool startTask() = 0;
    // The observer is not owned.
    virtual void setObserver(TaskInterfaceObserver* observer) = 0;
    virtual ~TaskInterface() = default;
};

// A task that can be stopped while it runs. It then reports Failed with the reason Cancelled, leaves
// nothing at its output path and removes its temporary folders.
class CancellableTask {
public:
    // GUI thread; returns at once, the task reports its end when its work has stopped.
    virtual void cancelTask() = 0;
    virtual ~CancellableTask() = default;
};

// Tasks may report from any thread.
class TaskInterfaceObserver {
public:
    virtual void onStatusChange(QString id, int status) = 0;
    virtual void onFinish(QString id, bool success, int reason) = 0;
    // Progress as a fraction from 0 to 1.
    virtual void onProgressValueChange(QString id, float value) = 0;
    virtual ~TaskInterfaceObserver() = default;
};

// Translated texts and colours shown for the enumerations.
namespace TaskTexts {
// Empty for values outside the table.
QString statusText(int status);
// "#rrggbb", empty for values outside the table.
QString statusColor(int status);
// Any value other than Cut and Merge counts as Convert.
QString typeName(int type);
QString typeIcon(int type);
// Empty for None and for unknown values.
QString reasonText(int reason);
}  // namespace TaskTexts
