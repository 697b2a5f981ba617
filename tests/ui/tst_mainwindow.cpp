// Main window: task table, reports from worker threads, running time, row menu, close question,
// maximise, drag, task-window hooks.
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QFileInfo>

#include <atomic>
#include <thread>

#include "BaseDialog.h"
#include "CSettings.h"
#include "MainWindow.h"
#include "ShellTestMain.h"
#include "TaskInterface.h"
#include "TaskHistory.h"
#include "TaskWindows.h"
#include "VRKMessageBox.h"

namespace {

// A task window as the real ones are: a frameless dialog implementing the task contract, reporting
// from a worker thread of its own.
class FakeTask : public BaseDialog, public TaskInterface {
public:
    FakeTask(int type, int status, const QString& source, const QString& output)
        : m_id(QUuid::createUuid().toString()),
          m_type(type),
          m_status(status),
          m_source(source),
          m_output(output) {}
    ~FakeTask() override {
        if (m_worker.joinable()) {
            m_worker.join();
        }
    }

    QString taskId() override { return m_id; }
    int taskType() override { return m_type; }
    QString sourceName() override { return m_source; }
    QString sourceToolTip() override { return QStringLiteral("tip:") + m_source; }
    QString outputPath() override { return m_output; }
    int status() override { return m_status.load(); }
    void setStatus(int status) override { m_status.store(status); }
    qint64 timeConsume() override { return m_time.load(); }
    bool startTask() override {
        ++m_starts;
        return true;
    }
    void setObserver(TaskInterfaceObserver* observer) override { m_observer = observer; }

    // Runs `work` on a worker thread with the observer and id, and waits for the worker to end.
    void reportFromWorker(const std::function<void(TaskInterfaceObserver*, const QString&)>& work) {
        if (m_worker.joinable()) {
            m_worker.join();
        }
        TaskInterfaceObserver* observer = m_observer;
        const QString id = m_id;
        std::atomic<bool> offGuiThread{false};
        m_worker = std::thread([observer, id, work, &offGuiThread] {
            offGuiThread.store(QThread::currentThread() != qApp->thread());
            work(observer, id);
        });
        m_worker.join();
        QVERIFY(offGuiThread.load());
    }

    QString m_id;
    int m_type;
    std::atomic<int> m_status;
    QString m_source;
    QString m_output;
    std::atomic<qint64> m_time{0};
    int m_starts = 0;
    TaskInterfaceObserver* m_observer = nullptr;
    std::thread m_worker;
};

std::shared_ptr<FakeTask> makeTask(int status, int type = TaskType::Cut) {
    return std::make_shared<FakeTask>(type, status, QStringLiteral("lesson.vrk"),
                                      QStringLiteral("/tmp/out/lesson.vrk"));
}

QTableWidget* tableOf(MainWindow& w) {
    return w.findChild<QTableWidget*>(QStringLiteral("tableWidget"));
}

QWidget* statusBarOf(MainWindow& w) {
    return w.findChild<QWidget*>(QStringLiteral("statusBarWidget"));
}

// The entries of the row menu opened for `row` (the chosen entry is triggered); the menu is closed.
QStringList rowMenuOnce(MainWindow& w, int row, const QString& trigger, bool* shown) {
    QTableWidget* table = tableOf(w);
    const QPoint point = table->visualItemRect(table->item(row, 0)).center();
    QStringList entries;
    QPointer<QTimer> waiting =
        shelltest::whenShown<QMenu>([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); },
                                    [&entries, shown, trigger](QMenu* menu) {
                                        *shown = true;
                                        QAction* chosen = nullptr;
                                        for (QAction* a : menu->actions()) {
                                            entries << a->text();
                                            if (a->text() == trigger) {
                                                chosen = a;
                                            }
                                        }
                                        menu->close();
                                        if (chosen) {
                                            chosen->trigger();
                                        }
                                    });
    QMetaObject::invokeMethod(&w, "on_tableWidget_customContextMenuRequested", Q_ARG(QPoint, point));
    shelltest::stopWaiting(waiting);
    return entries;
}

QStringList rowMenu(MainWindow& w, int row, const QString& trigger = QString()) {
    // A popup may be refused while the window system still settles a previous one: try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        bool shown = false;
        const QStringList entries = rowMenuOnce(w, row, trigger, &shown);
        if (shown) {
            return entries;
        }
        QTest::qWait(100);
    }
    return {QStringLiteral("<no menu>")};
}

