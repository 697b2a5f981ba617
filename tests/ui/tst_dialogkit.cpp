// Frameless dialog kit: drag strip, message box codes and layout, busy spinner.
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "BaseDialog.h"
#include "QProgressIndicator.h"
#include "ShellTestMain.h"
#include "VRKMessageBox.h"

namespace {

void sendMouse(QWidget* w, QEvent::Type type, const QPoint& local, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent event(type, local, w->mapToGlobal(local), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

VRKMessageBox* activeBox() {
    return qobject_cast<VRKMessageBox*>(QApplication::activeModalWidget());
}

// Runs showMessage modally and answers the box by clicking `button` (or Escape when empty).
int answerModal(const QString& button, bool showCancel, bool* cancelWasVisible = nullptr) {
    shelltest::whenShown<VRKMessageBox>(activeBox, [button, cancelWasVisible](VRKMessageBox* box) {
        if (cancelWasVisible) {
            *cancelWasVisible = box->findChild<QPushButton*>(QStringLiteral("cancelBtn"))->isVisible();
        }
        if (button.isEmpty()) {
            QTest::keyClick(box, Qt::Key_Escape);
        } else {
            QTest::mouseClick(box->findChild<QPushButton*>(button), Qt::LeftButton);
        }
    });
    return VRKMessageBox::showMessage(showCancel, QStringLiteral("message"), QStringLiteral("title"), true);
}

QList<QLabel*> messageLines(VRKMessageBox& box) {
    QWidget* holder = box.findChild<QWidget*>(QStringLiteral("textHolderWidget"));
    QList<QLabel*> lines;
    if (!holder || !holder->layout()) {
        return lines;
    }
    for (int i = 0; i < holder->layout()->count(); ++i) {
        if (auto* label = qobject_cast<QLabel*>(holder->layout()->itemAt(i)->widget())) {
            lines << label;
        }
    }
    return lines;
}

int maxAlpha(const QImage& img, const QRect& r) {
    int best = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            best = qMax(best, qAlpha(img.pixel(x, y)));
        }
    }
    return best;
}

QImage renderSpinner(QProgressIndicator& spinner, int size) {
    spinner.resize(size, size);
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    spinner.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

// Width in pixels of the top spoke, from the summed coverage of a row through its middle.
double topSpokeWidth(int size) {
    QProgressIndicator spinner;
    spinner.setDisplayedWhenStopped(true);
    spinner.setColor(Qt::black);
    const QImage img = renderSpinner(spinner, size);
    const int w = size;
    const int outer = int((w - 1) * 0.5);
    const int inner = int((w - 1) * 0.5 * 0.38);
    const int centre = QRect(0, 0, w, w).center().y();
    const int row = centre - (inner + outer) / 2;
    double sum = 0;
    for (int x = 0; x < w; ++x) {
        // Only the spoke around the vertical axis (the neighbours are 30 degrees away).
        if (qAbs(x - centre) <= 3) {
            sum += qAlpha(img.pixel(x, row)) / 255.0;
        }
    }
    return sum;
}

}  // namespace

class TestDialogKit : public QObject {
    Q_OBJECT
private slots:
    void dragStrip();
    void messageBoxResultCodes();
    void messageBoxNonModal();
    void messageBoxLineBreaking();
    void spinnerStates();
    void spinnerPainting();
};

void TestDialogKit::dragStrip() {
    BaseDialog dialog;
    QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
    dialog.resize(300, 200);
    dialog.move(100, 100);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPoint start = dialog.pos();

    // y = 30 is the first row below the strip: no drag.
    sendMouse(&dialog, QEvent::MouseButtonPress, QPoint(50, 30), Qt::LeftButton, Qt::LeftButton);
    sendMouse(&dialog, QEvent::MouseMove, QPoint(90, 55), Qt::NoButton, Qt::LeftButton);
    sendMouse(&dialog, QEvent::MouseButtonRelease, QPoint(90, 55), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(dialog.pos(), start);

    // A right-button press in the strip does not drag either.
    sendMouse(&dialog, QEvent::MouseButtonPress, QPoint(50, 10), Qt::RightButton, Qt::RightButton);
    sendMouse(&dialog, QEvent::MouseMove, QPoint(90, 55), Qt::NoButton, Qt::RightButton);
    QCOMPARE(dialog.pos(), start);
    sendMouse(&dialog, QEvent::MouseButtonRelease, QPoint(90, 55), Qt::RightButton, Qt::NoButton);

    // y = 29 is inside: the window follows the mouse by exactly its displacement.
    sendMouse(&dialog, QEvent::MouseButtonPress, QPoint(50, 29), Qt::LeftButton, Qt::LeftButton);
    sendMouse(&dialog, QEvent::MouseMove, QPoint(90, 54), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(dialog.pos(), start + QPoint(40, 25));
    const QPoint moved = dialog.pos();

    // After the release, a move with the button held but no new press does nothing.
    sendMouse(&dialog, QEvent::MouseButtonRelease, QPoint(10, 10), Qt::LeftButton, Qt::NoButton);
    sendMouse(&dialog, QEvent::MouseMove, QPoint(20, 20), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(dialog.pos(), moved);
}

void TestDialogKit::messageBoxResultCodes() {
    bool cancelVisible = false;
    QCOMPARE(answerModal(QStringLiteral("closeBtn"), true, &cancelVisible), 2);
    QVERIFY(cancelVisible);
    QCOMPARE(answerModal(QStringLiteral("cancelBtn"), true), 1);
    QCOMPARE(answerModal(QStringLiteral("okBtn"), true), 0);
    QCOMPARE(answerModal(QString(), true), 0);  // Escape

    // Without cancel only "Ok" is offered.
    cancelVisible = true;
    QCOMPARE(answerModal(QStringLiteral("okBtn"), false, &cancelVisible), 0);
    QVERIFY(!cancelVisible);

    // The modal box is gone once showMessage returned.
    QTRY_VERIFY(std::none_of(QApplication::topLevelWidgets().cbegin(), QApplication::topLevelWidgets().cend(),
                             [](QWidget* w) { return qobject_cast<VRKMessageBox*>(w) != nullptr; }));

    // Form details the other windows rely on.
    VRKMessageBox box;
    QCOMPARE(box.objectName(), QStringLiteral("VRKMessageBoxForm"));
    QCOMPARE(box.size(), QSize(300, 150));
    QCOMPARE(box.minimumSize(), QSize(300, 150));
    QVERIFY(box.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(box.findChild<QLabel*>(QStringLiteral("titleLabel"))->text(), QStringLiteral("exit"));
    box.setTitle(QStringLiteral("Attention"));
    QCOMPARE(box.findChild<QLabel*>(QStringLiteral("titleLabel"))->text(), QStringLiteral("Attention"));
    QCOMPARE(box.findChild<QPushButton*>(QStringLiteral("okBtn"))->text(), QStringLiteral("Ok"));
    QCOMPARE(box.findChild<QPushButton*>(QStringLiteral("okBtn"))->size(), QSize(64, 24));
    QCOMPARE(box.findChild<QPushButton*>(QStringLiteral("cancelBtn"))->text(), QStringLiteral("Cancel"));
    QCOMPARE(box.findChild<QWidget*>(QStringLiteral("widget_titlebar"))->maximumHeight(), 30);
    box.setCancelVisible(true);
    QVERIFY(!box.findChild<QPushButton*>(QStringLiteral("cancelBtn"))->isHidden());
    box.setCancelVisible(false);
    QVERIFY(box.findChild<QPushButton*>(QStringLiteral("cancelBtn"))->isHidden());
}

void TestDialogKit::messageBoxNonModal() {
    const int rc = VRKMessageBox::showMessage(false, QStringLiteral("saved"), QStringLiteral("info"), false);
    QCOMPARE(rc, 0);
    QPointer<VRKMessageBox> box;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* b = qobject_cast<VRKMessageBox*>(w)) {
            if (b->isVisible()) {
                box = b;
            }
        }
    }
    QVERIFY(box);
    QVERIFY(box->findChild<QPushButton*>(QStringLiteral("cancelBtn"))->isHidden());
    QCOMPARE(box->findChild<QLabel*>(QStringLiteral("titleLabel"))->text(), QStringLiteral("info"));
    // Closing it destroys it.
    QTest::mouseClick(box->findChild<QPushButton*>(QStringLiteral("okBtn")), Qt::LeftButton);
    QTRY_VERIFY(box.isNull());
}

void TestDialogKit::messageBoxLineBreaking() {
    QFont font(QStringLiteral("Microsoft YaHei UI"));
    font.setPixelSize(12);
    const QFontMetrics metrics(font);

    {
        VRKMessageBox box;
        box.setMessage(QString());
        const QList<QLabel*> lines = messageLines(box);
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.first()->text(), QString());
        QCOMPARE(box.height(), 150);
    }

    // Messages of growing length: every line fits 260 px, the lines join to the message, and the box
    // grows by 24 px for every line beyond two.
    const QString word = QStringLiteral("Transcoding improves compatibility ");
    QMap<int, int> heightByLines;
    for (int repeat = 1; repeat <= 8; ++repeat) {
        const QString message = word.repeated(repeat);
        VRKMessageBox box;
        box.setMessage(message);
        const QList<QLabel*> lines = messageLines(box);
        QVERIFY(!lines.isEmpty());
        QString joined;
        for (QLabel* label : lines) {
            QCOMPARE(label->size(), QSize(260, 16));
            QVERIFY2(metrics.horizontalAdvance(label->text()) < 260, qPrintable(label->text()));
            joined += label->text();
        }
        QCOMPARE(joined, message);
        if (metrics.horizontalAdvance(message) >= 260) {
            QVERIFY(lines.size() >= 2);
        }
        heightByLines.insert(lines.size(), box.height());
        QCOMPARE(box.height(), 150 + qMax(0, lines.size() - 2) * 24);
    }
    QVERIFY(heightByLines.contains(2));
    QVERIFY(heightByLines.contains(4));
    QCOMPARE(heightByLines.value(4) - heightByLines.value(2), 48);

    // A message without spaces (e.g. Chinese) is broken by characters as well.
    const QString dense = QString(QChar(0x8bfe)).repeated(60);
    VRKMessageBox box;
    box.setMessage(dense);
    QString joined;
    for (QLabel* label : messageLines(box)) {
        QVERIFY(metrics.horizontalAdvance(label->text()) < 260);
        joined += label->text();
    }
    QCOMPARE(joined, dense);
}

void TestDialogKit::spinnerStates() {
    QProgressIndicator spinner;
    QCOMPARE(spinner.sizeHint(), QSize(20, 20));
    QCOMPARE(spinner.heightForWidth(37), 37);
    QCOMPARE(spinner.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(spinner.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(spinner.focusPolicy(), Qt::NoFocus);
    QCOMPARE(spinner.animationDelay(), 50);
    QCOMPARE(spinner.property("delay").toInt(), 50);
    QVERIFY(!spinner.isDisplayedWhenStopped());
    QCOMPARE(spinner.color(), QColor(33, 33, 33));
    QVERIFY(!spinner.isAnimated());

    // Changing the delay of a stopped spinner does not start it.
    spinner.setAnimationDelay(20);
    QVERIFY(!spinner.isAnimated());
    QCOMPARE(spinner.animationDelay(), 20);

    spinner.startAnimation();
    QVERIFY(spinner.isAnimated());
    QTRY_VERIFY(spinner.angle() != 0);
    QCOMPARE(spinner.angle() % 30, 0);
    // Changing the delay of a running spinner keeps it running.
    spinner.setAnimationDelay(10);
    QVERIFY(spinner.isAnimated());
    spinner.stopAnimation();
    QVERIFY(!spinner.isAnimated());
    const int stoppedAt = spinner.angle();
    QTest::qWait(60);
    QCOMPARE(spinner.angle(), stoppedAt);
    // A new start begins from the top again.
    spinner.startAnimation();
    QCOMPARE(spinner.angle(), 0);
    spinner.stopAnimation();
}

void TestDialogKit::spinnerPainting() {
    QProgressIndicator spinner;
    spinner.setColor(Qt::black);
    // Stopped and not displayed when stopped: nothing at all.
    QCOMPARE(maxAlpha(renderSpinner(spinner, 20), QRect(0, 0, 20, 20)), 0);

    // Displayed: twelve spokes, opacity falling from the top spoke (1) counter-clockwise.
    spinner.setDisplayedWhenStopped(true);
    const QImage img = renderSpinner(spinner, 20);
    // Samples on the axis of each spoke, away from its neighbours.
    const int top = maxAlpha(img, QRect(8, 0, 2, 3));
    const int left = maxAlpha(img, QRect(0, 8, 3, 2));
    const int bottom = maxAlpha(img, QRect(8, 15, 2, 3));
    const int right = maxAlpha(img, QRect(15, 8, 3, 2));
    QVERIFY2(top >= 240, qPrintable(QString::number(top)));
    QVERIFY2(qAbs(left - 191) <= 12, qPrintable(QString::number(left)));      // spoke 3: 1 - 3/12
    QVERIFY2(qAbs(bottom - 128) <= 12, qPrintable(QString::number(bottom)));  // spoke 6: 1 - 6/12
    QVERIFY2(qAbs(right - 64) <= 12, qPrintable(QString::number(right)));     // spoke 9: 1 - 9/12
    // The last spoke (1/12) sits 30 degrees clockwise of the top one.
    const int last = maxAlpha(img, QRect(12, 2, 2, 2));
    QVERIFY2(last > 0 && last <= 40, qPrintable(QString::number(last)));

    // Up to 32 px the spokes are 0.35 of their length wide, from 33 px 0.23.
    QVERIFY2(qAbs(topSpokeWidth(32) - 3.0) < 0.5, qPrintable(QString::number(topSpokeWidth(32))));
    QVERIFY2(qAbs(topSpokeWidth(33) - 2.0) < 0.5, qPrintable(QString::number(topSpokeWidth(33))));
    QVERIFY2(qAbs(topSpokeWidth(60) - 4.0) < 0.5, qPrintable(QString::number(topSpokeWidth(60))));
}

SHELL_TEST_MAIN(TestDialogKit)
#include "tst_dialogkit.moc"
