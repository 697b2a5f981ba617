#define MEDIA_LOG_SOURCE "mediacore/MediaPlayer"
#include "MediaPlayer.h"

#include "MediaInput.h"
#include "MediaLog.h"

#include <mpv/client.h>

#include <chrono>
#include <clocale>
#include <cmath>
#include <cstring>
#include <string>

namespace {

// While playing, the position is reported at least this often.
constexpr int64_t kTimeReportUs = 20000;

enum PropertyId : uint64_t { PROP_PAUSE = 1, PROP_EOF = 2, PROP_DURATION = 3 };

int64_t nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void setOption(mpv_handle* mpv, const char* name, const char* value) {
    int err = mpv_set_option_string(mpv, name, value);
    if (err < 0) {
        MLOG(MEDIA_LOG_WARN, "mpv option %s=%s refused: %s", name, value, mpv_error_string(err));
    }
}

// Options that keep the player to the one file it is given; false (logged) when mpv refuses one.
bool restrictToOneFile(mpv_handle* mpv) {
    static const char* const kNo[] = {
        "config", "load-scripts", "ytdl", "load-unsafe-playlists", "access-references", "ordered-chapters"};
    int err = 0;
    for (const char* name : kNo) {
        if (err >= 0) {
            err = mpv_set_option_string(mpv, name, "no");
        }
    }
    char protocolKey[] = "protocol_whitelist";
    char protocols[] = "file";
    char formatKey[] = "format_whitelist";
    std::string formats = mediaFormatWhitelist();
    mpv_node values[2];
    values[0].format = MPV_FORMAT_STRING;
    values[0].u.string = protocols;
    values[1].format = MPV_FORMAT_STRING;
    values[1].u.string = &formats[0];
    char* keys[2] = {protocolKey, formatKey};
    mpv_node_list list{2, values, keys};
    mpv_node map;
    map.format = MPV_FORMAT_NODE_MAP;
    map.u.list = &list;
    if (err >= 0) {
        err = mpv_set_option(mpv, "demuxer-lavf-o", MPV_FORMAT_NODE, &map);
    }
    if (err >= 0) {
        err = mpv_set_option_string(mpv, "demuxer", "lavf");
    }
    if (err < 0) {
        MLOG(MEDIA_LOG_ERROR, "mpv refused the restrictions to the one local file: %s",
             mpv_error_string(err));
        return false;
    }
    return true;
}

// mpv reports the outputs it tries and gives up on (GPU, audio devices) as errors; the engine logs
// real failures itself, so mpv's own lines are warnings at most.
int logLevelOf(mpv_log_level level) {
    return level <= MPV_LOG_LEVEL_WARN ? MEDIA_LOG_WARN : MEDIA_LOG_DEBUG;
}

}  // namespace

MediaPlayer::MediaPlayer(IMediaCoreObserver* observer) : m_observer(observer) {}

MediaPlayer::~MediaPlayer() {
    destroyHandle();
}

