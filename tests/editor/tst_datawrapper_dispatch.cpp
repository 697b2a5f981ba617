// Replay of a session's events at reported play positions and seeks, as its observer sees it.
#include <QCoreApplication>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <thread>

#include "DataWrapper.h"
#include "DataWrapperObserver.h"
#include "EventTreeBuilders.h"
#include "ScriptedMediaCore.h"

namespace {

struct Call {
    bool isList = false;
    int kind = -2;
    QList<qint32> times;
    QThread* thread = nullptr;

    bool operator==(const Call& o) const { return isList == o.isList && kind == o.kind && times == o.times; }
};

Call item(int kind, qint32 time) {
    return Call{false, kind, {time}, nullptr};
}
Call list(int kind, QList<qint32> times) {
    return Call{true, kind, times, nullptr};
}

QString describe(const QList<Call>& calls) {
    QStringList parts;
    for (const Call& c : calls) {
        QStringList t;
        for (qint32 v : c.times) {
            t << QString::number(v);
        }
        parts << QStringLiteral("%1(%2:[%3])")
                     .arg(c.isList ? QStringLiteral("list") : QStringLiteral("item"))
                     .arg(c.kind)
                     .arg(t.join(QLatin1Char(',')));
    }
    return parts.join(QLatin1Char(' '));
}

class RecordingObserver : public DataWrapperObserver {
public:
    QList<Call> calls;
    std::weak_ptr<DataWrapper> lastSession;

    void onDataWrapper(std::shared_ptr<DataWrapper>) override {}
    void onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> event) override {
        lastSession = session;
        calls << Call{false, event->kind, {event->time}, QThread::currentThread()};
    }
    void onItemList(std::shared_ptr<DataWrapper> session, QList<std::shared_ptr<_VRKItemBase>> items,
                    int kind) override {
        lastSession = session;
        Call c{true, kind, {}, QThread::currentThread()};
        for (const auto& e : items) {
            c.times << e->time;
            // Every event of a list must be of the list's kind.
            QCOMPARE(e->kind, kind);
        }
        calls << c;
    }
    void onDataWrapperValue(std::shared_ptr<DataWrapper>, int) override {}

    QList<Call> take() {
        QList<Call> out = calls;
        calls.clear();
        return out;
    }
};

#define COMPARE_CALLS(actual, expected) \
    QVERIFY2((actual) == (expected),    \
             qPrintable(describe(actual) + QStringLiteral("  !=  ") + describe(expected)))

}  // namespace

class TestDataWrapperDispatch : public QObject {
    Q_OBJECT
private slots:
    void plainDispatchFirstAloneThenOneByOne();
    void kindOrderWithinOneReport();
    void drawBatches();
    void pageRefresh();
    void seekListsAndCursors();
    void stopAndReplayReset();
    void foreignThreadReportsGoThroughTheQueue();
    void playbackControlAndSeekBounds();
    void nothingWithoutTreeOrObserver();
};

void TestDataWrapperDispatch::plainDispatchFirstAloneThenOneByOne() {
    auto w = std::make_shared<DataWrapper>();
    auto root = trees::emptyRoot();
    root->datas->meta_item->chatLog = {trees::chat(1000), trees::chat(2000), trees::chat(3000),
                                       trees::chat(9000)};
    w->setRootItem(root);
    RecordingObserver obs;
    w->setObserver(&obs);

    w->OnTimePoint(0);
    w->OnTimePoint(500);
    QVERIFY(obs.calls.isEmpty());

    // The first due event goes alone even when later ones are due too.
    w->OnTimePoint(3000);
    COMPARE_CALLS(obs.take(), (QList<Call>{item(5, 1000)}));
    QVERIFY(obs.lastSession.lock() == w);

    // The next report hands out the rest that are due, one by one.
    w->OnTimePoint(3000);
    COMPARE_CALLS(obs.take(), (QList<Call>{item(5, 2000), item(5, 3000)}));

    w->OnTimePoint(8999);
    QVERIFY(obs.calls.isEmpty());
    w->OnTimePoint(20000);
    COMPARE_CALLS(obs.take(), (QList<Call>{item(5, 9000)}));
    w->OnTimePoint(30000);
    QVERIFY(obs.calls.isEmpty());

    // Negative positions are ignored.
    w->OnTimePoint(-5);
    QVERIFY(obs.calls.isEmpty());
}

