// Whiteboard view: page images, the effect of every draw type, page filtering, the painted canvas
// and the handling of a dispatch that arrives while the view lets pending events run.
#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "PlotView.h"
#include "ViewTestSupport.h"

using namespace viewtest;

class TestPlotView : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_tmp;
    QString m_workspace;

    QStringList drawIds(const PlotView& view) {
        QStringList ids;
        for (const auto& d : view.drawings()) {
            ids << d->data.drawid;
        }
        return ids;
    }

private slots:
    // A session removes its workspace when it goes, so every test gets a fresh one.
    void init() {
        QVERIFY(m_tmp.isValid());
        m_workspace = m_tmp.filePath(QStringLiteral("ws"));
        QVERIFY(writePageImage(m_workspace, "docA", 1, QSize(640, 360), QColor(30, 60, 200)));
        // Recorded at 640x360 but stored smaller: scaled up to the recorded size.
        QVERIFY(writePageImage(m_workspace, "docA", 2, QSize(320, 180), QColor(200, 40, 40)));
        // PNG data behind a ".jpg" name is still read.
        QVERIFY(writePageImage(m_workspace, "docA", 3, QSize(64, 48), QColor(20, 180, 20), "PNG", "jpg"));
    }

    void pageImages() {
        auto dw = session(m_workspace);
        PlotView view;
        QVERIFY(view.canvas().isNull());
        QVERIFY(!view.pageSize().isValid());
        QVERIFY(!view.displaySize().isValid());

        // jpg page at its recorded size
        view.onItem(dw, page("docA", 1, 640, 360));
        QCOMPARE(view.pageImagePath(), m_workspace + "/image/docA/1.jpg");
        QCOMPARE(view.canvas().size(), QSize(640, 360));
        QVERIFY(near(view.canvas().toImage().pixelColor(320, 180), QColor(30, 60, 200)));
        QCOMPARE(view.pageSize(), QSize(640, 360));

        // smaller image scaled to the recorded size
        view.onItemList(dw,
                        items(QList<std::shared_ptr<_PageChangeItem>>{page("docA", 1, 640, 360),
                                                                      page("docA", 2, 640, 360)}),
                        VRK_KIND_PAGE_CHANGE);
        QCOMPARE(view.currentPage()->pageNum, qint16(2));
        QCOMPARE(view.canvas().size(), QSize(640, 360));
        QVERIFY(near(view.canvas().toImage().pixelColor(600, 20), QColor(200, 40, 40)));

        // format guessed from content
        view.onItem(dw, page("docA", 3, 64, 48));
        QCOMPARE(view.canvas().size(), QSize(64, 48));
        QVERIFY(near(view.canvas().toImage().pixelColor(10, 10), QColor(20, 180, 20)));

        // "#" page: plain white page of the recorded size, whatever lies on disk
        view.onItem(dw, page("docA", 1, 1280, 720, QStringLiteral("#")));
        QVERIFY(view.pageImagePath().isEmpty());
        QCOMPARE(view.canvas().size(), QSize(1280, 720));
        QCOMPARE(view.canvas().toImage().pixelColor(640, 360), QColor(Qt::white));

        // missing image: white page of the recorded size
        view.onItem(dw, page("docA", 7, 800, 600));
        QCOMPARE(view.canvas().size(), QSize(800, 600));
        const QImage missing = view.canvas().toImage();
        QCOMPARE(missing.pixelColor(0, 0), QColor(Qt::white));
        QCOMPARE(missing.pixelColor(799, 599), QColor(Qt::white));

        // missing image of size 0x0: nothing to show
        view.onItem(dw, page("docA", 8, 0, 0));
        QVERIFY(view.canvas().isNull());
        QVERIFY(!view.displaySize().isValid());

        // without a session there is no path: white page
        PlotView lonely;
        lonely.onItem(nullptr, page("docA", 1, 100, 50));
        QVERIFY(lonely.pageImagePath().isEmpty());
        QCOMPARE(lonely.canvas().size(), QSize(100, 50));
        QCOMPARE(lonely.canvas().toImage().pixelColor(50, 25), QColor(Qt::white));

        // an empty page list changes nothing
        view.onItem(dw, page("docA", 1, 640, 360));
        view.onItemList(dw, {}, VRK_KIND_PAGE_CHANGE);
        QCOMPARE(view.currentPage()->pageNum, qint16(1));
    }

    void drawTypes() {
        auto dw = session(m_workspace);
        PlotView view;
        view.onItem(dw, page("docA", 1, 640, 360));

        // 2, 3, 4 add
        view.onItem(dw, draw(2, "docA", 1, "l1"));
        view.onItem(dw, draw(3, "docA", 1, "r1"));
        view.onItem(dw, draw(4, "docA", 1, "e1"));
        QCOMPARE(drawIds(view), (QStringList{"l1", "r1", "e1"}));

        // 5 adds; the same drawid right after replaces the text
        auto t1 = draw(5, "docA", 1, "t1");
        auto t1b = draw(5, "docA", 1, "t1");
        view.onItem(dw, t1);
        view.onItem(dw, t1b);
        QCOMPARE(drawIds(view), (QStringList{"l1", "r1", "e1", "t1"}));
        QVERIFY(view.drawings().last() == t1b);
        // with another drawing in between both texts stay
        view.onItem(dw, draw(2, "docA", 1, "l2"));
        view.onItem(dw, draw(5, "docA", 1, "t1"));
        QCOMPARE(drawIds(view), (QStringList{"l1", "r1", "e1", "t1", "l2", "t1"}));
        // drawid comparison is case-sensitive
        view.onItem(dw, draw(5, "docA", 1, "T1"));
        QCOMPARE(drawIds(view).size(), 7);

        // 9 removes every drawing with its drawid, wherever it is
        view.onItem(dw, draw(9, "docA", 1, "t1"));
        QCOMPARE(drawIds(view), (QStringList{"l1", "r1", "e1", "l2", "T1"}));
        view.onItem(dw, draw(9, "docA", 1, "nothing-with-this-id"));
        QCOMPARE(drawIds(view).size(), 5);

        // 1 removes the last drawing
        view.onItem(dw, draw(1, "docA", 1));
        QCOMPARE(drawIds(view), (QStringList{"l1", "r1", "e1", "l2"}));

        // 0, 6, 7, 8 and unknown types clear
        for (int type : {0, 6, 7, 8, 42, -1}) {
            view.onItem(dw, draw(2, "docA", 1, "x"));
            QVERIFY(!view.drawings().isEmpty());
            view.onItem(dw, draw(type, "docA", 1));
            QVERIFY2(view.drawings().isEmpty(), qPrintable(QString::number(type)));
        }
        // 1 on an empty page changes nothing
        view.onItem(dw, draw(1, "docA", 1));
        QVERIFY(view.drawings().isEmpty());

        // a batch applies in order with the same rules
        view.onItemList(dw,
                        items(QList<std::shared_ptr<_DrawItem>>{
                            draw(2, "docA", 1, "a"), draw(3, "docA", 1, "b"), draw(1, "docA", 1),
                            draw(4, "docA", 1, "c"), draw(5, "docA", 1, "c")}),
                        VRK_KIND_DRAW);
        QCOMPARE(drawIds(view), (QStringList{"a", "c"}));
        QCOMPARE(view.drawings().last()->data.type, qint16(5));

        // a page change drops the drawings
        view.onItem(dw, page("docA", 2, 640, 360));
        QVERIFY(view.drawings().isEmpty());
    }

    void pageFiltering() {
        auto dw = session(m_workspace);
        PlotView view;

        // before any page: accepted, never painted, dropped at the first page change
        view.onItem(dw, draw(2, "docA", 1, "early"));
        QCOMPARE(drawIds(view), QStringList{"early"});
        QVERIFY(view.canvas().isNull());
        view.onItemList(dw, items(QList<std::shared_ptr<_DrawItem>>{draw(2, "docA", 1, "batch")}),
                        VRK_KIND_DRAW);
        QCOMPARE(drawIds(view), QStringList{"early"});  // a batch needs a page
        view.onItem(dw, page("docA", 1, 640, 360));
        QVERIFY(view.drawings().isEmpty());

        view.onItem(dw, draw(2, "docA", 1, "mine"));
        // other page, other document, other case of the document id: ignored
        view.onItem(dw, draw(2, "docA", 2, "otherPage"));
        view.onItem(dw, draw(2, "docB", 1, "otherDoc"));
        view.onItem(dw, draw(2, "DOCA", 1, "otherCase"));
        // a clear of type 0 for another page is ignored
        view.onItem(dw, draw(0, "docA", 2));
        view.onItem(dw, draw(9, "docB", 1, "mine"));
        QCOMPARE(drawIds(view), QStringList{"mine"});
        // a clear of type 8 applies whatever page it belongs to
        view.onItem(dw, draw(8, "docB", 9));
        QVERIFY(view.drawings().isEmpty());

        view.onItemList(dw,
                        items(QList<std::shared_ptr<_DrawItem>>{
                            draw(2, "docA", 1, "k1"), draw(2, "docA", 2, "no"), draw(3, "docA", 1, "k2"),
                            draw(0, "docB", 1), draw(8, "docB", 3), draw(4, "docA", 1, "k3")}),
                        VRK_KIND_DRAW);
        QCOMPARE(drawIds(view), QStringList{"k3"});

        // items of other kinds change nothing
        view.onItem(dw, chat("a", "student", "hello"));
        view.onItem(dw, question("1", "q", "why"));
        view.onItemList(dw, items(QList<std::shared_ptr<_ChatLogItem>>{chat("a", "student", "x")}),
                        VRK_KIND_CHAT);
        QCOMPARE(drawIds(view), QStringList{"k3"});
        QCOMPARE(view.currentPage()->pageNum, qint16(1));
    }

    void paintedCanvas() {
        auto dw = session(m_workspace);
        PlotView view;
        view.onItem(dw, page("docA", 1, 400, 300, QStringLiteral("#")));
        // red line across the top right, green rectangle, blue ellipse ending at (0.5, 0.9)
        view.onItem(dw, line("docA", 1, {QPointF(0.55, 0.15), QPointF(0.9, 0.15)}, 0xFF0000, 6, "l"));
        view.onItem(dw, shape(3, "docA", 1, QRectF(0.1, 0.1, 0.3, 0.2), 0x00C000, 6, "r"));
        view.onItem(dw, shape(4, "docA", 1, QRectF(0.5, 0.9, 0.1, 0.1), 0x0000FF, 6, "e"));
        view.onItem(dw, text("docA", 1, QRectF(0.6, 0.35, 0.35, 0.3), QString::fromUtf8("中文 Text"), 30,
                             0xC000C0, "t"));
        const QImage c = view.canvas().toImage();
        QCOMPARE(c.size(), QSize(400, 300));
        // stroke
        QVERIFY(near(c.pixelColor(280, 45), QColor(255, 0, 0)));
        QVERIFY(near(c.pixelColor(280, 60), Qt::white));
        // rectangle outline (left edge at x 40, top at y 30), no fill
        QVERIFY(near(c.pixelColor(40, 60), QColor(0, 192, 0)));
        QVERIFY(near(c.pixelColor(100, 30), QColor(0, 192, 0)));
        QVERIFY(near(c.pixelColor(100, 60), Qt::white));
        // ellipse: bounding box 120..200 x 210..270, so its top is at (160, 210) and its centre empty
        QVERIFY(near(c.pixelColor(160, 210), QColor(0, 0, 255)));
        QVERIFY(near(c.pixelColor(120, 240), QColor(0, 0, 255)));
        QVERIFY(near(c.pixelColor(200, 240), QColor(0, 0, 255)));
        QVERIFY(near(c.pixelColor(160, 240), Qt::white));
        // text inside its rectangle, in its colour
        QVERIFY(countNear(c, QRect(240, 105, 140, 90), QColor(192, 0, 192), 60) > 40);
        QCOMPARE(countNear(c, QRect(240, 200, 140, 20), QColor(192, 0, 192), 60), 0);

        // the text glyphs come from a font that has Chinese characters
        QFont font(PlotView::tr("Microsoft YaHei UI"));
        font.setPixelSize(30);
        QVERIFY(QFontMetrics(font).inFontUcs4(0x4E2D));

        // removing the text by its drawid repaints the canvas without it
        view.onItem(dw, draw(9, "docA", 1, "t"));
        QCOMPARE(countNear(view.canvas().toImage(), QRect(240, 105, 140, 90), QColor(192, 0, 192), 60), 0);
        QVERIFY(near(view.canvas().toImage().pixelColor(280, 45), QColor(255, 0, 0)));

        // widget painting: letterboxed in light grey, page at 99 % of the fitting size
        view.resize(500, 500);
        QCOMPARE(view.displaySize(), QSize(qRound(400 * 1.25 * 0.99), qRound(300 * 1.25 * 0.99)));
        const QImage shown = view.grab().toImage();
        QCOMPARE(shown.pixelColor(250, 5), QColor(245, 245, 245));
        QVERIFY(near(shown.pixelColor(250, 250), Qt::white));
        const int top = (500 - qRound(300 * 1.25 * 0.99)) / 2;
        // the red stroke at page (280, 45) lands at the scaled position
        const double f = 1.25 * 0.99;
        const int left = (500 - qRound(400 * f)) / 2;
        QVERIFY(countNear(shown, QRect(left + int(280 * f) - 3, top + int(45 * f) - 3, 7, 7),
                          QColor(255, 0, 0)) > 0);
        // resizing rescales without touching the canvas
        const qint64 before = view.canvas().cacheKey();
        view.resize(300, 300);
        QCOMPARE(view.displaySize(), QSize(qRound(400 * 0.75 * 0.99), qRound(300 * 0.75 * 0.99)));
        QCOMPARE(view.canvas().cacheKey(), before);
    }

    // A dispatch that arrives while onItem lets pending events run must give the same result as
    // handling the events one after another: same order, nothing twice.
    void nestedDispatch() {
        auto dw = session(m_workspace);
        auto d1 = line("docA", 1, {QPointF(0.1, 0.1), QPointF(0.9, 0.1)}, 0xFF0000, 4, "d1");
        auto d2 = shape(3, "docA", 1, QRectF(0.2, 0.2, 0.2, 0.2), 0x00FF00, 4, "d2");
        auto d3 = draw(1, "docA", 1);  // removes d2 when applied after it
        auto d4 = text("docA", 1, QRectF(0.5, 0.5, 0.4, 0.3), QStringLiteral("x"), 20, 0x0000FF, "d4");
        auto d5 = text("docA", 1, QRectF(0.5, 0.5, 0.4, 0.3), QStringLiteral("y"), 20, 0x0000FF, "d4");

        PlotView sequential;
        sequential.onItem(dw, page("docA", 1, 320, 180, "#"));
        sequential.onItem(dw, d1);
        sequential.onItem(dw, d2);
        sequential.onItemList(dw, items(QList<std::shared_ptr<_DrawItem>>{d3, d4}), VRK_KIND_DRAW);
        sequential.onItem(dw, d5);

        PlotView nested;
        nested.onItem(dw, page("docA", 1, 320, 180, "#"));
        int nestedCalls = 0;
        bool outerReturned = false;
        bool ranInside = false;
        // Posted before the outer call: they run inside its processEvents.
        // Posted before the outer call, so it runs inside the outer call's processEvents; it posts the
        // next report itself before handing out its own events, as a session being fed reports would.
        QMetaObject::invokeMethod(
            &nested,
            [&] {
                ++nestedCalls;
                ranInside = !outerReturned;
                QMetaObject::invokeMethod(
                    &nested,
                    [&] {
                        ++nestedCalls;
                        nested.onItem(dw, d5);
                    },
                    Qt::QueuedConnection);
                nested.onItem(dw, d2);  // must not let the report posted above overtake d3 and d4
                nested.onItemList(dw, items(QList<std::shared_ptr<_DrawItem>>{d3, d4}), VRK_KIND_DRAW);
            },
            Qt::QueuedConnection);
        nested.onItem(dw, d1);
        outerReturned = true;
        QCoreApplication::processEvents();
        QCOMPARE(nestedCalls, 2);
        QVERIFY(ranInside);
        QCOMPARE(drawIds(nested), drawIds(sequential));
        QCOMPARE(drawIds(nested), (QStringList{"d1", "d4"}));
        QVERIFY(nested.drawings().last() == d5);
        QCOMPARE(nested.canvas().toImage(), sequential.canvas().toImage());
    }

    // The same through a real session: a play-position report that arrives while the first stroke is
    // shown hands out the later strokes once, after it.
    void nestedSessionDispatch() {
        auto dw = session(m_workspace);
        auto meta = dw->getRootItem()->datas->meta_item;
        meta->pageChange << page("docA", 1, 320, 180, "#", 0);
        auto d1 = draw(2, "docA", 1, "d1", 1000);
        auto d2 = draw(3, "docA", 1, "d2", 2000);
        auto d3 = draw(4, "docA", 1, "d3", 3000);
        auto d4 = draw(2, "docA", 1, "d4", 9000);
        meta->draw << d1 << d2 << d3 << d4;
        PlotView view;
        dw->setObserver(&view);
        bool ranInside = false;
        bool outerReturned = false;
        QTimer::singleShot(0, &view, [&] {
            ranInside = !outerReturned;
            dw->OnTimePoint(3500);
        });
        dw->OnTimePoint(1500);  // on the GUI thread: dispatched at once
        outerReturned = true;
        QCoreApplication::processEvents();
        QVERIFY(ranInside);
        QCOMPARE(drawIds(view), (QStringList{"d1", "d2", "d3"}));
        dw->OnTimePoint(4000);
        QCOMPARE(drawIds(view), (QStringList{"d1", "d2", "d3"}));
        dw->setObserver(nullptr);
    }

    void deletedWhileProcessing() {
        auto dw = session(m_workspace);
        auto* view = new PlotView;
        view->onItem(dw, page("docA", 1, 320, 180, "#"));
        QTimer::singleShot(0, [&] { delete view; });
        view->onItem(dw, draw(2, "docA", 1, "x"));  // must not touch the deleted view afterwards
        QCoreApplication::processEvents();
    }
};

QTEST_MAIN(TestPlotView)
#include "tst_plotview.moc"
