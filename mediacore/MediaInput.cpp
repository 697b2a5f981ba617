#define MEDIA_LOG_SOURCE "mediacore/MediaInput"
#include "MediaInput.h"

#include "FfmpegPtr.h"
#include "IMediaCore.h"
#include "MediaLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/time.h>
}

namespace {

// Demuxers of the containers a class recording or an edited piece can come in. Playlist-like
// demuxers (concat, hls, dash, image sequences) are absent so a file can never open other files.
const char* const kFormatWhitelist =
    "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,flv,mpegts,avi,h264,hevc,m4v,aac,mp3,wav,ogg,asf";

constexpr int64_t kProbeSize = 5 * 1024 * 1024;
constexpr int64_t kAnalyzeDurationUs = 5 * 1000 * 1000;
// Packets read to check the timestamps of a file for stream copy.
constexpr int kTimestampCheckPackets = 120;
// Bytes of a file's start looked at before it is opened, as in libavformat's first probing pass: the
// signatures of containers and playlists are there, and probing them costs well under a millisecond.
constexpr size_t kSniffBytes = 4096;
constexpr size_t kTextBytes = kSniffBytes;

// "scheme:" at the start of `s` (two or more characters, so that a drive letter is not one); options
// may follow the scheme's name before the colon ("subfile,,start,0,end,9,,:").
bool startsWithScheme(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && (isalnum(static_cast<unsigned char>(s[i])) || s[i] == '+' || s[i] == '-' ||
                            s[i] == '.' || s[i] == ',')) {
        ++i;
    }
    return i >= 2 && i < s.size() && s[i] == ':' && isalpha(static_cast<unsigned char>(s[0]));
}

bool looksLikeAddress(const std::string& s) {
    return s.find("://") != std::string::npos || startsWithScheme(s);
}

// No control characters other than white space: a text, whatever else it is.
bool isText(const std::vector<unsigned char>& head) {
    const size_t n = std::min(head.size(), kTextBytes);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = head[i];
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') {
            return false;
        }
    }
    return n > 0;
}

// A text that names other files or addresses: playlists (M3U, HLS, PLS, XSPF, DASH), edit lists (mpv
// EDL, ffconcat) and protocol strings (concat:, subfile:, data:, URLs). Their players would follow
// the names; a recording never looks like this.
bool namesOtherFiles(const std::vector<unsigned char>& head) {
    const std::string text(head.begin(), head.begin() + std::min(head.size(), kTextBytes));
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(tolower(c)); });
    for (const char* marker :
         {"://", "concat:", "subfile", "data:", "file:", "ffconcat", "# mpv edl", "#ext", "[playlist]"}) {
        if (lower.find(marker) != std::string::npos) {
            return true;
        }
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        size_t i = start;
        while (i < end && isspace(static_cast<unsigned char>(text[i]))) {
            ++i;
        }
        // A line that is a path, a markup element or a directive.
        if (i < end && strchr("/.~<#[", text[i]) != nullptr) {
            return true;
        }
        if (i < end && startsWithScheme(text.substr(i, end - i))) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::vector<unsigned char> readHead(const std::string& path) {
    std::vector<unsigned char> head(kSniffBytes);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return {};
    }
    size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = ::read(fd, head.data() + got, head.size() - got);
        if (n <= 0) {
            break;
        }
        got += size_t(n);
    }
    ::close(fd);
    head.resize(got);
    return head;
}

// The demuxer FFmpeg would pick for these bytes alone (the name is left out: ".mp4" proves nothing).
const AVInputFormat* formatOf(const std::vector<unsigned char>& head) {
    std::vector<unsigned char> buf(head);
    buf.resize(head.size() + AVPROBE_PADDING_SIZE, 0);
    AVProbeData pd{};
    pd.filename = "";
    pd.buf = buf.data();
    pd.buf_size = int(head.size());
    int score = AVPROBE_SCORE_RETRY;
    return av_probe_input_format2(&pd, 1, &score);
}

// A unit of a second or more cannot time the pictures or samples of a real recording: FFmpeg puts
// 1/1 in place of an MP4 timescale of 0, and timestamps counted in it put the media hours away.
bool usableTimeBase(AVRational tb) {
    return tb.num > 0 && tb.den > 0 && tb.num < tb.den;
}

}  // namespace

const char* mediaFormatWhitelist() {
    return kFormatWhitelist;
}

