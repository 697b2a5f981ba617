#define FLOG_SOURCE "editor/VideoFrameTimes"
#include "VideoFrameTimes.h"

#include <algorithm>
#include <memory>

#include "FLog.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {
struct InputCloser {
    void operator()(AVFormatContext* ctx) const { avformat_close_input(&ctx); }
};
struct PacketFree {
    void operator()(AVPacket* pkt) const { av_packet_free(&pkt); }
};
// The player shows the frame that starts at most this long after a seek target.
constexpr qint64 kSeekToleranceMs = 5;
}  // namespace

bool VideoFrameTimes::load(const QString& path) {
    m_times.clear();
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.toUtf8().constData(), nullptr, nullptr) < 0) {
        FLOG(FLOG_WARN, "frame times: cannot open %s", qUtf8Printable(path));
        return false;
    }
    std::unique_ptr<AVFormatContext, InputCloser> input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) {
        FLOG(FLOG_WARN, "frame times: no stream info in %s", qUtf8Printable(path));
        return false;
    }
    const int video = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0) {
        FLOG(FLOG_WARN, "frame times: no video stream in %s", qUtf8Printable(path));
        return false;
    }
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        input->streams[i]->discard = int(i) == video ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    const AVRational base = input->streams[video]->time_base;
    // The player counts from the container's start.
    const int64_t start = input->start_time == AV_NOPTS_VALUE ? 0 : input->start_time;
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    while (packet && av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == video && packet->pts != AV_NOPTS_VALUE) {
            const int64_t us = av_rescale_q(packet->pts, base, AVRational{1, 1000000}) - start;
            m_times.append((us + 500) / 1000);
        }
        av_packet_unref(packet.get());
    }
    std::sort(m_times.begin(), m_times.end());
    return !m_times.isEmpty();
}

qint64 VideoFrameTimes::step(qint64 ms, int steps) const {
    if (m_times.isEmpty()) {
        return -1;
    }
    // The frame shown at `ms` is the first that starts at or after ms less the tolerance.
    auto shown = std::lower_bound(m_times.begin(), m_times.end(), ms - kSeekToleranceMs);
    int index = int(shown - m_times.begin());
    index = std::min(index, int(m_times.size()) - 1);
    index = std::max(0, std::min(int(m_times.size()) - 1, index + steps));
    return m_times.at(index);
}
