#define MEDIA_LOG_SOURCE "mediacore/MediaSmartCut"
#include "MediaSmartCut.h"

#include "FfmpegPtr.h"
#include "IMediaCore.h"
#include "MediaEncoderCore.h"
#include "MediaH264.h"
#include "MediaInput.h"
#include "MediaLog.h"
#include "MediaOutput.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <queue>

namespace {

constexpr int kOpenTimeoutMs = 10000;
// Audio read before the first kept picture is known is held back at most this many packets.
constexpr size_t kMaxPendingAudio = 8192;
// A group of pictures longer than this (packets) is not buffered; the segment is re-encoded instead.
constexpr size_t kMaxGopPackets = 3000;
// Sound read before the begin: the frames a join may need there (three AAC frames and more).
constexpr int64_t kAudioLeadUs = 200000;

using MinHeap = std::priority_queue<int64_t, std::vector<int64_t>, std::greater<int64_t>>;

class SmartCut {
public:
    SmartCut(const MediaSpan& span, const std::atomic<bool>& cancel) : m_span(span), m_cancel(cancel) {}
    int run(const std::string& out_path);
    const SmartCutStats& stats() const { return m_stats; }

private:
    int checkSource();
    bool openEncoder(MediaVideoEncoder* enc);
    int setupOutput(const std::string& out_path);
    int readLoop();
    int onVideoPacket(AVPacket* pkt);
    int processGop();
    int reencode(const std::vector<int64_t>& wanted);
    int drainEncoder(AVCodecContext* enc);
    int writeVideo(AVPacket* pkt);
    int onAudioPacket(AVPacket* pkt);
    int flushHeldAudio();

    const MediaSpan m_span;
    const std::atomic<bool>& m_cancel;
    SmartCutStats m_stats;
    MediaInput m_in;
    Mp4Output m_out;
    AVStream* m_ivst = nullptr;
    AVStream* m_iast = nullptr;
    AVStream* m_ovst = nullptr;
    AVStream* m_oast = nullptr;
    AvcConfig m_config;
    int m_enc_id = 1;     // parameter set id of the re-encoded pictures
    int m_reorder = 0;    // reorder depth of the source, followed by the re-encoded pictures
    int64_t m_begin = 0;  // asked stretch, source video time base (absolute)
    int64_t m_end = 0;
    int64_t m_frame = 1;                // one picture's duration in the video time base
    int64_t m_origin = AV_NOPTS_VALUE;  // pts of the first kept picture: output time 0
    std::vector<PacketPtr> m_gop;       // packets of the current group, decode order
    bool m_video_done = false;
    bool m_audio_done = true;
    MinHeap m_pts_heap;  // output dts are the pts of the output, taken in order, m_reorder behind
    int64_t m_video_count = 0;
    int64_t m_last_dts = AV_NOPTS_VALUE;
    int64_t m_audio_begin = 0;  // kept audio: packets starting in [begin, end), audio time base
    int64_t m_audio_end = 0;
    int64_t m_audio_next = INT64_MIN;  // lowest output pts the next audio packet may have
    std::deque<PacketPtr> m_held_audio;
};

int SmartCut::run(const std::string& out_path) {
    if (!m_in.open(m_span.path, &m_cancel, kOpenTimeoutMs)) {
        return m_cancel.load() ? MEDIA_CODE_CANCELLED : MEDIA_CODE_OPEN_INPUT;
    }
    m_in.setTimeout(0);
    int rc = checkSource();
    if (rc != MEDIA_CODE_SUCCESS) {
        return rc;
    }
    rc = setupOutput(out_path);
    if (rc != MEDIA_CODE_SUCCESS) {
        return rc;
    }
    rc = readLoop();
    if (rc != MEDIA_CODE_SUCCESS) {
        return rc;
    }
    if (m_video_count == 0) {
        MLOG(MEDIA_LOG_ERROR, "no picture between %lld and %lld us in %s", (long long)m_span.begin_us,
             (long long)m_span.end_us, m_in.path().c_str());
        return MEDIA_CODE_READ;
    }
    return m_out.finish();
}

// Only H.264 4:2:0 8-bit in a length-prefixed configuration record can be spliced here.
int SmartCut::checkSource() {
    if (m_in.videoIndex() < 0) {
        MLOG(MEDIA_LOG_ERROR, "no video stream in %s", m_in.path().c_str());
        return MEDIA_CODE_NO_STREAM;
    }
    m_ivst = m_in.ctx()->streams[m_in.videoIndex()];
    m_iast = m_in.audioIndex() >= 0 ? m_in.ctx()->streams[m_in.audioIndex()] : nullptr;
    const AVCodecParameters* par = m_ivst->codecpar;
    if (par->codec_id != AV_CODEC_ID_H264 || par->format != AV_PIX_FMT_YUV420P ||
        !m_config.parse(par->extradata, par->extradata_size)) {
        MLOG(MEDIA_LOG_INFO, "video of %s is not H.264 4:2:0 with a configuration record",
             m_in.path().c_str());
        return MEDIA_CODE_INCOMPATIBLE;
    }
    int used = -1;
    for (const std::string& s : m_config.sps) {
        used = std::max(used, h264SpsId(s));
    }
    for (const std::string& p : m_config.pps) {
        used = std::max(used, h264PpsId(p));
    }
    m_enc_id = used + 1;
    if (used < 0 || m_enc_id > 31) {
        MLOG(MEDIA_LOG_INFO, "no free parameter set id in %s", m_in.path().c_str());
        return MEDIA_CODE_INCOMPATIBLE;
    }
    AVRational rate = m_ivst->avg_frame_rate.num > 0 ? m_ivst->avg_frame_rate : m_ivst->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) {
        MLOG(MEDIA_LOG_INFO, "no frame rate in %s", m_in.path().c_str());
        return MEDIA_CODE_INCOMPATIBLE;
    }
    m_frame = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), m_ivst->time_base));
    m_reorder = std::max(0, par->video_delay);
    const int64_t start_us = m_in.startUs();
    m_begin = mediaFromUs(m_span.begin_us + start_us, m_ivst->time_base);
    m_end = m_span.end_us < 0 ? INT64_MAX : mediaFromUs(m_span.end_us + start_us, m_ivst->time_base);
    return MEDIA_CODE_SUCCESS;
}

