// Recorder: decodes a real ffmpeg-made clip, lets an observer paint every frame and checks the MP4
// it writes with ffprobe and by decoding it again.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdarg>
#include <mutex>

#include "IMediaRecorder.h"
#include "MediaRecorder.h"
#include "TestSupport.h"

namespace {

using testsupport::ffprobe;
using testsupport::runProgram;

enum class Mode { Paint, DropAt, Stall };

class TestObserver : public IMediaRecorderObserver {
public:
    Mode mode = Mode::Paint;
    int drop_at = -1;   // index of the frame dropped without a picture (Mode::DropAt)
    int pic_width = 0;  // size of the delivered pictures
    int pic_height = 0;
    QRgb early = qRgb(200, 40, 90);  // colour painted before 2 s
    QRgb late = qRgb(30, 160, 220);  // colour painted from 2 s on
    // With `nv12`, pictures come already converted: Y, Cb, Cr before 2 s and from 2 s on.
    bool nv12 = false;
    uint8_t early_yuv[3] = {81, 90, 240};
    uint8_t late_yuv[3] = {145, 54, 34};

    std::mutex mutex;
    std::condition_variable cond;
    QVector<qint64> times;
    QVector<int> errors;
    int finished = 0;
    bool error_before_finish = true;
    int first_y = -1, first_u = -1, first_v = -1;
    int frame_width = 0, frame_height = 0;
    bool planes_ok = true;
    std::shared_ptr<SRecordFrame> held;  // a stalled frame, kept as a real exporter would keep it
    QByteArray first_planes;             // the first frame's Y, U and V planes as handed over
    QStringList log_lines;

    void OnRecordFrame(std::shared_ptr<SRecordFrame> frame) override {
        std::unique_lock<std::mutex> lock(mutex);
        const int index = times.size();
        times.push_back(frame->time);
        if (index == 0) {
            frame_width = frame->width;
            frame_height = frame->height;
            // Centre samples of the three planes, laid out as the recorder promises.
            const int cx = frame->width / 2, cy = frame->height / 2;
            first_y = frame->y[cy * frame->width + cx];
            first_u = frame->u[(cy / 2) * (frame->width / 2) + cx / 2];
            first_v = frame->v[(cy / 2) * (frame->width / 2) + cx / 2];
            const int luma = frame->width * frame->height;
            first_planes = QByteArray(reinterpret_cast<const char*>(frame->y),
                                      luma + 2 * (frame->width / 2) * (frame->height / 2));
        }
        if (!frame->y || !frame->u || !frame->v || frame->u != frame->y + frame->width * frame->height ||
            frame->v != frame->u + (frame->width / 2) * (frame->height / 2)) {
            planes_ok = false;
        }
        cond.notify_all();
        if (mode == Mode::Stall) {
            held = frame;
            return;
        }
        if (mode == Mode::DropAt && index == drop_at) {
            return;  // the record dies here without a value: a broken promise
        }
        auto pic = std::make_shared<_RGBAFrame>();
        pic->width = pic_width;
        pic->height = pic_height;
        if (nv12) {
            const size_t luma = size_t(pic_width) * pic_height;
            const uint8_t* yuv = frame->time < 2000 ? early_yuv : late_yuv;
            pic->format = RGBA_FRAME_NV12;
            pic->data.reset(new uint8_t[luma * 3 / 2]);
            std::fill(pic->data.get(), pic->data.get() + luma, yuv[0]);
            for (size_t i = luma; i < luma * 3 / 2; i += 2) {
                pic->data[i] = yuv[1];
                pic->data[i + 1] = yuv[2];
            }
            frame->result.set_value(pic);
            return;
        }
        pic->data.reset(new uint8_t[size_t(pic_width) * pic_height * 4]);
        const QRgb colour = frame->time < 2000 ? early : late;
        auto* px = reinterpret_cast<quint32*>(pic->data.get());
        std::fill(px, px + pic_width * pic_height, quint32(colour));
        frame->result.set_value(pic);
    }
    void OnRecordFinished() override {
        std::unique_lock<std::mutex> lock(mutex);
        ++finished;
        cond.notify_all();
    }
    void OnRecordLog(int, const char* format, ...) override {
        char buf[1024];
        va_list args;
        va_start(args, format);
        vsnprintf(buf, sizeof(buf), format, args);
        va_end(args);
        std::unique_lock<std::mutex> lock(mutex);
        log_lines << QString::fromUtf8(buf);
    }
    void OnRecordError(int code) override {
        std::unique_lock<std::mutex> lock(mutex);
        errors.push_back(code);
        if (finished) {
            error_before_finish = false;
        }
    }

