#include "MediaPictureWorker.h"

#include <chrono>

namespace {

// How often waits look at the stop flag, which is set without a notification.
constexpr std::chrono::milliseconds kStopPoll(20);

}  // namespace

MediaPictureWorker::MediaPictureWorker(Work work, size_t depth, const std::atomic<bool>& stop)
    : m_work(std::move(work)),
      m_depth(depth > 0 ? depth : 1),
      m_stop(stop),
      m_thread(&MediaPictureWorker::run, this) {}

MediaPictureWorker::~MediaPictureWorker() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
        m_queue.clear();
    }
    m_changed.notify_all();
    m_thread.join();
}

int MediaPictureWorker::settled() const {
    if (m_code != RECORD_OK) {
        return m_code;
    }
    return m_stop ? RECORD_CANCELLED : RECORD_OK;
}

int MediaPictureWorker::push(std::shared_ptr<_RGBAFrame> picture, int64_t pts) {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (settled() == RECORD_OK && m_queue.size() >= m_depth) {
        m_changed.wait_for(lock, kStopPoll);
    }
    const int code = settled();
    if (code == RECORD_OK) {
        m_queue.emplace_back(std::move(picture), pts);
        lock.unlock();
        m_changed.notify_all();
    }
    return code;
}

int MediaPictureWorker::drain() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (settled() == RECORD_OK && (!m_queue.empty() || m_busy)) {
        m_changed.wait_for(lock, kStopPoll);
    }
    return settled();
}

void MediaPictureWorker::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        while (!m_closing && m_queue.empty()) {
            m_changed.wait(lock);
        }
        if (m_closing) {
            return;
        }
        std::pair<std::shared_ptr<_RGBAFrame>, int64_t> item = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        m_changed.notify_all();
        const int code = m_stop ? RECORD_CANCELLED : m_work(std::move(item.first), item.second);
        lock.lock();
        m_busy = false;
        if (code != RECORD_OK && m_code == RECORD_OK) {
            m_code = code;
        }
        if (m_code != RECORD_OK) {
            m_queue.clear();
        }
        m_changed.notify_all();
    }
}
