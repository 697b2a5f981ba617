// Settings store and the two settings dialogs.
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QValidator>

#include <atomic>
#include <thread>

#include "CSettings.h"
#include "OutputOptionSetting.h"
#include "ShellTestMain.h"
#include "SystemSetting.h"

namespace {

QString diskValue(const QString& key) {
    QSettings disk(CSettings::settingsFilePath(), QSettings::IniFormat);
    return disk.value(key).toString();
}

QFileDialog* activeFileDialog() {
    return qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
}

// Answers the next directory dialog with `dir`, or cancels it when `dir` is empty.
void answerDirectoryDialog(const QString& dir, QString* title = nullptr) {
    shelltest::whenShown<QFileDialog>(activeFileDialog, [dir, title](QFileDialog* dialog) {
        if (title) {
            *title = dialog->windowTitle();
        }
        if (dir.isEmpty()) {
            dialog->reject();
            return;
        }
        // Typed into the dialog's own name field, as a user would.
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
            name->setText(dir);
        }
        QMetaObject::invokeMethod(dialog, "accept");
        if (dialog->isVisible()) {
            dialog->reject();  // never leave the test waiting on the dialog
        }
    });
}

}  // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void storeKeysDefaultsAndSync();
    void storeConcurrentReaders();
    void fileNameValidator();
    void outputOptions();
    void outputOptionsBrowse();
    void systemSetting();
};

void TestSettings::storeKeysDefaultsAndSync() {
    const QString expected = QStandardPaths::standardLocations(QStandardPaths::AppDataLocation).first() +
                             QStringLiteral("/system.ini");
    QCOMPARE(CSettings::settingsFilePath(), expected);
    QVERIFY2(expected.startsWith(QDir::homePath()), "settings must stay inside the temporary home");

    CSettings* s = CSettings::instance();
    QCOMPARE(CSettings::instance(), s);
    QCOMPARE(s->fileName(), expected);
    QCOMPARE(s->format(), QSettings::IniFormat);
    // The data directory is made even when its parents were missing.
    QVERIFY(QFileInfo(expected).dir().exists());

    QCOMPARE(s->read(QStringLiteral("System/Path"), QString()).toString(), QString());
    QCOMPARE(s->read(QStringLiteral("System/OutputPath"), QString()).toString(), QString());
    QCOMPARE(s->read(QStringLiteral("Video/TranseCode"), false).toBool(), false);

    // Each write is on disk at once.
    s->write(QString::fromLatin1(CSettings::kSystemPath), QStringLiteral("/data/in"));
    QCOMPARE(diskValue(QStringLiteral("System/Path")), QStringLiteral("/data/in"));
    s->write(QString::fromLatin1(CSettings::kSystemOutputPath), QStringLiteral("/data/out/"));
    QCOMPARE(diskValue(QStringLiteral("System/OutputPath")), QStringLiteral("/data/out/"));
    s->write(QString::fromLatin1(CSettings::kVideoTranseCode), true);
    QCOMPARE(diskValue(QStringLiteral("Video/TranseCode")), QStringLiteral("true"));
    QCOMPARE(s->read(QStringLiteral("Video/TranseCode"), false).toBool(), true);
    s->write(QString::fromLatin1(CSettings::kVideoTranseCode), false);
    QCOMPARE(diskValue(QStringLiteral("Video/TranseCode")), QStringLiteral("false"));
}

void TestSettings::storeConcurrentReaders() {
    // Task workers read the output folder while the GUI thread changes it: every read sees one whole
    // value that was written.
    CSettings* s = CSettings::instance();
    const QString key = QString::fromLatin1(CSettings::kSystemOutputPath);
    QStringList values;
    for (int i = 0; i < 20; ++i) {
        values << QStringLiteral("/volume/%1/Tavrel/").arg(i);
    }
    s->write(key, values.first());
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::atomic<int> reads{0};
    auto reader = [&] {
        while (!stop.load()) {
            const QString v = s->read(key, QString()).toString();
            if (!values.contains(v)) {
                bad.fetch_add(1);
            }
            reads.fetch_add(1);
        }
    };
    std::thread a(reader);
    std::thread b(reader);
    for (int round = 0; round < 5; ++round) {
        for (const QString& v : values) {
            s->write(key, v);
        }
    }
    stop.store(true);
    a.join();
    b.join();
    QVERIFY(reads.load() > 0);
    QCOMPARE(bad.load(), 0);
    QCOMPARE(diskValue(QStringLiteral("System/OutputPath")), values.last());
}

