// The session's event queue: one worker, posting order, stop semantics.
#include <QtTest>

#include <atomic>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "FEventQueue.h"

class TestEventQueue : public QObject {
    Q_OBJECT
private slots:
    void runsInPostingOrderOnOneWorker();
    void stopDropsQueuedEvents();
    void destroyedFromItsOwnEvent();
};

void TestEventQueue::runsInPostingOrderOnOneWorker() {
    FEventQueue queue;
    std::mutex mutex;
    std::vector<int> order;
    std::set<std::thread::id> threads;
    std::vector<std::thread> posters;
    // Four posters, each in its own order; the worker keeps each poster's order.
    for (int p = 0; p < 4; ++p) {
        posters.emplace_back([&, p] {
            for (int i = 0; i < 250; ++i) {
                queue.post([&, p, i] {
                    std::lock_guard<std::mutex> lock(mutex);
                    order.push_back(p * 1000 + i);
                    threads.insert(std::this_thread::get_id());
                });
            }
        });
    }
    for (auto& t : posters) {
        t.join();
    }
    std::promise<void> drained;
    queue.post([&] { drained.set_value(); });
    QVERIFY(drained.get_future().wait_for(std::chrono::seconds(30)) == std::future_status::ready);
    std::lock_guard<std::mutex> lock(mutex);
    QCOMPARE(order.size(), size_t(1000));
    std::vector<int> last(4, -1);
    for (int v : order) {
        QVERIFY(v % 1000 > last[v / 1000]);
        last[v / 1000] = v % 1000;
    }
    QCOMPARE(threads.size(), size_t(1));
    QVERIFY(*threads.begin() != std::this_thread::get_id());
    queue.post(std::shared_ptr<FEvent>());  // an empty event is ignored
}

void TestEventQueue::stopDropsQueuedEvents() {
    std::atomic<int> ran{0};
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    {
        FEventQueue queue;
        queue.post([&] {
            entered.set_value();
            released.wait();
            ++ran;
        });
        for (int i = 0; i < 10; ++i) {
            queue.post([&] { ++ran; });
        }
        entered.get_future().wait();
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            release.set_value();
        });
        queue.stop();  // waits for the running event, drops the ten others
        releaser.join();
        QCOMPARE(ran.load(), 1);
        queue.post([&] { ++ran; });  // after stop: ignored
    }
    QCOMPARE(ran.load(), 1);
}

void TestEventQueue::destroyedFromItsOwnEvent() {
    auto queue = std::make_shared<FEventQueue>();
    std::promise<void> done;
    std::atomic<int> after{0};
    std::weak_ptr<FEventQueue> weak = queue;
    // The only reference is handed to the event itself, which drops it on the worker.
    // The event waits until the test has let go of its own reference, so that its reset really is
    // the last one whatever the threads' timing.
    auto holder = std::make_shared<std::shared_ptr<FEventQueue>>(queue);
    std::promise<void> released;
    std::shared_future<void> released_future = released.get_future().share();
    queue->post([holder, &done, released_future] {
        released_future.wait();
        holder->reset();
        done.set_value();
    });
    queue->post([&after] { ++after; });
    queue.reset();
    released.set_value();
    QVERIFY(done.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready);
    QTRY_VERIFY(weak.expired());
    QTest::qWait(50);
    QCOMPARE(after.load(), 0);
}

QTEST_GUILESS_MAIN(TestEventQueue)
#include "tst_datawrapper_eventqueue.moc"
