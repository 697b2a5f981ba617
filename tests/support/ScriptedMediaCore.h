#pragma once
// A stand-in for the media engine whose answers are scripted by the test and whose calls are recorded.
// Crop and join completions are reported from a thread of its own, as the real engine does.
#include <QFile>
#include <QString>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "IMediaCore.h"

class ScriptedMediaCore : public IMediaCore {
public:
    struct CropCall {
        std::string source;
        std::vector<CropRange> ranges;
        std::string outputName;
        bool transcode = false;
    };
    struct MergeCall {
        std::vector<std::string> inputs;
        std::string outputName;
        int width = 0;
        int height = 0;
        bool transcode = false;
    };

    explicit ScriptedMediaCore(IMediaCoreObserver* observer) : m_observer(observer) {}
    ~ScriptedMediaCore() override {
        for (auto& t : m_reporters) {
            t.join();
        }
    }

    // Script.
    std::vector<int> cropCodes;  // one per crop request, in order; 2 when the list runs out
    int mergeCode = MEDIA_CODE_SUCCESS;
    std::map<std::string, qint64> durations;  // path ("" = the opened file) -> ms
    bool needTranscodeAnswer = false;
    bool needTranscodeJoinedAnswer = false;
    bool writeOutputs = true;  // create the requested output files in the output directory

    // Record.
    std::vector<CropCall> crops;
    std::vector<MergeCall> merges;
    std::vector<std::string> transcoded;
    std::vector<qint64> seeks;
    std::vector<std::string> calls;  // play/pause/resume/stop in order
    std::string outputDir;

    bool open(const std::string&, WId) override { return true; }
    void close() override {}
    void setVolume(int) override {}
    bool isPlaying() override { return false; }
    void play(int) override { calls.push_back("play"); }
    void stop() override { calls.push_back("stop"); }
    void seek(qint64 ms) override { seeks.push_back(ms); }
    void pause(bool on) override { calls.push_back(on ? "pause" : "resume"); }
    qint64 getDuration(const std::string& path) override {
        auto it = durations.find(path);
        return it == durations.end() ? 0 : it->second;
    }
    bool getVideoSize(int* w, int* h, const std::string&) override {
        *w = 320;
        *h = 180;
        return true;
    }
    bool needTranscode(const std::string&) override { return needTranscodeAnswer; }
    void transcode(const std::string& path) override { transcoded.push_back(path); }
    bool needTranscodeJoined(const std::string&) override { return needTranscodeJoinedAnswer; }
    void setOutputDir(const std::string& dir) override { outputDir = dir; }

    void startMediaCrop(const std::string& source, const std::vector<CropRange>& ranges,
                        const std::string& outputName, bool transcode) override {
        const int code = crops.size() < cropCodes.size() ? cropCodes[crops.size()] : MEDIA_CODE_SUCCESS;
        crops.push_back({source, ranges, outputName, transcode});
        if (code == MEDIA_CODE_SUCCESS) {
            touch(outputName);
        }
        report([this, code] { m_observer->OnMediaCrop(code); });
    }
    void startMediaMerge(const std::vector<std::string>& inputs, const std::string& outputName, int width,
                         int height, bool transcode) override {
        merges.push_back({inputs, outputName, width, height, transcode});
        const int code = mergeCode;
        if (code == MEDIA_CODE_SUCCESS) {
            touch(outputName);
        }
        report([this, code] { m_observer->OnMediaMerg(code); });
    }

private:
    void touch(const std::string& name) {
        if (!writeOutputs) {
            return;
        }
        QFile f(QString::fromStdString(outputDir + name));
        if (f.open(QIODevice::WriteOnly)) {
            f.write("not really a video");
        }
    }
    template <typename F>
    void report(F fn) {
        m_reporters.emplace_back(fn);
    }

    IMediaCoreObserver* m_observer;
    std::vector<std::thread> m_reporters;
};
