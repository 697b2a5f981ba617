#pragma once
// The engine's one H.264 and one AAC encoder. Every job that encodes (transcode and joins of unlike
// inputs, the recorder, a re-encode that must match its source) sets them up from a settings record
// and hands them pictures or samples; coded packets go to the job's sink, which writes them.
#include "FfmpegPtr.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Receives each coded packet, in the encoder's time base; false when it could not be written (the sink
// logs why and keeps its own result code).
using MediaPacketSink = std::function<bool(AVPacket* pkt)>;

enum class MediaEncodeResult {
    Ok,
    EncoderFailed,  // logged here
    SinkFailed,     // logged by the sink
};

struct MediaVideoSettings {
    int width = 0;  // made even (4:2:0) when opened, unless `exact_size`
    int height = 0;
    bool exact_size = false;  // the size must be kept as is: an odd one fails instead of being rounded
    AVPixelFormat pix_fmt = AV_PIX_FMT_YUV420P;
    AVRational time_base{1, 25};
    AVRational frame_rate{25, 1};
    AVRational sample_aspect_ratio{1, 1};
    int64_t bit_rate = 0;  // bit/s; 0: constant quality at `crf`
    int crf = 23;
    // With constant quality: peak rate in bit/s (rounded down to kbit/s), buffer twice that; 0: none.
    int64_t crf_max_rate = 0;
    // With a bit rate: peak rate and buffer as multiples of it (0: the encoder's own choice).
    double max_rate_factor = 0;
    double buffer_factor = 0;
    int gop_size = 0;       // pictures from one keyframe to the next; 0: two seconds
    int max_b_frames = -1;  // -1: the encoder's default
    std::string b_pyramid;  // "none", "strict" or "normal"; empty: the encoder's default
    bool closed_gop = false;
    std::string preset = "veryfast";
    std::string profile;      // e.g. "high"; empty: the encoder's choice
    int level = -1;           // e.g. 31 for 3.1; -1: the encoder's choice
    std::string x264_params;  // extra libx264 settings ("key=value:key=value"), empty for none
    int sps_id = -1;          // id of the parameter sets; -1: the encoder's (0)
    AVColorRange color_range = AVCOL_RANGE_UNSPECIFIED;
    AVColorSpace colorspace = AVCOL_SPC_UNSPECIFIED;
    AVColorPrimaries color_primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic color_trc = AVCOL_TRC_UNSPECIFIED;
    AVChromaLocation chroma_location = AVCHROMA_LOC_UNSPECIFIED;
    int thread_count = 0;  // 0: as many as the machine has
    // H.264 encoders to try, by FFmpeg name, in order; the first that opens is used. Empty: libx264
    // (or, without it, whatever H.264 encoder FFmpeg has). The libx264 settings above (preset, crf,
    // x264_params, b_pyramid, sps_id) go to libx264 only; other encoders get the rest.
    std::vector<std::string> encoders;
};

// The encoders an export tries: `wanted` and then libx264 when a name is given, else the hardware
// encoders this FFmpeg has (NVENC, Quick Sync, VAAPI; each opens only where the machine has the
// device), then libx264.
std::vector<std::string> mediaExportEncoders(const std::string& wanted);

class MediaVideoEncoder {
public:
    // Opens the first of `s.encoders` that works (libx264 when none are named) for `s`;
    // `global_header` when the container wants the parameter sets out of band (MP4). False (logged)
    // when none opens.
    bool open(const MediaVideoSettings& s, bool global_header);
    AVCodecContext* ctx() const { return m_ctx.get(); }
    // Encodes one picture (its pts in the encoder's time base) and passes on what is ready.
    MediaEncodeResult encode(AVFrame* picture, const MediaPacketSink& sink);
    // Drains the encoder at the end.
    MediaEncodeResult finish(const MediaPacketSink& sink);

private:
    // 0, or a negative error code (not logged).
    int openCodec(const AVCodec* codec, const MediaVideoSettings& s, bool global_header);
    void setRateControl(const AVCodec* codec, const MediaVideoSettings& s, AVDictionary** opts);
    // Encoders that take pictures only in their device's memory (VAAPI): a pool of device pictures,
    // 0 or a negative error code.
    int setUpDeviceFrames(const AVCodec* codec, const MediaVideoSettings& s);
    MediaEncodeResult drain(const MediaPacketSink& sink);

    CodecPtr m_ctx;
    PacketPtr m_pkt;
    bool m_upload = false;  // pictures are copied into device pictures first (VAAPI)
};

class MediaAacEncoder {
public:
    static bool available();  // whether this FFmpeg has an AAC encoder at all
    // Opens AAC for `channels` (1 stays mono, more become stereo) at `sample_rate`, or 48 kHz when AAC
    // does not have that rate. False (logged) on failure.
    bool open(int sample_rate, int channels, int64_t bit_rate, bool global_header);
    // Opens AAC-LC with exactly the rate and channel layout of `par`, taking planar float samples in
    // frames of `frame_size`; false (not logged: the caller decides whether that is an error) when
    // the encoder cannot do that.
    bool openExact(const AVCodecParameters* par, int64_t bit_rate, int frame_size);
    AVCodecContext* ctx() const { return m_ctx.get(); }

    // Presentation time (in samples) of the next sample given to the encoder; 0 unless set.
    void setNextPts(int64_t pts) { m_next_pts = pts; }
    // Samples handed in so far (converted, silence included).
    int64_t queued() const { return m_queued; }

    // Converts decoded samples of any layout, format and rate to the encoder's; the converter is made
    // from the first frame after resetConverter(). `in` null drains the converter. The converted
    // samples are in *planes (valid until the next call), their count is returned, or -1 (logged).
    int convert(const AVFrame* in, uint8_t*** planes);
    void resetConverter();
    bool hasConverter() const { return bool(m_swr); }

    // Queues `count` converted samples from `offset` on and encodes every whole AAC frame.
    MediaEncodeResult push(uint8_t* const* planes, int offset, int count, const MediaPacketSink& sink);
    MediaEncodeResult pushSilence(int64_t count, const MediaPacketSink& sink);
    // Encodes the short remainder and drains the encoder.
    MediaEncodeResult finish(const MediaPacketSink& sink);

    MediaAacEncoder() = default;
    ~MediaAacEncoder();
    MediaAacEncoder(const MediaAacEncoder&) = delete;
    MediaAacEncoder& operator=(const MediaAacEncoder&) = delete;

private:
    // 0, or a negative error code (not logged).
    int openCodec(int sample_rate, const AVChannelLayout& layout, int64_t bit_rate, bool global_header);
    MediaEncodeResult encodeQueued(bool all, const MediaPacketSink& sink);
    MediaEncodeResult drain(const MediaPacketSink& sink);

    CodecPtr m_ctx;
    PacketPtr m_pkt;
    AudioFifoPtr m_fifo;
    SwrPtr m_swr;
    uint8_t** m_conv = nullptr;  // converter output, m_conv_cap samples per channel
    int m_conv_cap = 0;
    int64_t m_next_pts = 0;
    int64_t m_queued = 0;
};

// Whether a result is a success, and else the job's code for it: an encoder failure is `codec_code`,
// a sink failure whatever the sink kept in `sink_code`.
inline int mediaEncodeCode(MediaEncodeResult r, int ok_code, int codec_code, int sink_code) {
    return r == MediaEncodeResult::Ok              ? ok_code
           : r == MediaEncodeResult::EncoderFailed ? codec_code
                                                   : sink_code;
}
