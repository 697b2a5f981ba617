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
    void refusedWhenAdded_data();
    void refusedWhenAdded();

private:
    QString sized(const QString& name, qint64 bytes, const QString& base = QString());
    void addFile(ResourceMergeWidget& w, const QString& path, std::shared_ptr<MessageSeen> seen = {});

    QTemporaryDir m_dir;
    QString m_base;   // template 3
    QString m_other;  // template 4
};

void MergeWindowTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_base = m_dir.filePath(QStringLiteral("base.vrk"));
    m_other = m_dir.filePath(QStringLiteral("other.vrk"));
    for (const auto& [path, type] : {std::make_pair(m_base, "3"), std::make_pair(m_other, "4")}) {
        QVERIFY(testsupport::makeSample(
            path, {"--template", type, "--duration", "4", "--size", "160x90", "--fps", "5", "--no-audio"}));
    }
}

namespace {

quint32 le32(const QByteArray& b, int at) {
    return quint32(uchar(b[at])) | quint32(uchar(b[at + 1])) << 8 | quint32(uchar(b[at + 2])) << 16 |
           quint32(uchar(b[at + 3])) << 24;
}

void addLe32(QByteArray& b, int at, quint32 add) {
    const quint32 v = le32(b, at) + add;
    for (int i = 0; i < 4; ++i) {
        b[at + i] = char((v >> (8 * i)) & 0xff);
    }
}

}  // namespace

// A readable package of exactly `bytes` bytes: a hole of zeros (taking no disk space) in front of the
// sample package, whose central directory offsets are moved by the hole's size.
QString MergeWindowTest::sized(const QString& name, qint64 bytes, const QString& base) {
    QFile in(base.isEmpty() ? m_base : base);
    if (!in.open(QIODevice::ReadOnly)) {
        return QString();
    }
    QByteArray zip = in.readAll();
    const qint64 hole = bytes - zip.size();
    const int eocd = zip.lastIndexOf(QByteArray("PK\x05\x06", 4));
    if (hole < 0 || eocd < 0) {
        return QString();
    }
    const int cdSize = int(le32(zip, eocd + 12));
    const int cdStart = int(le32(zip, eocd + 16));
    for (int at = cdStart; at < cdStart + cdSize;) {
        addLe32(zip, at + 42, quint32(hole));
        at += 46 + int(uchar(zip[at + 28]) | uchar(zip[at + 29]) << 8) +
              int(uchar(zip[at + 30]) | uchar(zip[at + 31]) << 8) +
              int(uchar(zip[at + 32]) | uchar(zip[at + 33]) << 8);
    }
    addLe32(zip, eocd + 16, quint32(hole));
    const QString path = m_dir.filePath(name);
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || !out.resize(hole) || !out.seek(hole) ||
        out.write(zip) != zip.size()) {
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
    QCOMPARE(table->columnCount(), 3);
    QCOMPARE(table->horizontalHeaderItem(0)->text(), QStringLiteral("file"));
    QCOMPARE(table->horizontalHeaderItem(1)->text(), QStringLiteral("file size"));
    QCOMPARE(table->horizontalHeaderItem(2)->text(), QStringLiteral("duration"));
    // The duration column takes its room from the size column.
    QCOMPARE(table->columnWidth(0), 547);
    QCOMPARE(table->columnWidth(1) + table->columnWidth(2), 231);
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
    const QString a = sized(QStringLiteral("three.vrk"), 3LL * 1024 * 1024 * 1024);
    const QString b = sized(QStringLiteral("two.vrk"), 2LL * 1024 * 1024 * 1024);
    const QString c = m_dir.filePath(QStringLiteral("one-byte.vrk"));
    QFile one(c);
    QVERIFY(one.open(QIODevice::WriteOnly) && one.write("x", 1) == 1);
    one.close();
    const QString d = sized(QStringLiteral("one-mib.vrk"), 1024 * 1024);
    QVERIFY(!a.isEmpty() && !b.isEmpty() && !d.isEmpty());
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
    addFile(w, d);
    QCOMPARE(w.fileList(), QStringList({a, d}));
    QCOMPARE(table->item(1, 1)->text(), QStringLiteral("1.0MB"));
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
    const QString p1 = sized(QStringLiteral("p1.vrk"), 1024 * 1024 + 512 * 1024);
    const QString p2 = sized(QStringLiteral("p2.vrk"), 1024 * 1024);
    const QString p3 = sized(QStringLiteral("p3.vrk"), 2 * 1024 * 1024);

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
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("1.0MB"));
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
    const QString p = sized(QStringLiteral("same.vrk"), 1024 * 1024);
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
    const QString a = sized(QStringLiteral("a.vrk"), 1024 * 1024);
    const QString b = sized(QStringLiteral("b.tar.vrk"), 1024 * 1024);
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
    const QString p = sized(QStringLiteral("c.vrk"), 1024 * 1024);
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

void MergeWindowTest::refusedWhenAdded_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("message");
    const QString junk = m_dir.filePath(QStringLiteral("junk.vrk"));
    QFile f(junk);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("not a package") > 0);
    f.close();
    // The sample with its video replaced by bytes that are no video.
    QTemporaryDir content;
    QCOMPARE(testsupport::runProgram(QStringLiteral("unzip"),
                                     {QStringLiteral("-q"), m_base, QStringLiteral("-d"), content.path()}),
             0);
    QFile video(content.filePath(QStringLiteral("c.mp4")));
    QVERIFY(video.open(QIODevice::WriteOnly) && video.write("no video here") > 0);
    video.close();
    const QString noVideo = m_dir.filePath(QStringLiteral("novideo.vrk"));
    QProcess zip;
    zip.setWorkingDirectory(content.path());
    zip.start(QStringLiteral("zip"),
              {QStringLiteral("-q"), QStringLiteral("-r"), noVideo, QStringLiteral(".")});
    QVERIFY(zip.waitForFinished(60000) && zip.exitCode() == 0);

    QTest::newRow("unreadable") << junk << QStringLiteral("junk.vrk cannot be read as a playback package.");
    QTest::newRow("no video") << noVideo << QStringLiteral("novideo.vrk holds no playable video.");
    QTest::newRow("other template") << m_other
                                    << QStringLiteral(
                                           "other.vrk uses layout template 4, but base.vrk uses template 3.");
}

void MergeWindowTest::refusedWhenAdded() {
    // Told when the file is added, naming it, not as a failed task after the start.
    QFETCH(QString, file);
    QFETCH(QString, message);
    ResourceMergeWidget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    addFile(w, m_base);
    auto seen = std::make_shared<MessageSeen>();
    addFile(w, file, seen);
    QCOMPARE(seen->text, message);
    QCOMPARE(seen->title, QStringLiteral("error"));
    QCOMPARE(w.fileList(), QStringList{m_base});
    QVERIFY(w.isEnabled());
}

int main(int argc, char** argv) {
    isolateUserDirs();
    QApplication app(argc, argv);
    MergeWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_widget_merge.moc"
