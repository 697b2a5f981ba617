// The cut window's keyboard and timeline comforts, driven by real key, wheel and mouse events on a
// loaded package: where the player is sent (echoed by the engine into the time label), the frame
// times checked against ffprobe, the segments in the table and the pixels of the timeline bar.
#include <QDateTimeEdit>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QWheelEvent>

#include "ChatView.h"
#include "CustomSlider.h"
#include "CustomTime.h"
#include "ResourceEditWidget.h"
#include "tst_widget_support.h"

using namespace widgettest;

namespace {

qint64 labelMs(QLabel* label) {
    const QTime t = QTime::fromString(label->text(), QStringLiteral("hh:mm:ss.zzz"));
    return t.isValid() ? QTime(0, 0).msecsTo(t) : -1;
}

// Start times of the video's frames by ffprobe, in ms.
QVector<qint64> ffprobeFrameTimes(const QString& video) {
    QByteArray out;
    testsupport::runProgram(QStringLiteral("ffprobe"),
                            {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pts_time",
                             "-of", "csv=p=0", video},
                            &out);
    QVector<qint64> times;
    for (const QByteArray& line : out.split('\n')) {
        bool ok = false;
        const double s = line.trimmed().toDouble(&ok);
        if (ok) {
            times << qRound64(s * 1000.0);
        }
    }
    std::sort(times.begin(), times.end());
    return times;
}

void sendMouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent ev(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                   buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

}  // namespace

class CutKeysTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void seekKeys_data();
    void seekKeys();
    void segmentKeysAndBar();
    void typedTimeKeepsKeys();
    void wheelDragAndDoubleClick();
    void previewSkipsGaps();
    void cleanupTestCase();

private:
    // Sends the player to `ms` through the bar and waits for the engine's answer.
    bool placeAt(qint64 ms);
    bool waitForLabel(qint64 ms) {
        return waitUntil([&] { return labelMs(m_label) == ms; }, 5000);
    }

    QTemporaryDir m_dir;
    ResourceEditWidget* m_w = nullptr;
    CustomSlider* m_slider = nullptr;
    QLabel* m_label = nullptr;
    QVector<qint64> m_frames;
    QWidget* m_focus = nullptr;
};

void CutKeysTest::initTestCase() {
    const QString package = m_dir.filePath(QStringLiteral("keys.vrk"));
    // 30 frames a second: frame starts fall between whole milliseconds.
    QVERIFY(testsupport::makeSample(
        package, {"--template", "2", "--duration", "70", "--size", "320x180", "--fps", "30", "--gop", "30"}));
    m_w = new ResourceEditWidget;
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w));
    ModalAnswerer answerer;
    answerer.chooseFile(package);
    QTest::mouseClick(m_w->findChild<QPushButton*>(QStringLiteral("pushButton_add_file")), Qt::LeftButton);
    QVERIFY(m_w->session());
    m_slider = m_w->findChild<CustomSlider*>(QStringLiteral("widget_slider"));
    m_label = m_w->findChild<QLabel*>(QStringLiteral("label_current_play_time"));
    m_frames = ffprobeFrameTimes(m_w->session()->getRootItem()->video_path);
    QVERIFY(m_frames.size() > 2000);
    // Keys are sent to the window's widgets directly: other windows on the shared display may hold
    // the window system's focus while this runs.
    // Keys act whatever has the focus: here a button of the window.
    m_focus = m_w->findChild<QPushButton*>(QStringLiteral("pushButton_output_option"));
    m_focus->setFocus();
}

void CutKeysTest::cleanupTestCase() {
    delete m_w;
}

bool CutKeysTest::placeAt(qint64 ms) {
    m_slider->setPosition(ms);
    m_w->session()->seek(ms);
    return waitForLabel(ms);
}

void CutKeysTest::seekKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<qint64>("from");
    // Expected position; -1: the next frame start after the frame shown, -2: the one before.
    QTest::addColumn<qint64>("expected");
    QTest::newRow("Right") << int(Qt::Key_Right) << 0 << qint64(20000) << qint64(21000);
    QTest::newRow("Left") << int(Qt::Key_Left) << 0 << qint64(20000) << qint64(19000);
    QTest::newRow("Shift+Right") << int(Qt::Key_Right) << int(Qt::ShiftModifier) << qint64(20000)
                                 << qint64(30000);
    QTest::newRow("Shift+Left") << int(Qt::Key_Left) << int(Qt::ShiftModifier) << qint64(20000)
                                << qint64(10000);
    QTest::newRow("Left at start") << int(Qt::Key_Left) << 0 << qint64(400) << qint64(0);
    QTest::newRow("Home") << int(Qt::Key_Home) << 0 << qint64(20000) << qint64(0);
    QTest::newRow("End") << int(Qt::Key_End) << 0 << qint64(20000) << qint64(70000);
    QTest::newRow("period") << int(Qt::Key_Period) << 0 << qint64(20000) << qint64(-1);
    QTest::newRow("period between frames") << int(Qt::Key_Period) << 0 << qint64(20050) << qint64(-1);
    QTest::newRow("comma") << int(Qt::Key_Comma) << 0 << qint64(20000) << qint64(-2);
    QTest::newRow("comma between frames") << int(Qt::Key_Comma) << 0 << qint64(20050) << qint64(-2);
}

