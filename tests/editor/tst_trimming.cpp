// Re-timing and dropping of events when a playback is cut down to its segments.
#include <QtTest>

#include "DataWrapper.h"
#include "EventTreeBuilders.h"

using TimeList = QList<qint32>;
Q_DECLARE_METATYPE(TimeList)

namespace {

std::shared_ptr<_Segment> seg(qint64 begin, qint64 end, const QString& id, qint64 actual = -1000) {
    auto s = std::make_shared<_Segment>();
    s->begin_time = begin;
    s->end_time = end;
    s->id = id;
    s->actual_duration = actual;
    return s;
}

// The usual example: [10000, 20000) and [30000, 40000), inserted in reverse key order.
std::shared_ptr<DataWrapper> twoSegments(qint64 firstActual = -1000) {
    auto w = std::make_shared<DataWrapper>();
    w->addSegment(seg(30000, 40000, "a-second"));
    w->addSegment(seg(10000, 20000, "b-first", firstActual));
    w->setRootItem(trees::emptyRoot());
    return w;
}

}  // namespace

class TestTrimming : public QObject {
    Q_OBJECT
private slots:
    void mapTime_data();
    void mapTime();
    void selectItems_data();
    void selectItems();
    void sameRulesForEveryPlainList();
    void drawItems();
    void drawFrontRemoval();
    void noSegments();
};

void TestTrimming::mapTime_data() {
    QTest::addColumn<qint64>("t");
    QTest::addColumn<qint64>("mapped");
    QTest::addColumn<bool>("inside");
    QTest::addColumn<qint64>("firstEnd");
    // Segments [10000, firstEnd) and [30000, 40000).
    QTest::newRow("before all") << 5000LL << 0LL << false << 20000LL;
    QTest::newRow("first segment") << 15000LL << 5000LL << true << 20000LL;
    QTest::newRow("rounds down below half") << 15400LL << 5000LL << true << 20000LL;
    QTest::newRow("exactly half rounds down") << 15500LL << 5000LL << true << 20000LL;
    QTest::newRow("rounds up above half") << 15501LL << 6000LL << true << 20000LL;
    QTest::newRow("segment begin") << 10000LL << 0LL << true << 20000LL;
    QTest::newRow("segment end is outside, unrounded") << 20300LL << 10300LL << false << 20300LL;
    QTest::newRow("gap rounds") << 25000LL << 10000LL << false << 20300LL;
    QTest::newRow("second segment") << 35000LL << 15000LL << true << 20000LL;
    QTest::newRow("second segment after odd first") << 35000LL << 15000LL << true << 20300LL;
    QTest::newRow("after all, unrounded") << 50000LL << 20300LL << false << 20300LL;
    QTest::newRow("end of last") << 40000LL << 20000LL << false << 20000LL;
}

void TestTrimming::mapTime() {
    QFETCH(qint64, t);
    QFETCH(qint64, mapped);
    QFETCH(bool, inside);
    QFETCH(qint64, firstEnd);
    auto w = std::make_shared<DataWrapper>();
    w->addSegment(seg(30000, 40000, "x"));
    w->addSegment(seg(10000, firstEnd, "y"));
    qint64 out = -1;
    QCOMPARE(w->mapTime(t, out), inside);
    QCOMPARE(out, mapped);

    auto none = std::make_shared<DataWrapper>();
    out = -1;
    QVERIFY(!none->mapTime(t, out));
    QCOMPARE(out, 0LL);
}

