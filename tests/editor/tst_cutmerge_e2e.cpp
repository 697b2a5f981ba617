// Cut and merge of real generated packages with the real media engine and archive layer, checked
// with independent tools (unzip, ffprobe) and a plain JSON read of the result.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

#include "DataWrapper.h"
#include "FrameOracle.h"
#include "TestSupport.h"
#include "supzip.h"

namespace {

QByteArray md5(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    QCryptographicHash h(QCryptographicHash::Md5);
    h.addData(&f);
    return h.result();
}

QStringList zipListing(const QString& package) {
    QByteArray out;
    if (testsupport::runProgram("unzip", {"-Z1", package}, &out) != 0) {
        return {};
    }
    QStringList names;
    for (const QString& n : QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts)) {
        if (!n.endsWith('/')) {
            names << n;
        }
    }
    return names;
}

// Reads a package into a new session and waits for the end of the read; empty on failure.
std::shared_ptr<DataWrapper> openSession(const QString& path, bool keepEncrypt) {
    auto w = std::make_shared<DataWrapper>();
    auto result = std::make_shared<std::atomic<int>>(1);
    if (w->readFile(
            path, [result](int code) { *result = code; }, keepEncrypt) != 0) {
        return nullptr;
    }
    QElapsedTimer t;
    t.start();
    while (*result == 1 && t.elapsed() < 120000) {
        QTest::qWait(20);
    }
    return *result == 0 ? w : nullptr;
}

QJsonObject readMeta(const QString& dir) {
    QFile f(dir + "/meta.json");
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QJsonDocument::fromJson(f.readAll()).object().value("datas").toObject().value("meta").toObject();
}

const char* const kLists[] = {"draw", "pageChange", "chatLog", "question", "answer", "animation"};

// Page images that the page changes of a meta object refer to.
QSet<QString> referencedImages(const QJsonObject& meta) {
    QSet<QString> out;
    for (const QJsonValue& v : meta.value("pageChange").toArray()) {
        const QJsonObject p = v.toObject();
        out << "image/" + p.value("docId").toString() + "/" + p.value("url").toString().section('/', -1);
    }
    return out;
}

qint64 roundSecond(qint64 ms) {
    qint64 q = ms / 1000;
    if (ms % 1000 > 500) {
        ++q;
    }
    return q * 1000;
}

// Identity of an event across the cut (its time changes): chat text and speaker, a page change's
// server time, a drawing's id.
QString eventKey(const QString& list, const QJsonObject& o) {
    if (list == "chatLog") {
        return o.value("content").toString() + "|" + o.value("userId").toString();
    }
    if (list == "pageChange") {
        return QString::number(o.value("serverTime").toDouble(), 'f', 0);
    }
    return QJsonDocument::fromJson(o.value("data").toString().toUtf8()).object().value("drawid").toString();
}

using Segments = QVector<QPair<qint64, qint64>>;

}  // namespace

class TestCutMergeE2E : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cutToTwoSegments();
    void cutKeepsEventsWithTheirPictures_data();
    void cutKeepsEventsWithTheirPictures();
    void mergeThreeKeepsEncryption();
    void mergeOfPlainPackagesIsPlain();
    void sessionDroppedDuringReadCleansUp();

private:
    QTemporaryDir m_dir;
};

void TestCutMergeE2E::initTestCase() {
    QVERIFY(m_dir.isValid());
    QVERIFY2(QFileInfo::exists(testsupport::sampleTool()), "the sample generator is not built");
}

