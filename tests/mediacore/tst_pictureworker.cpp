// The recorder's encoding thread: pictures are worked on in order, the first failure or a stop ends
// the work and is what every later call returns, and no more than the queue's depth waits.
#include <QtTest>

#include <atomic>
#include <future>

#include "MediaPictureWorker.h"

class PictureWorkerTest : public QObject {
    Q_OBJECT

private slots:
    void endsAsTheWorkOrTheStopSays_data() {
        QTest::addColumn<int>("failAt");  // the picture whose work fails (RECORD_WRITE), -1: none
        QTest::addColumn<int>("stopAt");  // the picture after whose push the stop is set, -1: never
        QTest::addColumn<int>("code");    // what drain() returns
        QTest::newRow("all done") << -1 << -1 << int(RECORD_OK);
        QTest::newRow("failure") << 3 << -1 << int(RECORD_WRITE);
        QTest::newRow("first fails") << 0 << -1 << int(RECORD_WRITE);
        QTest::newRow("stopped") << -1 << 4 << int(RECORD_CANCELLED);
    }
    void endsAsTheWorkOrTheStopSays() {
        QFETCH(int, failAt);
        QFETCH(int, stopAt);
        QFETCH(int, code);
        std::atomic<bool> stop{false};
        std::vector<int64_t> done;  // only the worker thread appends, read after drain()
        MediaPictureWorker worker(
            [&](std::shared_ptr<_RGBAFrame> picture, int64_t pts) {
                if (!picture || pts == failAt) {
                    return int(RECORD_WRITE);
                }
                done.push_back(pts);
                return int(RECORD_OK);
            },
            2, stop);
        int pushed = RECORD_OK;
        for (int i = 0; i < 20 && pushed == RECORD_OK; ++i) {
            pushed = worker.push(std::make_shared<_RGBAFrame>(), i);
            if (i == stopAt) {
                stop = true;
            }
        }
        QCOMPARE(worker.drain(), code);
        if (code != RECORD_OK) {
            QCOMPARE(worker.push(std::make_shared<_RGBAFrame>(), 99),
                     code);  // nothing is taken after the end
        }
        for (size_t i = 0; i < done.size(); ++i) {
            QCOMPARE(done[i], int64_t(i));
        }
        if (failAt >= 0) {
            QCOMPARE(int(done.size()), failAt);  // nothing worked on after the failure
        } else if (stopAt < 0) {
            QCOMPARE(int(done.size()), 20);
        }
    }

    // While the work is held, one picture is worked on and `depth` wait: the next push waits.
    void holdsNoMoreThanItsDepth() {
        std::atomic<bool> stop{false};
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        MediaPictureWorker worker(
            [&](std::shared_ptr<_RGBAFrame>, int64_t) {
                released.wait();
                return int(RECORD_OK);
            },
            2, stop);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(worker.push(std::make_shared<_RGBAFrame>(), i), int(RECORD_OK));
        }
        auto fourth =
            std::async(std::launch::async, [&] { return worker.push(std::make_shared<_RGBAFrame>(), 3); });
        QCOMPARE(fourth.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
        release.set_value();
        QCOMPARE(fourth.get(), int(RECORD_OK));
        QCOMPARE(worker.drain(), int(RECORD_OK));
    }
};

QTEST_GUILESS_MAIN(PictureWorkerTest)
#include "tst_pictureworker.moc"
