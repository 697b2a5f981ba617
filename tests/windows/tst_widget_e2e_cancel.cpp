// Cancelling running tasks from the main window's row menu: cut, merge and convert each stop, show
// Failed with the cancel remark, and leave nothing in the output folder or the temporary folder.
#include <QDateTimeEdit>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>

#include "CSettings.h"
#include "MainWindow.h"
#include "OutputOptionSetting.h"
#include "ResourceEditWidget.h"
#include "ResourceMergeWidget.h"
#include "TaskSupport.h"
#include "VRK2Mp4Widget.h"
#include "tst_widget_support.h"

using namespace widgettest;

namespace {

QPushButton* button(QWidget* w, const char* name) {
    return w->findChild<QPushButton*>(QString::fromLatin1(name));
}

QString cellText(QTableWidget* table, int row, int column) {
    QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QString();
}

// Opens the row menu of `row` as a right click does and triggers the entry `entry`; returns the
// entries the menu offered.
QStringList chooseInRowMenu(MainWindow& w, int row, const QString& entry) {
    auto* table = w.findChild<QTableWidget*>(QStringLiteral("tableWidget"));
    const QPoint point = table->visualItemRect(table->item(row, 0)).center();
    QStringList offered;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&]() {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) {
            return;
        }
        poll.stop();
        QAction* chosen = nullptr;
        for (QAction* a : menu->actions()) {
            offered << a->text();
            if (a->text() == entry) {
                chosen = a;
            }
        }
        menu->close();
        if (chosen) {
            chosen->trigger();
        }
    });
    poll.start(20);
    QMetaObject::invokeMethod(&w, "on_tableWidget_customContextMenuRequested", Q_ARG(QPoint, point));
    return offered;
}

// Accepts the next output-options dialog as it is (its transcode box follows the setting).
void acceptOutputOptions(ModalAnswerer& answerer) {
    answerer.expect([](QWidget* w) {
        auto* dialog = qobject_cast<OutputOptionSetting*>(w);
        if (!dialog) {
            return false;
        }
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        return true;
    });
}

}  // namespace

class CancelTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cancelRunningTasks_data();
    void cancelRunningTasks();
    void cleanupTestCase();

private:
    std::shared_ptr<TaskInterface> prepareCut();
    std::shared_ptr<TaskInterface> prepareMerge();
    std::shared_ptr<TaskInterface> prepareConvert();

    QTemporaryDir m_dir;
    QString m_out;
    QString m_long;
    MainWindow* m_main = nullptr;
};

void CancelTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_out = m_dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(m_out));
    CSettings::instance()->write(QStringLiteral("System/OutputPath"), m_out + QStringLiteral("/"));
    // Re-encoding makes each job run long enough to be cancelled in the middle.
    CSettings::instance()->write(QString::fromLatin1(CSettings::kVideoTranseCode), true);
    m_long = m_dir.filePath(QStringLiteral("long.vrk"));
    QVERIFY(testsupport::makeSample(
        m_long, {"--template", "2", "--duration", "120", "--size", "640x360", "--fps", "25", "--gop", "25"}));
    m_main = new MainWindow;
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main));
}

void CancelTest::cleanupTestCase() {
    delete m_main;
    QVERIFY(TaskWorkers::waitForAll(60000));
}

std::shared_ptr<TaskInterface> CancelTest::prepareCut() {
    auto w = std::make_shared<ResourceEditWidget>();
    w->show();
    ModalAnswerer answerer;
    answerer.chooseFile(m_long);
    QTest::mouseClick(button(w.get(), "pushButton_add_file"), Qt::LeftButton);
    if (!w->session()) {
        return nullptr;
    }
    w->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_end"))->setTime(QTime(0, 1, 50));
    QTest::mouseClick(button(w.get(), "addCutSegmentBtn"), Qt::LeftButton);
    acceptOutputOptions(answerer);
    QTest::mouseClick(button(w.get(), "pushButton_output_option"), Qt::LeftButton);
    if (w->session()->getSegments().size() != 1 || !w->outputOptions() || !w->outputOptions()->transcode()) {
        return nullptr;
    }
    w->hide();
    return w;
}

