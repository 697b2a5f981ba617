#pragma once
// Single-consumer work queue: moves media engine notifications off the engine's threads.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class FEvent {
public:
    explicit FEvent(std::function<void()> fn) : m_fn(std::move(fn)) {}
    void run() {
        if (m_fn) {
            m_fn();
        }
    }

private:
    std::function<void()> m_fn;
};

class FEventQueue {
public:
    FEventQueue();
    ~FEventQueue();  // stops and joins; events still queued are dropped

    void post(std::shared_ptr<FEvent> event);
    void post(std::function<void()> fn) { post(std::make_shared<FEvent>(std::move(fn))); }
    void stop();

private:
    // Shared with the worker, so that a queue destroyed from one of its own events (the worker then
    // finishes detached) never leaves the worker reading freed memory.
    struct State {
        std::deque<std::shared_ptr<FEvent>> events;
        std::mutex mutex;
        std::condition_variable cond;
        std::atomic<bool> stop{false};
    };
    static void run(std::shared_ptr<State> state);

    std::shared_ptr<State> m_state;
    std::thread m_worker;
};
