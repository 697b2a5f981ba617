#define FLOG_SOURCE "log/LogSetup"
#include "LogSetup.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>
#include <QStringList>

#include <log4cplus/configurator.h>
#include <log4cplus/consoleappender.h>
#include <log4cplus/fileappender.h>
#include <log4cplus/initializer.h>
#include <log4cplus/layout.h>
#include <log4cplus/logger.h>

#include <memory>

#include "CrashHandler.h"
#include "FLog.h"

namespace {

const char* const kPattern = "%D{%H:%M:%S.%q} [%-5t] [%-5p] (%c:%L) - %m%n";

void configureLog4cplus(const QString& formattedLogPath) {
    log4cplus::initialize();
    log4cplus::SharedAppenderPtr console(new log4cplus::ConsoleAppender(false, true));
    console->setName(LOG4CPLUS_TEXT("Console"));
    console->setLayout(
        std::unique_ptr<log4cplus::Layout>(new log4cplus::PatternLayout(LOG4CPLUS_TEXT(kPattern))));

    log4cplus::SharedAppenderPtr file(
        new log4cplus::FileAppender(LOG4CPLUS_STRING_TO_TSTRING(formattedLogPath.toLocal8Bit().toStdString()),
                                    std::ios_base::trunc, true, true));
    file->setLayout(
        std::unique_ptr<log4cplus::Layout>(new log4cplus::PatternLayout(LOG4CPLUS_TEXT(kPattern))));

    log4cplus::Logger root = log4cplus::Logger::getRoot();
    root.addAppender(console);
    root.addAppender(file);
    root.setLogLevel(log4cplus::INFO_LOG_LEVEL);
}

}  // namespace

void initLog() {
    const QStringList locations = QStandardPaths::standardLocations(QStandardPaths::AppDataLocation);
    if (locations.isEmpty()) {
        return;
    }
    const QString base = locations.first();
    const QString logDir = base + QStringLiteral("/log/");
    // The whole path is made, so that the very first run of a user (no data directory yet) is logged too.
    if (!QDir(logDir).exists()) {
        QDir().mkpath(logDir);
    }
    const QString marker = logDir +
                           QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss")) +
                           QStringLiteral(".log");
    set_log_file_name(marker.toUtf8().constData());

    configureLog4cplus(logDir + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss")) +
                       QStringLiteral("_fmt.log"));

    const QString dump = base + QLatin1Char('/') +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-hh.mm.ss")) +
                         QStringLiteral(".dump");
    installCrashHandler(dump.toUtf8().constData());
    FLOG(FLOG_INFO, "log set up in %s, crash dump path %s", logDir.toUtf8().constData(),
         dump.toUtf8().constData());
}