void TestSettings::fileNameValidator() {
    OutputOptionSetting dialog;
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("lineEdit_name"));
    QVERIFY(name);
    QVERIFY(name->validator());
    QCOMPARE(name->maxLength(), 80);

    QTest::keyClicks(name, QStringLiteral("a:b"));
    QCOMPARE(name->text(), QStringLiteral("ab"));

    const QString refused = QStringLiteral("\\?*|:\"<>/");
    for (const QChar c : refused) {
        name->clear();
        QTest::keyClicks(name, QStringLiteral("x") + c + QStringLiteral("y"));
        QVERIFY2(name->text() == QStringLiteral("xy"), qPrintable(QStringLiteral("accepted ") + c));
    }
    name->clear();
    const QString allowed = QStringLiteral("Lesson 3 - part_2 (final).v1");
    QTest::keyClicks(name, allowed);
    QCOMPARE(name->text(), allowed);
    QCOMPARE(dialog.fileName(), allowed);

    // The validator itself, for pasted text.
    QValidator* validator = OutputOptionSetting::createFileNameValidator(this);
    QString text = QStringLiteral("good name");
    int pos = 0;
    QCOMPARE(validator->validate(text, pos), QValidator::Acceptable);
    text = QStringLiteral("bad/name");
    QCOMPARE(validator->validate(text, pos), QValidator::Invalid);
    text = QString();
    QCOMPARE(validator->validate(text, pos), QValidator::Acceptable);
    delete validator;
}

void TestSettings::outputOptions() {
    CSettings* s = CSettings::instance();
    const QString key = QString::fromLatin1(CSettings::kVideoTranseCode);

    s->write(key, false);
    {
        OutputOptionSetting dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("OutputOptionSetting"));
        QCOMPARE(dialog.size(), QSize(579, 250));
        QCOMPARE(dialog.minimumSize(), QSize(500, 222));
        QCOMPARE(dialog.maximumSize(), QSize(579, 250));
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_7"))->text(),
                 QStringLiteral("Output Options"));
        QCOMPARE(dialog.findChild<QLineEdit*>(QStringLiteral("lineEdit_title"))->maxLength(), 40);
        auto* on = dialog.findChild<QCheckBox*>(QStringLiteral("m_pCBTranscodeOn"));
        auto* width = dialog.findChild<QLineEdit*>(QStringLiteral("lineEdit_width"));
        auto* height = dialog.findChild<QLineEdit*>(QStringLiteral("lineEdit_height"));
        QVERIFY(on && width && height);
        QVERIFY(!dialog.transcode());
        QVERIFY(!width->isEnabled());
        QVERIFY(!height->isEnabled());

        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // Turning "On" on enables the size and remembers the choice on disk.
        QTest::mouseClick(on, Qt::LeftButton, {}, QPoint(6, on->height() / 2));
        QVERIFY(dialog.transcode());
        QVERIFY(width->isEnabled());
        QVERIFY(height->isEnabled());
        QCOMPARE(diskValue(QStringLiteral("Video/TranseCode")), QStringLiteral("true"));
        QTest::mouseClick(on, Qt::LeftButton, {}, QPoint(6, on->height() / 2));
        QVERIFY(!dialog.transcode());
        QVERIFY(!width->isEnabled());
        QCOMPARE(diskValue(QStringLiteral("Video/TranseCode")), QStringLiteral("false"));

        // Entries that are not positive numbers.
        width->setText(QStringLiteral("0"));
        QCOMPARE(dialog.videoWidth(), 1280);
        width->setText(QStringLiteral("abc"));
        QCOMPARE(dialog.videoWidth(), 1280);
        width->setText(QStringLiteral("854"));
        QCOMPARE(dialog.videoWidth(), 854);
        height->setText(QStringLiteral("-5"));
        QCOMPARE(dialog.videoHeight(), 720);
        height->setText(QStringLiteral("480"));
        QCOMPARE(dialog.videoHeight(), 480);
        dialog.setVideoWidth(0);
        QCOMPARE(width->text(), QStringLiteral("1280"));
        dialog.setVideoWidth(640);
        QCOMPARE(width->text(), QStringLiteral("640"));
        dialog.setVideoHeight(-1);
        QCOMPARE(height->text(), QStringLiteral("720"));

        // setTranscode changes the state without touching the file.
        dialog.setTranscode(true);
        QVERIFY(dialog.transcode());
        QVERIFY(width->isEnabled());
        QCOMPARE(diskValue(QStringLiteral("Video/TranseCode")), QStringLiteral("false"));

        dialog.hideVideoSize();
        for (const char* n : {"label_6", "lineEdit_width", "label_8", "lineEdit_height"}) {
            QVERIFY2(dialog.findChild<QWidget*>(QString::fromLatin1(n))->isHidden(), n);
        }

        // The close button rejects.
        QSignalSpy rejected(&dialog, &QDialog::rejected);
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("closeBtn")), Qt::LeftButton);
        QCOMPARE(rejected.count(), 1);
        QVERIFY(!dialog.isVisible());
    }
    // The stored choice is the initial state of a new dialog.
    s->write(key, true);
    OutputOptionSetting again;
    QVERIFY(again.transcode());
    QVERIFY(again.findChild<QLineEdit*>(QStringLiteral("lineEdit_width"))->isEnabled());
    s->write(key, false);
}

