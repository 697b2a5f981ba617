#include "FEventQueue.h"

FEventQueue::FEventQueue() : m_state(std::make_shared<State>()), m_worker(&FEventQueue::run, m_state) {}

FEventQueue::~FEventQueue() {
    stop();
}

void FEventQueue::post(std::shared_ptr<FEvent> event) {
    if (!event) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->stop) {
            return;
        }
        m_state->events.push_back(std::move(event));
    }
    m_state->cond.notify_one();
}

void FEventQueue::stop() {
    std::deque<std::shared_ptr<FEvent>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->stop = true;
        dropped.swap(m_state->events);
    }
    m_state->cond.notify_all();
    if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id()) {
        m_worker.join();
    } else if (m_worker.joinable()) {
        // Stopped from one of its own events: let the thread finish on its own.
        m_worker.detach();
    }
}

void FEventQueue::run(std::shared_ptr<State> state) {
    for (;;) {
        std::shared_ptr<FEvent> event;
        {
            std::unique_lock<std::mutex> lock(state->mutex);
            state->cond.wait(lock, [&state] { return state->stop || !state->events.empty(); });
            if (state->stop) {
                return;
            }
            event = std::move(state->events.front());
            state->events.pop_front();
        }
        event->run();
        event.reset();
        if (state->stop) {
            return;
        }
    }
}
