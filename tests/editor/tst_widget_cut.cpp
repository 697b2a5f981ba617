// The cut task window driven through its widgets with generated packages.
#include <QClipboard>
#include <QDateTimeEdit>
#include <QHeaderView>
#include <QLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <QUuid>

#include "CSettings.h"
#include "CSuspensionWidget.h"
#include "CustomSlider.h"
#include "DataWrapper.h"
#include "ResourceEditWidget.h"
#include "TableSegmentOperateWidget.h"
#include "TaskInterface.h"
#include "TemplateInterface.h"
#include "tst_widget_support.h"

using namespace widgettest;

namespace {

struct NullObserver : TaskInterfaceObserver {
    void onStatusChange(QString, int) override {}
    void onFinish(QString, bool, int) override {}
    void onProgressValueChange(QString, float) override {}
};

template <typename T>
T* child(QWidget* w, const char* name) {
    return w->findChild<T*>(QString::fromLatin1(name));
}

QDateTimeEdit* beginEdit(QWidget* w) {
    return child<QDateTimeEdit>(w, "dateTimeEdit_begin");
}
QDateTimeEdit* endEdit(QWidget* w) {
    return child<QDateTimeEdit>(w, "dateTimeEdit_end");
}

QTime msTime(qint64 ms) {
    return QTime(0, 0).addMSecs(int(ms));
}

}  // namespace

class CutWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void emptyWindowAndTaskContract();
    void packageLengthLimit();
    void segmentRules();
    void timeEditsAndTimeline();
    void closeQuestion();

private:
    // Opens `path` through "Add File"; a message box, when one comes, is read into *seen.
    void openThroughButton(ResourceEditWidget& w, const QString& path,
                           std::shared_ptr<MessageSeen> seen = {});
    void addSegment(ResourceEditWidget& w, qint64 begin, qint64 end);

    QTemporaryDir m_dir;
    QString m_p60;
    QString m_p59999;
    QString m_p60000;
    QString m_p200;
};

void CutWindowTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_p60 = m_dir.filePath(QStringLiteral("base60.vrk"));
    m_p200 = m_dir.filePath(QStringLiteral("long200.vrk"));
    QVERIFY(testsupport::makeSample(m_p60,
                                    {"--duration", "60", "--size", "320x180", "--fps", "10", "--no-audio"}));
    QVERIFY(testsupport::makeSample(
        m_p200, {"--template", "2", "--duration", "200", "--size", "320x180", "--fps", "10", "--no-audio"}));
    m_p59999 = m_dir.filePath(QStringLiteral("short59999.vrk"));
    m_p60000 = m_dir.filePath(QStringLiteral("exact60000.vrk"));
    QVERIFY(makeExactLengthPackage(m_p60, 59999, m_p59999));
    QVERIFY(makeExactLengthPackage(m_p60, 60000, m_p60000));
}

void CutWindowTest::openThroughButton(ResourceEditWidget& w, const QString& path,
                                      std::shared_ptr<MessageSeen> seen) {
    ModalAnswerer answerer;
    answerer.chooseFile(path);
    if (seen) {
        answerer.answerMessage(seen);
    }
    QTest::mouseClick(child<QPushButton>(&w, "pushButton_add_file"), Qt::LeftButton);
    QVERIFY(waitUntil([&] { return answerer.pending() == 0; }, 30000));
}

void CutWindowTest::addSegment(ResourceEditWidget& w, qint64 begin, qint64 end) {
    beginEdit(&w)->setTime(msTime(begin));
    endEdit(&w)->setTime(msTime(end));
    QTest::mouseClick(child<QPushButton>(&w, "addCutSegmentBtn"), Qt::LeftButton);
}