// Presses the window's close button and answers the question (if one comes) with `answer`:
// an object name of the box's buttons, "Escape", or empty for "no question expected".
bool pressCloseAndAnswer(MainWindow& w, const QString& answer) {
    bool asked = false;
    QString question;
    QPointer<QTimer> waiting = shelltest::whenShown<VRKMessageBox>(
        [] { return qobject_cast<VRKMessageBox*>(QApplication::activeModalWidget()); },
        [&asked, &question, answer](VRKMessageBox* box) {
            asked = true;
            for (QLabel* l : box->findChildren<QLabel*>()) {
                question += l->text() + QLatin1Char('|');
            }
            if (answer == QLatin1String("Escape")) {
                QTest::keyClick(box, Qt::Key_Escape);
            } else {
                QTest::mouseClick(box->findChild<QPushButton*>(answer), Qt::LeftButton);
            }
        });
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("closeBtn")), Qt::LeftButton);
    shelltest::stopWaiting(waiting);
    if (asked) {
        // The box names the question and its title.
        if (!question.contains(QStringLiteral("exit|")) || !question.contains(QStringLiteral("is it out?"))) {
            qWarning("unexpected question: %s", qPrintable(question));
            return false;
        }
    }
    return asked;
}

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void formAndGeometry();
    void emptyLookAndRows();
    void reportsFromWorkerThread();
    void runningTime();
    void rowMenuPerStatus();
    void deleteTask();
    void closeQuestion();
    void taskWindowButtons();
    void maximiseAndDrag();
    void transcodeResetOnDestruction();
    void historySurvivesRestart();
};

void TestMainWindow::init() {
    setTaskWindowFactory(TaskType::Cut, nullptr);
    setTaskWindowFactory(TaskType::Merge, nullptr);
    setTaskWindowFactory(TaskType::Convert, nullptr);
    // Each case starts without tasks of earlier windows.
    QFile::remove(TaskHistory::filePath());
}

void TestMainWindow::formAndGeometry() {
    QCoreApplication::setApplicationVersion(QStringLiteral("2.3.4"));
    CSettings::instance()->write(QString::fromLatin1(CSettings::kSystemOutputPath), QString());
    MainWindow w;
    // First start: the default output folder is stored.
    QVERIFY(
        !CSettings::instance()->read(QStringLiteral("System/OutputPath"), QString()).toString().isEmpty());

    QCOMPARE(w.windowTitle(), QStringLiteral("Playback edit tool 2.3.4"));
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("label_4"))->text(),
             QStringLiteral("Playback edit tool 2.3.4"));
    QCOMPARE(w.size(), QSize(960, 670));
    QCOMPARE(w.minimumSize(), QSize(960, 670));
    QCOMPARE(w.maximumSize(), QSize(960, 670));
    QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(w.findChild<QWidget*>(QStringLiteral("titlebarWidget"))->maximumHeight(), 30);
    QCOMPARE(w.findChild<QWidget*>(QStringLiteral("toolBarWidget"))->maximumHeight(), 60);
    for (const char* name : {"pushButton_setting", "minBtn", "maxBtn", "closeBtn"}) {
        auto* b = w.findChild<QPushButton*>(QString::fromLatin1(name));
        QVERIFY2(b, name);
        QCOMPARE(b->size(), QSize(38, 30));
        QVERIFY(b->text().isEmpty());
    }
    QVERIFY(w.findChild<QPushButton*>(QStringLiteral("maxBtn"))->isCheckable());
    const QStringList tools = {QStringLiteral("Cut"), QStringLiteral("Merge"), QStringLiteral("Convert")};
    const QStringList toolNames = {QStringLiteral("pushButton_cut"), QStringLiteral("pushButton_merge"),
                                   QStringLiteral("pushButton_convert")};
    for (int i = 0; i < 3; ++i) {
        auto* b = w.findChild<QPushButton*>(toolNames[i]);
        QCOMPARE(b->text(), tools[i]);
        QCOMPARE(b->size(), QSize(98, 32));
    }
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("label"))->text(), QStringLiteral("Time consume:"));

    QTableWidget* table = tableOf(w);
    QCOMPARE(table->columnCount(), 5);
    const QStringList headers = {QStringLiteral("Source files"), QStringLiteral("Outoput file"),
                                 QStringLiteral("Task type"), QStringLiteral("Status"),
                                 QStringLiteral("Remarks")};
    const int widths[] = {211, 251, 151, 151, 195};
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(table->horizontalHeaderItem(c)->text(), headers[c]);
    }
    QVERIFY(!table->verticalHeader()->isVisible() || table->verticalHeader()->isHidden());
    QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(table->alternatingRowColors());
    QVERIFY(!table->showGrid());
    QCOMPARE(table->contextMenuPolicy(), Qt::CustomContextMenu);
    QVERIFY(qobject_cast<DrawIconDelegate*>(table->itemDelegateForColumn(2)));

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // Column widths follow the window width: trunc(960 * base / 959).
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(table->columnWidth(c), int(960 * widths[c] * 1.0 / 959));
    }
}

