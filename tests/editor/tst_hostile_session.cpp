// Hostile packages opened, cut and merged through the session with the real archive layer and media
// engine: every one ends with a result code, nothing hangs, nothing outside the workspace is written,
// and no workspace stays in the temporary folder once the session is gone.
#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

#include "DataWrapper.h"
#include "TestSupport.h"

namespace {

// Private folder of this test process; the temporary location points inside it (set before the
// application object exists, so that QStandardPaths picks it up).
QString g_base;

const int kReadTimeoutMs = 60000;
const int kTaskTimeoutMs = 90000;

struct Variant {
    QString cls;
    QString name;
    std::function<bool(const QString& dir)> mutate;
    qint64 expectDurationMs = -1;  // when known: the length the engine must report despite the damage
};

QByteArray fileHash(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return QByteArray("<unreadable>");
    }
    QCryptographicHash h(QCryptographicHash::Sha1);
    h.addData(&f);
    return h.result();
}

// Every entry under `root` except the output folder, with a content hash for files.
QMap<QString, QByteArray> treeSnapshot(const QString& root, const QString& skip) {
    QMap<QString, QByteArray> out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path == skip || path.startsWith(skip + QLatin1Char('/'))) {
            continue;
        }
        const QFileInfo info(path);
        out.insert(path, info.isFile() && !info.isSymLink() ? fileHash(path) : QByteArray("<dir>"));
    }
    return out;
}

int runIn(const QString& dir, const QString& program, const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(program, args);
    if (!p.waitForStarted(10000) || !p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished(5000);
        return -1;
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool copyTree(const QString& from, const QString& to) {
    QDir().mkpath(to);
    QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + path.mid(from.size());
        if (QFileInfo(path).isDir()) {
            QDir().mkpath(target);
        } else if (!QFile::copy(path, target)) {
            return false;
        }
    }
    return true;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Overwrites 4 big-endian bytes at `offset`.
void putBE32(QByteArray& b, int offset, quint32 v) {
    b[offset] = char(v >> 24);
    b[offset + 1] = char(v >> 16);
    b[offset + 2] = char(v >> 8);
    b[offset + 3] = char(v);
}

// Patches the video in place: `edit` gets the bytes and returns false when its box is not found.
bool patchVideo(const QString& dir, const std::function<bool(QByteArray&)>& edit) {
    QByteArray b = readAll(dir + "/c.mp4");
    return !b.isEmpty() && edit(b) && writeFile(dir + "/c.mp4", b);
}

// Size field of the first box with the 4-character type `tag`; -1 when absent.
int boxSizeOffset(const QByteArray& b, const char* tag) {
    const int at = b.indexOf(tag);
    return at >= 4 ? at - 4 : -1;
}

bool patchMeta(const QString& dir, const std::function<void(QJsonObject& meta)>& edit) {
    QJsonObject root = QJsonDocument::fromJson(readAll(dir + "/meta.json")).object();
    QJsonObject datas = root.value("datas").toObject();
    QJsonObject meta = datas.value("meta").toObject();
    if (meta.isEmpty()) {
        return false;
    }
    edit(meta);
    datas.insert("meta", meta);
    root.insert("datas", datas);
    return writeFile(dir + "/meta.json", QJsonDocument(root).toJson(QJsonDocument::Compact));
}

// Replaces every scalar, array and object below `v` by a value of another kind (chosen by `mode`,
// or by depth when mode is -1), keeping the keys.
QJsonValue wrongTypes(const QJsonValue& v, int mode, int depth) {
    const int pick = mode >= 0 ? mode : depth % 6;
    if (v.isObject()) {
        QJsonObject o = v.toObject();
        for (auto it = o.begin(); it != o.end(); ++it) {
            it.value() = wrongTypes(it.value(), mode, depth + 1);
        }
        return depth == 0 ? QJsonValue(o) : (pick == 0 ? QJsonValue(QJsonArray{o}) : QJsonValue(o));
    }
    if (v.isArray()) {
        QJsonArray a = v.toArray();
        if (pick == 1) {
            return QJsonValue("list");
        }
        for (int i = 0; i < a.size(); ++i) {
            a[i] = wrongTypes(a[i], mode, depth + 1);
        }
        return a;
    }
    switch (pick) {
        case 0:
            return QJsonValue(QJsonObject{{"x", 1}});
        case 1:
            return QJsonValue(QJsonArray{1, "two"});
        case 2:
            return QJsonValue();
        case 3:
            return QJsonValue(v.isString() ? QJsonValue(1e300) : QJsonValue(QStringLiteral("\xff text")));
        case 4:
            return QJsonValue(true);
        default:
            return QJsonValue(-2147483648.0 * 4);
    }
}

}  // namespace

class TestHostileSession : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void hostileVideos();
    void hostileMetaJson();
    void cleanupTestCase();

private:
    void runVariants(const QList<Variant>& variants);

    QString m_tmp;
    QString m_pkgs;
    QString m_out;
    QString m_unpacked;
    QString m_good;
    QMap<QString, int> m_tried;
    QMap<QString, int> m_failedCleanly;
};

