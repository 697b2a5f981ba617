#define MEDIA_LOG_SOURCE "mediacore/MediaEncoderCore"
#include "MediaEncoderCore.h"

#include "MediaLog.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/hwcontext.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

namespace {

const AVCodec* h264Encoder() {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    return codec ? codec : avcodec_find_encoder(AV_CODEC_ID_H264);
}

// Sample rates AAC can signal; others are resampled to 48 kHz.
int aacRate(const AVCodec* codec, int wanted) {
    if (!codec->supported_samplerates) {
        return wanted > 0 ? wanted : 48000;
    }
    for (const int* r = codec->supported_samplerates; *r; ++r) {
        if (*r == wanted) {
            return wanted;
        }
    }
    return 48000;
}

// libx264 settings from the record's own fields and its extra ones.
std::string x264Params(const MediaVideoSettings& s) {
    std::string p;
    auto add = [&p](const std::string& kv) {
        if (!kv.empty()) {
            p += (p.empty() ? "" : ":") + kv;
        }
    };
    if (s.sps_id >= 0) {
        add("sps-id=" + std::to_string(s.sps_id));
    }
    add(s.x264_params);
    if (!s.b_pyramid.empty()) {
        add("b-pyramid=" + s.b_pyramid);
    }
    const int64_t cap_kbps = s.crf_max_rate / 1000;
    if (s.bit_rate <= 0 && cap_kbps > 0) {
        add("vbv-maxrate=" + std::to_string(cap_kbps) + ":vbv-bufsize=" + std::to_string(2 * cap_kbps));
    }
    return p;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// H.264

std::vector<std::string> mediaExportEncoders(const std::string& wanted) {
    if (!wanted.empty()) {
        return {wanted, "libx264"};
    }
    std::vector<std::string> names;
    for (const char* name : {"h264_nvenc", "h264_qsv", "h264_vaapi"}) {
        if (avcodec_find_encoder_by_name(name)) {
            names.emplace_back(name);
        }
    }
    names.emplace_back("libx264");
    return names;
}

bool MediaVideoEncoder::open(const MediaVideoSettings& s, bool global_header) {
    if (s.exact_size && (s.width < 2 || s.height < 2 || (s.width | s.height) & 1)) {
        MLOG(MEDIA_LOG_ERROR, "cannot encode H.264 4:2:0 pictures of %dx%d", s.width, s.height);
        return false;
    }
    m_pkt.reset(av_packet_alloc());
    if (!m_pkt) {
        MLOG(MEDIA_LOG_ERROR, "out of memory setting up the H.264 encoder");
        return false;
    }
    std::vector<const AVCodec*> codecs;
    for (const std::string& name : s.encoders) {
        const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
        if (codec && codec->type == AVMEDIA_TYPE_VIDEO && codec->id == AV_CODEC_ID_H264) {
            codecs.push_back(codec);
        } else {
            MLOG(MEDIA_LOG_INFO, "no H.264 encoder named %s", name.c_str());
        }
    }
    if (s.encoders.empty()) {
        codecs.push_back(h264Encoder());
    }
    codecs.erase(std::remove(codecs.begin(), codecs.end(), nullptr), codecs.end());
    if (codecs.empty()) {
        MLOG(MEDIA_LOG_ERROR, "no H.264 encoder available");
        return false;
    }
    for (size_t i = 0; i < codecs.size(); ++i) {
        const int err = openCodec(codecs[i], s, global_header);
        if (err >= 0) {
            return true;
        }
        m_ctx.reset();
        if (i + 1 < codecs.size()) {
            // A hardware encoder without its device: the next one is tried.
            MLOG(MEDIA_LOG_INFO, "video encoder %s cannot be used here (%s), trying %s", codecs[i]->name,
                 mediaErrorText(err).c_str(), codecs[i + 1]->name);
        } else {
            MLOG(MEDIA_LOG_ERROR, "cannot open the H.264 encoder %s for %dx%d: %s", codecs[i]->name,
                 std::max(2, s.width & ~1), std::max(2, s.height & ~1), mediaErrorText(err).c_str());
        }
    }
    return false;
}

int MediaVideoEncoder::openCodec(const AVCodec* codec, const MediaVideoSettings& s, bool global_header) {
    m_upload = false;
    m_ctx.reset(avcodec_alloc_context3(codec));
    if (!m_ctx) {
        return AVERROR(ENOMEM);
    }
    AVCodecContext* c = m_ctx.get();
    c->width = std::max(2, s.width & ~1);
    c->height = std::max(2, s.height & ~1);
    c->pix_fmt = s.pix_fmt;
    c->time_base = s.time_base;
    c->framerate = s.frame_rate;
    c->sample_aspect_ratio = s.sample_aspect_ratio;
    c->gop_size = s.gop_size > 0 ? s.gop_size : std::max(1, int(std::lround(2.0 * av_q2d(s.frame_rate))));
    if (s.max_b_frames >= 0) {
        c->max_b_frames = s.max_b_frames;
    }
    if (s.closed_gop) {
        c->flags |= AV_CODEC_FLAG_CLOSED_GOP;
    }
    if (s.level >= 0) {
        c->level = s.level;
    }
    c->color_range = s.color_range;
    c->colorspace = s.colorspace;
    c->color_primaries = s.color_primaries;
    c->color_trc = s.color_trc;
    c->chroma_sample_location = s.chroma_location;
    c->thread_count = s.thread_count;
    if (global_header) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    int err = setUpDeviceFrames(codec, s);
    if (err < 0) {
        return err;
    }
    AVDictionary* opts = nullptr;
    setRateControl(codec, s, &opts);
    if (!s.profile.empty()) {
        av_dict_set(&opts, "profile", s.profile.c_str(), 0);
    }
    // Settings the encoder does not know stay in `opts` and are dropped.
    err = avcodec_open2(c, codec, &opts);
    av_dict_free(&opts);
    return err;
}

void MediaVideoEncoder::setRateControl(const AVCodec* codec, const MediaVideoSettings& s,
                                       AVDictionary** opts) {
    AVCodecContext* c = m_ctx.get();
    // Presets and x264 settings are libx264's words: another encoder would refuse a value it has no
    // name for (its "preset" has other names), so they go to libx264 only.
    const bool x264 = strcmp(codec->name, "libx264") == 0;
    if (x264 && !s.preset.empty()) {
        av_dict_set(opts, "preset", s.preset.c_str(), 0);
    }
    if (s.bit_rate > 0) {
        c->bit_rate = s.bit_rate;
        if (s.max_rate_factor > 0) {
            c->rc_max_rate = int64_t(double(s.bit_rate) * s.max_rate_factor);
        }
        if (s.buffer_factor > 0) {
            c->rc_buffer_size = int(std::min<double>(double(s.bit_rate) * s.buffer_factor, INT32_MAX));
        }
    } else {
        av_dict_set_int(opts, "crf", s.crf, 0);
    }
    const std::string params = x264 ? x264Params(s) : std::string();
    if (!params.empty()) {
        av_dict_set(opts, "x264-params", params.c_str(), 0);
    }
}

int MediaVideoEncoder::setUpDeviceFrames(const AVCodec* codec, const MediaVideoSettings& s) {
    if (strcmp(codec->name, "h264_vaapi") != 0) {
        return 0;
    }
    AVBufferRef* raw = nullptr;
    int err = av_hwdevice_ctx_create(&raw, AV_HWDEVICE_TYPE_VAAPI, nullptr, nullptr, 0);
    BufferRefPtr device(raw);
    if (err < 0) {
        return err;
    }
    BufferRefPtr frames(av_hwframe_ctx_alloc(device.get()));
    if (!frames) {
        return AVERROR(ENOMEM);
    }
    auto* fc = reinterpret_cast<AVHWFramesContext*>(frames->data);
    fc->format = AV_PIX_FMT_VAAPI;
    fc->sw_format = s.pix_fmt;
    fc->width = m_ctx->width;
    fc->height = m_ctx->height;
    fc->initial_pool_size = 16;
    err = av_hwframe_ctx_init(frames.get());
    if (err < 0) {
        return err;
    }
    m_ctx->pix_fmt = AV_PIX_FMT_VAAPI;
    m_ctx->hw_frames_ctx = frames.release();  // the context owns it from here
    m_upload = true;
    return 0;
}

namespace {

// Hands every packet the encoder has ready to `sink`; `what` names the stream in the log.
MediaEncodeResult drainEncoder(AVCodecContext* ctx, AVPacket* pkt, const MediaPacketSink& sink,
                               const char* what) {
    for (;;) {
        const int err = avcodec_receive_packet(ctx, pkt);
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) {
            return MediaEncodeResult::Ok;
        }
        if (err < 0) {
            MLOG(MEDIA_LOG_ERROR, "%s encoding failed: %s", what, mediaErrorText(err).c_str());
            return MediaEncodeResult::EncoderFailed;
        }
        const bool written = sink(pkt);
        av_packet_unref(pkt);
        if (!written) {
            return MediaEncodeResult::SinkFailed;
        }
    }
}

}  // namespace

MediaEncodeResult MediaVideoEncoder::drain(const MediaPacketSink& sink) {
    return drainEncoder(m_ctx.get(), m_pkt.get(), sink, "video");
}

MediaEncodeResult MediaVideoEncoder::encode(AVFrame* picture, const MediaPacketSink& sink) {
    FramePtr device;
    if (m_upload) {
        device.reset(av_frame_alloc());
        int err = device ? av_hwframe_get_buffer(m_ctx->hw_frames_ctx, device.get(), 0) : AVERROR(ENOMEM);
        if (err >= 0) {
            err = av_hwframe_transfer_data(device.get(), picture, 0);
        }
        if (err >= 0) {
            err = av_frame_copy_props(device.get(), picture);
        }
        if (err < 0) {
            MLOG(MEDIA_LOG_ERROR, "cannot hand a picture to the video encoder: %s",
                 mediaErrorText(err).c_str());
            return MediaEncodeResult::EncoderFailed;
        }
        picture = device.get();
    }
    const int err = avcodec_send_frame(m_ctx.get(), picture);
    if (err < 0) {
        MLOG(MEDIA_LOG_ERROR, "the H.264 encoder refused a picture: %s", mediaErrorText(err).c_str());
        return MediaEncodeResult::EncoderFailed;
    }
    return drain(sink);
}

MediaEncodeResult MediaVideoEncoder::finish(const MediaPacketSink& sink) {
    avcodec_send_frame(m_ctx.get(), nullptr);
    return drain(sink);
}

// ---------------------------------------------------------------------------------------------
// AAC

MediaAacEncoder::~MediaAacEncoder() {
    resetConverter();
}

bool MediaAacEncoder::available() {
    return avcodec_find_encoder(AV_CODEC_ID_AAC) != nullptr;
}

int MediaAacEncoder::openCodec(int sample_rate, const AVChannelLayout& layout, int64_t bit_rate,
                               bool global_header) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) {
        return AVERROR_ENCODER_NOT_FOUND;
    }
    m_pkt.reset(av_packet_alloc());
    m_ctx.reset(avcodec_alloc_context3(codec));
    if (!m_ctx || !m_pkt) {
        return AVERROR(ENOMEM);
    }
    AVCodecContext* c = m_ctx.get();
    c->sample_rate = sample_rate;
    c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    c->bit_rate = bit_rate;
    c->profile = FF_PROFILE_AAC_LOW;
    c->time_base = AVRational{1, sample_rate};
    if (global_header) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    int err = av_channel_layout_copy(&c->ch_layout, &layout);
    if (err >= 0) {
        err = avcodec_open2(c, codec, nullptr);
    }
    if (err >= 0) {
        m_fifo.reset(
            av_audio_fifo_alloc(c->sample_fmt, c->ch_layout.nb_channels, std::max(c->frame_size, 1024) * 4));
        err = m_fifo ? 0 : AVERROR(ENOMEM);
    }
    if (err < 0) {
        m_ctx.reset();
    }
    return err;
}

