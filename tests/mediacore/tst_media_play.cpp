// Playback through the real engine (libmpv): open, play, pause, seek, stop, end of file, teardown.
#include "MediaTestUtil.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

using namespace mediatest;

namespace {

// Waits (bounded) until `cond` holds; true when it did.
template <typename F>
bool waitFor(F cond, int timeoutMs = 15000) {
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < timeoutMs) {
        QTest::qWait(10);
    }
    return cond();
}

}  // namespace

class TstMediaPlay : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_clip;   // 6 s
    QString m_short;  // 2 s

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_clip = m_dir.filePath("clip.mp4");
        m_short = m_dir.filePath("short.mp4");
        QVERIFY(makeClip(m_clip, 6));
        QVERIFY(makeClip(m_short, 2));
    }

    // Without a window: positions advance while playing, stop while paused; seeks land and are reported.
    void playPauseSeekStop() {
        RecordingObserver obs;
        auto core = IMediaCore::create(&obs);
        QVERIFY(core);
        QVERIFY(core->open(m_clip.toStdString(), 0));
        QVERIFY(!core->isPlaying());
        QVERIFY(obs.timePoints().isEmpty());  // loaded paused

        core->play(0);
        QVERIFY(waitFor([&] { return obs.plays.load() == 1; }));
        QVERIFY(waitFor([&] { return obs.timePoints().size() >= 10; }));
        QVERIFY(core->isPlaying());
        QVector<qint64> t = obs.timePoints();
        for (int i = 1; i < t.size(); ++i) {
            QVERIFY(t[i] >= t[i - 1]);
        }
        QVERIFY(t.last() > t.first());

        core->pause(true);
        QVERIFY(waitFor([&] { return !core->isPlaying(); }));
        QTest::qWait(100);
        obs.clearTimes();
        QTest::qWait(300);
        QVERIFY(obs.timePoints().isEmpty());

        // Exact seek while paused: reported once with the asked position.
        core->seek(4200);
        QVERIFY(waitFor([&] { return obs.seekPoints().size() == 1; }));
        QCOMPARE(obs.seekPoints().first(), qint64(4200));
        // Playing on from there reports positions after the seek point.
        core->pause(false);
        QVERIFY(waitFor([&] { return obs.timePoints().size() >= 3; }));
        QVERIFY(obs.timePoints().first() >= 4150);
        QCOMPARE(obs.plays.load(), 2);

        // A seek past the end is held at the end.
        core->pause(true);
        core->seek(60000);
        QVERIFY(waitFor([&] { return obs.seekPoints().size() == 2; }));
        QCOMPARE(obs.seekPoints().last(), core->getDuration(""));

        core->stop();
        QVERIFY(waitFor([&] { return obs.stops.load() == 1; }));
        QVERIFY(!core->isPlaying());
        QTest::qWait(200);
        QCOMPARE(obs.seekPoints().size(), 2);  // the stop's own rewind is not a seek report
        // After stop, play starts again from the beginning.
        obs.clearTimes();
        core->play(0);
        QVERIFY(waitFor([&] { return obs.timePoints().size() >= 2; }));
        QVERIFY(obs.timePoints().first() < 1000);
    }

    // Playing to the end reports the end once; play afterwards starts over (reported as a replay).
    void playToEnd() {
        RecordingObserver obs;
        auto core = IMediaCore::create(&obs);
        QVERIFY(core->open(m_short.toStdString(), 0));
        core->play(0);
        QVERIFY(waitFor([&] { return obs.finishes().size() == 1; }, 20000));
        QCOMPARE(obs.finishes().first(), true);
        QVERIFY(!core->isPlaying());
        QVector<qint64> t = obs.timePoints();
        QVERIFY(!t.isEmpty());
        QVERIFY(t.last() >= 1900);
        QTest::qWait(300);
        QCOMPARE(obs.finishes().size(), 1);
        core->play(0);
        QVERIFY(waitFor([&] { return obs.replays.load() == 1; }));
        QVERIFY(waitFor([&] { return obs.finishes().size() == 2; }, 20000));
    }

    // Files that cannot be played: open returns false, without hanging; later calls are harmless.
    void openFailures() {
        RecordingObserver obs;
        auto core = IMediaCore::create(&obs);
        const QString text = m_dir.filePath("list.m3u");
        QFile f(text);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#EXTM3U\nhttp://127.0.0.1:9/x.mp4\n");
        f.close();
        QVERIFY(!core->open(m_dir.filePath("missing.mp4").toStdString(), 0));
        QVERIFY(!core->open(text.toStdString(), 0));
        QVERIFY(!core->open("http://127.0.0.1:9/x.mp4", 0));
        QVERIFY(!core->open(m_dir.path().toStdString(), 0));
        core->play(0);
        core->seek(1000);
        core->pause(false);
        core->stop();
        QTest::qWait(200);
        QVERIFY(obs.seekPoints().isEmpty());
        QCOMPARE(obs.plays.load(), 0);
        // The same engine object still opens a good file afterwards, also with backslashes.
        QVERIFY(core->open(QString(m_clip).replace('/', '\\').toStdString(), 0));
        QCOMPARE(core->getDuration(""), testsupport::ffprobeDurationMs(m_clip));
    }

    // Into a native window (under Xvfb); audio goes to the default output, or nowhere without a device.
    void playIntoWindow() {
        QWindow window;
        window.resize(320, 240);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        RecordingObserver obs;
        auto core = IMediaCore::create(&obs);
        QVERIFY(core->open(m_clip.toStdString(), window.winId()));
        core->play(0);
        QVERIFY(waitFor([&] { return obs.timePoints().size() >= 5; }));
        core->seek(1000);
        QVERIFY(waitFor([&] { return obs.seekPoints().size() == 1; }));
        QCOMPARE(obs.seekPoints().first(), qint64(1000));
        core.reset();  // destroyed while playing
    }

    // Destroying engines in every state never hangs or crashes; no callback after destruction.
    void destroyInAnyState() {
        RecordingObserver obs;
        { auto core = IMediaCore::create(&obs); }
        {
            auto core = IMediaCore::create(&obs);
            QVERIFY(core->open(m_clip.toStdString(), 0));
        }
        {
            auto core = IMediaCore::create(&obs);
            QVERIFY(core->open(m_clip.toStdString(), 0));
            core->play(0);
            QVERIFY(waitFor([&] { return obs.timePoints().size() >= 2; }));
            core->seek(3000);
        }
        const int n = obs.timePoints().size();
        QTest::qWait(200);
        QCOMPARE(obs.timePoints().size(), n);
        QVERIFY(!IMediaCore::create(nullptr));
    }
};

QTEST_MAIN(TstMediaPlay)
#include "tst_media_play.moc"