void TestHostileSession::initTestCase() {
    QVERIFY2(QFileInfo::exists(testsupport::sampleTool()), "the sample generator is not built");
    m_tmp = g_base + "/tmp";
    m_pkgs = g_base + "/pkgs";
    m_out = g_base + "/out";
    m_unpacked = g_base + "/unpacked";
    QCOMPARE(QStandardPaths::standardLocations(QStandardPaths::TempLocation).value(0), m_tmp);
    QVERIFY(QDir().mkpath(m_pkgs) && QDir().mkpath(m_out));

    m_good = m_pkgs + "/good.vrk";
    QVERIFY(testsupport::makeSample(m_good, {"--duration", "8", "--size", "320x180", "--gop", "25"}));
    QCOMPARE(testsupport::runProgram("unzip", {"-q", m_good, "-d", m_unpacked}), 0);
    QVERIFY(QFileInfo::exists(m_unpacked + "/c.mp4"));

    // Files that a path escaping a workspace would land on or read from: beside the workspaces, and
    // beside the temporary folder. A real video among them: a media file that manages to refer to it
    // would play and cut successfully.
    for (const QString& dir : {m_tmp + "/canary", g_base + "/canary"}) {
        QVERIFY(QDir().mkpath(dir + "/image"));
        QVERIFY(writeFile(dir + "/secret.txt", "do not touch"));
        QVERIFY(QFile::copy(m_unpacked + "/c.mp4", dir + "/secret.mp4"));
    }
}

void TestHostileSession::cleanupTestCase() {
    QStringList lines;
    for (auto it = m_tried.cbegin(); it != m_tried.cend(); ++it) {
        lines << QStringLiteral("%1: %2 tried, %3 refused with a result code")
                     .arg(it.key())
                     .arg(it.value())
                     .arg(m_failedCleanly.value(it.key()));
    }
    qInfo("hostile packages per class:\n%s", qPrintable(lines.join('\n')));
}

