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
#include <QCheckBox>
#include <QLineEdit>
#include <QUuid>

#include <future>

#include "CSettings.h"
#include "CSuspensionWidget.h"
#include "CustomSlider.h"
#include "DataWrapper.h"
#include "OutputOptionSetting.h"
#include "ResourceEditWidget.h"
#include "ScriptedMediaCore.h"
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

qint64 labelMs(QWidget* w) {
    const QString text = child<QLabel>(w, "label_current_play_time")->text();
    return QTime::fromString(text, QStringLiteral("hh:mm:ss.zzz")).msecsSinceStartOfDay();
}

// Press and release on the timeline at the pixel of `ms`, as a click on the bar does.
void clickTimeline(QWidget* w, qint64 ms) {
    auto* slider = child<CustomSlider>(w, "widget_slider");
    const QPoint p(slider->msToPixel(ms), slider->height() / 2);
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, p);
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, p);
}

// A scripted engine whose first crop waits until the test opens the gate, so that a task can be
// held in the middle of its cut.
class GatedMediaCore : public ScriptedMediaCore {
public:
    GatedMediaCore(IMediaCoreObserver* observer, std::shared_future<void> gate)
        : ScriptedMediaCore(observer), m_gate(std::move(gate)) {}
    void startMediaCrop(const std::string& source, const std::vector<CropRange>& ranges,
                        const std::string& outputName, bool transcode) override {
        if (m_gate.valid()) {
            m_gate.wait();
        }
        ScriptedMediaCore::startMediaCrop(source, ranges, outputName, transcode);
    }

private:
    std::shared_future<void> m_gate;
};

// The cut runs against a scripted engine; the window's own playback engine is replaced.
std::shared_ptr<ScriptedMediaCore> scriptEngine(ResourceEditWidget& w, std::shared_future<void> gate = {}) {
    auto core = std::make_shared<GatedMediaCore>(w.session().get(), std::move(gate));
    w.session()->setMediaCore(core);
    return core;
}

