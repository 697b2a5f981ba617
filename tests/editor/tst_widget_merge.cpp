// The merge task window: limits, list editing and the task contract.
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QUuid>

#include "CSettings.h"
#include "ResourceMergeWidget.h"
#include "TaskInterface.h"
#include "tst_widget_support.h"

using namespace widgettest;

namespace {

struct NullObserver : TaskInterfaceObserver {
    void onStatusChange(QString, int) override {}
    void onFinish(QString, bool, int) override {}
    void onProgressValueChange(QString, float) override {}
};

QPushButton* button(QWidget* w, const char* name) {
    return w->findChild<QPushButton*>(QString::fromLatin1(name));
}

}  // namespace

class MergeWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void formAndEmptyState();
    void totalSizeLimit();
    void listEditing();
    void fileCountLimit();
    void taskContractAndOutputPath();
    void closeQuestion();

private:
    QString sparse(const QString& name, qint64 bytes);
    void addFile(ResourceMergeWidget& w, const QString& path, std::shared_ptr<MessageSeen> seen = {});

    QTemporaryDir m_dir;
};

void MergeWindowTest::initTestCase() {
    QVERIFY(m_dir.isValid());
}

QString MergeWindowTest::sparse(const QString& name, qint64 bytes) {
    const QString path = m_dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || !f.resize(bytes)) {
        return QString();
    }
    return path;
}

void MergeWindowTest::addFile(ResourceMergeWidget& w, const QString& path,
                              std::shared_ptr<MessageSeen> seen) {
    ModalAnswerer answerer;
    answerer.chooseFile(path);
    if (seen) {
        answerer.answerMessage(seen);
    }
    QTest::mouseClick(button(&w, "pushButton_add_file"), Qt::LeftButton);
    QVERIFY(waitUntil([&] { return answerer.pending() == 0; }, 20000));
    QVERIFY2(answerer.unexpected().isEmpty(), qPrintable(answerer.unexpected().join(QLatin1Char('|'))));
}

void MergeWindowTest::formAndEmptyState() {
    ResourceMergeWidget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.size(), QSize(900, 570));
    QCOMPARE(w.windowTitle(), QStringLiteral("ResourceMergeWidget"));
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("label_4"))->text(), QStringLiteral("Playback Megre"));
    auto* table = w.findChild<QTableWidget*>(QStringLiteral("tableWidget"));
    QCOMPARE(table->columnCount(), 2);
    QCOMPARE(table->horizontalHeaderItem(0)->text(), QStringLiteral("file"));
    QCOMPARE(table->horizontalHeaderItem(1)->text(), QStringLiteral("file size"));
    QCOMPARE(table->columnWidth(0), 547);
    QCOMPARE(table->columnWidth(1), 231);
    QCOMPARE(button(&w, "pushButton_remove")->text(), QStringLiteral("     Remove"));
    QCOMPARE(button(&w, "pushButton_up")->size(), QSize(60, 30));
    QCOMPARE(button(&w, "pushButton_sure")->size(), QSize(98, 32));
    QCOMPARE(w.findChild<QWidget*>(QStringLiteral("widget_right_side"))->width(), 130);
    QCOMPARE(w.findChild<QWidget*>(QStringLiteral("bottomToolBar"))->height(), 40);
    for (const char* name : {"pushButton_up", "pushButton_down", "pushButton_remove", "pushButton_clear",
                             "pushButton_output_option", "pushButton_sure"}) {
        QVERIFY2(!button(&w, name)->isEnabled(), name);
    }
    QVERIFY(button(&w, "pushButton_add_file")->isEnabled());
    QCOMPARE(table->property("HasFile").toBool(), false);
    QCOMPARE(w.taskType(), 1);
    QCOMPARE(w.status(), 3);
    QVERIFY(!QUuid::fromString(w.taskId()).isNull());
}

