#pragma once
// One recording of the recorder: decodes the input video, hands each frame to the observer, waits for
// its painted picture and encodes the pictures as H.264 (with the input's sound, copied or re-encoded
// to AAC) into an MP4 that appears at the output path only when complete.
#include "FfmpegPtr.h"
#include "IMediaRecorder.h"
#include "MediaEncoderCore.h"
#include "MediaInput.h"
#include "MediaOutput.h"
#include "MediaPictureWorker.h"

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <string>

// Input side, opened by the recorder's init() and consumed by one recording.
struct RecorderInput {
    MediaInput media;
    CodecPtr vdec;
    int video_index = -1;
    int audio_index = -1;

    AVFormatContext* fmt() const { return media.ctx(); }
};

// A line of the recorder for its observer, which passes it to the program's log; nothing once the owner
// has started to destroy the recorder (`stop`). The format is a literal; file names are arguments.
void mediaRecorderLog(IMediaRecorderObserver* observer, const std::atomic<bool>& stop, int level,
                      const char* format, ...) __attribute__((format(printf, 4, 5)));

class MediaRecording {
public:
    MediaRecording(RecorderInput& in, const _RecordParam& param, IMediaRecorderObserver* observer,
                   const std::atomic<bool>& stop, int picture_timeout_ms);
    MediaRecording(const MediaRecording&) = delete;
    MediaRecording& operator=(const MediaRecording&) = delete;

    // Records to the output path; RECORD_OK, or the code of the failure (logged where detected).
    int run();

private:
    int writeTo(const std::string& tmp);
    int setUpVideo();
    int setUpAudio();
    int setUpAudioEncode();
    int readInput();
    int finish();

    int receiveVideoFrames();
    int handleVideoFrame(AVFrame* f);
    int64_t presentationTime(const AVFrame* f);
    std::shared_ptr<SRecordFrame> frameRecord(AVFrame* f, int64_t pts);
    bool scaleFrame(const AVFrame* f, bool fullRange, int w, int h, uint8_t* y, uint8_t* u, uint8_t* v);
    int awaitPicture();
    int waitForPicture(std::future<std::shared_ptr<_RGBAFrame>>& future, qint64 time_ms);
    int encodePending();
    int encodePicture(std::shared_ptr<_RGBAFrame> picture, int64_t pts);
    int encodeAsIs(std::shared_ptr<_RGBAFrame> picture, int64_t pts);

    int copyAudio(AVPacket* pkt);
    int decodeAudio(AVPacket* pkt);
    int receiveAudioFrames();
    int queueAudio(const AVFrame* f);

    bool writePacket(AVPacket* pkt, AVRational from, const AVStream* st);
    int code(MediaEncodeResult r) const;

    RecorderInput& m_in;
    const _RecordParam& m_param;
    IMediaRecorderObserver* m_observer;
    const std::atomic<bool>& m_stop;
    const int m_picture_timeout_ms;

    AVStream* m_vin = nullptr;
    AVStream* m_ain = nullptr;
    int m_width = 0;  // output size, made even
    int m_height = 0;
    int64_t m_frame_duration = 1;  // in the input video's time base
    int64_t m_video_start = 0;

    Mp4Output m_out;
    std::mutex m_out_mutex;                       // one packet at a time into the output
    std::atomic<int> m_write_code{RECORD_WRITE};  // the output's failure, once a packet could not be written
    MediaVideoEncoder m_video;
    AVStream* m_vout = nullptr;
    MediaPacketSink m_video_sink;
    FramePtr m_enc_frame;  // the picture in the encoder's format
    SwsPtr m_to_yuv;       // painted picture in another format or size -> encoder frame
    // Decoded frames in other formats or sizes -> full-range YUV 4:2:0 for the observer.
    SwsPtr m_to_planar;
    // Source width, height, format and full range, and target width and height m_to_planar is for.
    int m_planar_key[6] = {0, 0, -1, 0, 0, 0};
    FramePtr m_scratch;  // the scaled frame of an odd size, before its last chroma column or row goes

    AVStream* m_aout = nullptr;
    bool m_audio_copy = false;
    CodecPtr m_adec;
    std::unique_ptr<MediaAacEncoder> m_aac;
    MediaPacketSink m_audio_sink;
    bool m_audio_started = false;

    PacketPtr m_pkt;
    FramePtr m_frame;
    FramePtr m_audio_frame;
    int64_t m_last_pts = AV_NOPTS_VALUE;
    std::atomic<long long> m_frame_count{0};
    // The picture of the previous frame: it is encoded while the observer paints the next one, so
    // painting and encoding overlap while frames still go to the observer one at a time, in order.
    std::shared_ptr<_RGBAFrame> m_pending;
    int64_t m_pending_pts = AV_NOPTS_VALUE;
    // The frame the observer is painting: its picture is awaited only when the next frame has been
    // decoded (or at the end), so decoding overlaps painting too.
    std::future<std::shared_ptr<_RGBAFrame>> m_awaited;
    qint64 m_awaited_time = 0;
    int64_t m_awaited_pts = AV_NOPTS_VALUE;
    // Encodes the pictures while this thread decodes and hands out frames; last, so that it has
    // stopped before anything it uses goes.
    std::unique_ptr<MediaPictureWorker> m_encoder;
};