void TestDataWrapperDispatch::kindOrderWithinOneReport() {
    auto w = std::make_shared<DataWrapper>();
    auto root = trees::emptyRoot();
    auto& meta = *root->datas->meta_item;
    meta.chatLog = {trees::chat(100)};
    meta.answer = {trees::answer(100)};
    meta.question = {trees::question(100)};
    meta.animation = {trees::animation(100)};
    meta.pageChange = {trees::page(100, "D", 1)};
    meta.draw = {trees::draw(200, "D", 1)};
    w->setRootItem(root);
    RecordingObserver obs;
    w->setObserver(&obs);

    auto engine = std::make_shared<ScriptedMediaCore>(w.get());
    w->setMediaCore(engine);

    w->OnTimePoint(1000);
    // Page change first, then the draw event (no refresh list: none lies at or before the page's
    // time), then questions, answers, chat. Animation steps are never handed out.
    COMPARE_CALLS(obs.take(),
                  (QList<Call>{item(2, 100), item(0, 200), item(4, 100), item(3, 100), item(5, 100)}));
    // With an engine, the first report after the start asks the engine to go to 0 first.
    QCOMPARE(engine->seeks, (std::vector<qint64>{0}));
    w->OnTimePoint(2000);
    QCOMPARE(engine->seeks.size(), size_t(1));
    // Positions of exactly 0 after the landing (as with an audio clock at the start) ask no more.
    w->OnTimePoint(0);
    w->OnTimePoint(0);
    w->OnTimePoint(20);
    w->OnTimePoint(0);
    w->OnTimePoint(40);
    QCOMPARE(engine->seeks.size(), size_t(1));
}

void TestDataWrapperDispatch::drawBatches() {
    auto w = std::make_shared<DataWrapper>();
    auto root = trees::emptyRoot();
    root->datas->meta_item->draw = {trees::draw(1000, "A", 1), trees::draw(2000, "A", 1),
                                    trees::draw(2000, "A", 1), trees::draw(5000, "A", 1),
                                    trees::draw(6000, "A", 1)};
    w->setRootItem(root);
    RecordingObserver obs;
    w->setObserver(&obs);

    w->OnTimePoint(900);
    QVERIFY(obs.calls.isEmpty());
    w->OnTimePoint(2500);
    COMPARE_CALLS(obs.take(), (QList<Call>{item(0, 1000)}));
    // Two events with the same due time arrive together.
    w->OnTimePoint(2500);
    COMPARE_CALLS(obs.take(), (QList<Call>{list(0, {2000, 2000})}));
    w->OnTimePoint(4000);
    QVERIFY(obs.calls.isEmpty());
    w->OnTimePoint(7000);
    COMPARE_CALLS(obs.take(), (QList<Call>{list(0, {5000, 6000})}));
    w->OnTimePoint(8000);
    QVERIFY(obs.calls.isEmpty());
}

void TestDataWrapperDispatch::pageRefresh() {
    auto w = std::make_shared<DataWrapper>();
    auto root = trees::emptyRoot();
    auto& meta = *root->datas->meta_item;
    meta.pageChange = {trees::page(0, "A", 1), trees::page(10000, "A", 2)};
    meta.draw = {
        trees::draw(1000, "A", 1),     // other page: not in the refresh of A/2
        trees::draw(2000, "A", 2),     // A/2: collected
        trees::draw(2500, "A", 7, 8),  // type 8 of the same document: not collected
        trees::draw(2800, "a", 2),     // document ids are case-sensitive: not collected
        trees::draw(3000, "B", 5, 8),  // type 8 of another document and page: collected
        trees::draw(3500, "B", 2, 8),  // type 8 with the same page number: not collected
        trees::draw(10000, "A", 2),    // A/2 at the page's own time: collected, moves the cursor
        trees::draw(12000, "A", 2),    // later than the page: not collected
    };
    w->setRootItem(root);
    RecordingObserver obs;
    w->setObserver(&obs);

    w->OnTimePoint(0);
    COMPARE_CALLS(obs.take(), (QList<Call>{item(2, 0)}));
    w->OnTimePoint(1000);
    COMPARE_CALLS(obs.take(), (QList<Call>{item(0, 1000)}));
    w->OnTimePoint(3500);
    COMPARE_CALLS(obs.take(), (QList<Call>{list(0, {2000, 2500, 2800, 3000, 3500})}));

    // The page turn: the page change alone, then the page's draw events as one list, and no
    // ordinary draw dispatch in the same report.
    w->OnTimePoint(10000);
    COMPARE_CALLS(obs.take(), (QList<Call>{item(2, 10000), list(0, {2000, 3000, 10000})}));

    // The draw event at the page's time moved the cursor past itself, so only the next one follows.
    w->OnTimePoint(12000);
    COMPARE_CALLS(obs.take(), (QList<Call>{list(0, {12000})}));
}