std::string mediaNormalizePath(const std::string& path) {
    std::string p = path;
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

bool mediaIsRegularFile(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string mediaRefusalOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return looksLikeAddress(path) ? "an address or protocol string, not a file" : std::string();
    }
    if (!S_ISREG(st.st_mode)) {
        return "not a regular file";
    }
    const std::vector<unsigned char> head = readHead(path);
    if (isText(head) && namesOtherFiles(head)) {
        return "a text naming other files or addresses (playlist or edit list)";
    }
    const AVInputFormat* fmt = head.empty() ? nullptr : formatOf(head);
    if (fmt && fmt->name && av_match_list(fmt->name, kFormatWhitelist, ',') <= 0) {
        return std::string("a container that is not allowed: ") + fmt->name;
    }
    return std::string();
}

MediaInput::~MediaInput() {
    if (m_ctx) {
        avformat_close_input(&m_ctx);
    }
}

int MediaInput::interruptCallback(void* opaque) {
    auto* self = static_cast<MediaInput*>(opaque);
    if (self->m_cancel && self->m_cancel->load()) {
        return 1;
    }
    return self->m_deadline_us > 0 && av_gettime_relative() > self->m_deadline_us ? 1 : 0;
}

void MediaInput::setTimeout(int timeout_ms) {
    m_deadline_us = timeout_ms > 0 ? av_gettime_relative() + int64_t(timeout_ms) * 1000 : 0;
}

