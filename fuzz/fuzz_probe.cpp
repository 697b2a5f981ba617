// The engine's probing on arbitrary bytes: length, picture size and the transcode decision of a
// file whose content is the input, and the recorder's open of it (the hardened open, the decoder
// set-up and the media information the exporter reads). Each input gets its own file name so that nothing the
// engine remembers about an earlier file can stand in for reading this one.
#define FLOG_SOURCE "fuzz/fuzz_probe"
#include <QFile>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "FuzzSupport.h"
#include "IMediaCore.h"
#include "IMediaRecorder.h"

namespace {

class NullObserver : public IMediaCoreObserver {
public:
    void OnTimePoint(qint64) override {}
    void OnPlay() override {}
    void OnStop() override {}
    void OnReplay() override {}
    void OnSeek(qint64) override {}
    void OnMediaCrop(int) override {}
    void OnMediaMerg(int) override {}
    void OnPlayingFinished(bool) override {}
};

class NullRecorderObserver : public IMediaRecorderObserver {
public:
    void OnRecordFrame(std::shared_ptr<SRecordFrame>) override {}
    void OnRecordFinished() override {}
    void OnRecordLog(int, const char*, ...) override {}
};

void mediaLogDrop(int, const char* format, ...) {
    char line[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static NullObserver observer;
    static std::shared_ptr<IMediaCore> engine = [] {
        fuzzsupport::quietLogs();
        if (!qEnvironmentVariableIsSet("FUZZ_VERBOSE")) {
            setLogCallback(&mediaLogDrop);
        }
        return IMediaCore::create(&observer);
    }();
    static unsigned long long counter = 0;
    if (!engine) {
        fuzzsupport::fail("engine", QStringLiteral("create failed"));
    }

    const QString path = fuzzsupport::scratchDir() + QStringLiteral("/in_%1.mp4").arg(++counter);
    if (!fuzzsupport::writeFile(path, data, size)) {
        fuzzsupport::fail("cannot write the input", path);
    }
    const std::string p = QFile::encodeName(path).toStdString();

    const qint64 duration = engine->getDuration(p);
    if (duration < 0) {
        fuzzsupport::fail("negative duration", QString::number(duration));
    }
    int width = -1;
    int height = -1;
    if (engine->getVideoSize(&width, &height, p)) {
        if (width <= 0 || height <= 0) {
            fuzzsupport::fail("video size reported without a picture",
                              QStringLiteral("%1x%2").arg(width).arg(height));
        }
    }
    (void)engine->needTranscode(p);

    static NullRecorderObserver recorderObserver;
    auto recorder = IMediaRecorder::create(&recorderObserver);
    auto param = std::make_shared<_RecordParam>();
    param->width = 320;
    param->height = 240;
    param->bitrate = 300;
    param->input_path = p;
    param->output_path =
        QFile::encodeName(fuzzsupport::scratchDir() + QStringLiteral("/out.mp4")).toStdString();
    const int init = recorder->init(param);
    const std::shared_ptr<_MediaInfo> info = recorder->getMediaInfo();
    if (init == RECORD_OK && (!info || info->width <= 0 || info->height <= 0 || info->duration < 0)) {
        fuzzsupport::fail("recorder ready without usable media information", QString::number(init));
    }
    if (init != RECORD_OK && info) {
        fuzzsupport::fail("failed recorder init left media information", QString::number(init));
    }
    if (QFile::exists(fuzzsupport::scratchDir() + QStringLiteral("/out.mp4"))) {
        fuzzsupport::fail("recorder init wrote its output", path);
    }
    QFile::remove(path);
    return 0;
}
