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
    void run();

    std::deque<std::shared_ptr<FEvent>> m_events;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::atomic<bool> m_stop{false};
    std::thread m_worker;
};
