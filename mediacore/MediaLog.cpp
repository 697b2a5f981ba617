#include "MediaLog.h"

#include "IMediaCore.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace {

std::atomic<MediaLogCallback> g_callback{nullptr};

constexpr size_t kLineBuffer = 4096;

void ffmpegLog(void* avcl, int level, const char* fmt, va_list args) {
    if (level > AV_LOG_WARNING) {
        return;
    }
    char line[kLineBuffer];
    int print_prefix = 1;
    va_list copy;
    va_copy(copy, args);
    av_log_format_line2(avcl, level, fmt, copy, line, sizeof(line), &print_prefix);
    va_end(copy);
    size_t n = strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) {
        line[--n] = '\0';
    }
    if (n == 0) {
        return;
    }
    mediaLog(level <= AV_LOG_ERROR ? MEDIA_LOG_ERROR : MEDIA_LOG_WARN, "[%s:%d]ffmpeg: %s",
             "mediacore/MediaLog", __LINE__, line);
}

}  // namespace

void setLogCallback(MediaLogCallback callback) {
    g_callback.store(callback);
}

void mediaLog(int level, const char* format, ...) {
    char line[kLineBuffer];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    MediaLogCallback cb = g_callback.load();
    if (cb) {
        // The message is already formatted; hand it on as an argument, never as a format.
        cb(level, "%s", line);
        return;
    }
    if (level > MEDIA_LOG_INFO) {
        return;
    }
    const char* tag = level <= MEDIA_LOG_ERROR  ? "error"
                      : level <= MEDIA_LOG_WARN ? "warning"
                      : level <= MEDIA_LOG_INFO ? "info"
                                                : "debug";
    fprintf(stderr, "%s: %s\n", tag, line);
}

void mediaInstallFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(ffmpegLog); });
}

std::string mediaErrorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(err, buf, sizeof(buf));
    return buf;
}