void TestMainWindow::emptyLookAndRows() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTableWidget* table = tableOf(w);
    QCOMPARE(table->rowCount(), 0);
    QVERIFY(table->styleSheet().contains(QStringLiteral("task_empty.png")));
    QVERIFY(statusBarOf(w)->isHidden());

    w.addTask(nullptr);
    QCOMPARE(table->rowCount(), 0);

    auto task = makeTask(TaskStatus::Wait);
    task->m_source =
        QStringLiteral("a-very-long-source-name-that-cannot-fit-into-one-hundred-and-eighty-pixels.vrk");
    w.addTask(task);
    QCOMPARE(task->m_starts, 1);
    QCOMPARE(task->m_observer, static_cast<TaskInterfaceObserver*>(&w));
    QCOMPARE(table->rowCount(), 1);
    QVERIFY(!table->styleSheet().contains(QStringLiteral("task_empty.png")));
    QVERIFY(table->styleSheet().contains(QStringLiteral("selection-background-color:rgb(183,221,253)")));
    QVERIFY(!statusBarOf(w)->isHidden());
    QCOMPARE(table->rowHeight(0), 40);

    QTableWidgetItem* source = table->item(0, 0);
    QVERIFY(source->text().startsWith(QStringLiteral("   ")));
    QVERIFY(source->text().endsWith(QChar(0x2026)));  // elided at the right
    QCOMPARE(source->toolTip(), QStringLiteral("tip:") + task->m_source);
    QCOMPARE(source->foreground().color(), QColor(QStringLiteral("#38404b")));
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("  /tmp/out/lesson.vrk"));
    QCOMPARE(table->item(0, 1)->foreground().color(), QColor(QStringLiteral("#79808b")));
    QCOMPARE(table->item(0, 2)->text(), QString());
    QCOMPARE(table->item(0, 3)->text(), QStringLiteral("Wait"));
    QCOMPARE(table->item(0, 3)->foreground().color(), QColor(QStringLiteral("#b5b7be")));
    QCOMPARE(table->item(0, 4)->text(), QStringLiteral("-"));
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(table->item(0, c)->data(Qt::UserRole).toString(), task->m_id);
        QCOMPARE(table->item(0, c)->font().pixelSize(), 12);
    }
    QCOMPARE(w.taskTypeAt(table->model()->index(0, 2)), int(TaskType::Cut));

    // The type column is painted: the icon (blue) left of the name.
    QApplication::processEvents();
    const QImage shot = table->viewport()->grab().toImage();
    const QRect cell = table->visualItemRect(table->item(0, 2));
    int blue = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y) {
        for (int x = cell.left(); x < cell.center().x(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (c.blue() > 200 && c.red() < 120) {
                ++blue;
            }
        }
    }
    QVERIFY2(blue > 5, qPrintable(QString::number(blue)));

    // An export task is listed as converting from the start; a second row for a second task.
    auto exportTask = makeTask(TaskStatus::Converting, TaskType::Convert);
    w.addTask(exportTask);
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(1, 3)->text(), QStringLiteral("Converting"));
    QCOMPARE(table->item(1, 3)->foreground().color(), QColor(QStringLiteral("#4ba9fa")));
    QCOMPARE(w.taskTypeAt(table->model()->index(1, 2)), int(TaskType::Convert));
}