void TestSettings::outputOptionsBrowse() {
    QTemporaryDir target;
    OutputOptionSetting dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* browse = dialog.findChild<QPushButton*>(QStringLiteral("pushButton_browse"));
    QCOMPARE(browse->text(), QStringLiteral("Browse"));

    QString title;
    answerDirectoryDialog(target.path(), &title);
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("Open Directory"));
    QCOMPARE(QDir(dialog.folder()), QDir(target.path()));
    QVERIFY(!dialog.folder().endsWith(QLatin1Char('/')));

    // Cancelling empties the folder: the task then falls back on the stored output folder.
    answerDirectoryDialog(QString());
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(dialog.folder(), QString());
}

void TestSettings::systemSetting() {
    CSettings* s = CSettings::instance();
    const QString key = QString::fromLatin1(CSettings::kSystemOutputPath);
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("out")));
    s->write(key, root.path() + QStringLiteral("/"));

    SystemSetting dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("SystemSetting"));
    QCOMPARE(dialog.size(), QSize(470, 170));
    QCOMPARE(dialog.minimumSize(), QSize(470, 170));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label_4"))->text(), QStringLiteral("Settings"));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("label"))->text(), QStringLiteral("Output dir"));
    auto* shown = dialog.findChild<QLineEdit*>(QStringLiteral("lineEdit_output_path"));
    QVERIFY(shown->isReadOnly());
    QVERIFY(!shown->isEnabled());
    QCOMPARE(shown->text(), root.path() + QStringLiteral("/"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* browse = dialog.findChild<QPushButton*>(QStringLiteral("pushButton_browse"));

    // A chosen folder is stored with a final "/".
    const QString out = QDir(root.path()).filePath(QStringLiteral("out"));
    QString title;
    answerDirectoryDialog(out, &title);
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("Open Directory"));
    QCOMPARE(shown->text(), out + QStringLiteral("/"));
    QCOMPARE(diskValue(QStringLiteral("System/OutputPath")), out + QStringLiteral("/"));

    // The root keeps its single "/".
    answerDirectoryDialog(QStringLiteral("/"));
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(shown->text(), QStringLiteral("/"));
    QCOMPARE(diskValue(QStringLiteral("System/OutputPath")), QStringLiteral("/"));

    // A cancelled choice changes nothing.
    answerDirectoryDialog(QString());
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(shown->text(), QStringLiteral("/"));
    QCOMPARE(diskValue(QStringLiteral("System/OutputPath")), QStringLiteral("/"));

    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("closeBtn")), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
}

SHELL_TEST_MAIN(TestSettings)
#include "tst_settings.moc"
