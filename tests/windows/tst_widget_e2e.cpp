// Cut and merge as a user runs them: from the main window's buttons, through the task windows, to a
// package in the output folder checked with ffprobe and the package reader.
#include <QAbstractItemModel>
#include <QDateTimeEdit>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "CSettings.h"
#include "CustomSlider.h"
#include "MainWindow.h"
#include "ResourceEditWidget.h"
#include "ResourceMergeWidget.h"
#include "TaskSupport.h"
#include "FrameOracle.h"
#include "tst_widget_support.h"

using namespace widgettest;

namespace {

QPushButton* button(QWidget* w, const char* name) {
    return w->findChild<QPushButton*>(QString::fromLatin1(name));
}

// Status texts a row of the main window's table showed, in order, without repeats.
class StatusRecorder {
public:
    explicit StatusRecorder(QTableWidget* table) : m_table(table) {
        m_conn =
            QObject::connect(table->model(), &QAbstractItemModel::dataChanged,
                             [this](const QModelIndex& a, const QModelIndex& b) {
                                 for (int r = a.row(); r <= b.row(); ++r) {
                                     if (a.column() <= 3 && b.column() >= 3 && r == m_table->rowCount() - 1) {
                                         const QString text = m_table->model()->index(r, 3).data().toString();
                                         if (!text.isEmpty() && (m_seen.isEmpty() || m_seen.last() != text)) {
                                             m_seen << text;
                                         }
                                     }
                                 }
                             });
    }
    ~StatusRecorder() { QObject::disconnect(m_conn); }
    QStringList seen() const { return m_seen; }

private:
    QTableWidget* m_table;
    QMetaObject::Connection m_conn;
    QStringList m_seen;
};

QString cellText(QTableWidget* table, int row, int column) {
    QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QString();
}

// With VRK_SHOT_DIR set, the windows are also photographed for the documentation.
void photograph(QWidget* w, const QString& name) {
    const QString dir = qEnvironmentVariable("VRK_SHOT_DIR");
    if (dir.isEmpty()) {
        return;
    }
    QTest::qWait(300);
    const QPoint origin = w->mapToGlobal(QPoint(0, 0));
    QApplication::primaryScreen()
        ->grabWindow(0, origin.x(), origin.y(), w->width(), w->height())
        .save(dir + "/" + name);
}

// Releases the mouse on the timeline at the pixel of `ms`, as a click on the bar does.
void clickTimeline(CustomSlider* slider, qint64 ms) {
    const QPoint p(slider->msToPixel(ms), slider->height() / 2);
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, p);
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, p);
}

qint64 editMs(QDateTimeEdit* edit) {
    return QTime(0, 0).msecsTo(edit->time());
}

}  // namespace

class EndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cutFromMainWindow();
    void mergeFromMainWindow();
    void mergeWithTemplateConflict();
    void windowDeletedWhileMergeRuns();
    void cleanupTestCase();

private:
    QStringList outputs() const { return QDir(m_out).entryList({QStringLiteral("*.vrk")}, QDir::Files); }

    QTemporaryDir m_dir;
    QString m_out;
    QString m_cut_source;
    QStringList m_merge_sources;
    QStringList m_conflict_sources;
    QString m_other_layout;
    MainWindow* m_main = nullptr;
};

void EndToEndTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_out = m_dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(m_out));
    CSettings::instance()->write(QStringLiteral("System/OutputPath"), m_out + QStringLiteral("/"));
    m_cut_source = m_dir.filePath(QStringLiteral("lesson.vrk"));
    QVERIFY(testsupport::makeSample(m_cut_source, {"--template", "2", "--duration", "60", "--size", "320x180",
                                                   "--fps", "10", "--gop", "10"}));
    for (int i = 0; i < 3; ++i) {
        const QString p = m_dir.filePath(QStringLiteral("part%1.vrk").arg(i + 1));
        QVERIFY(testsupport::makeSample(p, {"--template", "3", "--duration", "8", "--size", "320x180",
                                            "--fps", "10", "--gop", "10", "--seed", QString::number(i + 1)}));
        m_merge_sources << p;
    }
    // The window refuses a package of another layout when it is added; the worker's own check meets
    // one that was replaced on disk after it was listed.
    m_conflict_sources << m_merge_sources.first() << m_dir.filePath(QStringLiteral("replaced.vrk"));
    QVERIFY(QFile::copy(m_merge_sources.first(), m_conflict_sources.last()));
    m_other_layout = m_dir.filePath(QStringLiteral("otherlayout.vrk"));
    QVERIFY(testsupport::makeSample(
        m_other_layout, {"--template", "4", "--duration", "8", "--size", "320x180", "--fps", "10"}));
    m_main = new MainWindow;
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main));
}

