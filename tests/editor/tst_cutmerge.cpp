// The cut and merge pipelines against a scripted engine: what is asked of the engine, in which order,
// what is written, and what a failure leaves behind.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

#include "DataWrapper.h"
#include "EventTreeBuilders.h"
#include "ScriptedMediaCore.h"
#include "TestSupport.h"

namespace {

std::shared_ptr<_Segment> seg(qint64 begin, qint64 end, const QString& id) {
    auto s = std::make_shared<_Segment>();
    s->begin_time = begin;
    s->end_time = end;
    s->id = id;
    return s;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

std::string native(const QString& path) {
    return QDir::toNativeSeparators(path).toLocal8Bit().toStdString();
}

// A session over an in-memory tree whose workspace and edit directory live under `base`.
struct Session {
    std::shared_ptr<DataWrapper> w;
    std::shared_ptr<ScriptedMediaCore> engine;
    std::shared_ptr<_RootItem> root;
    QString dst;  // edit directory as the engine sees it
};

Session makeSession(const QString& base, const QString& name, const QString& doc) {
    Session s;
    s.w = std::make_shared<DataWrapper>();
    s.root = trees::emptyRoot();
    s.root->tmp_path = base + "/" + name + "/";
    s.root->tmp_edit_path = base + "/" + name + "_edit_0/";
    s.root->video_path = s.root->tmp_path + "c.mp4";
    s.root->meta_path = s.root->tmp_path + "meta.json";
    QDir().mkpath(s.root->tmp_edit_path);
    writeFile(s.root->video_path, "video");
    writeFile(s.root->tmp_path + "image/" + doc + "/1.jpg", "page one of " + doc.toUtf8());
    writeFile(s.root->tmp_path + "image/" + doc + "/2.jpg", "page two of " + doc.toUtf8());
    s.root->datas->room_item->templateType = 2;
    s.w->setRootItem(s.root);
    s.engine = std::make_shared<ScriptedMediaCore>(s.w.get());
    s.w->setMediaCore(s.engine);
    s.dst = QString::fromStdString(native(s.root->tmp_edit_path));
    return s;
}

QStringList zipListing(const QString& package) {
    QByteArray out;
    if (testsupport::runProgram("unzip", {"-Z1", package}, &out) != 0) {
        return {};
    }
    QStringList names;
    for (const QString& n : QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts)) {
        if (!n.endsWith('/')) {
            names << n;  // folder entries are the packer's business
        }
    }
    names.sort();
    return names;
}

}  // namespace

class TestCutMerge : public QObject {
    Q_OBJECT
private slots:
    void cutAsksEngineInTimeOrderAndWritesPackage();
    void cutEngineFailures();
    void cutTranscodeFlags();
    void cutWriteFailuresAreReported();
    void noTree();
    void mergeShiftsAndGathers();
    void mergeEngineFailureWritesNothing();
    void destructorRemovesDirsWithoutChangingCurrentDir();
    void readFileRefusedWithTree();
};