void TestMainWindow::reportsFromWorkerThread() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTableWidget* table = tableOf(w);
    auto task = makeTask(TaskStatus::Wait);
    w.addTask(task);

    // The report is queued: the table is untouched until the GUI thread runs it.
    task->reportFromWorker(
        [](TaskInterfaceObserver* o, const QString& id) { o->onStatusChange(id, TaskStatus::Converting); });
    QCOMPARE(table->item(0, 3)->text(), QStringLiteral("Wait"));
    QTRY_COMPARE(table->item(0, 3)->text(), QStringLiteral("Converting"));
    QCOMPARE(table->item(0, 3)->foreground().color(), QColor(QStringLiteral("#4ba9fa")));
    QCOMPARE(task->status(), int(TaskStatus::Converting));
    QCOMPARE(table->item(0, 1)->toolTip(), QStringLiteral("/tmp/out/lesson.vrk"));

    // Progress 0.999 shows 99.
    task->reportFromWorker(
        [](TaskInterfaceObserver* o, const QString& id) { o->onProgressValueChange(id, 0.999f); });
    QTRY_VERIFY(qobject_cast<QProgressBar*>(table->cellWidget(0, 3)));
    auto* bar = qobject_cast<QProgressBar*>(table->cellWidget(0, 3));
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 99);
    task->reportFromWorker(
        [](TaskInterfaceObserver* o, const QString& id) { o->onProgressValueChange(id, 0.25f); });
    QTRY_COMPARE(bar->value(), 25);
    QCOMPARE(qobject_cast<QProgressBar*>(table->cellWidget(0, 3)), bar);  // the same bar is reused

    // The output path may be known only now: the next status report shows it and removes the bar.
    task->m_output = QStringLiteral("/tmp/out/lesson(1).vrk");
    task->reportFromWorker([](TaskInterfaceObserver* o, const QString& id) {
        o->onFinish(id, false, FinishReason::CutFail);
        o->onStatusChange(id, TaskStatus::Failed);
    });
    QTRY_COMPARE(table->item(0, 3)->text(), QStringLiteral("Failed"));
    QCOMPARE(table->item(0, 3)->foreground().color(), QColor(QStringLiteral("#f4384f")));
    QCOMPARE(table->item(0, 4)->text(), QStringLiteral("cut fail."));
    QVERIFY(!table->cellWidget(0, 3));
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("  /tmp/out/lesson(1).vrk"));
    QCOMPARE(table->item(0, 1)->toolTip(), QStringLiteral("/tmp/out/lesson(1).vrk"));

    // Remarks of every reason; reason 0 empties the cell.
    const QList<QPair<int, QString>> reasons = {
        {FinishReason::ReadFileFail, QStringLiteral("read file fail.")},
        {FinishReason::TemplateTypeConflict, QStringLiteral("template type is conflict.")},
        {FinishReason::MergeFail, QStringLiteral("merge fail.")},
        {FinishReason::None, QString()}};
    for (const auto& r : reasons) {
        const int reason = r.first;
        task->reportFromWorker(
            [reason](TaskInterfaceObserver* o, const QString& id) { o->onFinish(id, true, reason); });
        QTRY_COMPARE(table->item(0, 4)->text(), r.second);
    }
    task->reportFromWorker(
        [](TaskInterfaceObserver* o, const QString& id) { o->onStatusChange(id, TaskStatus::Finished); });
    QTRY_COMPARE(table->item(0, 3)->text(), QStringLiteral("Finished"));
    QCOMPARE(table->item(0, 3)->foreground().color(), QColor(QStringLiteral("#38404b")));

    // A status outside the table shows nothing; reports for unknown ids are ignored.
    w.slotStatusChange(task->m_id, 7);
    QCOMPARE(table->item(0, 3)->text(), QString());
    w.slotStatusChange(task->m_id, TaskStatus::Finished);
    task->reportFromWorker([](TaskInterfaceObserver* o, const QString&) {
        o->onStatusChange(QStringLiteral("{unknown}"), TaskStatus::Failed);
        o->onFinish(QStringLiteral("{unknown}"), false, FinishReason::MergeFail);
        o->onProgressValueChange(QStringLiteral("{unknown}"), 0.5f);
    });
    QTest::qWait(50);
    QCOMPARE(table->item(0, 3)->text(), QStringLiteral("Finished"));
    QCOMPARE(table->item(0, 4)->text(), QString());
    QVERIFY(!table->cellWidget(0, 3));
    QCOMPARE(table->rowCount(), 1);

    // Many reports from several threads at once end in a consistent table.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&w, id = task->m_id] {
            for (int i = 0; i <= 100; ++i) {
                w.onProgressValueChange(id, i / 100.0f);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    QTRY_VERIFY(qobject_cast<QProgressBar*>(table->cellWidget(0, 3)));
    QTRY_COMPARE(qobject_cast<QProgressBar*>(table->cellWidget(0, 3))->value(), 100);
}