void EndToEndTest::cleanupTestCase() {
    delete m_main;
    QVERIFY(TaskWorkers::waitForAll(60000));
}

void EndToEndTest::cutFromMainWindow() {
    auto* table = m_main->findChild<QTableWidget*>(QStringLiteral("tableWidget"));
    QVERIFY(table);
    const int rowsBefore = table->rowCount();
    StatusRecorder recorder(table);
    QString driverError = QStringLiteral("the cut window never opened");
    QList<std::pair<qint64, qint64>> segments;

    QTimer::singleShot(0, [&]() {
        auto* w = qobject_cast<ResourceEditWidget*>(QApplication::activeModalWidget());
        if (!w) {
            return;
        }
        driverError = QStringLiteral("open");
        ModalAnswerer answerer;
        answerer.chooseFile(m_cut_source);
        QTest::mouseClick(button(w, "pushButton_add_file"), Qt::LeftButton);
        if (!w->session() || !answerer.unexpected().isEmpty()) {
            w->reject();
            return;
        }
        driverError = QStringLiteral("play");
        QTest::mouseClick(button(w, "pushButton_play"), Qt::LeftButton);
        auto* current = w->findChild<QLabel*>(QStringLiteral("label_current_play_time"));
        // With the package's audio track and no sound device on the machine.
        if (!waitUntil([&] { return current->text() != QStringLiteral("00:00:00.000"); }, 30000)) {
            w->reject();
            return;
        }
        driverError = QStringLiteral("segments");
        auto* slider = w->findChild<CustomSlider*>(QStringLiteral("widget_slider"));
        auto* begin = w->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_begin"));
        auto* end = w->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_end"));
        for (const auto& span : {std::make_pair(5000, 20000), std::make_pair(30000, 45000)}) {
            clickTimeline(slider, span.first);
            QTest::mouseClick(button(w, "setSegmentStartBtn"), Qt::LeftButton);
            clickTimeline(slider, span.second);
            QTest::mouseClick(button(w, "setSegmentEndBtn"), Qt::LeftButton);
            segments << std::make_pair(editMs(begin), editMs(end));
            QTest::mouseClick(button(w, "addCutSegmentBtn"), Qt::LeftButton);
        }
        if (w->session()->getSegments().size() != 2 || !button(w, "pushButton_sure")->isEnabled()) {
            w->reject();
            return;
        }
        photograph(w, QStringLiteral("cut-window.png"));
        driverError.clear();
        QTest::mouseClick(button(w, "pushButton_sure"), Qt::LeftButton);
    });
    QTest::mouseClick(button(m_main, "pushButton_cut"), Qt::LeftButton);
    QVERIFY2(driverError.isEmpty(), qPrintable(driverError));
    QCOMPARE(table->rowCount(), rowsBefore + 1);
    const int row = table->rowCount() - 1;
    QVERIFY(waitUntil([&] { return cellText(table, row, 3) == QStringLiteral("Finished"); }, 180000));
    QCOMPARE(recorder.seen(), QStringList({"Wait", "Converting", "Finished"}));
    QVERIFY(cellText(table, row, 0).contains(QStringLiteral("lesson.vrk")));
    QCOMPARE(cellText(table, row, 4), QString());  // a finished cut reports reason None

    // The package in the output folder: the kept stretches of video, the events re-timed onto them.
    const QString output = m_out + QStringLiteral("/lesson.vrk");
    QVERIFY(QFileInfo::exists(output));
    QCOMPARE(table->item(row, 1)->toolTip(), output);
    auto result = readPackage(output);
    QVERIFY(result);
    const qint64 planned =
        (segments[0].second - segments[0].first) + (segments[1].second - segments[1].first);
    QVERIFY(planned > 25000 && planned < 35000);
    const qint64 duration = testsupport::ffprobeDurationMs(result->getRootItem()->video_path);
    QVERIFY2(duration >= planned - 500 && duration <= planned + 2500, qPrintable(QString::number(duration)));
    // The cut oracle: the new video shows exactly the source pictures of the two stretches, in order.
    QTemporaryDir srcDir;
    QCOMPARE(testsupport::runProgram(QStringLiteral("unzip"), {"-q", m_cut_source, "-d", srcDir.path()}), 0);
    const QVector<QByteArray> srcPics = frameoracle::pictures(srcDir.path() + QStringLiteral("/c.mp4"));
    QVector<QPair<qint64, qint64>> stretches;
    for (const auto& s : segments) {
        stretches.push_back({s.first, s.second});
    }
    QCOMPARE(frameoracle::match(frameoracle::pictures(result->getRootItem()->video_path), srcPics),
             frameoracle::expected(stretches, 10, srcPics.size()));

    auto source = readMeta(m_cut_source);
    QVERIFY(source);
    const auto& before = source->datas->meta_item->chatLog;
    const auto& after = result->getRootItem()->datas->meta_item->chatLog;
    QStringList inside;
    for (const auto& chat : before) {
        for (const auto& s : segments) {
            if (chat->time >= s.first && chat->time < s.second) {
                inside << chat->content;
            }
        }
    }
    QVERIFY(!inside.isEmpty());
    QStringList kept;
    for (const auto& chat : after) {
        kept << chat->content;
        QVERIFY(chat->time >= 0 && chat->time <= duration + 1000);
    }
    for (const QString& content : inside) {
        QVERIFY2(kept.contains(content), qPrintable(content));
    }
    QVERIFY(after.size() <= inside.size() + segments.size());
    for (const auto& page : result->getRootItem()->datas->meta_item->pageChange) {
        QVERIFY(page->time >= 0 && page->time <= duration + 1000);
    }
}