void CutWindowTest::emptyWindowAndTaskContract() {
    ResourceEditWidget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.size(), QSize(950, 570));
    QCOMPARE(w.minimumSize(), QSize(950, 570));
    QCOMPARE(w.maximumSize(), QSize(950, 570));
    QCOMPARE(w.windowTitle(), QStringLiteral("ResourceEditWidget"));
    QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(child<QLabel>(&w, "label_4")->text(), QStringLiteral("Playback Cut"));
    QCOMPARE(child<QLabel>(&w, "label_current_play_time")->text(), QStringLiteral("00:00:00.000"));
    QCOMPARE(child<QLabel>(&w, "label_FullVideoLength")->text(), QStringLiteral("/ 00:00:00.000"));
    QCOMPARE(child<QLabel>(&w, "segmentsAddedLabel")->text(), QStringLiteral("segments has been add(0/10)"));
    QVERIFY(child<CustomSlider>(&w, "widget_slider"));
    QCOMPARE(beginEdit(&w)->displayFormat(), QStringLiteral("hh:mm:ss.zzz"));
    QCOMPARE(endEdit(&w)->currentSection(), QDateTimeEdit::HourSection);
    QCOMPARE(beginEdit(&w)->minimumDateTime(), QDateTime(QDate(2000, 1, 1), QTime(0, 0)));
    auto* table = child<QTableWidget>(&w, "segmentTableWidget");
    QCOMPARE(table->columnCount(), 3);
    QCOMPARE(table->rowCount(), 10);
    QCOMPARE(table->horizontalHeaderItem(1)->text(), QStringLiteral("Start-stop time"));
    QCOMPARE(table->horizontalHeader()->objectName(), QStringLiteral("segmentHoriHeader"));
    QCOMPARE(table->columnWidth(0), 30);
    QCOMPARE(table->columnWidth(1), 116);
    QCOMPARE(table->columnWidth(2), 84);

    // Empty: only "Add File" and the close button act.
    QVERIFY(child<QPushButton>(&w, "pushButton_add_file")->isEnabled());
    for (const char* name : {"pushButton_play", "addCutSegmentBtn", "setSegmentStartBtn", "setSegmentEndBtn",
                             "pushButton_output_option", "pushButton_sure"}) {
        QVERIFY2(!child<QWidget>(&w, name)->isEnabled(), name);
    }
    QVERIFY(!beginEdit(&w)->isEnabled());
    QVERIFY(table->isHidden());
    QVERIFY(child<QLabel>(&w, "segmentsAddedLabel")->isHidden());

    // Task contract while empty.
    QCOMPARE(w.taskType(), 0);
    QCOMPARE(w.status(), 3);
    QVERIFY(!QUuid::fromString(w.taskId()).isNull());
    ResourceEditWidget other;
    QVERIFY(other.taskId() != w.taskId());
    QVERIFY(w.outputPath().isEmpty());
    QCOMPARE(w.timeConsume(), 0);
    NullObserver observer;
    w.setObserver(&observer);
    QVERIFY(!w.startTask());  // no session
    w.setStatus(1);
    QCOMPARE(w.status(), 1);
    QCOMPARE(w.timeConsume(), 0);  // never started

    // Play and pause without a session change nothing.
    w.slotPlay();
    QVERIFY(!child<QPushButton>(&w, "pushButton_play")->isChecked());
}

void CutWindowTest::packageLengthLimit() {
    ResourceEditWidget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // No choice: nothing happens.
    openThroughButton(w, QString());
    QVERIFY(!w.session());
    QVERIFY(child<QPushButton>(&w, "pushButton_add_file")->isEnabled());

    auto seen = std::make_shared<MessageSeen>();
    openThroughButton(w, m_p59999, seen);
    QCOMPARE(seen->text, QStringLiteral("Video should not be less than 1 minutes"));
    QCOMPARE(seen->title, QStringLiteral("error"));
    QVERIFY(!w.session());
    QVERIFY(!child<QPushButton>(&w, "pushButton_play")->isEnabled());
    QVERIFY(child<QPushButton>(&w, "pushButton_add_file")->isEnabled());
    QVERIFY(w.isEnabled());
    // The folder of the chosen file is remembered.
    QCOMPARE(CSettings::instance()->read(QStringLiteral("System/Path")).toString(), m_dir.path());

    openThroughButton(w, m_p60000);
    QVERIFY(w.session());
    QCOMPARE(w.session()->getDuration(), 60000);
    QCOMPARE(child<QLabel>(&w, "label_FullVideoLength")->text(), QStringLiteral("/ 00:01:00.000"));
    QCOMPARE(w.sourceName(), QStringLiteral("exact60000.vrk"));
    QCOMPARE(w.sourceToolTip(), QStringLiteral("exact60000.vrk"));
    QVERIFY(child<QPushButton>(&w, "pushButton_play")->isEnabled());
    QVERIFY(child<QPushButton>(&w, "pushButton_output_option")->isEnabled());
    QVERIFY(!child<QPushButton>(&w, "pushButton_sure")->isEnabled());
    QVERIFY(!child<QTableWidget>(&w, "segmentTableWidget")->isHidden());
    QWidget* holder = child<QWidget>(&w, "widget_holdplace");
    QCOMPARE(holder->layout()->count(), 1);
    QVERIFY(dynamic_cast<TemplateInterface*>(holder->layout()->itemAt(0)->widget()));
    auto* slider = child<CustomSlider>(&w, "widget_slider");
    QCOMPARE(slider->duration(), 60000);
    QVERIFY(slider->range());
    QCOMPARE(slider->range()->end_time, 60000);

    // An unreadable package returns the window to empty.
    const QString broken = m_dir.filePath(QStringLiteral("broken.vrk"));
    QFile f(broken);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("this is not a package");
    f.close();
    openThroughButton(w, broken, seen);
    QCOMPARE(seen->text, QStringLiteral("can't parse the resource file."));
    QCOMPARE(seen->title, QStringLiteral("error"));
    QVERIFY(!w.session());
    QCOMPARE(holder->layout()->count(), 0);
    QCOMPARE(child<QLabel>(&w, "label_FullVideoLength")->text(), QStringLiteral("/ 00:00:00.000"));
    QVERIFY(!slider->range());
}

