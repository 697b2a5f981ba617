#include "MediaRecorder.h"

#include "FfmpegPtr.h"
#include "MediaInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kSource = "mediacore/MediaRecorder";
// Bound on opening and probing the input.
constexpr int kOpenTimeoutMs = 10000;

// Every line goes to the observer with the usual "[source:line]" prefix; nothing is reported once
// the owner has started to destroy the recorder.
#define RLOG(level, fmt, ...)                                                                  \
    do {                                                                                       \
        if (m_observer && !m_stop) {                                                           \
            m_observer->OnRecordLog((level), "[%s:%d]" fmt, kSource, __LINE__, ##__VA_ARGS__); \
        }                                                                                      \
    } while (0)

enum { LOG_ERROR = 100, LOG_WARN = 200, LOG_INFO = 300, LOG_DEBUG = 400 };

std::string errorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(err, buf, sizeof(buf));
    return buf;
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A decoded frame together with the plane memory its pointers refer to: the observer may keep the
// record longer than the recorder waits, so the planes live as long as the record.
struct FrameHolder {
    SRecordFrame frame;
    std::vector<uint8_t> planes;
};

// Copies `rows` rows of `width` bytes from a strided plane into tightly packed memory.
void copyPlane(uint8_t* dst, const uint8_t* src, int srcStride, int width, int rows) {
    for (int r = 0; r < rows; ++r) {
        memcpy(dst + size_t(r) * width, src + size_t(r) * srcStride, width);
    }
}

// Copies a studio-range plane (Y 16..235 or chroma 16..240) into tightly packed full-range memory
// through a table: one pass instead of a general converter and a second copy.
void expandPlane(uint8_t* dst, const uint8_t* src, int srcStride, int width, int rows, const uint8_t* table) {
    for (int r = 0; r < rows; ++r) {
        const uint8_t* in = src + size_t(r) * srcStride;
        uint8_t* o = dst + size_t(r) * width;
        for (int x = 0; x < width; ++x) {
            o[x] = table[in[x]];
        }
    }
}

struct RangeTables {
    uint8_t luma[256];
    uint8_t chroma[256];
    RangeTables() {
        for (int i = 0; i < 256; ++i) {
            const double y = (i - 16) * 255.0 / 219.0;
            const double c = (i - 128) * 255.0 / 224.0 + 128.0;
            luma[i] = uint8_t(std::clamp(int(std::lround(y)), 0, 255));
            chroma[i] = uint8_t(std::clamp(int(std::lround(c)), 0, 255));
        }
    }
};

const RangeTables& rangeTables() {
    static const RangeTables tables;
    return tables;
}

}  // namespace

// Input side, opened by init() and consumed by one recording.
struct RecorderInput {
    MediaInput media;
    AVFormatContext* fmt = nullptr;  // media.ctx()
    CodecPtr vdec;
    int video_index = -1;
    int audio_index = -1;
};

namespace {

// Output side of one recording. Until commit() the file only exists under its temporary name,
// which the destructor removes.
struct RecorderOutput {
    std::string temp_path;
    bool committed = false;
    AVFormatContext* fmt = nullptr;
    AVCodecContext* venc = nullptr;
    AVStream* vstream = nullptr;
    AVStream* astream = nullptr;
    SwsContext* to_yuv = nullptr;     // picture -> encoder frame
    SwsContext* to_planar = nullptr;  // decoded frame in another format -> YUV 4:2:0
    int planar_key[3] = {0, 0, -1};   // width, height and format to_planar was made for
    AVFrame* enc_frame = nullptr;
    AVFrame* planar_frame = nullptr;
    // Audio re-encode (only when the input's audio cannot be copied into MP4).
    AVCodecContext* adec = nullptr;
    AVCodecContext* aenc = nullptr;
    SwrContext* swr = nullptr;
    AVAudioFifo* fifo = nullptr;
    bool audio_copy = false;
    int64_t audio_next_pts = AV_NOPTS_VALUE;

    ~RecorderOutput() {
        if (fmt) {
            if (fmt->pb) {
                avio_closep(&fmt->pb);
            }
            avformat_free_context(fmt);
        }
        avcodec_free_context(&venc);
        avcodec_free_context(&adec);
        avcodec_free_context(&aenc);
        sws_freeContext(to_yuv);
        sws_freeContext(to_planar);
        av_frame_free(&enc_frame);
        av_frame_free(&planar_frame);
        swr_free(&swr);
        if (fifo) {
            av_audio_fifo_free(fifo);
        }
        if (!committed && !temp_path.empty()) {
            unlink(temp_path.c_str());
        }
    }
};

}  // namespace