void EndToEndTest::mergeFromMainWindow() {
    auto* table = m_main->findChild<QTableWidget*>(QStringLiteral("tableWidget"));
    const int rowsBefore = table->rowCount();
    StatusRecorder recorder(table);
    QString driverError = QStringLiteral("the merge window never opened");
    QTimer::singleShot(0, [&]() {
        auto* w = qobject_cast<ResourceMergeWidget*>(QApplication::activeModalWidget());
        if (!w) {
            return;
        }
        ModalAnswerer answerer;
        for (const QString& p : qAsConst(m_merge_sources)) {
            answerer.chooseFile(p);
            QTest::mouseClick(button(w, "pushButton_add_file"), Qt::LeftButton);
        }
        if (w->fileList() != m_merge_sources) {
            driverError = QStringLiteral("files");
            w->reject();
            return;
        }
        photograph(w, QStringLiteral("merge-window.png"));
        driverError.clear();
        QTest::mouseClick(button(w, "pushButton_sure"), Qt::LeftButton);
    });
    QTest::mouseClick(button(m_main, "pushButton_merge"), Qt::LeftButton);
    QVERIFY2(driverError.isEmpty(), qPrintable(driverError));
    QCOMPARE(table->rowCount(), rowsBefore + 1);
    const int row = table->rowCount() - 1;
    QCOMPARE(cellText(table, row, 0).trimmed(), QStringLiteral("3 files"));
    QVERIFY(waitUntil([&] { return cellText(table, row, 3) == QStringLiteral("Finished"); }, 180000));
    QCOMPARE(recorder.seen(), QStringList({"Wait", "Converting", "Finished"}));
    QCOMPARE(cellText(table, row, 4), QStringLiteral("-"));  // a merge reports no finish on success

    const QString output = m_out + QStringLiteral("/part1.vrk");
    QVERIFY(QFileInfo::exists(output));
    auto result = readPackage(output);
    QVERIFY(result);
    qint64 total = 0;
    QList<qint64> starts;
    int chats = 0;
    int draws = 0;
    QStringList expectedChat;
    for (const QString& p : qAsConst(m_merge_sources)) {
        auto input = readPackage(p);
        QVERIFY(input);
        starts << total;
        const qint64 d = testsupport::ffprobeDurationMs(input->getRootItem()->video_path);
        QVERIFY(d > 0);
        const auto& meta = input->getRootItem()->datas->meta_item;
        for (const auto& chat : meta->chatLog) {
            expectedChat << QStringLiteral("%1@%2").arg(chat->content).arg(chat->time + total);
        }
        chats += meta->chatLog.size();
        draws += meta->draw.size() + ((!meta->draw.isEmpty() && meta->draw.first()->data.type != 8) ? 1 : 0);
        total += d;
    }
    const qint64 duration = testsupport::ffprobeDurationMs(result->getRootItem()->video_path);
    QVERIFY2(qAbs(duration - total) <= 500, qPrintable(QStringLiteral("%1 vs %2").arg(duration).arg(total)));
    const auto& meta = result->getRootItem()->datas->meta_item;
    QCOMPARE(meta->chatLog.size(), chats);
    QStringList gotChat;
    for (const auto& chat : meta->chatLog) {
        gotChat << QStringLiteral("%1@%2").arg(chat->content).arg(chat->time);
    }
    // Event times are whole seconds in meta.json; the offsets are the inputs' lengths.
    auto roundSeconds = [](QStringList list) {
        for (QString& s : list) {
            const qint64 t = s.section(QLatin1Char('@'), -1).toLongLong();
            s = s.section(QLatin1Char('@'), 0, -2) + QLatin1Char('@') + QString::number((t + 500) / 1000);
        }
        list.sort();
        return list;
    };
    QCOMPARE(roundSeconds(gotChat), roundSeconds(expectedChat));
    QCOMPARE(meta->draw.size(), draws);
    QCOMPARE(meta->draw.first()->data.type, qint16(8));
}