void TestDataWrapperDispatch::seekListsAndCursors() {
    auto w = std::make_shared<DataWrapper>();
    w->connectSignals();
    w->connectSignals();  // a second call must not connect twice
    auto root = trees::emptyRoot();
    auto& meta = *root->datas->meta_item;
    meta.pageChange = {trees::page(0, "A", 1), trees::page(4000, "A", 2)};
    meta.draw = {trees::draw(0, "A", 1), trees::draw(1000, "A", 1), trees::draw(5000, "A", 2)};
    meta.question = {trees::question(3000)};
    meta.answer = {trees::answer(3500)};
    meta.chatLog = {trees::chat(0), trees::chat(2000), trees::chat(6000)};
    meta.animation = {trees::animation(0)};
    w->setRootItem(root);
    RecordingObserver obs;
    w->setObserver(&obs);

    w->OnSeek(0);
    QTRY_COMPARE(obs.calls.size(), 5);
    COMPARE_CALLS(obs.take(),
                  (QList<Call>{list(2, {0}), list(0, {0}), list(4, {}), list(3, {}), list(5, {0})}));

    w->OnSeek(4500);
    QTRY_COMPARE(obs.calls.size(), 5);
    COMPARE_CALLS(obs.take(), (QList<Call>{list(2, {0, 4000}), list(0, {0, 1000}), list(4, {3000}),
                                           list(3, {3500}), list(5, {0, 2000})}));

    // After a seek each cursor sits on the last event handed out: play continues one by one.
    w->OnTimePoint(6000);
    COMPARE_CALLS(obs.take(), (QList<Call>{list(0, {5000}), item(5, 6000)}));

    // Seeking back rewinds the cursors to the events at or before the new position.
    w->OnSeek(0);
    QTRY_COMPARE(obs.calls.size(), 5);
    obs.take();
    w->OnTimePoint(2500);
    COMPARE_CALLS(obs.take(), (QList<Call>{list(0, {1000}), item(5, 2000)}));

    // A seek before every event leaves the cursors at -1: the first event goes alone again.
    meta.chatLog = {trees::chat(1000), trees::chat(2000)};
    w->OnSeek(500);
    QTRY_COMPARE(obs.calls.size(), 5);
    obs.take();
    w->OnTimePoint(2500);
    COMPARE_CALLS(obs.take(), (QList<Call>{list(0, {1000}), item(5, 1000)}));

    // An empty tree still yields the five (empty) lists.
    auto w2 = std::make_shared<DataWrapper>();
    w2->connectSignals();
    w2->setRootItem(trees::emptyRoot());
    RecordingObserver obs2;
    w2->setObserver(&obs2);
    w2->OnSeek(100000);
    QTRY_COMPARE(obs2.calls.size(), 5);
    COMPARE_CALLS(obs2.take(),
                  (QList<Call>{list(2, {}), list(0, {}), list(4, {}), list(3, {}), list(5, {})}));
    QTest::qWait(50);
    QVERIFY(obs2.calls.isEmpty());
}

void TestDataWrapperDispatch::stopAndReplayReset() {
    auto w = std::make_shared<DataWrapper>();
    w->connectSignals();
    auto root = trees::emptyRoot();
    root->datas->meta_item->chatLog = {trees::chat(1000), trees::chat(2000)};
    w->setRootItem(root);
    RecordingObserver obs;
    w->setObserver(&obs);

    w->OnTimePoint(5000);
    w->OnTimePoint(5000);
    COMPARE_CALLS(obs.take(), (QList<Call>{item(5, 1000), item(5, 2000)}));

    w->OnStop();
    QTest::qWait(100);
    QVERIFY(obs.calls.isEmpty());
    w->OnTimePoint(5000);
    COMPARE_CALLS(obs.take(), (QList<Call>{item(5, 1000)}));

    // A replay is a seek to 0.
    w->OnReplay();
    QTRY_COMPARE(obs.calls.size(), 5);
    COMPARE_CALLS(obs.take(), (QList<Call>{list(2, {}), list(0, {}), list(4, {}), list(3, {}), list(5, {})}));
}