    bool waitFinished(int ms) {
        std::unique_lock<std::mutex> lock(mutex);
        return cond.wait_for(lock, std::chrono::milliseconds(ms), [&] { return finished > 0; });
    }
    bool waitFrames(int n, int ms) {
        std::unique_lock<std::mutex> lock(mutex);
        return cond.wait_for(lock, std::chrono::milliseconds(ms), [&] { return times.size() >= n; });
    }
};

std::shared_ptr<_RecordParam> makeParam(const QString& in, const QString& out, int w, int h, int kbps) {
    auto p = std::make_shared<_RecordParam>();
    p->width = w;
    p->height = h;
    p->bitrate = kbps;
    p->input_path = in.toStdString();
    p->output_path = out.toStdString();
    return p;
}

// One decoded RGB pixel of the output at time `sec`, at (x, y).
QColor decodedPixel(const QString& file, double sec, int w, int h, int x, int y) {
    QByteArray raw;
    const int rc = runProgram(QStringLiteral("ffmpeg"),
                              {"-v", "error", "-ss", QString::number(sec), "-i", file, "-frames:v", "1", "-f",
                               "rawvideo", "-pix_fmt", "rgb24", "-"},
                              &raw, 60000);
    if (rc != 0 || raw.size() != w * h * 3) {
        return QColor();
    }
    const auto* p = reinterpret_cast<const uchar*>(raw.constData()) + (y * w + x) * 3;
    return QColor(p[0], p[1], p[2]);
}

// Y, Cb and Cr of the decoded output at time `sec` and (x, y) (x and y even), as the file stores them.
QVector<int> decodedYuv(const QString& file, double sec, int w, int h, int x, int y) {
    QByteArray raw;
    const int rc = runProgram(QStringLiteral("ffmpeg"),
                              {"-v", "error", "-ss", QString::number(sec), "-i", file, "-frames:v", "1", "-f",
                               "rawvideo", "-pix_fmt", "yuv420p", "-"},
                              &raw, 60000);
    if (rc != 0 || raw.size() != w * h * 3 / 2) {
        return {};
    }
    const auto* p = reinterpret_cast<const uchar*>(raw.constData());
    const int chroma = (y / 2) * (w / 2) + x / 2;
    return {p[y * w + x], p[w * h + chroma], p[w * h + (w / 2) * (h / 2) + chroma]};
}

bool near(const QColor& c, QRgb want, int tol) {
    return c.isValid() && qAbs(c.red() - qRed(want)) <= tol && qAbs(c.green() - qGreen(want)) <= tol &&
           qAbs(c.blue() - qBlue(want)) <= tol;
}

QJsonObject streamOf(const QJsonObject& probe, const QString& type) {
    const QJsonArray streams = probe.value("streams").toArray();
    for (const auto& s : streams) {
        if (s.toObject().value("codec_type").toString() == type) {
            return s.toObject();
        }
    }
    return {};
}

// Files in `dir` besides the expected ones (temporary leftovers show up here).
QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

class RecorderTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_clip;      // 4 s, 320x180, 25 fps, dark grey, AAC sine
    QString m_pcm_clip;  // 2 s, MKV with PCM audio
    QString m_audio_only;

    QString out(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_clip = out("grey.mp4");
        QCOMPARE(runProgram("ffmpeg", {"-v",
                                       "error",
                                       "-y",
                                       "-f",
                                       "lavfi",
                                       "-i",
                                       "color=c=0x202020:s=320x180:r=25:d=4",
                                       "-f",
                                       "lavfi",
                                       "-i",
                                       "sine=frequency=440:sample_rate=44100:duration=4",
                                       "-c:v",
                                       "libx264",
                                       "-pix_fmt",
                                       "yuv420p",
                                       "-g",
                                       "25",
                                       "-c:a",
                                       "aac",
                                       "-shortest",
                                       m_clip}),
                 0);
        m_pcm_clip = out("pcm.mkv");
        QCOMPARE(
            runProgram("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=s=320x180:r=25:d=2",
                                  "-f", "lavfi", "-i", "sine=frequency=300:sample_rate=48000:duration=2",
                                  "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "pcm_s16le", m_pcm_clip}),
            0);
        m_audio_only = out("audio.m4a");
        QCOMPARE(runProgram("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=duration=1", "-c:a",
                                       "aac", m_audio_only}),
                 0);
    }