bool MediaAacEncoder::open(int sample_rate, int channels, int64_t bit_rate, bool global_header) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels == 1 ? 1 : 2);
    const int err =
        openCodec(codec ? aacRate(codec, sample_rate) : sample_rate, layout, bit_rate, global_header);
    av_channel_layout_uninit(&layout);
    if (err < 0) {
        MLOG(MEDIA_LOG_ERROR, "cannot open the AAC encoder: %s", mediaErrorText(err).c_str());
        return false;
    }
    return true;
}

bool MediaAacEncoder::openExact(const AVCodecParameters* par, int64_t bit_rate, int frame_size) {
    return openCodec(par->sample_rate, par->ch_layout, bit_rate, false) >= 0 &&
           m_ctx->sample_fmt == AV_SAMPLE_FMT_FLTP && m_ctx->frame_size == frame_size;
}

void MediaAacEncoder::resetConverter() {
    m_swr.reset();
    if (m_conv) {
        av_freep(&m_conv[0]);
        av_freep(&m_conv);
    }
    m_conv_cap = 0;
}

int MediaAacEncoder::convert(const AVFrame* in, uint8_t*** planes) {
    AVCodecContext* c = m_ctx.get();
    if (!m_swr) {
        if (!in) {
            return 0;
        }
        AVChannelLayout layout;
        if (in->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || in->ch_layout.nb_channels <= 0) {
            av_channel_layout_default(&layout, std::max(1, in->ch_layout.nb_channels));
        } else {
            av_channel_layout_copy(&layout, &in->ch_layout);
        }
        SwrContext* s = nullptr;
        const int err = swr_alloc_set_opts2(&s, &c->ch_layout, c->sample_fmt, c->sample_rate, &layout,
                                            AVSampleFormat(in->format), in->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&layout);
        m_swr.reset(s);
        if (err < 0 || !s || swr_init(s) < 0) {
            m_swr.reset();
            MLOG(MEDIA_LOG_ERROR, "cannot convert %d Hz audio of format %d", in->sample_rate, in->format);
            return -1;
        }
    }
    const int out_max = swr_get_out_samples(m_swr.get(), in ? in->nb_samples : 0);
    if (out_max <= 0) {
        return 0;
    }
    if (out_max > m_conv_cap) {
        if (m_conv) {
            av_freep(&m_conv[0]);
            av_freep(&m_conv);
        }
        m_conv_cap = 0;
        if (av_samples_alloc_array_and_samples(&m_conv, nullptr, c->ch_layout.nb_channels, out_max,
                                               c->sample_fmt, 0) < 0) {
            m_conv = nullptr;
            MLOG(MEDIA_LOG_ERROR, "out of memory converting audio");
            return -1;
        }
        m_conv_cap = out_max;
    }
    const int got = swr_convert(m_swr.get(), m_conv, out_max,
                                in ? (const uint8_t**)in->extended_data : nullptr, in ? in->nb_samples : 0);
    if (got < 0) {
        MLOG(MEDIA_LOG_ERROR, "audio conversion failed: %s", mediaErrorText(got).c_str());
        return -1;
    }
    *planes = m_conv;
    return got;
}

