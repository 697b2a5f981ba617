// Packages whose "c.mp4" names something outside the package: playlists, edit lists, protocol strings
// and network addresses pointing at a decoy video beside the package or at a listening port. Cut,
// merge, convert and playback each end with a refusal, leave nothing at the output path, never open
// the decoy (watched with inotify, which does not depend on access times) and never connect.
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <mutex>
#include <thread>

#include "DataWrapper.h"
#include "IMediaRecorder.h"
#include "TestSupport.h"

namespace {

QString g_base;

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Runs `work` on a worker thread, as the task windows do, while this thread's events go on.
bool onWorker(const std::function<void()>& work, int timeoutMs = 120000) {
    std::atomic<bool> done{false};
    std::thread t([&] {
        work();
        done = true;
    });
    QElapsedTimer timer;
    timer.start();
    while (!done && timer.elapsed() < timeoutMs) {
        QTest::qWait(10);
    }
    if (!done) {
        t.detach();  // the test fails; the worker's state stays alive with the process
        return false;
    }
    t.join();
    return true;
}

int readInto(const std::shared_ptr<DataWrapper>& session, const QString& package) {
    std::atomic<int> code{1};
    if (session->readFile(package, [&code](int c) { code = c; }) != 0) {
        return -100;
    }
    QElapsedTimer t;
    t.start();
    while (code == 1 && t.elapsed() < 60000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return code;
}

// Paints every frame black, as the exporter would paint it, and records how the recording ended.
class Painter : public IMediaRecorderObserver {
public:
    void OnRecordFrame(std::shared_ptr<SRecordFrame> frame) override {
        auto pic = std::make_shared<_RGBAFrame>();
        pic->width = 320;
        pic->height = 180;
        pic->data.reset(new uint8_t[320 * 180 * 4]());
        frame->result.set_value(pic);
    }
    void OnRecordFinished() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
        m_cond.notify_all();
    }
    void OnRecordLog(int, const char*, ...) override {}
    void OnRecordError(int code) override { m_error = code; }
    bool waitFinished() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cond.wait_for(lock, std::chrono::seconds(120), [this] { return m_finished; });
    }
    std::atomic<int> m_error{0};

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_finished = false;
};

}  // namespace

class TestHostileReferences : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void referencesAreNeverFollowed_data();
    void referencesAreNeverFollowed();
    void cleanupTestCase();

private:
    QString buildPackage(const QString& name, const QByteArray& video);
    // Names of what touched the decoy or the port since the last call (empty: nothing).
    QStringList intrusions();

    QString m_unpacked;
    QString m_good;
    QString m_out;
    QString m_decoy;
    qint64 m_package_ms = 0;
    qint64 m_decoy_ms = 0;
    int m_inotify = -1;
    int m_listener = -1;
    int m_port = 0;
};