void TestCutMerge::cutAsksEngineInTimeOrderAndWritesPackage() {
    QTemporaryDir base;
    QVERIFY(base.isValid());
    Session s = makeSession(base.path(), "lesson", "A");
    auto& meta = *s.root->datas->meta_item;
    meta.pageChange = {trees::page(0, "A", 1), trees::page(70000, "A", 2)};
    meta.chatLog = {trees::chat(10000), trees::chat(45000), trees::chat(70000), trees::chat(130000)};
    // Key order differs from time order.
    QVERIFY(s.w->addSegment(seg(60000, 120000, "1-late")));
    QVERIFY(s.w->addSegment(seg(0, 30000, "2-early")));
    s.engine->durations[native(s.root->tmp_edit_path + "c_0.mp4")] = 31200;
    s.engine->durations[native(s.root->tmp_edit_path + "c_1.mp4")] = 60000;

    QList<float> progress;
    s.w->setProgressCallback([&progress](float v) { progress << v; });

    const QString out = base.path() + "/out/cut.vrk";
    QDir().mkpath(base.path() + "/out");
    QCOMPARE(int(s.w->save(out)), 0);
    // Progress: once per piece, once for the join, 1 only when the package is written.
    QCOMPARE(progress.size(), 4);
    QVERIFY(std::is_sorted(progress.begin(), progress.end()));
    QVERIFY(progress.at(2) < 1.0f);
    QCOMPARE(progress.last(), 1.0f);

    QCOMPARE(s.engine->outputDir, s.dst.toStdString());
    QCOMPARE(s.engine->crops.size(), size_t(2));
    QCOMPARE(s.engine->crops[0].outputName, std::string("c_0.mp4"));
    QCOMPARE(s.engine->crops[0].ranges.size(), size_t(1));
    QCOMPARE(s.engine->crops[0].ranges[0].begin, 0LL);
    QCOMPARE(s.engine->crops[0].ranges[0].end, 30000LL);
    QCOMPARE(s.engine->crops[0].ranges[0].name, std::string("segment_c.mp4"));
    QCOMPARE(s.engine->crops[1].outputName, std::string("c_1.mp4"));
    QCOMPARE(s.engine->crops[1].ranges[0].begin, 60000LL);
    QCOMPARE(s.engine->crops[1].ranges[0].end, 120000LL);
    QCOMPARE(s.engine->crops[0].source, native(s.root->video_path));
    QVERIFY(!s.engine->crops[0].transcode);
    QVERIFY(s.engine->transcoded.empty());

    QCOMPARE(s.engine->merges.size(), size_t(1));
    const auto& join = s.engine->merges[0];
    QCOMPARE(join.inputs,
             (std::vector<std::string>{s.dst.toStdString() + "c_0.mp4", s.dst.toStdString() + "c_1.mp4"}));
    QCOMPARE(join.outputName, std::string("c.mp4"));
    QCOMPARE(join.width, 0);
    QCOMPARE(join.height, 0);
    QVERIFY(!join.transcode);

    // Measured lengths are kept on the segments and feed the new timeline.
    QCOMPARE(s.w->getSegments().value("2-early")->actual_duration, 31200LL);
    QCOMPARE(s.w->getSegments().value("1-late")->actual_duration, 60000LL);
    QCOMPARE(trees::times(meta.chatLog), (QList<qint32>{10000, 31000, 41000}));
    QCOMPARE(trees::times(meta.pageChange), (QList<qint32>{0, 41000}));

    // Pieces are gone, the joined video and meta.json stay in the edit directory.
    QVERIFY(!QFile::exists(s.root->tmp_edit_path + "c_0.mp4"));
    QVERIFY(!QFile::exists(s.root->tmp_edit_path + "c_1.mp4"));
    QVERIFY(QFile::exists(s.root->tmp_edit_path + "c.mp4"));
    QVERIFY(QFile::exists(s.root->tmp_edit_path + "meta.json"));

    // The package holds the joined video, meta.json and the images of the kept page changes.
    QCOMPARE(zipListing(out), (QStringList{"c.mp4", "image/A/1.jpg", "image/A/2.jpg", "meta.json"}));
    QByteArray metaJson;
    QCOMPARE(testsupport::runProgram("unzip", {"-p", out, "meta.json"}, &metaJson), 0);
    QVERIFY2(metaJson.contains("chat at 70000"), metaJson.constData());
    QVERIFY(!metaJson.contains("chat at 130000"));
}

void TestCutMerge::cutEngineFailures() {
    {
        // A failed piece: returned at once, no further piece, no join, nothing written.
        QTemporaryDir base;
        Session s = makeSession(base.path(), "lesson", "A");
        s.root->datas->meta_item->chatLog = {trees::chat(45000)};
        s.w->addSegment(seg(0, 10000, "a"));
        s.w->addSegment(seg(20000, 30000, "b"));
        s.w->addSegment(seg(40000, 50000, "c"));
        s.engine->cropCodes = {2, 3};
        QList<float> progress;
        s.w->setProgressCallback([&progress](float v) { progress << v; });
        const QString out = base.path() + "/cut.vrk";
        QCOMPARE(int(s.w->save(out)), 3);
        QCOMPARE(progress.size(), 1);
        QVERIFY(progress.first() < 1.0f);
        QCOMPARE(s.engine->crops.size(), size_t(2));
        QVERIFY(s.engine->merges.empty());
        QVERIFY(!QFile::exists(s.root->tmp_edit_path + "meta.json"));
        QVERIFY(!QFile::exists(out));
        QCOMPARE(trees::times(s.root->datas->meta_item->chatLog), (QList<qint32>{45000}));
    }
    {
        // A failed join: returned; no transcoding, pieces stay, nothing written, tree untouched.
        QTemporaryDir base;
        Session s = makeSession(base.path(), "lesson", "A");
        s.root->datas->meta_item->chatLog = {trees::chat(45000)};
        s.w->addSegment(seg(0, 10000, "a"));
        s.engine->mergeCode = 5;
        s.engine->needTranscodeJoinedAnswer = true;
        const QString out = base.path() + "/cut.vrk";
        QCOMPARE(int(s.w->save(out)), 5);
        QCOMPARE(s.engine->crops.size(), size_t(1));
        QCOMPARE(s.engine->merges.size(), size_t(1));
        QVERIFY(s.engine->transcoded.empty());
        QVERIFY(QFile::exists(s.root->tmp_edit_path + "c_0.mp4"));
        QVERIFY(!QFile::exists(s.root->tmp_edit_path + "meta.json"));
        QVERIFY(!QFile::exists(out));
        QCOMPARE(trees::times(s.root->datas->meta_item->chatLog), (QList<qint32>{45000}));
    }
    {
        // A piece whose measured length is 0 keeps its unmeasured length.
        QTemporaryDir base;
        Session s = makeSession(base.path(), "lesson", "A");
        auto a = seg(0, 10000, "a");
        s.w->addSegment(a);
        QCOMPARE(int(s.w->save(base.path() + "/cut.vrk")), 0);
        QCOMPARE(a->actual_duration, -1000LL);
    }
}

