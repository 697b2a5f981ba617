#define FLOG_SOURCE "editor/WorkspaceJournal"
#include "WorkspaceJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStandardPaths>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "FLog.h"

namespace {

constexpr qint64 kMaxJournalBytes = 1 << 20;
// Deeper trees than this are not ours to walk (each level holds a folder open).
constexpr int kMaxDepth = 256;
const char kHeader[] = "playback-edit-tool journal 2";
const char kJournalSuffix[] = ".journal";
const char kTempSuffix[] = ".journal.tmp";

struct Entry {
    bool is_prefix = false;
    QByteArray path;    // tree: the recorded path; prefix: the folder
    QByteArray prefix;  // prefix entries only
    quint64 dev = 0;
    quint64 ino = 0;
};

// Absolute, no empty, "." or ".." parts, no trailing "/", not the root itself.
bool isNormalised(const QByteArray& p) {
    if (p.size() < 2 || p.at(0) != '/' || p.endsWith('/') || p.contains('\0')) {
        return false;
    }
    const QList<QByteArray> parts = p.mid(1).split('/');
    for (const QByteArray& part : parts) {
        if (part.isEmpty() || part == "." || part == "..") {
            return false;
        }
    }
    return true;
}

QByteArray normalised(const QString& path) {
    if (path.isEmpty()) {
        return {};
    }
    const QByteArray p = QFile::encodeName(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    return isNormalised(p) ? p : QByteArray();
}

bool isPrefixName(const QByteArray& prefix) {
    // A bare "." or ".." would match every hidden entry of the folder.
    return prefix.size() >= 3 && prefix.at(0) == '.' && prefix != ".." && !prefix.contains('/') &&
           !prefix.contains('\0');
}

QByteArray parentOf(const QByteArray& p) {
    const int slash = p.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : p.left(slash);
}

QByteArray nameOf(const QByteArray& p) {
    return p.mid(p.lastIndexOf('/') + 1);
}

// Field 22 of /proc/<pid>/stat (start time in clock ticks after boot); 0 when there is no such
// process or the field cannot be read.
quint64 processStartTime(long pid) {
    const QByteArray path = "/proc/" + QByteArray::number(qlonglong(pid)) + "/stat";
    const int fd = open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    char buf[1024];
    ssize_t n = 0;
    do {
        n = read(fd, buf, sizeof(buf) - 1);
    } while (n < 0 && errno == EINTR);
    close(fd);
    if (n <= 0) {
        return 0;
    }
    // The command name (field 2) may hold spaces and parentheses: count from its closing one.
    const QByteArray text(buf, int(n));
    const int close_paren = text.lastIndexOf(')');
    if (close_paren < 0) {
        return 0;
    }
    const QList<QByteArray> fields = text.mid(close_paren + 1).simplified().split(' ');
    // After ')' come field 3, 4, ...: field 22 is the 20th.
    if (fields.size() < 20) {
        return 0;
    }
    bool ok = false;
    const quint64 start = fields.at(19).toULongLong(&ok);
    return ok ? start : 0;
}

enum class Liveness { Alive, Reused, Gone };

Liveness livenessOf(long pid, quint64 start) {
    const quint64 now = processStartTime(pid);
    if (now == 0) {
        return Liveness::Gone;
    }
    return now == start ? Liveness::Alive : Liveness::Reused;
}

QByteArray journalDirPath() {
    const QStringList temps = QStandardPaths::standardLocations(QStandardPaths::TempLocation);
    if (temps.isEmpty()) {
        return {};
    }
    return normalised(temps.first() + QStringLiteral("/.playback-edit-tool-") +
                      QString::number(qulonglong(getuid())));
}

// Opens the journal folder when it can be trusted: a real folder (not a link), ours, writable by
// nobody else. -1 otherwise (errno ENOENT when it does not exist, EPERM when it is not trusted).
int openJournalDir(const QByteArray& dir, bool create) {
    if (dir.isEmpty()) {
        errno = ENOENT;
        return -1;
    }
    if (create && mkdir(dir.constData(), 0700) != 0 && errno != EEXIST) {
        return -1;
    }
    const int fd = open(dir.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR) {
            errno = EPERM;
        }
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 022) != 0) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const QByteArray& data) {
    qint64 done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += n;
    }
    return true;
}

