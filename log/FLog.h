#pragma once
// The one log entry point of the program and of the media engine.
// Levels: 100 error, 200 warning, 300 information, 400 debug.
#include <cstdarg>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*flog_sink_fn)(int level, const char* format, va_list args, void* user_data);

void flog_log(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void flog_vlog(int level, const char* format, va_list args) __attribute__((format(printf, 2, 0)));
// Makes `sink` the current sink; a null sink restores the console sink.
void flog_set_callback(flog_sink_fn sink, void* user_data);
// Opens the run marker file and, when it opened, forwards every line to log4cplus.
void set_log_file_name(const char* path);

#ifdef __cplusplus
}
#endif

// Every message names its origin: "[source:line]" followed by the text.
// FLOG_SOURCE must be defined by the including file (e.g. "editor/DataWrapper").
#define FLOG(level, fmt, ...) flog_log((level), "[%s:%d]" fmt, FLOG_SOURCE, __LINE__, ##__VA_ARGS__)

enum FLogLevel { FLOG_ERROR = 100, FLOG_WARN = 200, FLOG_INFO = 300, FLOG_DEBUG = 400 };
