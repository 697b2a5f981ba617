#pragma once
// Helpers of the engine tests: media made by the ffmpeg program, ffprobe readings, and an observer
// that records every engine callback.
#include "IMediaCore.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QList>
#include <mutex>
#include <QPair>
#include <QTest>
#include <QVector>

#include <atomic>

namespace mediatest {

// Runs the ffmpeg program with the given arguments (quiet, overwrite); true on success.
inline bool ffmpeg(const QStringList& args) {
    QStringList all{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")};
    all << args;
    return testsupport::runProgram(QStringLiteral("ffmpeg"), all) == 0;
}

// H.264 (veryfast: B-frames) + AAC test clip; `gop` pictures between keyframes.
inline bool makeClip(const QString& out, int seconds, const QString& size = QStringLiteral("320x240"),
                     int fps = 25, int gop = 50, const QString& pattern = QStringLiteral("testsrc2"),
                     bool audio = true, bool video = true) {
    QStringList a;
    if (video) {
        a << "-f"
          << "lavfi"
          << "-i" << QStringLiteral("%1=s=%2:r=%3:d=%4").arg(pattern, size).arg(fps).arg(seconds);
    }
    if (audio) {
        a << "-f"
          << "lavfi"
          << "-i" << QStringLiteral("sine=f=440:sample_rate=44100:d=%1").arg(seconds);
    }
    if (video) {
        a << "-c:v"
          << "libx264"
          << "-preset"
          << "veryfast"
          << "-g" << QString::number(gop) << "-pix_fmt"
          << "yuv420p";
    }
    if (audio) {
        a << "-c:a"
          << "aac";
    }
    a << "-shortest" << out;
    return ffmpeg(a);
}

struct StreamInfo {
    QString type;
    QString codec;
    double start = 0;
    int width = 0;
    int height = 0;
};

inline QVector<StreamInfo> streams(const QString& path) {
    QVector<StreamInfo> r;
    const QJsonArray arr = testsupport::ffprobe(path).value("streams").toArray();
    for (const QJsonValue& v : arr) {
        QJsonObject o = v.toObject();
        StreamInfo s;
        s.type = o.value("codec_type").toString();
        s.codec = o.value("codec_name").toString();
        s.start = o.value("start_time").toString().toDouble();
        s.width = o.value("width").toInt();
        s.height = o.value("height").toInt();
        r.push_back(s);
    }
    return r;
}

// Presentation times (s) of the video packets, and which of them are keyframes.
inline QVector<QPair<double, bool>> videoPackets(const QString& path) {
    QByteArray out;
    testsupport::runProgram(QStringLiteral("ffprobe"),
                            {"-v", "error", "-select_streams", "v:0", "-show_entries",
                             "packet=pts_time,flags", "-of", "csv=p=0", path},
                            &out, 60000);
    QVector<QPair<double, bool>> r;
    for (const QByteArray& line : out.split('\n')) {
        QList<QByteArray> f = line.trimmed().split(',');
        if (f.size() >= 2) {
            r.push_back({f[0].toDouble(), f[1].contains('K')});
        }
    }
    return r;
}

// Number of decodable video frames (decoding the whole file).
inline int decodedFrames(const QString& path) {
    QByteArray out;
    testsupport::runProgram(QStringLiteral("ffprobe"),
                            {"-v", "error", "-select_streams", "v:0", "-count_frames", "-show_entries",
                             "stream=nb_read_frames", "-of", "csv=p=0", path},
                            &out, 120000);
    return out.trimmed().toInt();
}

// Records every callback; safe to call from any thread.
class RecordingObserver : public IMediaCoreObserver {
    // Readers get their own copy: an implicitly shared one would be written in place by the next
    // callback once the reader's reference is gone, which is a race in the C++ memory model.
    template <typename T>
    static QVector<T> deepCopy(const QVector<T>& v) {
        return QVector<T>(v.constBegin(), v.constEnd());
    }

public:
    void OnTimePoint(qint64 ms) override {
        std::lock_guard<std::mutex> l(m);
        times.push_back(ms);
    }
    void OnPlay() override { ++plays; }
    void OnStop() override { ++stops; }
    void OnReplay() override { ++replays; }
    void OnSeek(qint64 ms) override {
        std::lock_guard<std::mutex> l(m);
        seeks.push_back(ms);
    }
    void OnMediaCrop(int code) override {
        std::lock_guard<std::mutex> l(m);
        crops.push_back(code);
    }
    void OnMediaMerg(int code) override {
        std::lock_guard<std::mutex> l(m);
        merges.push_back(code);
    }
    void OnPlayingFinished(bool pause) override {
        std::lock_guard<std::mutex> l(m);
        finished.push_back(pause);
    }

    QVector<int> cropCodes() {
        std::lock_guard<std::mutex> l(m);
        return deepCopy(crops);
    }
    QVector<int> mergeCodes() {
        std::lock_guard<std::mutex> l(m);
        return deepCopy(merges);
    }
    QVector<qint64> timePoints() {
        std::lock_guard<std::mutex> l(m);
        return deepCopy(times);
    }
    QVector<qint64> seekPoints() {
        std::lock_guard<std::mutex> l(m);
        return deepCopy(seeks);
    }
    QVector<bool> finishes() {
        std::lock_guard<std::mutex> l(m);
        return deepCopy(finished);
    }
    void clearTimes() {
        std::lock_guard<std::mutex> l(m);
        times.clear();
    }

    // Waits (bounded) until `n` crop / merge completions have arrived; returns the codes seen.
    QVector<int> waitCrops(int n, int timeoutMs = 120000) {
        QElapsedTimer t;
        t.start();
        while (cropCodes().size() < n && t.elapsed() < timeoutMs) {
            QTest::qWait(20);
        }
        return cropCodes();
    }
    QVector<int> waitMerges(int n, int timeoutMs = 120000) {
        QElapsedTimer t;
        t.start();
        while (mergeCodes().size() < n && t.elapsed() < timeoutMs) {
            QTest::qWait(20);
        }
        return mergeCodes();
    }

    std::atomic<int> plays{0};
    std::atomic<int> stops{0};
    std::atomic<int> replays{0};

private:
    std::mutex m;
    QVector<qint64> times;
    QVector<qint64> seeks;
    QVector<int> crops;
    QVector<int> merges;
    QVector<bool> finished;
};

}  // namespace mediatest