void TestCutMerge::cutTranscodeFlags() {
    QTemporaryDir base;
    Session s = makeSession(base.path(), "lesson", "A");
    s.w->addSegment(seg(0, 10000, "a"));
    s.w->addSegment(seg(20000, 30000, "b"));
    s.w->setTranscode(true);
    s.engine->needTranscodeJoinedAnswer = true;
    QCOMPARE(int(s.w->save(base.path() + "/cut.vrk")), 0);
    // The source is transcoded first although the engine did not ask for it, then the joined file.
    QCOMPARE(s.engine->transcoded,
             (std::vector<std::string>{native(s.root->video_path), s.dst.toStdString() + "c.mp4"}));
    QCOMPARE(s.engine->crops.size(), size_t(2));
    QVERIFY(s.engine->crops[0].transcode);
    QVERIFY(s.engine->crops[1].transcode);
    QVERIFY(!s.engine->merges.at(0).transcode);

    QTemporaryDir base2;
    Session s2 = makeSession(base2.path(), "lesson", "A");
    s2.w->addSegment(seg(0, 10000, "a"));
    s2.engine->needTranscodeAnswer = true;
    QCOMPARE(int(s2.w->save(base2.path() + "/cut.vrk")), 0);
    QCOMPARE(s2.engine->transcoded, (std::vector<std::string>{native(s2.root->video_path)}));
    QVERIFY(!s2.engine->crops[0].transcode);
}