void TestMainWindow::runningTime() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTableWidget* table = tableOf(w);
    auto* label = w.findChild<QLabel*>(QStringLiteral("label_task_duration"));
    auto task = makeTask(TaskStatus::Converting);
    task->m_time = 3725000;
    w.addTask(task);
    auto other = makeTask(TaskStatus::Finished);
    other->m_time = 59999;
    w.addTask(other);

    table->setCurrentCell(0, 0);
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("01:02:05"), 3000);
    table->setCurrentCell(1, 0);
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("00:00:59"), 3000);
    task->m_time = 100LL * 3600 * 1000 + 1000;
    table->setCurrentCell(0, 0);
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("100:00:01"), 3000);
    table->setCurrentCell(-1, -1);
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), QString(), 3000);
}

void TestMainWindow::rowMenuPerStatus() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString edit = QStringLiteral("edit");
    const QString option = QStringLiteral("Output Option");
    const QString open = QStringLiteral("Open Output Path");
    const QString del = QStringLiteral("Delete task");
    const QList<QPair<int, QStringList>> cases = {
        {TaskStatus::Wait, {edit, option, open, del}},
        {TaskStatus::Converting, {open}},
        {TaskStatus::Finished, {open, del}},
        {TaskStatus::Failed, {del}},
    };
    int row = 0;
    for (const auto& c : cases) {
        w.addTask(makeTask(c.first));
        QCOMPARE(rowMenu(w, row), c.second);
        ++row;
    }
    // Below the last row there is no item and no menu.
    bool shown = false;
    // The watcher must not outlive `shown`: no menu comes, so it is stopped by hand.
    QPointer<QTimer> waiting =
        shelltest::whenShown<QMenu>([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); },
                                    [&shown](QMenu* m) {
                                        shown = true;
                                        m->close();
                                    });
    QMetaObject::invokeMethod(&w, "on_tableWidget_customContextMenuRequested",
                              Q_ARG(QPoint, QPoint(20, 400)));
    QTest::qWait(100);
    shelltest::stopWaiting(waiting);
    QVERIFY(!shown);
}

void TestMainWindow::deleteTask() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTableWidget* table = tableOf(w);
    auto finished = makeTask(TaskStatus::Finished);
    auto waiting = makeTask(TaskStatus::Wait);
    w.addTask(finished);
    w.addTask(waiting);
    std::weak_ptr<FakeTask> finishedRef = finished;
    const QString waitingId = waiting->m_id;
    finished.reset();
    waiting.reset();

    // A finished task asks first: "Cancel" keeps the row, "Ok" removes it; its file is never touched.
    QTemporaryDir outDir;
    const QString outFile = outDir.filePath(QStringLiteral("lesson.vrk"));
    QFile out(outFile);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write("package") == 7);
    out.close();
    if (auto task = finishedRef.lock()) {
        task->m_output = outFile;
    }
    for (const QString& answer : {QStringLiteral("cancelBtn"), QStringLiteral("okBtn")}) {
        QString question;
        QPointer<QTimer> asking = shelltest::whenShown<VRKMessageBox>(
            [] { return qobject_cast<VRKMessageBox*>(QApplication::activeModalWidget()); },
            [&question, answer](VRKMessageBox* box) {
                for (QLabel* l : box->findChildren<QLabel*>()) {
                    question += l->text() + QLatin1Char('|');
                }
                QTest::mouseClick(box->findChild<QPushButton*>(answer), Qt::LeftButton);
            });
        QCOMPARE(rowMenu(w, 0, QStringLiteral("Delete task")),
                 QStringList({QStringLiteral("Open Output Path"), QStringLiteral("Delete task")}));
        QTRY_VERIFY(!question.isEmpty());
        shelltest::stopWaiting(asking);
        QVERIFY2(question.remove(QLatin1Char('|')).contains(QStringLiteral("Its output file is kept.")),
                 qPrintable(question));
        QTRY_COMPARE(table->rowCount(), answer == QStringLiteral("okBtn") ? 1 : 2);
    }
    QCOMPARE(QFileInfo(outFile).size(), qint64(7));
    QVERIFY(finishedRef.expired());  // released with its row
    QCOMPARE(table->item(0, 0)->data(Qt::UserRole).toString(), waitingId);
    QVERIFY(!statusBarOf(w)->isHidden());

    // Deleting the last task returns to the empty look.
    rowMenu(w, 0, QStringLiteral("Delete task"));
    QTRY_COMPARE(table->rowCount(), 0);
    QVERIFY(table->styleSheet().contains(QStringLiteral("task_empty.png")));
    QVERIFY(statusBarOf(w)->isHidden());
}