void MergeWindowTest::totalSizeLimit() {
    ResourceMergeWidget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString a = sparse(QStringLiteral("three.vrk"), 3LL * 1024 * 1024 * 1024);
    const QString b = sparse(QStringLiteral("two.vrk"), 2LL * 1024 * 1024 * 1024);
    const QString c = sparse(QStringLiteral("one-byte.vrk"), 1);
    QVERIFY(!a.isEmpty() && !b.isEmpty() && !c.isEmpty());
    auto* table = w.findChild<QTableWidget*>(QStringLiteral("tableWidget"));

    addFile(w, a);
    addFile(w, b);
    // Exactly 5 GiB is accepted.
    QCOMPARE(w.fileList(), QStringList({a, b}));
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("3072.0MB"));
    QCOMPARE(table->item(1, 1)->text(), QStringLiteral("2048.0MB"));
    QCOMPARE(table->item(0, 0)->data(Qt::UserRole).toString(), a);
    QCOMPARE(table->item(0, 0)->toolTip(), a);
    QVERIFY(table->item(0, 0)->text().startsWith(QStringLiteral("   ")));
    QCOMPARE(table->rowHeight(0), 40);
    QCOMPARE(table->item(1, 1)->textAlignment(), int(Qt::AlignCenter));

    // One byte more is refused.
    auto seen = std::make_shared<MessageSeen>();
    addFile(w, c, seen);
    QCOMPARE(seen->text, QStringLiteral("files size more than 5G."));
    QCOMPARE(seen->title, QStringLiteral("error"));
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(w.fileList().size(), 2);
    // After removing the 2 GiB file there is room again.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                      table->visualItemRect(table->item(1, 0)).center());
    QTest::mouseClick(button(&w, "pushButton_remove"), Qt::LeftButton);
    addFile(w, c);
    QCOMPARE(w.fileList(), QStringList({a, c}));
    QCOMPARE(table->item(1, 1)->text(), QStringLiteral("0.0MB"));
    QCOMPARE(CSettings::instance()->read(QStringLiteral("System/Path")).toString(), m_dir.path());
}

void MergeWindowTest::listEditing() {
    ResourceMergeWidget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* table = w.findChild<QTableWidget*>(QStringLiteral("tableWidget"));
    QPushButton* up = button(&w, "pushButton_up");
    QPushButton* down = button(&w, "pushButton_down");
    QPushButton* remove = button(&w, "pushButton_remove");
    QPushButton* clear = button(&w, "pushButton_clear");
    QPushButton* sure = button(&w, "pushButton_sure");
    QPushButton* options = button(&w, "pushButton_output_option");
    const QString p1 = sparse(QStringLiteral("p1.vrk"), 1024 * 1024 + 512 * 1024);
    const QString p2 = sparse(QStringLiteral("p2.vrk"), 10);
    const QString p3 = sparse(QStringLiteral("p3.vrk"), 20);

    addFile(w, p1);
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("1.5MB"));
    QCOMPARE(table->property("HasFile").toBool(), true);
    // One file: no Ok, no options; Clear yes; nothing current so no Up/Down/Remove.
    QVERIFY(!sure->isEnabled());
    QVERIFY(!options->isEnabled());
    QVERIFY(clear->isEnabled());
    QVERIFY(!remove->isEnabled());
    QVERIFY(!up->isEnabled());
    addFile(w, p2);
    addFile(w, p3);
    QVERIFY(sure->isEnabled());
    QVERIFY(options->isEnabled());
    QVERIFY(!up->isEnabled());

    // Clicking an item makes Up, Down and Remove available.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                      table->visualItemRect(table->item(0, 0)).center());
    QCOMPARE(table->currentRow(), 0);
    QVERIFY(up->isEnabled() && down->isEnabled() && remove->isEnabled());
    // The first row does not go up.
    up->click();
    QCOMPARE(w.fileList(), QStringList({p1, p2, p3}));
    down->click();
    QCOMPARE(table->currentRow(), 1);
    QCOMPARE(w.fileList(), QStringList({p2, p1, p3}));
    QCOMPARE(table->item(0, 0)->data(Qt::UserRole).toString(), p2);
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("0.0MB"));
    QCOMPARE(table->item(1, 1)->text(), QStringLiteral("1.5MB"));
    QCOMPARE(table->item(1, 0)->toolTip(), p1);
    down->click();
    QCOMPARE(w.fileList(), QStringList({p2, p3, p1}));
    // The last row does not go down.
    down->click();
    QCOMPARE(w.fileList(), QStringList({p2, p3, p1}));
    QCOMPARE(table->currentRow(), 2);
    up->click();
    QCOMPARE(w.fileList(), QStringList({p2, p1, p3}));
    QCOMPARE(table->currentRow(), 1);
    QCOMPARE(w.sourceName(), QStringLiteral("3 files"));
    QCOMPARE(w.sourceToolTip(), p2 + "\n" + p1 + "\n" + p3 + "\n");

    remove->click();
    QCOMPARE(w.fileList(), QStringList({p2, p3}));
    QCOMPARE(table->rowCount(), 2);
    clear->click();
    QCOMPARE(table->rowCount(), 0);
    QVERIFY(w.fileList().isEmpty());
    QCOMPARE(table->property("HasFile").toBool(), false);
    for (QPushButton* b : {up, down, remove, clear, sure, options}) {
        QVERIFY(!b->isEnabled());
    }
}

