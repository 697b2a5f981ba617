// Headless runner of one editing task through the real session and exporter, for scripts that
// interrupt tasks and check what they leave behind.
//
//   vrk-task cut IN OUT b1 e1 [b2 e2 ...]      segments in milliseconds
//   vrk-task merge OUT IN1 IN2 [...]
//   vrk-task export IN OUT WxH kbps             (needs a display with OpenGL 3.2)
//
// Exit status: 0 done, 1 bad arguments, 2 a package could not be read, 3 the task failed.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

#include "DataWrapper.h"
#include "WorkspaceJournal.h"

#ifdef VRK_TASK_EXPORT
#include <QApplication>

#include "VRK2Mp4.h"
#endif

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: vrk-task cut IN OUT b1 e1 [b2 e2 ...]\n"
                 "       vrk-task merge OUT IN1 IN2 [...]\n"
                 "       vrk-task export IN OUT WxH kbps\n");
    return 1;
}

// Reads a package into a new session; empty when the read failed.
std::shared_ptr<DataWrapper> openSession(const QString& path, bool keepEncrypt) {
    auto session = std::make_shared<DataWrapper>();
    auto code = std::make_shared<std::atomic<int>>(1);
    if (session->readFile(
            path, [code](int c) { *code = c; }, keepEncrypt) != 0) {
        return nullptr;
    }
    while (*code == 1) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    if (*code != 0) {
        std::fprintf(stderr, "vrk-task: can't read %s\n", qUtf8Printable(path));
        return nullptr;
    }
    return session;
}

// An existing file is never replaced: when one was at the requested path, say where the result is.
void reportMovedOutput(const QString& requested, const QString& written) {
    if (!written.isEmpty() && written != requested) {
        std::printf("vrk-task: %s exists; the result is %s\n", qPrintable(requested), qPrintable(written));
    }
}

int runCut(const QStringList& args) {
    if (args.size() < 4 || args.size() % 2 != 0) {
        return usage();
    }
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
    }
    std::shared_ptr<DataWrapper> session = openSession(args.at(0), false);
    if (!session) {
        return 2;
    }
    for (const auto& s : segments) {
        if (!session->tryAddSegment(s)) {
            std::fprintf(stderr, "vrk-task: overlapping segment %lld..%lld\n",
                         static_cast<long long>(s->begin_time), static_cast<long long>(s->end_time));
            return 1;
        }
    }
    const qint16 code = session->save(args.at(1));
    if (code != 0) {
        std::fprintf(stderr, "vrk-task: cut failed with code %d\n", int(code));
        return 3;
    }
    reportMovedOutput(args.at(1), session->savedPath());
    return 0;
}

int runMerge(const QStringList& args) {
    if (args.size() < 3) {
        return usage();
    }
    QList<std::shared_ptr<DataWrapper>> sessions;
    for (int i = 1; i < args.size(); ++i) {
        std::shared_ptr<DataWrapper> session = openSession(args.at(i), true);
        if (!session) {
            return 2;
        }
        sessions << session;
    }
    std::shared_ptr<DataWrapper> first = sessions.takeFirst();
    const qint16 code = first->merge(sessions, 0, 0, args.at(0));
    if (code != 0) {
        std::fprintf(stderr, "vrk-task: merge failed with code %d\n", int(code));
        return 3;
    }
    reportMovedOutput(args.at(0), first->savedPath());
    return 0;
}

#ifdef VRK_TASK_EXPORT
int runExport(const QStringList& args) {
    if (args.size() != 4) {
        return usage();
    }
    const QStringList size = args.at(2).split(QLatin1Char('x'));
    auto param = std::make_shared<_RecordParam>();
    param->width = size.value(0).toInt();
    param->height = size.value(1).toInt();
    param->bitrate = args.at(3).toInt();
    if (size.size() != 2 || param->width <= 0 || param->height <= 0 || param->bitrate <= 0) {
        return usage();
    }
    auto exporter = std::make_shared<VRK2Mp4>();
    if (exporter->prepare(param) != 0) {
        std::fprintf(stderr, "vrk-task: export parameters refused\n");
        return 3;
    }
    auto read = std::make_shared<std::atomic<int>>(1);
    if (exporter->openPackage(args.at(0), [read](int c) { *read = c; }) != 0) {
        return 2;
    }
    while (*read == 1) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    if (*read != 0) {
        std::fprintf(stderr, "vrk-task: can't read %s\n", qUtf8Printable(args.at(0)));
        return 2;
    }
    bool finished = false;
    int failure = 0;
    QObject::connect(
        exporter.get(), &VRK2Mp4::signalConvertFinished, qApp, [&finished] { finished = true; },
        Qt::QueuedConnection);
    QObject::connect(
        exporter.get(), &VRK2Mp4::signalConvertFailed, qApp, [&failure](int code) { failure = code; },
        Qt::QueuedConnection);
    const int started = exporter->startConvert(args.at(1));
    if (started != 0) {
        std::fprintf(stderr, "vrk-task: export did not start, code %d\n", started);
        return 3;
    }
    while (!finished) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    if (failure != 0 || exporter->errorCode() != 0) {
        std::fprintf(stderr, "vrk-task: export failed with code %d\n",
                     failure ? failure : exporter->errorCode());
        return 3;
    }
    return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return usage();
    }
    const QString mode = QString::fromLocal8Bit(argv[1]);
    std::unique_ptr<QCoreApplication> app;
#ifdef VRK_TASK_EXPORT
    if (mode == QLatin1String("export")) {
        app = std::make_unique<QApplication>(argc, argv);
    }
#endif
    if (!app) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    // What killed runs left behind goes first, as at the start of the application.
    WorkspaceJournal::cleanupStale();
    const QStringList args = QCoreApplication::arguments().mid(2);
    if (mode == QLatin1String("cut")) {
        return runCut(args);
    }
    if (mode == QLatin1String("merge")) {
        return runMerge(args);
    }
#ifdef VRK_TASK_EXPORT
    if (mode == QLatin1String("export")) {
        return runExport(args);
    }
#endif
    return usage();
}
