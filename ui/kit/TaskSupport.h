#pragma once
// Pieces the task windows share: the state a task's worker and its window both use, the registry
// of running workers, the wait for a package read and the output path rule.
#include <QDateTime>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "TaskInterface.h"

class DataWrapper;
class QEventLoop;

// What a task's worker reports through and writes to. The window and its worker each hold it, so a
// window deleted while its worker runs leaves the worker with valid state; the window's destructor
// only cuts the observer off.
class TaskRunState {
public:
    // Whether a failed task reports the time it ran (start to end) or 0.
    enum class FailedTime { Zero, Elapsed };

    explicit TaskRunState(const QString& id, int initialStatus = TaskStatus::Wait,
                          FailedTime failedTime = FailedTime::Zero);

    QString id() const { return m_id; }
    int status() const { return m_status.load(); }
    void setStatus(int status) { m_status.store(status); }

    void setObserver(TaskInterfaceObserver* observer);
    bool hasObserver() const;
    void reportStatus(int status);
    void reportFinish(bool success, int reason);
    void reportProgress(float value);

    void setOutputPath(const QString& path);
    QString outputPath() const;
    // Takes `path` as the output path together with its reservation (composeOutputPath made it);
    // the reservation ends with `outputWritten` or with this state.
    void reserveOutput(const QString& path);
    // The task has ended: its package is at `written` (empty when none was written, or to keep the
    // chosen path); the name's reservation is released.
    void outputWritten(const QString& written);
    ~TaskRunState();
    // Cancel: the sessions the worker uses are registered; a request cancels every one of them,
    // also those registered after it.
    void addCancelTarget(const std::shared_ptr<DataWrapper>& session);
    void requestCancel();
    bool cancelRequested() const { return m_cancel_requested.load(); }
    // A start forgets the end of an earlier run.
    void markStart();
    void markEnd();
    // Converting: start to now; Finished (and Failed, with FailedTime::Elapsed): start to end;
    // otherwise 0.
    qint64 timeConsume() const;

private:
    const QString m_id;
    const FailedTime m_failed_time;
    std::atomic<int> m_status;
    // Held while a report runs, so that the window's destructor cannot cut the observer off in the
    // middle of one. Recursive and apart from m_mutex: an observer on the reporting thread is called
    // directly and may ask the task for its output path, its times or its end at once.
    mutable std::recursive_mutex m_observer_mutex;
    TaskInterfaceObserver* m_observer = nullptr;
    mutable std::mutex m_mutex;  // everything below
    QString m_output_path;
    QString m_reserved_path;
    QDateTime m_start_time;
    QDateTime m_end_time;
    std::atomic<bool> m_cancel_requested{false};
    std::vector<std::weak_ptr<DataWrapper>> m_cancel_targets;
};

namespace TaskWorkers {
// Runs `work` on a detached thread that the program waits for before it quits, so that a task
// started before the main window closed still finishes its output and removes its workspaces.
void run(std::function<void()> work);
int runningCount();
// Waits until no worker runs; false when `timeoutMs` (>= 0) passed first.
bool waitForAll(int timeoutMs = -1);
}  // namespace TaskWorkers

// Lets the GUI end a running read wait early (its window was closed while the package loads).
// Used on the thread that waits only.
class ReadWaitAbort {
public:
    // Ends the wait that runs now, if any; the wait then returns kAbandoned.
    void abandon();
    // True once a running wait was abandoned.
    bool abandoned() const { return m_abandoned; }

    static constexpr int kAbandoned = -3;

private:
    friend int waitForRead(const std::function<int(std::function<void(int)>)>&, const std::function<void()>&,
                           ReadWaitAbort*);
    QEventLoop* m_loop = nullptr;
    bool m_abandoned = false;
};

// Starts a read through `start` (which hands the completion callback to the reader and returns the
// reader's immediate code) and waits for its completion in a local event loop on the calling
// thread. The completion may come from any thread, and before the loop starts; the wait ends in
// that case as well. `whileWaiting` runs after the read has been started and before the wait
// (spinner, disabling). Returns the immediate failure code, or the completion code (0 success), or
// ReadWaitAbort::kAbandoned.
int waitForRead(const std::function<int(std::function<void(int)>)>& start,
                const std::function<void()>& whileWaiting = {}, ReadWaitAbort* abort = nullptr);

// waitForRead for the read of a package into a session.
int readPackageAndWait(const std::shared_ptr<DataWrapper>& session, const QString& path, bool keepEncrypt,
                       const std::function<void()>& whileWaiting = {});

// Output options as the task saw them when it started (the dialog is read on the GUI thread only).
struct OutputOptionsSnapshot {
    bool exists = false;
    QString title;
    QString fileName;
    QString folder;
    bool transcode = false;
    int width = 0;
    int height = 0;
};

// Folder: the options' folder + "/", else "System/OutputPath", else the default output directory.
// Name: the options' file name, else `sourcePath`'s last "/" part up to its first ".", else the
// current time as "hhmmss". The result ends in ".vrk", names no existing file and no name another
// task holds, and is reserved for the caller (TaskRunState::reserveOutput takes the reservation over).
QString composeOutputPath(const OutputOptionsSnapshot& options, const QString& sourcePath);

// Drops a session reference on the GUI thread (a session is a QObject living there); when the
// application is gone it is dropped where it is.
void releaseOnGuiThread(std::shared_ptr<DataWrapper> session);
