// Start-up of the real program under the test's X display, in a private home: the main window with
// the version in its title, the run's log files with the pattern, no debug lines, the language choice,
// and the crash dump of a crash forced on the running program.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

namespace {

struct Run {
    QString appData;
    QString fmtLog;
    QString log;
};

QString readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QProcessEnvironment privateEnvironment(const QString& home, const QString& lang) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.remove(QStringLiteral("XDG_DATA_HOME"));
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    env.insert(QStringLiteral("LANG"), lang);
    env.insert(QStringLiteral("LC_ALL"), lang);
    env.remove(QStringLiteral("LANGUAGE"));
    return env;
}

// Starts `program` and waits until its formatted log says the main window is shown.
bool startAndWait(QProcess& p, const QString& program, const QStringList& args, const QString& home,
                  Run* run) {
    p.start(program, args);
    if (!p.waitForStarted(10000)) {
        return false;
    }
    const QString appData = home + QStringLiteral("/.local/share/playback-edit-tool");
    for (int i = 0; i < 300; ++i) {
        const QStringList logs =
            QDir(appData + QStringLiteral("/log")).entryList({QStringLiteral("*_fmt.log")});
        if (!logs.isEmpty()) {
            const QString fmt = appData + QStringLiteral("/log/") + logs.first();
            const QString text = readAll(fmt);
            if (text.contains(QStringLiteral("main window shown"))) {
                run->appData = appData;
                run->fmtLog = fmt;
                run->log = text;
                return true;
            }
        }
        if (p.state() == QProcess::NotRunning) {
            return false;
        }
        QTest::qWait(100);
    }
    return false;
}

void stop(QProcess& p) {
    p.terminate();
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

}  // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void startLogAndCrash();
    void languageAndMissingTranslations();
    void highDpiDecision();
};