MediaEncodeResult MediaAacEncoder::drain(const MediaPacketSink& sink) {
    return drainEncoder(m_ctx.get(), m_pkt.get(), sink, "audio");
}

MediaEncodeResult MediaAacEncoder::encodeQueued(bool all, const MediaPacketSink& sink) {
    AVCodecContext* c = m_ctx.get();
    const int frame_size = c->frame_size > 0 ? c->frame_size : 1024;
    for (;;) {
        const int avail = av_audio_fifo_size(m_fifo.get());
        if (avail == 0 || (!all && avail < frame_size)) {
            return MediaEncodeResult::Ok;
        }
        const int n = std::min(avail, frame_size);
        FramePtr f(av_frame_alloc());
        if (!f) {
            MLOG(MEDIA_LOG_ERROR, "out of memory encoding audio");
            return MediaEncodeResult::EncoderFailed;
        }
        f->nb_samples = n;
        f->format = c->sample_fmt;
        f->sample_rate = c->sample_rate;
        av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
        if (av_frame_get_buffer(f.get(), 0) < 0 ||
            av_audio_fifo_read(m_fifo.get(), (void**)f->data, n) != n) {
            MLOG(MEDIA_LOG_ERROR, "out of memory encoding audio");
            return MediaEncodeResult::EncoderFailed;
        }
        f->pts = m_next_pts;
        m_next_pts += n;
        const int err = avcodec_send_frame(c, f.get());
        if (err < 0) {
            MLOG(MEDIA_LOG_ERROR, "the AAC encoder refused samples: %s", mediaErrorText(err).c_str());
            return MediaEncodeResult::EncoderFailed;
        }
        const MediaEncodeResult r = drain(sink);
        if (r != MediaEncodeResult::Ok) {
            return r;
        }
    }
}