// An encoder whose pictures the source's decoder state can follow: same size, format, colour
// tags, aspect, rate, profile and level, no deeper reordering than the source, a closed group
// starting with an IDR, and parameter sets under an id the source does not use.
bool SmartCut::openEncoder(MediaVideoEncoder* enc) {
    const AVCodecParameters* par = m_ivst->codecpar;
    MediaVideoSettings v;
    v.profile = par->profile == FF_PROFILE_H264_HIGH                                        ? "high"
                : par->profile == FF_PROFILE_H264_MAIN                                      ? "main"
                : (par->profile & ~FF_PROFILE_H264_CONSTRAINED) == FF_PROFILE_H264_BASELINE ? "baseline"
                                                                                            : "";
    if (v.profile.empty()) {
        MLOG(MEDIA_LOG_INFO, "H.264 profile %d of %s is not re-encoded in place", par->profile,
             m_in.path().c_str());
        return false;
    }
    v.width = par->width;
    v.height = par->height;
    v.exact_size = true;
    v.sample_aspect_ratio = par->sample_aspect_ratio.num > 0 ? par->sample_aspect_ratio : AVRational{1, 1};
    v.color_range = par->color_range;
    v.color_primaries = par->color_primaries;
    v.color_trc = par->color_trc;
    v.colorspace = par->color_space;
    v.chroma_location = par->chroma_location;
    v.time_base = m_ivst->time_base;
    v.frame_rate = m_ivst->avg_frame_rate.num > 0 ? m_ivst->avg_frame_rate : m_ivst->r_frame_rate;
    v.gop_size = 1 << 20;  // one IDR at the start of each re-encoded stretch
    v.level = par->level > 0 ? par->level : -1;
    v.sps_id = m_enc_id;
    v.x264_params = "scenecut=0:open-gop=0";
    v.max_b_frames = m_reorder == 0 ? 0 : m_reorder == 1 ? 2 : 3;
    v.b_pyramid = m_reorder == 0 ? "" : m_reorder == 1 ? "none" : "normal";
    // Quality: constant rate factor 18 (close to transparent for x264), capped at three times the
    // source's average rate so that a noisy stretch cannot blow up the piece.
    v.crf = 18;
    v.crf_max_rate = par->bit_rate > 0 ? 3 * (par->bit_rate / 1000) * 1000 : 0;
    return enc->open(v, true);
}