namespace {

struct Outcome {
    std::atomic<bool> done{false};
    int read = 1;
    int cut = INT_MIN;
    int merge = INT_MIN;
    qint64 duration = 0;
    QStringList problems;  // written by the worker before `done`
};

// Waits on a worker thread for `flag`, at most `ms`.
bool waitFor(const std::function<bool()>& flag, int ms) {
    QElapsedTimer t;
    t.start();
    while (!flag()) {
        if (t.elapsed() > ms) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A success must be a complete, valid package with a playable video.
QString checkPackage(const QString& path) {
    if (testsupport::runProgram("unzip", {"-tq", path}) != 0) {
        return "does not test clean";
    }
    QTemporaryDir check;
    if (testsupport::runProgram("unzip", {"-q", path, "c.mp4", "-d", check.path()}) != 0) {
        return "has no c.mp4";
    }
    if (testsupport::ffprobeDurationMs(check.path() + "/c.mp4") <= 500) {
        return "has no playable video";
    }
    return QString();
}

// Reads `package` into `session` on this thread; the read code, or 1 when it did not end in time.
int readInto(const std::shared_ptr<DataWrapper>& session, const QString& package) {
    auto code = std::make_shared<std::atomic<int>>(1);
    if (session->readFile(package, [code](int c) { *code = c; }) != 0) {
        return -100;
    }
    waitFor([code] { return *code != 1; }, kReadTimeoutMs);
    return *code;
}

// Open, cut and merge of one package, as a task window's worker runs them. The sessions are made by
// the caller (on the GUI thread, like the windows do) and dropped here.
void exercise(std::shared_ptr<DataWrapper> session, std::shared_ptr<DataWrapper> first,
              std::shared_ptr<DataWrapper> second, QString package, QString good, QString out,
              std::shared_ptr<Outcome> o) {
    o->read = readInto(session, package);
    if (o->read == 1) {
        o->problems << "read hangs";
        return;
    }
    if (o->read != 0 && o->read != -2) {
        o->problems << QStringLiteral("read code %1").arg(o->read);
    }
    if ((o->read == 0) != bool(session->getRootItem())) {
        o->problems << "read code and tree disagree";
    }

    session->initMediaCore(0);
    o->duration = session->getDuration();
    auto s = std::make_shared<_Segment>();
    s->begin_time = 1000;
    s->end_time = 3000;
    s->id = "s";
    session->addSegment(s);
    const QString cutOut = out + "-cut.vrk";
    o->cut = session->save(cutOut);
    if (o->cut == 0) {
        const QString bad = checkPackage(cutOut);
        if (!bad.isEmpty()) {
            o->problems << "cut output " + bad;
        }
    } else if (QFileInfo::exists(cutOut)) {
        o->problems << "failed cut left a file at the output";
    }
    if (o->read != 0 && o->cut == 0) {
        o->problems << "cut without a tree reported success";
    }
    session.reset();

    // Merge: the hostile package first, a sound one after it.
    int secondRead = 1;
    std::thread other([&] { secondRead = readInto(second, good); });
    const int firstRead = readInto(first, package);
    other.join();
    if (firstRead != o->read || secondRead != 0) {
        o->problems << QStringLiteral("merge reads gave %1 and %2").arg(firstRead).arg(secondRead);
        return;
    }
    const QString mergeOut = out + "-merge.vrk";
    o->merge = first->merge({second}, 0, 0, mergeOut);
    if (o->merge == 0) {
        const QString bad = checkPackage(mergeOut);
        if (!bad.isEmpty()) {
            o->problems << "merge output " + bad;
        }
    } else if (QFileInfo::exists(mergeOut)) {
        o->problems << "failed merge left a file at the output";
    }
    if (o->read != 0 && o->merge == 0) {
        o->problems << "merge without a tree reported success";
    }
}

}  // namespace

void TestHostileSession::runVariants(const QList<Variant>& variants) {
    QStringList packages;
    for (const Variant& v : variants) {
        const QString dir = g_base + "/build-" + v.name;
        QVERIFY(copyTree(m_unpacked, dir));
        QVERIFY2(v.mutate(dir), qPrintable(v.name));
        const QString package = m_pkgs + "/" + v.name + ".vrk";
        QCOMPARE(runIn(dir, "zip", {"-q", "-r", "-0", "-X", package, "."}), 0);
        QVERIFY(QDir(dir).removeRecursively());
        packages << package;
    }
    const QSet<QString> tempBefore = testsupport::tempEntries();
    const QMap<QString, QByteArray> before = treeSnapshot(g_base, m_out);

    // Several packages at a time: the read waits a second on its thread, and most of a package's
    // time is spent there.
    const int kParallel = 6;
    QVector<std::shared_ptr<Outcome>> outcomes;
    int next = 0;
    auto startNext = [&] {
        const int i = next++;
        auto o = std::make_shared<Outcome>();
        outcomes << o;
        auto a = std::make_shared<DataWrapper>();
        auto b = std::make_shared<DataWrapper>();
        auto c = std::make_shared<DataWrapper>();
        std::thread([a, b, c, package = packages.at(i), good = m_good,
                     out = m_out + "/" + variants.at(i).name, o] {
            exercise(a, b, c, package, good, out, o);
            o->done = true;
        }).detach();
    };
    auto running = [&] {
        int n = 0;
        for (const auto& o : outcomes) {
            n += o->done ? 0 : 1;
        }
        return n;
    };
    QElapsedTimer total;
    total.start();
    while (next < variants.size() || running() > 0) {
        while (next < variants.size() && running() < kParallel) {
            startNext();
        }
        QTest::qWait(20);
        // Every package gets a read and two tasks, each bounded; the whole set is bounded by that.
        QVERIFY2(total.elapsed() <
                     qint64(kReadTimeoutMs + 2 * kTaskTimeoutMs) * variants.size() / kParallel + 60000,
                 "hostile packages hang");
    }

    for (int i = 0; i < variants.size(); ++i) {
        const Variant& v = variants.at(i);
        const Outcome& o = *outcomes.at(i);
        const QString tag = v.cls + "/" + v.name;
        QVERIFY2(o.problems.isEmpty(), qPrintable(tag + ": " + o.problems.join("; ")));
        m_tried[v.cls] += 1;
        m_failedCleanly[v.cls] += (o.read != 0 || o.cut != 0 || o.merge != 0) ? 1 : 0;
        if (v.expectDurationMs >= 0) {
            QVERIFY2(qAbs(o.duration - v.expectDurationMs) <= 500,
                     qPrintable(tag + QStringLiteral(": duration %1").arg(o.duration)));
        }
        qInfo("%s: read %d, duration %lld, cut %d, merge %d", qPrintable(tag), o.read,
              static_cast<long long>(o.duration), o.cut, o.merge);
    }

    // Once the sessions are gone their workspaces are gone, and nothing else changed anywhere.
    QTRY_VERIFY2_WITH_TIMEOUT(testsupport::tempEntries() == tempBefore, "workspaces left behind", 20000);
    const QMap<QString, QByteArray> after = treeSnapshot(g_base, m_out);
    QStringList changed;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (before.value(it.key()) != it.value()) {
            changed << it.key();
        }
    }
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (!after.contains(it.key())) {
            changed << it.key();
        }
    }
    QVERIFY2(changed.isEmpty(), qPrintable("changed outside the workspaces: " + changed.join(", ")));
    const QStringList outputs = QDir(m_out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& name : outputs) {
        QVERIFY2(!name.startsWith('.'), qPrintable("left behind: " + name));
        QVERIFY(QFile::remove(m_out + "/" + name));
    }
}