    void recordsPaintedFramesWithAudio() {
        TestObserver obs;
        obs.pic_width = 321;  // pictures come at the asked size; the encoder makes it even
        obs.pic_height = 181;
        const QString target = out("painted.mp4");
        auto rec = IMediaRecorder::create(&obs);
        QVERIFY(rec);
        QVERIFY(!rec->getMediaInfo());
        QCOMPARE(rec->init(makeParam(m_clip, target, 321, 181, 400)), int(RECORD_OK));
        auto info = rec->getMediaInfo();
        QVERIFY(info);
        QVERIFY2(qAbs(info->duration - 4000) <= 50, qPrintable(QString::number(info->duration)));
        QCOMPARE(info->width, 320);
        QCOMPARE(info->height, 180);
        QVERIFY(rec->start());
        QVERIFY(!rec->start());  // one recording at a time
        QVERIFY(obs.waitFinished(120000));
        QCOMPARE(obs.finished, 1);
        QVERIFY(obs.errors.isEmpty());

        // Every source frame went to the observer once, in order, with its time.
        QCOMPARE(obs.times.size(), 100);
        QCOMPARE(obs.times.first(), qint64(0));
        QCOMPARE(obs.times.last(), qint64(3960));
        for (int i = 1; i < obs.times.size(); ++i) {
            QCOMPARE(obs.times[i] - obs.times[i - 1], qint64(40));
        }
        // The planes hold the decoded dark grey, expanded to full range (limited Y 44 -> 32), tightly packed.
        QVERIFY(obs.planes_ok);
        QCOMPARE(obs.frame_width, 320);
        QCOMPARE(obs.frame_height, 180);
        QVERIFY2(qAbs(obs.first_y - 32) <= 2, qPrintable(QString::number(obs.first_y)));
        QVERIFY2(qAbs(obs.first_u - 128) <= 2, qPrintable(QString::number(obs.first_u)));
        QVERIFY2(qAbs(obs.first_v - 128) <= 2, qPrintable(QString::number(obs.first_v)));

        // The file: H.264 at the even size, AAC audio, same length as the source, in sync.
        QVERIFY(QFileInfo::exists(target));
        const QJsonObject probe = ffprobe(target);
        const QJsonObject v = streamOf(probe, "video");
        const QJsonObject a = streamOf(probe, "audio");
        QCOMPARE(v.value("codec_name").toString(), QString("h264"));
        QCOMPARE(v.value("width").toInt(), 320);
        QCOMPARE(v.value("height").toInt(), 180);
        QCOMPARE(v.value("nb_frames").toString(), QString("100"));
        QCOMPARE(a.value("codec_name").toString(), QString("aac"));
        const qint64 srcMs = testsupport::ffprobeDurationMs(m_clip);
        const qint64 outMs = testsupport::ffprobeDurationMs(target);
        QVERIFY2(qAbs(outMs - srcMs) <= 40, qPrintable(QString("%1 vs %2").arg(outMs).arg(srcMs)));
        const double vStart = v.value("start_time").toString().toDouble();
        const double aStart = a.value("start_time").toString().toDouble();
        const double vDur = v.value("duration").toString().toDouble();
        const double aDur = a.value("duration").toString().toDouble();
        QVERIFY2(qAbs(vStart - aStart) <= 0.04, qPrintable(QString("%1 vs %2").arg(vStart).arg(aStart)));
        QVERIFY2(qAbs(vDur - aDur) <= 0.1, qPrintable(QString("%1 vs %2").arg(vDur).arg(aDur)));

        // Decoding shows the painted colours at the times they were painted for.
        QVERIFY(near(decodedPixel(target, 1.0, 320, 180, 160, 90), obs.early, 10));
        QVERIFY(near(decodedPixel(target, 3.0, 320, 180, 160, 90), obs.late, 10));
        QVERIFY(near(decodedPixel(target, 3.0, 320, 180, 2, 2), obs.late, 12));
        // An independent decoder finds no error in the stream.
        QCOMPARE(runProgram("ffmpeg", {"-v", "error", "-xerror", "-i", target, "-f", "null", "-"}), 0);
        // Only the result remains in the folder, no temporary file.
        QVERIFY(!entries(m_dir.path()).join(",").contains(".part"));
        QVERIFY(!obs.log_lines.isEmpty());
        QVERIFY(obs.log_lines.first().startsWith("[mediacore/MediaRecorder:"));
    }