void EndToEndTest::mergeWithTemplateConflict() {
    auto* table = m_main->findChild<QTableWidget*>(QStringLiteral("tableWidget"));
    const QStringList before = outputs();
    StatusRecorder recorder(table);
    QString driverError = QStringLiteral("the merge window never opened");
    QTimer::singleShot(0, [&]() {
        auto* w = qobject_cast<ResourceMergeWidget*>(QApplication::activeModalWidget());
        if (!w) {
            return;
        }
        ModalAnswerer answerer;
        for (const QString& p : qAsConst(m_conflict_sources)) {
            answerer.chooseFile(p);
            QTest::mouseClick(button(w, "pushButton_add_file"), Qt::LeftButton);
        }
        if (w->fileList() != m_conflict_sources || !QFile::remove(m_conflict_sources.last()) ||
            !QFile::copy(m_other_layout, m_conflict_sources.last())) {
            driverError = QStringLiteral("listing");
            w->reject();
            return;
        }
        driverError.clear();
        QTest::mouseClick(button(w, "pushButton_sure"), Qt::LeftButton);
    });
    QTest::mouseClick(button(m_main, "pushButton_merge"), Qt::LeftButton);
    QVERIFY2(driverError.isEmpty(), qPrintable(driverError));
    const int row = table->rowCount() - 1;
    QVERIFY(waitUntil([&] { return cellText(table, row, 3) == QStringLiteral("Failed"); }, 120000));
    QCOMPARE(recorder.seen(), QStringList({"Wait", "Converting", "Failed"}));
    QCOMPARE(cellText(table, row, 4), QStringLiteral("template type is conflict."));
    QCOMPARE(outputs(), before);
}

namespace {
struct CountingObserver : TaskInterfaceObserver {
    std::atomic<int> reports{0};
    void onStatusChange(QString, int) override { ++reports; }
    void onFinish(QString, bool, int) override { ++reports; }
    void onProgressValueChange(QString, float) override { ++reports; }
};
}  // namespace

void EndToEndTest::windowDeletedWhileMergeRuns() {
    auto* w = new ResourceMergeWidget;
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    {
        ModalAnswerer answerer;
        for (int i = 1; i < 3; ++i) {
            answerer.chooseFile(m_merge_sources.at(i));
            QTest::mouseClick(button(w, "pushButton_add_file"), Qt::LeftButton);
        }
    }
    QCOMPARE(w->fileList().size(), 2);
    CountingObserver observer;
    w->setObserver(&observer);
    QVERIFY(w->startTask());
    // The task is deleted from the table at once; its worker carries on with what it holds.
    delete w;
    const int reportsAtDeletion = observer.reports.load();
    QVERIFY(TaskWorkers::waitForAll(180000));
    QCOMPARE(observer.reports.load(), reportsAtDeletion);
    const QString output = m_out + QStringLiteral("/part2.vrk");
    QVERIFY(QFileInfo::exists(output));
    auto result = readPackage(output);
    QVERIFY(result);
    QVERIFY(testsupport::ffprobeDurationMs(result->getRootItem()->video_path) > 10000);
}

int main(int argc, char** argv) {
    isolateUserDirs();
    QApplication app(argc, argv);
    // The program runs from its own directory, where the chat's emoticon pictures are.
    QDir::setCurrent(QStringLiteral(VRK_BINARY_DIR "/ui"));
    EndToEndTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_widget_e2e.moc"
