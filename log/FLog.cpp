#include "FLog.h"

#include <cstdio>
#include <fstream>

#include <log4cplus/logger.h>
#include <log4cplus/loglevel.h>

namespace {

constexpr size_t kConsoleBuffer = 4096;
constexpr size_t kForwardBuffer = 8192;

// Line numbers reported to log4cplus for each level; the formatted log shows them in its %L field.
constexpr int kLineError = 196;
constexpr int kLineWarn = 199;
constexpr int kLineInfo = 202;
constexpr int kLineDebug = 205;

void console_sink(int level, const char* format, va_list args, void*) {
    if (level != FLOG_ERROR && level != FLOG_WARN && level != FLOG_INFO) {
        return;
    }
    char buf[kConsoleBuffer];
    vsnprintf(buf, sizeof(buf), format, args);
    // One call per line so that lines of concurrent threads do not interleave.
    if (level == FLOG_ERROR) {
        fprintf(stderr, "error: %s\n", buf);
        fflush(stderr);
    } else if (level == FLOG_WARN) {
        fprintf(stdout, "warning: %s\n", buf);
        fflush(stdout);
    } else {
        fprintf(stdout, "info: %s\n", buf);
        fflush(stdout);
    }
}

void log4cplus_sink(int level, const char* format, va_list args, void*) {
    log4cplus::LogLevel ll;
    int line;
    switch (level) {
        case FLOG_ERROR:
            ll = log4cplus::ERROR_LOG_LEVEL;
            line = kLineError;
            break;
        case FLOG_WARN:
            ll = log4cplus::WARN_LOG_LEVEL;
            line = kLineWarn;
            break;
        case FLOG_INFO:
            ll = log4cplus::INFO_LOG_LEVEL;
            line = kLineInfo;
            break;
        case FLOG_DEBUG:
            ll = log4cplus::DEBUG_LOG_LEVEL;
            line = kLineDebug;
            break;
        default:
            return;
    }
    log4cplus::Logger logger = log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("flog"));
    if (!logger.isEnabledFor(ll)) {
        return;
    }
    char buf[kForwardBuffer];
    vsnprintf(buf, sizeof(buf), format, args);
    logger.forcedLog(ll, LOG4CPLUS_C_STR_TO_TSTRING(buf), "log/FLog", line, "log4cplus_sink");
}

flog_sink_fn g_sink = console_sink;
void* g_user_data = nullptr;
std::fstream g_file;

}  // namespace

extern "C" void flog_vlog(int level, const char* format, va_list args) {
    if (!format) {
        return;
    }
    g_sink(level, format, args, g_user_data);
}

extern "C" void flog_log(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    flog_vlog(level, format, args);
    va_end(args);
}

extern "C" void flog_set_callback(flog_sink_fn sink, void* user_data) {
    g_sink = sink ? sink : console_sink;
    g_user_data = sink ? user_data : nullptr;
}

extern "C" void set_log_file_name(const char* path) {
    if (!path) {
        return;
    }
    if (g_file.is_open()) {
        g_file.close();
    }
    g_file.open(path, std::ios::in | std::ios::out | std::ios::trunc);
    if (g_file.is_open()) {
        flog_set_callback(log4cplus_sink, &g_file);
    }
}