bool MediaPlayer::createHandle(WId window) {
    // libmpv refuses to start unless numbers are formatted the C way; Qt sets the user's locale.
    setlocale(LC_NUMERIC, "C");
    m_mpv = mpv_create();
    if (!m_mpv) {
        MLOG(MEDIA_LOG_ERROR, "mpv_create failed");
        return false;
    }
    // Nothing from the user's mpv set-up, no scripts, no network helpers, no files other than
    // the one asked for. The file goes to libavformat alone, with the engine's allow-list of
    // containers and no protocol but local files: mpv's own demuxers would follow edit lists (EDL),
    // playlists, cue sheets and linked Matroska segments to other files, and libavformat's playlist
    // demuxers would do the same. A player without these restrictions is not made.
    if (!restrictToOneFile(m_mpv)) {
        mpv_terminate_destroy(m_mpv);
        m_mpv = nullptr;
        return false;
    }
    setOption(m_mpv, "load-auto-profiles", "no");
    setOption(m_mpv, "load-stats-overlay", "no");
    setOption(m_mpv, "sub-auto", "no");
    setOption(m_mpv, "audio-file-auto", "no");
    setOption(m_mpv, "cover-art-auto", "no");
    setOption(m_mpv, "osc", "no");
    setOption(m_mpv, "terminal", "no");
    setOption(m_mpv, "input-default-bindings", "no");
    setOption(m_mpv, "input-vo-keyboard", "no");
    setOption(m_mpv, "input-cursor", "no");
    setOption(m_mpv, "osd-level", "0");
    // Stay on the last picture at the end so that the user can seek back.
    setOption(m_mpv, "keep-open", "yes");
    setOption(m_mpv, "idle", "yes");
    setOption(m_mpv, "pause", "yes");
    setOption(m_mpv, "hr-seek", "yes");
    setOption(m_mpv, "audio-fallback-to-null", "yes");
    if (window != 0) {
        int64_t wid = int64_t(window);
        int err = mpv_set_option(m_mpv, "wid", MPV_FORMAT_INT64, &wid);
        if (err < 0) {
            MLOG(MEDIA_LOG_ERROR, "mpv refused the window: %s", mpv_error_string(err));
        }
        // The plain X11 output only. The GPU output's probing of DRM contexts leaves a terminal
        // descriptor of 0 behind and closes fd 0 when the output goes; the next file or X
        // connection that took that number is then cut off under the player (read errors, or
        // Xlib ending the whole process on its broken connection). When X is unusable the file
        // still plays without a picture.
        setOption(m_mpv, "vo", "x11,null");
    } else {
        setOption(m_mpv, "vo", "null");
        setOption(m_mpv, "ao", "null");
    }
    int err = mpv_initialize(m_mpv);
    if (err < 0) {
        MLOG(MEDIA_LOG_ERROR, "mpv_initialize failed: %s", mpv_error_string(err));
        mpv_terminate_destroy(m_mpv);
        m_mpv = nullptr;
        return false;
    }
    mpv_request_log_messages(m_mpv, "warn");
    mpv_observe_property(m_mpv, PROP_PAUSE, "pause", MPV_FORMAT_FLAG);
    mpv_observe_property(m_mpv, PROP_EOF, "eof-reached", MPV_FORMAT_FLAG);
    mpv_observe_property(m_mpv, PROP_DURATION, "duration", MPV_FORMAT_DOUBLE);
    m_window = window;
    m_quit = false;
    m_thread = std::thread(&MediaPlayer::eventLoop, this);
    return true;
}

void MediaPlayer::destroyHandle() {
    if (!m_mpv) {
        return;
    }
    m_quit = true;
    mpv_wakeup(m_mpv);
    if (m_thread.joinable()) {
        m_thread.join();
    }
    mpv_terminate_destroy(m_mpv);
    m_mpv = nullptr;
    m_loaded = false;
    m_eof = false;
    m_paused = true;
}

bool MediaPlayer::open(const std::string& rawPath, WId window) {
    std::string path = mediaNormalizePath(rawPath);
    // Only ordinary local media files go to the player; names that look like URLs, playlists or
    // anything the engine's own probe refuses are rejected here.
    MediaProbe probe = mediaProbe(path, false);
    if (!probe.ok) {
        MLOG(MEDIA_LOG_ERROR, "cannot play %s", path.c_str());
        return false;
    }
    char* abs = realpath(path.c_str(), nullptr);
    if (!abs) {
        MLOG(MEDIA_LOG_ERROR, "cannot resolve %s", path.c_str());
        return false;
    }
    std::string absPath(abs);
    free(abs);

    if (m_mpv && window != m_window) {
        destroyHandle();
    }
    if (!m_mpv && !createHandle(window)) {
        return false;
    }
    m_duration_ms = probe.duration_ms;
    m_loaded = false;
    m_eof = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_load_state = LoadState::Loading;
    }
    mpv_set_property_string(m_mpv, "pause", "yes");
    const char* cmd[] = {"loadfile", absPath.c_str(), "replace", nullptr};
    int err = mpv_command(m_mpv, cmd);
    if (err < 0) {
        MLOG(MEDIA_LOG_ERROR, "mpv cannot load %s: %s", path.c_str(), mpv_error_string(err));
        return false;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    bool done = m_cv.wait_for(lock, std::chrono::milliseconds(kOpenTimeoutMs),
                              [this] { return m_load_state != LoadState::Loading; });
    if (!done) {
        lock.unlock();
        MLOG(MEDIA_LOG_ERROR, "mpv did not load %s in time", path.c_str());
        const char* stop[] = {"stop", nullptr};
        mpv_command(m_mpv, stop);
        return false;
    }
    if (m_load_state != LoadState::Loaded) {
        MLOG(MEDIA_LOG_ERROR, "mpv failed to load %s", path.c_str());
        return false;
    }
    m_loaded = true;
    if (char* ao = mpv_get_property_string(m_mpv, "current-ao")) {
        MLOG(MEDIA_LOG_INFO, "audio output: %s", ao);
        mpv_free(ao);
    }
    return true;
}

