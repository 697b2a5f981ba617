#define FLOG_SOURCE "ui/TaskSupport"
#include "TaskSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <condition_variable>
#include <thread>

#include "CSettings.h"
#include "DataWrapper.h"
#include "FLog.h"
#include "FileHandler.h"

TaskRunState::TaskRunState(const QString& id, int initialStatus, FailedTime failedTime)
    : m_id(id), m_failed_time(failedTime), m_status(initialStatus) {}

void TaskRunState::setObserver(TaskInterfaceObserver* observer) {
    std::lock_guard<std::recursive_mutex> lock(m_observer_mutex);
    m_observer = observer;
}

bool TaskRunState::hasObserver() const {
    std::lock_guard<std::recursive_mutex> lock(m_observer_mutex);
    return m_observer != nullptr;
}

// A report from another thread only posts to the observer's thread, so holding the lock is short.
void TaskRunState::reportStatus(int status) {
    std::lock_guard<std::recursive_mutex> lock(m_observer_mutex);
    if (m_observer) {
        m_observer->onStatusChange(m_id, status);
    }
}

void TaskRunState::reportFinish(bool success, int reason) {
    std::lock_guard<std::recursive_mutex> lock(m_observer_mutex);
    if (m_observer) {
        m_observer->onFinish(m_id, success, reason);
    }
}

void TaskRunState::reportProgress(float value) {
    std::lock_guard<std::recursive_mutex> lock(m_observer_mutex);
    if (m_observer) {
        m_observer->onProgressValueChange(m_id, value);
    }
}

void TaskRunState::setOutputPath(const QString& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_output_path = path;
}

QString TaskRunState::outputPath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_output_path;
}

void TaskRunState::reserveOutput(const QString& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_reserved_path != path) {
        FileHandler::releaseOutputPath(m_reserved_path);
    }
    m_output_path = path;
    m_reserved_path = path;
}

void TaskRunState::outputWritten(const QString& written) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!written.isEmpty()) {
        m_output_path = written;
    }
    FileHandler::releaseOutputPath(m_reserved_path);
    m_reserved_path.clear();
}

TaskRunState::~TaskRunState() {
    FileHandler::releaseOutputPath(m_reserved_path);
}

void TaskRunState::addCancelTarget(const std::shared_ptr<DataWrapper>& session) {
    if (!session) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancel_targets.push_back(session);
    }
    if (m_cancel_requested.load()) {
        session->cancel();
    }
}

void TaskRunState::requestCancel() {
    std::vector<std::shared_ptr<DataWrapper>> targets;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancel_requested.store(true);
        for (const auto& weak : m_cancel_targets) {
            if (auto session = weak.lock()) {
                targets.push_back(session);
            }
        }
    }
    for (const auto& session : targets) {
        session->cancel();
    }
}

void TaskRunState::markStart() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_start_time = QDateTime::currentDateTime();
    m_end_time = QDateTime();
}

void TaskRunState::markEnd() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_end_time = QDateTime::currentDateTime();
}

qint64 TaskRunState::timeConsume() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const int status = m_status.load();
    if (status == TaskStatus::Converting && m_start_time.isValid()) {
        return m_start_time.msecsTo(QDateTime::currentDateTime());
    }
    const bool ended = status == TaskStatus::Finished ||
                       (status == TaskStatus::Failed && m_failed_time == FailedTime::Elapsed);
    if (ended && m_start_time.isValid() && m_end_time.isValid()) {
        return m_start_time.msecsTo(m_end_time);
    }
    return 0;
}

namespace {

struct WorkerRegistry {
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0;
    bool hooked = false;
};

WorkerRegistry& registry() {
    // Never destroyed: a worker may still end while static objects are torn down.
    static WorkerRegistry* r = new WorkerRegistry;
    return *r;
}

void hookQuit() {
    WorkerRegistry& r = registry();
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        if (r.hooked || !QCoreApplication::instance()) {
            return;
        }
        r.hooked = true;
    }
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, []() {
        if (TaskWorkers::runningCount() > 0) {
            FLOG(FLOG_INFO, "waiting for %d running task(s) before quitting.", TaskWorkers::runningCount());
            TaskWorkers::waitForAll();
        }
    });
}

struct ReadWait {
    std::mutex mutex;
    QEventLoop* loop = nullptr;
    bool done = false;
    int code = -2;
};

}  // namespace