    // Pictures already converted for the encoder keep their samples, whether they come at the output
    // size (taken as they are) or at another one (scaled). An encoder asked for that does not exist or
    // cannot take the pictures gives way to libx264, whose signature the file then carries; so does the
    // automatic choice on a machine without video devices.
    void encodesConvertedPicturesAsDelivered_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QString>("encoder");
        QTest::addColumn<bool>("x264");
        const bool devices = QFile::exists("/dev/dri") || QFile::exists("/dev/nvidiactl");
        QTest::newRow("output size") << 320 << 180 << QString() << !devices;
        QTest::newRow("other size") << 480 << 270 << QString() << !devices;
        QTest::newRow("unknown encoder") << 320 << 180 << QString("no_such_encoder") << true;
        QTest::newRow("encoder refusing NV12") << 320 << 180 << QString("libx264rgb") << true;
        if (!QFile::exists("/dev/dri")) {
            QTest::newRow("VAAPI without device") << 320 << 180 << QString("h264_vaapi") << true;
        }
    }
    void encodesConvertedPicturesAsDelivered() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QString, encoder);
        QFETCH(bool, x264);
        TestObserver obs;
        obs.nv12 = true;
        obs.pic_width = width;
        obs.pic_height = height;
        const QString target = out(QString("nv12_%1_%2.mp4").arg(width).arg(encoder));
        auto rec = IMediaRecorder::create(&obs);
        auto param = makeParam(m_clip, target, 320, 180, 400);
        param->video_encoder = encoder.toStdString();
        QCOMPARE(rec->init(param), int(RECORD_OK));
        QVERIFY(rec->start());
        QVERIFY(obs.waitFinished(120000));
        QVERIFY(obs.errors.isEmpty());
        if (x264) {
            QFile file(target);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(file.readAll().contains("x264 - core"));
        }
        QCOMPARE(streamOf(ffprobe(target), "video").value("nb_frames").toString(), QString("100"));
        for (const auto& at : {std::make_pair(1.0, obs.early_yuv), std::make_pair(3.0, obs.late_yuv)}) {
            const QVector<int> got = decodedYuv(target, at.first, 320, 180, 160, 90);
            QCOMPARE(got.size(), 3);
            for (int i = 0; i < 3; ++i) {
                QVERIFY2(qAbs(got[i] - at.second[i]) <= 2,
                         qPrintable(QString("plane %1: %2").arg(i).arg(got[i])));
            }
        }
    }

    void reencodesAudioThatMp4CannotCarry() {
        TestObserver obs;
        obs.pic_width = 320;
        obs.pic_height = 180;
        const QString target = out("pcm.mp4");
        auto rec = IMediaRecorder::create(&obs);
        QCOMPARE(rec->init(makeParam(m_pcm_clip, target, 480, 270, 300)), int(RECORD_OK));
        QVERIFY(rec->start());
        QVERIFY(obs.waitFinished(120000));
        QVERIFY(obs.errors.isEmpty());
        QCOMPARE(obs.times.size(), 50);
        const QJsonObject probe = ffprobe(target);
        const QJsonObject v = streamOf(probe, "video");
        const QJsonObject a = streamOf(probe, "audio");
        QCOMPARE(v.value("width").toInt(), 480);  // the picture is scaled to the asked size
        QCOMPARE(v.value("height").toInt(), 270);
        QCOMPARE(a.value("codec_name").toString(), QString("aac"));
        QCOMPARE(a.value("sample_rate").toString(), QString("48000"));
        const double aDur = a.value("duration").toString().toDouble();
        QVERIFY2(qAbs(aDur - 2.0) <= 0.05, qPrintable(QString::number(aDur)));
        QVERIFY(qAbs(testsupport::ffprobeDurationMs(target) - 2000) <= 40);
        QVERIFY(near(decodedPixel(target, 1.0, 480, 270, 240, 135), obs.early, 10));
        // A second recording on the same object needs a new init.
        QVERIFY(!rec->start());
    }

    void refusesBadSetups() {
        TestObserver obs;
        auto rec = IMediaRecorder::create(&obs);
        const QString target = out("never.mp4");
        QCOMPARE(rec->init(nullptr), int(RECORD_BAD_PARAM));
        QCOMPARE(rec->init(makeParam(m_clip, target, 0, 720, 1500)), int(RECORD_BAD_PARAM));
        QCOMPARE(rec->init(makeParam(m_clip, target, 1280, 720, 0)), int(RECORD_BAD_PARAM));
        QCOMPARE(rec->init(makeParam(m_clip, "", 1280, 720, 1500)), int(RECORD_BAD_PARAM));
        QCOMPARE(rec->init(makeParam(m_clip, m_clip, 1280, 720, 1500)), int(RECORD_BAD_PARAM));
        QCOMPARE(rec->init(makeParam(out("missing.mp4"), target, 1280, 720, 1500)), int(RECORD_OPEN_INPUT));
        QFile junk(out("junk.mp4"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("this is not a video at all");
        junk.close();
        QCOMPARE(rec->init(makeParam(junk.fileName(), target, 1280, 720, 1500)), int(RECORD_OPEN_INPUT));
        QCOMPARE(rec->init(makeParam(m_audio_only, target, 1280, 720, 1500)), int(RECORD_NO_VIDEO));
        // Inputs that would make a demuxer read something else than the file itself.
        QFile playlist(out("list.mp4"));
        QVERIFY(playlist.open(QIODevice::WriteOnly));
        playlist.write(("#EXTM3U\n#EXTINF:2.0,\n" + m_clip + "\n").toUtf8());
        playlist.close();
        QVERIFY(mkfifo(QFile::encodeName(out("fifo.mp4")).constData(), 0600) == 0);
        for (const QString& input :
             QStringList{playlist.fileName(), out("fifo.mp4"), m_dir.path(), "concat:" + m_clip,
                         "subfile,,start,0,end,0,,:" + m_clip, "http://127.0.0.1:9/x.mp4"}) {
            QVERIFY2(rec->init(makeParam(input, target, 1280, 720, 1500)) == int(RECORD_REFUSED),
                     qPrintable(input));
        }
        QCOMPARE(rec->init(makeParam(m_clip, out("no/such/dir/x.mp4"), 1280, 720, 1500)),
                 int(RECORD_OPEN_OUTPUT));
        if (geteuid() != 0) {  // permissions do not bind root
            QDir(m_dir.path()).mkdir("locked");
            QFile::setPermissions(out("locked"), QFile::ReadOwner | QFile::ExeOwner);
            QCOMPARE(rec->init(makeParam(m_clip, out("locked/x.mp4"), 1280, 720, 1500)),
                     int(RECORD_OPEN_OUTPUT));
            QFile::setPermissions(out("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        // A failed init leaves nothing to start and nothing on disk.
        QVERIFY(!rec->getMediaInfo());
        QVERIFY(!rec->start());
        QVERIFY(!QFileInfo::exists(target));
        QCOMPARE(obs.finished, 0);
    }

    // Frames asked for at another size come scaled as the ffmpeg program scales them (bicubic, to
    // full range), chroma planes of integer halves even for odd sizes; the asked size of the source
    // itself is only expanded to full range. A source already in full range stays as it is.
    void scalesFramesToTheAskedSize_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QString>("format");  // of the source clip
        QTest::newRow("smaller") << 164 << 92 << "yuv420p";
        QTest::newRow("smaller, odd") << 163 << 91 << "yuv420p";
        QTest::newRow("larger") << 640 << 360 << "yuv420p";
        QTest::newRow("same") << 320 << 180 << "yuv420p";
        QTest::newRow("full-range 4:2:2 source") << 164 << 92 << "yuvj422p";
    }
    void scalesFramesToTheAskedSize() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QString, format);
        const QString pattern = out(QString("pattern_%1.mp4").arg(format));
        if (!QFile::exists(pattern)) {
            QCOMPARE(runProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc2=s=320x180:r=25:d=1",
                                           "-c:v", "libx264", "-pix_fmt", format, pattern}),
                     0);
        }
        TestObserver obs;
        obs.pic_width = 320;
        obs.pic_height = 180;
        auto rec = IMediaRecorder::create(&obs);
        QCOMPARE(rec->init(makeParam(pattern, out("scaled.mp4"), 320, 180, 300)), int(RECORD_OK));
        rec->setFrameSize(width, height);
        QVERIFY(rec->start());
        QVERIFY(obs.waitFinished(60000));
        QVERIFY(obs.errors.isEmpty());
        QCOMPARE(obs.frame_width, width);
        QCOMPARE(obs.frame_height, height);
        QVERIFY(obs.planes_ok);

        QByteArray want;
        const QString filter =
            QString("scale=%1:%2:flags=bicubic:out_range=full,format=yuvj420p").arg(width).arg(height);
        QCOMPARE(
            runProgram("ffmpeg",
                       {"-v", "error", "-i", pattern, "-frames:v", "1", "-vf", filter, "-f", "rawvideo", "-"},
                       &want, 60000),
            0);
        // ffmpeg's chroma planes are rounded up in size; compare the samples both have.
        const int cw = width / 2, ch = height / 2, wantCw = (width + 1) / 2, wantCh = (height + 1) / 2;
        QCOMPARE(want.size(), width * height + 2 * wantCw * wantCh);
        const auto* got = reinterpret_cast<const uchar*>(obs.first_planes.constData());
        const auto* ref = reinterpret_cast<const uchar*>(want.constData());
        int worst = 0;
        auto compare = [&](const uchar* g, const uchar* r, int w, int h, int refStride) {
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    worst = qMax(worst, qAbs(int(g[y * w + x]) - int(r[y * refStride + x])));
                }
            }
        };
        compare(got, ref, width, height, width);
        compare(got + width * height, ref + width * height, cw, ch, wantCw);
        compare(got + width * height + cw * ch, ref + width * height + wantCw * wantCh, cw, ch, wantCw);
        QVERIFY2(worst <= 2, qPrintable(QString("largest difference %1").arg(worst)));
    }

    void failsWithoutPictureAndLeavesNoFile() {
        // The observer drops a frame: the recording fails, and says so before it finishes.
        {
            TestObserver obs;
            obs.mode = Mode::DropAt;
            obs.drop_at = 30;
            obs.pic_width = 320;
            obs.pic_height = 180;
            const QString target = out("dropped.mp4");
            auto rec = IMediaRecorder::create(&obs);
            QCOMPARE(rec->init(makeParam(m_clip, target, 320, 180, 300)), int(RECORD_OK));
            QVERIFY(rec->start());
            QVERIFY(obs.waitFinished(60000));
            QCOMPARE(obs.errors, QVector<int>{RECORD_NO_PICTURE});
            QVERIFY(obs.error_before_finish);
            QCOMPARE(obs.finished, 1);
            QCOMPARE(obs.times.size(), 31);  // nothing decoded past the failing frame
            QVERIFY(!QFileInfo::exists(target));
        }
        // The observer never answers: the bounded wait ends the recording.
        {
            TestObserver obs;
            obs.mode = Mode::Stall;
            const QString target = out("stalled.mp4");
            auto rec = IMediaRecorder::create(&obs);
            static_cast<MediaRecorder*>(rec.get())->setPictureTimeout(300);
            QCOMPARE(rec->init(makeParam(m_clip, target, 320, 180, 300)), int(RECORD_OK));
            QVERIFY(rec->start());
            QVERIFY(obs.waitFinished(60000));
            QCOMPARE(obs.errors, QVector<int>{RECORD_NO_PICTURE});
            QCOMPARE(obs.times.size(), 1);
            QVERIFY(!QFileInfo::exists(target));
            // The frame record kept by the observer still owns valid planes.
            QVERIFY(obs.held);
            QVERIFY(qAbs(int(obs.held->y[0]) - 32) <= 2);
        }
        QVERIFY2(!entries(m_dir.path()).join(",").contains(".part"),
                 qPrintable(entries(m_dir.path()).join(",")));
    }

    void destructionCancelsQuietly() {
        TestObserver obs;
        obs.mode = Mode::Stall;
        const QString target = out("cancelled.mp4");
        {
            auto rec = IMediaRecorder::create(&obs);
            QCOMPARE(rec->init(makeParam(m_clip, target, 320, 180, 300)), int(RECORD_OK));
            QVERIFY(rec->start());
            QVERIFY(obs.waitFrames(1, 30000));
        }  // destroyed while waiting for a picture
        QCOMPARE(obs.finished, 0);
        QVERIFY(obs.errors.isEmpty());
        QVERIFY(!QFileInfo::exists(target));
        QVERIFY(!entries(m_dir.path()).join(",").contains(".part"));
        // A late picture for the abandoned frame harms nothing.
        auto pic = std::make_shared<_RGBAFrame>();
        obs.held->result.set_value(pic);
    }
};

QTEST_GUILESS_MAIN(RecorderTest)
#include "tst_recorder.moc"
