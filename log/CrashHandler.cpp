#define FLOG_SOURCE "log/CrashHandler"
#include "CrashHandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "FLog.h"

// glibc's own entry point; the interposed sigaction() below forwards to it.
extern "C" int __sigaction(int sig, const struct sigaction* act, struct sigaction* old);

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};
constexpr size_t kPathCapacity = 4096;
constexpr size_t kAltStackSize = 256 * 1024;
constexpr int kMaxFrames = 128;

char g_dump_path[kPathCapacity];
std::atomic<bool> g_installed{false};
std::atomic<bool> g_locked{false};
volatile sig_atomic_t g_in_handler = 0;
alignas(16) char g_alt_stack[kAltStackSize];

bool isFatal(int sig) {
    for (int s : kFatalSignals) {
        if (s == sig) {
            return true;
        }
    }
    return false;
}

// ---- async-signal-safe output helpers (no allocation, no stdio) ----

void putText(int fd, const char* text) {
    size_t len = strlen(text);
    while (len > 0) {
        const ssize_t n = write(fd, text, len);
        if (n <= 0) {
            return;
        }
        text += n;
        len -= size_t(n);
    }
}

void putUnsigned(int fd, unsigned long long value, unsigned base, int minDigits = 1) {
    char buf[32];
    int i = 0;
    do {
        const unsigned d = unsigned(value % base);
        buf[i++] = char(d < 10 ? '0' + d : 'a' + d - 10);
        value /= base;
    } while (value != 0 && i < int(sizeof(buf)));
    while (i < minDigits && i < int(sizeof(buf))) {
        buf[i++] = '0';
    }
    char out[34];
    int j = 0;
    while (i > 0) {
        out[j++] = buf[--i];
    }
    out[j] = '\0';
    putText(fd, out);
}

void putSigned(int fd, long long value) {
    if (value < 0) {
        putText(fd, "-");
        putUnsigned(fd, 0ULL - static_cast<unsigned long long>(value), 10);
    } else {
        putUnsigned(fd, static_cast<unsigned long long>(value), 10);
    }
}

void putHex(int fd, unsigned long long value) {
    putText(fd, "0x");
    putUnsigned(fd, value, 16, 16);
}

const char* signalName(int sig) {
    switch (sig) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGILL:
            return "SIGILL";
        case SIGFPE:
            return "SIGFPE";
        case SIGABRT:
            return "SIGABRT";
        case SIGTRAP:
            return "SIGTRAP";
        case SIGSYS:
            return "SIGSYS";
        default:
            return "?";
    }
}

void writeRegisters(int fd, const void* context) {
    if (!context) {
        return;
    }
    const auto* uc = static_cast<const ucontext_t*>(context);
    putText(fd, "registers:\n");
#if defined(__x86_64__)
    static const char* const names[] = {"r8",  "r9",  "r10",    "r11", "r12",    "r13",     "r14", "r15",
                                        "rdi", "rsi", "rbp",    "rbx", "rdx",    "rax",     "rcx", "rsp",
                                        "rip", "efl", "csgsfs", "err", "trapno", "oldmask", "cr2"};
    for (int i = 0; i < NGREG && i < int(sizeof(names) / sizeof(names[0])); ++i) {
        putText(fd, "  ");
        putText(fd, names[i]);
        putText(fd, " ");
        putHex(fd, static_cast<unsigned long long>(uc->uc_mcontext.gregs[i]));
        putText(fd, "\n");
    }
#elif defined(__aarch64__)
    for (int i = 0; i < 31; ++i) {
        putText(fd, "  x");
        putUnsigned(fd, unsigned(i), 10);
        putText(fd, " ");
        putHex(fd, uc->uc_mcontext.regs[i]);
        putText(fd, "\n");
    }
    putText(fd, "  sp ");
    putHex(fd, uc->uc_mcontext.sp);
    putText(fd, "\n  pc ");
    putHex(fd, uc->uc_mcontext.pc);
    putText(fd, "\n  pstate ");
    putHex(fd, uc->uc_mcontext.pstate);
    putText(fd, "\n");
#else
    (void)uc;
    putText(fd, "  (not recorded on this architecture)\n");
#endif
}

void copyFile(int fd, const char* path) {
    const int in = open(path, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return;
    }
    char buf[4096];
    for (;;) {
        const ssize_t n = read(in, buf, sizeof(buf));
        if (n <= 0) {
            break;
        }
        ssize_t off = 0;
        while (off < n) {
            const ssize_t w = write(fd, buf + off, size_t(n - off));
            if (w <= 0) {
                close(in);
                return;
            }
            off += w;
        }
    }
    close(in);
}

