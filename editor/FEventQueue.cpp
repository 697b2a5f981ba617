#include "FEventQueue.h"

FEventQueue::FEventQueue() : m_worker([this] { run(); }) {}

FEventQueue::~FEventQueue() { stop(); }

void FEventQueue::post(std::shared_ptr<FEvent> event) {
    if (!event) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop) {
            return;
        }
        m_events.push_back(std::move(event));
    }
    m_cond.notify_one();
}

void FEventQueue::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_events.clear();
    }
    m_cond.notify_all();
    if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id()) {
        m_worker.join();
    } else if (m_worker.joinable()) {
        // Stopped from one of its own events: let the thread finish on its own.
        m_worker.detach();
    }
}

void FEventQueue::run() {
    for (;;) {
        std::shared_ptr<FEvent> event;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cond.wait(lock, [this] { return m_stop || !m_events.empty(); });
            if (m_stop) {
                return;
            }
            event = std::move(m_events.front());
            m_events.pop_front();
        }
        event->run();
        if (m_stop) {
            return;
        }
    }
}
