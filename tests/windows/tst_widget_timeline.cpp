// Timeline bar, time tip, red notice and segment duration cell.
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "CSuspensionWidget.h"
#include "CustomSlider.h"
#include "CustomTime.h"
#include "TableSegmentOperateWidget.h"
#include "TimeTipLabel.h"

namespace {

void sendMouse(QWidget* w, QEvent::Type type, int x, Qt::MouseButton button = Qt::LeftButton) {
    const QPoint local(x, w->height() / 2);
    Qt::MouseButtons buttons = Qt::NoButton;
    if (type == QEvent::MouseButtonPress || (type == QEvent::MouseMove && button != Qt::NoButton)) {
        buttons = button;
    }
    QMouseEvent ev(type, local, w->mapToGlobal(local), type == QEvent::MouseMove ? Qt::NoButton : button,
                   buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

std::shared_ptr<_Segment> makeRange(qint64 b, qint64 e) {
    auto s = std::make_shared<_Segment>();
    s->begin_time = b;
    s->end_time = e;
    s->id = QStringLiteral("r");
    return s;
}

}  // namespace

class TimelineTest : public QObject {
    Q_OBJECT
private slots:
    void customTimeText();
    void sliderInitialState();
    void sliderMapping();
    void sliderReleaseAndDrag();
    void sliderWithoutRange();
    void sliderCursorNearLine();
    void sliderTipsAndLeave();
    void timeTipPlacementAndClamping();
    void noticeFitAndTimer();
    void noticePlacement();
    void durationCell();
};

void TimelineTest::customTimeText() {
    _CustomTime t(3725042);
    QCOMPARE(t.hour, 1);
    QCOMPARE(t.minute, 2);
    QCOMPARE(t.second, 5);
    QCOMPARE(t.millisecond, 42);
    QCOMPARE(t.toString(), QStringLiteral("01:02:05.042"));
    QCOMPARE(_CustomTime::text(100LL * 3600 * 1000), QStringLiteral("100:00:00.000"));
    QCOMPARE(_CustomTime::text(0), QStringLiteral("00:00:00.000"));
    QCOMPARE(_CustomTime::text(9), QStringLiteral("00:00:00.009"));
    QCOMPARE(_CustomTime::text(99), QStringLiteral("00:00:00.099"));
    QCOMPARE(_CustomTime::text(100), QStringLiteral("00:00:00.100"));
    QCOMPARE(_CustomTime::text(59999), QStringLiteral("00:00:59.999"));
    QCOMPARE(_CustomTime::text(600000), QStringLiteral("00:10:00.000"));
    // Hours are not reduced modulo 24.
    QCOMPARE(_CustomTime::fromMs(25LL * 3600 * 1000 + 61000)->toString(), QStringLiteral("25:01:01.000"));
}

void TimelineTest::sliderInitialState() {
    CustomSlider s;
    QCOMPARE(s.objectName(), QStringLiteral("CustomSlider"));
    QCOMPARE(s.windowTitle(), QStringLiteral("CustomSlider"));
    QCOMPARE(s.size(), QSize(400, 300));
    QVERIFY(s.hasMouseTracking());
    QCOMPARE(s.duration(), 0);
    QCOMPARE(s.position(), 0);
    QVERIFY(!s.isPressed());
    QVERIFY(!s.range());
    QVERIFY(!s.playingState());
    // A name given by the owner (the form) is kept.
    QWidget parent;
    CustomSlider named(&parent);
    named.setObjectName(QStringLiteral("widget_slider"));
    QCOMPARE(parent.findChild<CustomSlider*>(QStringLiteral("widget_slider")), &named);

    s.setDuration(1000);
    s.setPosition(500);
    s.setRange(makeRange(0, 1000));
    s.reset();
    QCOMPARE(s.duration(), 0);
    QCOMPARE(s.position(), 0);
    QVERIFY(!s.range());
    // No scale without a duration: no division by zero.
    QCOMPARE(s.msToPixel(1234), 0);
    QCOMPARE(s.pixelToMs(100), 0);
}

void TimelineTest::sliderMapping() {
    CustomSlider s;
    s.resize(600, 10);
    s.setDuration(600000);
    QCOMPARE(s.msToPixel(150000), 150);
    QCOMPARE(s.pixelToMs(150), 150000);
    QCOMPARE(s.msToPixel(0), 0);
    QCOMPARE(s.msToPixel(600000), 600);
    QCOMPARE(s.pixelToMs(600), 600000);
    QCOMPARE(s.msToPixel(1999), 1);  // truncated, not rounded
    s.setDuration(1000);
    QCOMPARE(s.msToPixel(1), 0);      // 0.6 px
    QCOMPARE(s.pixelToMs(1), 1);      // 1.67 ms
    QCOMPARE(s.pixelToMs(599), 998);  // 998.33 ms
    // Large values keep their precision (64-bit, double arithmetic).
    s.setDuration(10LL * 3600 * 1000);
    QCOMPARE(s.pixelToMs(300), 5LL * 3600 * 1000);
}

void TimelineTest::sliderReleaseAndDrag() {
    CustomSlider s;
    s.resize(600, 10);
    s.setDuration(600000);
    s.setRange(makeRange(0, 600000));
    QStringList order;
    QList<qlonglong> positions;
    QList<bool> stops;
    connect(&s, &CustomSlider::signalCurrentPosition, [&](qlonglong p) {
        order << QStringLiteral("pos");
        positions << p;
    });
    connect(&s, &CustomSlider::signalStopPlaying, [&](bool stop) {
        order << QStringLiteral("stop");
        stops << stop;
    });

    // The owner remembers that playback was running before the drag: the release asks to play again.
    s.setPlayingState(true);
    QVERIFY(!s.playingState());
    sendMouse(&s, QEvent::MouseButtonPress, 150);
    QVERIFY(s.isPressed());
    QCOMPARE(order, QStringList({QStringLiteral("stop")}));
    QCOMPARE(stops.last(), true);
    sendMouse(&s, QEvent::MouseButtonRelease, 150);
    QVERIFY(!s.isPressed());
    QCOMPARE(order, QStringList({"stop", "pos", "stop"}));
    QCOMPARE(positions, QList<qlonglong>({150000}));
    QCOMPARE(stops.last(), false);
    QCOMPARE(s.position(), 150000);

    // A drag moves the line without reporting; the release reports the final position once.
    order.clear();
    positions.clear();
    s.setPlayingState(false);
    sendMouse(&s, QEvent::MouseButtonPress, 100);
    sendMouse(&s, QEvent::MouseMove, 200, Qt::LeftButton);
    QCOMPARE(s.position(), 200000);
    sendMouse(&s, QEvent::MouseMove, 250, Qt::LeftButton);
    QCOMPARE(s.position(), 250000);
    QVERIFY(positions.isEmpty());
    sendMouse(&s, QEvent::MouseButtonRelease, 250);
    QCOMPARE(positions, QList<qlonglong>({250000}));
    QCOMPARE(stops.last(), true);

    // Releasing outside the range reports the unchanged position.
    s.setRange(makeRange(100000, 200000));
    s.setPosition(120000);
    positions.clear();
    sendMouse(&s, QEvent::MouseButtonPress, 300);
    sendMouse(&s, QEvent::MouseMove, 350, Qt::LeftButton);  // dragging outside the range moves nothing
    QCOMPARE(s.position(), 120000);
    sendMouse(&s, QEvent::MouseButtonRelease, 300);
    QCOMPARE(positions, QList<qlonglong>({120000}));
    QCOMPARE(s.position(), 120000);
    // Both range ends are inclusive.
    sendMouse(&s, QEvent::MouseButtonPress, 200);
    sendMouse(&s, QEvent::MouseButtonRelease, 200);
    QCOMPARE(positions.last(), 200000);
    sendMouse(&s, QEvent::MouseButtonPress, 100);
    sendMouse(&s, QEvent::MouseButtonRelease, 100);
    QCOMPARE(positions.last(), 100000);
    sendMouse(&s, QEvent::MouseButtonPress, 99);
    sendMouse(&s, QEvent::MouseButtonRelease, 99);
    QCOMPARE(positions.last(), 100000);
}

void TimelineTest::sliderWithoutRange() {
    CustomSlider s;
    s.resize(600, 10);
    s.setDuration(600000);
    s.setPosition(5000);
    QSignalSpy pos(&s, &CustomSlider::signalCurrentPosition);
    QSignalSpy stop(&s, &CustomSlider::signalStopPlaying);
    sendMouse(&s, QEvent::MouseButtonPress, 300);
    QVERIFY(s.isPressed());
    sendMouse(&s, QEvent::MouseMove, 320, Qt::LeftButton);
    sendMouse(&s, QEvent::MouseButtonRelease, 300);
    QVERIFY(!s.isPressed());
    QCOMPARE(pos.count(), 0);
    QCOMPARE(stop.count(), 1);
    QCOMPARE(stop.at(0).at(0).toBool(), true);
    QCOMPARE(s.position(), 5000);
}

void TimelineTest::sliderCursorNearLine() {
    CustomSlider s;
    s.resize(600, 10);
    s.setDuration(600000);
    s.setRange(makeRange(0, 600000));
    s.setPosition(150000);  // line at x = 150
    const QList<int> near = {148, 149, 150, 151, 152};
    for (int x : near) {
        sendMouse(&s, QEvent::MouseMove, 0, Qt::NoButton);
        QCOMPARE(s.cursor().shape(), Qt::ArrowCursor);
        sendMouse(&s, QEvent::MouseMove, x, Qt::NoButton);
        QVERIFY2(s.cursor().shape() == Qt::SizeHorCursor, qPrintable(QString::number(x)));
    }
    for (int x : {147, 153, 400}) {
        sendMouse(&s, QEvent::MouseMove, 150, Qt::NoButton);
        QCOMPARE(s.cursor().shape(), Qt::SizeHorCursor);
        sendMouse(&s, QEvent::MouseMove, x, Qt::NoButton);
        QVERIFY2(s.cursor().shape() == Qt::ArrowCursor, qPrintable(QString::number(x)));
    }
    // The release puts the arrow back.
    sendMouse(&s, QEvent::MouseMove, 150, Qt::NoButton);
    sendMouse(&s, QEvent::MouseButtonPress, 150);
    sendMouse(&s, QEvent::MouseButtonRelease, 150);
    QCOMPARE(s.cursor().shape(), Qt::ArrowCursor);
}

void TimelineTest::sliderTipsAndLeave() {
    QWidget top;
    top.resize(700, 100);
    CustomSlider s(&top);
    s.setGeometry(50, 40, 600, 10);
    s.setDuration(600000);
    s.setRange(makeRange(0, 600000));
    top.show();
    QVERIFY(QTest::qWaitForWindowExposed(&top));
    QSignalSpy show(&s, &CustomSlider::signalShowTimeTips);
    QSignalSpy hide(&s, &CustomSlider::signalHideTimeTips);
    sendMouse(&s, QEvent::MouseMove, 300, Qt::NoButton);
    QCOMPARE(show.count(), 1);
    QCOMPARE(show.at(0).at(1).toString(), QStringLiteral("00:05:00.000"));
    const QPoint p = show.at(0).at(0).toPoint();
    QCOMPARE(p.x(), s.mapToGlobal(QPoint(300, 0)).x());
    QCOMPARE(p.y(), s.mapToGlobal(QPoint(0, 0)).y());
    // Also while dragging.
    sendMouse(&s, QEvent::MouseButtonPress, 60);
    sendMouse(&s, QEvent::MouseMove, 61, Qt::LeftButton);
    QCOMPARE(show.count(), 2);
    QCOMPARE(show.at(1).at(1).toString(), QStringLiteral("00:01:01.000"));
    sendMouse(&s, QEvent::MouseButtonRelease, 61);
    // Edges inclusive; outside the bar no tip.
    sendMouse(&s, QEvent::MouseMove, 0, Qt::NoButton);
    sendMouse(&s, QEvent::MouseMove, 600, Qt::NoButton);
    QCOMPARE(show.count(), 4);
    QCOMPARE(show.at(3).at(1).toString(), QStringLiteral("00:10:00.000"));
    sendMouse(&s, QEvent::MouseMove, -1, Qt::NoButton);
    sendMouse(&s, QEvent::MouseMove, 601, Qt::NoButton);
    QCOMPARE(show.count(), 4);
    QCOMPARE(hide.count(), 0);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&s, &leave);
    QCOMPARE(hide.count(), 1);
}

void TimelineTest::timeTipPlacementAndClamping() {
    QWidget window;
    window.resize(400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    TimeTipLabel tip(&window);
    QVERIFY(tip.isHidden());
    QCOMPARE(tip.size(), QSize(30, 30));
    QCOMPARE(tip.contentsMargins(), QMargins(0, 0, 0, 6));
    QVERIFY(tip.styleSheet().contains(QStringLiteral(":/common/Resources/common/timetips.png")));

    const QString text = QStringLiteral("00:05:00.000");
    const int textWidth = tip.fontMetrics().horizontalAdvance(text);
    tip.slotShowTimeTips(window.mapToGlobal(QPoint(200, 250)), text);
    QVERIFY(tip.isVisible());
    QCOMPARE(tip.text(), text);
    QCOMPARE(tip.width(), textWidth + 10);
    QCOMPARE(tip.height(), 30);
    QCOMPARE(tip.pos(), QPoint(200 - textWidth / 2, 250 - 30 - 5));

    // Near the left edge the tip stays inside the window.
    tip.slotShowTimeTips(window.mapToGlobal(QPoint(3, 250)), text);
    QCOMPARE(tip.pos().x(), 0);
    // Near the right edge likewise.
    tip.slotShowTimeTips(window.mapToGlobal(QPoint(398, 100)), text);
    QCOMPARE(tip.pos(), QPoint(400 - tip.width(), 100 - 35));

    tip.slotHideTimeTips();
    QVERIFY(tip.isHidden());
}

void TimelineTest::noticeFitAndTimer() {
    QWidget owner;
    owner.resize(600, 400);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    CSuspensionWidget n(&owner);
    QCOMPARE(n.objectName(), QStringLiteral("suspensionWidget"));
    QVERIFY(n.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(n.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!n.isWindow());
    QVERIFY(n.findChild<QLabel*>(QStringLiteral("suspensionWidgetLabel")));
    QVERIFY(n.styleSheet().contains(QStringLiteral("#F97979")));
    QVERIFY(n.hideTimer());
    QCOMPARE(n.hideTimer()->interval(), 3000);

    // Empty text: invalid size, size unchanged.
    n.resize(77, 33);
    QVERIFY(!n.fitToText().isValid());
    QCOMPARE(n.size(), QSize(77, 33));

    n.showText(QStringLiteral("Clips are less than 20"), false);
    QCOMPARE(n.text(), QStringLiteral("Clips are less than 20"));
    QFont f(QStringLiteral("Microsoft YaHei UI"));
    f.setPixelSize(14);
    const QSize want(QFontMetrics(f).horizontalAdvance(n.text()) + 46, 44);
    QCOMPARE(n.fitToText(), want);
    QCOMPARE(n.size(), want);
    QVERIFY(n.hideTimer()->isActive());
    QCOMPARE(n.hideTimer()->interval(), 3000);
    n.show();

    // A second notice within the interval restarts it.
    QTest::qWait(600);
    const int before = n.hideTimer()->remainingTime();
    QVERIFY(before >= 0 && before < 3000);
    n.showText(QStringLiteral("again"), false);
    QVERIFY(n.hideTimer()->remainingTime() > before + 200);
    QVERIFY(n.isVisible());

    // The notice hides itself when the interval has passed.
    n.setInterval(50);
    n.showText(QStringLiteral("short"), false);
    QTRY_VERIFY(n.isHidden());

    // stop timer keeps it up.
    n.show();
    n.showText(QStringLiteral("stopped"), false);
    n.stopTimer();
    QVERIFY(!n.hideTimer()->isActive());

    // A kept notice has no timer; the next non-kept one gets a fresh 3000 ms timer.
    n.showText(QStringLiteral("kept"), true);
    QVERIFY(!n.hideTimer());
    QVERIFY(!n.findChild<QTimer*>());
    n.setInterval(10);  // no timer: nothing to set, no crash
    n.stopTimer();
    QTest::qWait(100);
    QVERIFY(n.isVisible());
    n.showText(QStringLiteral("not kept"), false);
    QVERIFY(n.hideTimer());
    QCOMPARE(n.hideTimer()->interval(), 3000);
    QVERIFY(n.hideTimer()->isActive());
}

void TimelineTest::noticePlacement() {
    QWidget owner;
    owner.resize(600, 400);
    QWidget bar(&owner);
    bar.setObjectName(QStringLiteral("widget_slider"));
    bar.setGeometry(50, 300, 500, 10);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    CSuspensionWidget n(&owner);
    n.showText(QStringLiteral("duration shall be more than 10 seconds"), false);
    // Not visible: nothing moves.
    n.hide();
    n.move(1, 1);
    n.placeAboveSlider(&owner);
    QCOMPARE(n.pos(), QPoint(1, 1));
    n.setVisible(true);
    n.placeAboveSlider(&owner);
    const int w = n.width();
    QVERIFY(w < 500);
    QCOMPARE(n.height(), 44);
    QCOMPARE(n.pos(), QPoint(50 + (500 - w) / 2, 300 - 44 - 8));
    QVERIFY(n.isVisible());

    // A notice wider than the bar starts at the bar's left edge.
    bar.setGeometry(70, 200, 40, 10);
    n.placeAboveSlider(&owner);
    QCOMPARE(n.pos(), QPoint(70, 200 - 52));
}

void TimelineTest::durationCell() {
    TableSegmentOperateWidget cell(QStringLiteral("seg-1"));
    QCOMPARE(cell.objectName(), QStringLiteral("operateCell"));
    QCOMPARE(cell.minimumSize(), QSize(80, 36));
    QCOMPARE(cell.maximumSize(), QSize(94, 36));
    QCOMPARE(cell.segmentId(), QStringLiteral("seg-1"));
    auto* label = cell.findChild<QLabel*>(QStringLiteral("labelDuration"));
    auto* button = cell.findChild<QToolButton*>(QStringLiteral("deleteSrcBtn"));
    QVERIFY(label && button);
    QVERIFY(cell.findChild<QFrame*>(QStringLiteral("frame")));
    QVERIFY(button->isHidden());
    QVERIFY(!label->isHidden());

    cell.setDuration(9999);
    QCOMPARE(cell.durationText(), QStringLiteral("00:09"));
    cell.setDuration(600000);
    QCOMPARE(label->text(), QStringLiteral("10:00"));
    cell.setDuration(65000);
    QCOMPARE(label->text(), QStringLiteral("01:05"));
    cell.setDuration(3700000);
    QCOMPARE(label->text(), QStringLiteral("61:40"));
    cell.setDuration(10000);
    QCOMPARE(label->text(), QStringLiteral("00:10"));

    // Hover swaps the text for the delete button and back.
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(&cell, &enter);
    QVERIFY(!button->isHidden());
    QVERIFY(label->isHidden());
    QVERIFY(cell.isDeleteVisible());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&cell, &leave);
    QVERIFY(button->isHidden());
    QVERIFY(!label->isHidden());
    cell.setDeleteVisible(true);
    QVERIFY(!button->isHidden());
    QVERIFY(label->isHidden());

    QSignalSpy removed(&cell, &TableSegmentOperateWidget::signalRemoveSegment);
    button->click();
    QCOMPARE(removed.count(), 1);

    cell.setBackground(QString());
    QVERIFY(cell.styleSheet().isEmpty());
    cell.setBackground(QStringLiteral("#F4F5F6"));
    QCOMPARE(cell.styleSheet(), QStringLiteral("QWidget{background:#F4F5F6}"));
    QCOMPARE(cell.findChild<QFrame*>(QStringLiteral("frame"))->styleSheet(),
             QStringLiteral("QWidget{background:#F4F5F6}"));
}

QTEST_MAIN(TimelineTest)
#include "tst_widget_timeline.moc"
