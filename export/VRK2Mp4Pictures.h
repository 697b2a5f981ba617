#pragma once
// Pictures for the encoder, kept for use again once the encoder has let go of them. Each remembers
// which painting of the template it holds: a picture taken for the same painting needs only what
// changed since (the video) read back into it, not the whole frame.
#include <QSize>

#include <memory>
#include <mutex>
#include <vector>

#include "IMediaRecorder.h"

class VRK2Mp4Pictures : public std::enable_shared_from_this<VRK2Mp4Pictures> {
public:
    struct Taken {
        std::shared_ptr<_RGBAFrame> picture;  // NV12 of `size`
        bool holds_painting = false;          // its bytes are a frame of the same painting
    };

    // A picture of `size` (even) for a frame of template painting `painting` (counted up by the
    // caller at every repaint). The picture counts as holding that painting from now on: a picture
    // whose read fails must not be handed out again before the next painting.
    Taken take(const QSize& size, long long painting);

private:
    struct Buffer {
        std::unique_ptr<uint8_t[]> data;
        QSize size;
        long long painting = -1;
    };
    void giveBack(Buffer buffer);

    std::mutex m_mutex;  // pictures come back on the encoder's thread
    std::vector<Buffer> m_free;
};
