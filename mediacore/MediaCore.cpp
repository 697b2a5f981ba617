#define MEDIA_LOG_SOURCE "mediacore/MediaCore"
#include "MediaCore.h"

#include "MediaEdit.h"
#include "MediaLog.h"
#include "MediaPlayer.h"
#include "MediaSmartCut.h"

#include <sys/stat.h>
#include <unistd.h>

std::shared_ptr<IMediaCore> IMediaCore::create(IMediaCoreObserver* observer) {
    if (!observer) {
        mediaLog(MEDIA_LOG_ERROR, "[%s:%d]media engine created without observer", MEDIA_LOG_SOURCE, __LINE__);
        return nullptr;
    }
    return std::make_shared<MediaCore>(observer);
}

MediaCore::MediaCore(IMediaCoreObserver* observer)
    : m_observer(observer), m_player(std::make_unique<MediaPlayer>(observer)) {
    mediaInstallFfmpegLog();
}

MediaCore::~MediaCore() {
    m_cancel = true;
    {
        std::lock_guard<std::mutex> lock(m_jobs_mutex);
        m_worker_quit = true;
    }
    m_jobs_cv.notify_all();
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_player.reset();
}

// ---------------------------------------------------------------------------------------------
// Playback

bool MediaCore::open(const std::string& path, WId window) {
    MLOG(MEDIA_LOG_INFO, "open %s", path.c_str());
    std::string p = pathFor(path);
    return m_player->open(p, window);
}

void MediaCore::close() {
    m_player->close();
}
void MediaCore::setVolume(int percent) {
    m_player->setVolume(percent);
}
bool MediaCore::isPlaying() {
    return m_player->isPlaying();
}
void MediaCore::play(int) {
    m_player->play();
}
void MediaCore::stop() {
    m_player->stop();
}
void MediaCore::seek(qint64 ms) {
    m_player->seek(ms);
}
void MediaCore::pause(bool on) {
    m_player->pause(on);
}

// ---------------------------------------------------------------------------------------------
// Probing

std::string MediaCore::pathFor(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!path.empty()) {
        m_last_path = mediaNormalizePath(path);
    }
    return m_last_path;
}

MediaProbe MediaCore::probe(const std::string& path, bool deep) {
    std::string p = pathFor(path);
    if (p.empty()) {
        MLOG(MEDIA_LOG_ERROR, "no file opened or asked about yet");
        return {};
    }
    struct stat st;
    if (::stat(p.c_str(), &st) == 0) {
        int64_t mtime = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (p == m_probe_path && st.st_size == m_probe_size && mtime == m_probe_mtime_ns &&
                (m_probe_deep || !deep)) {
                return m_probe;
            }
        }
        MediaProbe r = mediaProbe(p, deep);
        if (r.ok) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_probe_path = p;
            m_probe_size = st.st_size;
            m_probe_mtime_ns = mtime;
            m_probe = r;
            m_probe_deep = deep;
        }
        return r;
    }
    return mediaProbe(p, deep);
}

qint64 MediaCore::getDuration(const std::string& path) {
    MediaProbe r = probe(path, false);
    return r.ok ? r.duration_ms : 0;
}

bool MediaCore::getVideoSize(int* width, int* height, const std::string& path) {
    MediaProbe r = probe(path, false);
    if (!r.ok || !r.has_video) {
        if (r.ok) {
            MLOG(MEDIA_LOG_ERROR, "no video stream in %s", pathFor("").c_str());
        }
        return false;
    }
    if (r.width <= 0 || r.height <= 0) {
        // A damaged header can name a video stream without a picture size; callers size outputs by it.
        MLOG(MEDIA_LOG_ERROR, "no picture size in %s", pathFor("").c_str());
        return false;
    }
    if (width) {
        *width = r.width;
    }
    if (height) {
        *height = r.height;
    }
    return true;
}

bool MediaCore::needTranscode(const std::string& path) {
    MediaProbe r = probe(path, true);
    return r.ok && r.need_transcode;
}

bool MediaCore::needTranscodeJoined(const std::string& path) {
    return needTranscode(path);
}