void TestCutMergeE2E::cutToTwoSegments() {
    const QString src = m_dir.path() + "/source.vrk";
    QVERIFY(testsupport::makeSample(src, {"--duration", "30", "--size", "320x180", "--gop", "25"}));
    const QByteArray srcSum = md5(src);
    const QStringList srcListing = zipListing(src);
    QVERIFY(!srcListing.isEmpty());
    QTemporaryDir srcDir;
    QCOMPARE(testsupport::runProgram("unzip", {"-q", src, "-d", srcDir.path()}), 0);
    const QJsonObject srcMeta = readMeta(srcDir.path());
    QVERIFY(!srcMeta.value("chatLog").toArray().isEmpty());

    auto w = openSession(src, false);
    QVERIFY(w);
    w->initMediaCore(0);
    const qint64 duration = w->getDuration();
    QVERIFY2(qAbs(duration - 30000) < 200, qPrintable(QString::number(duration)));
    auto first = std::make_shared<_Segment>();
    first->begin_time = 2000;
    first->end_time = 9000;
    first->id = "b";
    auto second = std::make_shared<_Segment>();
    second->begin_time = 15000;
    second->end_time = 25000;
    second->id = "a";
    QVERIFY(w->tryAddSegment(first));
    QVERIFY(w->tryAddSegment(second));
    const auto root = w->getRootItem();
    const QString workspace = root->tmp_path;
    const QString editDir = root->tmp_edit_path;

    const QString out = m_dir.path() + "/cut.vrk";
    QCOMPARE(int(w->save(out)), 0);

    // Both pieces were measured, close to what was asked.
    QVERIFY(first->actual_duration >= 7000 - 100 && first->actual_duration < 7000 + 3000);
    QVERIFY(second->actual_duration >= 10000 - 100 && second->actual_duration < 10000 + 3000);
    const qint64 piecesSum = first->actual_duration + second->actual_duration;

    // The package: joined video, meta.json, and only the page images still referenced.
    const QStringList listing = zipListing(out);
    QVERIFY(listing.contains("c.mp4"));
    QVERIFY(listing.contains("meta.json"));
    QVERIFY(!listing.contains("c_0.mp4"));
    QTemporaryDir outDir;
    QCOMPARE(testsupport::runProgram("unzip", {"-q", out, "-d", outDir.path()}), 0);
    const qint64 probed = testsupport::ffprobeDurationMs(outDir.path() + "/c.mp4");
    QVERIFY2(qAbs(probed - piecesSum) <= 200,
             qPrintable(QStringLiteral("probe %1 pieces %2").arg(probed).arg(piecesSum)));

    const QJsonObject meta = readMeta(outDir.path());
    QVERIFY(!meta.isEmpty());
    for (const char* name : kLists) {
        qint64 last = -1;
        for (const QJsonValue& v : meta.value(name).toArray()) {
            const qint64 ms = qint64(v.toObject().value("time").toInt()) * 1000;
            QVERIFY2(ms <= probed, name);
            QVERIFY2(ms >= last, name);
            last = ms;
        }
    }
    QVERIFY(!meta.value("pageChange").toArray().isEmpty());

    // Every chat line said inside a kept stretch is there, at its place in the new timeline.
    const qint64 firstLen = qAbs(first->actual_duration - 7000) < 3000 ? first->actual_duration : 7000;
    QMultiMap<QString, qint64> outChats;
    for (const QJsonValue& v : meta.value("chatLog").toArray()) {
        outChats.insert(v.toObject().value("content").toString(),
                        qint64(v.toObject().value("time").toInt()) * 1000);
    }
    int inside = 0;
    for (const QJsonValue& v : srcMeta.value("chatLog").toArray()) {
        const qint64 t = qint64(v.toObject().value("time").toInt()) * 1000;
        qint64 expected = -1;
        if (t >= 2000 && t < 9000) {
            expected = roundSecond(t - 2000);
        } else if (t >= 15000 && t < 25000) {
            expected = roundSecond(firstLen + t - 15000);
        } else {
            continue;
        }
        ++inside;
        const QString content = v.toObject().value("content").toString();
        QVERIFY2(outChats.values(content).contains(expected),
                 qPrintable(QStringLiteral("%1 at %2 -> %3").arg(content).arg(t).arg(expected)));
    }
    QVERIFY(inside > 0);

    const QSet<QString> referenced = referencedImages(meta);
    QVERIFY(!referenced.isEmpty());
    for (const QString& image : referenced) {
        QVERIFY2(listing.contains(image), qPrintable(image));
    }
    for (const QString& name : listing) {
        if (name.startsWith("image/")) {
            QVERIFY2(referenced.contains(name), qPrintable(name));
        }
    }
    QVERIFY(srcListing.size() > listing.size());

    // The source package is untouched; the session's folders go with it.
    QCOMPARE(md5(src), srcSum);
    w.reset();
    QVERIFY(!QFileInfo::exists(workspace));
    QVERIFY(!QFileInfo::exists(editDir));
}

