#pragma once
// Log output of the media engine. Lines go to the callback installed with setLogCallback, or to
// stderr until one is installed. Formats are literals; file names and library texts are arguments.
#include <cstdarg>
#include <string>

enum MediaLogLevel {
    MEDIA_LOG_ERROR = 100,
    MEDIA_LOG_WARN = 200,
    MEDIA_LOG_INFO = 300,
    MEDIA_LOG_DEBUG = 400
};

void mediaLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The text FFmpeg gives for one of its error codes.
std::string mediaErrorText(int err);

// Routes the FFmpeg libraries' own warnings and errors into the engine's log (done once).
void mediaInstallFfmpegLog();

// Every line names its origin: "[source:line]" followed by the text.
// MEDIA_LOG_SOURCE must be defined by the including file (e.g. "mediacore/MediaCore").
#define MLOG(level, fmt, ...) mediaLog((level), "[%s:%d]" fmt, MEDIA_LOG_SOURCE, __LINE__, ##__VA_ARGS__)
