#pragma once
// Owners of the FFmpeg handles the engine uses: each handle is freed by its own function exactly once,
// on every path. Every job of the engine holds its handles in these.
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

struct FfmpegPacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FfmpegFrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct FfmpegCodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FfmpegSwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct FfmpegSwrFree {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct FfmpegFifoFree {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
struct FfmpegBsfFree {
    void operator()(AVBSFContext* b) const { av_bsf_free(&b); }
};
struct FfmpegBufferUnref {
    void operator()(AVBufferRef* b) const { av_buffer_unref(&b); }
};

using PacketPtr = std::unique_ptr<AVPacket, FfmpegPacketFree>;
using FramePtr = std::unique_ptr<AVFrame, FfmpegFrameFree>;
using CodecPtr = std::unique_ptr<AVCodecContext, FfmpegCodecFree>;
using SwsPtr = std::unique_ptr<SwsContext, FfmpegSwsFree>;
using SwrPtr = std::unique_ptr<SwrContext, FfmpegSwrFree>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, FfmpegFifoFree>;
using BsfPtr = std::unique_ptr<AVBSFContext, FfmpegBsfFree>;
using BufferRefPtr = std::unique_ptr<AVBufferRef, FfmpegBufferUnref>;  // device and frame pools

// Conversions between a stream's time base and microseconds, rounding to the nearest tick.
inline int64_t mediaToUs(int64_t ts, AVRational tb) {
    return av_rescale_q_rnd(ts, tb, AVRational{1, 1000000},
                            AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}
inline int64_t mediaFromUs(int64_t us, AVRational tb) {
    return av_rescale_q_rnd(us, AVRational{1, 1000000}, tb,
                            AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}