void CutWindowTest::segmentRules() {
    ResourceEditWidget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    openThroughButton(w, m_p200);
    QVERIFY(w.session());
    QCOMPARE(w.session()->getDuration(), 200000);
    auto* table = child<QTableWidget>(&w, "segmentTableWidget");
    auto* count = child<QLabel>(&w, "segmentsAddedLabel");
    CSuspensionWidget* notice = w.notice();
    auto* sure = child<QPushButton>(&w, "pushButton_sure");

    // 9 999 ms and an end before the begin are refused.
    addSegment(w, 10000, 19999);
    QVERIFY(notice->isVisible());
    QCOMPARE(notice->text(), QStringLiteral("duration shall be more than 10 seconds"));
    QVERIFY(w.session()->getSegments().isEmpty());
    QVERIFY(!sure->isEnabled());
    addSegment(w, 30000, 20000);
    QCOMPARE(notice->text(), QStringLiteral("duration shall be more than 10 seconds"));
    QVERIFY(w.session()->getSegments().isEmpty());
    QCOMPARE(count->text(), QStringLiteral("segments has been add(0/10)"));

    // Notice placement: centred above the bar, 8 px gap; it hides itself after 3000 ms.
    auto* bar = child<CustomSlider>(&w, "widget_slider");
    const QPoint barPos = bar->mapTo(&w, QPoint(0, 0));
    QCOMPARE(notice->parentWidget(), &w);
    QCOMPARE(notice->height(), 44);
    QCOMPARE(notice->x(), barPos.x() + (bar->width() - notice->width()) / 2);
    QCOMPARE(notice->y(), barPos.y() - 44 - 8);
    QVERIFY(notice->hideTimer() && notice->hideTimer()->isActive());
    QCOMPARE(notice->hideTimer()->interval(), 3000);

    // Exactly 10 000 ms is accepted.
    addSegment(w, 10000, 20000);
    QCOMPARE(w.session()->getSegments().size(), 1);
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(count->text(), QStringLiteral("segments has been added(1/1)"));
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("1"));
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("00:00:10.000\n00:00:20.000"));
    auto* cell = qobject_cast<TableSegmentOperateWidget*>(table->cellWidget(0, 2));
    QVERIFY(cell);
    QCOMPARE(cell->durationText(), QStringLiteral("00:10"));
    QVERIFY(sure->isEnabled());

    // Overlap: notice, table unchanged.
    addSegment(w, 15000, 25000);
    QCOMPARE(notice->text(), QStringLiteral("segment overlaps the added segment,please reselect"));
    QCOMPARE(w.session()->getSegments().size(), 1);
    QCOMPARE(table->rowCount(), 1);
    // Sharing an end point is fine; rows follow time order whatever the adding order.
    addSegment(w, 0, 10000);
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("00:00:00.000\n00:00:10.000"));
    QCOMPARE(table->item(1, 1)->text(), QStringLiteral("00:00:10.000\n00:00:20.000"));

    // Up to 20 segments: the twentieth is accepted, the twenty-first refused.
    for (int i = 2; i < 19; ++i) {
        addSegment(w, i * 10000, (i + 1) * 10000);
    }
    QCOMPARE(w.session()->getSegments().size(), 19);
    addSegment(w, 190000, 200000);
    QCOMPARE(w.session()->getSegments().size(), 20);
    QCOMPARE(count->text(), QStringLiteral("segments has been added(20/20)"));
    addSegment(w, 0, 200000);
    QCOMPARE(notice->text(), QStringLiteral("Clips are less than 20"));
    QCOMPARE(w.session()->getSegments().size(), 20);
    QCOMPARE(table->rowCount(), 20);
    // Alternate row colours.
    QCOMPARE(table->item(1, 0)->background().color(), QColor(QStringLiteral("#F4F5F6")));
    QCOMPARE(table->item(2, 1)->background().color(), QColor(QStringLiteral("#ffffff")));

    // Hovering a row shows its delete button only; leaving the table hides it.
    emit table->cellEntered(3, 0);
    for (int r = 0; r < table->rowCount(); ++r) {
        auto* c = qobject_cast<TableSegmentOperateWidget*>(table->cellWidget(r, 2));
        QCOMPARE(c->isDeleteVisible(), r == 3);
    }
    emit table->cellEntered(5, 1);
    QVERIFY(!qobject_cast<TableSegmentOperateWidget*>(table->cellWidget(3, 2))->isDeleteVisible());
    QVERIFY(qobject_cast<TableSegmentOperateWidget*>(table->cellWidget(5, 2))->isDeleteVisible());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(table, &leave);
    QVERIFY(!qobject_cast<TableSegmentOperateWidget*>(table->cellWidget(5, 2))->isDeleteVisible());

    // A wheel turn moves the scroll bar by the raw delta.
    QScrollBar* vbar = table->verticalScrollBar();
    QTRY_VERIFY(vbar->maximum() > 0);
    vbar->setValue(0);
    const QPoint at(10, 10);
    QWheelEvent wheel(at, table->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(table->viewport(), &wheel);
    QCOMPARE(vbar->value(), qMin(120, vbar->maximum()));

    // Removing the third segment through its delete button.
    auto* third = qobject_cast<TableSegmentOperateWidget*>(table->cellWidget(2, 2));
    const QString thirdId = third->segmentId();
    third->findChild<QToolButton*>(QStringLiteral("deleteSrcBtn"))->click();
    QCOMPARE(w.session()->getSegments().size(), 19);
    QVERIFY(!w.session()->getSegments().contains(thirdId));
    QCOMPARE(table->rowCount(), 20);
    QCOMPARE(count->text(), QStringLiteral("segments has been added(19/20)"));
    for (int r = 0; r < 19; ++r) {
        QCOMPARE(table->item(r, 0)->text(), QString::number(r + 1));
    }
    QCOMPARE(table->item(2, 1)->text(), QStringLiteral("00:00:30.000\n00:00:40.000"));
    QCOMPARE(table->item(2, 0)->background().color(), QColor(QStringLiteral("#ffffff")));
    QCOMPARE(table->item(3, 0)->background().color(), QColor(QStringLiteral("#F4F5F6")));
    QVERIFY(!table->item(19, 0));
    QVERIFY(!table->cellWidget(19, 2));
    // With room again, a new segment fills the gap and the table shrinks to one row per segment.
    addSegment(w, 20000, 30000);
    QCOMPARE(table->rowCount(), 20);
    QCOMPARE(count->text(), QStringLiteral("segments has been added(20/20)"));
}

