// Command-line program running one editing task through the real session and exporter: batch work,
// and scripts that interrupt tasks and check what they leave behind.
//
//   vrk-task [--json] [--progress] cut IN OUT b1 e1 [b2 e2 ...]   segments in milliseconds
//   vrk-task [--json] [--progress] merge OUT IN1 IN2 [...]
//   vrk-task [--json] [--progress] export|convert IN OUT WxH kbps  (needs a display, OpenGL 3.2)
//
// Exit status: 0 done, 1 bad arguments, 2 a package could not be read, 3 the task failed,
// 4 cancelled by SIGINT or SIGTERM (nothing written).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QThread>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <thread>

#include "DataWrapper.h"
#include "FLog.h"
#include "WorkspaceJournal.h"

#include <QApplication>

#include "VRK2Mp4.h"

namespace {

enum ExitCode { kDone = 0, kBadArguments = 1, kUnreadable = 2, kFailed = 3, kCancelled = 4 };

volatile std::sig_atomic_t g_stop_requested = 0;

extern "C" void requestStop(int) {
    g_stop_requested = 1;
}

// With --json, stdout holds the summary alone: the log lines go to stderr.
extern "C" void logToStderr(int level, const char* format, va_list args, void*) {
    if (level > FLOG_INFO) {
        return;
    }
    char line[2048];
    std::vsnprintf(line, sizeof(line), format, args);
    std::fprintf(stderr, "%s: %s\n",
                 level == FLOG_ERROR  ? "error"
                 : level == FLOG_WARN ? "warning"
                                      : "info",
                 line);
}

// What the run did, printed as one JSON object on stdout with --json.
struct Summary {
    QString task;
    QStringList inputs;
    QString output;   // the path asked for
    QString written;  // where the result is (another free name when a file was at `output`)
    QJsonArray segments;
    QString error;
};

// Options may stand anywhere; they are taken out of the arguments.
struct Options {
    bool json = false;
    bool progress = false;
    bool help = false;
    QString unknown;
};

Options takeOptions(QStringList& args) {
    Options o;
    for (int i = args.size() - 1; i >= 0; --i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--json")) {
            o.json = true;
        } else if (a == QLatin1String("--progress")) {
            o.progress = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.help = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            o.unknown = a;
            continue;
        } else {
            continue;
        }
        args.removeAt(i);
    }
    return o;
}

const char kUsage[] =
    "usage: vrk-task cut IN OUT b1 e1 [b2 e2 ...]\n"
    "       vrk-task merge OUT IN1 IN2 [...]\n"
    "       vrk-task export IN OUT WxH kbps\n";

const char kHelp[] =
    "\n"
    "Runs one editing task on VRK packages, without windows.\n"
    "\n"
    "  cut IN OUT b1 e1 [b2 e2 ...]   keep the segments b..e (milliseconds) of IN, in order\n"
    "  merge OUT IN1 IN2 [...]        join the packages one after the other\n"
    "  export IN OUT WxH kbps         convert to MP4 (needs an X display); \"convert\" is the same\n"
    "\n"
    "Options (anywhere):\n"
    "  --json       print a JSON summary on stdout at the end\n"
    "  --progress   print a progress line on stderr (default when stderr is a terminal)\n"
    "  --help, -h   this text\n"
    "\n"
    "An existing file at OUT is never replaced: the result goes to the next free numbered name.\n"
    "Exit status: 0 done, 1 bad arguments, 2 a package could not be read, 3 the task failed,\n"
    "4 cancelled by SIGINT or SIGTERM (nothing written).\n";

int usage() {
    std::fputs(kUsage, stderr);
    return kBadArguments;
}

// The progress line, rewritten in place on stderr whenever the whole percentage changes.
class ProgressLine {
public:
    ProgressLine(bool enabled, const QString& task) : m_enabled(enabled), m_task(task.toUtf8()) {}
    ~ProgressLine() {
        if (m_enabled && m_last >= 0) {
            std::fputc('\n', stderr);
        }
    }
    void set(float fraction) {
        const int percent = qBound(0, int(fraction * 100.0f), 100);
        if (m_enabled && percent != m_last.exchange(percent)) {
            std::fprintf(stderr, "\rvrk-task: %s %3d%%", m_task.constData(), percent);
            std::fflush(stderr);
        }
    }

private:
    bool m_enabled;
    QByteArray m_task;
    std::atomic<int> m_last{-1};
};