void MediaPlayer::close() {
    if (!m_mpv) {
        return;
    }
    const char* stop[] = {"stop", nullptr};
    mpv_command(m_mpv, stop);
    m_loaded = false;
}

void MediaPlayer::play() {
    if (!m_mpv || !m_loaded) {
        MLOG(MEDIA_LOG_WARN, "play without a loaded file");
        return;
    }
    if (m_eof) {
        requestSeek(0, SeekKind::Replay);
    }
    mpv_set_property_string(m_mpv, "pause", "no");
}

void MediaPlayer::pause(bool on) {
    if (!m_mpv || !m_loaded) {
        MLOG(MEDIA_LOG_WARN, "pause without a loaded file");
        return;
    }
    mpv_set_property_string(m_mpv, "pause", on ? "yes" : "no");
}

void MediaPlayer::stop() {
    if (!m_mpv || !m_loaded) {
        MLOG(MEDIA_LOG_WARN, "stop without a loaded file");
        return;
    }
    // The file stays loaded at its start so that play() can follow.
    mpv_set_property_string(m_mpv, "pause", "yes");
    requestSeek(0, SeekKind::Internal);
    m_stop_pending = true;
    mpv_wakeup(m_mpv);
}

void MediaPlayer::seek(qint64 ms) {
    if (!m_mpv || !m_loaded) {
        MLOG(MEDIA_LOG_WARN, "seek without a loaded file");
        return;
    }
    qint64 duration = m_duration_ms.load();
    if (ms < 0) {
        ms = 0;
    }
    if (duration > 0 && ms > duration) {
        ms = duration;
    }
    requestSeek(ms, SeekKind::User);
}

void MediaPlayer::requestSeek(qint64 ms, SeekKind kind) {
    m_seek_target = ms;
    m_seek_kind = int(kind);
    char target[64];
    snprintf(target, sizeof(target), "%.3f", double(ms) / 1000.0);
    const char* cmd[] = {"seek", target, "absolute+exact", nullptr};
    int err = mpv_command_async(m_mpv, 0, cmd);
    if (err < 0) {
        MLOG(MEDIA_LOG_ERROR, "mpv seek to %lld ms failed: %s", (long long)ms, mpv_error_string(err));
    }
}

void MediaPlayer::setVolume(int percent) {
    if (!m_mpv) {
        return;
    }
    int64_t v = std::max(0, std::min(100, percent));
    mpv_set_property(m_mpv, "volume", MPV_FORMAT_INT64, &v);
}

bool MediaPlayer::isPlaying() const {
    return m_mpv && m_loaded && !m_paused && !m_eof;
}

void MediaPlayer::reportTime() {
    double pos = 0;
    if (mpv_get_property(m_mpv, "time-pos", MPV_FORMAT_DOUBLE, &pos) < 0 || !std::isfinite(pos)) {
        return;
    }
    m_last_report_us = nowUs();
    m_observer->OnTimePoint(qint64(std::llround(std::max(0.0, pos) * 1000.0)));
}

