#pragma once
// A thread of its own for the encoding of the recorder's painted pictures: the recorder's thread
// decodes the next frame and hands pictures over while this one encodes, in the order they came.
#include "IMediaRecorder.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

class MediaPictureWorker {
public:
    // Does one picture; RECORD_OK or the code of its failure (logged by the work itself).
    using Work = std::function<int(std::shared_ptr<_RGBAFrame> picture, int64_t pts)>;

    // At most `depth` pictures wait; `stop` cancels waits on either side.
    MediaPictureWorker(Work work, size_t depth, const std::atomic<bool>& stop);
    // Drops what still waits and joins the thread.
    ~MediaPictureWorker();
    MediaPictureWorker(const MediaPictureWorker&) = delete;
    MediaPictureWorker& operator=(const MediaPictureWorker&) = delete;

    // Queues a picture, waiting while the queue is full. The first failure of the work once there
    // was one (nothing more is done after it), RECORD_CANCELLED once stopped, else RECORD_OK.
    int push(std::shared_ptr<_RGBAFrame> picture, int64_t pts);
    // Waits until every queued picture is done; the result as for push().
    int drain();

private:
    void run();
    // With the lock held: the code push() and drain() return when they need not wait any longer.
    int settled() const;

    Work m_work;
    const size_t m_depth;
    const std::atomic<bool>& m_stop;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::pair<std::shared_ptr<_RGBAFrame>, int64_t>> m_queue;
    bool m_busy = false;  // a picture has been taken and is being worked on
    bool m_closing = false;
    int m_code = RECORD_OK;
    std::thread m_thread;  // last: started once everything above exists
};
