// Re-timing and dropping of events when a playback is cut down to its segments.
#include <QtTest>

#include <QRandomGenerator>

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

// The trimming rules written out as plainly as they read: every lookup walks the segments, every
// drop removes at once. The session's trimming must give the same lists.
namespace plain {

struct Cut {
    QVector<std::shared_ptr<_Segment>> segments;  // ascending begin
    qint64 maxEnd = 0;
};

qint64 roundSecond(qint64 x) {
    const qint32 v = qint32(x);
    return qint64(v / 1000 + (v % 1000 > 500 ? 1 : 0)) * 1000;
}

qint64 length(const _Segment& s) {
    const qint64 planned = s.end_time - s.begin_time;
    return s.actual_duration > 0 && qAbs(planned - s.actual_duration) < 3000 ? s.actual_duration : planned;
}

bool mapTime(const Cut& c, qint64 t, qint64& mapped) {
    mapped = 0;
    for (const auto& s : c.segments) {
        if (t > s->end_time) {
            mapped += length(*s);
        } else if (s->begin_time <= t && t < s->end_time) {
            mapped = roundSecond(mapped + t - s->begin_time);
            return true;
        } else if (t == s->end_time) {
            mapped += s->end_time - s->begin_time;
            return false;
        } else {
            mapped = roundSecond(mapped);
            return false;
        }
    }
    return false;
}

template <typename T>
void selectItems(const Cut& c, QList<std::shared_ptr<T>>& list) {
    int i = 0;
    while (i < list.size()) {
        const auto cur = list[i];
        qint64 m = 0;
        if (mapTime(c, cur->time, m)) {
            cur->time = qint32(m);
            ++i;
            continue;
        }
        bool keep = false;
        if (cur->time >= c.maxEnd) {
            keep = false;
        } else if (i == list.size() - 1) {
            keep = true;
        } else {
            const auto next = list[i + 1];
            std::shared_ptr<_Segment> following;
            for (const auto& s : c.segments) {
                if (s->begin_time > cur->time) {
                    following = s;
                    break;
                }
            }
            qint64 m2 = 0;
            if (following && following->end_time <= next->time) {
                keep = true;
            } else if (mapTime(c, next->time, m2)) {
                keep = m2 != m;
            } else if (next->time == cur->time) {
                for (int j = i + 1; j < list.size(); ++j) {
                    if (list[j]->time != cur->time) {
                        qint64 m3 = 0;
                        keep = mapTime(c, list[j]->time, m3);
                        break;
                    }
                }
            }
        }
        if (keep) {
            cur->time = qint32(qMax<qint64>(m, 0));
            ++i;
        } else {
            list.removeAt(i);
        }
    }
}

void selectDraws(const Cut& c, QList<std::shared_ptr<_DrawItem>>& draws,
                 const QList<std::shared_ptr<_PageChangeItem>>& pages) {
    QList<std::shared_ptr<_DrawItem>> clears;
    for (int i = draws.size() - 1; i >= 0; --i) {
        const auto d = draws[i];
        bool keep = false;
        for (const auto& p : pages) {
            if (d->data.type == 0 && !clears.contains(d)) {
                clears.append(d);
            }
            if (d->data.type == 8 || d->time > c.maxEnd) {
                break;
            }
            qint64 m = 0;
            const bool inside = mapTime(c, d->time, m);
            const bool samePage = d->data.docid == p->docId && d->pageNum == p->pageNum;
            if (inside && samePage) {
                keep = true;
                break;
            }
            if (inside || !samePage) {
                continue;
            }
            keep = true;
            for (const auto& clear : clears) {
                if (clear->time >= d->time && clear->data.docid == d->data.docid &&
                    clear->pageNum == d->pageNum) {
                    keep = false;
                }
            }
            break;
        }
        if (!keep) {
            draws.removeAt(i);
            continue;
        }
        qint64 acc = 0;
        for (const auto& s : c.segments) {
            if (d->time <= s->begin_time) {
                break;
            }
            if (d->time <= s->end_time) {
                acc += d->time - s->begin_time;
                break;
            }
            acc += length(*s);
        }
        d->time = qint32(roundSecond(acc));
    }
}

void trim(const Cut& c, _MetaItem& meta) {
    while (!meta.draw.isEmpty() && meta.draw.first()->data.type == 0) {
        meta.draw.removeFirst();
    }
    while (!meta.draw.isEmpty() && meta.draw.first()->data.type == 8) {
        meta.draw.removeFirst();
    }
    selectItems(c, meta.pageChange);
    selectDraws(c, meta.draw, meta.pageChange);
    selectItems(c, meta.animation);
    selectItems(c, meta.answer);
    selectItems(c, meta.question);
    selectItems(c, meta.chatLog);
}

}  // namespace plain

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
    void sameAsPlainRulesOnGeneratedClasses();
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