namespace TaskWorkers {

void run(std::function<void()> work) {
    hookQuit();
    WorkerRegistry& r = registry();
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        ++r.running;
    }
    std::thread([work = std::move(work)]() mutable {
        work();
        work = nullptr;
        WorkerRegistry& reg = registry();
        std::lock_guard<std::mutex> lock(reg.mutex);
        --reg.running;
        reg.idle.notify_all();
    }).detach();
}

int runningCount() {
    WorkerRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.running;
}

bool waitForAll(int timeoutMs) {
    WorkerRegistry& r = registry();
    std::unique_lock<std::mutex> lock(r.mutex);
    if (timeoutMs < 0) {
        r.idle.wait(lock, [&r] { return r.running == 0; });
        return true;
    }
    return r.idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&r] { return r.running == 0; });
}

}  // namespace TaskWorkers

void ReadWaitAbort::abandon() {
    if (m_loop) {
        m_abandoned = true;
        m_loop->exit(kAbandoned);
    }
}

int waitForRead(const std::function<int(std::function<void(int)>)>& start,
                const std::function<void()>& whileWaiting, ReadWaitAbort* abort) {
    if (abort) {
        abort->m_abandoned = false;
    }
    auto wait = std::make_shared<ReadWait>();
    QEventLoop loop;
    {
        std::lock_guard<std::mutex> lock(wait->mutex);
        wait->loop = &loop;
    }
    const int started = start([wait](int code) {
        std::lock_guard<std::mutex> lock(wait->mutex);
        wait->code = code;
        wait->done = true;
        // Posted, so it also ends a loop that has not started yet; a loop that is gone by then
        // takes the posted call with it.
        if (wait->loop) {
            QMetaObject::invokeMethod(wait->loop, "quit", Qt::QueuedConnection);
        }
    });
    auto detach = [&wait]() {
        std::lock_guard<std::mutex> lock(wait->mutex);
        wait->loop = nullptr;
    };
    if (started != 0) {
        detach();
        return started;
    }
    if (whileWaiting) {
        whileWaiting();
    }
    bool done = false;
    {
        std::lock_guard<std::mutex> lock(wait->mutex);
        done = wait->done;
    }
    if (!done) {
        if (abort) {
            abort->m_loop = &loop;
        }
        loop.exec();
        if (abort) {
            abort->m_loop = nullptr;
        }
    }
    detach();
    if (abort && abort->m_abandoned) {
        return ReadWaitAbort::kAbandoned;
    }
    std::lock_guard<std::mutex> lock(wait->mutex);
    return wait->code;
}

int readPackageAndWait(const std::shared_ptr<DataWrapper>& session, const QString& path, bool keepEncrypt,
                       const std::function<void()>& whileWaiting) {
    if (!session) {
        return -1;
    }
    return waitForRead(
        [&](std::function<void(int)> done) { return session->readFile(path, std::move(done), keepEncrypt); },
        whileWaiting);
}

QString composeOutputPath(const OutputOptionsSnapshot& options, const QString& sourcePath) {
    QString folder;
    if (options.exists && !options.folder.isEmpty()) {
        folder = options.folder + QLatin1Char('/');
    } else {
        folder = CSettings::instance()
                     ->read(QString::fromLatin1(CSettings::kSystemOutputPath), QString())
                     .toString();
        if (folder.isEmpty()) {
            folder = FileHandler::defaultOutputDir();
        }
    }
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) {
        folder += QLatin1Char('/');
    }
    QString name;
    if (options.exists && !options.fileName.isEmpty()) {
        name = options.fileName;
    } else {
        name = sourcePath.section(QLatin1Char('/'), -1).section(QLatin1Char('.'), 0, 0);
        if (name.isEmpty()) {
            name = QDateTime::currentDateTime().toString(QStringLiteral("hhmmss"));
        }
    }
    return FileHandler::reserveOutputPath(folder + name + QStringLiteral(".vrk"));
}

void releaseOnGuiThread(std::shared_ptr<DataWrapper> session) {
    if (!session) {
        return;
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        session.reset();
        return;
    }
    QMetaObject::invokeMethod(
        app, [s = std::move(session)]() mutable { s.reset(); }, Qt::QueuedConnection);
}