// A cut through the session for several key-frame intervals: the new video shows exactly the
// source pictures of the segments (cut oracle), and every chat line, page change and drawing said
// inside a segment is replayed when the new video shows its own picture, to within the whole-second
// rounding of meta.json.
void TestCutMergeE2E::cutKeepsEventsWithTheirPictures_data() {
    QTest::addColumn<int>("gop");
    QTest::addColumn<bool>("audio");
    QTest::addColumn<Segments>("segs");
    const Segments three{{1520, 5040}, {9960, 14000}, {20040, 26520}};
    QTest::newRow("key frames every 1 s") << 25 << true << three;
    QTest::newRow("key frames every 4 s") << 100 << true << three;
    QTest::newRow("key frames every 10 s, no audio") << 250 << false << three;
    Segments twenty;
    for (int i = 0; i < 20; ++i) {
        twenty.push_back({i * 1400 + 120, i * 1400 + 800});
    }
    QTest::newRow("20 segments") << 50 << true << twenty;
}

void TestCutMergeE2E::cutKeepsEventsWithTheirPictures() {
    QFETCH(int, gop);
    QFETCH(bool, audio);
    QFETCH(Segments, segs);
    const QString src = m_dir.path() + QStringLiteral("/events_%1_%2.vrk").arg(gop).arg(int(audio));
    QStringList args{"--duration", "30", "--size", "160x120", "--gop", QString::number(gop)};
    if (!audio) {
        args << "--no-audio";
    }
    QVERIFY(QFileInfo::exists(src) || testsupport::makeSample(src, args));
    QTemporaryDir srcDir;
    QCOMPARE(testsupport::runProgram("unzip", {"-q", src, "-d", srcDir.path()}), 0);
    const QJsonObject srcMeta = readMeta(srcDir.path());

    auto w = openSession(src, false);
    QVERIFY(w);
    w->initMediaCore(0);
    QVector<std::shared_ptr<_Segment>> held;
    for (int i = 0; i < segs.size(); ++i) {
        auto seg = std::make_shared<_Segment>();
        held << seg;
        seg->begin_time = segs[i].first;
        seg->end_time = segs[i].second;
        seg->id = QStringLiteral("s%1").arg(i, 2, 10, QLatin1Char('0'));
        QVERIFY(w->tryAddSegment(seg));
    }
    const QString out = m_dir.path() + "/events_cut.vrk";
    QFile::remove(out);
    QCOMPARE(int(w->save(out)), 0);
    QTemporaryDir outDir;
    QCOMPARE(testsupport::runProgram("unzip", {"-q", out, "-d", outDir.path()}), 0);
    // Each piece measured as long as its segment (within one picture), so the lengths add up to the
    // new video's.
    qint64 measured = 0;
    for (const auto& seg : held) {
        QVERIFY2(qAbs(seg->actual_duration - (seg->end_time - seg->begin_time)) <= 40,
                 qPrintable(QString::number(seg->actual_duration)));
        measured += seg->actual_duration;
    }
    QVERIFY(qAbs(testsupport::ffprobeDurationMs(outDir.path() + "/c.mp4") - measured) <= 40);

    const QVector<QByteArray> srcPics = frameoracle::pictures(srcDir.path() + "/c.mp4");
    const QVector<int> shown = frameoracle::match(frameoracle::pictures(outDir.path() + "/c.mp4"), srcPics);
    QCOMPARE(shown, frameoracle::expected(segs, 25, srcPics.size()));

    const QJsonObject meta = readMeta(outDir.path());
    int checked = 0;
    for (const QString list : {"chatLog", "pageChange", "draw"}) {
        QMultiHash<QString, qint64> srcTimes;
        for (const QJsonValue& v : srcMeta.value(list).toArray()) {
            srcTimes.insert(eventKey(list, v.toObject()), qint64(v.toObject().value("time").toInt()) * 1000);
        }
        for (const QJsonValue& v : meta.value(list).toArray()) {
            const QList<qint64> at = srcTimes.values(eventKey(list, v.toObject()));
            if (at.size() != 1) {
                continue;  // not one event of the source: no single moment to compare with
            }
            const qint64 t = at.first();
            bool inside = false;
            for (const auto& s : segs) {
                inside = inside || (t >= s.first && t < s.second);
            }
            if (!inside) {
                continue;  // carried over from a gap to the start of the next segment
            }
            // Where the new video shows the event's own picture, against when the event is replayed.
            const qint64 newMs = qint64(v.toObject().value("time").toInt()) * 1000;
            const int own = shown.indexOf(int(t * 25 / 1000));
            QVERIFY2(own >= 0, qPrintable(QStringLiteral("picture of %1 ms missing").arg(t)));
            QVERIFY2(
                qAbs(qint64(own) * 40 - newMs) <= 540,
                qPrintable(QStringLiteral("%1 event of %2 ms replayed at %3 ms, its picture shown at %4 ms")
                               .arg(list)
                               .arg(t)
                               .arg(newMs)
                               .arg(qint64(own) * 40)));
            ++checked;
        }
    }
    QVERIFY(checked >= segs.size() / 2);
}