void TestHostileReferences::initTestCase() {
    QVERIFY2(QFileInfo::exists(testsupport::sampleTool()), "the sample generator is not built");
    m_out = g_base + "/out";
    m_unpacked = g_base + "/unpacked";
    QVERIFY(QDir().mkpath(m_out) && QDir().mkpath(g_base + "/decoy"));
    m_good = g_base + "/good.vrk";
    QVERIFY(testsupport::makeSample(m_good, {"--duration", "8", "--size", "320x180", "--gop", "25"}));
    QCOMPARE(testsupport::runProgram("unzip", {"-q", m_good, "-d", m_unpacked}), 0);
    m_package_ms = testsupport::ffprobeDurationMs(m_unpacked + "/c.mp4");

    // The decoy: a real video of another length, outside every package and workspace.
    const QString decoyPackage = g_base + "/decoy.vrk";
    QVERIFY(testsupport::makeSample(decoyPackage, {"--duration", "5", "--size", "320x180"}));
    QCOMPARE(testsupport::runProgram("unzip", {"-q", decoyPackage, "c.mp4", "-d", g_base + "/decoy"}), 0);
    m_decoy = g_base + "/decoy/c.mp4";
    m_decoy_ms = testsupport::ffprobeDurationMs(m_decoy);
    QVERIFY(qAbs(m_decoy_ms - m_package_ms) > 2000);

    // A polyglot: an mpv edit list naming the decoy, followed by the package's own video as MPEG-TS.
    QCOMPARE(testsupport::runProgram("ffmpeg", {"-v", "error", "-i", m_unpacked + "/c.mp4", "-c", "copy",
                                                "-f", "mpegts", g_base + "/own.ts"}),
             0);

    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(m_inotify >= 0);
    QVERIFY(inotify_add_watch(m_inotify, QFile::encodeName(m_decoy).constData(), IN_OPEN | IN_ACCESS) >= 0);

    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    QVERIFY(m_listener >= 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    QVERIFY(bind(m_listener, reinterpret_cast<sockaddr*>(&addr), len) == 0 && listen(m_listener, 8) == 0);
    QVERIFY(getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0);
    m_port = ntohs(addr.sin_port);
    QVERIFY(intrusions().isEmpty());
}

void TestHostileReferences::cleanupTestCase() {
    if (m_inotify >= 0) {
        close(m_inotify);
    }
    if (m_listener >= 0) {
        close(m_listener);
    }
}

QStringList TestHostileReferences::intrusions() {
    QStringList seen;
    alignas(inotify_event) char buf[4096];
    ssize_t n;
    while ((n = read(m_inotify, buf, sizeof(buf))) > 0) {
        for (char* p = buf; p < buf + n;) {
            auto* ev = reinterpret_cast<inotify_event*>(p);
            seen << ((ev->mask & IN_OPEN) ? "decoy opened" : "decoy read");
            p += sizeof(inotify_event) + ev->len;
        }
    }
    int peer;
    while ((peer = accept(m_listener, nullptr, nullptr)) >= 0) {
        seen << "address contacted";
        close(peer);
    }
    return seen;
}

QString TestHostileReferences::buildPackage(const QString& name, const QByteArray& video) {
    const QString dir = g_base + "/build-" + name;
    QDir().mkpath(dir);
    QDirIterator it(m_unpacked, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = dir + path.mid(m_unpacked.size());
        if (QFileInfo(path).isDir()) {
            QDir().mkpath(target);
        } else if (!QFile::copy(path, target)) {
            return QString();
        }
    }
    const QString package = g_base + "/" + name + ".vrk";
    QProcess zip;
    zip.setWorkingDirectory(dir);
    bool zipped = writeFile(dir + "/c.mp4", video);
    if (zipped) {
        zip.start("zip", {"-q", "-r", "-0", "-X", package, "."});
        zipped =
            zip.waitForFinished(60000) && zip.exitStatus() == QProcess::NormalExit && zip.exitCode() == 0;
    }
    QDir(dir).removeRecursively();
    return zipped ? package : QString();
}

void TestHostileReferences::referencesAreNeverFollowed_data() {
    QTest::addColumn<QByteArray>("video");
    QTest::addColumn<bool>("refused");
    const QByteArray decoy = m_decoy.toUtf8();
    const QByteArray url = QStringLiteral("http://127.0.0.1:%1/").arg(m_port).toUtf8();
    auto row = [](const char* name, const QByteArray& video, bool refused = true) {
        QTest::newRow(name) << video << refused;
    };
    row("hls-file-url",
        "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:5.0,\nfile://" + decoy + "\n#EXT-X-ENDLIST\n");
    row("hls-network", "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:5.0,\n" + url + "a.ts\n#EXT-X-ENDLIST\n");
    row("m3u-plain-path", decoy + "\n");
    row("pls-playlist", "[playlist]\nFile1=" + decoy + "\nNumberOfEntries=1\nVersion=2\n");
    row("mpv-edl", "# mpv EDL v0\n" + decoy + ",0,5\n");
    row("mpv-edl-url", "edl://" + decoy + ",0,5;");
    row("ffconcat", "ffconcat version 1.0\nfile '" + decoy + "'\n");
    row("concat-string", "concat:" + decoy + "|" + decoy);
    row("subfile-string", "subfile,,start,0,end,0,,:" + decoy);
    row("data-url", "data:video/mp4;base64," + readAll(m_unpacked + "/c.mp4").left(3000).toBase64());
    row("network-address", url + "c.mp4");
    // Not refused: to the engine's demuxers this is an MPEG-TS stream after some junk, so it plays and
    // converts from the package's own pictures; a player that believed the edit list would open the decoy.
    row("edl-then-own-ts", "# mpv EDL v0\n" + decoy + ",0,5\n" + readAll(g_base + "/own.ts"), false);
}

void TestHostileReferences::referencesAreNeverFollowed() {
    QFETCH(QByteArray, video);
    QFETCH(bool, refused);
    const QString name = QTest::currentDataTag();
    const QString package = buildPackage(name, video);
    QVERIFY(!package.isEmpty());
    QVERIFY(intrusions().isEmpty());
    const QString out = m_out + "/" + name;

    // Playback: the session's engine object opens nothing, so no length and no picture size.
    auto session = std::make_shared<DataWrapper>();
    QCOMPARE(readInto(session, package), 0);
    qint64 duration = -1;
    bool sized = false;
    QVERIFY(onWorker([&] {
        session->initMediaCore(0);
        int w = 0, h = 0;
        duration = session->getDuration();
        sized = session->getVideoSize(&w, &h);
    }));
    if (refused) {
        QCOMPARE(duration, qint64(0));
        QVERIFY(!sized);
    } else {
        QVERIFY2(qAbs(duration - m_package_ms) < 500, qPrintable(QString::number(duration)));
    }

    // Cut, merge (the hostile package first, a sound one after it) and convert.
    int cut = INT_MIN, merge = INT_MIN, init = INT_MIN;
    Painter painter;
    auto recorder = IMediaRecorder::create(&painter);
    QVERIFY(onWorker([&] {
        auto s = std::make_shared<_Segment>();
        s->begin_time = 1000;
        s->end_time = 3000;
        s->id = "s";
        session->addSegment(s);
        cut = session->save(out + "-cut.vrk");
        auto first = std::make_shared<DataWrapper>();
        auto second = std::make_shared<DataWrapper>();
        if (readInto(first, package) == 0 && readInto(second, m_good) == 0) {
            merge = first->merge({second}, 0, 0, out + "-merge.vrk");
        }
        auto param = std::make_shared<_RecordParam>();
        param->width = 320;
        param->height = 180;
        param->bitrate = 300;
        param->input_path = session->getRootItem()->video_path.toUtf8().toStdString();
        param->output_path = QFile::encodeName(out + "-convert.mp4").toStdString();
        init = recorder->init(param);
        if (init == RECORD_OK && recorder->start()) {
            painter.waitFinished();
        }
    }));
    session.reset();
    qInfo("%s: duration %lld, cut %d, merge %d, recorder init %d, recording error %d", qPrintable(name),
          static_cast<long long>(duration), cut, merge, init, painter.m_error.load());

    const QStringList touched = intrusions();
    QVERIFY2(touched.isEmpty(), qPrintable(touched.join(", ")));
    if (refused) {
        QVERIFY(cut != 0 && cut != INT_MIN);
        QVERIFY(merge != 0 && merge != INT_MIN);
        QCOMPARE(init, int(RECORD_REFUSED));
        const QStringList left =
            QDir(m_out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        QVERIFY2(left.isEmpty(), qPrintable("left at the output: " + left.join(", ")));
    } else {
        // Whatever succeeded holds the package's own video: lengths follow it, not the decoy.
        QCOMPARE(cut, 0);
        QCOMPARE(merge, 0);
        QCOMPARE(init, int(RECORD_OK));
        QCOMPARE(painter.m_error.load(), 0);
        QVERIFY(qAbs(testsupport::ffprobeDurationMs(out + "-convert.mp4") - m_package_ms) < 500);
        QTemporaryDir check;
        QCOMPARE(testsupport::runProgram("unzip", {"-q", out + "-merge.vrk", "c.mp4", "-d", check.path()}),
                 0);
        QVERIFY(qAbs(testsupport::ffprobeDurationMs(check.path() + "/c.mp4") - 2 * m_package_ms) < 1000);
        for (const QString& f : QDir(m_out).entryList(QDir::Files)) {
            QFile::remove(m_out + "/" + f);
        }
    }
}

int main(int argc, char** argv) {
    QTemporaryDir base(QDir::tempPath() + "/tst_hostile_references-XXXXXX");
    if (!base.isValid()) {
        return 1;
    }
    g_base = QFileInfo(base.path()).canonicalFilePath();
    QDir().mkpath(g_base + "/tmp");
    qputenv("TMPDIR", QFile::encodeName(g_base + "/tmp"));
    QCoreApplication app(argc, argv);
    TestHostileReferences test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostile_references.moc"
