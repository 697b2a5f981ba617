#define MEDIA_LOG_SOURCE "mediacore/MediaRecording"
#include "MediaRecording.h"

#include "IMediaCore.h"
#include "MediaLog.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#define RLOG(level, fmt, ...) \
    mediaRecorderLog(m_observer, m_stop, (level), "[%s:%d]" fmt, MEDIA_LOG_SOURCE, __LINE__, ##__VA_ARGS__)

namespace {

constexpr int64_t kAudioBitrate = 128000;

// Painted pictures waiting for the encoder: enough to smooth out a picture that takes longer to
// paint or to encode than the others, while each holds only a megabyte or two.
constexpr size_t kPicturesWaiting = 2;

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

// Copies a studio-range plane (Y 16..235 or chroma 16..240) into tightly packed full-range memory in
// one pass: out = round((in - offset) * scale) + base, clamped, with `factor` = scale in 14-bit fixed
// point. For all 256 inputs this equals exact rounding with the factors below; unlike a table it
// vectorises, which the default optimisation level does not do by itself here.
__attribute__((optimize("tree-vectorize", "vect-cost-model=dynamic"))) void expandPlane(
    uint8_t* dst, const uint8_t* src, int srcStride, int width, int rows, int offset, int factor, int base) {
    for (int r = 0; r < rows; ++r) {
        const uint8_t* __restrict in = src + size_t(r) * srcStride;
        uint8_t* __restrict o = dst + size_t(r) * width;
        for (int x = 0; x < width; ++x) {
            const int v = (((int(in[x]) - offset) * factor + 8192) >> 14) + base;
            o[x] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
}

constexpr int kLumaFactor = 19077;    // 255 / 219
constexpr int kChromaFactor = 18651;  // 255 / 224

// Whether a decoded frame's samples use the full 0..255 range: said so, or a format of that range.
bool sourceIsFullRange(const AVFrame* f) {
    switch (f->format) {
        case AV_PIX_FMT_YUVJ420P:
        case AV_PIX_FMT_YUVJ422P:
        case AV_PIX_FMT_YUVJ444P:
        case AV_PIX_FMT_YUVJ440P:
        case AV_PIX_FMT_YUVJ411P:
            return true;
        default:
            return f->color_range == AVCOL_RANGE_JPEG;
    }
}

// The recorder's code for what the MP4 output or the temporary-name write reported.
int recordCodeOf(int media_code) {
    switch (media_code) {
        case MEDIA_CODE_SUCCESS:
            return RECORD_OK;
        case MEDIA_CODE_OPEN_OUTPUT:
            return RECORD_OPEN_OUTPUT;
        case MEDIA_CODE_CANCELLED:
            return RECORD_CANCELLED;
        case MEDIA_CODE_CODEC:
            return RECORD_CODEC;
        default:
            return RECORD_WRITE;
    }
}

}  // namespace

MediaRecording::MediaRecording(RecorderInput& in, const _RecordParam& param, IMediaRecorderObserver* observer,
                               const std::atomic<bool>& stop, int picture_timeout_ms)
    : m_in(in),
      m_param(param),
      m_observer(observer),
      m_stop(stop),
      m_picture_timeout_ms(picture_timeout_ms) {}

void mediaRecorderLog(IMediaRecorderObserver* observer, const std::atomic<bool>& stop, int level,
                      const char* format, ...) {
    if (!observer || stop) {
        return;
    }
    char line[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    observer->OnRecordLog(level, "%s", line);
}

int MediaRecording::code(MediaEncodeResult r) const {
    return mediaEncodeCode(r, RECORD_OK, RECORD_CODEC, m_write_code);
}

// ---------------------------------------------------------------------------------------------
// The steps of one recording

int MediaRecording::run() {
    m_vin = m_in.fmt()->streams[m_in.video_index];
    m_ain = m_in.audio_index >= 0 ? m_in.fmt()->streams[m_in.audio_index] : nullptr;
    m_width = m_param.width & ~1;
    m_height = m_param.height & ~1;
    if (m_width != m_param.width || m_height != m_param.height) {
        RLOG(MEDIA_LOG_INFO, "output size %dx%d made even: %dx%d", m_param.width, m_param.height, m_width,
             m_height);
    }
    // The output exists only under a hidden temporary name until it is complete.
    int result = RECORD_WRITE;
    const int written = mediaWriteAtomically(m_param.output_path, [&](const std::string& tmp) {
        result = writeTo(tmp);
        return result == RECORD_OK ? MEDIA_CODE_SUCCESS : MEDIA_CODE_WRITE;
    });
    if (result == RECORD_OK && written != MEDIA_CODE_SUCCESS) {
        result = recordCodeOf(written);
    }
    if (result == RECORD_OK) {
        RLOG(MEDIA_LOG_INFO, "recording finished: %lld frames written to %s", m_frame_count.load(),
             m_param.output_path.c_str());
    }
    return result;
}

int MediaRecording::writeTo(const std::string& tmp) {
    m_pkt.reset(av_packet_alloc());
    m_frame.reset(av_frame_alloc());
    m_audio_frame.reset(av_frame_alloc());
    if (!m_pkt || !m_frame || !m_audio_frame) {
        RLOG(MEDIA_LOG_ERROR, "out of memory");
        return RECORD_CODEC;
    }
    int rc = recordCodeOf(m_out.create(tmp, m_stop));
    if (rc == RECORD_OK) {
        rc = setUpVideo();
    }
    if (rc == RECORD_OK) {
        rc = setUpAudio();
    }
    if (rc == RECORD_OK) {
        rc = recordCodeOf(m_out.open(tmp));
    }
    if (rc != RECORD_OK) {
        return rc;
    }
    RLOG(MEDIA_LOG_INFO, "recording %s started", tmp.c_str());
    m_encoder = std::make_unique<MediaPictureWorker>(
        [this](std::shared_ptr<_RGBAFrame> picture, int64_t pts) {
            return encodePicture(std::move(picture), pts);
        },
        kPicturesWaiting, m_stop);
    rc = readInput();
    if (rc == RECORD_OK) {
        rc = finish();
    }
    // Nothing is written any more once this returns, whatever became of the recording.
    m_encoder.reset();
    return rc;
}

// H.264 at the asked size and bitrate, in the input's time base so that every output frame keeps the
// presentation time of its decoded frame.
int MediaRecording::setUpVideo() {
    AVRational rate = av_guess_frame_rate(m_in.fmt(), m_vin, nullptr);
    if (rate.num <= 0 || rate.den <= 0) {
        rate = AVRational{25, 1};
    }
    m_frame_duration = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), m_vin->time_base));
    m_video_start = m_vin->start_time != AV_NOPTS_VALUE ? m_vin->start_time : 0;
    MediaVideoSettings s;
    // NV12 is what the exporter hands over and what x264 works in: such pictures need no conversion.
    s.pix_fmt = AV_PIX_FMT_NV12;
    s.width = m_width;
    s.height = m_height;
    s.time_base = m_vin->time_base;
    s.frame_rate = rate;
    s.bit_rate = int64_t(m_param.bitrate) * 1000;
    // A tighter peak cap (1.5x, buffer 2x) kept x264 well below the asked average on class pictures,
    // which are mostly still; this one still bounds the peaks.
    s.max_rate_factor = 2.0;
    s.buffer_factor = 4.0;
    // Threads on slices of one picture instead of on several pictures at once: x264 then holds a
    // few pictures instead of several per thread, which saves a good part of its memory, and the
    // export keeps both cores busy anyway (the next picture is painted while this one is encoded).
    // A lookahead of 5 pictures instead of the preset's 10 and one B-picture instead of 3: every
    // picture waiting there is held with its analysis planes (about 4 MB at 720p). On class
    // pictures, mostly still, that cost no measurable quality of the video and brought the bitrate
    // closer to the asked one (1443 instead of 1411 of 1500 kbit/s on the benchmark class).
    s.x264_params = "sliced-threads=1:rc-lookahead=5";
    s.max_b_frames = 1;
    s.encoders = mediaExportEncoders(m_param.video_encoder);
    s.color_range = AVCOL_RANGE_MPEG;
    s.colorspace = AVCOL_SPC_SMPTE170M;
    if (!m_video.open(s, m_out.ctx()->oformat->flags & AVFMT_GLOBALHEADER)) {
        return RECORD_CODEC;
    }
    RLOG(MEDIA_LOG_INFO, "video encoder %s, %dx%d, %d kbit/s", m_video.ctx()->codec->name, m_width, m_height,
         m_param.bitrate);
    m_vout = avformat_new_stream(m_out.ctx(), nullptr);
    if (!m_vout || avcodec_parameters_from_context(m_vout->codecpar, m_video.ctx()) < 0) {
        RLOG(MEDIA_LOG_ERROR, "cannot add the video stream");
        return RECORD_CODEC;
    }
    m_vout->time_base = m_video.ctx()->time_base;
    m_vout->avg_frame_rate = rate;
    m_video_sink = [this](AVPacket* pkt) {
        if (pkt->duration <= 0) {
            pkt->duration = m_frame_duration;
        }
        return writePacket(pkt, m_video.ctx()->time_base, m_vout);
    };
    m_enc_frame.reset(av_frame_alloc());
    if (!m_enc_frame) {
        RLOG(MEDIA_LOG_ERROR, "out of memory");
        return RECORD_CODEC;
    }
    m_enc_frame->format = AV_PIX_FMT_NV12;
    m_enc_frame->width = m_width;
    m_enc_frame->height = m_height;
    if (av_frame_get_buffer(m_enc_frame.get(), 0) < 0) {
        RLOG(MEDIA_LOG_ERROR, "out of memory");
        return RECORD_CODEC;
    }
    return RECORD_OK;
}

// Sound: copied when MP4 can carry it, else re-encoded to AAC.
int MediaRecording::setUpAudio() {
    if (!m_ain) {
        return RECORD_OK;
    }
    m_aout = avformat_new_stream(m_out.ctx(), nullptr);
    if (!m_aout) {
        RLOG(MEDIA_LOG_ERROR, "cannot add the audio stream");
        return RECORD_CODEC;
    }
    if (avformat_query_codec(m_out.ctx()->oformat, m_ain->codecpar->codec_id, FF_COMPLIANCE_NORMAL) != 1) {
        return setUpAudioEncode();
    }
    m_audio_copy = true;
    if (avcodec_parameters_copy(m_aout->codecpar, m_ain->codecpar) < 0) {
        RLOG(MEDIA_LOG_ERROR, "cannot add the audio stream");
        return RECORD_CODEC;
    }
    m_aout->codecpar->codec_tag = 0;
    m_aout->time_base = m_ain->time_base;
    RLOG(MEDIA_LOG_INFO, "audio copied (%s)", avcodec_get_name(m_ain->codecpar->codec_id));
    return RECORD_OK;
}

int MediaRecording::setUpAudioEncode() {
    const AVCodec* dec = avcodec_find_decoder(m_ain->codecpar->codec_id);
    if (!dec) {
        RLOG(MEDIA_LOG_ERROR, "cannot convert the audio (%s) to AAC",
             avcodec_get_name(m_ain->codecpar->codec_id));
        return RECORD_CODEC;
    }
    m_adec.reset(avcodec_alloc_context3(dec));
    if (!m_adec || avcodec_parameters_to_context(m_adec.get(), m_ain->codecpar) < 0) {
        RLOG(MEDIA_LOG_ERROR, "cannot set up the audio decoder");
        return RECORD_CODEC;
    }
    m_adec->pkt_timebase = m_ain->time_base;
    const int err = avcodec_open2(m_adec.get(), dec, nullptr);
    if (err < 0 || m_adec->ch_layout.nb_channels <= 0 || m_adec->sample_rate <= 0) {
        RLOG(MEDIA_LOG_ERROR, "cannot open the audio decoder: %s", mediaErrorText(err).c_str());
        return RECORD_CODEC;
    }
    m_aac = std::make_unique<MediaAacEncoder>();
    if (!m_aac->open(m_adec->sample_rate, m_adec->ch_layout.nb_channels, kAudioBitrate,
                     m_out.ctx()->oformat->flags & AVFMT_GLOBALHEADER)) {
        return RECORD_CODEC;
    }
    if (avcodec_parameters_from_context(m_aout->codecpar, m_aac->ctx()) < 0) {
        RLOG(MEDIA_LOG_ERROR, "cannot add the audio stream");
        return RECORD_CODEC;
    }
    m_aout->time_base = m_aac->ctx()->time_base;
    m_audio_sink = [this](AVPacket* pkt) { return writePacket(pkt, m_aac->ctx()->time_base, m_aout); };
    RLOG(MEDIA_LOG_INFO, "audio re-encoded from %s to AAC", avcodec_get_name(m_ain->codecpar->codec_id));
    return RECORD_OK;
}

int MediaRecording::readInput() {
    for (;;) {
        if (m_stop) {
            return RECORD_CANCELLED;
        }
        int err = av_read_frame(m_in.fmt(), m_pkt.get());
        if (err == AVERROR_EOF) {
            return RECORD_OK;
        }
        if (err < 0) {
            RLOG(MEDIA_LOG_ERROR, "reading %s failed: %s", m_param.input_path.c_str(),
                 mediaErrorText(err).c_str());
            return RECORD_READ;
        }
        int rc = RECORD_OK;
        if (m_pkt->stream_index == m_in.video_index) {
            err = avcodec_send_packet(m_in.vdec.get(), m_pkt.get());
            if (err < 0 && err != AVERROR(EAGAIN)) {
                // A damaged packet costs its frame, as in any player; the rest still decodes.
                RLOG(MEDIA_LOG_WARN, "video packet skipped: %s", mediaErrorText(err).c_str());
            } else {
                rc = receiveVideoFrames();
            }
        } else if (m_ain && m_pkt->stream_index == m_in.audio_index) {
            rc = m_audio_copy ? copyAudio(m_pkt.get()) : decodeAudio(m_pkt.get());
        }
        av_packet_unref(m_pkt.get());
        if (rc != RECORD_OK) {
            return rc;
        }
    }
}

// Drains the decoders and encoders and completes the file.
int MediaRecording::finish() {
    avcodec_send_packet(m_in.vdec.get(), nullptr);
    int rc = receiveVideoFrames();
    if (rc == RECORD_OK) {
        rc = awaitPicture();
    }
    if (rc == RECORD_OK) {
        rc = encodePending();
    }
    if (rc == RECORD_OK) {
        rc = m_encoder->drain();
    }
    if (rc == RECORD_OK && m_aac) {
        avcodec_send_packet(m_adec.get(), nullptr);
        rc = receiveAudioFrames();
        if (rc == RECORD_OK && m_audio_started) {
            rc = queueAudio(nullptr);  // what the converter still holds
        }
        if (rc == RECORD_OK) {
            rc = code(m_aac->finish(m_audio_sink));
        }
    }
    if (rc == RECORD_OK) {
        rc = code(m_video.finish(m_video_sink));
    }
    if (rc == RECORD_OK && m_frame_count == 0) {
        RLOG(MEDIA_LOG_ERROR, "no video frame could be decoded from %s", m_param.input_path.c_str());
        rc = RECORD_READ;
    }
    return rc == RECORD_OK ? recordCodeOf(m_out.finish()) : rc;
}

// Video packets come from the encoding thread and sound from the reading one.
bool MediaRecording::writePacket(AVPacket* pkt, AVRational from, const AVStream* st) {
    pkt->stream_index = st->index;
    av_packet_rescale_ts(pkt, from, st->time_base);
    std::lock_guard<std::mutex> lock(m_out_mutex);
    const int rc = m_out.write(pkt);
    if (rc != MEDIA_CODE_SUCCESS) {
        m_write_code = recordCodeOf(rc);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Pictures: decoded frame -> observer -> painted picture -> encoder

int MediaRecording::receiveVideoFrames() {
    for (;;) {
        const int r = avcodec_receive_frame(m_in.vdec.get(), m_frame.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) {
            return RECORD_OK;
        }
        if (r < 0) {
            RLOG(MEDIA_LOG_ERROR, "video decoding failed: %s", mediaErrorText(r).c_str());
            return RECORD_READ;
        }
        const int c = handleVideoFrame(m_frame.get());
        av_frame_unref(m_frame.get());
        if (c != RECORD_OK) {
            return c;
        }
    }
}

// Hands one decoded frame to the observer once it has painted the previous one. While it paints this
// one, the previous picture is encoded and the next frame decoded.
int MediaRecording::handleVideoFrame(AVFrame* f) {
    const int64_t pts = presentationTime(f);
    std::shared_ptr<SRecordFrame> record = frameRecord(f, pts);
    if (!record) {
        return RECORD_CODEC;
    }
    const int waited = awaitPicture();
    if (waited != RECORD_OK) {
        return waited;
    }
    m_awaited = record->result.get_future();
    m_awaited_time = record->time;
    m_awaited_pts = pts;
    m_observer->OnRecordFrame(std::move(record));
    return encodePending();
}

// Waits for the picture of the frame the observer is painting, if any; it becomes the pending one.
int MediaRecording::awaitPicture() {
    if (!m_awaited.valid()) {
        return RECORD_OK;
    }
    std::future<std::shared_ptr<_RGBAFrame>> future = std::move(m_awaited);
    const int waited = waitForPicture(future, m_awaited_time);
    if (waited == RECORD_OK) {
        m_pending_pts = m_awaited_pts;
    }
    return waited;
}

// The frame's time in the input time base, strictly after the previous one (the encoder needs that).
int64_t MediaRecording::presentationTime(const AVFrame* f) {
    int64_t pts = f->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) {
        pts = m_last_pts == AV_NOPTS_VALUE ? m_video_start : m_last_pts + m_frame_duration;
    }
    if (m_last_pts != AV_NOPTS_VALUE && pts <= m_last_pts) {
        pts = m_last_pts + 1;
    }
    m_last_pts = pts;
    return pts;
}

// The frame as the observer gets it: tightly packed full-range YUV 4:2:0 with its time in ms, at the
// size asked for (scaled with the filter the ffmpeg program scales with), else as decoded.
std::shared_ptr<SRecordFrame> MediaRecording::frameRecord(AVFrame* f, int64_t pts) {
    const bool resize = m_param.frame_width > 0 && m_param.frame_height > 0 &&
                        (m_param.frame_width != f->width || m_param.frame_height != f->height);
    const int w = resize ? m_param.frame_width : f->width;
    const int h = resize ? m_param.frame_height : f->height;
    const int cw = w >> 1;
    const int ch = h >> 1;
    auto holder = std::make_shared<FrameHolder>();
    holder->planes.resize(size_t(w) * h + 2 * size_t(cw) * ch);
    uint8_t* y = holder->planes.data();
    uint8_t* u = y + size_t(w) * h;
    uint8_t* v = u + size_t(cw) * ch;
    // Pictures go out as full-range YUV 4:2:0: the observer's conversion takes Y as it is, so
    // studio-range video would lose its blacks and whites on the way.
    const bool fullRange = f->format == AV_PIX_FMT_YUVJ420P ||
                           (f->format == AV_PIX_FMT_YUV420P && f->color_range == AVCOL_RANGE_JPEG);
    if (!resize && fullRange) {
        copyPlane(y, f->data[0], f->linesize[0], w, h);
        copyPlane(u, f->data[1], f->linesize[1], cw, ch);
        copyPlane(v, f->data[2], f->linesize[2], cw, ch);
    } else if (!resize && f->format == AV_PIX_FMT_YUV420P) {
        // The usual case, studio-range 4:2:0, is expanded while it is copied.
        expandPlane(y, f->data[0], f->linesize[0], w, h, 16, kLumaFactor, 0);
        expandPlane(u, f->data[1], f->linesize[1], cw, ch, 128, kChromaFactor, 128);
        expandPlane(v, f->data[2], f->linesize[2], cw, ch, 128, kChromaFactor, 128);
    } else if (!scaleFrame(f, sourceIsFullRange(f), w, h, y, u, v)) {
        return nullptr;
    }
    holder->frame.width = w;
    holder->frame.height = h;
    holder->frame.time =
        std::max<int64_t>(0, av_rescale_q(pts - m_video_start, m_vin->time_base, AVRational{1, 1000}));
    holder->frame.y = y;
    holder->frame.u = u;
    holder->frame.v = v;
    return std::shared_ptr<SRecordFrame>(holder, &holder->frame);
}

// Scales (or only converts) a decoded frame of any format to full-range YUV 4:2:0 of w x h, into
// tightly packed planes whose chroma is (w / 2) x (h / 2): of an odd size, swscale makes one more
// chroma column or row, which goes through a scratch frame and is left out.
bool MediaRecording::scaleFrame(const AVFrame* f, bool fullRange, int w, int h, uint8_t* y, uint8_t* u,
                                uint8_t* v) {
    // Made once per geometry and format: a cached context would be rebuilt for every frame, since
    // swscale rewrites the full-range format internally and the cache then never matches.
    const int key[6] = {f->width, f->height, f->format, fullRange ? 1 : 0, w, h};
    if (!m_to_planar || !std::equal(key, key + 6, m_planar_key)) {
        std::copy(key, key + 6, m_planar_key);
        m_to_planar.reset(sws_getContext(f->width, f->height, AVPixelFormat(f->format), w, h,
                                         AV_PIX_FMT_YUVJ420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (m_to_planar) {
            // The source's own range, whatever its format name says; the observer's is full.
            const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
            sws_setColorspaceDetails(m_to_planar.get(), coefficients, fullRange ? 1 : 0, coefficients, 1, 0,
                                     1 << 16, 1 << 16);
        }
    }
    if (!m_to_planar) {
        RLOG(MEDIA_LOG_ERROR, "cannot convert decoded %dx%d frames of format %d to %dx%d", f->width,
             f->height, f->format, w, h);
        return false;
    }
    const bool odd = ((w | h) & 1) != 0;
    if (!odd) {
        uint8_t* const planes[4] = {y, u, v, nullptr};
        const int strides[4] = {w, w >> 1, w >> 1, 0};
        return sws_scale(m_to_planar.get(), f->data, f->linesize, 0, f->height, planes, strides) > 0;
    }
    if (!m_scratch || m_scratch->width != w || m_scratch->height != h) {
        m_scratch.reset(av_frame_alloc());
        if (!m_scratch) {
            return false;
        }
        m_scratch->format = AV_PIX_FMT_YUVJ420P;
        m_scratch->width = w;
        m_scratch->height = h;
        if (av_frame_get_buffer(m_scratch.get(), 0) < 0) {
            m_scratch.reset();
            RLOG(MEDIA_LOG_ERROR, "out of memory");
            return false;
        }
    }
    if (sws_scale(m_to_planar.get(), f->data, f->linesize, 0, f->height, m_scratch->data,
                  m_scratch->linesize) <= 0) {
        return false;
    }
    copyPlane(y, m_scratch->data[0], m_scratch->linesize[0], w, h);
    copyPlane(u, m_scratch->data[1], m_scratch->linesize[1], w >> 1, h >> 1);
    copyPlane(v, m_scratch->data[2], m_scratch->linesize[2], w >> 1, h >> 1);
    return true;
}

// Waits for the observer's picture of the frame at `time_ms`; it becomes the pending picture.
int MediaRecording::waitForPicture(std::future<std::shared_ptr<_RGBAFrame>>& future, qint64 time_ms) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        if (m_stop) {
            return RECORD_CANCELLED;
        }
        if (future.wait_for(std::chrono::milliseconds(20)) == std::future_status::ready) {
            break;
        }
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(m_picture_timeout_ms)) {
            RLOG(MEDIA_LOG_ERROR, "no picture for the frame at %lld ms within %d ms",
                 static_cast<long long>(time_ms), m_picture_timeout_ms);
            return RECORD_NO_PICTURE;
        }
    }
    std::shared_ptr<_RGBAFrame> picture;
    try {
        picture = future.get();
    } catch (const std::exception& e) {
        RLOG(MEDIA_LOG_ERROR, "the frame at %lld ms was dropped without a picture: %s",
             static_cast<long long>(time_ms), e.what());
        return RECORD_NO_PICTURE;
    }
    if (!picture || !picture->data || picture->width <= 0 || picture->height <= 0 ||
        (picture->format != RGBA_FRAME_ARGB32 && picture->format != RGBA_FRAME_NV12) ||
        (picture->format == RGBA_FRAME_NV12 && ((picture->width | picture->height) & 1))) {
        RLOG(MEDIA_LOG_ERROR, "empty picture for the frame at %lld ms", static_cast<long long>(time_ms));
        return RECORD_NO_PICTURE;
    }
    m_pending = std::move(picture);
    return RECORD_OK;
}

int MediaRecording::encodePending() {
    if (!m_pending) {
        return RECORD_OK;
    }
    std::shared_ptr<_RGBAFrame> picture = std::move(m_pending);
    m_pending.reset();
    return m_encoder->push(std::move(picture), m_pending_pts);
}

// Converts (where needed) and encodes one painted picture with its frame's time.
int MediaRecording::encodePicture(std::shared_ptr<_RGBAFrame> picture, int64_t pts) {
    const int w = picture->width;
    const int h = picture->height;
    const bool nv12 = picture->format == RGBA_FRAME_NV12;
    if (nv12 && w == m_width && h == m_height) {
        return encodeAsIs(std::move(picture), pts);
    }
    // 32-bit premultiplied ARGB in native byte order is read without alpha, which puts it over black.
    m_to_yuv.reset(sws_getCachedContext(m_to_yuv.release(), w, h, nv12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_0RGB32,
                                        m_width, m_height, AV_PIX_FMT_NV12, SWS_BICUBIC, nullptr, nullptr,
                                        nullptr));
    if (!m_to_yuv || av_frame_make_writable(m_enc_frame.get()) < 0) {
        RLOG(MEDIA_LOG_ERROR, "cannot convert a %dx%d picture", w, h);
        return RECORD_CODEC;
    }
    uint8_t* data = picture->data.get();
    const uint8_t* planes[4] = {data, nv12 ? data + size_t(w) * h : nullptr, nullptr, nullptr};
    const int strides[4] = {nv12 ? w : w * 4, nv12 ? w : 0, 0, 0};
    sws_scale(m_to_yuv.get(), planes, strides, 0, h, m_enc_frame->data, m_enc_frame->linesize);
    m_enc_frame->pts = pts;
    ++m_frame_count;
    return code(m_video.encode(m_enc_frame.get(), m_video_sink));
}

namespace {

void releasePicture(void* opaque, uint8_t*) {
    delete static_cast<std::shared_ptr<_RGBAFrame>*>(opaque);
}

}  // namespace

// A picture already in the encoder's format and size goes in as it is: the frame refers to the
// picture's bytes, and the picture lives until the encoder has let go of them.
int MediaRecording::encodeAsIs(std::shared_ptr<_RGBAFrame> picture, int64_t pts) {
    const int w = picture->width;
    const int h = picture->height;
    const size_t lumaSize = size_t(w) * h;
    uint8_t* data = picture->data.get();
    auto* owner = new std::shared_ptr<_RGBAFrame>(std::move(picture));
    AVBufferRef* buffer =
        av_buffer_create(data, lumaSize * 3 / 2, releasePicture, owner, AV_BUFFER_FLAG_READONLY);
    if (!buffer) {
        delete owner;
        RLOG(MEDIA_LOG_ERROR, "out of memory");
        return RECORD_CODEC;
    }
    FramePtr frame(av_frame_alloc());
    if (!frame) {
        av_buffer_unref(&buffer);  // lets the picture go
        RLOG(MEDIA_LOG_ERROR, "out of memory");
        return RECORD_CODEC;
    }
    frame->buf[0] = buffer;
    frame->data[0] = data;
    frame->data[1] = data + lumaSize;
    frame->linesize[0] = w;
    frame->linesize[1] = w;
    frame->format = AV_PIX_FMT_NV12;
    frame->width = w;
    frame->height = h;
    frame->pts = pts;
    ++m_frame_count;
    return code(m_video.encode(frame.get(), m_video_sink));
}

// ---------------------------------------------------------------------------------------------
// Sound

int MediaRecording::copyAudio(AVPacket* pkt) {
    pkt->pos = -1;
    return writePacket(pkt, m_ain->time_base, m_aout) ? int(RECORD_OK) : m_write_code.load();
}

int MediaRecording::decodeAudio(AVPacket* pkt) {
    const int err = avcodec_send_packet(m_adec.get(), pkt);
    if (err < 0 && err != AVERROR(EAGAIN)) {
        RLOG(MEDIA_LOG_WARN, "audio packet skipped: %s", mediaErrorText(err).c_str());
        return RECORD_OK;
    }
    return receiveAudioFrames();
}

int MediaRecording::receiveAudioFrames() {
    for (;;) {
        const int r = avcodec_receive_frame(m_adec.get(), m_audio_frame.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) {
            return RECORD_OK;
        }
        if (r < 0) {
            RLOG(MEDIA_LOG_ERROR, "audio decoding failed: %s", mediaErrorText(r).c_str());
            return RECORD_READ;
        }
        if (!m_audio_started) {
            // The sound starts where its first decoded samples are.
            const int64_t first = m_audio_frame->best_effort_timestamp;
            m_aac->setNextPts(
                first == AV_NOPTS_VALUE
                    ? 0
                    : av_rescale_q(first, m_ain->time_base, AVRational{1, m_aac->ctx()->sample_rate}));
            m_audio_started = true;
        }
        const int c = queueAudio(m_audio_frame.get());
        av_frame_unref(m_audio_frame.get());
        if (c != RECORD_OK) {
            return c;
        }
    }
}

// Converts decoded samples (null: what the converter holds) and encodes every whole AAC frame.
int MediaRecording::queueAudio(const AVFrame* f) {
    uint8_t** planes = nullptr;
    const int got = m_aac->convert(f, &planes);
    if (got < 0) {
        return RECORD_CODEC;
    }
    return code(m_aac->push(planes, 0, got, m_audio_sink));
}
