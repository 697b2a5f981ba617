#pragma once
// Recorder side of the media engine: decodes a video frame by frame, lets the observer paint each
// frame, and encodes the painted pictures (with the source's audio) into an MP4.
#include <QtGlobal>

#include <cstdint>
#include <future>
#include <memory>
#include <string>

struct _RecordParam {
    qint32 width = 0;    // output width in pixels
    qint32 height = 0;   // output height in pixels
    qint32 bitrate = 0;  // video bitrate in kbit/s
    qint32 reserved = 0;
    std::string input_path;   // UTF-8
    std::string output_path;  // UTF-8
    // The H.264 encoder by FFmpeg name (e.g. "h264_vaapi"), with libx264 when it cannot be used;
    // empty: a hardware encoder where the machine has one, else libx264.
    std::string video_encoder;
    // The size decoded frames are scaled to for the observer (0: as decoded). An observer that
    // shows the video smaller than decoded, as a layout does, gets it ready to draw pixel for pixel
    // and properly filtered, and the frame's planes stay small.
    qint32 frame_width = 0;
    qint32 frame_height = 0;
};

// Layouts of a painted picture's bytes.
enum RGBAFrameFormat : qint32 {
    RGBA_FRAME_ARGB32 = 0,  // width * height 32-bit premultiplied ARGB words, rows top down
    // Already converted for the encoder (even width and height): width * height luma bytes, then
    // (width / 2) * (height / 2) interleaved Cb, Cr pairs; BT.601 studio range, rows top down.
    RGBA_FRAME_NV12 = 1,
};

struct _RGBAFrame {
    qint32 width = 0;
    qint32 height = 0;
    std::unique_ptr<uint8_t[]> data;  // the picture's bytes in `format`
    std::shared_ptr<void> extra;      // left empty by the exporter
    qint32 format = RGBA_FRAME_ARGB32;
};

typedef struct _RecordFrame {
    qint32 width = 0;
    qint32 height = 0;
    qint64 time = 0;  // presentation time in ms from the start of the video
    // Planar YUV 4:2:0, rows tightly packed; U and V are (width/2) x (height/2).
    uint8_t* y = nullptr;
    uint8_t* u = nullptr;
    uint8_t* v = nullptr;
    // Where the observer delivers the painted picture; the recorder waits on it before going on.
    std::promise<std::shared_ptr<_RGBAFrame>> result;
} SRecordFrame;

struct _MediaInfo {
    qint64 duration = 0;  // ms
    qint32 width = 0;
    qint32 height = 0;
};

// Failure codes reported through OnRecordError.
enum MediaRecorderCode {
    RECORD_OK = 0,
    RECORD_BAD_PARAM = 1,
    RECORD_OPEN_INPUT = 2,
    RECORD_NO_VIDEO = 3,
    RECORD_CODEC = 4,
    RECORD_OPEN_OUTPUT = 5,
    RECORD_WRITE = 6,
    RECORD_NO_PICTURE = 7,  // the observer delivered no picture for a frame
    RECORD_CANCELLED = 8,
    RECORD_READ = 9,      // read or decode error in the middle of the input
    RECORD_BUSY = 10,     // init or start while a recording of this object is running
    RECORD_REFUSED = 11,  // the input is a playlist, an address or not a regular file
};

class IMediaRecorderObserver {
public:
    virtual void OnRecordFrame(std::shared_ptr<SRecordFrame> frame) = 0;
    virtual void OnRecordFinished() = 0;
    virtual void OnRecordLog(int level, const char* format, ...) = 0;
    // A recording that fails reports its cause here and then OnRecordFinished(); the output
    // file is then not present at the output path.
    virtual void OnRecordError(int /*code*/) {}
};

class IMediaRecorder {
public:
    static std::shared_ptr<IMediaRecorder> create(IMediaRecorderObserver* observer);
    virtual ~IMediaRecorder() = default;

    virtual int init(std::shared_ptr<_RecordParam> param) = 0;  // 0 ready, else a MediaRecorderCode
    virtual std::shared_ptr<_MediaInfo> getMediaInfo() = 0;
    virtual bool start() = 0;
    // Sets the frame size of the parameters given to init() (see _RecordParam::frame_width), for an
    // observer that knows where it will draw the video only once it knows the video's size; takes
    // effect at the next start().
    virtual void setFrameSize(int width, int height) = 0;
};