std::shared_ptr<IMediaRecorder> IMediaRecorder::create(IMediaRecorderObserver* observer) {
    return std::make_shared<MediaRecorder>(observer);
}

MediaRecorder::MediaRecorder(IMediaRecorderObserver* observer) : m_observer(observer) {}

MediaRecorder::~MediaRecorder() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

int MediaRecorder::init(std::shared_ptr<_RecordParam> param) {
    if (m_running) {
        RLOG(LOG_ERROR, "init refused: a recording is running");
        return RECORD_BUSY;
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_media_info.reset();
    }
    m_input.reset();
    if (!param) {
        RLOG(LOG_ERROR, "init refused: no parameters");
        return RECORD_BAD_PARAM;
    }
    if (param->width < 2 || param->height < 2 || param->bitrate <= 0 || param->input_path.empty() ||
        param->output_path.empty()) {
        RLOG(LOG_ERROR, "init refused: size %dx%d, bitrate %d, input \"%s\", output \"%s\"", param->width,
             param->height, param->bitrate, param->input_path.c_str(), param->output_path.c_str());
        return RECORD_BAD_PARAM;
    }
    if (param->output_path == param->input_path) {
        RLOG(LOG_ERROR, "init refused: the output would replace the input %s", param->input_path.c_str());
        return RECORD_BAD_PARAM;
    }
    const std::string outDir = directoryOf(param->output_path);
    if (fileNameOf(param->output_path).empty() || access(outDir.c_str(), W_OK | X_OK) != 0) {
        RLOG(LOG_ERROR, "init refused: cannot write into the output folder %s", outDir.c_str());
        return RECORD_OPEN_OUTPUT;
    }

    auto input = std::make_unique<RecorderInput>();
    // The one hardened open of the engine: a playlist, an address or anything but a regular file
    // never reaches a demuxer, so the export cannot read another file than the package's video.
    if (!input->media.open(param->input_path, &m_stop, kOpenTimeoutMs)) {
        if (input->media.refused()) {
            RLOG(LOG_ERROR, "init refused: the input %s is not a video file", param->input_path.c_str());
            return RECORD_REFUSED;
        }
        RLOG(LOG_ERROR, "cannot open the input %s", param->input_path.c_str());
        return RECORD_OPEN_INPUT;
    }
    input->media.setTimeout(0);
    input->fmt = input->media.ctx();
    input->video_index = input->media.videoIndex();
    input->audio_index = input->media.audioIndex();
    const AVCodec* vcodec =
        input->video_index >= 0
            ? avcodec_find_decoder(input->fmt->streams[input->video_index]->codecpar->codec_id)
            : nullptr;
    if (input->video_index < 0 || !vcodec) {
        RLOG(LOG_ERROR, "no decodable video stream in %s", param->input_path.c_str());
        return RECORD_NO_VIDEO;
    }
    AVStream* vst = input->fmt->streams[input->video_index];
    input->vdec.reset(avcodec_alloc_context3(vcodec));
    if (!input->vdec || avcodec_parameters_to_context(input->vdec.get(), vst->codecpar) < 0) {
        RLOG(LOG_ERROR, "cannot set up the video decoder");
        return RECORD_CODEC;
    }
    input->vdec->pkt_timebase = vst->time_base;
    input->vdec->thread_count = 2;
    const int ret = avcodec_open2(input->vdec.get(), vcodec, nullptr);
    if (ret < 0) {
        RLOG(LOG_ERROR, "cannot open the video decoder: %s", errorText(ret).c_str());
        return RECORD_CODEC;
    }

    auto info = std::make_shared<_MediaInfo>();
    info->duration = input->media.durationUs() / 1000;
    info->width = vst->codecpar->width;
    info->height = vst->codecpar->height;
    if (info->width <= 0 || info->height <= 0) {
        RLOG(LOG_ERROR, "the video of %s has no picture size", param->input_path.c_str());
        return RECORD_NO_VIDEO;
    }

    m_param = *param;
    m_input = std::move(input);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_media_info = info;
    }
    RLOG(LOG_INFO, "recorder ready: %s (%dx%d, %lld ms) -> %s (%dx%d, %d kbit/s)", m_param.input_path.c_str(),
         info->width, info->height, static_cast<long long>(info->duration), m_param.output_path.c_str(),
         m_param.width, m_param.height, m_param.bitrate);
    return RECORD_OK;
}