void CutKeysTest::seekKeys() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(qint64, from);
    QFETCH(qint64, expected);
    QVERIFY(placeAt(from));
    if (expected < 0) {
        // The player shows the first frame starting at most 5 ms before the position it was sent to.
        const auto shown = std::lower_bound(m_frames.begin(), m_frames.end(), from - 5);
        QVERIFY(shown != m_frames.end() && shown != m_frames.begin());
        expected = expected == -1 ? *(shown + 1) : *(shown - 1);
    }
    if (expected == 70000) {
        expected = m_slider->duration();
    }
    QTest::keyClick(m_focus, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QVERIFY2(waitForLabel(expected),
             qPrintable(QStringLiteral("at %1, expected %2").arg(m_label->text()).arg(expected)));
    QCOMPARE(m_slider->position(), expected);
}

void CutKeysTest::segmentKeysAndBar() {
    QWidget* focus = m_focus;
    auto* table = m_w->findChild<QTableWidget*>(QStringLiteral("segmentTableWidget"));
    auto* play = m_w->findChild<QPushButton*>(QStringLiteral("pushButton_play"));
    const QColor kept = CustomSlider::keptColor();
    auto barAt = [this](qint64 ms) {
        return m_slider->grab().toImage().pixelColor(m_slider->msToPixel(ms), m_slider->height() / 2);
    };
    QVERIFY(barAt(15000) != kept);

    // I at 5 s, O at 25 s, Enter: exactly that segment, in the table and on the bar.
    QVERIFY(placeAt(5000));
    QTest::keyClick(focus, Qt::Key_I);
    QVERIFY(placeAt(25000));
    QTest::keyClick(focus, Qt::Key_O);
    QTest::keyClick(focus, Qt::Key_Return);
    const auto segments = m_w->session()->sortedSegments();
    QCOMPARE(segments.size(), 1);
    QCOMPARE(segments.first()->begin_time, qint64(5000));
    QCOMPARE(segments.first()->end_time, qint64(25000));
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("00:00:05.000\n00:00:25.000"));
    for (const qint64 ms : {6000, 15000, 24000}) {
        QCOMPARE(barAt(ms), kept);
    }
    for (const qint64 ms : {4000, 26000, 60000}) {
        QVERIFY(barAt(ms) != kept);
    }

    // Delete removes the selected row and its stretch on the bar.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                      table->visualItemRect(table->item(0, 0)).center());
    QTest::keyClick(focus, Qt::Key_Delete);
    QVERIFY(m_w->session()->getSegments().isEmpty());
    QVERIFY(barAt(15000) != kept);

    // Space plays and pauses.
    QTest::keyClick(focus, Qt::Key_Space);
    QVERIFY(play->isChecked());
    QVERIFY(waitUntil([&] { return labelMs(m_label) > 25500; }, 10000));  // the player moves on
    QTest::keyClick(focus, Qt::Key_Space);
    QVERIFY(!play->isChecked());
}

void CutKeysTest::typedTimeKeepsKeys() {
    QVERIFY(placeAt(30000));
    auto* begin = m_w->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_begin"));
    begin->setFocus();
    begin->setSelectedSection(QDateTimeEdit::SecondSection);
    const QTime edited = begin->time();
    QTest::keyClick(begin, Qt::Key_Up);
    QTest::keyClick(begin, Qt::Key_Right);
    QTest::keyClick(begin, Qt::Key_I);
    QTest::qWait(300);
    QCOMPARE(m_slider->position(), qint64(30000));
    QCOMPARE(begin->time(), edited.addSecs(1));
    m_focus->setFocus();
}