void TestHostileSession::hostileVideos() {
    const QString canaryVideo = g_base + "/canary/secret.mp4";
    QList<Variant> variants;
    auto add = [&](const QString& cls, const QString& name, std::function<bool(const QString&)> f) {
        variants << Variant{cls, name, std::move(f)};
    };
    add("video-missing", "no-video", [](const QString& d) { return QFile::remove(d + "/c.mp4"); });
    add("video-missing", "video-is-folder",
        [](const QString& d) { return QFile::remove(d + "/c.mp4") && QDir().mkpath(d + "/c.mp4/x"); });
    add("video-empty", "empty-video", [](const QString& d) { return writeFile(d + "/c.mp4", {}); });
    for (int percent : {1, 10, 50, 90}) {
        add("video-truncated", QStringLiteral("truncated-%1").arg(percent), [percent](const QString& d) {
            QByteArray b = readAll(d + "/c.mp4");
            return !b.isEmpty() && writeFile(d + "/c.mp4", b.left(b.size() * percent / 100));
        });
    }
    add("video-not-video", "random-bytes", [](const QString& d) {
        QByteArray b(256 * 1024, Qt::Uninitialized);
        quint32 x = 12345;
        for (char& c : b) {
            x = x * 1664525u + 1013904223u;
            c = char(x >> 24);
        }
        return writeFile(d + "/c.mp4", b);
    });
    add("video-not-video", "json-as-video",
        [](const QString& d) { return writeFile(d + "/c.mp4", readAll(d + "/meta.json")); });
    add("video-not-video", "jpeg-as-video", [](const QString& d) {
        QDirIterator it(d + "/image", {"*.jpg"}, QDir::Files, QDirIterator::Subdirectories);
        return it.hasNext() && writeFile(d + "/c.mp4", readAll(it.next()));
    });
    // Text formats that name other files or addresses: the engine must never follow them.
    add("video-not-video", "ffconcat-to-outside", [canaryVideo](const QString& d) {
        return writeFile(d + "/c.mp4", "ffconcat version 1.0\nfile '" + canaryVideo.toUtf8() +
                                           "'\nfile '../canary/secret.mp4'\n");
    });
    add("video-not-video", "hls-to-outside", [canaryVideo](const QString& d) {
        return writeFile(d + "/c.mp4", "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:8.0,\nfile://" +
                                           canaryVideo.toUtf8() +
                                           "\n#EXTINF:8.0,\n../canary/secret.mp4\n#EXT-X-ENDLIST\n");
    });
    add("video-not-video", "hls-to-network", [](const QString& d) {
        return writeFile(d + "/c.mp4", "#EXTM3U\n#EXTINF:8.0,\nhttp://127.0.0.1:9/x.ts\n#EXT-X-ENDLIST\n");
    });
    // Headers that lie about sizes and counts.
    add("video-lying-header", "moov-size-huge", [](const QString& d) {
        return patchVideo(d, [](QByteArray& b) {
            const int at = boxSizeOffset(b, "moov");
            return at >= 0 ? (putBE32(b, at, 0x7ffffff0u), true) : false;
        });
    });
    add("video-lying-header", "mdat-largesize-huge", [](const QString& d) {
        return patchVideo(d, [](QByteArray& b) {
            const int at = boxSizeOffset(b, "mdat");
            if (at < 0) {
                return false;
            }
            // size 1 announces a 64-bit size in the next 8 bytes: 2^62.
            putBE32(b, at, 1);
            putBE32(b, at + 8, 0x40000000u);
            putBE32(b, at + 12, 0);
            return true;
        });
    });
    add("video-lying-header", "stsz-count-huge", [](const QString& d) {
        return patchVideo(d, [](QByteArray& b) {
            const int at = b.indexOf("stsz");
            return at >= 0 ? (putBE32(b, at + 12, 0x3fffffffu), true) : false;
        });
    });
    add("video-lying-header", "stco-offsets-outside", [](const QString& d) {
        return patchVideo(d, [](QByteArray& b) {
            const int at = b.indexOf("stco");
            if (at < 0) {
                return false;
            }
            putBE32(b, at + 8, 0x7fffffffu);   // entry count
            putBE32(b, at + 12, 0xfffffff0u);  // first chunk far past the end
            return true;
        });
    });
    add("video-lying-header", "timescale-zero-duration-huge", [](const QString& d) {
        return patchVideo(d, [](QByteArray& b) {
            const int at = b.indexOf("mvhd");
            const int tk = b.indexOf("mdhd");
            if (at < 0 || tk < 0) {
                return false;
            }
            putBE32(b, at + 16, 0);            // movie timescale
            putBE32(b, at + 20, 0xffffffffu);  // movie duration
            putBE32(b, tk + 16, 0);            // media timescale
            return true;
        });
    });
    add("video-lying-header", "mvhd-duration-huge", [](const QString& d) {
        return patchVideo(d, [](QByteArray& b) {
            const int at = b.indexOf("mvhd");
            return at >= 0 ? (putBE32(b, at + 20, 0x7fffffffu), true) : false;
        });
    });
    // The samples are all there: the length must come from them, not from the header's claim.
    variants.last().expectDurationMs = 8000;
    add("video-lying-header", "mdat-size-4g", [](const QString& d) {
        // The media data claims to run for 4 GB past the few hundred kB that are there.
        return patchVideo(d, [](QByteArray& b) {
            const int at = boxSizeOffset(b, "mdat");
            return at >= 0 ? (putBE32(b, at, 0xfffffff0u), true) : false;
        });
    });
    runVariants(variants);
}

