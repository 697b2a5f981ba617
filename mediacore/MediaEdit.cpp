#define MEDIA_LOG_SOURCE "mediacore/MediaEdit"
#include "MediaEdit.h"

#include "IMediaCore.h"
#include "MediaInput.h"
#include "MediaLog.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <random>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kOpenTimeoutMs = 10000;
// Audio packets read ahead of the first video keyframe after a seek are held back at most this many.
constexpr size_t kMaxPendingAudio = 4096;
constexpr int kAudioBitrate = 128000;

std::string errText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(err, buf, sizeof(buf));
    return buf;
}

int64_t toUs(int64_t ts, AVRational tb) {
    return av_rescale_q_rnd(ts, tb, AV_TIME_BASE_Q, AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

int64_t fromUs(int64_t us, AVRational tb) {
    return av_rescale_q_rnd(us, AV_TIME_BASE_Q, tb, AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

// Output container with its file; closes and flushes what was opened.
struct Output {
    AVFormatContext* oc = nullptr;
    bool header_written = false;
    const std::atomic<bool>* cancel = nullptr;

    static int interrupt(void* opaque) {
        auto* self = static_cast<Output*>(opaque);
        return self->cancel && self->cancel->load() ? 1 : 0;
    }

    int create(const std::string& path, const std::atomic<bool>& c) {
        cancel = &c;
        int err = avformat_alloc_output_context2(&oc, nullptr, "mp4", path.c_str());
        if (err < 0 || !oc) {
            MLOG(MEDIA_LOG_ERROR, "cannot set up the MP4 writer: %s", errText(err).c_str());
            return MEDIA_CODE_OPEN_OUTPUT;
        }
        oc->interrupt_callback.callback = &Output::interrupt;
        oc->interrupt_callback.opaque = this;
        return MEDIA_CODE_SUCCESS;
    }

    int open(const std::string& path) {
        AVDictionary* opts = nullptr;
        av_dict_set(&opts, "protocol_whitelist", "file", 0);
        std::string url = "file:" + path;
        int err = avio_open2(&oc->pb, url.c_str(), AVIO_FLAG_WRITE, &oc->interrupt_callback, &opts);
        av_dict_free(&opts);
        if (err < 0) {
            MLOG(MEDIA_LOG_ERROR, "cannot create output file %s: %s", path.c_str(), errText(err).c_str());
            return MEDIA_CODE_OPEN_OUTPUT;
        }
        err = avformat_write_header(oc, nullptr);
        if (err < 0) {
            MLOG(MEDIA_LOG_ERROR, "cannot write the MP4 header of %s: %s", path.c_str(),
                 errText(err).c_str());
            return MEDIA_CODE_WRITE;
        }
        header_written = true;
        return MEDIA_CODE_SUCCESS;
    }

    int write(AVPacket* pkt) {
        int err = av_interleaved_write_frame(oc, pkt);
        if (err < 0) {
            if (cancel->load()) {
                return MEDIA_CODE_CANCELLED;
            }
            MLOG(MEDIA_LOG_ERROR, "write error: %s", errText(err).c_str());
            return MEDIA_CODE_WRITE;
        }
        return MEDIA_CODE_SUCCESS;
    }

    int finish() {
        int err = av_write_trailer(oc);
        header_written = false;
        if (err < 0) {
            MLOG(MEDIA_LOG_ERROR, "cannot finish the MP4 file: %s", errText(err).c_str());
            return MEDIA_CODE_WRITE;
        }
        err = avio_closep(&oc->pb);
        if (err < 0) {
            MLOG(MEDIA_LOG_ERROR, "cannot close the MP4 file: %s", errText(err).c_str());
            return MEDIA_CODE_WRITE;
        }
        return MEDIA_CODE_SUCCESS;
    }

    ~Output() {
        if (oc) {
            if (oc->pb) {
                avio_closep(&oc->pb);
            }
            avformat_free_context(oc);
        }
    }
};

struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;

int readError(int err, const std::atomic<bool>& cancel, const std::string& path) {
    if (cancel.load()) {
        return MEDIA_CODE_CANCELLED;
    }
    MLOG(MEDIA_LOG_ERROR, "read error in %s: %s", path.c_str(), errText(err).c_str());
    return MEDIA_CODE_READ;
}

bool sameExtradata(const AVCodecParameters* a, const AVCodecParameters* b) {
    return a->extradata_size == b->extradata_size &&
           (a->extradata_size == 0 || memcmp(a->extradata, b->extradata, size_t(a->extradata_size)) == 0);
}

bool hasSampleIndex(const MediaInput& in) {
    const char* name = in.ctx()->iformat && in.ctx()->iformat->name ? in.ctx()->iformat->name : "";
    return strstr(name, "mp4") || strstr(name, "mov") || strstr(name, "matroska");
}

// For containers without a sample index (MPEG-TS and the like) seeking lands anywhere: find the
// keyframe at or before `begin_us` by reading, then go back to the start of the file.
// Returns that keyframe's pts in the video time base, or AV_NOPTS_VALUE.
int64_t scanKeyframeBefore(MediaInput& in, int64_t begin_us, const std::atomic<bool>& cancel) {
    AVStream* vst = in.ctx()->streams[in.videoIndex()];
    const int64_t begin_ts = fromUs(begin_us + in.startUs(), vst->time_base);
    int64_t found = AV_NOPTS_VALUE;
    AVPacket* pkt = av_packet_alloc();
    while (pkt && !cancel.load() && av_read_frame(in.ctx(), pkt) >= 0) {
        if (pkt->stream_index == in.videoIndex()) {
            int64_t dts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
            if ((pkt->flags & AV_PKT_FLAG_KEY) && pkt->pts != AV_NOPTS_VALUE && pkt->pts <= begin_ts) {
                found = pkt->pts;
            }
            if (dts != AV_NOPTS_VALUE && dts > begin_ts) {
                av_packet_unref(pkt);
                break;
            }
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    if (av_seek_frame(in.ctx(), -1, 0, AVSEEK_FLAG_BYTE) < 0) {
        MLOG(MEDIA_LOG_WARN, "cannot go back to the start of %s", in.path().c_str());
    }
    return found;
}

// Seeks so that reading starts at the keyframe at or before `begin_us` (relative to the file start).
void seekBefore(MediaInput& in, int64_t begin_us) {
    if (begin_us <= 0 || !hasSampleIndex(in)) {
        return;
    }
    AVStream* vst = in.ctx()->streams[in.videoIndex()];
    int64_t ts = fromUs(begin_us + in.startUs(), vst->time_base);
    int err = av_seek_frame(in.ctx(), in.videoIndex(), ts, AVSEEK_FLAG_BACKWARD);
    if (err < 0) {
        err = av_seek_frame(in.ctx(), -1, begin_us + in.startUs(), AVSEEK_FLAG_BACKWARD);
    }
    if (err < 0) {
        MLOG(MEDIA_LOG_WARN, "cannot seek in %s, reading from the start: %s", in.path().c_str(),
             errText(err).c_str());
        av_seek_frame(in.ctx(), -1, in.startUs(), AVSEEK_FLAG_BACKWARD);
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Stream copy

int mediaRemux(const std::vector<MediaSpan>& spans, const std::string& out_path,
               const std::atomic<bool>& cancel) {
    if (spans.empty()) {
        MLOG(MEDIA_LOG_ERROR, "nothing to write to %s", out_path.c_str());
        return MEDIA_CODE_BAD_ARGUMENT;
    }
    Output out;
    int rc = out.create(out_path, cancel);
    if (rc != MEDIA_CODE_SUCCESS) {
        return rc;
    }
    AVStream* ovst = nullptr;
    AVStream* oast = nullptr;
    int64_t offset_us = 0;
    int64_t last_dts[2] = {AV_NOPTS_VALUE, AV_NOPTS_VALUE};
    PacketPtr pkt(av_packet_alloc());
    if (!pkt) {
        return MEDIA_CODE_CODEC;
    }

    for (size_t si = 0; si < spans.size(); ++si) {
        const MediaSpan& span = spans[si];
        MediaInput in;
        if (!in.open(span.path, &cancel, kOpenTimeoutMs)) {
            return cancel.load() ? MEDIA_CODE_CANCELLED : MEDIA_CODE_OPEN_INPUT;
        }
        in.setTimeout(0);
        if (in.videoIndex() < 0) {
            MLOG(MEDIA_LOG_ERROR, "no video stream in %s", in.path().c_str());
            return MEDIA_CODE_NO_STREAM;
        }
        AVStream* ivst = in.ctx()->streams[in.videoIndex()];
        AVStream* iast = in.audioIndex() >= 0 ? in.ctx()->streams[in.audioIndex()] : nullptr;
        if (si == 0) {
            ovst = avformat_new_stream(out.oc, nullptr);
            if (!ovst || avcodec_parameters_copy(ovst->codecpar, ivst->codecpar) < 0) {
                return MEDIA_CODE_OPEN_OUTPUT;
            }
            ovst->codecpar->codec_tag = 0;
            ovst->time_base = ivst->time_base;
            ovst->avg_frame_rate = ivst->avg_frame_rate;
            if (iast) {
                oast = avformat_new_stream(out.oc, nullptr);
                if (!oast || avcodec_parameters_copy(oast->codecpar, iast->codecpar) < 0) {
                    return MEDIA_CODE_OPEN_OUTPUT;
                }
                oast->codecpar->codec_tag = 0;
                oast->time_base = iast->time_base;
            }
            rc = out.open(out_path);
            if (rc != MEDIA_CODE_SUCCESS) {
                return rc;
            }
        } else if (ivst->codecpar->codec_id != ovst->codecpar->codec_id) {
            MLOG(MEDIA_LOG_ERROR, "video of %s cannot be copied after the first input", in.path().c_str());
            return MEDIA_CODE_INCOMPATIBLE;
        }
        if (!oast) {
            iast = nullptr;
        }

        const int64_t end_us = span.end_us < 0 ? INT64_MAX : span.end_us;
        const int64_t end_vts =
            end_us == INT64_MAX ? INT64_MAX : fromUs(end_us + in.startUs(), ivst->time_base);
        int64_t wanted_key = AV_NOPTS_VALUE;
        if (span.begin_us > 0 && !hasSampleIndex(in)) {
            wanted_key = scanKeyframeBefore(in, span.begin_us, cancel);
        }
        seekBefore(in, span.begin_us);

        int64_t base = AV_NOPTS_VALUE;  // first keyframe's pts, in the input video time base
        int64_t base_us = 0;            // the same in microseconds
        std::deque<PacketPtr> pending_audio;
        bool video_done = false;
        bool audio_done = (iast == nullptr);
        int64_t video_end_us = 0;  // ends relative to the span start
        int64_t audio_end_us = 0;
        int64_t video_packets = 0;
        const int64_t offset_v = fromUs(offset_us, ovst->time_base);
        const int64_t offset_a = oast ? fromUs(offset_us, oast->time_base) : 0;

        std::deque<PacketPtr> audio_tail;
        auto writeAudio = [&](AVPacket* p) -> int {
            if (p->pts == AV_NOPTS_VALUE) {
                return MEDIA_CODE_SUCCESS;
            }
            int64_t pts_us = toUs(p->pts, iast->time_base);
            int64_t dur_us = toUs(p->duration, iast->time_base);
            // Keep the packets whose middle lies inside [base, end).
            if (pts_us + dur_us / 2 < base_us) {
                return MEDIA_CODE_SUCCESS;
            }
            if (end_us != INT64_MAX && pts_us + dur_us / 2 >= end_us + in.startUs()) {
                // Past the asked end the sound follows the pictures, which may run a few frames on.
                if (!video_done) {
                    if (audio_tail.size() < kMaxPendingAudio) {
                        audio_tail.emplace_back(av_packet_clone(p));
                    }
                    return MEDIA_CODE_SUCCESS;
                }
                if (pts_us + dur_us / 2 >= base_us + video_end_us) {
                    audio_done = true;
                    return MEDIA_CODE_SUCCESS;
                }
            }
            int64_t shift = fromUs(base_us, iast->time_base);
            int64_t pts = av_rescale_q(p->pts - shift, iast->time_base, oast->time_base) + offset_a;
            int64_t dts = p->dts == AV_NOPTS_VALUE
                              ? pts
                              : av_rescale_q(p->dts - shift, iast->time_base, oast->time_base) + offset_a;
            if (last_dts[1] != AV_NOPTS_VALUE && dts <= last_dts[1]) {
                // Overlaps the audio of the previous span: drop it rather than break the timeline.
                return MEDIA_CODE_SUCCESS;
            }
            last_dts[1] = dts;
            audio_end_us = std::max(audio_end_us, pts_us + dur_us - base_us);
            p->pts = pts;
            p->dts = dts;
            p->duration = av_rescale_q(p->duration, iast->time_base, oast->time_base);
            p->stream_index = oast->index;
            p->pos = -1;
            return out.write(p);
        };

        std::deque<PacketPtr> tail;
        int64_t last_in_pts = AV_NOPTS_VALUE;
        auto writeVideo = [&](AVPacket* p) -> int {
            if (p->duration <= 0) {
                // Containers without sample durations (MPEG-TS): one frame at the stream's rate.
                AVRational rate = ivst->avg_frame_rate.num > 0 ? ivst->avg_frame_rate : ivst->r_frame_rate;
                if (rate.num > 0 && rate.den > 0) {
                    p->duration = av_rescale_q(1, av_inv_q(rate), ivst->time_base);
                }
            }
            int64_t dts = p->dts != AV_NOPTS_VALUE ? p->dts : p->pts;
            int64_t pts_us = toUs(p->pts, ivst->time_base);
            int64_t dur_us = toUs(p->duration, ivst->time_base);
            int64_t opts = av_rescale_q(p->pts - base, ivst->time_base, ovst->time_base) + offset_v;
            int64_t odts = av_rescale_q(dts - base, ivst->time_base, ovst->time_base) + offset_v;
            if (last_dts[0] != AV_NOPTS_VALUE && odts <= last_dts[0]) {
                odts = last_dts[0] + 1;
                opts = std::max(opts, odts);
            }
            last_dts[0] = odts;
            video_end_us = std::max(video_end_us, pts_us + dur_us - base_us);
            p->pts = opts;
            p->dts = odts;
            p->duration = av_rescale_q(p->duration, ivst->time_base, ovst->time_base);
            p->stream_index = ovst->index;
            p->pos = -1;
            ++video_packets;
            return out.write(p);
        };

        // Writes the held pictures: those shown after the end are kept only when a picture shown
        // before the end follows them in decode order, and are then shown right after the last
        // wanted picture (same order, no gap) instead of at their later times.
        auto flushTail = [&]() -> int {
            int last_needed = -1;
            for (int i = 0; i < int(tail.size()); ++i) {
                if (tail[size_t(i)]->pts < end_vts) {
                    last_needed = i;
                }
            }
            std::vector<int64_t> late;
            for (int i = 0; i <= last_needed; ++i) {
                const AVPacket* p = tail[size_t(i)].get();
                if (p->pts >= end_vts) {
                    late.push_back(p->pts);
                } else {
                    last_in_pts = std::max(last_in_pts, p->pts);
                }
            }
            std::sort(late.begin(), late.end());
            int64_t step = tail.empty() ? 0 : tail.front()->duration;
            if (step <= 0 && ivst->avg_frame_rate.num > 0) {
                step = av_rescale_q(1, av_inv_q(ivst->avg_frame_rate), ivst->time_base);
            }
            for (int i = 0; i <= last_needed; ++i) {
                AVPacket* p = tail[size_t(i)].get();
                if (p->pts >= end_vts) {
                    auto pos = std::lower_bound(late.begin(), late.end(), p->pts) - late.begin();
                    p->pts = last_in_pts + step * (pos + 1);
                    if (p->dts != AV_NOPTS_VALUE && p->pts < p->dts) {
                        p->pts = p->dts;
                    }
                }
                int r = writeVideo(p);
                if (r != MEDIA_CODE_SUCCESS) {
                    return r;
                }
            }
            tail.clear();
            return MEDIA_CODE_SUCCESS;
        };

        while (!(video_done && audio_done)) {
            if (cancel.load()) {
                return MEDIA_CODE_CANCELLED;
            }
            int err = av_read_frame(in.ctx(), pkt.get());
            if (err == AVERROR_EOF) {
                rc = flushTail();
                video_done = true;
                while (rc == MEDIA_CODE_SUCCESS && !audio_tail.empty() && !audio_done) {
                    rc = writeAudio(audio_tail.front().get());
                    audio_tail.pop_front();
                }
                if (rc != MEDIA_CODE_SUCCESS) {
                    return rc;
                }
                break;
            }
            if (err < 0) {
                return readError(err, cancel, in.path());
            }
            if (pkt->stream_index == in.videoIndex() && !video_done) {
                if (pkt->pts == AV_NOPTS_VALUE) {
                    pkt->pts = pkt->dts;
                }
                if (pkt->pts == AV_NOPTS_VALUE) {
                    av_packet_unref(pkt.get());
                    continue;
                }
                int64_t dts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
                if (base == AV_NOPTS_VALUE) {
                    if (!(pkt->flags & AV_PKT_FLAG_KEY) ||
                        (wanted_key != AV_NOPTS_VALUE && pkt->pts < wanted_key)) {
                        av_packet_unref(pkt.get());
                        continue;
                    }
                    base = pkt->pts;
                    base_us = toUs(base, ivst->time_base);
                    while (!pending_audio.empty()) {
                        rc = writeAudio(pending_audio.front().get());
                        pending_audio.pop_front();
                        if (rc != MEDIA_CODE_SUCCESS) {
                            return rc;
                        }
                    }
                }
                // Decode order: everything decoded before the end belongs in, so that every
                // picture shown before the end can be decoded.
                if (dts >= end_vts) {
                    av_packet_unref(pkt.get());
                    rc = flushTail();
                    video_done = true;
                    while (rc == MEDIA_CODE_SUCCESS && !audio_tail.empty() && !audio_done) {
                        rc = writeAudio(audio_tail.front().get());
                        audio_tail.pop_front();
                    }
                    if (rc != MEDIA_CODE_SUCCESS) {
                        return rc;
                    }
                    continue;
                }
                if (pkt->pts < base) {
                    // Leading pictures of an open GOP refer to pictures before the cut.
                    av_packet_unref(pkt.get());
                    continue;
                }
                if (pkt->pts >= end_vts || !tail.empty()) {
                    // Near the end, pictures shown after the end may still be references of pictures
                    // shown before it: hold them until the end is reached.
                    tail.emplace_back(av_packet_clone(pkt.get()));
                    av_packet_unref(pkt.get());
                    continue;
                }
                last_in_pts = std::max(last_in_pts, pkt->pts);
                rc = writeVideo(pkt.get());
                if (rc != MEDIA_CODE_SUCCESS) {
                    return rc;
                }
            } else if (iast && pkt->stream_index == in.audioIndex() && !audio_done) {
                if (base == AV_NOPTS_VALUE) {
                    if (pending_audio.size() < kMaxPendingAudio) {
                        pending_audio.emplace_back(av_packet_clone(pkt.get()));
                    }
                } else {
                    rc = writeAudio(pkt.get());
                    if (rc != MEDIA_CODE_SUCCESS) {
                        return rc;
                    }
                }
            }
            av_packet_unref(pkt.get());
        }
        if (video_packets == 0) {
            MLOG(MEDIA_LOG_ERROR, "no video between %lld and %lld us in %s", (long long)span.begin_us,
                 (long long)span.end_us, in.path().c_str());
            return MEDIA_CODE_READ;
        }
        offset_us += std::max(video_end_us, audio_end_us);
    }
    return out.finish();
}

bool mediaCanCopyTogether(const std::vector<std::string>& paths, int* width, int* height) {
    std::atomic<bool> never{false};
    std::vector<std::unique_ptr<MediaInput>> inputs;
    for (const std::string& p : paths) {
        auto in = std::make_unique<MediaInput>();
        if (!in->open(p, &never, kOpenTimeoutMs) || in->videoIndex() < 0) {
            return false;
        }
        inputs.push_back(std::move(in));
    }
    if (inputs.empty()) {
        return false;
    }
    const AVCodecParameters* v0 = inputs[0]->ctx()->streams[inputs[0]->videoIndex()]->codecpar;
    const AVCodecParameters* a0 =
        inputs[0]->audioIndex() >= 0 ? inputs[0]->ctx()->streams[inputs[0]->audioIndex()]->codecpar : nullptr;
    if (width) {
        *width = v0->width;
    }
    if (height) {
        *height = v0->height;
    }
    for (size_t i = 1; i < inputs.size(); ++i) {
        const MediaInput& in = *inputs[i];
        const AVCodecParameters* v = in.ctx()->streams[in.videoIndex()]->codecpar;
        if (v->codec_id != v0->codec_id || v->width != v0->width || v->height != v0->height ||
            v->format != v0->format || !sameExtradata(v, v0)) {
            MLOG(MEDIA_LOG_INFO, "video of %s differs from the first input", in.path().c_str());
            return false;
        }
        const AVCodecParameters* a =
            in.audioIndex() >= 0 ? in.ctx()->streams[in.audioIndex()]->codecpar : nullptr;
        if ((a == nullptr) != (a0 == nullptr)) {
            MLOG(MEDIA_LOG_INFO, "audio presence of %s differs from the first input", in.path().c_str());
            return false;
        }
        if (a && (a->codec_id != a0->codec_id || a->sample_rate != a0->sample_rate ||
                  a->ch_layout.nb_channels != a0->ch_layout.nb_channels || !sameExtradata(a, a0))) {
            MLOG(MEDIA_LOG_INFO, "audio of %s differs from the first input", in.path().c_str());
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Decode and re-encode

namespace {

struct SpanInfo {
    int64_t begin_us = 0;
    int64_t end_us = 0;
};

class Encoder {
public:
    explicit Encoder(const std::atomic<bool>& cancel) : m_cancel(cancel) {}
    ~Encoder() {
        sws_freeContext(m_sws);
        if (m_fifo) {
            av_audio_fifo_free(m_fifo);
        }
    }

    int run(const std::vector<MediaSpan>& spans, const std::string& out_path, int width, int height);

private:
    int setup(MediaInput& first, bool any_audio, int audio_rate, int audio_channels, int width, int height,
              const std::string& out_path);
    int encodeSpan(const MediaSpan& span);
    int sendVideo(AVFrame* frame);
    int drainVideo(bool flush);
    int pushAudio(uint8_t** data, int offset, int count);
    int pushSilence(int64_t count);
    int encodeAudio(bool flush);

    const std::atomic<bool>& m_cancel;
    Output m_out;
    CodecPtr m_venc;
    CodecPtr m_aenc;
    AVStream* m_vst = nullptr;
    AVStream* m_ast = nullptr;
    SwsContext* m_sws = nullptr;
    AVAudioFifo* m_fifo = nullptr;
    AVRational m_fps{25, 1};
    int64_t m_next_frame = 0;    // index of the next output picture
    int64_t m_audio_pts = 0;     // samples handed to the audio encoder
    int64_t m_audio_queued = 0;  // samples put into the fifo so far (all spans)
    FramePtr m_last;             // last picture sent, repeated to fill holes
    PacketPtr m_pkt{av_packet_alloc()};
};

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
    rc = drainVideo(true);
    if (rc == MEDIA_CODE_SUCCESS && m_aenc) {
        rc = encodeAudio(true);
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

    const AVCodec* vcodec = avcodec_find_encoder_by_name("libx264");
    if (!vcodec) {
        vcodec = avcodec_find_encoder(AV_CODEC_ID_H264);
    }
    if (!vcodec) {
        MLOG(MEDIA_LOG_ERROR, "no H.264 encoder available");
        return MEDIA_CODE_CODEC;
    }
    m_venc.reset(avcodec_alloc_context3(vcodec));
    if (!m_venc) {
        return MEDIA_CODE_CODEC;
    }
    m_venc->width = width;
    m_venc->height = height;
    m_venc->pix_fmt = AV_PIX_FMT_YUV420P;
    m_venc->time_base = av_inv_q(fps);
    m_venc->framerate = fps;
    m_venc->sample_aspect_ratio = AVRational{1, 1};
    // A keyframe every two seconds keeps later stream-copy cuts of the result close to the asked times.
    m_venc->gop_size = std::max(1, int(std::lround(2.0 * av_q2d(fps))));
    m_venc->thread_count = 0;
    if (m_out.oc->oformat->flags & AVFMT_GLOBALHEADER) {
        m_venc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    AVDictionary* vopts = nullptr;
    av_dict_set(&vopts, "preset", "veryfast", 0);
    av_dict_set(&vopts, "crf", "23", 0);
    int err = avcodec_open2(m_venc.get(), vcodec, &vopts);
    av_dict_free(&vopts);
    if (err < 0) {
        MLOG(MEDIA_LOG_ERROR, "cannot open the H.264 encoder for %dx%d: %s", width, height,
             errText(err).c_str());
        return MEDIA_CODE_CODEC;
    }
    m_vst = avformat_new_stream(m_out.oc, nullptr);
    if (!m_vst || avcodec_parameters_from_context(m_vst->codecpar, m_venc.get()) < 0) {
        return MEDIA_CODE_OPEN_OUTPUT;
    }
    m_vst->time_base = m_venc->time_base;
    m_vst->avg_frame_rate = fps;

    if (any_audio) {
        const AVCodec* acodec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!acodec) {
            MLOG(MEDIA_LOG_ERROR, "no AAC encoder available");
            return MEDIA_CODE_CODEC;
        }
        m_aenc.reset(avcodec_alloc_context3(acodec));
        if (!m_aenc) {
            return MEDIA_CODE_CODEC;
        }
        static const int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000,
                                     24000, 22050, 16000, 12000, 11025, 8000};
        int rate = 48000;
        for (int r : kRates) {
            if (r == audio_rate) {
                rate = r;
            }
        }
        m_aenc->sample_rate = rate;
        m_aenc->sample_fmt = AV_SAMPLE_FMT_FLTP;
        av_channel_layout_default(&m_aenc->ch_layout, audio_channels == 1 ? 1 : 2);
        m_aenc->bit_rate = kAudioBitrate;
        m_aenc->time_base = AVRational{1, rate};
        if (m_out.oc->oformat->flags & AVFMT_GLOBALHEADER) {
            m_aenc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        err = avcodec_open2(m_aenc.get(), acodec, nullptr);
        if (err < 0) {
            MLOG(MEDIA_LOG_ERROR, "cannot open the AAC encoder: %s", errText(err).c_str());
            return MEDIA_CODE_CODEC;
        }
        m_ast = avformat_new_stream(m_out.oc, nullptr);
        if (!m_ast || avcodec_parameters_from_context(m_ast->codecpar, m_aenc.get()) < 0) {
            return MEDIA_CODE_OPEN_OUTPUT;
        }
        m_ast->time_base = m_aenc->time_base;
        m_fifo =
            av_audio_fifo_alloc(m_aenc->sample_fmt, m_aenc->ch_layout.nb_channels, m_aenc->frame_size * 4);
        if (!m_fifo) {
            return MEDIA_CODE_CODEC;
        }
    }
    return m_out.open(out_path);
}

int Encoder::drainVideo(bool flush) {
    if (flush) {
        avcodec_send_frame(m_venc.get(), nullptr);
    }
    for (;;) {
        int err = avcodec_receive_packet(m_venc.get(), m_pkt.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) {
            return MEDIA_CODE_SUCCESS;
        }
        if (err < 0) {
            MLOG(MEDIA_LOG_ERROR, "video encoding failed: %s", errText(err).c_str());
            return MEDIA_CODE_CODEC;
        }
        av_packet_rescale_ts(m_pkt.get(), m_venc->time_base, m_vst->time_base);
        m_pkt->stream_index = m_vst->index;
        int rc = m_out.write(m_pkt.get());
        av_packet_unref(m_pkt.get());
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
}

int Encoder::sendVideo(AVFrame* frame) {
    int err = avcodec_send_frame(m_venc.get(), frame);
    if (err < 0) {
        MLOG(MEDIA_LOG_ERROR, "video encoder refused a picture: %s", errText(err).c_str());
        return MEDIA_CODE_CODEC;
    }
    return drainVideo(false);
}

int Encoder::encodeAudio(bool flush) {
    const int frame_size = m_aenc->frame_size > 0 ? m_aenc->frame_size : 1024;
    for (;;) {
        int avail = av_audio_fifo_size(m_fifo);
        if (avail == 0 || (!flush && avail < frame_size)) {
            break;
        }
        int n = std::min(avail, frame_size);
        FramePtr f(av_frame_alloc());
        if (!f) {
            return MEDIA_CODE_CODEC;
        }
        f->nb_samples = n;
        f->format = m_aenc->sample_fmt;
        f->sample_rate = m_aenc->sample_rate;
        av_channel_layout_copy(&f->ch_layout, &m_aenc->ch_layout);
        if (av_frame_get_buffer(f.get(), 0) < 0 || av_audio_fifo_read(m_fifo, (void**)f->data, n) != n) {
            return MEDIA_CODE_CODEC;
        }
        f->pts = m_audio_pts;
        m_audio_pts += n;
        if (avcodec_send_frame(m_aenc.get(), f.get()) < 0) {
            MLOG(MEDIA_LOG_ERROR, "audio encoder refused samples");
            return MEDIA_CODE_CODEC;
        }
        int rc = MEDIA_CODE_SUCCESS;
        while (rc == MEDIA_CODE_SUCCESS && avcodec_receive_packet(m_aenc.get(), m_pkt.get()) == 0) {
            av_packet_rescale_ts(m_pkt.get(), m_aenc->time_base, m_ast->time_base);
            m_pkt->stream_index = m_ast->index;
            rc = m_out.write(m_pkt.get());
            av_packet_unref(m_pkt.get());
        }
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
    if (flush) {
        avcodec_send_frame(m_aenc.get(), nullptr);
        int rc = MEDIA_CODE_SUCCESS;
        while (rc == MEDIA_CODE_SUCCESS && avcodec_receive_packet(m_aenc.get(), m_pkt.get()) == 0) {
            av_packet_rescale_ts(m_pkt.get(), m_aenc->time_base, m_ast->time_base);
            m_pkt->stream_index = m_ast->index;
            rc = m_out.write(m_pkt.get());
            av_packet_unref(m_pkt.get());
        }
        return rc;
    }
    return MEDIA_CODE_SUCCESS;
}

int Encoder::pushAudio(uint8_t** data, int offset, int count) {
    if (count <= 0) {
        return MEDIA_CODE_SUCCESS;
    }
    const int channels = m_aenc->ch_layout.nb_channels;
    uint8_t* planes[8] = {nullptr};
    for (int c = 0; c < channels && c < 8; ++c) {
        planes[c] = data[c] + size_t(offset) * sizeof(float);
    }
    if (av_audio_fifo_write(m_fifo, (void**)planes, count) != count) {
        return MEDIA_CODE_CODEC;
    }
    m_audio_queued += count;
    return encodeAudio(false);
}

int Encoder::pushSilence(int64_t count) {
    const int channels = m_aenc->ch_layout.nb_channels;
    const int chunk = 4096;
    std::vector<float> zeros(chunk, 0.0f);
    uint8_t* planes[8] = {nullptr};
    for (int c = 0; c < channels && c < 8; ++c) {
        planes[c] = reinterpret_cast<uint8_t*>(zeros.data());
    }
    while (count > 0) {
        int n = int(std::min<int64_t>(count, chunk));
        int rc = pushAudio(planes, 0, n);
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
        count -= n;
    }
    return MEDIA_CODE_SUCCESS;
}

int Encoder::encodeSpan(const MediaSpan& span) {
    MediaInput in;
    if (!in.open(span.path, &m_cancel, kOpenTimeoutMs)) {
        return m_cancel.load() ? MEDIA_CODE_CANCELLED : MEDIA_CODE_OPEN_INPUT;
    }
    in.setTimeout(0);
    if (in.videoIndex() < 0) {
        MLOG(MEDIA_LOG_ERROR, "no video stream in %s", in.path().c_str());
        return MEDIA_CODE_NO_STREAM;
    }
    AVStream* ivst = in.ctx()->streams[in.videoIndex()];
    AVStream* iast = (m_aenc && in.audioIndex() >= 0) ? in.ctx()->streams[in.audioIndex()] : nullptr;

    const int64_t begin_us = std::max<int64_t>(0, span.begin_us);
    int64_t end_us = span.end_us < 0 ? in.durationUs() : std::min(span.end_us, in.durationUs());
    if (end_us <= begin_us) {
        MLOG(MEDIA_LOG_ERROR, "empty range %lld-%lld us in %s", (long long)begin_us, (long long)end_us,
             in.path().c_str());
        return MEDIA_CODE_BAD_ARGUMENT;
    }
    const double fps = av_q2d(m_fps);
    const int64_t first_frame = m_next_frame;
    const int64_t frame_count = std::max<int64_t>(1, std::llround((end_us - begin_us) * fps / 1e6));
    const int64_t end_frame = first_frame + frame_count;
    const int64_t half_frame_us = int64_t(5e5 / fps);

    // Audio of the span, in output samples, follows the pictures exactly so both stay in step.
    int64_t audio_target = 0;
    if (m_aenc) {
        const int rate = m_aenc->sample_rate;
        audio_target = std::llround(double(end_frame) / fps * rate);
    }

    CodecPtr vdec;
    CodecPtr adec;
    {
        const AVCodec* dec = avcodec_find_decoder(ivst->codecpar->codec_id);
        vdec.reset(dec ? avcodec_alloc_context3(dec) : nullptr);
        if (!vdec || avcodec_parameters_to_context(vdec.get(), ivst->codecpar) < 0) {
            MLOG(MEDIA_LOG_ERROR, "no decoder for the video of %s", in.path().c_str());
            return MEDIA_CODE_CODEC;
        }
        vdec->pkt_timebase = ivst->time_base;
        vdec->thread_count = 0;
        if (avcodec_open2(vdec.get(), dec, nullptr) < 0) {
            MLOG(MEDIA_LOG_ERROR, "cannot open the video decoder for %s", in.path().c_str());
            return MEDIA_CODE_CODEC;
        }
    }
    if (iast) {
        const AVCodec* dec = avcodec_find_decoder(iast->codecpar->codec_id);
        adec.reset(dec ? avcodec_alloc_context3(dec) : nullptr);
        if (!adec || avcodec_parameters_to_context(adec.get(), iast->codecpar) < 0 ||
            (adec->pkt_timebase = iast->time_base, avcodec_open2(adec.get(), dec, nullptr) < 0)) {
            MLOG(MEDIA_LOG_WARN, "cannot decode the audio of %s; silence instead", in.path().c_str());
            adec.reset();
            iast = nullptr;
        }
    }

    seekBefore(in, begin_us);

    struct SwrDeleter {
        void operator()(SwrContext* s) const { swr_free(&s); }
    };
    std::unique_ptr<SwrContext, SwrDeleter> swr;
    bool audio_started = false;
    int64_t audio_drop = 0;  // output samples still to drop at the start
    bool video_done = false;
    bool audio_done = (iast == nullptr);
    bool span_has_picture = false;
    int64_t last_index = first_frame - 1;
    FramePtr frame(av_frame_alloc());
    uint8_t** conv = nullptr;
    int conv_cap = 0;
    auto freeConv = [&]() {
        if (conv) {
            av_freep(&conv[0]);
            av_freep(&conv);
        }
        conv_cap = 0;
    };
    if (!frame) {
        return MEDIA_CODE_CODEC;
    }

    auto emitPicture = [&](FramePtr pic, int64_t index) -> int {
        // Fill holes (variable frame rate, dropped pictures) by repeating the previous picture.
        while (m_last && last_index + 1 < index) {
            FramePtr dup(av_frame_clone(m_last.get()));
            if (!dup) {
                return MEDIA_CODE_CODEC;
            }
            dup->pts = ++last_index;
            dup->pict_type = AV_PICTURE_TYPE_NONE;
            int rc = sendVideo(dup.get());
            if (rc != MEDIA_CODE_SUCCESS) {
                return rc;
            }
        }
        pic->pts = index;
        last_index = index;
        m_last.reset(av_frame_clone(pic.get()));
        return sendVideo(pic.get());
    };

    auto handleVideoFrame = [&](AVFrame* f) -> int {
        int64_t ts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
        if (ts == AV_NOPTS_VALUE) {
            return MEDIA_CODE_SUCCESS;
        }
        int64_t t_us = toUs(ts, ivst->time_base) - in.startUs();
        if (t_us < begin_us - half_frame_us) {
            return MEDIA_CODE_SUCCESS;
        }
        int64_t index = first_frame + std::llround((t_us - begin_us) * fps / 1e6);
        if (!span_has_picture) {
            index = first_frame;
        }
        if (index >= end_frame) {
            video_done = true;
            return MEDIA_CODE_SUCCESS;
        }
        if (index <= last_index) {
            return MEDIA_CODE_SUCCESS;
        }
        if (f->width == m_venc->width && f->height == m_venc->height && f->format == AV_PIX_FMT_YUV420P) {
            // Already the encoder's picture format: no conversion needed.
            FramePtr same(av_frame_clone(f));
            if (!same) {
                return MEDIA_CODE_CODEC;
            }
            same->pict_type = AV_PICTURE_TYPE_NONE;
            span_has_picture = true;
            return emitPicture(std::move(same), index);
        }
        m_sws =
            sws_getCachedContext(m_sws, f->width, f->height, AVPixelFormat(f->format), m_venc->width,
                                 m_venc->height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
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
        sws_scale(m_sws, f->data, f->linesize, 0, f->height, pic->data, pic->linesize);
        span_has_picture = true;
        return emitPicture(std::move(pic), index);
    };

    auto handleAudioFrame = [&](AVFrame* f) -> int {
        if (audio_done) {
            return MEDIA_CODE_SUCCESS;
        }
        const int rate = m_aenc->sample_rate;
        if (!audio_started) {
            if (!f) {
                return MEDIA_CODE_SUCCESS;
            }
            int64_t ts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
            if (ts == AV_NOPTS_VALUE) {
                return MEDIA_CODE_SUCCESS;
            }
            int64_t t_us = toUs(ts, iast->time_base) - in.startUs();
            int64_t frame_end_us = t_us + int64_t(f->nb_samples) * 1000000 / std::max(1, f->sample_rate);
            if (frame_end_us <= begin_us) {
                return MEDIA_CODE_SUCCESS;
            }
            AVChannelLayout in_layout;
            if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || f->ch_layout.nb_channels <= 0) {
                av_channel_layout_default(&in_layout, std::max(1, f->ch_layout.nb_channels));
            } else {
                av_channel_layout_copy(&in_layout, &f->ch_layout);
            }
            SwrContext* s = nullptr;
            int err = swr_alloc_set_opts2(&s, &m_aenc->ch_layout, m_aenc->sample_fmt, rate, &in_layout,
                                          AVSampleFormat(f->format), f->sample_rate, 0, nullptr);
            av_channel_layout_uninit(&in_layout);
            if (err < 0 || !s || swr_init(s) < 0) {
                swr_free(&s);
                MLOG(MEDIA_LOG_ERROR, "cannot convert the audio of %s", in.path().c_str());
                return MEDIA_CODE_CODEC;
            }
            swr.reset(s);
            audio_started = true;
            int64_t lead = std::llround(double(t_us - begin_us) * rate / 1e6);
            if (lead > 0) {
                int64_t room = audio_target - m_audio_queued;
                int rc = pushSilence(std::min(lead, room));
                if (rc != MEDIA_CODE_SUCCESS) {
                    return rc;
                }
            } else {
                audio_drop = -lead;
            }
        }
        int out_max = swr_get_out_samples(swr.get(), f ? f->nb_samples : 0);
        if (out_max <= 0) {
            return MEDIA_CODE_SUCCESS;
        }
        if (out_max > conv_cap) {
            freeConv();
            if (av_samples_alloc_array_and_samples(&conv, nullptr, m_aenc->ch_layout.nb_channels, out_max,
                                                   m_aenc->sample_fmt, 0) < 0) {
                conv = nullptr;
                return MEDIA_CODE_CODEC;
            }
            conv_cap = out_max;
        }
        int got = swr_convert(swr.get(), conv, out_max, f ? (const uint8_t**)f->extended_data : nullptr,
                              f ? f->nb_samples : 0);
        if (got < 0) {
            MLOG(MEDIA_LOG_ERROR, "audio conversion failed in %s", in.path().c_str());
            return MEDIA_CODE_CODEC;
        }
        int offset = 0;
        if (audio_drop > 0) {
            int d = int(std::min<int64_t>(audio_drop, got));
            audio_drop -= d;
            offset = d;
        }
        int64_t room = audio_target - m_audio_queued;
        int n = int(std::min<int64_t>(got - offset, room));
        int rc = pushAudio(conv, offset, n);
        if (m_audio_queued >= audio_target) {
            audio_done = true;
        }
        return rc;
    };

    auto receive = [&](AVCodecContext* dec, bool video) -> int {
        for (;;) {
            int err = avcodec_receive_frame(dec, frame.get());
            if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) {
                return MEDIA_CODE_SUCCESS;
            }
            if (err < 0) {
                MLOG(MEDIA_LOG_ERROR, "decoding failed in %s: %s", in.path().c_str(), errText(err).c_str());
                return MEDIA_CODE_READ;
            }
            int rc = video ? (video_done ? MEDIA_CODE_SUCCESS : handleVideoFrame(frame.get()))
                           : handleAudioFrame(frame.get());
            av_frame_unref(frame.get());
            if (rc != MEDIA_CODE_SUCCESS) {
                return rc;
            }
        }
    };

    int rc = MEDIA_CODE_SUCCESS;
    bool eof = false;
    while (rc == MEDIA_CODE_SUCCESS && !(video_done && audio_done)) {
        if (m_cancel.load()) {
            rc = MEDIA_CODE_CANCELLED;
            break;
        }
        int err = av_read_frame(in.ctx(), m_pkt.get());
        if (err == AVERROR_EOF) {
            eof = true;
            break;
        }
        if (err < 0) {
            rc = readError(err, m_cancel, in.path());
            break;
        }
        if (m_pkt->stream_index == in.videoIndex() && !video_done) {
            err = avcodec_send_packet(vdec.get(), m_pkt.get());
            if (err < 0 && err != AVERROR(EAGAIN)) {
                MLOG(MEDIA_LOG_WARN, "skipping a damaged video packet in %s", in.path().c_str());
            }
            av_packet_unref(m_pkt.get());
            rc = receive(vdec.get(), true);
        } else if (iast && m_pkt->stream_index == in.audioIndex() && !audio_done) {
            if (m_pkt->pts != AV_NOPTS_VALUE &&
                toUs(m_pkt->pts, iast->time_base) - in.startUs() >= end_us + 500000) {
                audio_done = true;
            } else {
                err = avcodec_send_packet(adec.get(), m_pkt.get());
                if (err < 0 && err != AVERROR(EAGAIN)) {
                    MLOG(MEDIA_LOG_WARN, "skipping a damaged audio packet in %s", in.path().c_str());
                }
                rc = receive(adec.get(), false);
            }
            av_packet_unref(m_pkt.get());
        } else {
            av_packet_unref(m_pkt.get());
        }
    }
    if (rc == MEDIA_CODE_SUCCESS && eof) {
        if (!video_done) {
            avcodec_send_packet(vdec.get(), nullptr);
            rc = receive(vdec.get(), true);
        }
        if (rc == MEDIA_CODE_SUCCESS && adec && !audio_done) {
            avcodec_send_packet(adec.get(), nullptr);
            rc = receive(adec.get(), false);
        }
    }
    if (rc == MEDIA_CODE_SUCCESS && swr && !audio_done) {
        // Samples still inside the resampler.
        rc = handleAudioFrame(nullptr);
    }
    freeConv();
    if (rc != MEDIA_CODE_SUCCESS) {
        return rc;
    }
    if (!span_has_picture) {
        MLOG(MEDIA_LOG_ERROR, "no picture between %lld and %lld us in %s", (long long)begin_us,
             (long long)end_us, in.path().c_str());
        return MEDIA_CODE_READ;
    }
    // Hold the last picture up to the end of the span and complete the audio with silence.
    if (last_index + 1 < end_frame) {
        FramePtr dup(av_frame_clone(m_last.get()));
        if (!dup) {
            return MEDIA_CODE_CODEC;
        }
        rc = emitPicture(std::move(dup), end_frame - 1);
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
    m_next_frame = end_frame;
    if (m_aenc && m_audio_queued < audio_target) {
        rc = pushSilence(audio_target - m_audio_queued);
    }
    return rc;
}

}  // namespace

int mediaEncode(const std::vector<MediaSpan>& spans, const std::string& out_path, int width, int height,
                const std::atomic<bool>& cancel) {
    Encoder enc(cancel);
    return enc.run(spans, out_path, width, height);
}

int mediaWriteAtomically(const std::string& final_path,
                         const std::function<int(const std::string& tmp)>& produce) {
    std::string dir = ".";
    std::string name = final_path;
    size_t slash = final_path.find_last_of('/');
    if (slash != std::string::npos) {
        dir = final_path.substr(0, slash);
        name = final_path.substr(slash + 1);
        if (dir.empty()) {
            dir = "/";
        }
    }
    std::random_device rd;
    char suffix[32];
    snprintf(suffix, sizeof(suffix), ".%08x.part", unsigned(rd()));
    std::string tmp = dir + "/." + name + suffix;
    int rc = produce(tmp);
    if (rc == MEDIA_CODE_SUCCESS) {
        if (::rename(tmp.c_str(), final_path.c_str()) != 0) {
            MLOG(MEDIA_LOG_ERROR, "cannot move the finished file to %s: %s", final_path.c_str(),
                 strerror(errno));
            rc = MEDIA_CODE_WRITE;
        }
    }
    if (rc != MEDIA_CODE_SUCCESS) {
        ::unlink(tmp.c_str());
    }
    return rc;
}
