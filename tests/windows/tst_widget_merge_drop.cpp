// The merge window's comforts: several files chosen at once, files dropped from a file manager,
// rows dragged to a new place, and the duration column checked against ffprobe.
#include <QDropEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QUrl>

#include "ResourceMergeWidget.h"
#include "tst_widget_support.h"

using namespace widgettest;

namespace {

QStringList rowTexts(QTableWidget* table, int row) {
    QStringList texts;
    for (int c = 0; c < table->columnCount(); ++c) {
        texts << table->item(row, c)->text();
    }
    return texts;
}

// What a file manager sends when files are dropped on the table.
bool dropFiles(QTableWidget* table, const QStringList& files) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& f : files) {
        urls << QUrl::fromLocalFile(f);
    }
    mime.setUrls(urls);
    const QPoint at(20, 20);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(table->viewport(), &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(table->viewport(), &drop);
    return drop.isAccepted();
}

}  // namespace

class MergeDropTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void chooseSeveralDropAndDrag();

private:
    QTemporaryDir m_dir;
    QStringList m_parts;
};

void MergeDropTest::initTestCase() {
    for (int i = 0; i < 3; ++i) {
        const QString p = m_dir.filePath(QStringLiteral("part%1.vrk").arg(i + 1));
        QVERIFY(
            testsupport::makeSample(p, {"--template", "3", "--duration", QString::number(6 + 3 * i), "--size",
                                        "160x90", "--fps", "10", "--seed", QString::number(i + 1)}));
        m_parts << p;
    }
}

void MergeDropTest::chooseSeveralDropAndDrag() {
    ResourceMergeWidget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* table = w.findChild<QTableWidget*>(QStringLiteral("tableWidget"));

    // Two files chosen in one go, as a user selects them in the dialog.
    ModalAnswerer answerer;
    const QString dir = m_dir.path();
    answerer.expect([dir](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        auto* edit = dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
        if (!edit) {
            return false;
        }
        dialog->setDirectory(dir);
        edit->setText(QStringLiteral("\"part1.vrk\" \"part2.vrk\""));
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        return true;
    });
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("pushButton_add_file")), Qt::LeftButton);
    QCOMPARE(w.fileList(), QStringList({m_parts[0], m_parts[1]}));

    // The third dropped from a file manager (with a file the window does not take).
    QVERIFY(dropFiles(table, {m_parts[2], m_dir.filePath(QStringLiteral("notes.txt"))}));
    QCOMPARE(w.fileList(), m_parts);
    // Durations as ffprobe reads the packages' videos, to the second.
    for (int r = 0; r < 3; ++r) {
        auto session = readPackage(m_parts[r]);
        QVERIFY(session);
        const qint64 ms = testsupport::ffprobeDurationMs(session->getRootItem()->video_path);
        QCOMPARE(table->item(r, 2)->text(),
                 QTime(0, 0).addMSecs(int(ms)).toString(QStringLiteral("hh:mm:ss")));
    }
    // A dropped file is listed exactly like a chosen one.
    QVERIFY(dropFiles(table, {m_parts[0]}));
    QCOMPARE(rowTexts(table, 3), rowTexts(table, 0));
    QCOMPARE(table->item(3, 0)->toolTip(), table->item(0, 0)->toolTip());

    // Dragging the first row onto the third moves it there; the merge order follows.
    const QPoint from = table->visualItemRect(table->item(0, 0)).center();
    const QPoint to = table->visualItemRect(table->item(2, 0)).center();
    QTest::mousePress(table->viewport(), Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(table->viewport(), to);
    QTest::mouseRelease(table->viewport(), Qt::LeftButton, Qt::NoModifier, to);
    QCOMPARE(w.fileList(), QStringList({m_parts[1], m_parts[2], m_parts[0], m_parts[0]}));
    QCOMPARE(table->currentRow(), 2);
    // A click without moving moves nothing.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, from);
    QCOMPARE(w.fileList(), QStringList({m_parts[1], m_parts[2], m_parts[0], m_parts[0]}));
    w.reject();
}

int main(int argc, char** argv) {
    isolateUserDirs();
    QApplication app(argc, argv);
    MergeDropTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_widget_merge_drop.moc"