void TestTrimming::selectItems_data() {
    QTest::addColumn<TimeList>("input");
    QTest::addColumn<TimeList>("expected");
    QTest::addColumn<qint64>("firstActual");
    QTest::newRow("one per stretch") << TimeList{5000, 15000, 25000, 35000, 45000}
                                     << TimeList{0, 5000, 10000, 15000} << -1000LL;
    QTest::newRow("earlier gap event dropped")
        << TimeList{22000, 24000, 35000} << TimeList{10000, 15000} << -1000LL;
    QTest::newRow("next at same new moment") << TimeList{29000, 30000} << TimeList{10000} << -1000LL;
    QTest::newRow("next rounds onto same moment") << TimeList{29000, 30400} << TimeList{10000} << -1000LL;
    QTest::newRow("next rounds past it") << TimeList{29000, 30600} << TimeList{10000, 11000} << -1000LL;
    QTest::newRow("same time in gap survives together")
        << TimeList{22000, 22000, 35000} << TimeList{10000, 10000, 15000} << -1000LL;
    QTest::newRow("in force across a whole segment") << TimeList{25000, 45000} << TimeList{10000} << -1000LL;
    QTest::newRow("at segment end, last") << TimeList{20000} << TimeList{10000} << -1000LL;
    QTest::newRow("at segment end, then inside")
        << TimeList{20000, 35000} << TimeList{10000, 15000} << -1000LL;
    QTest::newRow("at the last end is dropped") << TimeList{15000, 40000} << TimeList{5000} << -1000LL;
    QTest::newRow("measured length, rounds to same") << TimeList{35000} << TimeList{15000} << 10400LL;
    QTest::newRow("measured length shifts") << TimeList{36200} << TimeList{17000} << 10400LL;
    QTest::newRow("planned length") << TimeList{36200} << TimeList{16000} << -1000LL;
    QTest::newRow("measured too far off is ignored")
        << TimeList{35000, 36200} << TimeList{15000, 16000} << 13500LL;
    QTest::newRow("gap before then after all") << TimeList{45000, 50000} << TimeList{} << -1000LL;
    QTest::newRow("empty") << TimeList{} << TimeList{} << -1000LL;
}

void TestTrimming::selectItems() {
    QFETCH(TimeList, input);
    QFETCH(TimeList, expected);
    QFETCH(qint64, firstActual);
    auto w = twoSegments(firstActual);
    auto& meta = *w->getRootItem()->datas->meta_item;
    QList<std::shared_ptr<_PageChangeItem>> originals;
    for (qint32 t : input) {
        auto p = trees::page(t, "D", 1);
        meta.pageChange << p;
        originals << p;
    }
    w->trimEventsToSegments();
    QCOMPARE(trees::times(meta.pageChange), expected);
    // Records are changed in place, never replaced.
    for (const auto& p : meta.pageChange) {
        QVERIFY(originals.contains(p));
    }
}

void TestTrimming::sameRulesForEveryPlainList() {
    const TimeList input{5000, 15000, 22000, 24000, 29000, 30600, 45000};
    const TimeList expected{0, 5000, 10000, 11000};
    auto w = twoSegments();
    auto& meta = *w->getRootItem()->datas->meta_item;
    for (qint32 t : input) {
        meta.animation << trees::animation(t);
        meta.answer << trees::answer(t);
        meta.question << trees::question(t);
        meta.chatLog << trees::chat(t);
    }
    w->trimEventsToSegments();
    QCOMPARE(trees::times(meta.animation), expected);
    QCOMPARE(trees::times(meta.answer), expected);
    QCOMPARE(trees::times(meta.question), expected);
    QCOMPARE(trees::times(meta.chatLog), expected);
    QVERIFY(meta.pageChange.isEmpty());
}

