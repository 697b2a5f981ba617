#define MEDIA_LOG_SOURCE "mediacore/MediaAudioSplice"
#include "MediaAudioSplice.h"

#include "IMediaCore.h"
#include "MediaEncoderCore.h"
#include "MediaLog.h"

#include <algorithm>

// An AAC frame of F samples decodes to the F samples starting at its own timestamp, made of the
// second half of the previous frame's transform and the first half of its own: frame p covers the
// input samples [p, p + 2F). So a frame can be copied next to a re-encoded one only when both saw
// the same sound in the half they share; around a join the re-encoded frames start one frame before
// the last one holding sound of the first stretch and end where the next stretch's copied frames
// start, on that stretch's own frame grid (it is moved by at most half a frame to meet the grid).

namespace {

// Frames of a stretch held back before its join: room to start the re-encoding after a long window.
constexpr size_t kRing = 8;
// Frames of the next stretch read ahead at most before its join is made.
constexpr size_t kHead = 16;

// Planar float samples of a run of frames, decoded from a fresh decoder: frame i of `pkts` gives
// out[ch][i * frame ...]. The first frame lacks its predecessor and is not trusted by the callers.
bool decodeRun(const AVCodecParameters* par, const std::vector<const AVPacket*>& pkts, int64_t frame,
               std::vector<std::vector<float>>* out) {
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    CodecPtr dec(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!dec || avcodec_parameters_to_context(dec.get(), par) < 0 ||
        avcodec_open2(dec.get(), codec, nullptr) < 0) {
        return false;
    }
    FramePtr f(av_frame_alloc());
    if (!f) {
        return false;
    }
    const int channels = par->ch_layout.nb_channels;
    out->assign(size_t(channels), std::vector<float>(pkts.size() * size_t(frame), 0.0f));
    size_t index = 0;
    for (const AVPacket* p : pkts) {
        if (avcodec_send_packet(dec.get(), p) < 0) {
            return false;
        }
        while (avcodec_receive_frame(dec.get(), f.get()) == 0) {
            if (f->format != AV_SAMPLE_FMT_FLTP || f->nb_samples != frame || index >= pkts.size()) {
                av_frame_unref(f.get());
                return false;
            }
            for (int c = 0; c < channels; ++c) {
                const float* s = reinterpret_cast<const float*>(f->extended_data[c]);
                std::copy(s, s + frame, (*out)[size_t(c)].begin() + long(index * size_t(frame)));
            }
            ++index;
            av_frame_unref(f.get());
        }
    }
    return index == pkts.size();
}

// Encodes `feed` (planar, a whole number of frames) as AAC-LC like `par`; the packets in order,
// the encoder's leading priming frame included.
bool encodeRun(const AVCodecParameters* par, const std::vector<std::vector<float>>& feed, int64_t frame,
               std::vector<PacketPtr>* out) {
    MediaAacEncoder enc;
    // A few frames only: twice the source's rate keeps their coding noise well below the source's.
    if (!enc.openExact(par, 2 * (par->bit_rate > 0 ? par->bit_rate : 128000), int(frame))) {
        return false;
    }
    const MediaPacketSink keep = [out](AVPacket* pkt) {
        out->emplace_back(av_packet_clone(pkt));
        return bool(out->back());
    };
    std::vector<uint8_t*> planes;
    for (const std::vector<float>& ch : feed) {
        planes.push_back(reinterpret_cast<uint8_t*>(const_cast<float*>(ch.data())));
    }
    const int64_t whole = feed.empty() ? 0 : int64_t(feed[0].size()) / frame * frame;
    return enc.push(planes.data(), 0, int(whole), keep) == MediaEncodeResult::Ok &&
           enc.finish(keep) == MediaEncodeResult::Ok;
}

// window_sequence of the first channel of an AAC-LC frame (0 long, 1 long start, 2 eight short,
// 3 long stop); -1 when the frame does not start with a channel element.
int aacWindow(const AVPacket* p) {
    if (!p || p->size < 3) {
        return -1;
    }
    const uint32_t bits = (uint32_t(p->data[0]) << 16) | (uint32_t(p->data[1]) << 8) | p->data[2];
    auto take = [bits](int from, int count) {
        return int((bits >> (24 - from - count)) & ((1u << count) - 1));
    };
    const int id = take(0, 3);
    int at = 7;  // after the element id and instance tag
    if (id == 1) {
        at += take(7, 1) ? 1 : 9;  // common window flag, else the first channel's global gain
    } else if (id == 0 || id == 3) {
        at += 8;  // global gain
    } else {
        return -1;
    }
    return at + 3 <= 24 ? take(at + 1, 2) : -1;  // after the reserved bit
}

// The halves a frame shares with its neighbours are long-window slopes.
bool longLeft(const AVPacket* p) {
    const int w = aacWindow(p);
    return w == 0 || w == 1;
}
bool longRight(const AVPacket* p) {
    const int w = aacWindow(p);
    return w == 0 || w == 3;
}

}  // namespace

