#pragma once
// FFmpeg-based recorder: decodes the input video on its own thread, lets the observer paint each
// frame and encodes the painted pictures as H.264 (with the input's audio) into an MP4.
#include "IMediaRecorder.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

struct RecorderInput;

class MediaRecorder : public IMediaRecorder {
public:
    explicit MediaRecorder(IMediaRecorderObserver* observer);
    // Cancels a running recording (no further observer calls) and waits for its thread.
    ~MediaRecorder() override;

    int init(std::shared_ptr<_RecordParam> param) override;
    std::shared_ptr<_MediaInfo> getMediaInfo() override;
    bool start() override;
    void setFrameSize(int width, int height) override;

    // How long one frame may wait for the observer's picture before the recording fails.
    void setPictureTimeout(int ms) { m_picture_timeout_ms = ms; }

private:
    // The steps of init().
    int checkParam(const _RecordParam* param);
    int openInput(const _RecordParam& param, RecorderInput& in);
    std::shared_ptr<_MediaInfo> mediaInfoOf(const _RecordParam& param, const RecorderInput& in);
    void run();

    IMediaRecorderObserver* m_observer = nullptr;
    std::mutex m_mutex;
    _RecordParam m_param;
    std::shared_ptr<_MediaInfo> m_media_info;
    std::unique_ptr<RecorderInput> m_input;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_picture_timeout_ms{30000};
};