void TestMainWindow::closeQuestion() {
    {
        // No task in progress: closes at once, no question.
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.addTask(makeTask(TaskStatus::Finished));
        QVERIFY(!pressCloseAndAnswer(w, QStringLiteral("okBtn")));
        QVERIFY(!w.isVisible());
    }
    for (const int status : {int(TaskStatus::Wait), int(TaskStatus::Converting)}) {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto task = makeTask(status);
        w.addTask(task);
        std::weak_ptr<FakeTask> ref = task;
        task.reset();

        QVERIFY(pressCloseAndAnswer(w, QStringLiteral("cancelBtn")));
        QVERIFY(w.isVisible());
        QVERIFY(pressCloseAndAnswer(w, QStringLiteral("closeBtn")));
        QVERIFY(w.isVisible());
        QVERIFY(!ref.expired());
        if (status == TaskStatus::Wait) {
            QVERIFY(pressCloseAndAnswer(w, QStringLiteral("Escape")));
        } else {
            QVERIFY(pressCloseAndAnswer(w, QStringLiteral("okBtn")));
        }
        QVERIFY(!w.isVisible());
        QVERIFY(ref.expired());  // the tasks are released on quitting
    }
}

void TestMainWindow::taskWindowButtons() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTableWidget* table = tableOf(w);

    // A window that cannot be built shows nothing.
    setTaskWindowFactory(TaskType::Convert, [] { return std::shared_ptr<TaskInterface>(); });
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("pushButton_convert")), Qt::LeftButton);
    QCOMPARE(table->rowCount(), 0);
    setTaskWindowFactory(TaskType::Convert, nullptr);

    std::weak_ptr<FakeTask> last;
    setTaskWindowFactory(TaskType::Cut, [&last] {
        auto t = makeTask(TaskStatus::Wait, TaskType::Cut);
        last = t;
        return t;
    });
    auto findFake = [] { return dynamic_cast<FakeTask*>(QApplication::activeModalWidget()); };

    // Closed without confirming: nothing listed, the window is released.
    shelltest::whenShown<FakeTask>(findFake, [](FakeTask* t) { t->reject(); });
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("pushButton_cut")), Qt::LeftButton);
    QCOMPARE(table->rowCount(), 0);
    QVERIFY(last.expired());

    // Confirmed: one row reading "Wait", started once, kept alive by the window.
    shelltest::whenShown<FakeTask>(findFake, [](FakeTask* t) { t->accept(); });
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("pushButton_cut")), Qt::LeftButton);
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 3)->text(), QStringLiteral("Wait"));
    QVERIFY(!last.expired());
    QCOMPARE(last.lock()->m_starts, 1);
    QVERIFY(!last.lock()->isVisible());

    // "edit" runs the waiting task's window again.
    bool reopened = false;
    shelltest::whenShown<FakeTask>(findFake, [&reopened](FakeTask* t) {
        reopened = true;
        t->reject();
    });
    rowMenu(w, 0, QStringLiteral("edit"));
    QTRY_VERIFY(reopened);
    QCOMPARE(table->rowCount(), 1);
    setTaskWindowFactory(TaskType::Cut, nullptr);
}