void CutWindowTest::timeEditsAndTimeline() {
    ResourceEditWidget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    openThroughButton(w, m_p200);
    QVERIFY(w.session());
    auto* play = child<QPushButton>(&w, "pushButton_play");
    auto* slider = child<CustomSlider>(&w, "widget_slider");

    // An end beyond the duration is set to the duration.
    endEdit(&w)->setTime(QTime(0, 5, 0));
    QCOMPARE(endEdit(&w)->time(), QTime(0, 3, 20));
    beginEdit(&w)->setTime(QTime(1, 0, 0));
    QCOMPARE(beginEdit(&w)->time(), QTime(0, 3, 20));
    beginEdit(&w)->setTime(QTime(0, 1, 0, 5));
    QCOMPARE(beginEdit(&w)->time(), QTime(0, 1, 0, 5));

    // Start and end from the timeline's position.
    slider->setPosition(42123);
    QTest::mouseClick(child<QPushButton>(&w, "setSegmentStartBtn"), Qt::LeftButton);
    QCOMPARE(beginEdit(&w)->time(), QTime(0, 0, 42, 123));
    slider->setPosition(125000);
    QTest::mouseClick(child<QPushButton>(&w, "setSegmentEndBtn"), Qt::LeftButton);
    QCOMPARE(endEdit(&w)->time(), QTime(0, 2, 5));

    // Pasting a time into an edit.
    QApplication::clipboard()->setText(QStringLiteral("00:01:07"));
    beginEdit(&w)->setFocus();
    QKeyEvent paste(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier);
    QApplication::sendEvent(beginEdit(&w), &paste);
    QCOMPARE(beginEdit(&w)->time(), QTime(0, 1, 7));

    // Play, then a drag on the timeline pauses and the release restores playing.
    QTest::mouseClick(play, Qt::LeftButton);
    QVERIFY(play->isChecked());
    QVERIFY(play->styleSheet().contains(QStringLiteral("pause_nor.png")));
    const QPoint mid(slider->width() / 2, slider->height() / 2);
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, mid);
    QVERIFY(!play->isChecked());
    QVERIFY(play->styleSheet().contains(QStringLiteral("play_nor.png")));
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, mid);
    QVERIFY(play->isChecked());
    QCOMPARE(slider->position(), slider->pixelToMs(mid.x()));
    // Playing reports positions into the label and the bar.
    QVERIFY(waitUntil(
        [&] {
            return child<QLabel>(&w, "label_current_play_time")->text() != QStringLiteral("00:00:00.000");
        },
        15000));
    // Any change of a time pauses playback.
    endEdit(&w)->setTime(QTime(0, 2, 30));
    QVERIFY(!play->isChecked());
    // A drag that starts while paused ends paused.
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, mid);
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(10, mid.y()));
    QVERIFY(!play->isChecked());
    QCOMPARE(slider->position(), slider->pixelToMs(10));
}