std::shared_ptr<TaskInterface> CancelTest::prepareMerge() {
    auto w = std::make_shared<ResourceMergeWidget>();
    w->show();
    ModalAnswerer answerer;
    for (int i = 0; i < 2; ++i) {
        answerer.chooseFile(m_long);
        QTest::mouseClick(button(w.get(), "pushButton_add_file"), Qt::LeftButton);
    }
    acceptOutputOptions(answerer);
    QTest::mouseClick(button(w.get(), "pushButton_output_option"), Qt::LeftButton);
    if (w->fileList().size() != 2) {
        return nullptr;
    }
    w->hide();
    return w;
}

std::shared_ptr<TaskInterface> CancelTest::prepareConvert() {
    std::shared_ptr<VRK2Mp4Widget> w(new VRK2Mp4Widget, [](VRK2Mp4Widget* p) { p->deleteLater(); });
    auto* f = w->form();
    f->lineEditFile->setText(m_long);
    f->lineEditFileOutputPath->setText(m_out + QStringLiteral("/long.mp4"));
    f->lineEditWidth->setText(QStringLiteral("1280"));
    f->lineEditHeight->setText(QStringLiteral("720"));
    f->lineEditVideoBitrate->setText(QStringLiteral("800"));
    f->pushButtonConvert->click();
    return w->result() == QDialog::Accepted ? w : nullptr;
}

void CancelTest::cancelRunningTasks_data() {
    QTest::addColumn<int>("type");
    QTest::newRow("cut") << int(TaskType::Cut);
    QTest::newRow("merge") << int(TaskType::Merge);
    QTest::newRow("convert") << int(TaskType::Convert);
}

void CancelTest::cancelRunningTasks() {
    QFETCH(int, type);
    auto* table = m_main->findChild<QTableWidget*>(QStringLiteral("tableWidget"));
    const QSet<QString> tempBefore = testsupport::tempEntries();
    std::shared_ptr<TaskInterface> task = type == TaskType::Cut     ? prepareCut()
                                          : type == TaskType::Merge ? prepareMerge()
                                                                    : prepareConvert();
    QVERIFY(task);
    m_main->addTask(task);
    const int row = table->rowCount() - 1;
    QVERIFY(waitUntil([&] { return cellText(table, row, 3) == QStringLiteral("Converting"); }, 60000));
    // Well into the work: the engine has started writing.
    QTest::qWait(type == TaskType::Merge ? 2500 : 1000);
    QCOMPARE(cellText(table, row, 3), QStringLiteral("Converting"));

    QElapsedTimer stopping;
    stopping.start();
    const QStringList offered = chooseInRowMenu(*m_main, row, QStringLiteral("Cancel task"));
    QVERIFY2(offered.contains(QStringLiteral("Cancel task")), qPrintable(offered.join(',')));
    QVERIFY(waitUntil([&] { return cellText(table, row, 3) == QStringLiteral("Failed"); }, 20000));
    qInfo("%s stopped %lld ms after the cancel", QTest::currentDataTag(), stopping.elapsed());
    QCOMPARE(cellText(table, row, 4), QStringLiteral("cancelled by the user."));
    QVERIFY(TaskWorkers::waitForAll(30000));
    task.reset();
    QTest::qWait(200);  // sessions are released on this thread
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    const QStringList left = QDir(m_out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(',')));
    // Earlier rows' windows may release their folders meanwhile: only new entries count.
    auto leftover = [&tempBefore]() {
        return QStringList((testsupport::tempEntries() - tempBefore).values());
    };
    QTRY_VERIFY2_WITH_TIMEOUT(leftover().isEmpty(), qPrintable(leftover().join(',')), 10000);
}

int main(int argc, char** argv) {
    isolateUserDirs();
    // A temporary folder of this test alone, so that its snapshots see only this test's folders.
    static QTemporaryDir tmp(QDir::tempPath() + QStringLiteral("/vrk-cancel-tmp-XXXXXX"));
    qputenv("TMPDIR", tmp.path().toUtf8());
    QApplication app(argc, argv);
    QDir::setCurrent(QStringLiteral(VRK_BINARY_DIR "/ui"));
    CancelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_widget_e2e_cancel.moc"
