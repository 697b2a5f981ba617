// Times a full cut (unpack, crop of each segment, join, trim, write, pack) and a merge of packages
// through the session, and splits the time by phase. Run by bench_cutmerge.sh.
//
//   bench_cutmerge cut OUT.vrk SOURCE.vrk BEGIN_S END_S [BEGIN_S END_S ...]
//   bench_cutmerge merge OUT.vrk INPUT.vrk INPUT.vrk [...]
//   bench_cutmerge read META.json [OUT.json]   (reading alone, and writing it back: times, event count)
//   bench_cutmerge write META.json DIR         (writing alone, then writing with meta.json deflated
//                                               beside it, into DIR: how the side thread slows the
//                                               writer and how long packing would wait for it)
//
// Prints "phase seconds" lines. Inside save and merge, the trimming, the writing of meta.json and the
// packing are told apart by the log lines that open them.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QStringList>
#include <QUuid>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>

#include "DataWrapper.h"
#include "FLog.h"
#include "JsonResourceParse.h"
#include "MetaSideDeflate.h"

namespace {

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Sits between the session and the real engine and notes when each crop and join starts and ends.
class TimedMediaCore : public IMediaCore, public IMediaCoreObserver {
public:
    explicit TimedMediaCore(IMediaCoreObserver* target)
        : m_target(target), m_core(IMediaCore::create(this)) {}

    double cropSeconds = 0;
    double joinSeconds = 0;
    double transcodeSeconds = 0;
    double joinStart = 0;
    double joinEnd = 0;
    int crops = 0;

    bool open(const std::string& path, WId window) override { return m_core->open(path, window); }
    void close() override { m_core->close(); }
    void setVolume(int percent) override { m_core->setVolume(percent); }
    bool isPlaying() override { return m_core->isPlaying(); }
    void play(int flags) override { m_core->play(flags); }
    void stop() override { m_core->stop(); }
    void seek(qint64 ms) override { m_core->seek(ms); }
    void pause(bool on) override { m_core->pause(on); }
    qint64 getDuration(const std::string& path) override { return m_core->getDuration(path); }
    bool getVideoSize(int* w, int* h, const std::string& path) override {
        return m_core->getVideoSize(w, h, path);
    }
    bool needTranscode(const std::string& path) override { return m_core->needTranscode(path); }
    void transcode(const std::string& path) override {
        const double t = now();
        m_core->transcode(path);
        transcodeSeconds += now() - t;
    }
    bool needTranscodeJoined(const std::string& path) override { return m_core->needTranscodeJoined(path); }
    void setOutputDir(const std::string& dir) override { m_core->setOutputDir(dir); }
    void startMediaCrop(const std::string& source, const std::vector<CropRange>& ranges,
                        const std::string& name, bool transcode) override {
        mark();
        m_core->startMediaCrop(source, ranges, name, transcode);
    }
    void startMediaMerge(const std::vector<std::string>& inputs, const std::string& name, int width,
                         int height, bool transcode) override {
        mark();
        joinStart = now();
        m_core->startMediaMerge(inputs, name, width, height, transcode);
    }

    void OnTimePoint(qint64 ms) override { m_target->OnTimePoint(ms); }
    void OnPlay() override { m_target->OnPlay(); }
    void OnStop() override { m_target->OnStop(); }
    void OnReplay() override { m_target->OnReplay(); }
    void OnSeek(qint64 ms) override { m_target->OnSeek(ms); }
    void OnMediaCrop(int code) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            cropSeconds += now() - m_started;
            ++crops;
        }
        m_target->OnMediaCrop(code);
    }
    void OnMediaMerg(int code) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            joinEnd = now();
            joinSeconds += joinEnd - m_started;
        }
        m_target->OnMediaMerg(code);
    }
    void OnPlayingFinished(bool pause) override { m_target->OnPlayingFinished(pause); }

private:
    void mark() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_started = now();
    }

    IMediaCoreObserver* m_target;
    std::shared_ptr<IMediaCore> m_core;
    std::mutex m_mutex;
    double m_started = 0;
};

// Reads a package; returns the session and the seconds the unpack took (the fixed one-second pause
// before the read starts is not counted).
std::shared_ptr<DataWrapper> open(const QString& path, bool keepEncrypt, double* unpackSeconds) {
    auto w = std::make_shared<DataWrapper>();
    auto done = std::make_shared<std::promise<int>>();
    std::future<int> result = done->get_future();
    if (w->readFile(
            path, [done](int code) { done->set_value(code); }, keepEncrypt) != 0) {
        return nullptr;
    }
    const double started = now();
    if (result.get() != 0) {
        return nullptr;
    }
    *unpackSeconds = now() - started;
    return w;
}

// Moments at which the log lines that open a phase of save or merge were seen.
struct PhaseMarks {
    double trim = 0;
    double write = 0;
    double pack = 0;
};
PhaseMarks g_marks;