bool AudioSplicer::bridgeable(const AVStream* iast) {
    const AVCodecParameters* par = iast->codecpar;
    const bool lc = par->extradata_size >= 2 && (par->extradata[0] >> 3) == 2;  // AAC-LC object type
    return par->codec_id == AV_CODEC_ID_AAC && lc && par->sample_rate > 0 &&
           (par->frame_size == 0 || par->frame_size == 1024) && iast->time_base.num == 1 &&
           iast->time_base.den == par->sample_rate && par->ch_layout.nb_channels > 0 &&
           avcodec_find_decoder(AV_CODEC_ID_AAC) && MediaAacEncoder::available();
}

int AudioSplicer::beginSpan(AVStream* iast, int64_t begin, int64_t out_begin) {
    ++m_span;
    const bool ok = bridgeable(iast) && (m_span == 0 || m_bridging) &&
                    (m_span == 0 || av_cmp_q(iast->time_base, m_tb) == 0);
    if (m_span == 0) {
        m_bridging = ok;
    } else if (m_bridging && !ok) {
        m_bridging = false;
        if (m_join_pending) {
            m_join_pending = false;
            for (PacketPtr& p : m_prev.packets) {
                int rc = write(p.get(), m_prev.delta);
                if (rc != MEDIA_CODE_SUCCESS) {
                    return rc;
                }
            }
            m_prev.packets.clear();
        }
    }
    if (!m_bridging && !m_warned) {
        MLOG(MEDIA_LOG_INFO, "sound of this coding is copied at the joins, not re-encoded around them");
        m_warned = true;
    }
    m_tb = iast->time_base;
    m_par.reset(avcodec_parameters_alloc());
    if (!m_par || avcodec_parameters_copy(m_par.get(), iast->codecpar) < 0) {
        m_par.reset();
        m_bridging = false;
    }
    m_frame = iast->codecpar->frame_size > 0 ? iast->codecpar->frame_size : 1024;
    m_begin = begin;
    m_out_begin = out_begin;
    m_delta = out_begin - begin;
    m_delta_known = m_span == 0;  // the first stretch starts exactly at its pictures
    m_ring.clear();
    m_head.clear();
    return MEDIA_CODE_SUCCESS;
}

int AudioSplicer::add(const AVPacket* pkt) {
    // Two frames before the one holding the begin are kept: the decoder needs the one before a
    // frame, and a join may take up to one frame of sound before the begin.
    if (pkt->pts == AV_NOPTS_VALUE || pkt->pts + 3 * m_frame <= m_begin) {
        return MEDIA_CODE_SUCCESS;
    }
    PacketPtr p(av_packet_clone(pkt));
    if (!p) {
        return MEDIA_CODE_CODEC;
    }
    p->flags &= ~AV_PKT_FLAG_DISCARD;
    av_packet_free_side_data(p.get());
    if (!m_delta_known) {
        // On the frame grid of the track written so far, within half a frame of the pictures.
        const int64_t base = m_out_begin - m_begin;
        const int64_t r = ((p->pts + base - m_grid) % m_frame + m_frame) % m_frame;
        m_delta = r > m_frame / 2 ? base - r + m_frame : base - r;
        m_delta_known = true;
    }
    if (m_join_pending) {
        m_head.push_back(std::move(p));
        return bridge(false);
    }
    return push(std::move(p));
}