void CutWindowTest::closeQuestion() {
    // Without segments the window closes at once.
    {
        ResourceEditWidget w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QSignalSpy rejected(&w, &QDialog::rejected);
        QTest::mouseClick(child<QPushButton>(&w, "closeBtn"), Qt::LeftButton);
        QCOMPARE(rejected.count(), 1);
        QVERIFY(!w.isVisible());
    }
    ResourceEditWidget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    openThroughButton(w, m_p60);
    addSegment(w, 0, 15000);
    QVERIFY(child<QPushButton>(&w, "pushButton_sure")->isEnabled());
    QSignalSpy rejected(&w, &QDialog::rejected);
    {
        ModalAnswerer answerer;
        auto seen = std::make_shared<MessageSeen>();
        answerer.answerMessage(seen, QStringLiteral("cancelBtn"));
        QTest::mouseClick(child<QPushButton>(&w, "closeBtn"), Qt::LeftButton);
        QCOMPARE(seen->text,
                 QStringLiteral("The interception task has not been saved, is it sure to close it?"));
        QCOMPARE(seen->title, QStringLiteral("exit"));
        QCOMPARE(rejected.count(), 0);
        QVERIFY(w.isVisible());
        // The title strip's close button of the box keeps the window as well.
        answerer.answerMessage(seen, QStringLiteral("closeBtn"));
        QTest::mouseClick(child<QPushButton>(&w, "closeBtn"), Qt::LeftButton);
        QCOMPARE(rejected.count(), 0);
        answerer.answerMessage(seen, QStringLiteral("okBtn"));
        QTest::mouseClick(child<QPushButton>(&w, "closeBtn"), Qt::LeftButton);
        QCOMPARE(rejected.count(), 1);
    }
    QVERIFY(!w.isVisible());
}

int main(int argc, char** argv) {
    isolateUserDirs();
    QApplication app(argc, argv);
    CutWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_widget_cut.moc"
