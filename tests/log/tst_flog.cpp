// The log entry point: console sink (checked in a child process that owns its own stdout/stderr),
// replaceable sinks, and the forwarder into log4cplus.
#define FLOG_SOURCE "tests/log/tst_flog"
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <log4cplus/appender.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/spi/loggingevent.h>

#include "FLog.h"

namespace {

struct Event {
    log4cplus::LogLevel level;
    std::string logger;
    std::string message;
    std::string file;
    int line;
    std::string function;
};

class CaptureAppender : public log4cplus::Appender {
public:
    ~CaptureAppender() override { destructorImpl(); }
    void close() override {}
    std::vector<Event> events;

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& e) override {
        events.push_back(
            {e.getLogLevel(), e.getLoggerName(), e.getMessage(), e.getFile(), e.getLine(), e.getFunction()});
    }
};

struct Captured {
    int calls = 0;
    int level = 0;
    void* user = nullptr;
    std::string text;
};

void captureSink(int level, const char* format, va_list args, void* user) {
    auto* c = static_cast<Captured*>(user);
    char buf[16384];
    vsnprintf(buf, sizeof(buf), format, args);
    c->calls++;
    c->level = level;
    c->user = user;
    c->text = buf;
}

void viaVlog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void viaVlog(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    flog_vlog(level, format, args);
    va_end(args);
}

const std::string kLong(10000, 'a');

// Child: everything goes to the real console sink.
int childConsole() {
    // A custom sink first, then the empty sink brings the console back (its user data is dropped).
    Captured c;
    flog_set_callback(&captureSink, &c);
    flog_log(300, "to the custom sink");
    flog_set_callback(nullptr, &c);
    if (c.calls != 1) {
        return 3;
    }
    flog_log(100, "[%s:%d]err %s", "editor/X", 7, "one");
    flog_log(200, "warn %d", 2);
    flog_log(300, "info %s", "three");
    flog_log(400, "debug is dropped");
    flog_log(250, "between levels is dropped");
    flog_log(0, "zero is dropped");
    flog_log(-100, "negative is dropped");
    flog_log(500, "beyond debug is dropped");
    flog_log(101, "near error is dropped");
    viaVlog(100, "vlog %s", "two");
    flog_log(300, "%s", kLong.c_str());
    flog_log(100, "%s|", kLong.c_str());
    return 0;
}

// Child: a log file that cannot be opened keeps the console sink; log4cplus gets nothing.
int childBadFile() {
    log4cplus::Initializer init;
    auto* appender = new CaptureAppender;
    log4cplus::Logger::getRoot().addAppender(log4cplus::SharedAppenderPtr(appender));
    set_log_file_name("/nonexistent-dir-for-flog/run.log");
    set_log_file_name(nullptr);
    flog_log(300, "still on the console");
    flog_log(100, "errors too");
    return int(appender->events.size());
}

struct ChildOutput {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ChildOutput runChild(const QString& mode) {
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(QCoreApplication::applicationFilePath(), {mode});
    ChildOutput r;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit) {
        return r;
    }
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

}  // namespace

class TestFLog : public QObject {
    Q_OBJECT

private slots:
    void consoleSinkLevelsStreamsAndLength();
    void unopenableLogFileKeepsConsole();
    void customSinkReceivesEverything();
    void forwarderIntoLog4cplus();

private:
    log4cplus::Initializer m_log4cplus;
};

void TestFLog::consoleSinkLevelsStreamsAndLength() {
    const ChildOutput r = runChild("--child-console");
    QCOMPARE(r.exitCode, 0);
    const QByteArray longInfo = "info: " + QByteArray(4095, 'a') + "\n";
    const QByteArray longError = "error: " + QByteArray(4095, 'a') + "\n";  // the "|" is cut off
    QCOMPARE(r.out, QByteArray("warning: warn 2\ninfo: info three\n") + longInfo);
    QCOMPARE(r.err, QByteArray("error: [editor/X:7]err one\nerror: vlog two\n") + longError);
}

void TestFLog::unopenableLogFileKeepsConsole() {
    const ChildOutput r = runChild("--child-bad-file");
    QCOMPARE(r.exitCode, 0);  // number of lines that reached log4cplus
    QCOMPARE(r.out, QByteArray("info: still on the console\n"));
    QCOMPARE(r.err, QByteArray("error: errors too\n"));
}