int AudioSplicer::push(PacketPtr p) {
    m_ring.push_back(std::move(p));
    while (m_ring.size() > kRing) {
        int rc = write(m_ring.front().get(), m_delta);
        m_ring.pop_front();
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
    return MEDIA_CODE_SUCCESS;
}

int AudioSplicer::write(AVPacket* p, int64_t delta, int64_t duration) {
    const int64_t pts = p->pts + delta;
    if (pts < m_written_end) {
        return MEDIA_CODE_SUCCESS;  // would overlap the sound written already
    }
    p->pts = pts;
    p->dts = pts;
    p->duration = duration > 0 ? duration : m_frame;
    m_grid = pts;
    m_written_end = pts + m_frame;
    av_packet_rescale_ts(p, m_tb, m_oast->time_base);
    p->stream_index = m_oast->index;
    p->pos = -1;
    return m_out.write(p);
}

int AudioSplicer::endSpan(int64_t end, bool last) {
    if (m_join_pending) {
        int rc = bridge(true);
        if (rc != MEDIA_CODE_SUCCESS) {
            return rc;
        }
    }
    while (!m_ring.empty() && m_ring.back()->pts >= end) {
        m_ring.pop_back();
    }
    if (last || !m_bridging || m_ring.size() < 3) {
        for (size_t i = 0; i < m_ring.size(); ++i) {
            // The track ends with the pictures: the last frame lasts only up to the end.
            const bool final = last && i + 1 == m_ring.size();
            int rc = write(m_ring[i].get(), m_delta, final ? std::max<int64_t>(1, end - m_ring[i]->pts) : 0);
            if (rc != MEDIA_CODE_SUCCESS) {
                return rc;
            }
        }
        m_ring.clear();
        return MEDIA_CODE_SUCCESS;
    }
    m_prev.packets = std::move(m_ring);
    m_ring.clear();
    m_prev.delta = m_delta;
    m_prev.end = end;
    m_prev.par = std::move(m_par);
    m_join_pending = true;
    return MEDIA_CODE_SUCCESS;
}

// Re-encodes the frames around the join of the previous stretch and this one once enough of this
// stretch's first frames are read (or, `final_try`, with what there is); copies them when it cannot.
int AudioSplicer::bridge(bool final_try) {
    if (!final_try && m_head.size() < kHead) {
        return MEDIA_CODE_SUCCESS;
    }
    m_join_pending = false;
    int64_t from = AV_NOPTS_VALUE;
    int rc = writeBridge(&from);
    if (rc == MEDIA_CODE_INCOMPATIBLE) {
        MLOG(MEDIA_LOG_INFO, "sound copied as it is at a join (no frames around it to re-encode)");
        for (PacketPtr& p : m_prev.packets) {
            rc = write(p.get(), m_prev.delta);
            if (rc != MEDIA_CODE_SUCCESS) {
                return rc;
            }
        }
        from = AV_NOPTS_VALUE;
    } else if (rc != MEDIA_CODE_SUCCESS) {
        return rc;
    }
    m_prev.packets.clear();
    return copyHead(from);
}

int AudioSplicer::copyHead(int64_t from) {
    std::vector<PacketPtr> head = std::move(m_head);
    m_head.clear();
    for (PacketPtr& p : head) {
        if (from == AV_NOPTS_VALUE || p->pts >= from) {
            int rc = push(std::move(p));
            if (rc != MEDIA_CODE_SUCCESS) {
                return rc;
            }
        }
    }
    return MEDIA_CODE_SUCCESS;
}

// The previous stretch's last frames (the last holds its end) and this stretch's first ones: the
// re-encoded run starts after a copied frame ending in a long window (at least one frame before the
// end, so that the shared half holds sound of the previous stretch only) and ends before a copied
// frame q starting with one, at or after the point where this stretch's sound starts; its own last
// frame must end in a long window too. *from receives q.
int AudioSplicer::writeBridge(int64_t* from) {
    const std::deque<PacketPtr>& a = m_prev.packets;
    const int64_t f = m_frame;
    if (a.size() < 3 || m_head.size() < 3) {
        return MEDIA_CODE_INCOMPATIBLE;
    }
    std::vector<const AVPacket*> pa, pc;
    for (const PacketPtr& p : a) {
        pa.push_back(p.get());
    }
    for (const PacketPtr& p : m_head) {
        pc.push_back(p.get());
    }
    // Where this stretch's sound takes over: at the end of the previous one, unless this one's trusted
    // sound starts later (a piece without frames before its begin), then as late as the previous
    // one's trusted sound allows.
    m_switch = std::max(m_prev.end + m_prev.delta, m_head[1]->pts + m_delta);
    m_switch = std::min(m_switch, std::max(m_prev.end, a.back()->pts + f) + m_prev.delta);
    Samples sa, sc;
    if (!decodeRun(m_prev.par.get(), pa, f, &sa) || !decodeRun(m_par.get(), pc, f, &sc)) {
        MLOG(MEDIA_LOG_ERROR, "cannot decode the sound around a join");
        return MEDIA_CODE_INCOMPATIBLE;
    }
    for (size_t start = a.size() - 2; start >= 1; --start) {
        if (!longRight(a[start - 1].get())) {
            continue;
        }
        int rc = bridgeFrom(start, pa, pc, sa, sc, from);
        if (rc != MEDIA_CODE_INCOMPATIBLE) {
            return rc;
        }
    }
    return MEDIA_CODE_INCOMPATIBLE;
}

// The run re-encoded from the previous stretch's frame `start` on; MEDIA_CODE_INCOMPATIBLE when the
// encoder's windows do not meet the copied frames' there.
int AudioSplicer::bridgeFrom(size_t start, const std::vector<const AVPacket*>& pa,
                             const std::vector<const AVPacket*>& pc, const Samples& sa, const Samples& sc,
                             int64_t* from) {
    const std::deque<PacketPtr>& a = m_prev.packets;
    const int64_t f = m_frame;
    const int64_t out_start = a[start]->pts + m_prev.delta;
    const int64_t out_switch = m_switch;
    // Sound at an input time of one side, from its trusted frames only (all but the first).
    auto sample = [f](const Samples& s, const std::vector<const AVPacket*>& pk, size_t ch,
                      int64_t t) -> float {
        const int64_t i = t - pk.front()->pts;
        if (ch >= s.size() || i < f || i >= int64_t(s[ch].size())) {
            return 0.0f;
        }
        return s[ch][size_t(i)];
    };
    for (size_t k = 1; k + 1 < m_head.size(); ++k) {
        const int64_t q = m_head[k]->pts;
        const int64_t out_stop = q + m_delta;
        if (out_stop - f < out_switch || !longLeft(m_head[k].get())) {
            continue;
        }
        if ((out_stop - out_start) % f != 0) {
            MLOG(MEDIA_LOG_ERROR, "sound frames of a join off their grid (%lld)",
                 (long long)(out_stop - out_start));
            return MEDIA_CODE_INCOMPATIBLE;
        }
        // The encoder starts from silence, which it takes for an attack (short windows): it is fed
        // `pre` frames of the previous stretch's sound first, whose packets are not used. Two frames
        // past the last re-encoded one are fed: its second half and the encoder's look-ahead.
        const int64_t pre = std::min<int64_t>(3, int64_t(start) - 1);
        const int64_t n = (out_stop - out_start) / f;
        const size_t len = size_t((pre + n + 2) * f);
        std::vector<std::vector<float>> feed(sa.size(), std::vector<float>(len, 0.0f));
        for (size_t c = 0; c < feed.size(); ++c) {
            for (size_t i = 0; i < len; ++i) {
                const int64_t u = out_start - pre * f + int64_t(i);
                feed[c][i] =
                    u < out_switch ? sample(sa, pa, c, u - m_prev.delta) : sample(sc, pc, c, u - m_delta);
            }
        }
        std::vector<PacketPtr> enc;
        if (!encodeRun(m_par.get(), feed, f, &enc) || int64_t(enc.size()) < pre + n + 1) {
            MLOG(MEDIA_LOG_ERROR, "cannot encode the sound around a join");
            return MEDIA_CODE_INCOMPATIBLE;
        }
        if (!longLeft(enc[size_t(pre + 1)].get())) {
            return MEDIA_CODE_INCOMPATIBLE;
        }
        if (!longRight(enc[size_t(pre + n)].get())) {
            continue;  // a short window at the end of the run: end one frame later
        }
        for (size_t i = 0; i < start; ++i) {
            int rc = write(a[i].get(), m_prev.delta);
            if (rc != MEDIA_CODE_SUCCESS) {
                return rc;
            }
        }
        // The encoder's first packet is its priming frame; packet j then covers feed [(j-1)F, (j+1)F).
        for (int64_t j = 1; j <= n; ++j) {
            AVPacket* p = enc[size_t(pre + j)].get();
            p->pts = out_start + (j - 1) * f - m_delta;  // written through this stretch's mapping
            p->flags = AV_PKT_FLAG_KEY;
            av_packet_free_side_data(p);
            int rc = write(p, m_delta);
            if (rc != MEDIA_CODE_SUCCESS) {
                return rc;
            }
        }
        *from = q;
        return MEDIA_CODE_SUCCESS;
    }
    return MEDIA_CODE_INCOMPATIBLE;
}
