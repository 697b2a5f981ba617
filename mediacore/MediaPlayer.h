#pragma once
// Playback of one file through libmpv, into a native window or without video output.
// All observer callbacks come from the player's own event thread.
#include "IMediaCore.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

struct mpv_handle;

class MediaPlayer {
public:
    explicit MediaPlayer(IMediaCoreObserver* observer);
    // Stops the event thread and destroys the mpv handle; safe while playing.
    ~MediaPlayer();
    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;

    // Loads `path` paused and returns once it is ready to play (false on failure or timeout).
    bool open(const std::string& path, WId window);
    void close();
    void play();
    void stop();
    void seek(qint64 ms);
    void pause(bool on);
    void setVolume(int percent);
    bool isPlaying() const;

    // How long open() waits for the file to load.
    static constexpr int kOpenTimeoutMs = 10000;

private:
    enum class LoadState { Idle, Loading, Loaded, Failed };
    enum class SeekKind { None, User, Replay, Internal };

    bool createHandle(WId window);
    void destroyHandle();
    void eventLoop();
    void requestSeek(qint64 ms, SeekKind kind);
    void reportTime();

    IMediaCoreObserver* m_observer = nullptr;
    mpv_handle* m_mpv = nullptr;
    WId m_window = 0;
    std::thread m_thread;
    std::atomic<bool> m_quit{false};

    std::mutex m_mutex;
    std::condition_variable m_cv;
    LoadState m_load_state = LoadState::Idle;

    std::atomic<bool> m_loaded{false};
    std::atomic<bool> m_paused{true};
    std::atomic<bool> m_eof{false};
    std::atomic<bool> m_stop_pending{false};
    std::atomic<int> m_seek_kind{0};
    std::atomic<qint64> m_seek_target{0};
    std::atomic<qint64> m_duration_ms{0};
    int64_t m_last_report_us = 0;
};
