// Drives the media engine for bench/bench_media.sh and prints the wall time of each job.
// Usage:
//   bench_media probe FILE COUNT
//   bench_media crop SRC OUTDIR NAME BEGIN_MS END_MS TRANSCODE(0|1)
//   bench_media cropjoin SRC OUTDIR OUTNAME B1 E1 [B2 E2 ...]
//   bench_media join OUTDIR OUTNAME IN...
#include "IMediaCore.h"

#include <chrono>
#include <cstdarg>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

class WaitingObserver : public IMediaCoreObserver {
public:
    void OnTimePoint(qint64) override {}
    void OnPlay() override {}
    void OnStop() override {}
    void OnReplay() override {}
    void OnSeek(qint64) override {}
    void OnMediaCrop(int code) override { done(code); }
    void OnMediaMerg(int code) override { done(code); }
    void OnPlayingFinished(bool) override {}

    int wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_code >= 0; });
        int c = m_code;
        m_code = -1;
        return c;
    }

private:
    void done(int code) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_code = code;
        m_cv.notify_all();
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_code = -1;
};

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Only the engine's account of how a cut was made reaches stderr (the script counts the pictures).
void quietLog(int, const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    if (strstr(line, "exact cut:") || strstr(line, "no sound splice")) {
        fprintf(stderr, "%s\n", line);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: see the head of bench_media.cpp\n");
        return 2;
    }
    setLogCallback(quietLog);
    WaitingObserver obs;
    const std::string mode = argv[1];
    if (mode == "probe" && argc >= 4) {
        const int count = atoi(argv[3]);
        double total = 0;
        double worst = 0;
        for (int i = 0; i < count; ++i) {
            // A fresh engine object each time, so nothing is remembered between probes.
            auto core = IMediaCore::create(&obs);
            double t0 = now();
            qint64 d = core->getDuration(argv[2]);
            int w = 0;
            int h = 0;
            bool ok = core->getVideoSize(&w, &h, argv[2]);
            double t = now() - t0;
            if (d <= 0 || !ok) {
                fprintf(stderr, "probe failed\n");
                return 1;
            }
            total += t;
            worst = t > worst ? t : worst;
        }
        printf("%.2f %.2f\n", total / count * 1000.0, worst * 1000.0);
        return 0;
    }
    if (mode == "crop" && argc >= 8) {
        auto core = IMediaCore::create(&obs);
        core->setOutputDir(argv[3]);
        double t0 = now();
        core->startMediaCrop(argv[2], {CropRange{atoll(argv[5]), atoll(argv[6]), "segment_c.mp4"}}, argv[4],
                             atoi(argv[7]) != 0);
        int code = obs.wait();
        printf("%.3f\n", now() - t0);
        return code == MEDIA_CODE_SUCCESS ? 0 : 1;
    }
    if (mode == "cropjoin" && argc >= 7 && (argc - 5) % 2 == 0) {
        auto core = IMediaCore::create(&obs);
        core->setOutputDir(argv[3]);
        double t0 = now();
        std::vector<std::string> pieces;
        for (int i = 5; i + 1 < argc; i += 2) {
            std::string name = "bench_piece_" + std::to_string(pieces.size()) + ".mp4";
            core->startMediaCrop(argv[2], {CropRange{atoll(argv[i]), atoll(argv[i + 1]), "segment_c.mp4"}},
                                 name, false);
            if (obs.wait() != MEDIA_CODE_SUCCESS) {
                return 1;
            }
            pieces.push_back(std::string(argv[3]) + "/" + name);
        }
        core->startMediaMerge(pieces, argv[4], 0, 0, false);
        int code = obs.wait();
        printf("%.3f\n", now() - t0);
        return code == MEDIA_CODE_SUCCESS ? 0 : 1;
    }
    if (mode == "join" && argc >= 5) {
        auto core = IMediaCore::create(&obs);
        core->setOutputDir(argv[2]);
        std::vector<std::string> inputs(argv + 4, argv + argc);
        double t0 = now();
        core->startMediaMerge(inputs, argv[3], 0, 0, false);
        int code = obs.wait();
        printf("%.3f\n", now() - t0);
        return code == MEDIA_CODE_SUCCESS ? 0 : 1;
    }
    fprintf(stderr, "bad arguments\n");
    return 2;
}