int SmartCut::setupOutput(const std::string& out_path) {
    // The configuration record carries the source's parameter sets and the encoder's side by side
    // (distinct ids), so copied and re-encoded samples share one sample description.
    MediaVideoEncoder enc;
    if (!openEncoder(&enc)) {
        return MEDIA_CODE_INCOMPATIBLE;
    }
    AvcConfig merged = m_config;
    for (const std::string& nal : h264SplitAnnexB(enc.ctx()->extradata, enc.ctx()->extradata_size)) {
        int type = nal.empty() ? 0 : (nal[0] & 0x1f);
        if (type == 7 && h264SpsId(nal) == m_enc_id) {
            merged.sps.push_back(nal);
        } else if (type == 8 && h264PpsId(nal) == m_enc_id) {
            merged.pps.push_back(nal);
        }
    }
    if (merged.sps.size() != m_config.sps.size() + 1 || merged.pps.size() != m_config.pps.size() + 1) {
        MLOG(MEDIA_LOG_ERROR, "the H.264 encoder gave no parameter sets with id %d", m_enc_id);
        return MEDIA_CODE_INCOMPATIBLE;
    }
    int rc = m_out.create(out_path, m_cancel);
    if (rc != MEDIA_CODE_SUCCESS) {
        return rc;
    }
    m_ovst = avformat_new_stream(m_out.ctx(), nullptr);
    if (!m_ovst || avcodec_parameters_copy(m_ovst->codecpar, m_ivst->codecpar) < 0) {
        return MEDIA_CODE_OPEN_OUTPUT;
    }
    const std::string avcc = merged.build();
    av_freep(&m_ovst->codecpar->extradata);
    m_ovst->codecpar->extradata =
        static_cast<uint8_t*>(av_mallocz(avcc.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!m_ovst->codecpar->extradata) {
        return MEDIA_CODE_OPEN_OUTPUT;
    }
    std::copy(avcc.begin(), avcc.end(), m_ovst->codecpar->extradata);
    m_ovst->codecpar->extradata_size = int(avcc.size());
    m_ovst->codecpar->codec_tag = 0;
    m_ovst->time_base = m_ivst->time_base;
    m_ovst->avg_frame_rate = m_ivst->avg_frame_rate;
    if (m_iast) {
        m_oast = avformat_new_stream(m_out.ctx(), nullptr);
        if (!m_oast || avcodec_parameters_copy(m_oast->codecpar, m_iast->codecpar) < 0) {
            return MEDIA_CODE_OPEN_OUTPUT;
        }
        m_oast->codecpar->codec_tag = 0;
        m_oast->time_base = m_iast->time_base;
        m_audio_done = false;
        m_audio_end =
            m_end == INT64_MAX ? INT64_MAX : av_rescale_q(m_end, m_ivst->time_base, m_iast->time_base);
    }
    return m_out.open(out_path);
}

int SmartCut::readLoop() {
    // A little early, so that the sound frames before the first picture are read too (the file may
    // hold them before the key frame at the begin).
    mediaSeekBefore(m_in, std::max<int64_t>(0, m_span.begin_us - kAudioLeadUs));
    PacketPtr pkt(av_packet_alloc());
    if (!pkt) {
        return MEDIA_CODE_CODEC;
    }
    while (!(m_video_done && m_audio_done)) {
        if (m_cancel.load()) {
            return MEDIA_CODE_CANCELLED;
        }
        int err = av_read_frame(m_in.ctx(), pkt.get());
        if (err == AVERROR_EOF) {
            break;
        }
        if (err < 0) {
            return mediaReadError(err, m_cancel, m_in.path());
        }
        int rc = MEDIA_CODE_SUCCESS;
        if (pkt->stream_index == m_in.videoIndex() && !m_video_done) {
            rc = onVideoPacket(pkt.get());
        } else if (m_iast && pkt->stream_index == m_in.audioIndex() && !m_audio_done) {
            rc = onAudioPacket(pkt.get());
        }
        av_packet_unref(pkt.get());
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
    if (!m_video_done) {
        int rc = processGop();
        m_video_done = true;
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
    return flushHeldAudio();
}

int SmartCut::onVideoPacket(AVPacket* pkt) {
    if (pkt->pts == AV_NOPTS_VALUE) {
        MLOG(MEDIA_LOG_INFO, "video packet without timestamp in %s", m_in.path().c_str());
        return MEDIA_CODE_INCOMPATIBLE;
    }
    const bool key = pkt->flags & AV_PKT_FLAG_KEY;
    if (m_gop.empty() && !key) {
        return MEDIA_CODE_SUCCESS;  // before the first key frame after the seek
    }
    if (key) {
        // Every group boundary must be a clean random access point: an IDR (closed group, nothing
        // after it refers to pictures before it).
        if (!h264SampleHasIdr(pkt->data, pkt->size, m_config.nal_length)) {
            MLOG(MEDIA_LOG_INFO, "key frame at pts %lld of %s is not an IDR picture (open group)",
                 (long long)pkt->pts, m_in.path().c_str());
            return MEDIA_CODE_INCOMPATIBLE;
        }
        if (m_gop.empty() && pkt->pts > m_begin && pkt->pts > m_ivst->start_time) {
            MLOG(MEDIA_LOG_INFO, "seek in %s landed after the asked begin", m_in.path().c_str());
            return MEDIA_CODE_INCOMPATIBLE;
        }
        if (!m_gop.empty()) {
            int rc = processGop();
            m_gop.clear();
            if (rc != MEDIA_CODE_SUCCESS) {
                return rc;
            }
        }
        if (pkt->pts >= m_end) {
            m_video_done = true;
            return flushHeldAudio();
        }
    } else if (!m_gop.empty() && pkt->pts < m_gop.front()->pts) {
        MLOG(MEDIA_LOG_INFO, "picture shown before its key frame in %s (open group)", m_in.path().c_str());
        return MEDIA_CODE_INCOMPATIBLE;
    }
    if (m_gop.size() >= kMaxGopPackets) {
        MLOG(MEDIA_LOG_INFO, "group of pictures too long in %s", m_in.path().c_str());
        return MEDIA_CODE_INCOMPATIBLE;
    }
    PacketPtr copy(av_packet_clone(pkt));
    if (!copy) {
        return MEDIA_CODE_CODEC;
    }
    m_gop.push_back(std::move(copy));
    return MEDIA_CODE_SUCCESS;
}

// One group (decode order, starting at an IDR): copied whole when inside the stretch; otherwise its
// kept pictures are re-encoded, except a leading run that can be copied as it is (a decode-order
// prefix showing exactly the first pictures of the group, all before the end).
int SmartCut::processGop() {
    std::vector<int64_t> kept;
    for (const PacketPtr& p : m_gop) {
        if (p->pts >= m_begin && p->pts < m_end) {
            kept.push_back(p->pts);
        }
    }
    if (kept.empty()) {
        return MEDIA_CODE_SUCCESS;
    }
    std::sort(kept.begin(), kept.end());
    if (m_origin == AV_NOPTS_VALUE) {
        m_origin = kept.front();
        if (m_iast) {
            m_audio_begin = av_rescale_q(m_origin, m_ivst->time_base, m_iast->time_base);
            if (m_end != INT64_MAX) {
                // The sound ends with the last kept picture (constant rate from the first).
                const int64_t shown = (m_end - m_origin + m_frame - 1) / m_frame * m_frame;
                m_audio_end = av_rescale_q(m_origin + shown, m_ivst->time_base, m_iast->time_base);
            }
        }
        int rc = flushHeldAudio();
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
    size_t copy_count = 0;
    if (m_gop.front()->pts >= m_begin) {
        std::vector<int64_t> order;
        for (const PacketPtr& p : m_gop) {
            order.push_back(p->pts);
        }
        std::vector<int64_t> sorted = order;
        std::sort(sorted.begin(), sorted.end());
        int64_t shown = INT64_MIN;
        for (size_t i = 0; i < order.size() && order[i] < m_end; ++i) {
            shown = std::max(shown, order[i]);
            if (shown == sorted[i]) {
                copy_count = i + 1;  // the first i + 1 packets show exactly the first i + 1 pictures
            }
        }
    }
    for (size_t i = 0; i < copy_count; ++i) {
        // The writer takes the packet's data; the group keeps its own for decoding the rest.
        PacketPtr p(av_packet_clone(m_gop[i].get()));
        if (!p) {
            return MEDIA_CODE_CODEC;
        }
        int rc = writeVideo(p.get());
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
    m_stats.copied_frames += int64_t(copy_count);
    std::vector<int64_t> wanted;
    for (int64_t pts : kept) {
        bool copied = false;
        for (size_t i = 0; i < copy_count && !copied; ++i) {
            copied = m_gop[i]->pts == pts;
        }
        if (!copied) {
            wanted.push_back(pts);
        }
    }
    return wanted.empty() ? MEDIA_CODE_SUCCESS : reencode(wanted);
}

// Decodes the group from its IDR and encodes the wanted pictures (ascending pts) as one closed group.
int SmartCut::reencode(const std::vector<int64_t>& wanted) {
    const AVCodec* dcodec = avcodec_find_decoder(AV_CODEC_ID_H264);
    CodecPtr dec(dcodec ? avcodec_alloc_context3(dcodec) : nullptr);
    if (!dec || avcodec_parameters_to_context(dec.get(), m_ivst->codecpar) < 0) {
        return MEDIA_CODE_CODEC;
    }
    dec->pkt_timebase = m_ivst->time_base;
    dec->thread_count = 0;
    if (avcodec_open2(dec.get(), dcodec, nullptr) < 0) {
        MLOG(MEDIA_LOG_ERROR, "cannot open the video decoder for %s", m_in.path().c_str());
        return MEDIA_CODE_CODEC;
    }
    MediaVideoEncoder enc;
    if (!openEncoder(&enc)) {
        return MEDIA_CODE_CODEC;
    }
    FramePtr frame(av_frame_alloc());
    if (!frame) {
        return MEDIA_CODE_CODEC;
    }
    size_t sent = 0;
    auto receive = [&]() -> int {
        for (;;) {
            int err = avcodec_receive_frame(dec.get(), frame.get());
            if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) {
                return MEDIA_CODE_SUCCESS;
            }
            if (err < 0) {
                MLOG(MEDIA_LOG_ERROR, "decoding failed in %s: %s", m_in.path().c_str(),
                     mediaErrorText(err).c_str());
                return MEDIA_CODE_READ;
            }
            int64_t pts =
                frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
            if (sent < wanted.size() && pts == wanted[sent]) {
                frame->pts = pts;
                frame->pict_type = AV_PICTURE_TYPE_NONE;
                err = avcodec_send_frame(enc.ctx(), frame.get());
                if (err < 0) {
                    MLOG(MEDIA_LOG_ERROR, "encoding failed: %s", mediaErrorText(err).c_str());
                    return MEDIA_CODE_CODEC;
                }
                ++sent;
            }
            av_frame_unref(frame.get());
            int rc = drainEncoder(enc.ctx());
            if (rc != MEDIA_CODE_SUCCESS) {
                return rc;
            }
        }
    };
    for (size_t i = 0; i < m_gop.size() && sent < wanted.size(); ++i) {
        if (m_cancel.load()) {
            return MEDIA_CODE_CANCELLED;
        }
        int err = avcodec_send_packet(dec.get(), m_gop[i].get());
        if (err < 0 && err != AVERROR(EAGAIN)) {
            MLOG(MEDIA_LOG_ERROR, "damaged video packet in %s: %s", m_in.path().c_str(),
                 mediaErrorText(err).c_str());
            return MEDIA_CODE_READ;
        }
        int rc = receive();
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
    if (sent < wanted.size()) {
        avcodec_send_packet(dec.get(), nullptr);
        int rc = receive();
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
    if (sent != wanted.size()) {
        MLOG(MEDIA_LOG_ERROR, "decoded %d of %d pictures to re-encode in %s", int(sent), int(wanted.size()),
             m_in.path().c_str());
        return MEDIA_CODE_READ;
    }
    m_stats.reencoded_frames += int64_t(sent);
    avcodec_send_frame(enc.ctx(), nullptr);
    return drainEncoder(enc.ctx());
}

int SmartCut::drainEncoder(AVCodecContext* enc) {
    PacketPtr pkt(av_packet_alloc());
    if (!pkt) {
        return MEDIA_CODE_CODEC;
    }
    for (;;) {
        int err = avcodec_receive_packet(enc, pkt.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) {
            return MEDIA_CODE_SUCCESS;
        }
        if (err < 0) {
            MLOG(MEDIA_LOG_ERROR, "encoding failed: %s", mediaErrorText(err).c_str());
            return MEDIA_CODE_CODEC;
        }
        // libx264 gives Annex-B; the samples of the output are length-prefixed like the source's.
        const std::string sample = h264ToSample(h264SplitAnnexB(pkt->data, pkt->size), m_config.nal_length);
        PacketPtr out(av_packet_alloc());
        if (!out || av_new_packet(out.get(), int(sample.size())) < 0) {
            return MEDIA_CODE_CODEC;
        }
        std::copy(sample.begin(), sample.end(), out->data);
        out->pts = pkt->pts;
        out->flags = pkt->flags & AV_PKT_FLAG_KEY;
        av_packet_unref(pkt.get());
        int rc = writeVideo(out.get());
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
}

// One timeline for copied and re-encoded pictures: pts moved so that the first kept picture shows
// at 0; dts are the output's pts taken in ascending order, m_reorder pictures behind (what a decoder
// with that reorder depth needs), so they rise strictly whatever mix of groups precedes.
int SmartCut::writeVideo(AVPacket* pkt) {
    const int64_t pts = pkt->pts - m_origin;
    m_pts_heap.push(pts);
    int64_t dts;
    if (m_video_count < m_reorder) {
        dts = -(m_reorder - m_video_count) * m_frame;
    } else {
        dts = m_pts_heap.top();
        m_pts_heap.pop();
    }
    if (m_last_dts != AV_NOPTS_VALUE && dts <= m_last_dts) {
        dts = m_last_dts + 1;
    }
    if (dts > pts) {
        MLOG(MEDIA_LOG_ERROR, "pictures reordered deeper than %d in %s", m_reorder, m_in.path().c_str());
        return MEDIA_CODE_INCOMPATIBLE;
    }
    m_last_dts = dts;
    ++m_video_count;
    pkt->pts = pts;
    pkt->dts = dts;
    pkt->duration = m_frame;
    pkt->stream_index = m_ovst->index;
    pkt->pos = -1;
    return m_out.write(pkt);
}

// The AAC frames holding the sound of [first kept picture, end of the last one), with their own
// timestamps (in step with the pictures to the sample), and the two frames before: the decoder needs
// a frame's predecessor, and a join may take up to one frame of sound before the first picture. The
// track starts at the first picture (the frames before it are skipped by the file's edit list) and
// ends with the last picture (the last frame's duration is cut), so the piece is as long as its
// pictures and decodes to exactly their sound.
int SmartCut::onAudioPacket(AVPacket* pkt) {
    if (pkt->pts == AV_NOPTS_VALUE) {
        return MEDIA_CODE_SUCCESS;
    }
    if (m_origin == AV_NOPTS_VALUE) {
        if (m_held_audio.size() < kMaxPendingAudio) {
            m_held_audio.emplace_back(av_packet_clone(pkt));
        }
        return MEDIA_CODE_SUCCESS;
    }
    const int64_t frame = pkt->duration > 0 ? pkt->duration : 1024;
    if (pkt->pts + 3 * frame <= m_audio_begin) {
        return MEDIA_CODE_SUCCESS;
    }
    if (pkt->pts >= m_audio_end) {
        m_audio_done = true;
        return MEDIA_CODE_SUCCESS;
    }
    pkt->duration = m_audio_end == INT64_MAX ? frame : std::min(frame, m_audio_end - pkt->pts);
    pkt->pts -= m_audio_begin;
    if (pkt->pts < m_audio_next) {
        return MEDIA_CODE_SUCCESS;  // a repeated timestamp would break the timeline
    }
    pkt->dts = pkt->pts;
    pkt->flags &= ~AV_PKT_FLAG_DISCARD;
    av_packet_free_side_data(pkt);
    m_audio_next = pkt->pts + frame;
    pkt->stream_index = m_oast->index;
    pkt->pos = -1;
    return m_out.write(pkt);
}

int SmartCut::flushHeldAudio() {
    if (m_origin == AV_NOPTS_VALUE) {
        return MEDIA_CODE_SUCCESS;
    }
    while (!m_held_audio.empty()) {
        PacketPtr p = std::move(m_held_audio.front());
        m_held_audio.pop_front();
        if (p && !m_audio_done) {
            int rc = onAudioPacket(p.get());
            if (rc != MEDIA_CODE_SUCCESS) {
                return rc;
            }
        }
    }
    return MEDIA_CODE_SUCCESS;
}

}  // namespace

int mediaSmartCut(const MediaSpan& span, const std::string& out_path, const std::atomic<bool>& cancel,
                  SmartCutStats* stats) {
    SmartCut cut(span, cancel);
    int rc = cut.run(out_path);
    if (stats) {
        *stats = cut.stats();
    }
    return rc;
}
