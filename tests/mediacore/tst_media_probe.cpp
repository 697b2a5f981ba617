// Probing, the transcode decision and in-place transcoding, on files of many kinds made by ffmpeg.
#include "MediaTestUtil.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace mediatest;

class TstMediaProbe : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

    static QByteArray digest(const QString& file) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
    }

    // Common lavfi sources: 4 s of picture and tone.
    static QStringList sources(const QString& size = "320x240", int seconds = 4) {
        return {"-f", "lavfi", "-i", QStringLiteral("testsrc2=s=%1:r=25:d=%2").arg(size).arg(seconds),
                "-f", "lavfi", "-i", QStringLiteral("sine=f=330:sample_rate=48000:d=%1").arg(seconds)};
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(makeClip(path("h264.mp4"), 6));
        QVERIFY(ffmpeg(sources() << "-c:v"
                                 << "libx265"
                                 << "-preset"
                                 << "ultrafast"
                                 << "-x265-params"
                                 << "log-level=error"
                                 << "-c:a"
                                 << "aac" << path("hevc.mp4")));
        QVERIFY(ffmpeg(sources() << "-c:v"
                                 << "mpeg4"
                                 << "-c:a"
                                 << "aac" << path("mpeg4.mp4")));
        QVERIFY(ffmpeg(sources() << "-c:v"
                                 << "libx264"
                                 << "-preset"
                                 << "veryfast"
                                 << "-c:a"
                                 << "aac"
                                 << "-f"
                                 << "mpegts" << path("h264.ts")));
        QVERIFY(ffmpeg(sources() << "-vf"
                                 << "scale=641:361"
                                 << "-c:v"
                                 << "libx264"
                                 << "-preset"
                                 << "veryfast"
                                 << "-pix_fmt"
                                 << "yuv444p"
                                 << "-c:a"
                                 << "aac" << path("odd.mp4")));
        QVERIFY(ffmpeg(sources() << "-c:v"
                                 << "libx264"
                                 << "-preset"
                                 << "veryfast"
                                 << "-c:a"
                                 << "libmp3lame" << path("mp3audio.mp4")));
        // Variable frame rate: three pictures of every ten dropped, the others keep their times.
        QVERIFY(ffmpeg(sources() << "-vf"
                                 << "select='lt(mod(n\\,10)\\,7)'"
                                 << "-vsync"
                                 << "vfr"
                                 << "-c:v"
                                 << "libx264"
                                 << "-preset"
                                 << "veryfast"
                                 << "-c:a"
                                 << "aac" << path("vfr.mp4")));
        QVERIFY(makeClip(path("audio.m4a"), 3, "320x240", 25, 50, "testsrc2", true, false));
        QVERIFY(makeClip(path("video.mp4"), 3, "320x240", 25, 50, "testsrc2", false, true));
        QFile z(path("zero.mp4"));
        QVERIFY(z.open(QIODevice::WriteOnly));
        z.close();
        QFile t(path("text.mp4"));
        QVERIFY(t.open(QIODevice::WriteOnly));
        t.write("#EXTM3U\nfile:///etc/passwd\nhttp://127.0.0.1:9/x.mp4\n");
        t.close();
        QFile src(path("h264.mp4"));
        QVERIFY(src.open(QIODevice::ReadOnly));
        QByteArray all = src.readAll();
        QFile tr(path("truncated.mp4"));
        QVERIFY(tr.open(QIODevice::WriteOnly));
        tr.write(all.left(all.size() * 2 / 3));
        tr.close();
    }

    // Duration and size agree with ffprobe; the transcode decision follows codec, container and size.
    void probeGoodFiles() {
        RecordingObserver obs;
        auto core = IMediaCore::create(&obs);
        struct Case {
            QString name;
            int w, h;
            bool transcode;
        };
        const QVector<Case> cases{
            {"h264.mp4", 320, 240, false}, {"hevc.mp4", 320, 240, true},   {"mpeg4.mp4", 320, 240, true},
            {"h264.ts", 320, 240, true},   {"odd.mp4", 641, 361, true},    {"mp3audio.mp4", 320, 240, true},
            {"vfr.mp4", 320, 240, false},  {"video.mp4", 320, 240, false},
        };
        for (const Case& c : cases) {
            const std::string p = path(c.name).toStdString();
            const qint64 oracle = testsupport::ffprobeDurationMs(path(c.name));
            QVERIFY(oracle > 0);
            const qint64 d = core->getDuration(p);
            QVERIFY2(std::llabs(d - oracle) <= 1,
                     qPrintable(QStringLiteral("%1: %2 vs %3").arg(c.name).arg(d).arg(oracle)));
            int w = -1;
            int h = -1;
            QVERIFY(core->getVideoSize(&w, &h, p));
            QCOMPARE(w, c.w);
            QCOMPARE(h, c.h);
            QVERIFY2(core->needTranscode(p) == c.transcode, qPrintable(c.name));
            QCOMPARE(core->needTranscodeJoined(p), c.transcode);
        }
        // An empty path means the file asked about last.
        QCOMPARE(core->getDuration(path("hevc.mp4").toStdString()),
                 testsupport::ffprobeDurationMs(path("hevc.mp4")));
        QCOMPARE(core->getDuration(""), testsupport::ffprobeDurationMs(path("hevc.mp4")));
        QVERIFY(core->needTranscode(""));
        int w = 0;
        int h = 0;
        QVERIFY(core->getVideoSize(&w, &h, path("odd.mp4").toStdString()));
        QVERIFY(core->getVideoSize(&w, &h, ""));
        QCOMPARE(w, 641);
        // Backslash separators are accepted.
        QCOMPARE(core->getDuration(QString(path("h264.mp4")).replace('/', '\\').toStdString()),
                 testsupport::ffprobeDurationMs(path("h264.mp4")));
        // A file that changes under the same name is probed again.
        const QString changing = path("changing.mp4");
        QVERIFY(QFile::copy(path("h264.mp4"), changing));
        QCOMPARE(core->getDuration(changing.toStdString()), testsupport::ffprobeDurationMs(path("h264.mp4")));
        QVERIFY(QFile::remove(changing));
        QVERIFY(QFile::copy(path("video.mp4"), changing));
        QCOMPARE(core->getDuration(changing.toStdString()),
                 testsupport::ffprobeDurationMs(path("video.mp4")));
    }

    // Files that are not usable video: zero / false answers, sizes untouched, no crash.
    void probeBadFiles() {
        RecordingObserver obs;
        auto core = IMediaCore::create(&obs);
        QCOMPARE(core->getDuration(""), qint64(0));  // nothing asked yet
        for (const QString& name : {QStringLiteral("missing.mp4"), QStringLiteral("zero.mp4"),
                                    QStringLiteral("text.mp4"), QStringLiteral("truncated.mp4"), QString()}) {
            const std::string p = name.isEmpty() ? m_dir.path().toStdString() : path(name).toStdString();
            QCOMPARE(core->getDuration(p), qint64(0));
            int w = -7;
            int h = -7;
            QVERIFY(!core->getVideoSize(&w, &h, p));
            QCOMPARE(w, -7);
            QCOMPARE(h, -7);
            QVERIFY(!core->needTranscode(p));
        }
        // Audio only: it has a length but no picture size.
        const std::string audio = path("audio.m4a").toStdString();
        QVERIFY(std::llabs(core->getDuration(audio) - testsupport::ffprobeDurationMs(path("audio.m4a"))) <=
                1);
        int w = -7;
        int h = -7;
        QVERIFY(!core->getVideoSize(&w, &h, audio));
        QCOMPARE(w, -7);
        QVERIFY(core->needTranscode(audio));

        // A damaged header that names a video stream but no picture size (found by fuzzing): no size
        // is reported, since callers size their outputs by it.
        const std::string sizeless = VRK_SOURCE_DIR "/fuzz/regressions/probe/video-stream-without-size.mp4";
        QVERIFY(QFileInfo::exists(QString::fromStdString(sizeless)));
        w = -7;
        h = -7;
        QVERIFY(!core->getVideoSize(&w, &h, sizeless));
        QCOMPARE(w, -7);
        QCOMPARE(h, -7);
    }

    // An MP4 track whose timescale is 0 (which FFmpeg reads as one unit a second): timestamps in it
    // would put the media hours away. Sound timed that way is left out and the length comes from the
    // picture; a picture timed that way makes the file unusable.
    void probeBrokenTimescale() {
        QFile src(path("h264.mp4"));
        QVERIFY(src.open(QIODevice::ReadOnly));
        const QByteArray all = src.readAll();
        const qint64 good = testsupport::ffprobeDurationMs(path("h264.mp4"));
        RecordingObserver obs;
        auto core = IMediaCore::create(&obs);
        for (const char* handler : {"soun", "vide"}) {
            QByteArray b = all;
            // The media header of a track comes before the handler box that names its kind.
            const int hdlr = b.indexOf(QByteArray("hdlr\0\0\0\0\0\0\0\0", 12) + handler);
            QVERIFY2(hdlr > 0, handler);
            const int mdhd = b.lastIndexOf("mdhd", hdlr);
            QVERIFY(mdhd > 0);
            for (int i = 0; i < 4; ++i) {
                b[mdhd + 16 + i] = 0;
            }
            const QString file = path(QStringLiteral("timescale0-%1.mp4").arg(handler));
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            QCOMPARE(out.write(b), qint64(b.size()));
            out.close();
            const std::string p = file.toStdString();
            int w = -7;
            int h = -7;
            if (QByteArray(handler) == "soun") {
                QVERIFY(std::llabs(core->getDuration(p) - good) <= 100);
                QVERIFY(core->getVideoSize(&w, &h, p));
                QCOMPARE(w, 320);
            } else {
                QCOMPARE(core->getDuration(p), qint64(0));
                QVERIFY(!core->getVideoSize(&w, &h, p));
                QCOMPARE(w, -7);
            }
        }
    }

    // Transcoding rewrites the file in place as H.264 + AAC of the same length; failures leave it alone.
    void transcodeInPlace() {
        RecordingObserver obs;
        auto core = IMediaCore::create(&obs);
        const QString work = path("work");
        QVERIFY(QDir().mkpath(work));
        for (const QString& name :
             {QStringLiteral("hevc.mp4"), QStringLiteral("mpeg4.mp4"), QStringLiteral("h264.ts"),
              QStringLiteral("odd.mp4"), QStringLiteral("vfr.mp4")}) {
            const QString f = QDir(work).filePath(name);
            QVERIFY(QFile::copy(path(name), f));
            const double before = testsupport::ffprobeDurationMs(f) / 1000.0;
            core->transcode(f.toStdString());
            QVector<StreamInfo> s = streams(f);
            QCOMPARE(s.size(), 2);
            QCOMPARE(s[0].codec, QStringLiteral("h264"));
            QCOMPARE(s[1].codec, QStringLiteral("aac"));
            QCOMPARE(s[0].width % 2, 0);
            QCOMPARE(s[0].height % 2, 0);
            const double after = testsupport::ffprobeDurationMs(f) / 1000.0;
            qInfo("%s: %.3f s before, %.3f s after transcoding", qPrintable(name), before, after);
            QVERIFY(std::fabs(after - before) <= 0.05);
            QVERIFY(!core->needTranscode(f.toStdString()));
            if (name == "odd.mp4") {
                QCOMPARE(s[0].width, 640);
                QCOMPARE(s[0].height, 360);
            }
            if (name == "vfr.mp4") {
                // Constant rate afterwards: pictures 40 ms apart.
                QVector<QPair<double, bool>> pk = videoPackets(f);
                QVector<double> pts;
                for (const auto& p : pk) {
                    pts.push_back(p.first);
                }
                std::sort(pts.begin(), pts.end());
                for (int i = 1; i < pts.size(); ++i) {
                    QVERIFY(std::fabs(pts[i] - pts[i - 1] - 0.04) < 0.002);
                }
            }
        }
        // Failures: the file stays as it was and nothing is left beside it.
        const QString text = QDir(work).filePath("text.mp4");
        QVERIFY(QFile::copy(path("text.mp4"), text));
        const QByteArray sum = digest(text);
        const QStringList entries = QDir(work).entryList(QDir::Files | QDir::Hidden);
        core->transcode(text.toStdString());
        core->transcode(QDir(work).filePath("missing.mp4").toStdString());
        const QString audio = QDir(work).filePath("audio.m4a");
        QVERIFY(QFile::copy(path("audio.m4a"), audio));
        const QByteArray audioSum = digest(audio);
        core->transcode(audio.toStdString());
        QCOMPARE(digest(text), sum);
        QCOMPARE(digest(audio), audioSum);
        QStringList now = QDir(work).entryList(QDir::Files | QDir::Hidden);
        now.removeOne("audio.m4a");
        QCOMPARE(now, entries);
    }

    // Unusual inputs that are still video: cut both ways without trouble.
    void cropUnusualInputs() {
        RecordingObserver obs;
        auto core = IMediaCore::create(&obs);
        const QString out = path("cuts");
        QVERIFY(QDir().mkpath(out));
        core->setOutputDir(out.toStdString());
        int n = 0;
        for (const QString& name :
             {QStringLiteral("vfr.mp4"), QStringLiteral("hevc.mp4"), QStringLiteral("mpeg4.mp4"),
              QStringLiteral("video.mp4"), QStringLiteral("odd.mp4"), QStringLiteral("h264.ts")}) {
            for (bool transcode : {false, true}) {
                const QString piece = QStringLiteral("p_%1.mp4").arg(n++);
                core->startMediaCrop(path(name).toStdString(), {CropRange{1000, 2500, "segment_c.mp4"}},
                                     piece.toStdString(), transcode);
                QVector<int> codes = obs.waitCrops(n);
                QCOMPARE(codes.size(), n);
                QVERIFY2(codes.last() == MEDIA_CODE_SUCCESS, qPrintable(name));
                const double d = testsupport::ffprobeDurationMs(QDir(out).filePath(piece)) / 1000.0;
                qInfo("%s cut 1.0-2.5 s %s: %.3f s", qPrintable(name), transcode ? "re-encoded" : "copied",
                      d);
                if (transcode) {
                    QVERIFY(std::fabs(d - 1.5) <= 0.05);
                    QCOMPARE(streams(QDir(out).filePath(piece)).first().codec, QStringLiteral("h264"));
                } else {
                    QVERIFY(d >= 1.45 && d <= 2.7);
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(TstMediaProbe)
#include "tst_media_probe.moc"