void MediaCore::transcode(const std::string& path) {
    std::string p = pathFor(path);
    MLOG(MEDIA_LOG_INFO, "transcode %s", p.c_str());
    MediaProbe r = probe(p, false);
    if (!r.ok) {
        MLOG(MEDIA_LOG_ERROR, "transcode failed, cannot read %s", p.c_str());
        return;
    }
    if (!r.has_video) {
        MLOG(MEDIA_LOG_ERROR, "transcode failed, no video in %s", p.c_str());
        return;
    }
    std::vector<MediaSpan> spans{MediaSpan{p, 0, -1}};
    int rc = mediaWriteAtomically(
        p, [&](const std::string& tmp) { return mediaEncode(spans, tmp, 0, 0, m_cancel); });
    if (rc != MEDIA_CODE_SUCCESS) {
        MLOG(MEDIA_LOG_ERROR, "transcode of %s failed with code %d; the file is unchanged", p.c_str(), rc);
        return;
    }
    MLOG(MEDIA_LOG_INFO, "transcoded %s", p.c_str());
}

// ---------------------------------------------------------------------------------------------
// Crop and merge

void MediaCore::setOutputDir(const std::string& dir) {
    std::string d = mediaNormalizePath(dir);
    while (d.size() > 1 && d.back() == '/') {
        d.pop_back();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_output_dir = d;
}

int MediaCore::checkOutput(const std::string& outputName, std::string* outPath) {
    std::string dir;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        dir = m_output_dir;
    }
    std::string name = mediaNormalizePath(outputName);
    // The output is a plain file name inside the output directory, never a path elsewhere.
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        MLOG(MEDIA_LOG_ERROR, "bad output file name:%s", outputName.c_str());
        return MEDIA_CODE_BAD_ARGUMENT;
    }
    struct stat st;
    if (dir.empty() || ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        MLOG(MEDIA_LOG_ERROR, "output directory missing:%s", dir.c_str());
        return MEDIA_CODE_OUTPUT_DIR;
    }
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        MLOG(MEDIA_LOG_ERROR, "output directory not writable:%s", dir.c_str());
        return MEDIA_CODE_OUTPUT_DIR;
    }
    *outPath = dir + "/" + name;
    return MEDIA_CODE_SUCCESS;
}

void MediaCore::startMediaCrop(const std::string& source, const std::vector<CropRange>& ranges,
                               const std::string& outputName, bool transcode) {
    std::string src = pathFor(source);
    MLOG(MEDIA_LOG_INFO, "crop %s into %s, %d range(s), transcode %d", src.c_str(), outputName.c_str(),
         int(ranges.size()), int(transcode));
    Job job;
    job.work = [this, src, ranges, outputName, transcode] {
        return runCrop(src, ranges, outputName, transcode);
    };
    job.report = [this](int code) { m_observer->OnMediaCrop(code); };
    enqueue(std::move(job));
}

void MediaCore::startMediaMerge(const std::vector<std::string>& inputs, const std::string& outputName,
                                int width, int height, bool transcode) {
    MLOG(MEDIA_LOG_INFO, "merge %d input(s) into %s, size %dx%d, transcode %d", int(inputs.size()),
         outputName.c_str(), width, height, int(transcode));
    Job job;
    job.work = [this, inputs, outputName, width, height, transcode] {
        return runMerge(inputs, outputName, width, height, transcode);
    };
    job.report = [this](int code) { m_observer->OnMediaMerg(code); };
    enqueue(std::move(job));
}

int MediaCore::runCrop(const std::string& source, const std::vector<CropRange>& ranges,
                       const std::string& outputName, bool transcode) {
    if (ranges.empty()) {
        MLOG(MEDIA_LOG_ERROR, "crop without ranges");
        return MEDIA_CODE_BAD_ARGUMENT;
    }
    std::string out;
    int rc = checkOutput(outputName, &out);
    if (rc != MEDIA_CODE_SUCCESS) {
        return rc;
    }
    MediaProbe info = mediaProbe(source, false);
    if (!info.ok) {
        return MEDIA_CODE_OPEN_INPUT;
    }
    if (!info.has_video) {
        MLOG(MEDIA_LOG_ERROR, "no video stream in %s", source.c_str());
        return MEDIA_CODE_NO_STREAM;
    }
    std::vector<MediaSpan> spans;
    for (const CropRange& r : ranges) {
        if (r.begin < 0 || r.begin >= r.end || r.begin >= info.duration_ms) {
            MLOG(MEDIA_LOG_ERROR, "bad crop range %lld-%lld ms for a file of %lld ms", (long long)r.begin,
                 (long long)r.end, (long long)info.duration_ms);
            return MEDIA_CODE_BAD_ARGUMENT;
        }
        qint64 end = r.end;
        if (end > info.duration_ms) {
            // Ends past the end (rounding of the caller's timeline) keep what the file has.
            MLOG(MEDIA_LOG_WARN, "crop end %lld ms past the end of the file, %lld ms kept", (long long)end,
                 (long long)info.duration_ms);
            end = info.duration_ms;
        }
        spans.push_back(MediaSpan{source, r.begin * 1000, end * 1000});
    }
    rc = mediaWriteAtomically(out, [&](const std::string& tmp) {
        if (transcode) {
            return mediaEncode(spans, tmp, 0, 0, m_cancel);
        }
        return cropExactly(spans, tmp);
    });
    if (rc == MEDIA_CODE_SUCCESS) {
        MLOG(MEDIA_LOG_INFO, "crop written:%s", out.c_str());
    }
    return rc;
}