// Where a process id means something: the host and the process-id namespace. A temporary folder
// can be shared with another machine (a network home) or a container, whose processes this one
// cannot see; their journals are never judged from here.
QByteArray ownerLine() {
    char host[256] = {0};
    gethostname(host, sizeof(host) - 1);
    char ns[128] = {0};
    const ssize_t n = readlink("/proc/self/ns/pid", ns, sizeof(ns) - 1);
    return "owner " + QByteArray(host).toPercentEncoding() + ' ' +
           QByteArray(ns, n > 0 ? int(n) : 0).toPercentEncoding();
}

QByteArray encode(const std::vector<Entry>& entries) {
    QByteArray text = QByteArray(kHeader) + '\n' + ownerLine() + '\n';
    for (const Entry& e : entries) {
        if (e.is_prefix) {
            text += "P " + e.path.toPercentEncoding() + ' ' + e.prefix.toPercentEncoding() + '\n';
        } else {
            text += "T " + QByteArray::number(e.dev) + ' ' + QByteArray::number(e.ino) + ' ' +
                    e.path.toPercentEncoding() + '\n';
        }
    }
    return text;
}

// Entries of a journal written on this host in this process-id namespace (`header_ok` false
// otherwise, and nothing is returned); lines that do not parse or name no normalised path are skipped.
std::vector<Entry> decode(const QByteArray& text, bool* header_ok) {
    std::vector<Entry> entries;
    const QList<QByteArray> lines = text.split('\n');
    *header_ok = lines.size() >= 2 && lines.at(0) == kHeader && lines.at(1) == ownerLine();
    if (!*header_ok) {
        return entries;
    }
    for (int i = 2; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines.at(i).split(' ');
        Entry e;
        bool ok_dev = false;
        bool ok_ino = false;
        if (f.size() == 4 && f.at(0) == "T") {
            e.dev = f.at(1).toULongLong(&ok_dev);
            e.ino = f.at(2).toULongLong(&ok_ino);
            e.path = QByteArray::fromPercentEncoding(f.at(3));
            if (ok_dev && ok_ino && isNormalised(e.path)) {
                entries.push_back(e);
            }
        } else if (f.size() == 3 && f.at(0) == "P") {
            e.is_prefix = true;
            e.path = QByteArray::fromPercentEncoding(f.at(1));
            e.prefix = QByteArray::fromPercentEncoding(f.at(2));
            if (isNormalised(e.path) && isPrefixName(e.prefix)) {
                entries.push_back(e);
            }
        }
    }
    return entries;
}

// Opens `name` without following a link and only when it is still the file `seen` (by lstat):
// something swapped in between is never read or entered.
int openChecked(int dir_fd, const char* name, int flags, const struct stat& seen) {
    const int fd = openat(dir_fd, name, flags | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat opened;
    if (fstat(fd, &opened) != 0 || opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino) {
        close(fd);
        return -1;
    }
    return fd;
}

// Removes the entry `name` of the open folder `parent_fd`: files and links as such (a link is never
// followed), folders with their content, never crossing into another file system.
bool removeAt(int parent_fd, const char* name, quint64 dev, int depth) {
    struct stat st;
    if (fstatat(parent_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISDIR(st.st_mode)) {
        return unlinkat(parent_fd, name, 0) == 0 || errno == ENOENT;
    }
    if (quint64(st.st_dev) != dev || depth > kMaxDepth) {
        return false;
    }
    const int fd = openChecked(parent_fd, name, O_RDONLY | O_DIRECTORY, st);
    if (fd < 0) {
        return false;
    }
    DIR* d = fdopendir(fd);
    if (!d) {
        close(fd);
        return false;
    }
    std::vector<QByteArray> names;
    while (struct dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            names.emplace_back(e->d_name);
        }
    }
    bool ok = true;
    for (const QByteArray& child : names) {
        ok = removeAt(dirfd(d), child.constData(), dev, depth + 1) && ok;
    }
    closedir(d);
    return ok && unlinkat(parent_fd, name, AT_REMOVEDIR) == 0;
}

// Names in the open folder `dir_fd` that start with `prefix` and belong to this user.
std::vector<QByteArray> ownEntriesWithPrefix(int dir_fd, const QByteArray& prefix) {
    std::vector<QByteArray> found;
    const int fd = dup(dir_fd);
    DIR* d = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!d) {
        if (fd >= 0) {
            close(fd);
        }
        return found;
    }
    rewinddir(d);
    while (struct dirent* e = readdir(d)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == ".." || !name.startsWith(prefix)) {
            continue;
        }
        struct stat st;
        if (fstatat(dir_fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_uid == getuid()) {
            found.push_back(name);
        }
    }
    closedir(d);
    return found;
}

