#pragma once
// The engine object: playback through MediaPlayer, probing on the calling thread, and crop / merge
// jobs run one after another on the object's own worker thread.
#include "IMediaCore.h"
#include "MediaEdit.h"
#include "MediaInput.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class MediaPlayer;

class MediaCore : public IMediaCore {
public:
    explicit MediaCore(IMediaCoreObserver* observer);
    // Cancels running and queued jobs (each still reports once, with MEDIA_CODE_CANCELLED),
    // stops playback and joins every thread.
    ~MediaCore() override;

    bool open(const std::string& path, WId window) override;
    void close() override;
    void setVolume(int percent) override;
    bool isPlaying() override;
    void play(int flags) override;
    void stop() override;
    void cancelWork() override { m_cancel = true; }
    void seek(qint64 ms) override;
    void pause(bool on) override;

    qint64 getDuration(const std::string& path) override;
    bool getVideoSize(int* width, int* height, const std::string& path) override;
    bool needTranscode(const std::string& path) override;
    void transcode(const std::string& path) override;
    bool needTranscodeJoined(const std::string& path) override;

    void setOutputDir(const std::string& dir) override;
    void startMediaCrop(const std::string& source, const std::vector<CropRange>& ranges,
                        const std::string& outputName, bool transcode) override;
    void startMediaMerge(const std::vector<std::string>& inputs, const std::string& outputName, int width,
                         int height, bool transcode) override;

private:
    struct Job {
        std::function<int()> work;
        std::function<void(int)> report;
    };

    // Resolves an empty path to the last file used and remembers a given one.
    std::string pathFor(const std::string& path);
    MediaProbe probe(const std::string& path, bool deep);
    void enqueue(Job job);
    void workerLoop();
    int checkOutput(const std::string& outputName, std::string* outPath);
    int runCrop(const std::string& source, const std::vector<CropRange>& ranges,
                const std::string& outputName, bool transcode);
    int cropExactly(const std::vector<MediaSpan>& spans, const std::string& tmp);
    int runMerge(const std::vector<std::string>& inputs, const std::string& outputName, int width, int height,
                 bool transcode);

    IMediaCoreObserver* m_observer = nullptr;
    std::unique_ptr<MediaPlayer> m_player;

    std::mutex m_mutex;  // guards the members below
    std::string m_last_path;
    std::string m_output_dir;
    // Last probe, reused while the file is unchanged (same size and modification time).
    std::string m_probe_path;
    int64_t m_probe_size = -1;
    int64_t m_probe_mtime_ns = -1;
    MediaProbe m_probe;
    bool m_probe_deep = false;

    std::mutex m_jobs_mutex;
    std::condition_variable m_jobs_cv;
    std::deque<Job> m_jobs;
    bool m_worker_quit = false;
    std::thread m_worker;
    std::atomic<bool> m_cancel{false};
};