void TestCutMergeE2E::mergeThreeKeepsEncryption() {
    QStringList inputs;
    for (int i = 0; i < 3; ++i) {
        const QString p = m_dir.path() + QStringLiteral("/m%1.vrk").arg(i);
        QStringList args{"--duration", "10", "--size", "320x180", "--seed", QString::number(i + 3)};
        if (i == 1) {
            args << "--encrypt";
        }
        QVERIFY(testsupport::makeSample(p, args));
        inputs << p;
    }
    QVERIFY(IsEncryptSource(inputs[1].toLocal8Bit().constData()) != 0);
    QVERIFY(IsEncryptSource(inputs[0].toLocal8Bit().constData()) == 0);
    QList<QByteArray> sums;
    for (const QString& p : inputs) {
        sums << md5(p);
    }

    QList<std::shared_ptr<DataWrapper>> sessions;
    QList<qint64> durations;
    QList<QList<qint64>> chatTimes;
    for (const QString& p : inputs) {
        auto w = openSession(p, true);
        QVERIFY(w);
        w->initMediaCore(0);
        durations << w->getDuration();
        QVERIFY(durations.last() > 9000);
        QList<qint64> times;
        for (const auto& c : w->getRootItem()->datas->meta_item->chatLog) {
            times << c->time;
        }
        QVERIFY(!times.isEmpty());
        chatTimes << times;
        sessions << w;
    }

    auto firstSession = sessions.takeFirst();
    const QString out = m_dir.path() + "/merged.vrk";
    QCOMPARE(int(firstSession->merge(sessions, 0, 0, out)), 0);
    QVERIFY(IsEncryptSource(out.toLocal8Bit().constData()) != 0);
    for (int i = 0; i < inputs.size(); ++i) {
        QCOMPARE(md5(inputs[i]), sums[i]);
    }

    QTemporaryDir outDir;
    QCOMPARE(DecompressZipDec(out.toUtf8().constData(), (outDir.path() + "/").toUtf8().constData()), 0);
    const qint64 probed = testsupport::ffprobeDurationMs(outDir.path() + "/c.mp4");
    const qint64 total = durations[0] + durations[1] + durations[2];
    QVERIFY2(qAbs(probed - total) <= 300,
             qPrintable(QStringLiteral("probe %1 sum %2").arg(probed).arg(total)));

    // Chat lines in play order, each input's shifted by the length of what plays before it.
    const QJsonObject meta = readMeta(outDir.path());
    const QJsonArray chats = meta.value("chatLog").toArray();
    QCOMPARE(chats.size(), chatTimes[0].size() + chatTimes[1].size() + chatTimes[2].size());
    int index = 0;
    qint64 offset = 0;
    for (int k = 0; k < 3; ++k) {
        for (qint64 t : chatTimes[k]) {
            const qint64 got = qint64(chats.at(index++).toObject().value("time").toInt()) * 1000;
            QVERIFY2(
                qAbs(got - (t + offset)) <= 1000,
                qPrintable(QStringLiteral("input %1: %2 + %3 -> %4").arg(k).arg(t).arg(offset).arg(got)));
        }
        offset += durations[k];
    }

    // The page images of every input.
    const QSet<QString> referenced = referencedImages(meta);
    QVERIFY(!referenced.isEmpty());
    for (const QString& image : referenced) {
        QVERIFY2(QFileInfo::exists(outDir.path() + "/" + image), qPrintable(image));
    }
}