std::shared_ptr<_MediaInfo> MediaRecorder::getMediaInfo() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_media_info;
}

bool MediaRecorder::start() {
    if (m_running) {
        RLOG(LOG_ERROR, "start refused: a recording is running");
        return false;
    }
    if (!m_input) {
        RLOG(LOG_ERROR, "start refused: the recorder is not initialised");
        return false;
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_running = true;
    m_thread = std::thread(&MediaRecorder::run, this);
    return true;
}

void MediaRecorder::run() {
    std::unique_ptr<RecorderInput> input = std::move(m_input);
    const int code = record(*input);
    input.reset();
    // An owner that destroys the recorder has cancelled it and hears nothing more.
    if (!m_stop && m_observer) {
        if (code != RECORD_OK) {
            m_observer->OnRecordError(code);
        }
        m_observer->OnRecordFinished();
    }
    m_running = false;
}

int MediaRecorder::record(RecorderInput& in) {
    AVStream* vin = in.fmt->streams[in.video_index];
    AVStream* ain = in.audio_index >= 0 ? in.fmt->streams[in.audio_index] : nullptr;
    const int outWidth = m_param.width & ~1;
    const int outHeight = m_param.height & ~1;
    if (outWidth != m_param.width || outHeight != m_param.height) {
        RLOG(LOG_INFO, "output size %dx%d made even: %dx%d", m_param.width, m_param.height, outWidth,
             outHeight);
    }

    RecorderOutput out;
    {
        // Reserve a unique temporary name beside the output; it becomes the output only when complete.
        // O_EXCL makes the name ours; the usual mode (subject to the umask) carries over to the output.
        static std::atomic<unsigned> counter{0};
        const std::string dir = directoryOf(m_param.output_path);
        for (int attempt = 0; attempt < 100 && out.temp_path.empty(); ++attempt) {
            char suffix[64];
            snprintf(suffix, sizeof(suffix), ".%d.%u.%d.part", int(getpid()), counter++,
                     int(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000));
            const std::string candidate = dir + "/." + fileNameOf(m_param.output_path) + suffix;
            const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                close(fd);
                out.temp_path = candidate;
            } else if (errno != EEXIST) {
                break;
            }
        }
        if (out.temp_path.empty()) {
            RLOG(LOG_ERROR, "cannot create a file in %s: %s", dir.c_str(), strerror(errno));
            return RECORD_OPEN_OUTPUT;
        }
    }

    int ret = avformat_alloc_output_context2(&out.fmt, nullptr, "mp4", out.temp_path.c_str());
    if (ret < 0 || !out.fmt) {
        RLOG(LOG_ERROR, "cannot create the MP4 writer: %s", errorText(ret).c_str());
        return RECORD_OPEN_OUTPUT;
    }

    // Video encoder: H.264 at the asked size and bitrate, in the input's time base so that every
    // output frame keeps the presentation time of its decoded frame.
    const AVCodec* venc = avcodec_find_encoder_by_name("libx264");
    if (!venc) {
        venc = avcodec_find_encoder(AV_CODEC_ID_H264);
    }
    if (!venc) {
        RLOG(LOG_ERROR, "no H.264 encoder available");
        return RECORD_CODEC;
    }
    out.venc = avcodec_alloc_context3(venc);
    if (!out.venc) {
        return RECORD_CODEC;
    }
    AVRational frameRate = av_guess_frame_rate(in.fmt, vin, nullptr);
    if (frameRate.num <= 0 || frameRate.den <= 0) {
        frameRate = AVRational{25, 1};
    }
    const int64_t frameDuration = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(frameRate), vin->time_base));
    out.venc->width = outWidth;
    out.venc->height = outHeight;
    out.venc->pix_fmt = AV_PIX_FMT_YUV420P;
    out.venc->time_base = vin->time_base;
    out.venc->framerate = frameRate;
    out.venc->sample_aspect_ratio = AVRational{1, 1};
    out.venc->bit_rate = int64_t(m_param.bitrate) * 1000;
    out.venc->rc_max_rate = out.venc->bit_rate * 3 / 2;
    out.venc->rc_buffer_size = int(std::min<int64_t>(out.venc->bit_rate * 2, INT32_MAX));
    out.venc->gop_size = std::max(1, int(av_q2d(frameRate) * 2 + 0.5));
    out.venc->color_range = AVCOL_RANGE_MPEG;
    out.venc->colorspace = AVCOL_SPC_SMPTE170M;
    out.venc->thread_count = 0;
    if (out.fmt->oformat->flags & AVFMT_GLOBALHEADER) {
        out.venc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    av_opt_set(out.venc->priv_data, "preset", "veryfast", 0);
    ret = avcodec_open2(out.venc, venc, nullptr);
    if (ret < 0) {
        RLOG(LOG_ERROR, "cannot open the H.264 encoder: %s", errorText(ret).c_str());
        return RECORD_CODEC;
    }
    out.vstream = avformat_new_stream(out.fmt, nullptr);
    if (!out.vstream || avcodec_parameters_from_context(out.vstream->codecpar, out.venc) < 0) {
        return RECORD_CODEC;
    }
    out.vstream->time_base = out.venc->time_base;
    out.vstream->avg_frame_rate = frameRate;

    // Audio: copied when MP4 can carry it, else re-encoded to AAC.
    if (ain) {
        out.astream = avformat_new_stream(out.fmt, nullptr);
        if (!out.astream) {
            return RECORD_CODEC;
        }
        if (avformat_query_codec(out.fmt->oformat, ain->codecpar->codec_id, FF_COMPLIANCE_NORMAL) == 1) {
            out.audio_copy = true;
            if (avcodec_parameters_copy(out.astream->codecpar, ain->codecpar) < 0) {
                return RECORD_CODEC;
            }
            out.astream->codecpar->codec_tag = 0;
            out.astream->time_base = ain->time_base;
            RLOG(LOG_INFO, "audio copied (%s)", avcodec_get_name(ain->codecpar->codec_id));
        } else {
            const AVCodec* adec = avcodec_find_decoder(ain->codecpar->codec_id);
            const AVCodec* aenc = avcodec_find_encoder(AV_CODEC_ID_AAC);
            if (!adec || !aenc) {
                RLOG(LOG_ERROR, "cannot convert the audio (%s) to AAC",
                     avcodec_get_name(ain->codecpar->codec_id));
                return RECORD_CODEC;
            }
            out.adec = avcodec_alloc_context3(adec);
            if (!out.adec || avcodec_parameters_to_context(out.adec, ain->codecpar) < 0) {
                return RECORD_CODEC;
            }
            out.adec->pkt_timebase = ain->time_base;
            ret = avcodec_open2(out.adec, adec, nullptr);
            if (ret < 0 || out.adec->ch_layout.nb_channels <= 0 || out.adec->sample_rate <= 0) {
                RLOG(LOG_ERROR, "cannot open the audio decoder: %s", errorText(ret).c_str());
                return RECORD_CODEC;
            }
            out.aenc = avcodec_alloc_context3(aenc);
            if (!out.aenc) {
                return RECORD_CODEC;
            }
            int rate = out.adec->sample_rate;
            if (aenc->supported_samplerates) {
                bool supported = false;
                for (const int* r = aenc->supported_samplerates; *r; ++r) {
                    supported = supported || *r == rate;
                }
                if (!supported) {
                    rate = 48000;
                }
            }
            out.aenc->sample_rate = rate;
            out.aenc->sample_fmt = aenc->sample_fmts ? aenc->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
            av_channel_layout_default(&out.aenc->ch_layout, std::min(out.adec->ch_layout.nb_channels, 2));
            out.aenc->bit_rate = 128000;
            out.aenc->time_base = AVRational{1, rate};
            if (out.fmt->oformat->flags & AVFMT_GLOBALHEADER) {
                out.aenc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            }
            ret = avcodec_open2(out.aenc, aenc, nullptr);
            if (ret < 0) {
                RLOG(LOG_ERROR, "cannot open the AAC encoder: %s", errorText(ret).c_str());
                return RECORD_CODEC;
            }
            if (avcodec_parameters_from_context(out.astream->codecpar, out.aenc) < 0) {
                return RECORD_CODEC;
            }
            out.astream->time_base = out.aenc->time_base;
            ret = swr_alloc_set_opts2(&out.swr, &out.aenc->ch_layout, out.aenc->sample_fmt,
                                      out.aenc->sample_rate, &out.adec->ch_layout, out.adec->sample_fmt,
                                      out.adec->sample_rate, 0, nullptr);
            if (ret < 0 || swr_init(out.swr) < 0) {
                RLOG(LOG_ERROR, "cannot set up the audio resampler");
                return RECORD_CODEC;
            }
            out.fifo = av_audio_fifo_alloc(out.aenc->sample_fmt, out.aenc->ch_layout.nb_channels,
                                           std::max(out.aenc->frame_size, 1024));
            if (!out.fifo) {
                return RECORD_CODEC;
            }
            RLOG(LOG_INFO, "audio re-encoded from %s to AAC", avcodec_get_name(ain->codecpar->codec_id));
        }
    }

    ret = avio_open(&out.fmt->pb, out.temp_path.c_str(), AVIO_FLAG_WRITE);
    if (ret < 0) {
        RLOG(LOG_ERROR, "cannot open %s for writing: %s", out.temp_path.c_str(), errorText(ret).c_str());
        return RECORD_OPEN_OUTPUT;
    }
    ret = avformat_write_header(out.fmt, nullptr);
    if (ret < 0) {
        RLOG(LOG_ERROR, "cannot write the MP4 header: %s", errorText(ret).c_str());
        return RECORD_WRITE;
    }

    out.enc_frame = av_frame_alloc();
    if (!out.enc_frame) {
        return RECORD_CODEC;
    }
    out.enc_frame->format = AV_PIX_FMT_YUV420P;
    out.enc_frame->width = outWidth;
    out.enc_frame->height = outHeight;
    if (av_frame_get_buffer(out.enc_frame, 0) < 0) {
        return RECORD_CODEC;
    }

    AVPacket* pkt = av_packet_alloc();
    AVPacket* encPkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    AVFrame* audioFrame = av_frame_alloc();
    int code = RECORD_OK;
    int64_t lastPts = AV_NOPTS_VALUE;
    long long frameCount = 0;
    const int64_t videoStart = vin->start_time != AV_NOPTS_VALUE ? vin->start_time : 0;

    // Writes every packet the encoder has ready; `flushing` drains it completely.
    auto drainEncoder = [&](AVCodecContext* enc, AVStream* st, bool isVideo) -> int {
        for (;;) {
            int r = avcodec_receive_packet(enc, encPkt);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) {
                return RECORD_OK;
            }
            if (r < 0) {
                RLOG(LOG_ERROR, "encoder failure: %s", errorText(r).c_str());
                return RECORD_CODEC;
            }
            if (isVideo && encPkt->duration <= 0) {
                encPkt->duration = frameDuration;
            }
            encPkt->stream_index = st->index;
            av_packet_rescale_ts(encPkt, enc->time_base, st->time_base);
            r = av_interleaved_write_frame(out.fmt, encPkt);
            if (r < 0) {
                RLOG(LOG_ERROR, "cannot write to %s: %s", out.temp_path.c_str(), errorText(r).c_str());
                return RECORD_WRITE;
            }
        }
    };

    // Converts and encodes one painted picture with its frame's time.
    auto encodePicture = [&](const std::shared_ptr<_RGBAFrame>& picture, int64_t pts) -> int {
        // 32-bit premultiplied ARGB in native byte order; reading it without alpha puts it over black.
        out.to_yuv =
            sws_getCachedContext(out.to_yuv, picture->width, picture->height, AV_PIX_FMT_0RGB32, outWidth,
                                 outHeight, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!out.to_yuv || av_frame_make_writable(out.enc_frame) < 0) {
            RLOG(LOG_ERROR, "cannot convert a %dx%d picture", picture->width, picture->height);
            return RECORD_CODEC;
        }
        const uint8_t* picPlanes[4] = {picture->data.get(), nullptr, nullptr, nullptr};
        const int picStride[4] = {picture->width * 4, 0, 0, 0};
        sws_scale(out.to_yuv, picPlanes, picStride, 0, picture->height, out.enc_frame->data,
                  out.enc_frame->linesize);
        out.enc_frame->pts = pts;
        int r = avcodec_send_frame(out.venc, out.enc_frame);
        if (r < 0) {
            RLOG(LOG_ERROR, "H.264 encoder refused a frame: %s", errorText(r).c_str());
            return RECORD_CODEC;
        }
        ++frameCount;
        return drainEncoder(out.venc, out.vstream, true);
    };

    // The picture of the previous frame: it is encoded while the observer paints the next one, so
    // painting and encoding overlap while frames still go to the observer one at a time, in order.
    std::shared_ptr<_RGBAFrame> pendingPicture;
    int64_t pendingPts = AV_NOPTS_VALUE;
    auto encodePending = [&]() -> int {
        if (!pendingPicture) {
            return RECORD_OK;
        }
        std::shared_ptr<_RGBAFrame> picture = std::move(pendingPicture);
        pendingPicture.reset();
        return encodePicture(picture, pendingPts);
    };

    // Hands one decoded frame to the observer, encodes the previous picture and waits for this one.
    auto handleVideoFrame = [&](AVFrame* f) -> int {
        int64_t pts = f->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE) {
            pts = lastPts == AV_NOPTS_VALUE ? videoStart : lastPts + frameDuration;
        }
        if (lastPts != AV_NOPTS_VALUE && pts <= lastPts) {
            pts = lastPts + 1;  // the encoder needs strictly increasing times
        }
        lastPts = pts;

        const int w = f->width;
        const int h = f->height;
        const int cw = w >> 1;
        const int ch = h >> 1;
        const uint8_t* const* src = f->data;
        const int* srcStride = f->linesize;
        // Pictures go out as full-range YUV 4:2:0: the observer's conversion takes Y as it is, so
        // studio-range video would lose its blacks and whites on the way.
        const bool fullRange = f->format == AV_PIX_FMT_YUVJ420P ||
                               (f->format == AV_PIX_FMT_YUV420P && f->color_range == AVCOL_RANGE_JPEG);
        // The usual case, studio-range 4:2:0, is expanded while it is copied for the observer.
        const bool expandRange = !fullRange && f->format == AV_PIX_FMT_YUV420P;
        if (!fullRange && !expandRange) {
            if (!out.planar_frame || out.planar_frame->width != w || out.planar_frame->height != h) {
                av_frame_free(&out.planar_frame);
                out.planar_frame = av_frame_alloc();
                if (!out.planar_frame) {
                    return RECORD_CODEC;
                }
                out.planar_frame->format = AV_PIX_FMT_YUVJ420P;
                out.planar_frame->width = w;
                out.planar_frame->height = h;
                if (av_frame_get_buffer(out.planar_frame, 0) < 0) {
                    return RECORD_CODEC;
                }
            }
            // Made once per input geometry: a cached context would be rebuilt for every frame, since
            // swscale rewrites the full-range format internally and the cache then never matches.
            if (!out.to_planar || out.planar_key[0] != w || out.planar_key[1] != h ||
                out.planar_key[2] != f->format) {
                sws_freeContext(out.to_planar);
                out.to_planar = sws_getContext(w, h, AVPixelFormat(f->format), w, h, AV_PIX_FMT_YUVJ420P,
                                               SWS_BILINEAR, nullptr, nullptr, nullptr);
                out.planar_key[0] = w;
                out.planar_key[1] = h;
                out.planar_key[2] = f->format;
            }
            if (!out.to_planar) {
                RLOG(LOG_ERROR, "cannot convert decoded frames of format %d", f->format);
                return RECORD_CODEC;
            }
            sws_scale(out.to_planar, f->data, f->linesize, 0, h, out.planar_frame->data,
                      out.planar_frame->linesize);
            src = out.planar_frame->data;
            srcStride = out.planar_frame->linesize;
        }

        auto holder = std::make_shared<FrameHolder>();
        holder->planes.resize(size_t(w) * h + 2 * size_t(cw) * ch);
        uint8_t* y = holder->planes.data();
        uint8_t* u = y + size_t(w) * h;
        uint8_t* v = u + size_t(cw) * ch;
        if (expandRange) {
            const RangeTables& tables = rangeTables();
            expandPlane(y, src[0], srcStride[0], w, h, tables.luma);
            expandPlane(u, src[1], srcStride[1], cw, ch, tables.chroma);
            expandPlane(v, src[2], srcStride[2], cw, ch, tables.chroma);
        } else {
            copyPlane(y, src[0], srcStride[0], w, h);
            copyPlane(u, src[1], srcStride[1], cw, ch);
            copyPlane(v, src[2], srcStride[2], cw, ch);
        }
        holder->frame.width = w;
        holder->frame.height = h;
        holder->frame.time =
            std::max<int64_t>(0, av_rescale_q(pts - videoStart, vin->time_base, AVRational{1, 1000}));
        holder->frame.y = y;
        holder->frame.u = u;
        holder->frame.v = v;
        std::future<std::shared_ptr<_RGBAFrame>> future = holder->frame.result.get_future();
        const qint64 frameTime = holder->frame.time;
        m_observer->OnRecordFrame(std::shared_ptr<SRecordFrame>(holder, &holder->frame));
        holder.reset();

        const int encoded = encodePending();
        if (encoded != RECORD_OK) {
            return encoded;
        }
        const auto waitStart = std::chrono::steady_clock::now();
        for (;;) {
            if (m_stop) {
                return RECORD_CANCELLED;
            }
            if (future.wait_for(std::chrono::milliseconds(20)) == std::future_status::ready) {
                break;
            }
            if (std::chrono::steady_clock::now() - waitStart >
                std::chrono::milliseconds(m_picture_timeout_ms.load())) {
                RLOG(LOG_ERROR, "no picture for the frame at %lld ms within %d ms",
                     static_cast<long long>(frameTime), m_picture_timeout_ms.load());
                return RECORD_NO_PICTURE;
            }
        }
        std::shared_ptr<_RGBAFrame> picture;
        try {
            picture = future.get();
        } catch (const std::exception& e) {
            RLOG(LOG_ERROR, "the frame at %lld ms was dropped without a picture: %s",
                 static_cast<long long>(frameTime), e.what());
            return RECORD_NO_PICTURE;
        }
        if (!picture || !picture->data || picture->width <= 0 || picture->height <= 0) {
            RLOG(LOG_ERROR, "empty picture for the frame at %lld ms", static_cast<long long>(frameTime));
            return RECORD_NO_PICTURE;
        }
        pendingPicture = std::move(picture);
        pendingPts = pts;
        return RECORD_OK;
    };

    auto receiveVideoFrames = [&]() -> int {
        for (;;) {
            int r = avcodec_receive_frame(in.vdec.get(), frame);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) {
                return RECORD_OK;
            }
            if (r < 0) {
                RLOG(LOG_ERROR, "video decoding failed: %s", errorText(r).c_str());
                return RECORD_READ;
            }
            const int c = handleVideoFrame(frame);
            av_frame_unref(frame);
            if (c != RECORD_OK) {
                return c;
            }
        }
    };

    // Encodes whole AAC frames from the FIFO; at the end also the short remainder.
    auto encodeAudioFifo = [&](bool final) -> int {
        const int frameSize = out.aenc->frame_size > 0 ? out.aenc->frame_size : 1024;
        while (av_audio_fifo_size(out.fifo) >= frameSize || (final && av_audio_fifo_size(out.fifo) > 0)) {
            const int n = std::min(frameSize, av_audio_fifo_size(out.fifo));
            AVFrame* af = av_frame_alloc();
            if (!af) {
                return RECORD_CODEC;
            }
            af->nb_samples = n;
            af->format = out.aenc->sample_fmt;
            af->sample_rate = out.aenc->sample_rate;
            av_channel_layout_copy(&af->ch_layout, &out.aenc->ch_layout);
            if (av_frame_get_buffer(af, 0) < 0 || av_audio_fifo_read(out.fifo, (void**)af->data, n) < n) {
                av_frame_free(&af);
                return RECORD_CODEC;
            }
            af->pts = out.audio_next_pts;
            out.audio_next_pts += n;
            int r = avcodec_send_frame(out.aenc, af);
            av_frame_free(&af);
            if (r < 0) {
                RLOG(LOG_ERROR, "AAC encoder refused a frame: %s", errorText(r).c_str());
                return RECORD_CODEC;
            }
            r = drainEncoder(out.aenc, out.astream, false);
            if (r != RECORD_OK) {
                return r;
            }
        }
        return RECORD_OK;
    };

    auto pushAudioSamples = [&](AVFrame* af) -> int {
        const int maxOut = swr_get_out_samples(out.swr, af ? af->nb_samples : 0);
        if (maxOut <= 0) {
            return RECORD_OK;
        }
        uint8_t** buffers = nullptr;
        if (av_samples_alloc_array_and_samples(&buffers, nullptr, out.aenc->ch_layout.nb_channels, maxOut,
                                               out.aenc->sample_fmt, 0) < 0) {
            return RECORD_CODEC;
        }
        const int got =
            swr_convert(out.swr, buffers, maxOut, af ? (const uint8_t**)af->extended_data : nullptr,
                        af ? af->nb_samples : 0);
        int c = RECORD_OK;
        if (got < 0) {
            RLOG(LOG_ERROR, "audio resampling failed: %s", errorText(got).c_str());
            c = RECORD_CODEC;
        } else if (got > 0 && av_audio_fifo_write(out.fifo, (void**)buffers, got) < got) {
            c = RECORD_CODEC;
        }
        av_freep(&buffers[0]);
        av_freep(&buffers);
        return c;
    };

    auto receiveAudioFrames = [&]() -> int {
        for (;;) {
            int r = avcodec_receive_frame(out.adec, audioFrame);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) {
                return RECORD_OK;
            }
            if (r < 0) {
                RLOG(LOG_ERROR, "audio decoding failed: %s", errorText(r).c_str());
                return RECORD_READ;
            }
            if (out.audio_next_pts == AV_NOPTS_VALUE) {
                const int64_t first = audioFrame->best_effort_timestamp;
                out.audio_next_pts =
                    first == AV_NOPTS_VALUE
                        ? 0
                        : av_rescale_q(first, ain->time_base, AVRational{1, out.aenc->sample_rate});
            }
            int c = pushAudioSamples(audioFrame);
            av_frame_unref(audioFrame);
            if (c == RECORD_OK) {
                c = encodeAudioFifo(false);
            }
            if (c != RECORD_OK) {
                return c;
            }
        }
    };

    RLOG(LOG_INFO, "recording %s started", out.temp_path.c_str());
    while (code == RECORD_OK) {
        if (m_stop) {
            code = RECORD_CANCELLED;
            break;
        }
        ret = av_read_frame(in.fmt, pkt);
        if (ret == AVERROR_EOF) {
            break;
        }
        if (ret < 0) {
            RLOG(LOG_ERROR, "reading %s failed: %s", m_param.input_path.c_str(), errorText(ret).c_str());
            code = RECORD_READ;
            break;
        }
        if (pkt->stream_index == in.video_index) {
            ret = avcodec_send_packet(in.vdec.get(), pkt);
            if (ret < 0 && ret != AVERROR(EAGAIN)) {
                // A damaged packet costs its frame, as in any player; the rest still decodes.
                RLOG(LOG_WARN, "video packet skipped: %s", errorText(ret).c_str());
            } else {
                code = receiveVideoFrames();
            }
        } else if (ain && pkt->stream_index == in.audio_index) {
            if (out.audio_copy) {
                pkt->stream_index = out.astream->index;
                av_packet_rescale_ts(pkt, ain->time_base, out.astream->time_base);
                pkt->pos = -1;
                ret = av_interleaved_write_frame(out.fmt, pkt);
                if (ret < 0) {
                    RLOG(LOG_ERROR, "cannot write to %s: %s", out.temp_path.c_str(), errorText(ret).c_str());
                    code = RECORD_WRITE;
                }
            } else {
                ret = avcodec_send_packet(out.adec, pkt);
                if (ret < 0 && ret != AVERROR(EAGAIN)) {
                    RLOG(LOG_WARN, "audio packet skipped: %s", errorText(ret).c_str());
                } else {
                    code = receiveAudioFrames();
                }
            }
        }
        av_packet_unref(pkt);
    }

    if (code == RECORD_OK) {
        avcodec_send_packet(in.vdec.get(), nullptr);
        code = receiveVideoFrames();
    }
    if (code == RECORD_OK) {
        code = encodePending();
    }
    if (code == RECORD_OK && out.adec) {
        avcodec_send_packet(out.adec, nullptr);
        code = receiveAudioFrames();
        if (code == RECORD_OK && out.audio_next_pts != AV_NOPTS_VALUE) {
            code = pushAudioSamples(nullptr);
            if (code == RECORD_OK) {
                code = encodeAudioFifo(true);
            }
        }
        if (code == RECORD_OK) {
            avcodec_send_frame(out.aenc, nullptr);
            code = drainEncoder(out.aenc, out.astream, false);
        }
    }
    if (code == RECORD_OK) {
        avcodec_send_frame(out.venc, nullptr);
        code = drainEncoder(out.venc, out.vstream, true);
    }
    if (code == RECORD_OK && frameCount == 0) {
        RLOG(LOG_ERROR, "no video frame could be decoded from %s", m_param.input_path.c_str());
        code = RECORD_READ;
    }
    if (code == RECORD_OK) {
        ret = av_write_trailer(out.fmt);
        if (ret >= 0) {
            ret = avio_closep(&out.fmt->pb);
        }
        if (ret < 0) {
            RLOG(LOG_ERROR, "cannot complete %s: %s", out.temp_path.c_str(), errorText(ret).c_str());
            code = RECORD_WRITE;
        }
    }
    if (code == RECORD_OK) {
        if (rename(out.temp_path.c_str(), m_param.output_path.c_str()) != 0) {
            RLOG(LOG_ERROR, "cannot move the recording to %s: %s", m_param.output_path.c_str(),
                 strerror(errno));
            code = RECORD_WRITE;
        } else {
            out.committed = true;
            RLOG(LOG_INFO, "recording finished: %lld frames written to %s", frameCount,
                 m_param.output_path.c_str());
        }
    }
    av_packet_free(&pkt);
    av_packet_free(&encPkt);
    av_frame_free(&frame);
    av_frame_free(&audioFrame);
    return code;
}