void TestHostileSession::hostileMetaJson() {
    QList<Variant> variants;
    auto add = [&](const QString& cls, const QString& name, std::function<bool(const QString&)> f) {
        variants << Variant{cls, name, std::move(f)};
    };
    add("meta-broken", "no-meta", [](const QString& d) { return QFile::remove(d + "/meta.json"); });
    add("meta-broken", "empty-meta", [](const QString& d) { return writeFile(d + "/meta.json", {}); });
    add("meta-broken", "binary-meta",
        [](const QString& d) { return writeFile(d + "/meta.json", QByteArray("\x00\xff{\"datas\"", 10)); });
    add("meta-broken", "array-meta", [](const QString& d) { return writeFile(d + "/meta.json", "[1,2,3]"); });
    add("meta-broken", "meta-is-folder", [](const QString& d) {
        return QFile::remove(d + "/meta.json") && QDir().mkpath(d + "/meta.json/x");
    });
    add("meta-deep-nesting", "deep-arrays", [](const QString& d) {
        return writeFile(d + "/meta.json", QByteArray(200000, '[') + QByteArray(200000, ']'));
    });
    add("meta-deep-nesting", "deep-objects-in-meta", [](const QString& d) {
        QByteArray deep;
        for (int i = 0; i < 50000; ++i) {
            deep += "{\"a\":";
        }
        deep += "1" + QByteArray(50000, '}');
        QByteArray meta = readAll(d + "/meta.json");
        const int at = meta.indexOf("\"meta\":{");
        if (at < 0) {
            return false;
        }
        meta.insert(at + 8, "\"nested\":" + deep + ",\"draw\":" + deep + ",");
        return writeFile(d + "/meta.json", meta);
    });
    add("meta-giant-arrays", "chat-200k", [](const QString& d) {
        return patchMeta(d, [](QJsonObject& meta) {
            const QJsonObject one = meta.value("chatLog").toArray().first().toObject();
            QJsonArray many;
            for (int i = 0; i < 200000; ++i) {
                QJsonObject c = one;
                c.insert("time", i % 8);
                many.append(c);
            }
            meta.insert("chatLog", many);
        });
    });
    add("meta-giant-arrays", "numbers-2m-everywhere", [](const QString& d) {
        QByteArray numbers = "[";
        for (int i = 0; i < 2000000; ++i) {
            numbers += "7,";
        }
        numbers += "7]";
        QByteArray meta = readAll(d + "/meta.json");
        const int at = meta.indexOf("\"meta\":{");
        if (at < 0) {
            return false;
        }
        meta.insert(at + 8, "\"pageChange\":" + numbers + ",\"junk\":" + numbers + ",");
        return writeFile(d + "/meta.json", meta);
    });
    for (int mode = -1; mode < 6; ++mode) {
        add("meta-wrong-types", QStringLiteral("wrong-types-%1").arg(mode + 1), [mode](const QString& d) {
            QJsonObject root = QJsonDocument::fromJson(readAll(d + "/meta.json")).object();
            if (root.isEmpty()) {
                return false;
            }
            return writeFile(
                d + "/meta.json",
                QJsonDocument(wrongTypes(root, mode, 0).toObject()).toJson(QJsonDocument::Compact));
        });
    }
    add("meta-wrong-types", "times-out-of-range", [](const QString& d) {
        return patchMeta(d, [](QJsonObject& meta) {
            const double times[] = {1e300, -1, 4294967296.0, -2147483649.0, 2147483647.0};
            int n = 0;
            for (const char* list : {"draw", "pageChange", "chatLog", "question", "answer", "animation"}) {
                QJsonArray a = meta.value(list).toArray();
                for (int i = 0; i < a.size(); ++i) {
                    QJsonObject o = a[i].toObject();
                    o.insert("time", times[n++ % 5]);
                    a[i] = o;
                }
                meta.insert(list, a);
            }
        });
    });
    // Names from meta.json that try to point the image copy outside the edit directory.
    const QStringList docIds{"../../canary",      "../../../canary", g_base + "/canary",
                             "a/../../../canary", "..\\..\\canary",  ".."};
    const QStringList urls{"../../../canary/image/x.jpg", "/etc/passwd", "../secret.txt", "..", "."};
    for (int k = 0; k < docIds.size(); ++k) {
        add("meta-path-names", QStringLiteral("escape-%1").arg(k + 1),
            [docId = docIds.at(k), url = urls.at(k % urls.size())](const QString& d) {
                return patchMeta(d, [&](QJsonObject& meta) {
                    QJsonArray pages = meta.value("pageChange").toArray();
                    for (int i = 0; i < pages.size(); ++i) {
                        QJsonObject p = pages[i].toObject();
                        p.insert("docId", i % 2 ? docId : p.value("docId"));
                        p.insert("url", i % 2 ? p.value("url") : QJsonValue(url));
                        pages[i] = p;
                    }
                    meta.insert("pageChange", pages);
                    QJsonArray draws = meta.value("draw").toArray();
                    for (int i = 0; i < draws.size(); ++i) {
                        QJsonObject o = draws[i].toObject();
                        o.insert("docId", docId);
                        draws[i] = o;
                    }
                    meta.insert("draw", draws);
                });
            });
    }
    runVariants(variants);
}

int main(int argc, char** argv) {
    // A private temporary location for this process, fixed before the application object exists.
    QTemporaryDir base(QDir::tempPath() + "/tst_hostile_session-XXXXXX");
    if (!base.isValid()) {
        return 1;
    }
    g_base = QFileInfo(base.path()).canonicalFilePath();
    QDir().mkpath(g_base + "/tmp");
    qputenv("TMPDIR", QFile::encodeName(g_base + "/tmp"));
    QCoreApplication app(argc, argv);
    TestHostileSession test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostile_session.moc"