void TestCutMergeE2E::mergeOfPlainPackagesIsPlain() {
    QStringList inputs;
    for (int i = 0; i < 2; ++i) {
        const QString p = m_dir.path() + QStringLiteral("/p%1.vrk").arg(i);
        QVERIFY(testsupport::makeSample(p, {"--duration", "8", "--size", "320x180", "--no-audio"}));
        inputs << p;
    }
    auto a = openSession(inputs[0], true);
    auto b = openSession(inputs[1], true);
    QVERIFY(a && b);
    a->initMediaCore(0);
    b->initMediaCore(0);
    const qint64 total = a->getDuration() + b->getDuration();
    const QString out = m_dir.path() + "/plain-merged.vrk";
    QCOMPARE(int(a->merge({b}, 0, 0, out)), 0);
    QVERIFY(IsEncryptSource(out.toLocal8Bit().constData()) == 0);
    QCOMPARE(testsupport::runProgram("unzip", {"-tq", out}), 0);
    QTemporaryDir outDir;
    QCOMPARE(testsupport::runProgram("unzip", {"-q", out, "-d", outDir.path()}), 0);
    QVERIFY(qAbs(testsupport::ffprobeDurationMs(outDir.path() + "/c.mp4") - total) <= 300);
}

void TestCutMergeE2E::sessionDroppedDuringReadCleansUp() {
    const QString src = m_dir.path() + "/dropped.vrk";
    QVERIFY(testsupport::makeSample(src, {"--duration", "5", "--size", "320x180"}));
    struct Report {
        std::atomic<int> code{1};
        QString workspace;
        QString editDir;
    };
    auto report = std::make_shared<Report>();
    {
        auto w = std::make_shared<DataWrapper>();
        std::weak_ptr<DataWrapper> weak = w;
        QCOMPARE(int(w->readFile(src,
                                 [report, weak](int code) {
                                     if (auto s = weak.lock()) {
                                         if (auto root = s->getRootItem()) {
                                             report->workspace = root->tmp_path;
                                             report->editDir = root->tmp_edit_path;
                                         }
                                     }
                                     report->code = code;
                                 })),
                 0);
        // The window goes away while the read runs.
    }
    QTRY_VERIFY_WITH_TIMEOUT(report->code != 1, 60000);
    QCOMPARE(report->code.load(), 0);
    QVERIFY(!report->workspace.isEmpty());
    // The last holder was the read worker: the session ends there and removes its folders.
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(report->workspace) && !QFileInfo::exists(report->editDir),
                             10000);

    // A package that cannot be read reports -2 and leaves the session able to read again.
    auto w = std::make_shared<DataWrapper>();
    auto code = std::make_shared<std::atomic<int>>(1);
    QCOMPARE(int(w->readFile(m_dir.path() + "/missing.vrk", [code](int c) { *code = c; })), 0);
    QTRY_VERIFY_WITH_TIMEOUT(*code != 1, 30000);
    QCOMPARE(code->load(), -2);
    QVERIFY(!w->getRootItem());
    *code = 1;
    QCOMPARE(int(w->readFile(src, [code](int c) { *code = c; })), 0);
    QTRY_VERIFY_WITH_TIMEOUT(*code != 1, 60000);
    QCOMPARE(code->load(), 0);
    QVERIFY(w->getRootItem());
}

QTEST_GUILESS_MAIN(TestCutMergeE2E)
#include "tst_cutmerge_e2e.moc"
