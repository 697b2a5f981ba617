#include "VRK2Mp4Pictures.h"

namespace {

// Free pictures kept: those in flight between painting and encoding come back in turn, so a
// few cover them all; more only hold memory.
constexpr size_t kKeptFree = 6;

size_t nv12Bytes(const QSize& size) {
    return size_t(size.width()) * size_t(size.height()) * 3 / 2;
}

}  // namespace

VRK2Mp4Pictures::Taken VRK2Mp4Pictures::take(const QSize& size, long long painting) {
    Buffer buffer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // One of this painting if there is one, else any of the size.
        auto best = m_free.end();
        for (auto it = m_free.begin(); it != m_free.end(); ++it) {
            if (it->size == size && (best == m_free.end() || it->painting == painting)) {
                best = it;
            }
        }
        if (best != m_free.end()) {
            buffer = std::move(*best);
            m_free.erase(best);
        }
    }
    Taken taken;
    if (!buffer.data) {
        buffer.data.reset(new uint8_t[nv12Bytes(size)]);
        buffer.size = size;
        buffer.painting = -1;
    }
    taken.holds_painting = buffer.painting == painting;
    buffer.painting = painting;

    auto* frame = new _RGBAFrame;
    frame->width = size.width();
    frame->height = size.height();
    frame->format = RGBA_FRAME_NV12;
    frame->data = std::move(buffer.data);
    std::weak_ptr<VRK2Mp4Pictures> pool = weak_from_this();
    taken.picture.reset(frame, [pool, painting](_RGBAFrame* done) {
        if (std::shared_ptr<VRK2Mp4Pictures> owner = pool.lock()) {
            Buffer back;
            back.data = std::move(done->data);
            back.size = QSize(done->width, done->height);
            back.painting = painting;
            owner->giveBack(std::move(back));
        }
        delete done;
    });
    return taken;
}

void VRK2Mp4Pictures::giveBack(Buffer buffer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_free.size() < kKeptFree) {
        m_free.push_back(std::move(buffer));
    }
}