void writeDump(int sig, const siginfo_t* info, const void* context) {
    const int fd = open(g_dump_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    putText(fd, "crash dump\n");
    putText(fd, "signal: ");
    putSigned(fd, sig);
    putText(fd, " (");
    putText(fd, signalName(sig));
    putText(fd, ")\n");
    if (info) {
        putText(fd, "code: ");
        putSigned(fd, info->si_code);
        putText(fd, "\nfault address: ");
        putHex(fd, reinterpret_cast<unsigned long long>(info->si_addr));
        putText(fd, "\nsender pid: ");
        putSigned(fd, info->si_pid);
        putText(fd, "\n");
    }
    putText(fd, "pid: ");
    putSigned(fd, getpid());
    putText(fd, "\nthread: ");
    putSigned(fd, static_cast<long long>(syscall(SYS_gettid)));
    putText(fd, "\n");
    writeRegisters(fd, context);
    putText(fd, "backtrace:\n");
    void* frames[kMaxFrames];
    const int count = backtrace(frames, kMaxFrames);
    backtrace_symbols_fd(frames, count, fd);
    putText(fd, "memory map:\n");
    copyFile(fd, "/proc/self/maps");
    putText(fd, "end of dump\n");
    fsync(fd);
    close(fd);
}

void restoreDefault(int sig) {
    struct sigaction dfl;
    memset(&dfl, 0, sizeof(dfl));
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    __sigaction(sig, &dfl, nullptr);
}

void crashHandler(int sig, siginfo_t* info, void* context) {
    if (g_in_handler) {
        // A fault while dumping: give up and die with the default action.
        restoreDefault(sig);
        raise(sig);
        return;
    }
    g_in_handler = 1;
    writeDump(sig, info, context);
    // Die of the same signal: a fault re-executes and now meets the default action; a sent signal is
    // raised again (it stays pending until this handler returns).
    restoreDefault(sig);
    raise(sig);
}

}  // namespace

// Interposed signal-disposition calls: once the handler is installed, other code cannot replace it
// for the fatal signals. Everything else goes straight through to the C library.
extern "C" int sigaction(int sig, const struct sigaction* act, struct sigaction* old) noexcept {
    if (act && g_locked.load() && isFatal(sig)) {
        if (old) {
            memset(old, 0, sizeof(*old));
            old->sa_handler = SIG_DFL;
        }
        return 0;
    }
    return __sigaction(sig, act, old);
}

extern "C" sighandler_t signal(int sig, sighandler_t handler) noexcept {
    if (g_locked.load() && isFatal(sig)) {
        return SIG_DFL;
    }
    // The C library's signal(): BSD semantics.
    struct sigaction act;
    struct sigaction old;
    memset(&act, 0, sizeof(act));
    memset(&old, 0, sizeof(old));
    act.sa_handler = handler;
    sigemptyset(&act.sa_mask);
    sigaddset(&act.sa_mask, sig);
    act.sa_flags = SA_RESTART;
    if (__sigaction(sig, &act, &old) < 0) {
        return SIG_ERR;
    }
    return old.sa_handler;
}

bool installCrashHandler(const char* dumpPath) {
    if (!dumpPath || !*dumpPath) {
        FLOG(FLOG_ERROR, "crash handler not installed: %s", "empty dump path");
        return false;
    }
    if (strlen(dumpPath) >= kPathCapacity) {
        FLOG(FLOG_ERROR, "crash handler not installed: dump path of %d bytes is too long",
             int(strlen(dumpPath)));
        return false;
    }
    bool expected = false;
    if (!g_installed.compare_exchange_strong(expected, true)) {
        return false;
    }
    memset(g_dump_path, 0, sizeof(g_dump_path));
    memcpy(g_dump_path, dumpPath, strlen(dumpPath));

    // backtrace() loads its unwinder on first use; do that now, not inside the handler.
    void* warm[4];
    backtrace(warm, 4);

    // A stack overflow leaves no stack for the handler: it runs on its own stack.
    stack_t ss;
    memset(&ss, 0, sizeof(ss));
    ss.ss_sp = g_alt_stack;
    ss.ss_size = sizeof(g_alt_stack);
    if (sigaltstack(&ss, nullptr) != 0) {
        FLOG(FLOG_WARN, "alternate signal stack not set, errno %d", errno);
    }

    struct sigaction act;
    memset(&act, 0, sizeof(act));
    act.sa_sigaction = crashHandler;
    sigemptyset(&act.sa_mask);
    act.sa_flags = SA_SIGINFO | SA_ONSTACK;
    bool ok = true;
    for (int sig : kFatalSignals) {
        if (__sigaction(sig, &act, nullptr) != 0) {
            FLOG(FLOG_ERROR, "crash handler not installed for signal %d, errno %d", sig, errno);
            ok = false;
        }
    }
    g_locked.store(true);
    return ok;
}

const char* crashDumpPath() {
    return g_dump_path;
}