class Cleaner {
public:
    explicit Cleaner(long pid) : m_pid(pid) {}
    int removed() const { return m_removed; }

    void removePrefixEntries(const QByteArray& dir, const QByteArray& prefix) {
        const int fd = open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return;
        }
        removeMatching(fd, dir, prefix);
        close(fd);
    }

    void removeTree(const Entry& e) {
        const QByteArray parent = parentOf(e.path);
        const QByteArray name = nameOf(e.path);
        const int fd = open(parent.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return;
        }
        struct stat st;
        if (fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            close(fd);
            return;
        }
        if (quint64(st.st_dev) != e.dev || quint64(st.st_ino) != e.ino || st.st_uid != getuid()) {
            FLOG(FLOG_INFO, "left %s alone: it is no longer what process %ld made", e.path.constData(),
                 m_pid);
            close(fd);
            return;
        }
        // The archive library stages an unpack beside its destination; while the destination is
        // still the recorded one, its staging folders are ours too.
        removeMatching(fd, parent, "." + name + ".unpack-");
        if (removeAt(fd, name.constData(), quint64(st.st_dev), 0)) {
            FLOG(FLOG_INFO, "removed %s left by process %ld", e.path.constData(), m_pid);
            ++m_removed;
        } else {
            FLOG(FLOG_WARN, "can't remove %s left by process %ld", e.path.constData(), m_pid);
        }
        close(fd);
    }