void MergeWindowTest::fileCountLimit() {
    ResourceMergeWidget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString p = sparse(QStringLiteral("same.vrk"), 100);
    // The same package may be listed more than once.
    for (int i = 0; i < 11; ++i) {
        addFile(w, p);
    }
    QCOMPARE(w.fileList().size(), 11);
    QSignalSpy accepted(&w, &QDialog::accepted);
    auto seen = std::make_shared<MessageSeen>();
    {
        ModalAnswerer answerer;
        answerer.answerMessage(seen);
        QTest::mouseClick(button(&w, "pushButton_sure"), Qt::LeftButton);
    }
    QCOMPARE(seen->text, QStringLiteral("The number of merge files cannot above 10!"));
    QCOMPARE(seen->title, QStringLiteral("error"));
    QCOMPARE(accepted.count(), 0);
    QVERIFY(w.isVisible());
    auto* table = w.findChild<QTableWidget*>(QStringLiteral("tableWidget"));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                      table->visualItemRect(table->item(0, 0)).center());
    button(&w, "pushButton_remove")->click();
    QCOMPARE(w.fileList().size(), 10);
    QTest::mouseClick(button(&w, "pushButton_sure"), Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);
}

void MergeWindowTest::taskContractAndOutputPath() {
    const QString out = m_dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    CSettings::instance()->write(QStringLiteral("System/OutputPath"), out + QStringLiteral("/"));
    ResourceMergeWidget w;
    QVERIFY(w.outputPath().isEmpty());  // no files yet
    QVERIFY(!w.startTask());            // no files
    const QString a = sparse(QStringLiteral("a.vrk"), 10);
    const QString b = sparse(QStringLiteral("b.tar.vrk"), 10);
    addFile(w, a);
    addFile(w, b);
    QVERIFY(!w.startTask());  // no observer
    QCOMPARE(w.status(), 3);
    QCOMPARE(w.outputPath(), out + QStringLiteral("/a.vrk"));
    // Kept once computed.
    QFile taken(out + QStringLiteral("/a.vrk"));
    QVERIFY(taken.open(QIODevice::WriteOnly));
    taken.close();
    QCOMPARE(w.outputPath(), out + QStringLiteral("/a.vrk"));
    // A new window sees the file and numbers its output.
    ResourceMergeWidget w2;
    addFile(w2, a);
    QCOMPARE(w2.outputPath(), out + QStringLiteral("/a1.vrk"));
    ResourceMergeWidget w3;
    addFile(w3, b);
    QCOMPARE(w3.outputPath(), out + QStringLiteral("/b.vrk"));
    QCOMPARE(w.timeConsume(), 0);
}

void MergeWindowTest::closeQuestion() {
    ResourceMergeWidget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString p = sparse(QStringLiteral("c.vrk"), 100);
    addFile(w, p);
    QSignalSpy rejected(&w, &QDialog::rejected);
    // One file: no question.
    QTest::mouseClick(button(&w, "closeBtn"), Qt::LeftButton);
    QCOMPARE(rejected.count(), 1);
    w.show();
    addFile(w, p);
    auto seen = std::make_shared<MessageSeen>();
    {
        ModalAnswerer answerer;
        answerer.answerMessage(seen, QStringLiteral("cancelBtn"));
        QTest::mouseClick(button(&w, "closeBtn"), Qt::LeftButton);
    }
    QCOMPARE(seen->text, QStringLiteral("The megre task has not been saved, is it sure to close it?"));
    QCOMPARE(seen->title, QStringLiteral("exit"));
    QCOMPARE(rejected.count(), 1);
    QVERIFY(w.isVisible());
    {
        ModalAnswerer answerer;
        answerer.answerMessage(seen, QStringLiteral("okBtn"));
        QTest::mouseClick(button(&w, "closeBtn"), Qt::LeftButton);
    }
    QCOMPARE(rejected.count(), 2);
}

int main(int argc, char** argv) {
    isolateUserDirs();
    QApplication app(argc, argv);
    MergeWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_widget_merge.moc"
