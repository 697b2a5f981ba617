#define MEDIA_LOG_SOURCE "mediacore/MediaEncode"
#include "MediaEdit.h"

#include "MediaEncoderCore.h"

#include "FfmpegPtr.h"
#include "IMediaCore.h"
#include "MediaInput.h"
#include "MediaLog.h"
#include "MediaOutput.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>

namespace {

constexpr int kOpenTimeoutMs = 10000;
constexpr int kAudioBitrate = 128000;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Decode and re-encode

namespace {

// One span being decoded: its input, decoders and where it stands on the output's picture grid.
struct Span {
    MediaInput in;
    AVStream* ivst = nullptr;
    AVStream* iast = nullptr;  // none when the output has no sound or this input's cannot be decoded
    CodecPtr vdec;
    CodecPtr adec;
    FramePtr frame;
    int64_t begin_us = 0;
    int64_t end_us = 0;
    double fps = 25;
    int64_t first_frame = 0;  // output picture index of the span's first picture
    int64_t end_frame = 0;    // and of the first after it
    int64_t half_frame_us = 0;
    int64_t last_index = -1;   // last picture index sent
    int64_t audio_target = 0;  // output samples queued by the span's end
    int64_t audio_drop = 0;    // converted samples still to drop at the start
    bool audio_started = false;
    bool video_done = false;
    bool audio_done = false;
    bool has_picture = false;
};

class Encoder {
public:
    explicit Encoder(const std::atomic<bool>& cancel) : m_cancel(cancel) {}

    int run(const std::vector<MediaSpan>& spans, const std::string& out_path, int width, int height);

private:
    int setup(MediaInput& first, bool any_audio, int audio_rate, int audio_channels, int width, int height,
              const std::string& out_path);
    int encodeSpan(const MediaSpan& span);
    int openSpan(const MediaSpan& span, Span& s);
    int openDecoders(Span& s);
    int readSpan(Span& s);
    int receive(Span& s, AVCodecContext* dec, bool video);
    int completeSpan(Span& s);
    int emitPicture(Span& s, FramePtr pic, int64_t index);
    int handleVideoFrame(Span& s, AVFrame* f);
    int startAudio(Span& s, const AVFrame* f, bool* started);
    int handleAudioFrame(Span& s, AVFrame* f);
    int sendVideo(AVFrame* frame);
    int result(MediaEncodeResult r) const {
        return mediaEncodeCode(r, MEDIA_CODE_SUCCESS, MEDIA_CODE_CODEC, m_write_code);
    }
    // Writes a coded packet of `enc` into stream `st` of the output.
    bool write(AVPacket* pkt, const AVCodecContext* enc, const AVStream* st);