private:
    void removeMatching(int dir_fd, const QByteArray& dir, const QByteArray& prefix) {
        for (const QByteArray& name : ownEntriesWithPrefix(dir_fd, prefix)) {
            const QByteArray path = dir + '/' + name;
            struct stat st;
            if (fstatat(dir_fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            if (removeAt(dir_fd, name.constData(), quint64(st.st_dev), 0)) {
                FLOG(FLOG_INFO, "removed %s left by process %ld", path.constData(), m_pid);
                ++m_removed;
            } else {
                FLOG(FLOG_WARN, "can't remove %s left by process %ld", path.constData(), m_pid);
            }
        }
    }

    long m_pid;
    int m_removed = 0;
};

// "<pid>-<start>" followed by `suffix`, digits only.
bool parseJournalName(const QByteArray& name, const char* suffix, long* pid, quint64* start) {
    if (!name.endsWith(suffix)) {
        return false;
    }
    const QByteArray stem = name.left(name.size() - int(std::strlen(suffix)));
    const int dash = stem.indexOf('-');
    if (dash <= 0 || dash == stem.size() - 1) {
        return false;
    }
    const QByteArray p = stem.left(dash);
    const QByteArray s = stem.mid(dash + 1);
    for (const char c : p + s) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    bool ok_pid = false;
    bool ok_start = false;
    *pid = p.toLong(&ok_pid);
    *start = s.toULongLong(&ok_start);
    return ok_pid && ok_start && *pid > 0 && *start > 0;
}

// Reads a journal that is a regular file of ours, not a link, of bounded size.
bool readJournal(int dir_fd, const char* name, QByteArray* text) {
    struct stat st;
    if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != getuid() || st.st_size > kMaxJournalBytes) {
        return false;
    }
    const int fd = openChecked(dir_fd, name, O_RDONLY, st);
    if (fd < 0) {
        return false;
    }
    text->resize(int(st.st_size));
    qint64 got = 0;
    while (got < text->size()) {
        const ssize_t n = read(fd, text->data() + got, size_t(text->size() - got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += n;
    }
    close(fd);
    text->resize(int(got));
    return true;
}

// The one journal of this process. Allocated once and never destroyed: detached workers may still
// register or release while the process ends.
struct State {
    std::mutex mutex;
    std::vector<Entry> entries;
    QByteArray dir;
    QByteArray file_name;
    pid_t pid = 0;
    bool started = false;
    bool disabled = false;
    bool closed = false;
};

State& state() {
    static State* s = new State;
    return *s;
}

// Fixes the journal's folder and name on first use; false when no journal can be kept.
bool startLocked(State& s) {
    if (s.started) {
        return !s.disabled && !s.closed;
    }
    s.started = true;
    s.pid = getpid();
    const quint64 start = processStartTime(s.pid);
    s.dir = journalDirPath();
    if (start == 0 || s.dir.isEmpty()) {
        s.disabled = true;
        FLOG(FLOG_WARN, "no journal of temporary folders: %s",
             "the process start time or the temporary folder is unknown");
        return false;
    }
    s.file_name = QByteArray::number(qlonglong(s.pid)) + '-' + QByteArray::number(start) + kJournalSuffix;
    return true;
}

void removeFileLocked(State& s) {
    const int fd = openJournalDir(s.dir, false);
    if (fd < 0) {
        return;
    }
    unlinkat(fd, s.file_name.constData(), 0);
    close(fd);
    // The folder goes with the last journal; rmdir refuses while another journal is in it.
    rmdir(s.dir.constData());
}

// Rewrites the journal atomically: a reader sees the old or the new list, never a torn one. The
// rename is the moment a change counts for a later clean-up. Nothing is flushed to the disk: a killed
// process's writes survive it in the page cache, and after a power loss the temporary folder is
// usually gone too; a lost journal can only leave folders behind, never name a wrong one. A flush
// would cost milliseconds on every unpack.
void writeLocked(State& s) {
    if (s.disabled || s.closed) {
        return;
    }
    if (s.entries.empty()) {
        removeFileLocked(s);
        return;
    }
    const QByteArray text = encode(s.entries);
    const QByteArray temp = s.file_name + ".tmp";
    // A second try covers another process removing the emptied folder between our open and write.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int dir_fd = openJournalDir(s.dir, true);
        if (dir_fd < 0) {
            if (errno == EPERM) {
                s.disabled = true;
                FLOG(FLOG_WARN, "no journal of temporary folders: %s is not a private folder",
                     s.dir.constData());
                return;
            }
            continue;
        }
        const int fd =
            openat(dir_fd, temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            close(dir_fd);
            continue;
        }
        if (writeAll(fd, text) && renameat(dir_fd, temp.constData(), dir_fd, s.file_name.constData()) == 0) {
            close(fd);
            close(dir_fd);
            return;
        }
        close(fd);
        unlinkat(dir_fd, temp.constData(), 0);
        close(dir_fd);
    }
    FLOG(FLOG_WARN, "can't write the journal %s/%s: %s", s.dir.constData(), s.file_name.constData(),
         std::strerror(errno));
}

// Records an entry; a folder registered again (made anew at the same path) replaces its old identity.
bool addEntry(const Entry& e) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!startLocked(s)) {
        return false;
    }
    bool replaced = false;
    for (Entry& old : s.entries) {
        if (!e.is_prefix && !old.is_prefix && old.path == e.path) {
            old = e;
            replaced = true;
        }
    }
    if (!replaced) {
        s.entries.push_back(e);
    }
    writeLocked(s);
    return !s.disabled;
}

