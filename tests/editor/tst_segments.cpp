// The cut segment list of a session: overlap refusal, time order, end and measured lengths.
#include <QtTest>

#include "DataWrapper.h"

namespace {

std::shared_ptr<_Segment> seg(qint64 begin, qint64 end, const QString& id) {
    auto s = std::make_shared<_Segment>();
    s->begin_time = begin;
    s->end_time = end;
    s->id = id;
    return s;
}

}  // namespace

class TestSegments : public QObject {
    Q_OBJECT
private slots:
    void overlapRules_data();
    void overlapRules();
    void addAndRemove();
    void sortedByBeginTime();
    void maxSegmentEnd();
    void actualDuration();
};

void TestSegments::overlapRules_data() {
    QTest::addColumn<qint64>("begin");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<bool>("accepted");
    // Against a held [10000, 20000).
    QTest::newRow("touching after") << 20000LL << 30000LL << true;
    QTest::newRow("touching before") << 0LL << 10000LL << true;
    QTest::newRow("far after") << 25000LL << 26000LL << true;
    QTest::newRow("starts inside") << 15000LL << 25000LL << false;
    QTest::newRow("ends inside") << 5000LL << 15000LL << false;
    QTest::newRow("inside") << 12000LL << 18000LL << false;
    QTest::newRow("equal") << 10000LL << 20000LL << false;
    QTest::newRow("covers") << 5000LL << 25000LL << false;
    QTest::newRow("same begin, ends inside") << 10000LL << 15000LL << false;
    QTest::newRow("starts inside, same end") << 15000LL << 20000LL << false;
}

void TestSegments::overlapRules() {
    QFETCH(qint64, begin);
    QFETCH(qint64, end);
    QFETCH(bool, accepted);
    auto w = std::make_shared<DataWrapper>();
    QVERIFY(w->tryAddSegment(seg(10000, 20000, "held")));
    QCOMPARE(w->tryAddSegment(seg(begin, end, "new")), accepted);
    QCOMPARE(w->getSegments().size(), accepted ? 2 : 1);
    QCOMPARE(w->getSegments().value("held")->end_time, 20000LL);
}

void TestSegments::addAndRemove() {
    auto w = std::make_shared<DataWrapper>();
    QVERIFY(!w->addSegment(nullptr));
    QVERIFY(!w->tryAddSegment(nullptr));

    // addSegment looks only at the id; tryAddSegment also at the times.
    QVERIFY(w->addSegment(seg(0, 1000, "a")));
    QVERIFY(w->addSegment(seg(0, 1000, "b")));
    QVERIFY(!w->tryAddSegment(seg(0, 1000, "c")));
    QCOMPARE(w->getSegments().size(), 2);

    // A second segment under a held id is refused and the held one stays.
    QVERIFY(!w->addSegment(seg(5000, 6000, "a")));
    QCOMPARE(w->getSegments().value("a")->begin_time, 0LL);

    // The map is a copy; the records are shared.
    auto copy = w->getSegments();
    copy.remove("a");
    QCOMPARE(w->getSegments().size(), 2);
    QVERIFY(w->getSegments().value("b") == copy.value("b"));

    QVERIFY(w->removeSegment("a"));
    QVERIFY(w->removeSegment("not held"));
    QCOMPARE(w->getSegments().keys(), QStringList{"b"});
}

void TestSegments::sortedByBeginTime() {
    auto w = std::make_shared<DataWrapper>();
    // Key order (text) differs from time order.
    QVERIFY(w->addSegment(seg(60000, 120000, "a")));
    QVERIFY(w->addSegment(seg(0, 30000, "b")));
    QVERIFY(w->addSegment(seg(40000, 50000, "c")));
    QVERIFY(w->addSegment(seg(130000, 140000, "0")));
    auto sorted = w->sortedSegments();
    QStringList ids;
    for (const auto& s : sorted) {
        ids << s->id;
    }
    QCOMPARE(ids, (QStringList{"b", "c", "a", "0"}));

    // Equal begin times end up in reverse key order.
    auto w2 = std::make_shared<DataWrapper>();
    QVERIFY(w2->addSegment(seg(1000, 2000, "x")));
    QVERIFY(w2->addSegment(seg(1000, 3000, "y")));
    QVERIFY(w2->addSegment(seg(500, 600, "z")));
    ids.clear();
    for (const auto& s : w2->sortedSegments()) {
        ids << s->id;
    }
    QCOMPARE(ids, (QStringList{"z", "y", "x"}));

    QVERIFY((std::make_shared<DataWrapper>()->sortedSegments().isEmpty()));
}

void TestSegments::maxSegmentEnd() {
    auto w = std::make_shared<DataWrapper>();
    QCOMPARE(w->maxSegmentEnd(), 0LL);
    QVERIFY(w->addSegment(seg(0, 30000, "b")));
    QVERIFY(w->addSegment(seg(60000, 120000, "a")));
    QVERIFY(w->addSegment(seg(40000, 50000, "c")));
    QCOMPARE(w->maxSegmentEnd(), 120000LL);

    // The end is held in 32 bits: 2^32 + 5000 ms comes back as 5000.
    auto big = std::make_shared<DataWrapper>();
    QVERIFY(big->addSegment(seg(0, (qint64(1) << 32) + 5000, "huge")));
    QCOMPARE(big->maxSegmentEnd(), 5000LL);
}

void TestSegments::actualDuration() {
    auto w = std::make_shared<DataWrapper>();
    auto s = seg(0, 30000, "id-1");
    QCOMPARE(s->actual_duration, -1000LL);
    QVERIFY(w->addSegment(s));
    w->updateActualDuration("id-1", 0);
    w->updateActualDuration("id-1", -5);
    w->updateActualDuration("", 31200);
    w->updateActualDuration("ID-1", 31200);
    QCOMPARE(s->actual_duration, -1000LL);
    w->updateActualDuration("id-1", 31200);
    QCOMPARE(s->actual_duration, 31200LL);
}

QTEST_GUILESS_MAIN(TestSegments)
#include "tst_segments.moc"
