// The task framework of the kit: the read wait (completion from any thread, at any moment, and an
// early end by the window) and the running time a task reports.
#include <QElapsedTimer>
#include <QThread>
#include <future>
#include <thread>

#include "ShellTestMain.h"
#include "TaskSupport.h"

namespace {

// How the reader under test answers.
enum class Completion {
    None,         // the start fails; nothing completes
    InsideStart,  // the callback runs before the start returns
    OtherThread,  // the callback runs on another thread after `delayMs`
    Never,        // only the window's abandon ends the wait
};

// Asks the task back from inside each report, as the main window does when it is called directly.
class AskingObserver : public TaskInterfaceObserver {
public:
    explicit AskingObserver(TaskRunState* state) : m_state(state) {}
    void onStatusChange(QString, int) override { ask(); }
    void onFinish(QString, bool, int) override { ask(); }
    void onProgressValueChange(QString, float) override { ask(); }

    QString seenPath;
    bool seenObserver = false;

private:
    void ask() {
        seenPath = m_state->outputPath();
        m_state->timeConsume();
        seenObserver = m_state->hasObserver();
    }
    TaskRunState* m_state;
};

}  // namespace

Q_DECLARE_METATYPE(Completion)
Q_DECLARE_METATYPE(TaskRunState::FailedTime)

class TestTaskFramework : public QObject {
    Q_OBJECT

    // Shared by the rows in order, so that a wait after an abandoned one shows the flag was reset.
    ReadWaitAbort m_abort;

private slots:
    void readWait_data() {
        QTest::addColumn<int>("startCode");
        QTest::addColumn<Completion>("completion");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("doneCode");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("waitedVisibly");

        QTest::newRow("start fails") << 5 << Completion::None << 0 << 0 << 5 << false;
        QTest::newRow("done inside start") << 0 << Completion::InsideStart << 0 << 7 << 7 << true;
        QTest::newRow("done at once, other thread") << 0 << Completion::OtherThread << 0 << 3 << 3 << true;
        QTest::newRow("done later, other thread") << 0 << Completion::OtherThread << 80 << 0 << 0 << true;
        QTest::newRow("abandoned") << 0 << Completion::Never << 0 << 0 << int(ReadWaitAbort::kAbandoned)
                                   << true;
        QTest::newRow("after an abandoned wait") << 0 << Completion::OtherThread << 30 << 4 << 4 << true;
    }

    void readWait() {
        QFETCH(int, startCode);
        QFETCH(Completion, completion);
        QFETCH(int, delayMs);
        QFETCH(int, doneCode);
        QFETCH(int, expected);
        QFETCH(bool, waitedVisibly);

        std::thread reader;
        auto start = [&](std::function<void(int)> done) {
            if (completion == Completion::InsideStart) {
                done(doneCode);
            } else if (completion == Completion::OtherThread) {
                reader = std::thread([done, delayMs, doneCode]() {
                    QThread::msleep(static_cast<unsigned long>(delayMs));
                    done(doneCode);
                });
            }
            return startCode;
        };
        bool whileWaitingRan = false;
        // The window closes soon in the abandoned row; elsewhere only a hung wait reaches the timer.
        QTimer closer;
        closer.setSingleShot(true);
        connect(&closer, &QTimer::timeout, this, [this]() { m_abort.abandon(); });
        closer.start(completion == Completion::Never ? 30 : 10000);

        const int code = waitForRead(
            start, [&]() { whileWaitingRan = true; }, &m_abort);
        if (reader.joinable()) {
            reader.join();
        }
        QCOMPARE(code, expected);
        QCOMPARE(whileWaitingRan, waitedVisibly);
        QCOMPARE(m_abort.abandoned(), expected == ReadWaitAbort::kAbandoned);
        // Outside a wait, abandoning does nothing.
        m_abort.abandon();
        QCOMPARE(m_abort.abandoned(), expected == ReadWaitAbort::kAbandoned);
    }

    void observerAsksBack_data() {
        QTest::addColumn<int>("report");  // 0 status, 1 finish, 2 progress
        QTest::newRow("status") << 0;
        QTest::newRow("finish") << 1;
        QTest::newRow("progress") << 2;
    }

    void observerAsksBack() {
        QFETCH(int, report);
        // Shared with the reporting thread, which outlives a failed row.
        auto state = std::make_shared<TaskRunState>(QStringLiteral("id"));
        state->setOutputPath(QStringLiteral("/out/a.vrk"));
        auto observer = std::make_shared<AskingObserver>(state.get());
        state->setObserver(observer.get());
        // On a thread of its own, so that a report that locks itself out fails the row, not the run.
        auto reported = std::make_shared<std::promise<void>>();
        std::future<void> done = reported->get_future();
        std::thread reporter([state, observer, reported, report]() {
            state->markStart();
            if (report == 0) {
                state->reportStatus(TaskStatus::Finished);
            } else if (report == 1) {
                state->reportFinish(true, FinishReason::None);
            } else {
                state->reportProgress(0.5f);
            }
            reported->set_value();
        });
        if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            reporter.detach();
            QFAIL("the report never returned");
        }
        reporter.join();
        QCOMPARE(observer->seenPath, QStringLiteral("/out/a.vrk"));
        QVERIFY(observer->seenObserver);
    }

    void runningTime_data() {
        QTest::addColumn<TaskRunState::FailedTime>("failedTime");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("restarted");
        QTest::addColumn<QString>("expected");  // "zero", "start to end" or "start to now"

        using F = TaskRunState::FailedTime;
        QTest::newRow("finished") << F::Zero << int(TaskStatus::Finished) << false << "start to end";
        QTest::newRow("failed, cut or merge") << F::Zero << int(TaskStatus::Failed) << false << "zero";
        QTest::newRow("failed, convert") << F::Elapsed << int(TaskStatus::Failed) << false << "start to end";
        QTest::newRow("converting") << F::Zero << int(TaskStatus::Converting) << false << "start to now";
        QTest::newRow("waiting") << F::Elapsed << int(TaskStatus::Wait) << false << "zero";
        QTest::newRow("finished, started again") << F::Elapsed << int(TaskStatus::Finished) << true << "zero";
    }

    void runningTime() {
        QFETCH(TaskRunState::FailedTime, failedTime);
        QFETCH(int, status);
        QFETCH(bool, restarted);
        QFETCH(QString, expected);

        TaskRunState state(QStringLiteral("id"), TaskStatus::Wait, failedTime);
        QCOMPARE(state.timeConsume(), qint64(0));  // never started
        QElapsedTimer outer;
        outer.start();
        state.markStart();
        QElapsedTimer inner;
        inner.start();
        QThread::msleep(60);
        const qint64 innerRun = inner.elapsed();
        state.markEnd();
        const qint64 outerRun = outer.elapsed();
        if (restarted) {
            state.markStart();
        }
        state.setStatus(status);
        QThread::msleep(40);
        const qint64 reported = state.timeConsume();
        const qint64 outerNow = outer.elapsed();

        if (expected == QLatin1String("zero")) {
            QCOMPARE(reported, qint64(0));
        } else if (expected == QLatin1String("start to end")) {
            // Millisecond clocks: a tick of slack on each side.
            QVERIFY2(reported >= innerRun - 1 && reported <= outerRun + 1,
                     qPrintable(QString::number(reported)));
        } else {
            QVERIFY2(reported >= innerRun + 40 - 1 && reported <= outerNow + 1,
                     qPrintable(QString::number(reported)));
        }
    }
};

SHELL_TEST_MAIN(TestTaskFramework)
#include "tst_taskframework.moc"