void TestCutMerge::cutWriteFailuresAreReported() {
    {
        // meta.json cannot be written (a directory stands in its place).
        QTemporaryDir base;
        Session s = makeSession(base.path(), "lesson", "A");
        s.w->addSegment(seg(0, 10000, "a"));
        QVERIFY(QDir().mkpath(s.root->tmp_edit_path + "meta.json"));
        const QString out = base.path() + "/cut.vrk";
        QCOMPARE(int(s.w->save(out)), -3);
        QVERIFY(!QFile::exists(out));
    }
    {
        // Packing fails: the output's folder is a plain file.
        QTemporaryDir base;
        Session s = makeSession(base.path(), "lesson", "A");
        s.w->addSegment(seg(0, 10000, "a"));
        writeFile(base.path() + "/blocker", "not a folder");
        const QString out = base.path() + "/blocker/cut.vrk";
        QCOMPARE(int(s.w->save(out)), -4);
        QVERIFY(!QFile::exists(out));
        QCOMPARE(QDir(base.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 (QStringList{"blocker", "lesson", "lesson_edit_0"}));
    }
}

void TestCutMerge::noTree() {
    auto w = std::make_shared<DataWrapper>();
    auto engine = std::make_shared<ScriptedMediaCore>(w.get());
    w->setMediaCore(engine);
    QTemporaryDir base;
    QCOMPARE(int(w->save(base.path() + "/x.vrk")), -1);
    QCOMPARE(int(w->merge({}, 0, 0, base.path() + "/y.vrk")), -1);
    QVERIFY(engine->crops.empty());
    QVERIFY(engine->merges.empty());
    QVERIFY(QDir(base.path()).isEmpty());
}

void TestCutMerge::mergeShiftsAndGathers() {
    QTemporaryDir base;
    Session first = makeSession(base.path(), "one", "A");
    Session second = makeSession(base.path(), "two", "B");
    Session third = makeSession(base.path(), "three", "C");
    first.engine->durations[""] = 600000;
    second.engine->durations[""] = 300000;
    third.engine->durations[""] = 100000;
    first.root->datas->meta_item->pageChange = {trees::page(0, "A", 1)};
    first.root->datas->meta_item->chatLog = {trees::chat(30000)};
    second.root->datas->meta_item->pageChange = {trees::page(0, "B", 2)};
    second.root->datas->meta_item->chatLog = {trees::chat(10000)};
    second.root->datas->meta_item->draw = {trees::draw(0, "B", 2, 8), trees::draw(1000, "B", 2)};
    third.root->datas->meta_item->chatLog = {trees::chat(5000)};
    third.root->datas->meta_item->question = {trees::question(7000)};
    const QString secondEdit = second.root->tmp_edit_path;

    const QString out = base.path() + "/merged.vrk";
    QCOMPARE(int(first.w->merge({second.w, third.w}, 640, 360, out)), 0);

    const auto& meta = *first.root->datas->meta_item;
    QCOMPARE(trees::times(meta.pageChange), (QList<qint32>{0, 600000}));
    QCOMPARE(trees::times(meta.chatLog), (QList<qint32>{30000, 610000, 905000}));
    QCOMPARE(trees::times(meta.draw), (QList<qint32>{600000, 601000}));
    QCOMPARE(trees::times(meta.question), (QList<qint32>{907000}));
    // Records are shared with the inputs' trees.
    QVERIFY(meta.chatLog.at(1) == second.root->datas->meta_item->chatLog.at(0));

    QCOMPARE(first.engine->merges.size(), size_t(1));
    const auto& join = first.engine->merges[0];
    QCOMPARE(join.inputs,
             (std::vector<std::string>{native(first.root->video_path), native(second.root->video_path),
                                       native(third.root->video_path)}));
    QCOMPARE(join.outputName, std::string("c.mp4"));
    QCOMPARE(join.width, 640);
    QCOMPARE(join.height, 360);
    QCOMPARE(first.engine->outputDir, first.dst.toStdString());

    // Images of every input that a page change references; the inputs keep their own edit folders.
    QCOMPARE(zipListing(out), (QStringList{"c.mp4", "image/A/1.jpg", "image/B/2.jpg", "meta.json"}));
    QCOMPARE(second.root->tmp_edit_path, secondEdit);

    // Dropping an input afterwards removes its own folders, not the first one's edit folder.
    second.w.reset();
    QVERIFY(!QFileInfo::exists(secondEdit));
    QVERIFY(QFileInfo::exists(first.root->tmp_edit_path + "meta.json"));

    // No other inputs: one input joined, lists unchanged, package written.
    QTemporaryDir base2;
    Session alone = makeSession(base2.path(), "alone", "A");
    alone.engine->durations[""] = 1000;
    alone.root->datas->meta_item->chatLog = {trees::chat(500)};
    QCOMPARE(int(alone.w->merge({}, 0, 0, base2.path() + "/alone.vrk")), 0);
    QCOMPARE(alone.engine->merges.at(0).inputs.size(), size_t(1));
    QCOMPARE(alone.engine->merges.at(0).width, 0);
    QCOMPARE(trees::times(alone.root->datas->meta_item->chatLog), (QList<qint32>{500}));
    QVERIFY(QFile::exists(base2.path() + "/alone.vrk"));
}

void TestCutMerge::mergeEngineFailureWritesNothing() {
    QTemporaryDir base;
    Session first = makeSession(base.path(), "one", "A");
    Session second = makeSession(base.path(), "two", "B");
    first.engine->durations[""] = 1000;
    first.engine->mergeCode = 5;
    const QString out = base.path() + "/merged.vrk";
    QCOMPARE(int(first.w->merge({second.w}, 0, 0, out)), 5);
    QVERIFY(!QFile::exists(out));
    QVERIFY(!QFile::exists(first.root->tmp_edit_path + "meta.json"));

    // Packing below a plain file: reported, nothing left.
    QTemporaryDir base2;
    Session lone = makeSession(base2.path(), "lone", "A");
    lone.engine->durations[""] = 1000;
    writeFile(base2.path() + "/blocker", "not a folder");
    QCOMPARE(int(lone.w->merge({}, 0, 0, base2.path() + "/blocker/m.vrk")), -2);
    QCOMPARE(QDir(base2.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             (QStringList{"blocker", "lone", "lone_edit_0"}));
}

void TestCutMerge::destructorRemovesDirsWithoutChangingCurrentDir() {
    QTemporaryDir base;
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(base.path()));
    {
        Session s = makeSession(base.path(), "ws", "A");
        writeFile(s.root->tmp_edit_path + "image/A/1.jpg", "x");
        QVERIFY(QFileInfo::exists(s.root->tmp_path));
        s.engine.reset();
        s.w.reset();
        QVERIFY(!QFileInfo::exists(s.root->tmp_path));
        QVERIFY(!QFileInfo::exists(s.root->tmp_edit_path));
    }
    QCOMPARE(QDir(QDir::currentPath()).canonicalPath(), QDir(base.path()).canonicalPath());
    QVERIFY(QDir::setCurrent(before));
}

void TestCutMerge::readFileRefusedWithTree() {
    auto w = std::make_shared<DataWrapper>();
    auto root = trees::emptyRoot();
    w->setRootItem(root);
    bool called = false;
    QCOMPARE(int(w->readFile("/nonexistent/x.vrk", [&](int) { called = true; })), -1);
    QVERIFY(!called);
    QVERIFY(w->getRootItem() == root);
}

QTEST_GUILESS_MAIN(TestCutMerge)
#include "tst_cutmerge.moc"