bool MediaInput::open(const std::string& rawPath, const std::atomic<bool>* cancel, int timeout_ms,
                      bool analyze) {
    m_path = mediaNormalizePath(rawPath);
    m_cancel = cancel;
    m_refused = false;
    if (m_path.empty()) {
        MLOG(MEDIA_LOG_ERROR, "no media file given");
        return false;
    }
    const std::string refusal = mediaRefusalOf(m_path);
    if (!refusal.empty()) {
        m_refused = true;
        MLOG(MEDIA_LOG_ERROR, "media file refused, %s: %s", refusal.c_str(), m_path.c_str());
        return false;
    }
    if (!mediaIsRegularFile(m_path)) {
        MLOG(MEDIA_LOG_ERROR, "media file missing or not a regular file:%s", m_path.c_str());
        return false;
    }
    m_ctx = avformat_alloc_context();
    if (!m_ctx) {
        MLOG(MEDIA_LOG_ERROR, "out of memory opening:%s", m_path.c_str());
        return false;
    }
    setTimeout(timeout_ms);
    m_ctx->interrupt_callback.callback = &MediaInput::interruptCallback;
    m_ctx->interrupt_callback.opaque = this;
    m_ctx->probesize = kProbeSize;
    m_ctx->max_analyze_duration = kAnalyzeDurationUs;

    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "protocol_whitelist", "file", 0);
    av_dict_set(&opts, "format_whitelist", kFormatWhitelist, 0);
    // The file name is given as a plain path; the "file:" prefix keeps names with ':' local.
    std::string url = "file:" + m_path;
    int err = avformat_open_input(&m_ctx, url.c_str(), nullptr, &opts);
    av_dict_free(&opts);
    if (err < 0) {
        // A failed open has freed the context already.
        m_ctx = nullptr;
        MLOG(MEDIA_LOG_ERROR, "cannot open media file %s: %s", m_path.c_str(), mediaErrorText(err).c_str());
        return false;
    }
    const bool indexed = m_ctx->iformat && m_ctx->iformat->name && strstr(m_ctx->iformat->name, "mp4");
    bool header_enough = indexed && m_ctx->duration != AV_NOPTS_VALUE && m_ctx->duration > 0;
    for (unsigned i = 0; header_enough && i < m_ctx->nb_streams; ++i) {
        const AVCodecParameters* par = m_ctx->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && (par->width <= 0 || par->height <= 0)) {
            // Some codecs (MPEG-4 part 2) keep the picture size in the bitstream only.
            header_enough = false;
        }
    }
    err = analyze || !header_enough ? avformat_find_stream_info(m_ctx, nullptr) : 0;
    if (err < 0) {
        MLOG(MEDIA_LOG_ERROR, "cannot read the streams of %s: %s", m_path.c_str(),
             mediaErrorText(err).c_str());
        return false;
    }
    m_video = av_find_best_stream(m_ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    m_audio = av_find_best_stream(m_ctx, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (m_video >= 0 && (m_ctx->streams[m_video]->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
        m_video = -1;
    }
    if (m_video < 0) {
        m_video = -1;
    }
    if (m_audio < 0) {
        m_audio = -1;
    }
    if (m_video >= 0 && !usableTimeBase(m_ctx->streams[m_video]->time_base)) {
        MLOG(MEDIA_LOG_ERROR, "the video of %s has no usable time base", m_path.c_str());
        return false;
    }
    if (m_audio >= 0 && !usableTimeBase(m_ctx->streams[m_audio]->time_base)) {
        MLOG(MEDIA_LOG_WARN, "the sound of %s has no usable time base and is left out", m_path.c_str());
        m_audio = -1;
    }
    m_start_us = m_ctx->start_time != AV_NOPTS_VALUE ? m_ctx->start_time : 0;
    m_duration_us = m_ctx->duration != AV_NOPTS_VALUE && m_ctx->duration > 0 ? m_ctx->duration : 0;
    if (m_duration_us == 0) {
        // Some containers only know their streams' lengths.
        for (unsigned i = 0; i < m_ctx->nb_streams; ++i) {
            AVStream* st = m_ctx->streams[i];
            if (st->duration != AV_NOPTS_VALUE && st->duration > 0 && usableTimeBase(st->time_base)) {
                m_duration_us =
                    std::max(m_duration_us, av_rescale_q(st->duration, st->time_base, AV_TIME_BASE_Q));
            }
        }
    }
    if (indexed) {
        // The movie header's length is only a claim; the sample tables say where the media ends. A file
        // claiming far more than it holds would otherwise stretch timelines and shift merged events.
        int64_t tables_us = 0;
        for (unsigned i = 0; i < m_ctx->nb_streams; ++i) {
            AVStream* st = m_ctx->streams[i];
            if (!usableTimeBase(st->time_base)) {
                continue;
            }
            const int n = avformat_index_get_entries_count(st);
            const AVIndexEntry* first = n > 0 ? avformat_index_get_entry(st, 0) : nullptr;
            const AVIndexEntry* last = n > 0 ? avformat_index_get_entry(st, n - 1) : nullptr;
            if (!first || !last || last->timestamp < first->timestamp) {
                continue;
            }
            // The last sample's own length is not in the index: the average one stands in for it.
            const int64_t span = last->timestamp - first->timestamp;
            const int64_t end = span + (n > 1 ? span / (n - 1) : 0);
            tables_us = std::max(tables_us, av_rescale_q(end, st->time_base, AV_TIME_BASE_Q));
        }
        if (tables_us > 0 && m_duration_us > tables_us + AV_TIME_BASE) {
            MLOG(MEDIA_LOG_WARN, "header length %lld us of %s exceeds its samples, %lld us used",
                 static_cast<long long>(m_duration_us), m_path.c_str(), static_cast<long long>(tables_us));
            m_duration_us = tables_us;
        }
    }
    return true;
}

MediaProbe mediaProbe(const std::string& path, bool deep) {
    MediaProbe r;
    MediaInput in;
    if (!in.open(path, nullptr, 5000, deep)) {
        return r;
    }
    AVFormatContext* ctx = in.ctx();
    r.has_video = in.videoIndex() >= 0;
    r.has_audio = in.audioIndex() >= 0;
    r.duration_ms = (in.durationUs() + 500) / 1000;
    if (r.has_video) {
        AVCodecParameters* par = ctx->streams[in.videoIndex()]->codecpar;
        r.width = par->width;
        r.height = par->height;
    }
    r.ok = true;
    if (!deep) {
        return r;
    }

    std::string why;
    const char* fmt = ctx->iformat && ctx->iformat->name ? ctx->iformat->name : "";
    if (!r.has_video) {
        why = "no video stream";
    } else if (strstr(fmt, "mp4") == nullptr && strstr(fmt, "mov") == nullptr) {
        why = std::string("container without a sample index: ") + fmt;
    } else {
        AVCodecParameters* v = ctx->streams[in.videoIndex()]->codecpar;
        if (v->codec_id != AV_CODEC_ID_H264) {
            why = std::string("video codec ") + avcodec_get_name(v->codec_id);
        } else if (v->format != AV_PIX_FMT_YUV420P && v->format != AV_PIX_FMT_YUVJ420P &&
                   v->format != AV_PIX_FMT_NONE) {
            why = "video not 8-bit 4:2:0";
        } else if ((v->width & 1) || (v->height & 1) || v->width <= 0 || v->height <= 0) {
            why = "odd or missing picture size";
        } else if (r.has_audio && ctx->streams[in.audioIndex()]->codecpar->codec_id != AV_CODEC_ID_AAC) {
            why = std::string("audio codec ") +
                  avcodec_get_name(ctx->streams[in.audioIndex()]->codecpar->codec_id);
        } else if (r.duration_ms <= 0) {
            why = "no duration";
        }
    }
    if (why.empty()) {
        // Timestamps: every packet of the first stretch must carry them and decode times must rise.
        int64_t last_dts[2] = {AV_NOPTS_VALUE, AV_NOPTS_VALUE};
        PacketPtr owner(av_packet_alloc());
        AVPacket* pkt = owner.get();
        for (int n = 0; pkt && n < kTimestampCheckPackets && why.empty(); ++n) {
            int err = av_read_frame(ctx, pkt);
            if (err < 0) {
                break;
            }
            int slot = pkt->stream_index == in.videoIndex()   ? 0
                       : pkt->stream_index == in.audioIndex() ? 1
                                                              : -1;
            if (slot >= 0) {
                if (pkt->pts == AV_NOPTS_VALUE || pkt->dts == AV_NOPTS_VALUE) {
                    why = "packets without timestamps";
                } else if (last_dts[slot] != AV_NOPTS_VALUE && pkt->dts <= last_dts[slot]) {
                    why = "decode timestamps not rising";
                }
                last_dts[slot] = pkt->dts;
            }
            av_packet_unref(pkt);
        }
    }
    if (!why.empty()) {
        r.need_transcode = true;
        MLOG(MEDIA_LOG_INFO, "%s needs transcoding: %s", in.path().c_str(), why.c_str());
    }
    return r;
}

int mediaReadError(int err, const std::atomic<bool>& cancel, const std::string& path) {
    if (cancel.load()) {
        return MEDIA_CODE_CANCELLED;
    }
    MLOG(MEDIA_LOG_ERROR, "read error in %s: %s", path.c_str(), mediaErrorText(err).c_str());
    return MEDIA_CODE_READ;
}

bool mediaHasSampleIndex(const MediaInput& in) {
    const char* name = in.ctx()->iformat && in.ctx()->iformat->name ? in.ctx()->iformat->name : "";
    return strstr(name, "mp4") || strstr(name, "mov") || strstr(name, "matroska");
}

// For containers without a sample index (MPEG-TS and the like) seeking lands anywhere: find the
// keyframe at or before `begin_us` by reading, then go back to the start of the file.
// Returns that keyframe's pts in the video time base, or AV_NOPTS_VALUE.
int64_t mediaScanKeyframeBefore(MediaInput& in, int64_t begin_us, const std::atomic<bool>& cancel) {
    AVStream* vst = in.ctx()->streams[in.videoIndex()];
    const int64_t begin_ts = mediaFromUs(begin_us + in.startUs(), vst->time_base);
    int64_t found = AV_NOPTS_VALUE;
    PacketPtr owner(av_packet_alloc());
    AVPacket* pkt = owner.get();
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
    if (av_seek_frame(in.ctx(), -1, 0, AVSEEK_FLAG_BYTE) < 0) {
        MLOG(MEDIA_LOG_WARN, "cannot go back to the start of %s", in.path().c_str());
    }
    return found;
}

// Seeks so that reading starts at the keyframe at or before `begin_us` (relative to the file start).
void mediaSeekBefore(MediaInput& in, int64_t begin_us) {
    if (begin_us <= 0 || !mediaHasSampleIndex(in)) {
        return;
    }
    AVStream* vst = in.ctx()->streams[in.videoIndex()];
    int64_t ts = mediaFromUs(begin_us + in.startUs(), vst->time_base);
    int err = av_seek_frame(in.ctx(), in.videoIndex(), ts, AVSEEK_FLAG_BACKWARD);
    if (err < 0) {
        err = av_seek_frame(in.ctx(), -1, begin_us + in.startUs(), AVSEEK_FLAG_BACKWARD);
    }
    if (err < 0) {
        MLOG(MEDIA_LOG_WARN, "cannot seek in %s, reading from the start: %s", in.path().c_str(),
             mediaErrorText(err).c_str());
        av_seek_frame(in.ctx(), -1, in.startUs(), AVSEEK_FLAG_BACKWARD);
    }
}

bool mediaFrameTimes(const std::string& path, std::vector<int64_t>* times_ms) {
    times_ms->clear();
    MediaInput in;
    if (!in.open(path, nullptr, 5000, false)) {
        return false;
    }
    if (in.videoIndex() < 0) {
        MLOG(MEDIA_LOG_WARN, "no video stream in %s", in.path().c_str());
        return false;
    }
    in.setTimeout(0);
    AVFormatContext* ctx = in.ctx();
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        ctx->streams[i]->discard = int(i) == in.videoIndex() ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    const AVRational base = ctx->streams[in.videoIndex()]->time_base;
    PacketPtr packet(av_packet_alloc());
    while (packet && av_read_frame(ctx, packet.get()) >= 0) {
        if (packet->stream_index == in.videoIndex() && packet->pts != AV_NOPTS_VALUE) {
            const int64_t us = mediaToUs(packet->pts, base) - in.startUs();
            times_ms->push_back((us + 500) / 1000);
        }
        av_packet_unref(packet.get());
    }
    std::sort(times_ms->begin(), times_ms->end());
    return !times_ms->empty();
}