MediaEncodeResult MediaAacEncoder::push(uint8_t* const* planes, int offset, int count,
                                        const MediaPacketSink& sink) {
    if (count <= 0) {
        return MediaEncodeResult::Ok;
    }
    AVCodecContext* c = m_ctx.get();
    const int channels = c->ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(c->sample_fmt);
    const size_t step = size_t(av_get_bytes_per_sample(c->sample_fmt)) * (planar ? 1 : channels);
    uint8_t* at[AV_NUM_DATA_POINTERS] = {nullptr};
    for (int ch = 0; ch < (planar ? channels : 1) && ch < AV_NUM_DATA_POINTERS; ++ch) {
        at[ch] = planes[ch] + size_t(offset) * step;
    }
    if (av_audio_fifo_write(m_fifo.get(), (void**)at, count) != count) {
        MLOG(MEDIA_LOG_ERROR, "out of memory queueing audio");
        return MediaEncodeResult::EncoderFailed;
    }
    m_queued += count;
    return encodeQueued(false, sink);
}

MediaEncodeResult MediaAacEncoder::pushSilence(int64_t count, const MediaPacketSink& sink) {
    AVCodecContext* c = m_ctx.get();
    constexpr int kChunk = 4096;
    uint8_t** zeros = nullptr;
    if (count > 0 && av_samples_alloc_array_and_samples(&zeros, nullptr, c->ch_layout.nb_channels, kChunk,
                                                        c->sample_fmt, 0) < 0) {
        MLOG(MEDIA_LOG_ERROR, "out of memory queueing silence");
        return MediaEncodeResult::EncoderFailed;
    }
    if (zeros) {
        av_samples_set_silence(zeros, 0, kChunk, c->ch_layout.nb_channels, c->sample_fmt);
    }
    MediaEncodeResult r = MediaEncodeResult::Ok;
    while (count > 0 && r == MediaEncodeResult::Ok) {
        const int n = int(std::min<int64_t>(count, kChunk));
        r = push(zeros, 0, n, sink);
        count -= n;
    }
    if (zeros) {
        av_freep(&zeros[0]);
        av_freep(&zeros);
    }
    return r;
}

MediaEncodeResult MediaAacEncoder::finish(const MediaPacketSink& sink) {
    const MediaEncodeResult r = encodeQueued(true, sink);
    if (r != MediaEncodeResult::Ok) {
        return r;
    }
    avcodec_send_frame(m_ctx.get(), nullptr);
    return drain(sink);
}