void TestMainWindow::maximiseAndDrag() {
    MainWindow w;
    w.move(50, 40);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* maxBtn = w.findChild<QPushButton*>(QStringLiteral("maxBtn"));
    const QRect screen = w.screen()->geometry();

    QTest::mouseClick(maxBtn, Qt::LeftButton);
    QVERIFY(maxBtn->isChecked());
    QTRY_COMPARE(w.size(), screen.size());
    QTest::mouseClick(maxBtn, Qt::LeftButton);
    QVERIFY(!maxBtn->isChecked());
    QTRY_COMPARE(w.size(), QSize(960, 670));
    QRect expected(0, 0, 960, 670);
    expected.moveCenter(screen.center());
    QTRY_COMPARE(w.geometry(), expected);

    // Dragging by the title strip (y < 30) moves the window; below it does not.
    const QPoint start = w.pos();
    auto send = [&w](QEvent::Type type, QPoint local, Qt::MouseButton b, Qt::MouseButtons bs) {
        QMouseEvent e(type, local, w.mapToGlobal(local), b, bs, Qt::NoModifier);
        QApplication::sendEvent(&w, &e);
    };
    send(QEvent::MouseButtonPress, QPoint(300, 30), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(330, 50), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, QPoint(330, 50), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(w.pos(), start);
    send(QEvent::MouseButtonPress, QPoint(300, 29), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(270, 49), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(w.pos(), start + QPoint(-30, 20));
    send(QEvent::MouseButtonRelease, QPoint(270, 49), Qt::LeftButton, Qt::NoButton);
}

void TestMainWindow::transcodeResetOnDestruction() {
    CSettings* s = CSettings::instance();
    {
        MainWindow w;
        s->write(QString::fromLatin1(CSettings::kVideoTranseCode), true);
        QCOMPARE(s->read(QStringLiteral("Video/TranseCode"), false).toBool(), true);
    }
    QSettings disk(CSettings::settingsFilePath(), QSettings::IniFormat);
    QCOMPARE(disk.value(QStringLiteral("Video/TranseCode")).toString(), QStringLiteral("false"));
}

void TestMainWindow::historySurvivesRestart() {
    struct Ended {
        int type;
        int status;
        int reason;  // -1: no finish report (a merge that succeeded)
        QString remark;
    };
    const QList<Ended> ended = {
        {TaskType::Cut, TaskStatus::Finished, FinishReason::None, QString()},
        {TaskType::Merge, TaskStatus::Finished, -1, QStringLiteral("-")},
        {TaskType::Convert, TaskStatus::Failed, FinishReason::Cancelled,
         QStringLiteral("cancelled by the user.")},
    };
    QStringList ids;
    {
        MainWindow w;
        w.addTask(makeTask(TaskStatus::Wait));  // still waiting when the program ends: not kept
        for (const Ended& e : ended) {
            auto task = std::make_shared<FakeTask>(e.type, TaskStatus::Wait,
                                                   QStringLiteral("lesson%1.vrk").arg(e.type),
                                                   QStringLiteral("/tmp/out/result%1.vrk").arg(e.type));
            w.addTask(task);
            task->m_time = 3725000 + e.type;
            task->reportFromWorker([e](TaskInterfaceObserver* o, const QString& id) {
                o->onStatusChange(id, TaskStatus::Converting);
                o->onStatusChange(id, e.status);
                if (e.reason >= 0) {
                    o->onFinish(id, e.status == TaskStatus::Finished, e.reason);
                }
            });
            ids << task->m_id;
        }
        QTRY_COMPARE(tableOf(w)->item(3, 4)->text(), ended.last().remark);
    }
    // The history lies in the settings folder.
    QCOMPARE(QFileInfo(TaskHistory::filePath()).absolutePath(),
             QFileInfo(CSettings::settingsFilePath()).absolutePath());

    MainWindow again;
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QTableWidget* table = tableOf(again);
    QCOMPARE(table->rowCount(), ended.size());
    for (int r = 0; r < ended.size(); ++r) {
        QCOMPARE(table->item(r, 0)->data(Qt::UserRole).toString(), ids[r]);
        QCOMPARE(table->item(r, 0)->text().trimmed(), QStringLiteral("lesson%1.vrk").arg(ended[r].type));
        QCOMPARE(table->item(r, 0)->toolTip(), QStringLiteral("tip:lesson%1.vrk").arg(ended[r].type));
        QCOMPARE(table->item(r, 1)->text().trimmed(),
                 QStringLiteral("/tmp/out/result%1.vrk").arg(ended[r].type));
        QCOMPARE(table->item(r, 3)->text(), TaskTexts::statusText(ended[r].status));
        QCOMPARE(table->item(r, 4)->text(), ended[r].remark);
    }
    // Type and running time as the task reported them.
    table->setCurrentCell(0, 0);
    auto* label = again.findChild<QLabel*>(QStringLiteral("label_task_duration"));
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("01:02:05"), 3000);
    QCOMPARE(rowMenu(again, 2).last(), QStringLiteral("Clear task history"));

    // Clearing empties the list now and at the next start.
    rowMenu(again, 0, QStringLiteral("Clear task history"));
    QTRY_COMPARE(table->rowCount(), 0);
    MainWindow third;
    QCOMPARE(tableOf(third)->rowCount(), 0);
}

SHELL_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