void MediaPlayer::eventLoop() {
    bool file_loaded = false;
    while (!m_quit) {
        const bool playing = isPlaying();
        mpv_event* ev = mpv_wait_event(m_mpv, playing ? 0.01 : 0.25);
        if (m_quit) {
            break;
        }
        switch (ev->event_id) {
            case MPV_EVENT_SHUTDOWN:
                m_quit = true;
                break;
            case MPV_EVENT_FILE_LOADED:
                file_loaded = true;
                break;
            case MPV_EVENT_END_FILE: {
                auto* ef = static_cast<mpv_event_end_file*>(ev->data);
                if (ef->reason == MPV_END_FILE_REASON_ERROR) {
                    MLOG(MEDIA_LOG_ERROR, "playback ended with an error: %s", mpv_error_string(ef->error));
                    std::lock_guard<std::mutex> lock(m_mutex);
                    if (m_load_state == LoadState::Loading) {
                        m_load_state = LoadState::Failed;
                        m_cv.notify_all();
                    }
                } else if (ef->reason == MPV_END_FILE_REASON_EOF && m_loaded) {
                    // Only when keep-open could not hold the last picture.
                    m_loaded = false;
                    m_observer->OnPlayingFinished(true);
                }
                break;
            }
            case MPV_EVENT_PLAYBACK_RESTART: {
                {
                    // Ready once the first picture is decoded; a seek asked after open() then
                    // cannot be mistaken for this first restart.
                    std::lock_guard<std::mutex> lock(m_mutex);
                    if (m_load_state == LoadState::Loading && file_loaded) {
                        m_load_state = LoadState::Loaded;
                        file_loaded = false;
                        m_cv.notify_all();
                        break;
                    }
                }
                auto kind = SeekKind(m_seek_kind.exchange(int(SeekKind::None)));
                if (kind == SeekKind::User) {
                    m_observer->OnSeek(m_seek_target.load());
                } else if (kind == SeekKind::Replay) {
                    m_observer->OnReplay();
                }
                break;
            }
            case MPV_EVENT_PROPERTY_CHANGE: {
                auto* p = static_cast<mpv_event_property*>(ev->data);
                if (ev->reply_userdata == PROP_PAUSE && p->format == MPV_FORMAT_FLAG) {
                    bool paused = *static_cast<int*>(p->data) != 0;
                    bool was = m_paused.exchange(paused);
                    if (was && !paused && m_loaded) {
                        m_observer->OnPlay();
                    }
                } else if (ev->reply_userdata == PROP_EOF && p->format == MPV_FORMAT_FLAG) {
                    bool eof = *static_cast<int*>(p->data) != 0;
                    bool was = m_eof.exchange(eof);
                    if (eof && !was && m_loaded) {
                        qint64 d = m_duration_ms.load();
                        if (d > 0) {
                            m_observer->OnTimePoint(d);
                        }
                        m_observer->OnPlayingFinished(true);
                    }
                } else if (ev->reply_userdata == PROP_DURATION && p->format == MPV_FORMAT_DOUBLE) {
                    double d = *static_cast<double*>(p->data);
                    if (std::isfinite(d) && d > 0) {
                        m_duration_ms = qint64(std::llround(d * 1000.0));
                    }
                }
                break;
            }
            case MPV_EVENT_LOG_MESSAGE: {
                auto* msg = static_cast<mpv_event_log_message*>(ev->data);
                std::string text = msg->text ? msg->text : "";
                while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
                    text.pop_back();
                }
                mediaLog(logLevelOf(mpv_log_level(msg->log_level)), "[%s:%d]mpv %s: %s", MEDIA_LOG_SOURCE,
                         __LINE__, msg->prefix ? msg->prefix : "", text.c_str());
                break;
            }
            default:
                break;
        }
        if (m_stop_pending.exchange(false)) {
            m_observer->OnStop();
        }
        if (isPlaying() && nowUs() - m_last_report_us >= kTimeReportUs) {
            reportTime();
        }
    }
}
