// Crash handler: the dump of a crashing child process, and the protection of the handler against
// later installations by other code.
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "CrashHandler.h"

namespace {

using SigactionFn = int (*)(int, const struct sigaction*, struct sigaction*);
using SignalFn = sighandler_t (*)(int, sighandler_t);

void otherHandler(int) {}

// Child modes: install the handler on argv[2], let "a library" try to replace it, then crash.
volatile int* volatile g_null = nullptr;

// Deliberately unbounded: it must overflow the stack.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
int recurse(int depth) {
    volatile char pad[512];
    pad[0] = char(depth);
    return recurse(depth + 1) + pad[0];
}
#pragma GCC diagnostic pop

// A real invalid write, which the undefined-behaviour checker must not turn into its own report.
__attribute__((no_sanitize("undefined"))) void writeThroughNull() {
    *g_null = 42;
}

int runChild(const char* mode, const char* dump) {
    if (strcmp(mode, "none") != 0 && !installCrashHandler(dump)) {
        return 3;
    }
    // What a shared library would find and call.
    auto sa = reinterpret_cast<SigactionFn>(dlsym(RTLD_DEFAULT, "sigaction"));
    auto sig = reinterpret_cast<SignalFn>(dlsym(RTLD_DEFAULT, "signal"));
    if (!sa || !sig) {
        return 4;
    }
    struct sigaction other;
    memset(&other, 0, sizeof(other));
    other.sa_handler = otherHandler;
    sa(SIGSEGV, &other, nullptr);
    sa(SIGABRT, &other, nullptr);
    sig(SIGSEGV, SIG_DFL);
    sig(SIGFPE, SIG_IGN);
    if (strcmp(mode, "segv") == 0 || strcmp(mode, "none") == 0) {
        writeThroughNull();
    } else if (strcmp(mode, "abort") == 0) {
        abort();
    } else if (strcmp(mode, "stack") == 0) {
        return recurse(0);
    } else if (strcmp(mode, "kill") == 0) {
        kill(getpid(), SIGBUS);
        pause();
    }
    return 0;
}

struct ChildResult {
    QProcess::ExitStatus status;
    QString dump;
};

ChildResult crashChild(const QString& mode, const QString& dumpPath) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--crash-child"), mode, dumpPath});
    p.waitForFinished(60000);
    ChildResult r{p.exitStatus(), QString()};
    QFile f(dumpPath);
    if (f.open(QIODevice::ReadOnly)) {
        r.dump = QString::fromLatin1(f.readAll());
    }
    return r;
}

}  // namespace

class TestCrashHandler : public QObject {
    Q_OBJECT
private slots:
    void dumpOfCrashingChild();
    void protectionInProcess();
};

void TestCrashHandler::dumpOfCrashingChild() {
    QTemporaryDir dir;
    const QString dump = dir.filePath(QStringLiteral("2024-03-05-14.07.09.dump"));

    // An earlier file of the same name is replaced.
    {
        QFile f(dump);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(200000, 'x'));
    }
    ChildResult r = crashChild(QStringLiteral("segv"), dump);
    QCOMPARE(r.status, QProcess::CrashExit);
    QVERIFY(r.dump.startsWith(QStringLiteral("crash dump\n")));
    QVERIFY(!r.dump.contains(QStringLiteral("xxxx")));
    // The library's later attempts did not replace the handler: the dump names the original signal.
    QVERIFY2(r.dump.contains(QStringLiteral("signal: 11 (SIGSEGV)")), qPrintable(r.dump.left(300)));
    QVERIFY(r.dump.contains(QStringLiteral("fault address: 0x0000000000000000")));
#if defined(__x86_64__)
    QVERIFY(r.dump.contains(QStringLiteral("  rip 0x")));
    QVERIFY(r.dump.contains(QStringLiteral("  rsp 0x")));