// Thousands of generated events (repeated times, unordered draw times, clears and commands on a
// few pages) against random segment sets, some touching, overlapping or measured off the plan.
void TestTrimming::sameAsPlainRulesOnGeneratedClasses() {
    QRandomGenerator rng(20);
    for (int round = 0; round < 40; ++round) {
        auto rand = [&](int lo, int hi) { return int(rng.bounded(lo, hi + 1)); };
        // A time: whole seconds as read from a file, or any millisecond after a merge shift.
        auto when = [&]() { return rand(0, 3) ? rand(0, 120) * 1000 : rand(0, 120000); };
        auto w = std::make_shared<DataWrapper>();
        const int segmentCount = rand(0, 5);
        qint64 at = rand(0, 20) * 1000;
        for (int k = 0; k < segmentCount; ++k) {
            const qint64 begin = rand(0, 3) ? at : qMax<qint64>(0, at - rand(1, 15000));
            const qint64 end = begin + rand(1, 25) * 500;
            auto s = seg(begin, end, QStringLiteral("s%1").arg(k),
                         rand(0, 1) ? -1000 : end - begin + rand(-4000, 4000));
            w->addSegment(s);
            at = end + (rand(0, 3) ? rand(1, 30) * 1000 : 0);
        }
        plain::Cut cut;
        cut.segments = w->sortedSegments();
        for (const auto& s : cut.segments) {
            cut.maxEnd = qMax<qint64>(cut.maxEnd, qint32(s->end_time));
        }

        // Two identical trees: one for the session, one for the plain rules.
        std::shared_ptr<_RootItem> roots[2] = {trees::emptyRoot(), trees::emptyRoot()};
        const QStringList docs{"A", "B", "W"};
        QList<qint32> pageTimes, plainTimes[4];
        for (int k = rand(1, 40); k > 0; --k) {
            pageTimes << when();
        }
        std::sort(pageTimes.begin(), pageTimes.end());
        QList<int> pageDocs, pagePages;
        for (int k = 0; k < pageTimes.size(); ++k) {
            pageDocs << rand(0, 2);
            pagePages << rand(1, 3);
        }
        for (auto& list : plainTimes) {
            for (int k = rand(0, 300); k > 0; --k) {
                list << (rand(0, 2) ? when() : rand(0, 12) * 10000);
            }
            std::sort(list.begin(), list.end());
        }
        struct Draw {
            qint32 time;
            int doc, page, type;
        };
        QList<Draw> draws;
        qint32 t = 0;
        for (int k = rand(500, 3000); k > 0; --k) {
            t = rand(0, 9) ? qMin(120000, t + rand(0, 400)) : when();
            static const int kTypes[] = {0, 0, 2, 2, 2, 3, 5, 8, 9};
            draws << Draw{t, rand(0, 2), rand(1, 3), kTypes[rand(0, 8)]};
        }
        for (auto& root : roots) {
            _MetaItem& meta = *root->datas->meta_item;
            for (int k = 0; k < pageTimes.size(); ++k) {
                meta.pageChange << trees::page(pageTimes[k], docs[pageDocs[k]], qint16(pagePages[k]));
            }
            for (qint32 time : plainTimes[0])
                meta.animation << trees::animation(time);
            for (qint32 time : plainTimes[1])
                meta.answer << trees::answer(time);
            for (qint32 time : plainTimes[2])
                meta.question << trees::question(time);
            for (qint32 time : plainTimes[3])
                meta.chatLog << trees::chat(time);
            for (const Draw& d : draws) {
                auto item = trees::draw(d.time, docs[d.doc], qint16(d.page), qint16(d.type));
                item->docName = d.doc == 2 ? QStringLiteral("WhiteBorad") : QStringLiteral("doc");
                meta.draw << item;
            }
        }
        // Each record's position in the generated lists, to compare which records survive.
        auto survivors = [](const _MetaItem& before, const _MetaItem& after) {
            auto one = [](const auto& all, const auto& kept) {
                QList<QPair<int, qint32>> out;
                for (const auto& item : kept) {
                    out << qMakePair(int(all.indexOf(item)), item->time);
                }
                return out;
            };
            return QList<QList<QPair<int, qint32>>>{
                one(before.draw, after.draw),           one(before.pageChange, after.pageChange),
                one(before.animation, after.animation), one(before.answer, after.answer),
                one(before.question, after.question),   one(before.chatLog, after.chatLog)};
        };
        const _MetaItem generated[2] = {*roots[0]->datas->meta_item, *roots[1]->datas->meta_item};
        w->setRootItem(roots[0]);
        w->trimEventsToSegments();
        plain::trim(cut, *roots[1]->datas->meta_item);
        const auto got = survivors(generated[0], *roots[0]->datas->meta_item);
        const auto want = survivors(generated[1], *roots[1]->datas->meta_item);
        for (int list = 0; list < 6; ++list) {
            QVERIFY2(got[list] == want[list],
                     qPrintable(QStringLiteral("round %1, list %2: %3 kept, %4 expected")
                                    .arg(round)
                                    .arg(list)
                                    .arg(got[list].size())
                                    .arg(want[list].size())));
        }
    }
}

QTEST_GUILESS_MAIN(TestTrimming)
#include "tst_trimming.moc"