bool taskEnded(ResourceEditWidget& w) {
    return w.status() == TaskStatus::Finished || w.status() == TaskStatus::Failed;
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
    void templatesFitTheHolder_data();
    void templatesFitTheHolder();
    void seekAndPlayFollowTheTimeline();
    void outputOptionsReachTheCut();
    void twoCutsOfOnePackageKeepBothResults();

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
    QMap<int, QString> m_templates;  // template type -> 60 s package
    NullObserver m_observer;
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
    for (int type = 3; type <= 6; ++type) {
        const QString p = m_dir.filePath(QStringLiteral("template%1.vrk").arg(type));
        QVERIFY(testsupport::makeSample(p, {"--template", QString::number(type), "--duration", "60", "--size",
                                            "320x180", "--fps", "10", "--no-audio"}));
        m_templates.insert(type, p);
    }
    CSettings::instance()->write(QStringLiteral("System/OutputPath"), m_dir.filePath(QStringLiteral("out")));
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

    // A refused file, short or unreadable, leaves the loaded package, its segments and its template.
    const QString broken = m_dir.filePath(QStringLiteral("broken.vrk"));
    QFile f(broken);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("this is not a package");
    f.close();
    addSegment(w, 0, 15000);
    const std::shared_ptr<DataWrapper> loaded = w.session();
    QWidget* shown = holder->layout()->itemAt(0)->widget();
    const struct {
        QString file;
        QString message;
    } refused[] = {{m_p59999, QStringLiteral("Video should not be less than 1 minutes")},
                   {broken, QStringLiteral("can't parse the resource file.")}};
    for (const auto& row : refused) {
        openThroughButton(w, row.file, seen);
        QCOMPARE(seen->text, row.message);
        QCOMPARE(seen->title, QStringLiteral("error"));
        QCOMPARE(w.session(), loaded);
        QCOMPARE(w.session()->getSegments().size(), 1);
        QCOMPARE(w.sourceName(), QStringLiteral("exact60000.vrk"));
        QCOMPARE(holder->layout()->count(), 1);
        QCOMPARE(holder->layout()->itemAt(0)->widget(), shown);
        QCOMPARE(child<QLabel>(&w, "label_FullVideoLength")->text(), QStringLiteral("/ 00:01:00.000"));
        QCOMPARE(slider->range()->end_time, 60000);
        QVERIFY(child<QPushButton>(&w, "pushButton_sure")->isEnabled());
    }
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

void CutWindowTest::templatesFitTheHolder_data() {
    QTest::addColumn<int>("type");
    for (int type = 3; type <= 6; ++type) {
        QTest::addRow("template %d", type) << type;
    }
}

void CutWindowTest::templatesFitTheHolder() {
    QFETCH(int, type);
    ResourceEditWidget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    openThroughButton(w, m_templates.value(type));
    QVERIFY(w.session());
    QWidget* holder = child<QWidget>(&w, "widget_holdplace");
    QWidget* tpl = holder->layout()->itemAt(0)->widget();
    QTest::qWait(100);
    QCOMPARE(w.size(), QSize(950, 570));
    QVERIFY2(holder->rect().contains(tpl->geometry()),
             qPrintable(QStringLiteral("template %1x%2 at %3,%4 in a holder of %5x%6")
                            .arg(tpl->width())
                            .arg(tpl->height())
                            .arg(tpl->x())
                            .arg(tpl->y())
                            .arg(holder->width())
                            .arg(holder->height())));
    // The template's own bottom row is what the window shows at the bottom of the holder.
    const QImage window = w.grab().toImage();
    const QImage own = tpl->grab().toImage();
    const QPoint origin = tpl->mapTo(&w, QPoint(0, 0));
    int differing = 0;
    for (int x = 0; x < own.width(); ++x) {
        differing +=
            window.pixel(origin.x() + x, origin.y() + own.height() - 1) != own.pixel(x, own.height() - 1);
    }
    QCOMPARE(differing, 0);
}

void CutWindowTest::seekAndPlayFollowTheTimeline() {
    ResourceEditWidget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    openThroughButton(w, m_p200);
    QVERIFY(w.session());
    auto* play = child<QPushButton>(&w, "pushButton_play");

    // On a package that never played, play after a seek starts at the chosen position.
    clickTimeline(&w, 100000);
    const qint64 chosen = child<CustomSlider>(&w, "widget_slider")->position();
    QVERIFY(qAbs(chosen - 100000) < 1000);
    QTest::mouseClick(play, Qt::LeftButton);
    QVERIFY(play->isChecked());
    QVERIFY(waitUntil([&] { return labelMs(&w) > chosen + 500; }, 15000));
    QTest::qWait(500);  // a late jump back to the start would show now
    QVERIFY2(labelMs(&w) > chosen, qPrintable(child<QLabel>(&w, "label_current_play_time")->text()));

    // Paused, a click on the timeline moves the label with the picture.
    QTest::mouseClick(play, Qt::LeftButton);
    QVERIFY(!play->isChecked());
    clickTimeline(&w, 30000);
    const qint64 target = child<CustomSlider>(&w, "widget_slider")->position();
    QVERIFY(waitUntil([&] { return qAbs(labelMs(&w) - target) < 50; }, 10000));
}

void CutWindowTest::outputOptionsReachTheCut() {
    // Options set for one package, then another package added: the cut uses what the dialog shows.
    const QString name = QString(80, QChar(0x8bfe));  // 80 Chinese characters, 240 bytes
    ResourceEditWidget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    openThroughButton(w, m_p60);
    {
        ModalAnswerer answerer;
        answerer.expect([&](QWidget* dialog) {
            if (!qobject_cast<OutputOptionSetting*>(dialog)) {
                return false;
            }
            dialog->findChild<QCheckBox*>(QStringLiteral("m_pCBTranscodeOn"))->click();
            dialog->findChild<QLineEdit*>(QStringLiteral("lineEdit_name"))->setText(name);
            static_cast<QDialog*>(dialog)->accept();
            return true;
        });
        QTest::mouseClick(child<QPushButton>(&w, "pushButton_output_option"), Qt::LeftButton);
        QVERIFY(waitUntil([&] { return answerer.pending() == 0; }, 10000));
    }
    auto* options = w.findChild<OutputOptionSetting*>();
    QVERIFY(options->transcode());
    openThroughButton(w, m_p60000);
    QVERIFY(options->transcode());

    std::shared_ptr<ScriptedMediaCore> engine = scriptEngine(w);
    addSegment(w, 0, 15000);
    w.setObserver(&m_observer);
    QVERIFY(w.startTask());
    QVERIFY(waitUntil([&] { return taskEnded(w); }, 60000));
    QCOMPARE(engine->crops.size(), size_t(1));
    QVERIFY(engine->crops.front().transcode);
    QCOMPARE(w.status(), int(TaskStatus::Finished));
    QCOMPARE(QFileInfo(w.outputPath()).fileName(), name + QStringLiteral(".vrk"));
    QVERIFY(readMeta(w.outputPath()));
}

void CutWindowTest::twoCutsOfOnePackageKeepBothResults() {
    // Two cuts of one package with the default name: the first is held in its cut while the second
    // finishes, and meanwhile another program writes a file at the first one's name.
    const QString out = m_dir.filePath(QStringLiteral("two-cuts"));
    CSettings::instance()->write(QStringLiteral("System/OutputPath"), out);
    std::promise<void> release;
    ResourceEditWidget first;
    ResourceEditWidget second;
    std::shared_ptr<ScriptedMediaCore> engines[2];
    ResourceEditWidget* windows[2] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        windows[i]->show();
        QVERIFY(QTest::qWaitForWindowExposed(windows[i]));
        openThroughButton(*windows[i], m_p60);
        engines[i] =
            scriptEngine(*windows[i], i == 0 ? release.get_future().share() : std::shared_future<void>());
        addSegment(*windows[i], 0, 15000);
        windows[i]->setObserver(&m_observer);
    }
    QVERIFY(first.startTask());
    QVERIFY(waitUntil([&] { return !first.outputPath().isEmpty(); }, 10000));
    QVERIFY(second.startTask());
    QVERIFY(waitUntil([&] { return taskEnded(second); }, 60000));
    QFile foreign(first.outputPath());
    QVERIFY(foreign.open(QIODevice::WriteOnly));
    foreign.write("someone else's file");
    foreign.close();
    release.set_value();
    QVERIFY(waitUntil([&] { return taskEnded(first); }, 60000));

    QCOMPARE(first.status(), int(TaskStatus::Finished));
    QCOMPARE(second.status(), int(TaskStatus::Finished));
    QVERIFY(first.outputPath() != second.outputPath());
    for (ResourceEditWidget* w : windows) {
        QCOMPARE(QFileInfo(w->outputPath()).absolutePath(), out);
        QVERIFY2(readMeta(w->outputPath()), qPrintable(w->outputPath()));
    }
    QVERIFY(foreign.open(QIODevice::ReadOnly));
    QCOMPARE(foreign.readAll(), QByteArray("someone else's file"));
    QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 3);
    CSettings::instance()->write(QStringLiteral("System/OutputPath"), m_dir.filePath(QStringLiteral("out")));
}

int main(int argc, char** argv) {
    isolateUserDirs();
    QApplication app(argc, argv);
    CutWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_widget_cut.moc"