void TestFLog::customSinkReceivesEverything() {
    Captured c;
    flog_set_callback(&captureSink, &c);
    // The entry point hands on every level; dropping is the sinks' business.
    flog_log(250, "level %d", 250);
    QCOMPARE(c.calls, 1);
    QCOMPARE(c.level, 250);
    QVERIFY(c.user == &c);
    QCOMPARE(c.text, std::string("level 250"));

    viaVlog(400, "%s and %d", "vlog", 9);
    QCOMPARE(c.level, 400);
    QCOMPARE(c.text, std::string("vlog and 9"));

    // A null format is ignored rather than handed to a sink that would crash on it.
    const char* volatile none = nullptr;
    flog_log(100, none);
    QCOMPARE(c.calls, 2);

    // The macro names its origin.
    const int line = __LINE__ + 1;
    FLOG(FLOG_WARN, "value %d", 5);
    QCOMPARE(c.level, 200);
    QCOMPARE(QString::fromStdString(c.text), QStringLiteral("[tests/log/tst_flog:%1]value 5").arg(line));
    FLOG(FLOG_ERROR, "no arguments");
    QVERIFY(QString::fromStdString(c.text).endsWith("]no arguments"));

    flog_set_callback(nullptr, nullptr);
}

void TestFLog::forwarderIntoLog4cplus() {
    auto* appender = new CaptureAppender;
    log4cplus::SharedAppenderPtr keep(appender);
    log4cplus::Logger::getRoot().addAppender(keep);
    log4cplus::Logger flogLogger = log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("flog"));
    flogLogger.setLogLevel(log4cplus::TRACE_LOG_LEVEL);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString marker = dir.filePath("run.log");
    {
        QFile f(marker);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("previous run");
    }
    set_log_file_name(marker.toUtf8().constData());

    flog_log(100, "[%s:%d]e %s", "editor/Y", 3, "x");
    flog_log(200, "w");
    flog_log(300, "i");
    flog_log(400, "d");
    flog_log(250, "dropped");
    flog_log(0, "dropped");
    flog_log(300, "%s", kLong.c_str());

    QCOMPARE(appender->events.size(), size_t(5));
    const log4cplus::LogLevel levels[] = {log4cplus::ERROR_LOG_LEVEL, log4cplus::WARN_LOG_LEVEL,
                                          log4cplus::INFO_LOG_LEVEL, log4cplus::DEBUG_LOG_LEVEL,
                                          log4cplus::INFO_LOG_LEVEL};
    const int lines[] = {196, 199, 202, 205, 202};
    const char* texts[] = {"[editor/Y:3]e x", "w", "i", "d", nullptr};
    for (size_t i = 0; i < 5; ++i) {
        const Event& e = appender->events[i];
        QCOMPARE(e.level, levels[i]);
        QCOMPARE(e.logger, std::string("flog"));
        QCOMPARE(e.file, std::string("log/FLog"));
        QCOMPARE(e.line, lines[i]);
        QVERIFY(!e.function.empty());
        if (texts[i]) {
            QCOMPARE(e.message, std::string(texts[i]));
        }
    }
    QCOMPARE(appender->events[4].message, std::string(8191, 'a'));

    // Levels the "flog" logger is not enabled for are not forwarded.
    flogLogger.setLogLevel(log4cplus::WARN_LOG_LEVEL);
    appender->events.clear();
    flog_log(300, "info below threshold");
    flog_log(400, "debug below threshold");
    flog_log(200, "warning passes");
    QCOMPARE(appender->events.size(), size_t(1));
    QCOMPARE(appender->events[0].message, std::string("warning passes"));
    flogLogger.setLogLevel(log4cplus::NOT_SET_LOG_LEVEL);

    // The marker file was truncated and stays empty: lines go through log4cplus only.
    QCOMPARE(QFileInfo(marker).size(), qint64(0));

    flog_set_callback(nullptr, nullptr);
    log4cplus::Logger::getRoot().removeAppender(keep);
}

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--child-console") == 0) {
        return childConsole();
    }
    if (argc >= 2 && std::strcmp(argv[1], "--child-bad-file") == 0) {
        return childBadFile();
    }
    QCoreApplication app(argc, argv);
    TestFLog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_flog.moc"