#endif
    const int bt = r.dump.indexOf(QStringLiteral("backtrace:\n"));
    const int maps = r.dump.indexOf(QStringLiteral("memory map:\n"));
    QVERIFY(bt > 0 && maps > bt);
    // The backtrace names frames of this program; the map lists it too.
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QVERIFY(r.dump.mid(bt, maps - bt).contains(self));
    QVERIFY(r.dump.mid(maps).contains(QCoreApplication::applicationFilePath()));
    QVERIFY(r.dump.endsWith(QStringLiteral("end of dump\n")));

    // abort(): SIGABRT is recorded as well.
    r = crashChild(QStringLiteral("abort"), dir.filePath(QStringLiteral("abort.dump")));
    QCOMPARE(r.status, QProcess::CrashExit);
    QVERIFY(r.dump.contains(QStringLiteral("signal: 6 (SIGABRT)")));
    QVERIFY(r.dump.endsWith(QStringLiteral("end of dump\n")));

    // A stack overflow: the handler runs on its own stack.
    r = crashChild(QStringLiteral("stack"), dir.filePath(QStringLiteral("stack.dump")));
    QCOMPARE(r.status, QProcess::CrashExit);
    QVERIFY(r.dump.contains(QStringLiteral("signal: 11 (SIGSEGV)")));
    QVERIFY(r.dump.endsWith(QStringLiteral("end of dump\n")));

    // A fatal signal sent by another process.
    r = crashChild(QStringLiteral("kill"), dir.filePath(QStringLiteral("kill.dump")));
    QCOMPARE(r.status, QProcess::CrashExit);
    QVERIFY(r.dump.contains(QStringLiteral("signal: 7 (SIGBUS)")));

    // Without installation there is no dump.
    r = crashChild(QStringLiteral("none"), dir.filePath(QStringLiteral("none.dump")));
    QCOMPARE(r.status, QProcess::CrashExit);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("none.dump"))));

    // A folder that does not exist: no dump, but the process still ends by the signal.
    r = crashChild(QStringLiteral("segv"), dir.filePath(QStringLiteral("missing/x.dump")));
    QCOMPARE(r.status, QProcess::CrashExit);
    QVERIFY(r.dump.isEmpty());
}

void TestCrashHandler::protectionInProcess() {
    // Refused paths install nothing.
    QVERIFY(!installCrashHandler(nullptr));
    QVERIFY(!installCrashHandler(""));
    const QByteArray tooLong(5000, 'a');
    QVERIFY(!installCrashHandler(tooLong.constData()));
    QCOMPARE(QByteArray(crashDumpPath()), QByteArray());

    // Non-fatal signals are untouched before and after installation.
    struct sigaction usr;
    memset(&usr, 0, sizeof(usr));
    usr.sa_handler = otherHandler;
    QCOMPARE(sigaction(SIGUSR1, &usr, nullptr), 0);

    QTemporaryDir dir;
    const QByteArray path = dir.filePath(QStringLiteral("run.dump")).toUtf8();
    QVERIFY(installCrashHandler(path.constData()));
    QCOMPARE(QByteArray(crashDumpPath()), path);
    // Only the first installation counts.
    QVERIFY(!installCrashHandler("/tmp/other.dump"));
    QCOMPARE(QByteArray(crashDumpPath()), path);

    struct sigaction ours;
    QCOMPARE(sigaction(SIGSEGV, nullptr, &ours), 0);
    QVERIFY(ours.sa_flags & SA_SIGINFO);
    QVERIFY(ours.sa_flags & SA_ONSTACK);

    // Replacing it through the symbol a shared library binds to: accepted, reports no previous
    // handler, changes nothing.
    auto sa = reinterpret_cast<SigactionFn>(dlsym(RTLD_DEFAULT, "sigaction"));
    auto sig = reinterpret_cast<SignalFn>(dlsym(RTLD_DEFAULT, "signal"));
    QVERIFY(sa && sig);
    struct sigaction other;
    memset(&other, 0, sizeof(other));
    other.sa_handler = otherHandler;
    struct sigaction previous;
    memset(&previous, 0xff, sizeof(previous));
    QCOMPARE(sa(SIGSEGV, &other, &previous), 0);
    QVERIFY(previous.sa_handler == SIG_DFL);
    QVERIFY(sig(SIGBUS, SIG_IGN) == SIG_DFL);
    for (int s : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
        struct sigaction now;
        QCOMPARE(sigaction(s, nullptr, &now), 0);
        QVERIFY2(now.sa_sigaction == ours.sa_sigaction, qPrintable(QString::number(s)));
    }

    // Other signals still change as asked, through both calls.
    QVERIFY(sig(SIGUSR2, otherHandler) != SIG_ERR);
    struct sigaction usr2;
    QCOMPARE(sigaction(SIGUSR2, nullptr, &usr2), 0);
    QVERIFY(usr2.sa_handler == otherHandler);
    QVERIFY(sig(SIGUSR2, SIG_DFL) == otherHandler);
    struct sigaction usr1;
    QCOMPARE(sa(SIGUSR1, nullptr, &usr1), 0);
    QVERIFY(usr1.sa_handler == otherHandler);
}

int main(int argc, char* argv[]) {
    if (argc == 4 && strcmp(argv[1], "--crash-child") == 0) {
        return runChild(argv[2], argv[3]);
    }
    QCoreApplication app(argc, argv);
    TestCrashHandler tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_crashhandler.moc"