// Ends the journal at normal process end (only in the process that made it, not in a forked child).
struct JournalCloser {
    ~JournalCloser() { WorkspaceJournal::closeProcessJournal(); }
} g_journal_closer;

}  // namespace

bool WorkspaceJournal::registerTree(const QString& path) {
    const QByteArray p = normalised(path);
    if (p.isEmpty()) {
        FLOG(FLOG_WARN, "not journalled, not an absolute path: %s", path.toUtf8().constData());
        return false;
    }
    struct stat st;
    if (lstat(p.constData(), &st) != 0) {
        FLOG(FLOG_WARN, "not journalled, no such path: %s", p.constData());
        return false;
    }
    Entry e;
    e.path = p;
    e.dev = quint64(st.st_dev);
    e.ino = quint64(st.st_ino);
    return addEntry(e);
}

bool WorkspaceJournal::registerPrefix(const QString& dir, const QString& prefix) {
    const QByteArray d = normalised(dir);
    const QByteArray p = QFile::encodeName(prefix);
    if (d.isEmpty() || !isPrefixName(p)) {
        FLOG(FLOG_WARN, "not journalled, not a hidden name prefix: %s/%s", dir.toUtf8().constData(),
             prefix.toUtf8().constData());
        return false;
    }
    Entry e;
    e.is_prefix = true;
    e.path = d;
    e.prefix = p;
    return addEntry(e);
}

void WorkspaceJournal::release(const QString& path) {
    const QByteArray p = normalised(path);
    if (p.isEmpty()) {
        return;
    }
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto before = s.entries.size();
    for (auto it = s.entries.begin(); it != s.entries.end();) {
        it = (!it->is_prefix && it->path == p) ? s.entries.erase(it) : it + 1;
    }
    if (s.entries.size() != before) {
        writeLocked(s);
    }
}

bool WorkspaceJournal::removeRecorded(const QString& path) {
    const QByteArray p = normalised(path);
    if (p.isEmpty()) {
        return false;
    }
    struct stat st;
    if (lstat(p.constData(), &st) != 0) {
        release(path);
        return errno == ENOENT;
    }
    const QByteArray parent = parentOf(p);
    static std::atomic<unsigned> counter{0};
    const QByteArray trash = parent + "/." + nameOf(p) + ".removing-" +
                             QByteArray::number(qlonglong(getpid())) + '-' + QByteArray::number(counter++);
    // The new name is recorded first (same identity), then the folder moves, then the old name is
    // forgotten: at no moment is the folder unrecorded, and the old name is free before removal.
    bool moved = false;
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        const bool recorded = std::any_of(s.entries.begin(), s.entries.end(),
                                          [&p](const Entry& e) { return !e.is_prefix && e.path == p; });
        if (recorded && !s.disabled && !s.closed) {
            Entry e;
            e.path = trash;
            e.dev = quint64(st.st_dev);
            e.ino = quint64(st.st_ino);
            s.entries.push_back(e);
            writeLocked(s);
            moved = rename(p.constData(), trash.constData()) == 0;
            s.entries.erase(
                std::remove_if(s.entries.begin(), s.entries.end(),
                               [&](const Entry& x) { return !x.is_prefix && x.path == (moved ? p : trash); }),
                s.entries.end());
            writeLocked(s);
        }
    }
    const QByteArray target = moved ? trash : p;
    bool ok = false;
    const int fd = open(parent.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ok = removeAt(fd, nameOf(target).constData(), quint64(st.st_dev), 0);
        close(fd);
    }
    if (!ok) {
        FLOG(FLOG_WARN, "can't remove %s", target.constData());
    }
    // The trash name, or the path itself when it was never moved.
    release(QFile::decodeName(target));
    return ok;
}

void WorkspaceJournal::releasePrefix(const QString& dir, const QString& prefix) {
    const QByteArray d = normalised(dir);
    const QByteArray p = QFile::encodeName(prefix);
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (auto it = s.entries.begin(); it != s.entries.end(); ++it) {
        if (it->is_prefix && it->path == d && it->prefix == p) {
            s.entries.erase(it);
            writeLocked(s);
            return;
        }
    }
}

