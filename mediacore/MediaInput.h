#pragma once
// Opening media files with libavformat, hardened: only plain local files, only the demuxers of
// ordinary audio/video containers, bounded probing, every blocking call bounded by an interrupt.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;

// The demuxers a media file may be opened with (FFmpeg names, comma-separated): ordinary audio/video
// containers only, nothing that opens other files (playlists, edit lists, image sequences).
const char* mediaFormatWhitelist();

// Paths may come with "\" separators; the engine works with "/".
std::string mediaNormalizePath(const std::string& path);
// True for an existing regular file (not a directory, FIFO or device).
bool mediaIsRegularFile(const std::string& path);
// Why a file must not be opened as media at all, or an empty text when nothing speaks against it:
// a name that is an address or a protocol string rather than a path, something other than a regular
// file, a text that names other files or addresses (playlists, edit lists, protocol strings), or a
// container outside the allow-list. Looks at the name and the first bytes only; demuxes nothing.
std::string mediaRefusalOf(const std::string& path);

class MediaInput {
public:
    MediaInput() = default;
    ~MediaInput();
    MediaInput(const MediaInput&) = delete;
    MediaInput& operator=(const MediaInput&) = delete;

    // Opens and probes `path`. `cancel` (may be null) aborts blocking reads when set;
    // `timeout_ms` bounds opening and probing. Returns false (logged) on failure.
    // `analyze` false: for MP4/MOV trust the header (sizes, durations) and decode nothing.
    bool open(const std::string& path, const std::atomic<bool>* cancel, int timeout_ms, bool analyze = true);
    // Extends (or sets) the deadline for the reads that follow; <= 0 means no deadline.
    void setTimeout(int timeout_ms);

    // After a failed open(): true when the file was refused (see mediaRefusalOf) rather than
    // missing or unreadable.
    bool refused() const { return m_refused; }

    AVFormatContext* ctx() const { return m_ctx; }
    int videoIndex() const { return m_video; }
    int audioIndex() const { return m_audio; }
    // Start of the file (first presentation time) and its length, in microseconds.
    int64_t startUs() const { return m_start_us; }
    int64_t durationUs() const { return m_duration_us; }
    const std::string& path() const { return m_path; }

    static int interruptCallback(void* opaque);

private:
    AVFormatContext* m_ctx = nullptr;
    bool m_refused = false;
    int m_video = -1;
    int m_audio = -1;
    int64_t m_start_us = 0;
    int64_t m_duration_us = 0;
    std::string m_path;
    const std::atomic<bool>* m_cancel = nullptr;
    int64_t m_deadline_us = 0;
};

struct MediaProbe {
    bool ok = false;
    int64_t duration_ms = 0;
    int width = 0;
    int height = 0;
    bool has_video = false;
    bool has_audio = false;
    // True when the file cannot be stream-copied into an MP4 holding H.264 (4:2:0, even size) and AAC.
    bool need_transcode = false;
};

// Probes a file; logs the reason of any failure. `deep` also settles need_transcode (reads the
// first packets); without it need_transcode is false and only length and size are filled.
MediaProbe mediaProbe(const std::string& path, bool deep = true);

// MEDIA_CODE_CANCELLED when `cancel` is set, else MEDIA_CODE_READ with the reason logged.
int mediaReadError(int err, const std::atomic<bool>& cancel, const std::string& path);
// True for containers with a sample index (MP4, MOV, Matroska), where seeking is exact.
bool mediaHasSampleIndex(const MediaInput& in);
// For containers without a sample index seeking lands anywhere: finds the keyframe at or before
// `begin_us` by reading, then goes back to the start. Returns its pts in the video time base, or
// AV_NOPTS_VALUE.
int64_t mediaScanKeyframeBefore(MediaInput& in, int64_t begin_us, const std::atomic<bool>& cancel);
// Seeks so that reading starts at the keyframe at or before `begin_us` (relative to the file start).
void mediaSeekBefore(MediaInput& in, int64_t begin_us);

// Presentation times (ms from the start of the file, as the player counts) of every picture of the
// video of `path`, ascending, read from the container without decoding. False (logged) when the file
// cannot be opened or has no video.
bool mediaFrameTimes(const std::string& path, std::vector<int64_t>* times_ms);