void TestTrimming::drawItems() {
    struct Row {
        const char* name;
        std::shared_ptr<_DrawItem> d;
        bool kept;
        qint32 newTime;
    };
    const QList<Row> rows{
        {"stroke inside on shown page", trees::draw(12000, "A", 1), true, 2000},
        {"stroke inside, rounded", trees::draw(12600, "A", 1), true, 3000},
        {"stroke inside on other page", trees::draw(12000, "A", 2), false, 0},
        {"stroke inside on other document", trees::draw(12000, "B", 1), false, 0},
        {"stroke in gap, other page", trees::draw(5000, "A", 2), false, 0},
        {"type 8 inside", trees::draw(13000, "A", 1, 8), false, 0},
        {"stroke in later gap on shown page", trees::draw(25000, "A", 1), true, 10000},
        {"stroke at first end on shown page", trees::draw(20000, "A", 1), true, 10000},
        {"stroke at last end is kept", trees::draw(40000, "A", 1), true, 20000},
        {"stroke after last end", trees::draw(40001, "A", 1), false, 0},
        {"clear inside on shown page", trees::draw(15000, "A", 1, 0), true, 5000},
    };
    for (const Row& r : rows) {
        auto w = twoSegments();
        auto& meta = *w->getRootItem()->datas->meta_item;
        meta.draw = {r.d};
        QList<std::shared_ptr<_PageChangeItem>> pages{nullptr, trees::page(0, "A", 1)};
        w->updateSelectDrawItem(pages);
        QVERIFY2(meta.draw.size() == (r.kept ? 1 : 0), r.name);
        if (r.kept) {
            QVERIFY2(meta.draw.first()->time == r.newTime, r.name);
        }
    }

    // A stroke and a later clear of the same page in a gap both go; a stroke on that page inside a
    // segment stays.
    auto w = twoSegments();
    auto& meta = *w->getRootItem()->datas->meta_item;
    meta.draw = {trees::draw(5000, "A", 1), trees::draw(8000, "A", 1, 0), trees::draw(12000, "A", 1)};
    w->updateSelectDrawItem({trees::page(0, "A", 1)});
    QCOMPARE(trees::times(meta.draw), (TimeList{2000}));

    // A clear of another page does not wipe the stroke; a clear before the stroke does not either.
    meta.draw = {trees::draw(2000, "A", 1, 0), trees::draw(5000, "A", 1), trees::draw(8000, "A", 2, 0)};
    w->updateSelectDrawItem({trees::page(0, "A", 1), trees::page(0, "A", 2)});
    QCOMPARE(trees::times(meta.draw), (TimeList{0}));
    QCOMPARE(meta.draw.first()->data.type, qint16(2));

    // No page changes left: every draw event goes.
    meta.draw = {trees::draw(12000, "A", 1), trees::draw(15000, "A", 1, 0)};
    w->updateSelectDrawItem({});
    QVERIFY(meta.draw.isEmpty());
}

void TestTrimming::drawFrontRemoval() {
    auto w = twoSegments();
    auto& meta = *w->getRootItem()->datas->meta_item;
    meta.pageChange = {trees::page(11000, "A", 1)};
    meta.draw = {trees::draw(11000, "A", 1, 0), trees::draw(11000, "A", 1, 0), trees::draw(11000, "A", 1, 8),
                 trees::draw(12000, "A", 1)};
    w->trimEventsToSegments();
    QCOMPARE(trees::times(meta.draw), (TimeList{2000}));
    QCOMPARE(trees::times(meta.pageChange), (TimeList{1000}));

    auto w2 = twoSegments();
    auto& meta2 = *w2->getRootItem()->datas->meta_item;
    meta2.pageChange = {trees::page(11000, "A", 1)};
    meta2.draw = {trees::draw(11000, "A", 1, 8), trees::draw(11000, "A", 1, 0), trees::draw(12000, "A", 1)};
    w2->trimEventsToSegments();
    QCOMPARE(trees::times(meta2.draw), (TimeList{1000, 2000}));
    QCOMPARE(meta2.draw.first()->data.type, qint16(0));
}

void TestTrimming::noSegments() {
    auto w = std::make_shared<DataWrapper>();
    w->setRootItem(trees::emptyRoot());
    auto& meta = *w->getRootItem()->datas->meta_item;
    meta.pageChange = {trees::page(0, "A", 1), trees::page(5000, "A", 2)};
    meta.draw = {trees::draw(1000, "A", 1), trees::draw(6000, "A", 2)};
    meta.animation = {trees::animation(0)};
    meta.answer = {trees::answer(100)};
    meta.question = {trees::question(100)};
    meta.chatLog = {trees::chat(0), trees::chat(7000)};
    QCOMPARE(w->maxSegmentEnd(), 0LL);
    w->trimEventsToSegments();
    QVERIFY(meta.pageChange.isEmpty());
    QVERIFY(meta.draw.isEmpty());
    QVERIFY(meta.animation.isEmpty());
    QVERIFY(meta.answer.isEmpty());
    QVERIFY(meta.question.isEmpty());
    QVERIFY(meta.chatLog.isEmpty());
}

QTEST_GUILESS_MAIN(TestTrimming)
#include "tst_trimming.moc"