void quietLog(int level, const char* format, va_list args, void*) {
    if (std::strstr(format, "update select item page change.")) {
        g_marks.trim = now();
    } else if (std::strstr(format, "]dir=%s")) {
        g_marks.write = now();
        return;
    } else if (std::strstr(format, "] compress dirs:")) {
        g_marks.pack = now();
    }
    if (level <= FLOG_ERROR) {
        std::vfprintf(stderr, format, args);
        std::fputc('\n', stderr);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    flog_set_callback(quietLog, nullptr);
    const QStringList args = app.arguments();
    if ((args.size() == 3 || args.size() == 4) && args[1] == "read") {
        const double t = now();
        const std::shared_ptr<_RootItem> root = JsonResourceParse::parseFile(args[2]);
        const double read = now() - t;
        if (!root || !root->datas || !root->datas->meta_item) {
            std::fprintf(stderr, "read failed\n");
            return 2;
        }
        const _MetaItem& m = *root->datas->meta_item;
        std::printf("read %.2f\n", read);
        if (args.size() == 4) {
            const double w = now();
            if (!JsonResourceParse::saveFile(root, args[3])) {
                std::fprintf(stderr, "write failed\n");
                return 3;
            }
            std::printf("write %.2f\n", now() - w);
        }
        std::printf("events %d\n", m.draw.size() + m.animation.size() + m.pageChange.size() +
                                       m.answer.size() + m.question.size() + m.chatLog.size());
        return 0;
    }
    if (args.size() == 4 && args[1] == "write") {
        const std::shared_ptr<_RootItem> root = JsonResourceParse::parseFile(args[2]);
        if (!root) {
            std::fprintf(stderr, "read failed\n");
            return 2;
        }
        const QString plain = args[3] + "/plain.json";
        const QString side = args[3] + "/side.json";
        double t = now();
        const bool plainOk = JsonResourceParse::saveFile(root, plain);
        std::printf("write_plain %.2f\n", now() - t);
        MetaSideDeflate deflate(args[3]);
        t = now();
        const bool sideOk = JsonResourceParse::saveFile(
            root, side, [&deflate](int file, qint64 size) { deflate.written(file, size); });
        const double written = now();
        std::printf("write_with_side %.2f\n", written - t);
        const bool deflated = deflate.finish();
        std::printf("side_wait_after_write %.2f\n", now() - written);
        std::printf("deflated_bytes %lld\n", static_cast<long long>(deflate.deflatedSize()));
        QFile::remove(plain);
        QFile::remove(side);
        return plainOk && sideOk && deflated ? 0 : 3;
    }
    if (args.size() < 4 || (args[1] != "cut" && args[1] != "merge")) {
        std::fprintf(stderr, "usage: %s cut OUT SOURCE B E [B E ...] | merge OUT IN IN [...] | read META\n",
                     argv[0]);
        return 1;
    }
    const QString out = args[2];
    const double start = now();

    if (args[1] == "cut") {
        double unpack = 0;
        auto w = open(args[3], false, &unpack);
        if (!w) {
            std::fprintf(stderr, "read failed\n");
            return 2;
        }
        for (int i = 4; i + 1 < args.size(); i += 2) {
            auto s = std::make_shared<_Segment>();
            s->begin_time = qRound64(args[i].toDouble() * 1000);  // seconds, fractions allowed
            s->end_time = qRound64(args[i + 1].toDouble() * 1000);
            s->id = QUuid::createUuid().toString();
            w->addSegment(s);
        }
        auto engine = std::make_shared<TimedMediaCore>(w.get());
        w->setMediaCore(engine);
        const double saveStart = now();
        const int code = w->save(out);
        const double saveEnd = now();
        if (code != 0) {
            std::fprintf(stderr, "save failed: %d\n", code);
            return 3;
        }
        std::printf("unpack %.2f\n", unpack);
        std::printf("crop %.2f\n", engine->cropSeconds);
        std::printf("join %.2f\n", engine->joinSeconds);
        std::printf("transcode %.2f\n", engine->transcodeSeconds);
        std::printf("trim_write_pack %.2f\n", saveEnd - engine->joinEnd);
        std::printf("trim %.2f\n", g_marks.write - g_marks.trim);
        std::printf("write %.2f\n", g_marks.pack - g_marks.write);
        std::printf("pack %.2f\n", saveEnd - g_marks.pack);
        std::printf("save %.2f\n", saveEnd - saveStart);
        std::printf("total %.2f\n", now() - start);
        std::printf("total_without_read_pause %.2f\n", now() - start - 1.0);
        return 0;
    }

    double unpack = 0;
    QList<std::shared_ptr<DataWrapper>> sessions;
    for (int i = 3; i < args.size(); ++i) {
        double seconds = 0;
        auto w = open(args[i], true, &seconds);
        if (!w) {
            std::fprintf(stderr, "read failed: %s\n", qPrintable(args[i]));
            return 2;
        }
        unpack += seconds;
        sessions << w;
    }
    auto first = sessions.takeFirst();
    auto engine = std::make_shared<TimedMediaCore>(first.get());
    first->setMediaCore(engine);
    // The merge asks the engine for "the file last asked about", as after the window's own queries.
    engine->getDuration(
        QDir::toNativeSeparators(first->getRootItem()->video_path).toLocal8Bit().toStdString());
    const double mergeStart = now();
    const int code = first->merge(sessions, 0, 0, out);
    const double mergeEnd = now();
    if (code != 0) {
        std::fprintf(stderr, "merge failed: %d\n", code);
        return 3;
    }
    const double pauses = 1.0 * (args.size() - 3);
    std::printf("unpack %.2f\n", unpack);
    std::printf("join %.2f\n", engine->joinSeconds);
    std::printf("write_pack %.2f\n", mergeEnd - engine->joinEnd);
    std::printf("shift_append %.2f\n", engine->joinStart - mergeStart);
    std::printf("write %.2f\n", g_marks.pack - g_marks.write);
    std::printf("pack %.2f\n", mergeEnd - g_marks.pack);
    std::printf("merge %.2f\n", mergeEnd - mergeStart);
    std::printf("total %.2f\n", now() - start);
    std::printf("total_without_read_pause %.2f\n", now() - start - pauses);
    return 0;
}