void TestStartup::startLogAndCrash() {
    QTemporaryDir home;
    QProcess app;
    app.setProcessEnvironment(privateEnvironment(home.path(), QStringLiteral("C.UTF-8")));
    app.setWorkingDirectory(home.path());
    Run run;
    const QDateTime before = QDateTime::currentDateTime();
    QVERIFY2(startAndWait(app, QStringLiteral(VRK_APP_PATH), {}, home.path(), &run), "program did not start");

    // The main window, titled with the version, exists on the display.
    QByteArray tree;
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    QVERIFY(xwininfo.waitForFinished(10000));
    tree = xwininfo.readAllStandardOutput();
    QVERIFY2(tree.contains("\"Playback edit tool " VRK_APP_VERSION "\""), tree.constData());
    QVERIFY(run.log.contains(QStringLiteral("main window shown: Playback edit tool " VRK_APP_VERSION)));

    // Run marker (empty) and formatted log, named by the start time.
    const QDir logDir(run.appData + QStringLiteral("/log"));
    const QStringList markers =
        logDir.entryList({QStringLiteral("*.log")})
            .filter(
                QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d\\.log$")));
    QCOMPARE(markers.size(), 1);
    QCOMPARE(QFileInfo(logDir.filePath(markers.first())).size(), qint64(0));
    const QDateTime started =
        QDateTime::fromString(markers.first().chopped(4), QStringLiteral("yyyy-MM-dd hh.mm.ss"));
    QVERIFY(started >= before.addSecs(-1));
    QVERIFY(QFileInfo(run.fmtLog).fileName().startsWith(markers.first().chopped(4)) ||
            qAbs(QDateTime::fromString(QFileInfo(run.fmtLog).fileName().chopped(8),
                                       QStringLiteral("yyyy-MM-dd hh.mm.ss"))
                     .secsTo(started)) <= 1);

    // Every line has the pattern; the level-400 lines of the start are not written.
    const QRegularExpression pattern(QStringLiteral(
        "^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[.{5,}\\] \\[(ERROR|WARN |INFO )\\] \\(\\S+:\\d+\\) - .*$"));
    const QStringList lines = run.log.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(lines.size() >= 3);
    for (const QString& line : lines) {
        QVERIFY2(pattern.match(line).hasMatch(), qPrintable(line));
    }
    QVERIFY(run.log.contains(QStringLiteral("(flog:202) - [ui/AppMain:")));
    QVERIFY(!run.log.contains(QStringLiteral("enter func : MainWindow::MainWindow")));
    QVERIFY(run.log.contains(QStringLiteral("/en.qm installed")));

    // The first start stores the default output folder.
    const QString ini = readAll(run.appData + QStringLiteral("/system.ini"));
    QVERIFY2(QRegularExpression(QStringLiteral("OutputPath=\\S+")).match(ini).hasMatch(), qPrintable(ini));

    // A crash forced on the running program leaves the dump of this run.
    QVERIFY(::kill(pid_t(app.processId()), SIGSEGV) == 0);
    QVERIFY(app.waitForFinished(20000));
    QCOMPARE(app.exitStatus(), QProcess::CrashExit);
    const QStringList dumps = QDir(run.appData).entryList({QStringLiteral("*.dump")});
    QCOMPARE(dumps.size(), 1);
    const QDateTime dumpTime =
        QDateTime::fromString(dumps.first().chopped(5), QStringLiteral("yyyy-MM-dd-hh.mm.ss"));
    QVERIFY2(dumpTime.isValid() && qAbs(dumpTime.secsTo(started)) <= 1, qPrintable(dumps.first()));
    const QString dump = readAll(run.appData + QLatin1Char('/') + dumps.first());
    QVERIFY(dump.contains(QStringLiteral("signal: 11 (SIGSEGV)")));
    QVERIFY(dump.contains(QStringLiteral("memory map:")));
    QVERIFY(dump.endsWith(QStringLiteral("end of dump\n")));
}

void TestStartup::languageAndMissingTranslations() {
    {
        // Chinese system language: ch.qm from the program's directory, whatever the working directory.
        QTemporaryDir home;
        QProcess app;
        app.setProcessEnvironment(privateEnvironment(home.path(), QStringLiteral("zh_CN.UTF-8")));
        app.setWorkingDirectory(home.path());
        Run run;
        QVERIFY(startAndWait(app, QStringLiteral(VRK_APP_PATH), {}, home.path(), &run));
        const QString dir = QFileInfo(QStringLiteral(VRK_APP_PATH)).absolutePath();
        QVERIFY2(run.log.contains(dir + QStringLiteral("/ch.qm installed")), qPrintable(run.log));
        QVERIFY(run.log.contains(QString::fromUtf8("main window shown: 回放编辑工具 " VRK_APP_VERSION)));
        stop(app);
    }
    {
        // A copy of the program without translation files starts in English.
        QTemporaryDir home;
        QTemporaryDir bin;
        const QString copy = bin.filePath(QStringLiteral("playback-edit-tool"));
        QVERIFY(QFile::copy(QStringLiteral(VRK_APP_PATH), copy));
        QVERIFY(QFile::setPermissions(copy, QFile::permissions(copy) | QFile::ExeOwner));
        QProcess app;
        app.setProcessEnvironment(privateEnvironment(home.path(), QStringLiteral("zh_CN.UTF-8")));
        Run run;
        QVERIFY(startAndWait(app, copy, {}, home.path(), &run));
        QVERIFY(run.log.contains(QStringLiteral("/ch.qm not loaded")));
        QVERIFY(run.log.contains(QStringLiteral("main window shown: Playback edit tool " VRK_APP_VERSION)));
        stop(app);
    }
}

void TestStartup::highDpiDecision() {
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) {
        QSKIP("Xvfb is not installed");
    }
    // Exactly 1080 lines keeps scaling off; 1200 switches it on.
    const QList<QPair<QString, QString>> screens = {{QStringLiteral("1920x1080x24"), QStringLiteral("off")},
                                                    {QStringLiteral("1600x1200x24"), QStringLiteral("on")}};
    for (const auto& s : screens) {
        // A display of its own per try: under a loaded parallel test run, an X server started beside
        // others has now and then gone before the program connected. A program that cannot start
        // fails both tries.
        Run run;
        bool started = false;
        for (int attempt = 0; attempt < 2 && !started; ++attempt) {
            QProcess xvfb;
            xvfb.start(QStringLiteral("Xvfb"),
                       {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                        QStringLiteral("0"), s.first, QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            QVERIFY(xvfb.waitForStarted(10000));
            QByteArray number;
            for (int i = 0; i < 100 && !number.contains('\n'); ++i) {
                xvfb.waitForReadyRead(100);
                number += xvfb.readAllStandardOutput();
            }
            QVERIFY2(!number.trimmed().isEmpty(), "Xvfb gave no display number");

            QTemporaryDir home;
            QProcess app;
            QProcessEnvironment env = privateEnvironment(home.path(), QStringLiteral("C.UTF-8"));
            env.insert(QStringLiteral("DISPLAY"),
                       QStringLiteral(":") + QString::fromLatin1(number.trimmed()));
            app.setProcessEnvironment(env);
            started = startAndWait(app, QStringLiteral(VRK_APP_PATH), {}, home.path(), &run);
            stop(app);
            xvfb.terminate();
            xvfb.waitForFinished(10000);
        }
        QVERIFY(started);
        const int height = s.first.section(QLatin1Char('x'), 1, 1).toInt();
        QVERIFY2(run.log.contains(QStringLiteral("desktop vertical resolution %1, high-DPI scaling %2")
                                      .arg(height)
                                      .arg(s.second)),
                 qPrintable(run.log));
    }
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
