#pragma once
// Media engine: playback into a native window (libmpv) and probing, crop, join and transcode
// (FFmpeg libraries). Knows nothing of packages or events.
#include <QtGlobal>
#include <qwindowdefs.h>

#include <memory>
#include <string>
#include <vector>

// Completion codes of startMediaCrop / startMediaMerge. 2 is success; every failure has its own code.
enum MediaCoreCode {
    MEDIA_CODE_SUCCESS = 2,
    MEDIA_CODE_BAD_ARGUMENT = 3,   // empty input list, begin >= end, range outside the file
    MEDIA_CODE_OPEN_INPUT = 4,     // input missing or not media
    MEDIA_CODE_NO_STREAM = 5,      // no usable video stream
    MEDIA_CODE_OUTPUT_DIR = 6,     // output directory missing or not writable
    MEDIA_CODE_OPEN_OUTPUT = 7,    // output file could not be created
    MEDIA_CODE_CODEC = 8,          // decoder or encoder could not be set up
    MEDIA_CODE_READ = 9,           // read or decode error in the middle of the input
    MEDIA_CODE_WRITE = 10,         // write error (disk full, ...)
    MEDIA_CODE_INCOMPATIBLE = 11,  // inputs cannot be stream-copied together
    MEDIA_CODE_CANCELLED = 12,     // engine destroyed while working
    MEDIA_CODE_BUSY = 13,          // another crop or merge of this engine object is running
};

struct CropRange {
    qint64 begin = 0;  // ms
    qint64 end = 0;    // ms
    std::string name;  // always "segment_c.mp4"
};

class IMediaCoreObserver {
public:
    virtual void OnTimePoint(qint64 ms) = 0;
    virtual void OnPlay() = 0;
    virtual void OnStop() = 0;
    virtual void OnReplay() = 0;
    virtual void OnSeek(qint64 ms) = 0;
    virtual void OnMediaCrop(int code) = 0;
    virtual void OnMediaMerg(int code) = 0;
    virtual void OnPlayingFinished(bool pause) = 0;
    virtual ~IMediaCoreObserver() = default;
};

class IMediaCore {
public:
    // Callbacks of the observer come on the engine's own threads.
    static std::shared_ptr<IMediaCore> create(IMediaCoreObserver* observer);

    virtual ~IMediaCore() = default;

    // Loads `path` (UTF-8) for playback into `window` (0: no video output). True once ready to play.
    virtual bool open(const std::string& path, WId window) = 0;
    // Not used by the editor; kept for the engine's own clients.
    virtual void close() = 0;
    virtual void setVolume(int percent) = 0;
    virtual bool isPlaying() = 0;

    virtual void play(int flags) = 0;
    virtual void stop() = 0;
    virtual void seek(qint64 ms) = 0;
    virtual void pause(bool on) = 0;

    // An empty path means the file this engine object last opened or was asked about.
    virtual qint64 getDuration(const std::string& path) = 0;
    virtual bool getVideoSize(int* width, int* height, const std::string& path) = 0;
    virtual bool needTranscode(const std::string& path) = 0;
    virtual void transcode(const std::string& path) = 0;
    virtual bool needTranscodeJoined(const std::string& path) = 0;

    virtual void setOutputDir(const std::string& dir) = 0;
    // Asynchronous; each request ends with exactly one OnMediaCrop / OnMediaMerg.
    virtual void startMediaCrop(const std::string& source, const std::vector<CropRange>& ranges,
                                const std::string& outputName, bool transcode) = 0;
    virtual void startMediaMerge(const std::vector<std::string>& inputs, const std::string& outputName,
                                 int width, int height, bool transcode) = 0;
    // Any thread: the running and every later crop, merge and transcode of this object end as
    // cancelled (crop and merge report MEDIA_CODE_CANCELLED); nothing is left at their outputs.
    virtual void cancelWork() {}
};

typedef void (*MediaLogCallback)(int level, const char* format, ...);
// Until a callback is set the engine logs to stderr.
void setLogCallback(MediaLogCallback callback);