    const std::atomic<bool>& m_cancel;
    Mp4Output m_out;
    MediaVideoEncoder m_video;
    std::unique_ptr<MediaAacEncoder> m_audio;  // none when no input has sound
    AVCodecContext* m_venc = nullptr;          // m_video's context
    AVStream* m_vst = nullptr;
    AVStream* m_ast = nullptr;
    MediaPacketSink m_video_sink;
    MediaPacketSink m_audio_sink;
    int m_write_code = MEDIA_CODE_WRITE;  // what the output reported when a packet could not be written
    SwsPtr m_sws;
    AVRational m_fps{25, 1};
    int64_t m_next_frame = 0;  // index of the next output picture
    FramePtr m_last;           // last picture sent, repeated to fill holes
    PacketPtr m_pkt{av_packet_alloc()};
};

bool Encoder::write(AVPacket* pkt, const AVCodecContext* enc, const AVStream* st) {
    av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
    pkt->stream_index = st->index;
    const int rc = m_out.write(pkt);
    if (rc != MEDIA_CODE_SUCCESS) {
        m_write_code = rc;
        return false;
    }
    return true;
}

int Encoder::run(const std::vector<MediaSpan>& spans, const std::string& out_path, int width, int height) {
    if (spans.empty()) {
        MLOG(MEDIA_LOG_ERROR, "nothing to encode to %s", out_path.c_str());
        return MEDIA_CODE_BAD_ARGUMENT;
    }
    if (!m_pkt) {
        return MEDIA_CODE_CODEC;
    }
    // Look at every input first, so that a bad one fails the job before anything is written.
    bool any_audio = false;
    int audio_rate = 0;
    int audio_channels = 0;
    std::unique_ptr<MediaInput> first;
    for (const MediaSpan& s : spans) {
        auto in = std::make_unique<MediaInput>();
        if (!in->open(s.path, &m_cancel, kOpenTimeoutMs)) {
            return m_cancel.load() ? MEDIA_CODE_CANCELLED : MEDIA_CODE_OPEN_INPUT;
        }
        if (in->videoIndex() < 0) {
            MLOG(MEDIA_LOG_ERROR, "no video stream in %s", in->path().c_str());
            return MEDIA_CODE_NO_STREAM;
        }
        if (in->audioIndex() >= 0 && !any_audio) {
            const AVCodecParameters* a = in->ctx()->streams[in->audioIndex()]->codecpar;
            any_audio = true;
            audio_rate = a->sample_rate;
            audio_channels = a->ch_layout.nb_channels;
        }
        if (!first) {
            first = std::move(in);
        }
    }
    int rc = setup(*first, any_audio, audio_rate, audio_channels, width, height, out_path);
    first.reset();
    if (rc != MEDIA_CODE_SUCCESS) {
        return rc;
    }
    for (const MediaSpan& s : spans) {
        rc = encodeSpan(s);
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
    rc = result(m_video.finish(m_video_sink));
    if (rc == MEDIA_CODE_SUCCESS && m_audio) {
        rc = result(m_audio->finish(m_audio_sink));
    }
    if (rc != MEDIA_CODE_SUCCESS) {
        return rc;
    }
    return m_out.finish();
}

int Encoder::setup(MediaInput& first, bool any_audio, int audio_rate, int audio_channels, int width,
                   int height, const std::string& out_path) {
    int rc = m_out.create(out_path, m_cancel);
    if (rc != MEDIA_CODE_SUCCESS) {
        return rc;
    }
    AVStream* ist = first.ctx()->streams[first.videoIndex()];
    if (width <= 0 || height <= 0) {
        width = ist->codecpar->width;
        height = ist->codecpar->height;
    }
    // 4:2:0 pictures need even sizes.
    width = std::max(2, width & ~1);
    height = std::max(2, height & ~1);
    // The base rate of the stream (for variable rate: the grid its pictures sit on), else the average.
    AVRational fps = ist->r_frame_rate;
    if (fps.num <= 0 || fps.den <= 0 || av_q2d(fps) < 1.0 || av_q2d(fps) > 60.0) {
        fps = ist->avg_frame_rate;
    }
    if (fps.num <= 0 || fps.den <= 0 || av_q2d(fps) < 1.0 || av_q2d(fps) > 120.0) {
        fps = AVRational{25, 1};
    }
    double whole = std::round(av_q2d(fps));
    if (std::fabs(av_q2d(fps) - whole) < 0.01) {
        fps = AVRational{int(whole), 1};
    }
    m_fps = fps;

    const bool global_header = m_out.ctx()->oformat->flags & AVFMT_GLOBALHEADER;
    MediaVideoSettings vs;
    vs.width = width;
    vs.height = height;
    vs.time_base = av_inv_q(fps);
    vs.frame_rate = fps;
    // A keyframe every two seconds keeps later stream-copy cuts of the result close to the asked times.
    vs.gop_size = 0;
    vs.crf = 23;
    if (!m_video.open(vs, global_header)) {
        return MEDIA_CODE_CODEC;
    }
    m_venc = m_video.ctx();
    m_vst = avformat_new_stream(m_out.ctx(), nullptr);
    if (!m_vst || avcodec_parameters_from_context(m_vst->codecpar, m_venc) < 0) {
        return MEDIA_CODE_OPEN_OUTPUT;
    }
    m_vst->time_base = m_venc->time_base;
    m_vst->avg_frame_rate = fps;
    m_video_sink = [this](AVPacket* pkt) { return write(pkt, m_venc, m_vst); };

    if (any_audio) {
        m_audio = std::make_unique<MediaAacEncoder>();
        if (!m_audio->open(audio_rate, audio_channels, kAudioBitrate, global_header)) {
            return MEDIA_CODE_CODEC;
        }
        m_ast = avformat_new_stream(m_out.ctx(), nullptr);
        if (!m_ast || avcodec_parameters_from_context(m_ast->codecpar, m_audio->ctx()) < 0) {
            return MEDIA_CODE_OPEN_OUTPUT;
        }
        m_ast->time_base = m_audio->ctx()->time_base;
        m_audio_sink = [this](AVPacket* pkt) { return write(pkt, m_audio->ctx(), m_ast); };
    }
    return m_out.open(out_path);
}

int Encoder::sendVideo(AVFrame* frame) {
    return result(m_video.encode(frame, m_video_sink));
}

int Encoder::encodeSpan(const MediaSpan& span) {
    Span s;
    int rc = openSpan(span, s);
    if (rc == MEDIA_CODE_SUCCESS) {
        rc = openDecoders(s);
    }
    if (rc == MEDIA_CODE_SUCCESS) {
        mediaSeekBefore(s.in, s.begin_us);
        if (m_audio) {
            m_audio->resetConverter();  // made for this input's samples from its first frame
        }
        rc = readSpan(s);
    }
    return rc == MEDIA_CODE_SUCCESS ? completeSpan(s) : rc;
}

// Opens the span's input and places the span on the output's picture grid.
int Encoder::openSpan(const MediaSpan& span, Span& s) {
    if (!s.in.open(span.path, &m_cancel, kOpenTimeoutMs)) {
        return m_cancel.load() ? MEDIA_CODE_CANCELLED : MEDIA_CODE_OPEN_INPUT;
    }
    s.in.setTimeout(0);
    if (s.in.videoIndex() < 0) {
        MLOG(MEDIA_LOG_ERROR, "no video stream in %s", s.in.path().c_str());
        return MEDIA_CODE_NO_STREAM;
    }
    s.ivst = s.in.ctx()->streams[s.in.videoIndex()];
    s.iast = (m_audio && s.in.audioIndex() >= 0) ? s.in.ctx()->streams[s.in.audioIndex()] : nullptr;
    s.begin_us = std::max<int64_t>(0, span.begin_us);
    s.end_us = span.end_us < 0 ? s.in.durationUs() : std::min(span.end_us, s.in.durationUs());
    if (s.end_us <= s.begin_us) {
        MLOG(MEDIA_LOG_ERROR, "empty range %lld-%lld us in %s", (long long)s.begin_us, (long long)s.end_us,
             s.in.path().c_str());
        return MEDIA_CODE_BAD_ARGUMENT;
    }
    s.fps = av_q2d(m_fps);
    s.first_frame = m_next_frame;
    const int64_t frame_count = std::max<int64_t>(1, std::llround((s.end_us - s.begin_us) * s.fps / 1e6));
    s.end_frame = s.first_frame + frame_count;
    s.half_frame_us = int64_t(5e5 / s.fps);
    s.last_index = s.first_frame - 1;
    // Audio of the span, in output samples, follows the pictures exactly so both stay in step.
    if (m_audio) {
        s.audio_target = std::llround(double(s.end_frame) / s.fps * m_audio->ctx()->sample_rate);
    }
    s.frame.reset(av_frame_alloc());
    return s.frame ? MEDIA_CODE_SUCCESS : MEDIA_CODE_CODEC;
}

int Encoder::openDecoders(Span& s) {
    const AVCodec* dec = avcodec_find_decoder(s.ivst->codecpar->codec_id);
    s.vdec.reset(dec ? avcodec_alloc_context3(dec) : nullptr);
    if (!s.vdec || avcodec_parameters_to_context(s.vdec.get(), s.ivst->codecpar) < 0) {
        MLOG(MEDIA_LOG_ERROR, "no decoder for the video of %s", s.in.path().c_str());
        return MEDIA_CODE_CODEC;
    }
    s.vdec->pkt_timebase = s.ivst->time_base;
    s.vdec->thread_count = 0;
    if (avcodec_open2(s.vdec.get(), dec, nullptr) < 0) {
        MLOG(MEDIA_LOG_ERROR, "cannot open the video decoder for %s", s.in.path().c_str());
        return MEDIA_CODE_CODEC;
    }
    if (s.iast) {
        dec = avcodec_find_decoder(s.iast->codecpar->codec_id);
        s.adec.reset(dec ? avcodec_alloc_context3(dec) : nullptr);
        if (!s.adec || avcodec_parameters_to_context(s.adec.get(), s.iast->codecpar) < 0 ||
            (s.adec->pkt_timebase = s.iast->time_base, avcodec_open2(s.adec.get(), dec, nullptr) < 0)) {
            MLOG(MEDIA_LOG_WARN, "cannot decode the audio of %s; silence instead", s.in.path().c_str());
            s.adec.reset();
            s.iast = nullptr;
        }
    }
    s.audio_done = s.iast == nullptr;
    return MEDIA_CODE_SUCCESS;
}

// Reads the span's packets until both its pictures and its sound are complete or the file ends.
int Encoder::readSpan(Span& s) {
    int rc = MEDIA_CODE_SUCCESS;
    bool eof = false;
    while (rc == MEDIA_CODE_SUCCESS && !(s.video_done && s.audio_done)) {
        if (m_cancel.load()) {
            return MEDIA_CODE_CANCELLED;
        }
        int err = av_read_frame(s.in.ctx(), m_pkt.get());
        if (err == AVERROR_EOF) {
            eof = true;
            break;
        }
        if (err < 0) {
            return mediaReadError(err, m_cancel, s.in.path());
        }
        if (m_pkt->stream_index == s.in.videoIndex() && !s.video_done) {
            err = avcodec_send_packet(s.vdec.get(), m_pkt.get());
            if (err < 0 && err != AVERROR(EAGAIN)) {
                MLOG(MEDIA_LOG_WARN, "skipping a damaged video packet in %s", s.in.path().c_str());
            }
            av_packet_unref(m_pkt.get());
            rc = receive(s, s.vdec.get(), true);
        } else if (s.iast && m_pkt->stream_index == s.in.audioIndex() && !s.audio_done) {
            if (m_pkt->pts != AV_NOPTS_VALUE &&
                mediaToUs(m_pkt->pts, s.iast->time_base) - s.in.startUs() >= s.end_us + 500000) {
                s.audio_done = true;
            } else {
                err = avcodec_send_packet(s.adec.get(), m_pkt.get());
                if (err < 0 && err != AVERROR(EAGAIN)) {
                    MLOG(MEDIA_LOG_WARN, "skipping a damaged audio packet in %s", s.in.path().c_str());
                }
                rc = receive(s, s.adec.get(), false);
            }
            av_packet_unref(m_pkt.get());
        } else {
            av_packet_unref(m_pkt.get());
        }
    }
    if (rc == MEDIA_CODE_SUCCESS && eof) {
        if (!s.video_done) {
            avcodec_send_packet(s.vdec.get(), nullptr);
            rc = receive(s, s.vdec.get(), true);
        }
        if (rc == MEDIA_CODE_SUCCESS && s.adec && !s.audio_done) {
            avcodec_send_packet(s.adec.get(), nullptr);
            rc = receive(s, s.adec.get(), false);
        }
    }
    if (rc == MEDIA_CODE_SUCCESS && m_audio && m_audio->hasConverter() && !s.audio_done) {
        // Samples still inside the resampler.
        rc = handleAudioFrame(s, nullptr);
    }
    return rc;
}

int Encoder::receive(Span& s, AVCodecContext* dec, bool video) {
    for (;;) {
        int err = avcodec_receive_frame(dec, s.frame.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) {
            return MEDIA_CODE_SUCCESS;
        }
        if (err < 0) {
            MLOG(MEDIA_LOG_ERROR, "decoding failed in %s: %s", s.in.path().c_str(),
                 mediaErrorText(err).c_str());
            return MEDIA_CODE_READ;
        }
        int rc = video ? (s.video_done ? MEDIA_CODE_SUCCESS : handleVideoFrame(s, s.frame.get()))
                       : handleAudioFrame(s, s.frame.get());
        av_frame_unref(s.frame.get());
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
}

// Holds the last picture up to the end of the span and completes the sound with silence.
int Encoder::completeSpan(Span& s) {
    if (!s.has_picture) {
        MLOG(MEDIA_LOG_ERROR, "no picture between %lld and %lld us in %s", (long long)s.begin_us,
             (long long)s.end_us, s.in.path().c_str());
        return MEDIA_CODE_READ;
    }
    int rc = MEDIA_CODE_SUCCESS;
    if (s.last_index + 1 < s.end_frame) {
        FramePtr dup(av_frame_clone(m_last.get()));
        if (!dup) {
            return MEDIA_CODE_CODEC;
        }
        rc = emitPicture(s, std::move(dup), s.end_frame - 1);
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
    m_next_frame = s.end_frame;
    if (m_audio && m_audio->queued() < s.audio_target) {
        rc = result(m_audio->pushSilence(s.audio_target - m_audio->queued(), m_audio_sink));
    }
    return rc;
}

int Encoder::emitPicture(Span& s, FramePtr pic, int64_t index) {
    // Fill holes (variable frame rate, dropped pictures) by repeating the previous picture.
    while (m_last && s.last_index + 1 < index) {
        FramePtr dup(av_frame_clone(m_last.get()));
        if (!dup) {
            return MEDIA_CODE_CODEC;
        }
        dup->pts = ++s.last_index;
        dup->pict_type = AV_PICTURE_TYPE_NONE;
        int rc = sendVideo(dup.get());
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
    pic->pts = index;
    s.last_index = index;
    m_last.reset(av_frame_clone(pic.get()));
    return sendVideo(pic.get());
}

// Places a decoded picture on the output grid, scaled to the output size when needed.
int Encoder::handleVideoFrame(Span& s, AVFrame* f) {
    int64_t ts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
    if (ts == AV_NOPTS_VALUE) {
        return MEDIA_CODE_SUCCESS;
    }
    int64_t t_us = mediaToUs(ts, s.ivst->time_base) - s.in.startUs();
    if (t_us < s.begin_us - s.half_frame_us) {
        return MEDIA_CODE_SUCCESS;
    }
    int64_t index = s.first_frame + std::llround((t_us - s.begin_us) * s.fps / 1e6);
    if (!s.has_picture) {
        index = s.first_frame;
    }
    if (index >= s.end_frame) {
        s.video_done = true;
        return MEDIA_CODE_SUCCESS;
    }
    if (index <= s.last_index) {
        return MEDIA_CODE_SUCCESS;
    }
    if (f->width == m_venc->width && f->height == m_venc->height && f->format == AV_PIX_FMT_YUV420P) {
        // Already the encoder's picture format: no conversion needed.
        FramePtr same(av_frame_clone(f));
        if (!same) {
            return MEDIA_CODE_CODEC;
        }
        same->pict_type = AV_PICTURE_TYPE_NONE;
        s.has_picture = true;
        return emitPicture(s, std::move(same), index);
    }
    m_sws.reset(sws_getCachedContext(m_sws.release(), f->width, f->height, AVPixelFormat(f->format),
                                     m_venc->width, m_venc->height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                     nullptr, nullptr));
    if (!m_sws) {
        MLOG(MEDIA_LOG_ERROR, "cannot scale %dx%d pictures", f->width, f->height);
        return MEDIA_CODE_CODEC;
    }
    FramePtr pic(av_frame_alloc());
    if (!pic) {
        return MEDIA_CODE_CODEC;
    }
    pic->format = AV_PIX_FMT_YUV420P;
    pic->width = m_venc->width;
    pic->height = m_venc->height;
    if (av_frame_get_buffer(pic.get(), 0) < 0) {
        return MEDIA_CODE_CODEC;
    }
    sws_scale(m_sws.get(), f->data, f->linesize, 0, f->height, pic->data, pic->linesize);
    s.has_picture = true;
    return emitPicture(s, std::move(pic), index);
}

// At the span's first sound: silence before it, or the samples before the span's begin dropped.
// *started stays false while the frames lie wholly before the span.
int Encoder::startAudio(Span& s, const AVFrame* f, bool* started) {
    *started = false;
    int64_t ts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
    if (ts == AV_NOPTS_VALUE) {
        return MEDIA_CODE_SUCCESS;
    }
    int64_t t_us = mediaToUs(ts, s.iast->time_base) - s.in.startUs();
    int64_t frame_end_us = t_us + int64_t(f->nb_samples) * 1000000 / std::max(1, f->sample_rate);
    if (frame_end_us <= s.begin_us) {
        return MEDIA_CODE_SUCCESS;
    }
    *started = true;
    s.audio_started = true;
    int64_t lead = std::llround(double(t_us - s.begin_us) * m_audio->ctx()->sample_rate / 1e6);
    if (lead <= 0) {
        s.audio_drop = -lead;
        return MEDIA_CODE_SUCCESS;
    }
    int64_t room = s.audio_target - m_audio->queued();
    return result(m_audio->pushSilence(std::min(lead, room), m_audio_sink));
}

// Converts decoded samples (null: what the converter still holds) and queues the span's part of them.
int Encoder::handleAudioFrame(Span& s, AVFrame* f) {
    if (s.audio_done) {
        return MEDIA_CODE_SUCCESS;
    }
    if (!s.audio_started) {
        bool started = false;
        const int rc = f ? startAudio(s, f, &started) : MEDIA_CODE_SUCCESS;
        if (rc != MEDIA_CODE_SUCCESS || !started) {
            return rc;
        }
    }
    uint8_t** conv = nullptr;
    const int got = m_audio->convert(f, &conv);
    if (got < 0) {
        return MEDIA_CODE_CODEC;
    }
    int offset = 0;
    if (s.audio_drop > 0) {
        int d = int(std::min<int64_t>(s.audio_drop, got));
        s.audio_drop -= d;
        offset = d;
    }
    int64_t room = s.audio_target - m_audio->queued();
    int n = int(std::min<int64_t>(got - offset, room));
    int rc = result(m_audio->push(conv, offset, n, m_audio_sink));
    if (m_audio->queued() >= s.audio_target) {
        s.audio_done = true;
    }
    return rc;
}

}  // namespace

int mediaEncode(const std::vector<MediaSpan>& spans, const std::string& out_path, int width, int height,
                const std::atomic<bool>& cancel) {
    Encoder enc(cancel);
    return enc.run(spans, out_path, width, height);
}
