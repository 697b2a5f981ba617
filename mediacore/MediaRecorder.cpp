#define MEDIA_LOG_SOURCE "mediacore/MediaRecorder"
#include "MediaRecorder.h"

#include "MediaLog.h"
#include "MediaRecording.h"

#include <unistd.h>

#include <string>

#define RLOG(level, fmt, ...) \
    mediaRecorderLog(m_observer, m_stop, (level), "[%s:%d]" fmt, MEDIA_LOG_SOURCE, __LINE__, ##__VA_ARGS__)

namespace {

// Bound on opening and probing the input.
constexpr int kOpenTimeoutMs = 10000;

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
        RLOG(MEDIA_LOG_ERROR, "init refused: a recording is running");
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
    int rc = checkParam(param.get());
    std::unique_ptr<RecorderInput> input;
    std::shared_ptr<_MediaInfo> info;
    if (rc == RECORD_OK) {
        input = std::make_unique<RecorderInput>();
        rc = openInput(*param, *input);
    }
    if (rc == RECORD_OK) {
        info = mediaInfoOf(*param, *input);
        rc = info ? RECORD_OK : RECORD_NO_VIDEO;
    }
    if (rc != RECORD_OK) {
        return rc;
    }
    m_param = *param;
    m_input = std::move(input);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_media_info = info;
    }
    RLOG(MEDIA_LOG_INFO, "recorder ready: %s (%dx%d, %lld ms) -> %s (%dx%d, %d kbit/s)",
         m_param.input_path.c_str(), info->width, info->height, static_cast<long long>(info->duration),
         m_param.output_path.c_str(), m_param.width, m_param.height, m_param.bitrate);
    return RECORD_OK;
}

int MediaRecorder::checkParam(const _RecordParam* param) {
    if (!param) {
        RLOG(MEDIA_LOG_ERROR, "init refused: no parameters");
        return RECORD_BAD_PARAM;
    }
    if (param->width < 2 || param->height < 2 || param->bitrate <= 0 || param->input_path.empty() ||
        param->output_path.empty()) {
        RLOG(MEDIA_LOG_ERROR, "init refused: size %dx%d, bitrate %d, input \"%s\", output \"%s\"",
             param->width, param->height, param->bitrate, param->input_path.c_str(),
             param->output_path.c_str());
        return RECORD_BAD_PARAM;
    }
    if (param->output_path == param->input_path) {
        RLOG(MEDIA_LOG_ERROR, "init refused: the output would replace the input %s",
             param->input_path.c_str());
        return RECORD_BAD_PARAM;
    }
    const std::string outDir = directoryOf(param->output_path);
    if (fileNameOf(param->output_path).empty() || access(outDir.c_str(), W_OK | X_OK) != 0) {
        RLOG(MEDIA_LOG_ERROR, "init refused: cannot write into the output folder %s", outDir.c_str());
        return RECORD_OPEN_OUTPUT;
    }
    return RECORD_OK;
}

// The one hardened open of the engine: a playlist, an address or anything but a regular file never
// reaches a demuxer, so the export cannot read another file than the package's video.
int MediaRecorder::openInput(const _RecordParam& param, RecorderInput& in) {
    if (!in.media.open(param.input_path, &m_stop, kOpenTimeoutMs)) {
        if (in.media.refused()) {
            RLOG(MEDIA_LOG_ERROR, "init refused: the input %s is not a video file", param.input_path.c_str());
            return RECORD_REFUSED;
        }
        RLOG(MEDIA_LOG_ERROR, "cannot open the input %s", param.input_path.c_str());
        return RECORD_OPEN_INPUT;
    }
    in.media.setTimeout(0);
    in.video_index = in.media.videoIndex();
    in.audio_index = in.media.audioIndex();
    AVStream* vst = in.video_index >= 0 ? in.fmt()->streams[in.video_index] : nullptr;
    const AVCodec* vcodec = vst ? avcodec_find_decoder(vst->codecpar->codec_id) : nullptr;
    if (!vcodec) {
        RLOG(MEDIA_LOG_ERROR, "no decodable video stream in %s", param.input_path.c_str());
        return RECORD_NO_VIDEO;
    }
    in.vdec.reset(avcodec_alloc_context3(vcodec));
    if (!in.vdec || avcodec_parameters_to_context(in.vdec.get(), vst->codecpar) < 0) {
        RLOG(MEDIA_LOG_ERROR, "cannot set up the video decoder");
        return RECORD_CODEC;
    }
    in.vdec->pkt_timebase = vst->time_base;
    // One thread: decoding is a small part of an export, whose painting and encoding keep both cores
    // busy, and every frame thread would hold pictures of its own.
    in.vdec->thread_count = 1;
    const int err = avcodec_open2(in.vdec.get(), vcodec, nullptr);
    if (err < 0) {
        RLOG(MEDIA_LOG_ERROR, "cannot open the video decoder: %s", mediaErrorText(err).c_str());
        return RECORD_CODEC;
    }
    return RECORD_OK;
}

std::shared_ptr<_MediaInfo> MediaRecorder::mediaInfoOf(const _RecordParam& param, const RecorderInput& in) {
    const AVCodecParameters* par = in.fmt()->streams[in.video_index]->codecpar;
    auto info = std::make_shared<_MediaInfo>();
    info->duration = in.media.durationUs() / 1000;
    info->width = par->width;
    info->height = par->height;
    if (info->width <= 0 || info->height <= 0) {
        RLOG(MEDIA_LOG_ERROR, "the video of %s has no picture size", param.input_path.c_str());
        return nullptr;
    }
    return info;
}

std::shared_ptr<_MediaInfo> MediaRecorder::getMediaInfo() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_media_info;
}

bool MediaRecorder::start() {
    if (m_running) {
        RLOG(MEDIA_LOG_ERROR, "start refused: a recording is running");
        return false;
    }
    if (!m_input) {
        RLOG(MEDIA_LOG_ERROR, "start refused: the recorder is not initialised");
        return false;
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_running = true;
    m_thread = std::thread(&MediaRecorder::run, this);
    return true;
}

void MediaRecorder::setFrameSize(int width, int height) {
    if (m_running) {
        RLOG(MEDIA_LOG_ERROR, "frame size refused: a recording is running");
        return;
    }
    const bool valid = width > 0 && height > 0;
    m_param.frame_width = valid ? width : 0;
    m_param.frame_height = valid ? height : 0;
}

void MediaRecorder::run() {
    std::unique_ptr<RecorderInput> input = std::move(m_input);
    int code = RECORD_OK;
    {
        MediaRecording recording(*input, m_param, m_observer, m_stop, m_picture_timeout_ms.load());
        code = recording.run();
    }
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