// Smart cut where the source allows a sound splice, else an exact re-encode: never a piece holding
// pictures from outside the asked stretch.
int MediaCore::cropExactly(const std::vector<MediaSpan>& spans, const std::string& tmp) {
    if (spans.size() == 1) {
        SmartCutStats stats;
        int rc = mediaSmartCut(spans[0], tmp, m_cancel, &stats);
        if (rc == MEDIA_CODE_SUCCESS) {
            MLOG(MEDIA_LOG_INFO, "exact cut: %lld picture(s) copied, %lld re-encoded",
                 (long long)stats.copied_frames, (long long)stats.reencoded_frames);
        }
        if (rc != MEDIA_CODE_INCOMPATIBLE) {
            return rc;
        }
    }
    MLOG(MEDIA_LOG_INFO, "no sound splice possible in %s: the segment is re-encoded", spans[0].path.c_str());
    return mediaEncode(spans, tmp, 0, 0, m_cancel);
}

int MediaCore::runMerge(const std::vector<std::string>& inputs, const std::string& outputName, int width,
                        int height, bool transcode) {
    if (inputs.empty()) {
        MLOG(MEDIA_LOG_ERROR, "merge without inputs");
        return MEDIA_CODE_BAD_ARGUMENT;
    }
    if (width < 0 || height < 0) {
        MLOG(MEDIA_LOG_ERROR, "bad merge size %dx%d", width, height);
        return MEDIA_CODE_BAD_ARGUMENT;
    }
    std::string out;
    int rc = checkOutput(outputName, &out);
    if (rc != MEDIA_CODE_SUCCESS) {
        return rc;
    }
    std::vector<MediaSpan> spans;
    for (const std::string& raw : inputs) {
        std::string p = mediaNormalizePath(raw);
        MediaProbe info = mediaProbe(p, false);
        if (!info.ok) {
            return MEDIA_CODE_OPEN_INPUT;
        }
        if (!info.has_video) {
            MLOG(MEDIA_LOG_ERROR, "no video stream in %s", p.c_str());
            return MEDIA_CODE_NO_STREAM;
        }
        spans.push_back(MediaSpan{p, 0, -1});
    }
    std::vector<std::string> paths;
    for (const MediaSpan& s : spans) {
        paths.push_back(s.path);
    }
    int w0 = 0;
    int h0 = 0;
    bool copy = !transcode && mediaCanCopyTogether(paths, &w0, &h0) &&
                ((width == 0 && height == 0) || (width == w0 && height == h0));
    MLOG(MEDIA_LOG_INFO, "merge by %s", copy ? "stream copy" : "re-encoding");
    rc = mediaWriteAtomically(out, [&](const std::string& tmp) {
        return copy ? mediaRemux(spans, tmp, m_cancel) : mediaEncode(spans, tmp, width, height, m_cancel);
    });
    if (rc == MEDIA_CODE_SUCCESS) {
        MLOG(MEDIA_LOG_INFO, "merge written:%s", out.c_str());
    }
    return rc;
}

void MediaCore::enqueue(Job job) {
    std::unique_lock<std::mutex> lock(m_jobs_mutex);
    if (m_worker_quit) {
        lock.unlock();
        job.report(MEDIA_CODE_CANCELLED);
        return;
    }
    m_jobs.push_back(std::move(job));
    if (!m_worker.joinable()) {
        m_worker = std::thread(&MediaCore::workerLoop, this);
    }
    lock.unlock();
    m_jobs_cv.notify_all();
}

void MediaCore::workerLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_jobs_mutex);
            m_jobs_cv.wait(lock, [this] { return m_worker_quit || !m_jobs.empty(); });
            if (m_jobs.empty()) {
                return;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        int code = m_cancel.load() ? MEDIA_CODE_CANCELLED : job.work();
        if (code != MEDIA_CODE_SUCCESS) {
            MLOG(MEDIA_LOG_ERROR, "media job failed with code %d", code);
        }
        job.report(code);
    }
}