// Cancels a session's save or merge from another thread once SIGINT or SIGTERM arrived.
class StopWatcher {
public:
    explicit StopWatcher(std::shared_ptr<DataWrapper> session)
        : m_thread([this, session] {
              while (!m_done) {
                  if (g_stop_requested) {
                      session->cancel();
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
              }
          }) {}
    ~StopWatcher() {
        m_done = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// Reads a package into a new session; empty when the read failed.
std::shared_ptr<DataWrapper> openSession(const QString& path, bool keepEncrypt, Summary& summary) {
    auto session = std::make_shared<DataWrapper>();
    auto code = std::make_shared<std::atomic<int>>(1);
    if (session->readFile(
            path, [code](int c) { *code = c; }, keepEncrypt) != 0) {
        summary.error = QStringLiteral("can't read %1").arg(path);
        return nullptr;
    }
    while (*code == 1) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    if (*code != 0) {
        std::fprintf(stderr, "vrk-task: can't read %s\n", qUtf8Printable(path));
        summary.error = QStringLiteral("can't read %1").arg(path);
        return nullptr;
    }
    return session;
}

// An existing file is never replaced: when one was at the requested path, say where the result is.
void reportMovedOutput(const QString& requested, const QString& written, bool json) {
    if (!written.isEmpty() && written != requested) {
        // With --json, stdout holds the summary alone.
        std::fprintf(json ? stderr : stdout, "vrk-task: %s exists; the result is %s\n", qPrintable(requested),
                     qPrintable(written));
    }
}

// The outcome of a save or merge code.
int finishSessionTask(qint16 code, const char* what, Summary& summary) {
    if (code == DataWrapper::kCancelled) {
        std::fprintf(stderr, "vrk-task: %s cancelled\n", what);
        summary.error = QStringLiteral("cancelled");
        return kCancelled;
    }
    std::fprintf(stderr, "vrk-task: %s failed with code %d\n", what, int(code));
    summary.error = QStringLiteral("%1 failed with code %2").arg(QLatin1String(what)).arg(code);
    return kFailed;
}

int runCut(const QStringList& args, const Options& options, Summary& summary) {
    if (args.size() < 4 || args.size() % 2 != 0) {
        return usage();
    }
    summary.inputs << args.at(0);
    summary.output = args.at(1);
    QList<std::shared_ptr<_Segment>> segments;
    for (int i = 2; i < args.size(); i += 2) {
        bool okBegin = false;
        bool okEnd = false;
        auto s = std::make_shared<_Segment>();
        s->begin_time = args.at(i).toLongLong(&okBegin);
        s->end_time = args.at(i + 1).toLongLong(&okEnd);
        s->id = QStringLiteral("segment-%1").arg(i / 2);
        if (!okBegin || !okEnd || s->begin_time < 0 || s->end_time <= s->begin_time) {
            return usage();
        }
        segments << s;
        summary.segments.append(QJsonArray{double(s->begin_time), double(s->end_time)});
    }
    std::shared_ptr<DataWrapper> session = openSession(args.at(0), false, summary);
    if (!session) {
        return kUnreadable;
    }
    for (const auto& s : segments) {
        if (!session->tryAddSegment(s)) {
            std::fprintf(stderr, "vrk-task: overlapping segment %lld..%lld\n",
                         static_cast<long long>(s->begin_time), static_cast<long long>(s->end_time));
            summary.error = QStringLiteral("overlapping segment %1..%2").arg(s->begin_time).arg(s->end_time);
            return kBadArguments;
        }
    }
    ProgressLine progress(options.progress, summary.task);
    session->setProgressCallback([&progress](float f) { progress.set(f); });
    qint16 code = 0;
    {
        StopWatcher watcher(session);
        code = session->save(args.at(1));
    }
    if (code != 0) {
        return finishSessionTask(code, "cut", summary);
    }
    progress.set(1.0f);
    summary.written = session->savedPath();
    reportMovedOutput(args.at(1), summary.written, options.json);
    return kDone;
}

int runMerge(const QStringList& args, const Options& options, Summary& summary) {
    if (args.size() < 3) {
        return usage();
    }
    summary.output = args.at(0);
    summary.inputs = args.mid(1);
    QList<std::shared_ptr<DataWrapper>> sessions;
    for (int i = 1; i < args.size(); ++i) {
        std::shared_ptr<DataWrapper> session = openSession(args.at(i), true, summary);
        if (!session) {
            return kUnreadable;
        }
        sessions << session;
    }
    std::shared_ptr<DataWrapper> first = sessions.takeFirst();
    ProgressLine progress(options.progress, summary.task);
    first->setProgressCallback([&progress](float f) { progress.set(f); });
    qint16 code = 0;
    {
        StopWatcher watcher(first);
        code = first->merge(sessions, 0, 0, args.at(0));
    }
    if (code != 0) {
        return finishSessionTask(code, "merge", summary);
    }
    progress.set(1.0f);
    summary.written = first->savedPath();
    reportMovedOutput(args.at(0), summary.written, options.json);
    return kDone;
}

// The chat reads "expression/<code>.png" relative to the working directory: an installed copy runs
// from its own folder, as the application does, with the paths it was given made absolute first.
void enterProgramFolder(QString& input, QString& output) {
    const QString folder = QCoreApplication::applicationDirPath();
    if (QFileInfo::exists(folder + QStringLiteral("/expression"))) {
        input = QFileInfo(input).absoluteFilePath();
        output = QFileInfo(output).absoluteFilePath();
        QDir::setCurrent(folder);
    }
}

int runExport(const QStringList& args, const Options& options, Summary& summary) {
    if (args.size() != 4) {
        return usage();
    }
    summary.inputs << args.at(0);
    summary.output = args.at(1);
    const QStringList size = args.at(2).split(QLatin1Char('x'));
    auto param = std::make_shared<_RecordParam>();
    param->width = size.value(0).toInt();
    param->height = size.value(1).toInt();
    param->bitrate = args.at(3).toInt();
    if (size.size() != 2 || param->width <= 0 || param->height <= 0 || param->bitrate <= 0) {
        return usage();
    }
    QString input = args.at(0);
    QString output = args.at(1);
    enterProgramFolder(input, output);
    // Outlives the exporter, whose recorder thread reports progress until it is released.
    ProgressLine progress(options.progress, summary.task);
    auto exporter = std::make_shared<VRK2Mp4>();
    if (exporter->prepare(param) != 0) {
        std::fprintf(stderr, "vrk-task: export parameters refused\n");
        summary.error = QStringLiteral("export parameters refused");
        return kFailed;
    }
    auto read = std::make_shared<std::atomic<int>>(1);
    if (exporter->openPackage(input, [read](int c) { *read = c; }) != 0) {
        summary.error = QStringLiteral("can't read %1").arg(args.at(0));
        return kUnreadable;
    }
    while (*read == 1) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    if (*read != 0) {
        std::fprintf(stderr, "vrk-task: can't read %s\n", qUtf8Printable(args.at(0)));
        summary.error = QStringLiteral("can't read %1").arg(args.at(0));
        return kUnreadable;
    }
    bool finished = false;
    int failure = 0;
    QObject::connect(
        exporter.get(), &VRK2Mp4::signalConvertFinished, qApp, [&finished] { finished = true; },
        Qt::QueuedConnection);
    QObject::connect(
        exporter.get(), &VRK2Mp4::signalConvertFailed, qApp, [&failure](int code) { failure = code; },
        Qt::QueuedConnection);
    QObject::connect(exporter.get(), &VRK2Mp4::signalProgressValueChange,
                     [&progress](float f) { progress.set(f); });
    const int started = exporter->startConvert(output);
    if (started != 0) {
        std::fprintf(stderr, "vrk-task: export did not start, code %d\n", started);
        summary.error = QStringLiteral("export did not start, code %1").arg(started);
        return kFailed;
    }
    while (!finished && !g_stop_requested) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    if (!finished) {
        // Releasing the exporter stops the recorder, which removes its unfinished file.
        exporter.reset();
        std::fprintf(stderr, "vrk-task: export cancelled\n");
        summary.error = QStringLiteral("cancelled");
        return kCancelled;
    }
    if (failure != 0 || exporter->errorCode() != 0) {
        const int code = failure ? failure : exporter->errorCode();
        std::fprintf(stderr, "vrk-task: export failed with code %d\n", code);
        summary.error = QStringLiteral("export failed with code %1").arg(code);
        return kFailed;
    }
    progress.set(1.0f);
    summary.written = output;
    return kDone;
}

const char* statusName(int code) {
    switch (code) {
        case kDone:
            return "done";
        case kBadArguments:
            return "bad-arguments";
        case kUnreadable:
            return "unreadable";
        case kCancelled:
            return "cancelled";
        default:
            return "failed";
    }
}

void printSummary(const Summary& s, int code, qint64 elapsedMs) {
    QJsonObject o;
    o.insert(QStringLiteral("task"), s.task);
    o.insert(QStringLiteral("exitCode"), code);
    o.insert(QStringLiteral("status"), QLatin1String(statusName(code)));
    o.insert(QStringLiteral("inputs"), QJsonArray::fromStringList(s.inputs));
    o.insert(QStringLiteral("output"), s.output);
    o.insert(QStringLiteral("written"), s.written);
    if (s.task == QLatin1String("cut")) {
        o.insert(QStringLiteral("segments"), s.segments);
    }
    o.insert(QStringLiteral("elapsedMs"), double(elapsedMs));
    o.insert(QStringLiteral("error"),
             s.error.isEmpty() && code == kBadArguments ? QStringLiteral("bad arguments") : s.error);
    std::fputs(QJsonDocument(o).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
}

int runTask(const QString& mode, const QStringList& args, const Options& options, Summary& summary) {
    if (mode == QLatin1String("cut")) {
        return runCut(args, options, summary);
    }
    if (mode == QLatin1String("merge")) {
        return runMerge(args, options, summary);
    }
    if (mode == QLatin1String("export") || mode == QLatin1String("convert")) {
        return runExport(args, options, summary);
    }
    summary.error = QStringLiteral("unknown task");
    return usage();
}

}  // namespace

int main(int argc, char** argv) {
    QStringList raw;
    for (int i = 1; i < argc; ++i) {
        raw << QString::fromLocal8Bit(argv[i]);
    }
    Options options = takeOptions(raw);
    if (options.help) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return kDone;
    }
    options.progress = options.progress || isatty(STDERR_FILENO);
    if (options.json) {
        flog_set_callback(logToStderr, nullptr);
    }
    Summary summary;
    summary.task = raw.value(0);
    QElapsedTimer clock;
    clock.start();
    int code = kBadArguments;
    if (!options.unknown.isEmpty()) {
        std::fprintf(stderr, "vrk-task: unknown option %s\n", qUtf8Printable(options.unknown));
        summary.error = QStringLiteral("unknown option %1").arg(options.unknown);
        usage();
    } else if (raw.isEmpty()) {
        usage();
    } else {
        std::unique_ptr<QCoreApplication> app;
        if (summary.task == QLatin1String("export") || summary.task == QLatin1String("convert")) {
            app = std::make_unique<QApplication>(argc, argv);
        }
        if (!app) {
            app = std::make_unique<QCoreApplication>(argc, argv);
        }
        std::signal(SIGINT, requestStop);
        std::signal(SIGTERM, requestStop);
        // What killed runs left behind goes first, as at the start of the application.
        WorkspaceJournal::cleanupStale();
        code = runTask(summary.task, raw.mid(1), options, summary);
    }
    if (options.json) {
        printSummary(summary, code, clock.elapsed());
    }
    return code;
}
