// Crop and join through the real engine on clips made by the ffmpeg program, checked with ffprobe.
#include "FrameOracle.h"
#include "MediaTestUtil.h"

#include <QProcess>

#include <cstdarg>
#include <cstring>
#include <mutex>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include <cmath>

using namespace mediatest;

using Segments = QVector<QPair<qint64, qint64>>;

namespace {
constexpr double kFrame = 0.040;       // 25 fps
constexpr double kAudioFrame = 0.024;  // one AAC frame at 44.1 kHz (1024 samples)
// Largest deviation of the sound around a join from the source's (full scale 1; the quiet tone under
// the beeps is 0.1): coding noise passes, a click or a frame's overlap from other sound does not.
constexpr double kJoinDeviation = 0.02;
// Pieces re-encoded whole start with their encoder's first frames, coded from silence (an attack):
// up to 0.12 off the source within the piece itself, whatever the join does.
constexpr double kReencodedJoinDeviation = 0.15;
}  // namespace

class TstMediaEdit : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_base;   // 12 s, 320x240, keyframe every 2 s
    QString m_other;  // 8 s, same coding, other picture
    QString m_big;    // 6 s, 480x360
    QString m_out;    // output directory of the engine

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // Keyframe times of the source, to predict where a stream-copy cut begins.
    double keyframeAtOrBefore(const QString& file, double t) {
        double best = 0;
        for (const auto& p : videoPackets(file)) {
            if (p.second && p.first <= t + 1e-6) {
                best = std::max(best, p.first);
            }
        }
        return best;
    }

    int runCrop(IMediaCore& core, RecordingObserver& obs, qint64 b, qint64 e, const QString& name,
                bool transcode, const QString& src = QString()) {
        int before = obs.cropCodes().size();
        core.startMediaCrop((src.isEmpty() ? m_base : src).toStdString(), {CropRange{b, e, "segment_c.mp4"}},
                            name.toStdString(), transcode);
        QVector<int> codes = obs.waitCrops(before + 1);
        return codes.size() == before + 1 ? codes.last() : -1000;
    }

    int runMerge(IMediaCore& core, RecordingObserver& obs, const QStringList& inputs, const QString& name,
                 int w, int h, bool transcode) {
        int before = obs.mergeCodes().size();
        std::vector<std::string> in;
        for (const QString& s : inputs) {
            in.push_back(s.toStdString());
        }
        core.startMediaMerge(in, name.toStdString(), w, h, transcode);
        QVector<int> codes = obs.waitMerges(before + 1);
        return codes.size() == before + 1 ? codes.last() : -1000;
    }

    // Nothing but finished files in the output directory (no temporary leftovers).
    QStringList outEntries() const {
        return QDir(m_out).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    // Source clips of the exact-cut table, made once per coding.
    struct Coding {
        QString size;
        int seconds;
        int gop;       // pictures between key frames
        QString x264;  // extra x264 parameters
        bool audio;
    };
    QString clipFor(const Coding& c) {
        const QString name = QStringLiteral("src_%1_%2_%3_%4_%5.mp4")
                                 .arg(c.size)
                                 .arg(c.seconds)
                                 .arg(c.gop)
                                 .arg(QString(c.x264).replace(':', '_').replace('=', '-'))
                                 .arg(int(c.audio));
        const QString file = path(name);
        if (QFileInfo::exists(file)) {
            return file;
        }
        QStringList a{"-f", "lavfi", "-i",
                      QStringLiteral("testsrc2=s=%1:r=25:d=%2").arg(c.size).arg(c.seconds)};
        if (c.audio) {
            a << "-f"
              << "lavfi"
              << "-i" << frameoracle::beepSource(c.seconds, true);
        }
        a << "-c:v"
          << "libx264"
          << "-preset"
          << "veryfast"
          << "-pix_fmt"
          << "yuv420p"
          << "-g" << QString::number(c.gop) << "-keyint_min" << QString::number(c.gop) << "-sc_threshold"
          << "0";
        if (!c.x264.isEmpty()) {
            a << "-x264-params" << c.x264;
        }
        if (c.audio) {
            a << "-c:a"
              << "aac"
              << "-b:a"
              << "96k";
        }
        a << "-shortest" << file;
        return ffmpeg(a) ? file : QString();
    }

    // Crops each segment into a piece and joins the pieces, as a cut does; the joined file's name.
    QString cutAndJoin(IMediaCore& core, RecordingObserver& obs, const QString& src, const Segments& segs,
                       bool transcode, const QString& tag) {
        QStringList pieces;
        for (int i = 0; i < segs.size(); ++i) {
            const QString name = QStringLiteral("%1_%2.mp4").arg(tag).arg(i);
            if (runCrop(core, obs, segs[i].first, segs[i].second, name, transcode, src) !=
                MEDIA_CODE_SUCCESS) {
                return QString();
            }
            pieces << QDir(m_out).filePath(name);
        }
        const QString joined = tag + "_joined.mp4";
        if (runMerge(core, obs, pieces, joined, 0, 0, false) != MEDIA_CODE_SUCCESS) {
            return QString();
        }
        return QDir(m_out).filePath(joined);
    }

    // True when the ffmpeg program decodes the file without a single error or warning.
    static bool decodesCleanly(const QString& file) {
        QProcess p;
        p.start("ffmpeg", {"-v", "warning", "-xerror", "-i", file, "-f", "null", "-"});
        if (!p.waitForFinished(300000)) {
            return false;
        }
        const QByteArray log = p.readAllStandardError();
        if (!log.trimmed().isEmpty()) {
            qWarning("decoder said: %s", log.constData());
        }
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 && log.trimmed().isEmpty();
    }

    // Our player (libmpv, pictures decoded without a window) plays the file to its end, reporting
    // no decoder trouble.
    static QStringList& playerLines() {
        static QStringList lines;
        return lines;
    }
    static void captureLog(int, const char* format, ...) {
        char line[2048];
        va_list args;
        va_start(args, format);
        vsnprintf(line, sizeof(line), format, args);
        va_end(args);
        // Only what the demuxer and decoders say counts: timing notes of a loaded machine (a late
        // frame, an output underrun) are not faults of the file.
        const char* at = strstr(line, "]mpv ");
        static const char* const kDecoding[] = {"ffmpeg", "vd", "ad", "lavf", "demux"};
        bool decoding = false;
        for (const char* prefix : kDecoding) {
            decoding = decoding || (at && strncmp(at + 5, prefix, strlen(prefix)) == 0);
        }
        if (decoding) {
            static std::mutex m;
            std::lock_guard<std::mutex> l(m);
            playerLines() << QString::fromUtf8(line);
        }
    }
    static bool playsCleanly(const QString& file) {
        playerLines().clear();
        setLogCallback(&TstMediaEdit::captureLog);
        RecordingObserver obs;
        bool ok = false;
        {
            auto core = IMediaCore::create(&obs);
            if (core && core->open(file.toStdString(), 0)) {
                core->play(0);
                QElapsedTimer t;
                t.start();
                while (obs.finishes().isEmpty() && t.elapsed() < 60000) {
                    QTest::qWait(50);
                }
                const qint64 len = testsupport::ffprobeDurationMs(file);
                const QVector<qint64> times = obs.timePoints();
                ok = !obs.finishes().isEmpty() && !times.isEmpty() && times.last() >= len - 300;
            }
        }
        setLogCallback(nullptr);
        for (const QString& l : playerLines()) {
            qWarning("player said: %s", qPrintable(l));
        }
        return ok && playerLines().isEmpty();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_base = path("base.mp4");
        m_other = path("other.mp4");
        m_big = path("big.mp4");
        m_out = path("out");
        QVERIFY(QDir().mkpath(m_out));
        QVERIFY(makeClip(m_base, 12));
        QVERIFY(makeClip(m_other, 8, "320x240", 25, 50, "smptebars"));
        QVERIFY(makeClip(m_big, 6, "480x360", 25, 50, "testsrc"));
    }

    // The cut oracle over many codings and cut points: the joined pieces show exactly the source
    // pictures of the segments, in order, once each; the sound stays in step within one AAC frame;
    // the result decodes without a single error.
    void exactCut_data() {
        QTest::addColumn<int>("coding");
        QTest::addColumn<Segments>("segs");
        QTest::addColumn<bool>("transcode");
        QTest::addColumn<bool>("play");         // also played through to the end by our player
        QTest::addColumn<double>("joinLimit");  // largest deviation of the sound around a join
        // Key frames every 1 s (25), 4 s (100), 10 s (250); 40 ms is one picture.
        QTest::newRow("gop 1 s, B-frames, on / after / before key frames")
            << 0 << Segments{{1000, 2040}, {2960, 4000}} << false << false << kJoinDeviation;
        QTest::newRow("gop 4 s, B-frames")
            << 1 << Segments{{3960, 6000}, {8040, 9000}, {12000, 13000}} << false << true << kJoinDeviation;
        QTest::newRow("gop 4 s, no B-frames")
            << 2 << Segments{{3960, 6000}, {8040, 9000}, {12000, 13000}} << false << false << kJoinDeviation;
        QTest::newRow("gop 10 s, B-frames, within one group")
            << 3 << Segments{{2000, 5000}, {9960, 11040}} << false << true << kJoinDeviation;
        QTest::newRow("gop 10 s, no B-frames, no audio, 10 s to the end")
            << 4 << Segments{{4000, 14000}} << false << false << kJoinDeviation;
        QTest::newRow("open groups: re-encoded segments")
            << 5 << Segments{{1000, 3000}, {5000, 6520}} << false << false << kReencodedJoinDeviation;
        QTest::newRow("1080p") << 6 << Segments{{480, 2520}} << false << true << kJoinDeviation;
        QTest::newRow("adjacent segments")
            << 7 << Segments{{1000, 2000}, {2000, 3520}} << false << false << kJoinDeviation;
        Segments twenty;
        for (int i = 0; i < 20; ++i) {
            twenty.push_back({i * 600 + 40, i * 600 + 360});
        }
        QTest::newRow("20 segments") << 0 << twenty << false << false << kJoinDeviation;
        QTest::newRow("transcode option")
            << 1 << Segments{{1000, 3000}, {5040, 7000}} << true << false << kReencodedJoinDeviation;
    }

    void exactCut() {
        QFETCH(int, coding);
        QFETCH(Segments, segs);
        QFETCH(bool, transcode);
        QFETCH(bool, play);
        QFETCH(double, joinLimit);
        static const Coding codings[] = {
            {"320x240", 12, 25, "", true},
            {"320x240", 14, 100, "", true},
            {"320x240", 14, 100, "bframes=0", true},
            {"320x240", 14, 250, "", true},
            {"320x240", 14, 250, "bframes=0", false},
            {"320x240", 8, 50, "open-gop=1", true},
            {"1920x1080", 3, 50, "", true},
            {"320x240", 5, 50, "", true},
        };
        const Coding& c = codings[coding];
        const QString src = clipFor(c);
        QVERIFY(!src.isEmpty());
        RecordingObserver obs;
        auto core = IMediaCore::create(&obs);
        core->setOutputDir(m_out.toStdString());
        const QString tag =
            QStringLiteral("x%1").arg(QTest::currentDataTag() ? qHash(QString(QTest::currentDataTag())) : 0);
        const QString joined = cutAndJoin(*core, obs, src, segs, transcode, tag);
        QVERIFY(!joined.isEmpty());
        QVERIFY(decodesCleanly(joined));
        if (play) {
            QVERIFY(playsCleanly(joined));
        }

        // Pictures: exactly the segments' source frames, in order, none repeated.
        const QVector<QByteArray> srcPics = frameoracle::pictures(src);
        QCOMPARE(srcPics.size(), c.seconds * 25);
        const QVector<int> want = frameoracle::expected(segs, 25, srcPics.size());
        const QVector<int> got = frameoracle::match(frameoracle::pictures(joined), srcPics);
        if (got != want) {
            QStringList g, w;
            for (int i : got)
                g << QString::number(i);
            for (int i : want)
                w << QString::number(i);
            qWarning("got  %s\nwant %s", qPrintable(g.join(' ')), qPrintable(w.join(' ')));
        }
        QCOMPARE(got, want);
        // Length: the sum of the segments within one picture.
        double sum = 0;
        for (const auto& s : segs) {
            sum += (s.second - s.first) / 1000.0;
        }
        const double len = testsupport::ffprobeDurationMs(joined) / 1000.0;
        QVERIFY2(std::fabs(len - sum) <= kFrame + 0.001,
                 qPrintable(QStringLiteral("%1 s for %2 s").arg(len).arg(sum)));

        // Sound: every beep of the kept stretches at its place within one AAC frame; nothing else
        // but the remains of beeps cut through at a segment start.
        if (!c.audio) {
            QCOMPARE(streams(joined).size(), 1);
            return;
        }
        const QVector<double> heard = frameoracle::beeps(joined);
        const QVector<frameoracle::Beep> due = frameoracle::expectedBeeps(segs, kAudioFrame);
        auto near = [](double a, double b) { return std::fabs(a - b) <= kAudioFrame; };
        QStringList h, d;
        for (double t : heard)
            h << QString::number(t, 'f', 3);
        for (const frameoracle::Beep& b : due)
            d << QString::number(b.at, 'f', 3) + (b.whole ? "" : "?");
        qInfo("beeps heard %s\nbeeps due %s", qPrintable(h.join(' ')), qPrintable(d.join(' ')));
        for (const frameoracle::Beep& b : due) {
            bool found = !b.whole;
            for (double h : heard) {
                found = found || near(h, b.at);
            }
            QVERIFY2(found, qPrintable(QStringLiteral("beep due at %1 s not heard").arg(b.at)));
        }
        for (double h : heard) {
            bool known = false;
            for (const frameoracle::Beep& b : due) {
                known = known || near(h, b.at);
            }
            QVERIFY2(known, qPrintable(QStringLiteral("sound at %1 s that no kept stretch holds").arg(h)));
        }

        // No click: around every join the sound is a clean splice of the source's sound at the two
        // cut points, each side within one AAC frame of its place.
        const QVector<float> outSound = frameoracle::sound(joined);
        const QVector<float> srcSound = frameoracle::sound(src);
        const int rate = frameoracle::kRate;
        double at = 0;
        double worst = 0;
        for (int i = 1; i < segs.size(); ++i) {
            at += (segs[i - 1].second - segs[i - 1].first) / 1000.0;
            const double e = frameoracle::joinError(outSound, srcSound, int(std::lround(at * rate)),
                                                    int(segs[i - 1].second * rate / 1000),
                                                    int(segs[i].first * rate / 1000), 1024);
            qInfo("join at %.3f s: largest deviation %.4f", at, e);
            worst = std::max(worst, e);
        }
        QVERIFY2(worst <= joinLimit, qPrintable(QStringLiteral("a join deviates by %1").arg(worst)));
    }

    // Re-encoding cut: exactly the asked range, H.264 + AAC, streams aligned.
    void cropTranscodeExact() {
        RecordingObserver obs;
        auto core = IMediaCore::create(&obs);
        core->setOutputDir(m_out.toStdString());
        struct Case {
            qint64 b, e;
        };
        const QVector<Case> cases{{3100, 7300}, {0, 2000}, {10500, 12000}};
        int n = 0;
        for (const Case& c : cases) {
            const QString name = QStringLiteral("t_%1.mp4").arg(n++);
            QCOMPARE(runCrop(*core, obs, c.b, c.e, name, true), int(MEDIA_CODE_SUCCESS));
            const QString piece = QDir(m_out).filePath(name);
            double asked = (c.e - c.b) / 1000.0;
            double got = testsupport::ffprobeDurationMs(piece) / 1000.0;
            qInfo("re-encoded crop %lld-%lld ms: asked %.3f s, got %.3f s", c.b, c.e, asked, got);
            QVERIFY2(std::fabs(got - asked) <= kFrame,
                     qPrintable(QStringLiteral("piece %1 s, asked %2 s").arg(got).arg(asked)));
            QCOMPARE(decodedFrames(piece), int(std::lround(asked / kFrame)));
            QVector<StreamInfo> s = streams(piece);
            QCOMPARE(s.size(), 2);
            QCOMPARE(s[0].codec, QStringLiteral("h264"));
            QCOMPARE(s[0].width, 320);
            QCOMPARE(s[0].height, 240);
            QCOMPARE(s[1].codec, QStringLiteral("aac"));
            QVERIFY(std::fabs(s[0].start - s[1].start) <= kAudioFrame);
            QVERIFY(!core->needTranscode(piece.toStdString()));
        }
    }

    // Pieces joined by stream copy: lengths add up, every packet is kept, codecs unchanged.
    void mergeStreamCopy() {
        RecordingObserver obs;
        auto core = IMediaCore::create(&obs);
        core->setOutputDir(m_out.toStdString());
        QCOMPARE(runCrop(*core, obs, 0, 3000, "m_0.mp4", false), int(MEDIA_CODE_SUCCESS));
        QCOMPARE(runCrop(*core, obs, 4100, 7900, "m_1.mp4", false), int(MEDIA_CODE_SUCCESS));
        QCOMPARE(runCrop(*core, obs, 8000, 12000, "m_2.mp4", false), int(MEDIA_CODE_SUCCESS));
        QStringList pieces;
        double sum = 0;
        int packets = 0;
        for (int i = 0; i < 3; ++i) {
            pieces << QDir(m_out).filePath(QStringLiteral("m_%1.mp4").arg(i));
            sum += testsupport::ffprobeDurationMs(pieces.last()) / 1000.0;
            packets += videoPackets(pieces.last()).size();
        }
        // The whole other clip too: joins of different recordings with the same coding are copied.
        pieces << m_other;
        sum += testsupport::ffprobeDurationMs(m_other) / 1000.0;
        packets += videoPackets(m_other).size();
        QCOMPARE(runMerge(*core, obs, pieces, "joined.mp4", 0, 0, false), int(MEDIA_CODE_SUCCESS));
        const QString joined = QDir(m_out).filePath("joined.mp4");
        double got = testsupport::ffprobeDurationMs(joined) / 1000.0;
        qInfo("joined %.3f s, pieces sum %.3f s", got, sum);
        QVERIFY2(std::fabs(got - sum) <= 3 * kFrame,
                 qPrintable(QStringLiteral("joined %1 s, sum %2 s").arg(got).arg(sum)));
        QVector<QPair<double, bool>> pk = videoPackets(joined);
        QCOMPARE(pk.size(), packets);
        QCOMPARE(decodedFrames(joined), packets);
        // Timestamps continue: presentation times of consecutive pictures never jump back or leave a gap.
        QVector<double> pts;
        for (const auto& p : pk) {
            pts.push_back(p.first);
        }
        std::sort(pts.begin(), pts.end());
        for (int i = 1; i < pts.size(); ++i) {
            QVERIFY2(pts[i] - pts[i - 1] > 0.001 && pts[i] - pts[i - 1] < kFrame + kAudioFrame + 0.002,
                     qPrintable(QStringLiteral("gap %1 at %2").arg(pts[i] - pts[i - 1]).arg(pts[i])));
        }
        QVector<StreamInfo> s = streams(joined);
        QCOMPARE(s.size(), 2);
        QCOMPARE(s[0].codec, QStringLiteral("h264"));
        QCOMPARE(s[1].codec, QStringLiteral("aac"));
        QVERIFY(std::fabs(s[0].start - s[1].start) <= kAudioFrame);
        QVERIFY(!core->needTranscodeJoined(joined.toStdString()));
        // A single input is joined too.
        QCOMPARE(runMerge(*core, obs, {pieces[0]}, "single.mp4", 0, 0, false), int(MEDIA_CODE_SUCCESS));
        QCOMPARE(videoPackets(QDir(m_out).filePath("single.mp4")).size(), videoPackets(pieces[0]).size());
        QCOMPARE(obs.mergeCodes().size(), 2);
    }

    // Inputs of different sizes, an asked size, or transcode: decoded, scaled and re-encoded.
    void mergeReencode() {
        RecordingObserver obs;
        auto core = IMediaCore::create(&obs);
        core->setOutputDir(m_out.toStdString());
        const double dBase = testsupport::ffprobeDurationMs(m_base) / 1000.0;
        const double dBig = testsupport::ffprobeDurationMs(m_big) / 1000.0;
        const double dOther = testsupport::ffprobeDurationMs(m_other) / 1000.0;

        // Unlike inputs, no size asked: first input's size.
        QCOMPARE(runMerge(*core, obs, {m_big, m_base, m_other}, "mixed.mp4", 0, 0, false),
                 int(MEDIA_CODE_SUCCESS));
        QString out = QDir(m_out).filePath("mixed.mp4");
        QVector<StreamInfo> s = streams(out);
        QCOMPARE(s.size(), 2);
        QCOMPARE(s[0].codec, QStringLiteral("h264"));
        QCOMPARE(s[0].width, 480);
        QCOMPARE(s[0].height, 360);
        QCOMPARE(s[1].codec, QStringLiteral("aac"));
        double got = testsupport::ffprobeDurationMs(out) / 1000.0;
        double sum = dBig + dBase + dOther;
        qInfo("re-encoded join %.3f s, inputs sum %.3f s", got, sum);
        QVERIFY(std::fabs(got - sum) <= 2 * kFrame);
        QCOMPARE(decodedFrames(out), int(std::lround(sum / kFrame)));
        QVERIFY(std::fabs(s[0].start - s[1].start) <= kAudioFrame);

        // Asked size, like inputs.
        QCOMPARE(runMerge(*core, obs, {m_base, m_other}, "sized.mp4", 160, 120, false),
                 int(MEDIA_CODE_SUCCESS));
        s = streams(QDir(m_out).filePath("sized.mp4"));
        QCOMPARE(s[0].width, 160);
        QCOMPARE(s[0].height, 120);
        QVERIFY(std::fabs(testsupport::ffprobeDurationMs(QDir(m_out).filePath("sized.mp4")) / 1000.0 -
                          (dBase + dOther)) <= 2 * kFrame);

        // Odd asked size: made even.
        QCOMPARE(runMerge(*core, obs, {m_other}, "odd.mp4", 321, 241, true), int(MEDIA_CODE_SUCCESS));
        s = streams(QDir(m_out).filePath("odd.mp4"));
        QCOMPARE(s[0].width, 320);
        QCOMPARE(s[0].height, 240);

        // A video-only input among inputs with sound: silence keeps the sound in step.
        const QString mute = path("mute.mp4");
        QVERIFY(makeClip(mute, 3, "320x240", 25, 50, "testsrc", false));
        QCOMPARE(runMerge(*core, obs, {mute, m_other}, "mute_join.mp4", 0, 0, false),
                 int(MEDIA_CODE_SUCCESS));
        out = QDir(m_out).filePath("mute_join.mp4");
        s = streams(out);
        QCOMPARE(s.size(), 2);
        QVERIFY(std::fabs(testsupport::ffprobeDurationMs(out) / 1000.0 - (3.0 + dOther)) <= 2 * kFrame);
        QCOMPARE(obs.mergeCodes().size(), 4);
    }

    // Every bad request ends with one failure code, a distinct one per cause, and leaves no file.
    void badRequests() {
        RecordingObserver obs;
        auto core = IMediaCore::create(&obs);
        const QString bad = path("bad");
        QVERIFY(QDir().mkpath(bad));
        core->setOutputDir(m_out.toStdString());
        const QStringList before = outEntries();

        const QString notMedia = path("notes.txt");
        QFile f(notMedia);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(20000, 'x'));
        f.close();
        const QString empty = path("empty.mp4");
        QFile e(empty);
        QVERIFY(e.open(QIODevice::WriteOnly));
        e.close();
        const QString truncated = path("truncated.mp4");
        {
            QFile src(m_base);
            QVERIFY(src.open(QIODevice::ReadOnly));
            QByteArray all = src.readAll();
            QFile t(truncated);
            QVERIFY(t.open(QIODevice::WriteOnly));
            t.write(all.left(all.size() / 2));  // ffmpeg writes moov at the end: cut off
        }
        const QString audioOnly = path("audio.m4a");
        QVERIFY(makeClip(audioOnly, 3, "320x240", 25, 50, "testsrc2", true, false));

        struct Case {
            QString src;
            qint64 b, e;
            int code;
        };
        const QVector<Case> cases{
            {path("missing.mp4"), 0, 1000, MEDIA_CODE_OPEN_INPUT},
            {notMedia, 0, 1000, MEDIA_CODE_OPEN_INPUT},
            {empty, 0, 1000, MEDIA_CODE_OPEN_INPUT},
            {truncated, 0, 1000, MEDIA_CODE_OPEN_INPUT},
            {audioOnly, 0, 1000, MEDIA_CODE_NO_STREAM},
            {m_base, 3000, 3000, MEDIA_CODE_BAD_ARGUMENT},
            {m_base, 5000, 2000, MEDIA_CODE_BAD_ARGUMENT},
            {m_base, -500, 2000, MEDIA_CODE_BAD_ARGUMENT},
            {m_base, 13000, 14000, MEDIA_CODE_BAD_ARGUMENT},
        };
        int expectedCrops = 0;
        for (bool transcode : {false, true}) {
            for (const Case& c : cases) {
                QCOMPARE(runCrop(*core, obs, c.b, c.e, "fail.mp4", transcode, c.src), c.code);
                ++expectedCrops;
            }
        }
        // Output name that would leave the output directory.
        QCOMPARE(runCrop(*core, obs, 0, 1000, "../escape.mp4", false), int(MEDIA_CODE_BAD_ARGUMENT));
        ++expectedCrops;
        QVERIFY(!QFileInfo::exists(path("escape.mp4")));
        // Missing output directory, or a file where the directory should be.
        core->setOutputDir(path("no/such/dir").toStdString());
        QCOMPARE(runCrop(*core, obs, 0, 1000, "fail.mp4", false), int(MEDIA_CODE_OUTPUT_DIR));
        QCOMPARE(runMerge(*core, obs, {m_base}, "fail.mp4", 0, 0, false), int(MEDIA_CODE_OUTPUT_DIR));
        core->setOutputDir(notMedia.toStdString());
        QCOMPARE(runCrop(*core, obs, 0, 1000, "fail.mp4", false), int(MEDIA_CODE_OUTPUT_DIR));
        expectedCrops += 2;
        // Read-only output directory (root may write anywhere, so only checked for other users).
        if (geteuid() != 0) {
            const QString ro = path("readonly");
            QVERIFY(QDir().mkpath(ro));
            QFile::setPermissions(ro, QFile::ReadOwner | QFile::ExeOwner);
            core->setOutputDir(ro.toStdString());
            QCOMPARE(runCrop(*core, obs, 0, 1000, "fail.mp4", false), int(MEDIA_CODE_OUTPUT_DIR));
            ++expectedCrops;
            QVERIFY(QDir(ro).entryList(QDir::Files | QDir::Hidden).isEmpty());
        }
        // Backslash separators are accepted.
        core->setOutputDir(QString(m_out).replace('/', '\\').toStdString());
        QCOMPARE(runCrop(*core, obs, 0, 1000, "ok.mp4", false, QString(m_base).replace('/', '\\')),
                 int(MEDIA_CODE_SUCCESS));
        ++expectedCrops;

        // Merge failures.
        QCOMPARE(runMerge(*core, obs, {}, "fail.mp4", 0, 0, false), int(MEDIA_CODE_BAD_ARGUMENT));
        QCOMPARE(runMerge(*core, obs, {m_base, path("missing.mp4")}, "fail.mp4", 0, 0, false),
                 int(MEDIA_CODE_OPEN_INPUT));
        QCOMPARE(runMerge(*core, obs, {m_base, truncated}, "fail.mp4", 0, 0, true),
                 int(MEDIA_CODE_OPEN_INPUT));
        QCOMPARE(runMerge(*core, obs, {audioOnly, m_base}, "fail.mp4", 0, 0, false),
                 int(MEDIA_CODE_NO_STREAM));
        QCOMPARE(runMerge(*core, obs, {m_base}, "fail.mp4", -2, 100, false), int(MEDIA_CODE_BAD_ARGUMENT));

        // Exactly one completion per request, nothing written for the failures.
        QTest::qWait(200);
        QCOMPARE(obs.cropCodes().size(), expectedCrops);
        QCOMPARE(obs.mergeCodes().size(), 6);
        QStringList after = outEntries();
        after.removeOne("ok.mp4");
        QCOMPARE(after, before);
    }

    // Requests queue up; each gets its own completion, in order.
    void queuedRequestsCompleteOnce() {
        RecordingObserver obs;
        auto core = IMediaCore::create(&obs);
        core->setOutputDir(m_out.toStdString());
        const std::string src = m_base.toStdString();
        core->startMediaCrop(src, {CropRange{0, 2000, "segment_c.mp4"}}, "q_0.mp4", false);
        core->startMediaCrop(src, {CropRange{5000, 4000, "segment_c.mp4"}}, "q_1.mp4", false);
        core->startMediaCrop(src, {CropRange{2000, 6000, "segment_c.mp4"}}, "q_2.mp4", true);
        core->startMediaMerge({(m_out + "/q_0.mp4").toStdString()}, "q_m.mp4", 0, 0, false);
        QVector<int> crops = obs.waitCrops(3);
        QVector<int> merges = obs.waitMerges(1);
        QTest::qWait(300);
        QCOMPARE(obs.cropCodes(),
                 (QVector<int>{MEDIA_CODE_SUCCESS, MEDIA_CODE_BAD_ARGUMENT, MEDIA_CODE_SUCCESS}));
        QCOMPARE(obs.mergeCodes(), QVector<int>{MEDIA_CODE_SUCCESS});
        Q_UNUSED(crops);
        Q_UNUSED(merges);
    }

    // Destroying the engine while it works cancels the job: one completion, no partial file.
    void destroyWhileWorking() {
        RecordingObserver obs;
        {
            auto core = IMediaCore::create(&obs);
            core->setOutputDir(m_out.toStdString());
            core->startMediaMerge({m_base.toStdString(), m_other.toStdString(), m_big.toStdString()},
                                  "cancelled.mp4", 640, 480, true);
            core->startMediaCrop(m_base.toStdString(), {CropRange{0, 2000, "segment_c.mp4"}},
                                 "cancelled_2.mp4", false);
            QTest::qWait(300);
        }
        QCOMPARE(obs.mergeCodes().size(), 1);
        QCOMPARE(obs.cropCodes().size(), 1);
        QCOMPARE(obs.cropCodes().first(), int(MEDIA_CODE_CANCELLED));
        if (obs.mergeCodes().first() == MEDIA_CODE_CANCELLED) {
            QVERIFY(!QFileInfo::exists(QDir(m_out).filePath("cancelled.mp4")));
        }
        QVERIFY(!QFileInfo::exists(QDir(m_out).filePath("cancelled_2.mp4")));
        for (const QString& n : outEntries()) {
            QVERIFY2(!n.endsWith(".part"), qPrintable(n));
        }
    }
};

QTEST_GUILESS_MAIN(TstMediaEdit)
#include "tst_media_edit.moc"