void TestDataWrapperDispatch::foreignThreadReportsGoThroughTheQueue() {
    auto w = std::make_shared<DataWrapper>();
    auto root = trees::emptyRoot();
    root->datas->meta_item->chatLog = {trees::chat(1000), trees::chat(2000)};
    w->setRootItem(root);
    RecordingObserver obs;
    w->setObserver(&obs);
    // Receivers living on the GUI thread: emissions from other threads reach them queued.
    QList<qint64> timeReports;
    int plays = 0;
    connect(w.get(), &DataWrapper::signalCurrentTimePoint, this, [&](qint64 ms) { timeReports << ms; });
    connect(w.get(), &DataWrapper::signalPlay, this, [&] { ++plays; });
    std::atomic<int> finishedOnCaller{0};
    connect(
        w.get(), &DataWrapper::signalPlayingFinished, this,
        [&](bool pause) {
            if (pause && QThread::currentThread() != QCoreApplication::instance()->thread()) {
                ++finishedOnCaller;
            }
        },
        Qt::DirectConnection);

    // Without the internal connections a foreign report emits the signal but never dispatches.
    std::thread([&] { w->OnTimePoint(5000); }).join();
    QTRY_COMPARE(timeReports, (QList<qint64>{5000}));
    QTest::qWait(50);
    QVERIFY(obs.calls.isEmpty());

    w->connectSignals();
    std::thread([&] { w->OnTimePoint(5000); }).join();
    // Nothing happened synchronously on the foreign thread, and the GUI thread has not run yet.
    QVERIFY(obs.calls.isEmpty());
    QTRY_COMPARE(obs.calls.size(), 1);
    std::thread([&] { w->OnTimePoint(5000); }).join();
    QTRY_COMPARE(obs.calls.size(), 2);
    COMPARE_CALLS(obs.calls, (QList<Call>{item(5, 1000), item(5, 2000)}));
    for (const Call& c : obs.calls) {
        QCOMPARE(c.thread, QCoreApplication::instance()->thread());
    }

    // A GUI-thread report dispatches at once and emits nothing.
    QTRY_COMPARE(timeReports.size(), 3);
    w->OnTimePoint(6000);
    QTest::qWait(50);
    QCOMPARE(timeReports.size(), 3);

    std::thread([&] { w->OnPlay(); }).join();
    QTRY_COMPARE(plays, 1);

    // The end of the file is passed on directly on the reporting thread.
    std::thread([&] { w->OnPlayingFinished(true); }).join();
    QCOMPARE(finishedOnCaller.load(), 1);
}

void TestDataWrapperDispatch::playbackControlAndSeekBounds() {
    auto w = std::make_shared<DataWrapper>();
    // No engine: nothing to do, nothing crashes.
    w->play();
    w->pause();
    w->resume();
    w->stop();
    w->seek(10);

    w->setRootItem(trees::emptyRoot());
    auto engine = std::make_shared<ScriptedMediaCore>(w.get());
    engine->durations[""] = 10000;
    w->setMediaCore(engine);
    w->play();
    w->pause();
    w->resume();
    w->stop();
    QCOMPARE(engine->calls, (std::vector<std::string>{"play", "pause", "resume", "stop"}));

    w->seek(0);
    w->seek(10000);
    w->seek(10001);
    w->seek(-1);
    w->seek(4200);
    QCOMPARE(engine->seeks, (std::vector<qint64>{0, 10000, 4200}));
    QCOMPARE(w->getDuration(), 10000LL);
    int width = 0, height = 0;
    QVERIFY(w->getVideoSize(&width, &height));
    QCOMPARE(width, 320);

    // Without tree and engine the duration query reports -2 and leaves the outputs alone.
    auto bare = std::make_shared<DataWrapper>();
    QCOMPARE(bare->getDuration(), -2LL);
    width = height = 77;
    QVERIFY(!bare->getVideoSize(&width, &height));
    QCOMPARE(width, 77);
    QCOMPARE(height, 77);
}

void TestDataWrapperDispatch::nothingWithoutTreeOrObserver() {
    auto w = std::make_shared<DataWrapper>();
    w->connectSignals();
    RecordingObserver obs;
    w->setObserver(&obs);
    w->OnTimePoint(1000);
    w->OnSeek(1000);
    QTest::qWait(100);
    QVERIFY(obs.calls.isEmpty());

    // Without an observer the cursors still move: registering one later does not replay the past.
    auto root = trees::emptyRoot();
    root->datas->meta_item->chatLog = {trees::chat(1000), trees::chat(2000)};
    w->setRootItem(root);
    w->setObserver(nullptr);
    w->OnTimePoint(3000);
    w->setObserver(&obs);
    w->OnTimePoint(3000);
    COMPARE_CALLS(obs.take(), (QList<Call>{item(5, 2000)}));
}

QTEST_GUILESS_MAIN(TestDataWrapperDispatch)
#include "tst_datawrapper_dispatch.moc"
