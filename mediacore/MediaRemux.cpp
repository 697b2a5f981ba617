#define MEDIA_LOG_SOURCE "mediacore/MediaRemux"
#include "MediaEdit.h"

#include "FfmpegPtr.h"
#include "IMediaCore.h"
#include "MediaAudioSplice.h"
#include "MediaInput.h"
#include "MediaLog.h"
#include "MediaOutput.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>

namespace {

constexpr int kOpenTimeoutMs = 10000;
// Audio packets read ahead of the first video keyframe after a seek are held back at most this many.
constexpr size_t kMaxPendingAudio = 4096;

bool sameExtradata(const AVCodecParameters* a, const AVCodecParameters* b) {
    return a->extradata_size == b->extradata_size &&
           (a->extradata_size == 0 || memcmp(a->extradata, b->extradata, size_t(a->extradata_size)) == 0);
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
    Mp4Output out;
    int rc = out.create(out_path, cancel);
    if (rc != MEDIA_CODE_SUCCESS) {
        return rc;
    }
    AVStream* ovst = nullptr;
    AVStream* oast = nullptr;
    int64_t offset_us = 0;
    int64_t last_dts[1] = {AV_NOPTS_VALUE};
    std::unique_ptr<AudioSplicer> splicer;  // the sound, re-encoded around the joins
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
            ovst = avformat_new_stream(out.ctx(), nullptr);
            if (!ovst || avcodec_parameters_copy(ovst->codecpar, ivst->codecpar) < 0) {
                return MEDIA_CODE_OPEN_OUTPUT;
            }
            ovst->codecpar->codec_tag = 0;
            ovst->time_base = ivst->time_base;
            ovst->avg_frame_rate = ivst->avg_frame_rate;
            if (iast) {
                oast = avformat_new_stream(out.ctx(), nullptr);
                if (!oast || avcodec_parameters_copy(oast->codecpar, iast->codecpar) < 0) {
                    return MEDIA_CODE_OPEN_OUTPUT;
                }
                oast->codecpar->codec_tag = 0;
                oast->time_base = iast->time_base;
                splicer = std::make_unique<AudioSplicer>(out, oast);
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
            end_us == INT64_MAX ? INT64_MAX : mediaFromUs(end_us + in.startUs(), ivst->time_base);
        int64_t wanted_key = AV_NOPTS_VALUE;
        if (span.begin_us > 0 && !mediaHasSampleIndex(in)) {
            wanted_key = mediaScanKeyframeBefore(in, span.begin_us, cancel);
        }
        mediaSeekBefore(in, span.begin_us);

        int64_t base = AV_NOPTS_VALUE;  // first keyframe's pts, in the input video time base
        int64_t base_us = 0;            // the same in microseconds
        std::deque<PacketPtr> pending_audio;
        bool video_done = false;
        bool audio_done = (iast == nullptr);
        int64_t video_end_us = 0;  // ends relative to the span start
        int64_t audio_end_us = 0;
        int64_t video_packets = 0;
        const int64_t offset_v = mediaFromUs(offset_us, ovst->time_base);

        std::deque<PacketPtr> audio_tail;
        auto writeAudio = [&](AVPacket* p) -> int {
            if (p->pts == AV_NOPTS_VALUE) {
                return MEDIA_CODE_SUCCESS;
            }
            const int64_t pts_us = mediaToUs(p->pts, iast->time_base);
            if (end_us != INT64_MAX && pts_us >= end_us + in.startUs()) {
                // Past the asked end the sound follows the pictures, which may run a few frames on.
                if (!video_done) {
                    if (audio_tail.size() < kMaxPendingAudio) {
                        audio_tail.emplace_back(av_packet_clone(p));
                    }
                    return MEDIA_CODE_SUCCESS;
                }
                if (pts_us >= base_us + video_end_us) {
                    audio_done = true;
                    return MEDIA_CODE_SUCCESS;
                }
            }
            audio_end_us = std::max(audio_end_us, pts_us + mediaToUs(p->duration, iast->time_base) - base_us);
            return splicer->add(p);
        };
        auto startAudio = [&]() {
            return iast ? splicer->beginSpan(iast, mediaFromUs(base_us, iast->time_base),
                                             mediaFromUs(offset_us, iast->time_base))
                        : int(MEDIA_CODE_SUCCESS);
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
            int64_t pts_us = mediaToUs(p->pts, ivst->time_base);
            int64_t dur_us = mediaToUs(p->duration, ivst->time_base);
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

        // The pictures are complete: write the held ones, then the sound that waited for them.
        auto finishVideo = [&]() -> int {
            int r = flushTail();
            video_done = true;
            while (r == MEDIA_CODE_SUCCESS && !audio_tail.empty() && !audio_done) {
                r = writeAudio(audio_tail.front().get());
                audio_tail.pop_front();
            }
            return r;
        };

        while (!(video_done && audio_done)) {
            if (cancel.load()) {
                return MEDIA_CODE_CANCELLED;
            }
            int err = av_read_frame(in.ctx(), pkt.get());
            if (err == AVERROR_EOF) {
                rc = finishVideo();
                if (rc != MEDIA_CODE_SUCCESS) {
                    return rc;
                }
                break;
            }
            if (err < 0) {
                return mediaReadError(err, cancel, in.path());
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
                    base_us = mediaToUs(base, ivst->time_base);
                    rc = startAudio();
                    if (rc != MEDIA_CODE_SUCCESS) {
                        return rc;
                    }
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
                    rc = finishVideo();
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
        // The next span starts where the pictures end when the sound ends within one audio frame of
        // them (cut rounding), so that many short pieces add up to exactly their pictures' length.
        const int64_t audio_frame_us =
            (iast && iast->codecpar->frame_size > 0 && iast->codecpar->sample_rate > 0)
                ? int64_t(iast->codecpar->frame_size) * 1000000 / iast->codecpar->sample_rate
                : 0;
        const int64_t length_us = audio_end_us <= video_end_us + audio_frame_us
                                      ? video_end_us
                                      : std::max(video_end_us, audio_end_us);
        if (iast) {
            rc = splicer->endSpan(mediaFromUs(base_us + length_us, iast->time_base), si + 1 == spans.size());
            if (rc != MEDIA_CODE_SUCCESS) {
                return rc;
            }
        }
        offset_us += length_us;
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