void WorkspaceJournal::closeProcessJournal() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.started || s.disabled || s.closed || s.pid != getpid()) {
        return;
    }
    // No logging here: this also runs among the static destructors, after the log may be gone.
    s.entries.clear();
    removeFileLocked(s);
    s.closed = true;
}

QString WorkspaceJournal::journalDir() {
    return QFile::decodeName(journalDirPath());
}

QString WorkspaceJournal::processJournalPath() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!startLocked(s)) {
        return QString();
    }
    return QFile::decodeName(s.dir + '/' + s.file_name);
}

int WorkspaceJournal::cleanupStale() {
    const long self = long(getpid());
    const quint64 self_start = processStartTime(self);
    if (self_start == 0) {
        FLOG(FLOG_WARN, "no clean-up of temporary folders: %s", "process start times can't be read");
        return 0;
    }
    const QByteArray dir = journalDirPath();
    const int dir_fd = openJournalDir(dir, false);
    if (dir_fd < 0) {
        if (errno == EPERM) {
            FLOG(FLOG_WARN, "no clean-up of temporary folders: %s is not a private folder", dir.constData());
        }
        return 0;
    }
    std::vector<QByteArray> names;
    {
        const int fd = dup(dir_fd);
        DIR* d = fd >= 0 ? fdopendir(fd) : nullptr;
        if (!d && fd >= 0) {
            close(fd);
        }
        while (d) {
            struct dirent* e = readdir(d);
            if (!e) {
                closedir(d);
                break;
            }
            names.emplace_back(e->d_name);
        }
    }
    int removed = 0;
    int journals = 0;
    for (const QByteArray& name : names) {
        long pid = 0;
        quint64 start = 0;
        const bool temp = parseJournalName(name, kTempSuffix, &pid, &start);
        if (!temp && !parseJournalName(name, kJournalSuffix, &pid, &start)) {
            continue;
        }
        const Liveness liveness = livenessOf(pid, start);
        if (liveness == Liveness::Alive) {
            continue;
        }
        QByteArray text;
        if (!readJournal(dir_fd, name.constData(), &text)) {
            FLOG(FLOG_WARN, "left the journal %s/%s alone: not a private regular file", dir.constData(),
                 name.constData());
            continue;
        }
        bool header_ok = false;
        const std::vector<Entry> entries = decode(text, &header_ok);
        // A rewrite the process did not finish (possibly cut off in its first lines); its previous
        // journal is complete.
        const QByteArray head = QByteArray(kHeader) + '\n' + ownerLine() + '\n';
        if (temp && (header_ok || head.startsWith(text))) {
            unlinkat(dir_fd, name.constData(), 0);
            continue;
        }
        if (!header_ok) {
            FLOG(FLOG_WARN, "left the journal %s/%s alone: not a journal of this host and process namespace",
                 dir.constData(), name.constData());
            continue;
        }
        ++journals;
        Cleaner cleaner(pid);
        // Prefixes first: removing a tree frees its name, and a live process could then make the
        // same name and stage an unpack under the same prefix.
        for (const Entry& e : entries) {
            if (!e.is_prefix) {
                continue;
            }
            // A prefix may hold the pid; a new process with that pid may be using it right now.
            if (liveness == Liveness::Gone) {
                cleaner.removePrefixEntries(e.path, e.prefix);
            } else {
                FLOG(FLOG_INFO, "kept %s/%s*: process id %ld is in use again", e.path.constData(),
                     e.prefix.constData(), pid);
            }
        }
        for (const Entry& e : entries) {
            if (!e.is_prefix) {
                cleaner.removeTree(e);
            }
        }
        removed += cleaner.removed();
        unlinkat(dir_fd, name.constData(), 0);
    }
    close(dir_fd);
    // The folder goes when no journal is left in it.
    rmdir(dir.constData());
    FLOG(FLOG_INFO, "clean-up of temporary folders: %d journals of ended processes, %d paths removed",
         journals, removed);
    return removed;
}
