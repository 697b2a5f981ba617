// Log set-up of a run: file names from the start time, the line pattern, the root level, the crash
// dump path. Runs in a private temporary home whose data directory does not exist yet.
#define FLOG_SOURCE "tests/log/tst_logsetup"
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <log4cplus/logger.h>
#include <log4cplus/loggingmacros.h>

#include "CrashHandler.h"
#include "FLog.h"
#include "LogSetup.h"

class TestLogSetup : public QObject {
    Q_OBJECT
private slots:
    void runFilesPatternAndLevels();
};

void TestLogSetup::runFilesPatternAndLevels() {
    const QString appData = QStandardPaths::standardLocations(QStandardPaths::AppDataLocation).first();
    QVERIFY2(appData.startsWith(QDir::homePath()), "must stay inside the temporary home");
    // First run of a user: not even the data directory exists.
    QVERIFY(!QDir(appData).exists());

    const QDateTime before = QDateTime::currentDateTime();
    initLog();
    const QDateTime after = QDateTime::currentDateTime();

    FLOG(FLOG_ERROR, "error line %d", 1);
    FLOG(FLOG_WARN, "warning line %s", "two");
    FLOG(FLOG_INFO, "info line with %s", "user text %s %d");
    FLOG(FLOG_DEBUG, "debug line %d", 4);
    FLOG(250, "odd level %d", 5);
    // Other named loggers share the appenders and the level.
    log4cplus::Logger named = log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("JSonReourceParse"));
    LOG4CPLUS_INFO(named, LOG4CPLUS_TEXT("named logger line"));
    LOG4CPLUS_DEBUG(named, LOG4CPLUS_TEXT("named debug line"));

    // The two log files carry the start time in their names.
    const QDir logDir(appData + QStringLiteral("/log"));
    QVERIFY(logDir.exists());
    const QStringList markers =
        logDir.entryList({QStringLiteral("*.log")}, QDir::Files)
            .filter(
                QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d\\.log$")));
    const QStringList formatted = logDir.entryList({QStringLiteral("*_fmt.log")}, QDir::Files);
    QCOMPARE(markers.size(), 1);
    QCOMPARE(formatted.size(), 1);
    const QDateTime markerTime =
        QDateTime::fromString(markers.first().chopped(4), QStringLiteral("yyyy-MM-dd hh.mm.ss"));
    QVERIFY(markerTime.isValid());
    QVERIFY(markerTime >= before.addSecs(-1) && markerTime <= after.addSecs(1));
    const QDateTime fmtTime =
        QDateTime::fromString(formatted.first().chopped(8), QStringLiteral("yyyy-MM-dd hh.mm.ss"));
    QVERIFY(fmtTime.isValid());
    QVERIFY(qAbs(fmtTime.secsTo(markerTime)) <= 1);

    // The run marker stays empty.
    QCOMPARE(QFileInfo(logDir.filePath(markers.first())).size(), qint64(0));

    QFile file(logDir.filePath(formatted.first()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QRegularExpression pattern(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[.{5,}\\] \\[(ERROR|WARN |INFO |DEBUG)\\] "
                       "\\((\\S+):(\\d+)\\) - (.*)$"));
    QStringList messages;
    for (const QString& line : lines) {
        const QRegularExpressionMatch m = pattern.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        messages << m.captured(1).trimmed() + QLatin1Char(' ') + m.captured(2) + QLatin1Char(':') +
                        m.captured(3) + QLatin1Char(' ') + m.captured(4);
    }
    const QString source = QStringLiteral("[tests/log/tst_logsetup:");
    auto has = [&messages](const QString& prefix, const QString& text) {
        for (const QString& m : messages) {
            if (m.startsWith(prefix) && m.contains(text)) {
                return true;
            }
        }
        return false;
    };
    QVERIFY(has(QStringLiteral("ERROR flog:196 ") + source, QStringLiteral("]error line 1")));
    QVERIFY(has(QStringLiteral("WARN flog:199 ") + source, QStringLiteral("]warning line two")));
    // User text is an argument: its % signs arrive unchanged.
    QVERIFY(
        has(QStringLiteral("INFO flog:202 ") + source, QStringLiteral("]info line with user text %s %d")));
    QVERIFY(has(QStringLiteral("INFO JSonReourceParse:"), QStringLiteral("named logger line")));
    // The root level is INFO: level 400 is dropped, and so is an unknown level.
    for (const QString& m : messages) {
        QVERIFY2(!m.contains(QStringLiteral("debug line")), qPrintable(m));
        QVERIFY2(!m.contains(QStringLiteral("named debug line")), qPrintable(m));
        QVERIFY2(!m.contains(QStringLiteral("odd level")), qPrintable(m));
        QVERIFY2(!m.startsWith(QStringLiteral("DEBUG")), qPrintable(m));
    }

    // The crash dump path of the run: data directory + start time + ".dump".
    const QString dump = QString::fromUtf8(crashDumpPath());
    QCOMPARE(QFileInfo(dump).absolutePath(), QDir(appData).absolutePath());
    const QString dumpName = QFileInfo(dump).fileName();
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d-\\d\\d\\.\\d\\d\\.\\d\\d\\.dump$"))
                 .match(dumpName)
                 .hasMatch(),
             qPrintable(dumpName));
    const QDateTime dumpTime =
        QDateTime::fromString(dumpName.chopped(5), QStringLiteral("yyyy-MM-dd-hh.mm.ss"));
    QVERIFY(qAbs(dumpTime.secsTo(markerTime)) <= 1);
    // Nothing crashed: no dump file.
    QVERIFY(!QFileInfo::exists(dump));
}

int main(int argc, char* argv[]) {
    QTemporaryDir home;
    const QByteArray h = home.path().toLocal8Bit();
    qputenv("HOME", h);
    qputenv("XDG_DATA_HOME", h + "/.local/share");
    qputenv("XDG_CONFIG_HOME", h + "/.config");
    QCoreApplication app(argc, argv);
    TestLogSetup tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_logsetup.moc"