void CutKeysTest::wheelDragAndDoubleClick() {
    QVERIFY(placeAt(30000));
    // One notch towards the user: one second forward; away: back.
    const QPoint middle(m_slider->width() / 2, m_slider->height() / 2);
    for (const auto& turn : {std::make_pair(-120, 31000), std::make_pair(240, 29000)}) {
        QWheelEvent wheel(middle, m_slider->mapToGlobal(middle), QPoint(), QPoint(0, turn.first),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(m_slider, &wheel);
        QVERIFY(waitForLabel(turn.second));
    }

    // A drag: the player follows before the release, and lands exactly at the release point.
    const int x0 = m_slider->msToPixel(10000);
    const int x1 = m_slider->msToPixel(40000);
    sendMouse(m_slider, QEvent::MouseButtonPress, QPoint(x0, 1), Qt::LeftButton);
    for (int x = x0; x <= x1; x += 4) {
        sendMouse(m_slider, QEvent::MouseMove, QPoint(x, 1), Qt::LeftButton);
        QTest::qWait(5);
    }
    QVERIFY(waitUntil([&] { return qAbs(labelMs(m_label) - m_slider->pixelToMs(x1)) < 2000; }, 3000));
    sendMouse(m_slider, QEvent::MouseButtonRelease, QPoint(x1, 1), Qt::NoButton);
    QVERIFY(waitForLabel(m_slider->pixelToMs(x1)));

    // Double-click on a segment row: the player goes to its start.
    m_w->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_begin"))->setTime(QTime(0, 0, 42, 500));
    m_w->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_end"))->setTime(QTime(0, 0, 55));
    QTest::mouseClick(m_w->findChild<QPushButton*>(QStringLiteral("addCutSegmentBtn")), Qt::LeftButton);
    auto* table = m_w->findChild<QTableWidget*>(QStringLiteral("segmentTableWidget"));
    QCOMPARE(m_w->session()->getSegments().size(), 1);
    const QPoint row = table->visualItemRect(table->item(0, 1)).center();
    // As a user's double-click: a click, then the second press.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, row);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, row);
    QVERIFY(waitForLabel(42500));
}

void CutKeysTest::previewSkipsGaps() {
    for (const auto& id : m_w->session()->getSegments().keys()) {
        m_w->session()->removeSegment(id);
    }
    const QList<QPair<qint64, qint64>> kept = {{5000, 15000}, {30000, 40000}};
    auto* begin = m_w->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_begin"));
    auto* end = m_w->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_end"));
    for (const auto& span : kept) {
        begin->setTime(QTime(0, 0).addMSecs(int(span.first)));
        end->setTime(QTime(0, 0).addMSecs(int(span.second)));
        QTest::mouseClick(m_w->findChild<QPushButton*>(QStringLiteral("addCutSegmentBtn")), Qt::LeftButton);
    }
    QCOMPARE(m_w->session()->getSegments().size(), 2);
    auto inKept = [&kept](qint64 ms) {
        return std::any_of(kept.begin(), kept.end(),
                           [ms](const QPair<qint64, qint64>& s) { return ms >= s.first && ms < s.second; });
    };
    // Plain chat texts of the package, inside and outside the kept segments.
    QStringList inside;
    QStringList outside;
    for (const auto& chat : m_w->session()->getRootItem()->datas->meta_item->chatLog) {
        // Texts the chat view shows as they are (no emoticon or link codes, nothing escaped).
        if (chat->content.contains(QRegExp(QStringLiteral("[\\[<>\"&]"))) ||
            chat->time >= kept.last().second) {
            continue;
        }
        (inKept(chat->time) ? inside : outside) << chat->content;
    }
    for (const QString& both : QStringList(inside)) {
        if (outside.contains(both)) {
            inside.removeAll(both);
            outside.removeAll(both);
        }
    }
    QVERIFY(!inside.isEmpty() && !outside.isEmpty());

    auto* preview = m_w->findChild<QPushButton*>(QStringLiteral("pushButton_preview"));
    QVERIFY(preview->isEnabled());
    QVERIFY(placeAt(0));
    QList<qint64> shown;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&]() { shown << labelMs(m_label); });
    watch.start(5);
    QTest::mouseClick(preview, Qt::LeftButton);
    QVERIFY(preview->isChecked());
    // The preview ends by itself after the last segment.
    QVERIFY(waitUntil([&] { return !preview->isChecked(); }, 40000));
    watch.stop();
    QVERIFY(std::any_of(shown.begin(), shown.end(), [](qint64 ms) { return ms > 36000; }));
    for (const qint64 ms : qAsConst(shown)) {
        QVERIFY2(ms < 5000 || inKept(ms) || ms == kept.last().second, qPrintable(QString::number(ms)));
    }
    const QString chatText = m_w->findChild<ChatView*>()->textBrowser()->toPlainText();
    for (const QString& text : qAsConst(inside)) {
        QVERIFY2(chatText.contains(text), qPrintable(text));
    }
    for (const QString& text : qAsConst(outside)) {
        QVERIFY2(!chatText.contains(text), qPrintable(text));
    }
}

int main(int argc, char** argv) {
    isolateUserDirs();
    QApplication app(argc, argv);
    CutKeysTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_widget_cut_keys.moc"
