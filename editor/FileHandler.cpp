#define FLOG_SOURCE "editor/FileHandler"
#include "FileHandler.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <JlCompress.h>
#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <random>

#include "FLog.h"
#include "JsonResourceParse.h"
#include "MetaSideDeflate.h"
#include "WorkspaceJournal.h"
#include "supzip.h"

namespace {

// A docId or image name from meta.json names exactly one folder or file inside the package.
bool isPlainName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

// Volumes that only live in memory or belong to the system are no place for output packages.
bool isPseudoVolume(const QStorageInfo& volume) {
    static const QList<QByteArray> kPseudo{
        "tmpfs",   "devtmpfs", "ramfs",   "squashfs",  "proc",        "sysfs",  "devpts",   "cgroup",
        "cgroup2", "mqueue",   "debugfs", "tracefs",   "securityfs",  "pstore", "efivarfs", "autofs",
        "bpf",     "configfs", "fusectl", "hugetlbfs", "binfmt_misc", "nsfs"};
    return kPseudo.contains(volume.fileSystemType());
}

// The package's base name as the start of its workspace's name. A name that fits a file may still be
// too long once the number, the time, "_edit_N" or the unpack staging folder's ".unpack-XXXXXX" are
// added; such a name is cut (on a character boundary) so that all of them fit.
QString fittedBaseName(QString base) {
    constexpr int kMaxBytes = 200;  // 255 bytes per name, less the longest addition
    while (base.toUtf8().size() > kMaxBytes) {
        base.chop(base.size() >= 2 && base.at(base.size() - 1).isLowSurrogate() ? 2 : 1);
    }
    return base;
}

// Whether `path` still names the folder open as `fd`.
bool isSameFolder(int fd, const QString& path) {
    struct stat held;
    struct stat now;
    return fd >= 0 && fstat(fd, &held) == 0 && lstat(QFile::encodeName(path).constData(), &now) == 0 &&
           held.st_dev == now.st_dev && held.st_ino == now.st_ino;
}

}  // namespace

FileHandler::FileHandler(QObject* parent) : QObject(parent) {}

FileHandler::~FileHandler() {
    for (const QString& dir : qAsConst(tmp_dirs)) {
        // Usually the session has removed it already; a folder now at that name is someone else's.
        const int fd = m_tmp_fds.value(dir, -1);
        if (isSameFolder(fd, dir)) {
            WorkspaceJournal::removeRecorded(dir);
        }
        if (fd >= 0) {
            close(fd);
        }
    }
}

void FileHandler::setOwner(std::weak_ptr<DataWrapper> owner_session) {
    owner = std::move(owner_session);
}

void FileHandler::setKeepEncrypt(bool keep) {
    keep_encrypt = keep;
}

std::shared_ptr<_RootItem> FileHandler::decompress(const QString& packagePath) {
    const QStringList temps = QStandardPaths::standardLocations(QStandardPaths::TempLocation);
    if (temps.isEmpty()) {
        FLOG(FLOG_ERROR, "can't found the TempLocation");
        return {};
    }
    const QString base = fittedBaseName(QFileInfo(packagePath).baseName());
    std::mt19937 rng(static_cast<std::mt19937::result_type>(std::time(nullptr)));
    std::uniform_int_distribution<int> dist(0, 10000);
    // Creating the folder reserves the name, so two unpacks never share a workspace, even when both
    // draw from generators seeded in the same second.
    QString workspace;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString candidate = temps.first() + QLatin1Char('/') + base + QString::number(dist(rng)) +
                                  QTime::currentTime().toString(QStringLiteral("_hhmmss/"));
        if (!QFileInfo(candidate).exists() && !QFileInfo(candidate).isSymLink() && QDir().mkdir(candidate)) {
            workspace = candidate;
            break;
        }
    }
    if (workspace.isEmpty()) {
        FLOG(FLOG_ERROR, "can't create a workspace for %s", packagePath.toUtf8().constData());
        return {};
    }
    FLOG(FLOG_INFO, "decompress dirs:%s", workspace.toUtf8().constData());

    // A killed run's workspace and the archive library's staging folder beside it go at the next start.
    WorkspaceJournal::registerTree(workspace);
    const QString unpackPrefix = QLatin1Char('.') + QDir(workspace).dirName() + QStringLiteral(".unpack-");
    WorkspaceJournal::registerPrefix(temps.first(), unpackPrefix);

    if (!(keep_encrypt && encrypted)) {
        encrypted = IsEncryptSource(packagePath.toLocal8Bit().constData()) != 0;
    }

    // The archive library moves what it unpacked into this very folder, so the journal's record of
    // it stays true.
    const int unpacked = DecompressZipDec(packagePath.toUtf8().constData(), workspace.toUtf8().constData());
    WorkspaceJournal::releasePrefix(temps.first(), unpackPrefix);
    if (unpacked != 0) {
        FLOG(FLOG_ERROR, "can't decompress : %s", packagePath.toUtf8().constData());
        WorkspaceJournal::removeRecorded(workspace);
        return {};
    }

    std::shared_ptr<_RootItem> root = JsonResourceParse::parseFile(workspace + QStringLiteral("meta.json"));
    if (!root) {
        WorkspaceJournal::removeRecorded(workspace);
        return {};
    }
    const QString editDir = makeEditDir(workspace);
    if (editDir.isEmpty()) {
        WorkspaceJournal::removeRecorded(workspace);
        return {};
    }
    root->meta_path = workspace + QStringLiteral("meta.json");
    root->video_path = workspace + QStringLiteral("c.mp4");
    if (!QFileInfo::exists(root->video_path)) {
        root->video_path = workspace + QStringLiteral("c");
    }
    root->tmp_path = workspace;
    root->tmp_edit_path = editDir + QLatin1Char('/');
    tmp_dirs.append(workspace);
    m_tmp_fds.insert(workspace, open(QFile::encodeName(workspace).constData(),
                                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return root;
}

QString FileHandler::makeEditDir(const QString& workspace) {
    QString base = QFileInfo(workspace).absoluteFilePath();
    while (base.size() > 1 && base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    for (int n = 0; n < 100000; ++n) {
        const QString candidate = base + QStringLiteral("_edit_") + QString::number(n);
        const QFileInfo info(candidate);
        if (info.exists() || info.isSymLink()) {
            continue;
        }
        // mkdir fails when the name was taken meanwhile; then the next number is tried.
        if (QDir().mkdir(candidate)) {
            WorkspaceJournal::registerTree(candidate);
            FLOG(FLOG_ERROR, "make dir:%s", candidate.toUtf8().constData());
            return candidate;
        }
        if (!QFileInfo(candidate).exists()) {
            FLOG(FLOG_ERROR, "can't make dir:%s", candidate.toUtf8().constData());
            return QString();
        }
    }
    FLOG(FLOG_ERROR, "can't make dir:%s", base.toUtf8().constData());
    return QString();
}

qint16 FileHandler::copyPageImages(std::shared_ptr<_RootItem> root) {
    if (!root) {
        FLOG(FLOG_ERROR, "root_item save as zip file is fail. because root_item is empty!");
        return -1;
    }
    if (root->tmp_edit_path.isEmpty()) {
        FLOG(FLOG_ERROR, "root_item save as zip file is fail. because tmp_edit_path is empty!");
        return -2;
    }
    if (!root->datas || !root->datas->meta_item) {
        return 0;
    }
    const auto pages = root->datas->meta_item->pageChange;
    for (const std::shared_ptr<_PageChangeItem>& page : pages) {
        if (!page || !owner.lock()) {
            continue;
        }
        const QString name = page->url.section(QLatin1Char('/'), -1);
        // docId and url come from the package: never let them name a path outside the image folders.
        if (!isPlainName(page->docId) || !isPlainName(name)) {
            if (page->url != QLatin1String("#")) {
                FLOG(FLOG_WARN, "skipped page image \"%s\" of document \"%s\"", name.toUtf8().constData(),
                     page->docId.toUtf8().constData());
            }
            continue;
        }
        const QString rel = QStringLiteral("image/") + page->docId + QLatin1Char('/');
        QDir().mkpath(root->tmp_edit_path + rel);
        QFile::copy(root->tmp_path + rel + name, root->tmp_edit_path + rel + name);
    }
    return 0;
}

namespace {

// Media inside a package is already compressed: storing it packs at disk speed, while deflating it
// costs most of a cut's time for a gain of a few bytes.
bool isStoredEntry(const QString& name) {
    const QString suffix = QFileInfo(name).suffix().toLower();
    return suffix == QLatin1String("mp4") || suffix == QLatin1String("jpg") ||
           suffix == QLatin1String("jpeg") || suffix == QLatin1String("png") || name == QLatin1String("c");
}

bool addDirEntry(QuaZip& zip, const QFileInfo& entry, const QString& name) {
    QuaZipFile dirEntry(&zip);
    if (!dirEntry.open(QIODevice::WriteOnly, QuaZipNewInfo(name + QLatin1Char('/'), entry.filePath()),
                       nullptr, 0, 0, 0)) {
        return false;
    }
    dirEntry.close();
    return dirEntry.getZipError() == 0;
}

bool addFileEntry(QuaZip& zip, const QFileInfo& entry, const QString& name) {
    QFile in(entry.filePath());
    if (!in.open(QIODevice::ReadOnly)) {
        return false;
    }
    const bool store = isStoredEntry(name);
    // Zip64 headers only where the 32-bit fields cannot hold the entry; small entries keep the
    // classic layout that every reader accepts.
    zip.setZip64Enabled(entry.size() >= qint64(0x7fffffff));
    QuaZipFile out(&zip);
    if (!out.open(QIODevice::WriteOnly, QuaZipNewInfo(name, entry.filePath()), nullptr, 0,
                  store ? 0 : Z_DEFLATED, store ? 0 : Z_DEFAULT_COMPRESSION)) {
        return false;
    }
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        if (out.write(buffer.constData(), n) != n) {
            return false;
        }
    }
    out.close();
    return out.getZipError() == 0;
}

enum class SideEntry { Added, Failed, NotUsable };

// Adds meta.json from the stream deflated beside its writing, with the header fields the packer's
// own deflate would give it. NotUsable (nothing added) when the stream failed or is not that file's.
SideEntry addSideDeflated(QuaZip& zip, const QFileInfo& entry, const QString& name, MetaSideDeflate& side) {
    if (!side.finish()) {
        return SideEntry::NotUsable;  // logged by the side path
    }
    if (side.rawSize() != entry.size()) {
        FLOG(FLOG_WARN,
             "meta.json deflated beside its writing has %lld bytes, the file %lld; deflating it again",
             static_cast<long long>(side.rawSize()), static_cast<long long>(entry.size()));
        return SideEntry::NotUsable;
    }
    zip.setZip64Enabled(entry.size() >= qint64(0x7fffffff));
    QuaZipNewInfo info(name, entry.filePath());
    info.uncompressedSize = quint64(side.rawSize());
    // The packer's deflate marks text in the internal attributes; a raw entry keeps what it is given.
    info.internalAttr = side.isText() ? 1 : 0;
    QuaZipFile out(&zip);
    if (!out.open(QIODevice::WriteOnly, info, nullptr, side.crc(), Z_DEFLATED, Z_DEFAULT_COMPRESSION, true) ||
        !side.copyTo(&out)) {
        return SideEntry::Failed;
    }
    out.close();
    if (out.getZipError() != 0) {
        return SideEntry::Failed;
    }
    FLOG(FLOG_DEBUG, "meta.json added as deflated beside its writing: %lld bytes",
         static_cast<long long>(side.deflatedSize()));
    return SideEntry::Added;
}

// `side`, when given, holds the deflated meta.json of the folder's top level.
bool addPlainEntries(QuaZip& zip, const QString& dirPath, const QString& prefix, MetaSideDeflate* side) {
    const QDir dir(dirPath);
    // Hidden entries and links stay out, as with the toolkit's own directory packing.
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        const QString name = prefix + entry.fileName();
        if (entry.isDir()) {
            if (!addDirEntry(zip, entry, name) ||
                !addPlainEntries(zip, entry.filePath(), name + QLatin1Char('/'), nullptr)) {
                return false;
            }
            continue;
        }
        if (side && name == QLatin1String("meta.json")) {
            const SideEntry added = addSideDeflated(zip, entry, name, *side);
            if (added == SideEntry::Failed) {
                return false;
            }
            if (added == SideEntry::Added) {
                continue;
            }
        }
        if (!addFileEntry(zip, entry, name)) {
            return false;
        }
    }
    return true;
}

// Packs a directory's content into a plain zip (entries relative to the directory).
bool packPlainDir(const QString& zipPath, const QString& dirPath, MetaSideDeflate* side) {
    if (!QFileInfo(dirPath).isDir()) {
        return false;
    }
    QuaZip zip(zipPath);
    if (!zip.open(QuaZip::mdCreate)) {
        return false;
    }
    const bool ok = addPlainEntries(zip, dirPath, QString(), side);
    zip.close();
    if (!ok || zip.getZipError() != 0) {
        QFile::remove(zipPath);
        return false;
    }
    return true;
}

bool isSameDir(const QString& a, const QString& b) {
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) ==
           QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

}  // namespace

std::function<void(int, qint64)> FileHandler::deflateMetaWhileWriting(const QString& editDir) {
    m_meta_deflate.reset();
    if (encrypted) {
        return {};
    }
    auto side = std::make_shared<MetaSideDeflate>(editDir);
    if (side->failed()) {
        return {};
    }
    m_meta_deflate = side;
    return [side](int file, qint64 size) { side->written(file, size); };
}

void FileHandler::dropMetaDeflate() {
    m_meta_deflate.reset();
}

qint16 FileHandler::compress(std::shared_ptr<_RootItem> root, const QString& outPath) {
    // A side stream serves this one packing at most; it goes (with its file) when packing ends.
    const std::shared_ptr<MetaSideDeflate> side = std::move(m_meta_deflate);
    m_meta_deflate.reset();
    if (copyPageImages(root) < 0) {
        FLOG(FLOG_ERROR, "copy file to temp dir is fail.");
        return -1;
    }
    FLOG(FLOG_INFO, "[%s] compress dirs:%s", outPath.toUtf8().constData(),
         root->tmp_edit_path.toUtf8().constData());

    // The package is built in a private folder beside the output and renamed into place only when
    // complete, so a failed pack never leaves a partial file at the output path.
    const QFileInfo outInfo(outPath);
    const QString outDir = outInfo.absolutePath();
    QDir().mkpath(outDir);
    // A short fixed name: the output's own name may already use all the bytes a name may have.
    QTemporaryDir staging(outDir + QStringLiteral("/.vrk-pack-XXXXXX"));
    if (!staging.isValid()) {
        FLOG(FLOG_ERROR, "compress root_item to zip is fail.");
        return -2;
    }
    // Declared after the folder, so released before the folder is removed.
    const WorkspaceJournal::ScopedTree stagingEntry(staging.path());
    const QString tmpPackage = staging.path() + QStringLiteral("/package.vrk");

    if (!encrypted) {
        MetaSideDeflate* ready = side && isSameDir(side->dir(), root->tmp_edit_path) ? side.get() : nullptr;
        if (!packPlainDir(tmpPackage, root->tmp_edit_path, ready)) {
            FLOG(FLOG_ERROR, "compress root_item to zip is fail.");
            return -2;
        }
    } else {
        QDir edit(root->tmp_edit_path);
        if (!edit.exists()) {
            return -2;
        }
        const QFileInfoList entries = edit.entryInfoList(
            QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Unsorted);
        for (const QFileInfo& entry : entries) {
            const QString path = root->tmp_edit_path + entry.fileName();
            FLOG(FLOG_INFO, "-->add: %s", path.toUtf8().constData());
            if (CompressToZipEnc(tmpPackage.toUtf8().constData(), path.toUtf8().constData(), 1) != 0) {
                FLOG(FLOG_ERROR, "compress root_item to zip is fail.");
                return -2;
            }
        }
    }
    const QString placed = placeWithoutReplacing(tmpPackage, outPath);
    if (placed.isEmpty()) {
        FLOG(FLOG_ERROR, "compress root_item to zip is fail.");
        return -2;
    }
    m_packed_path = placed;
    encrypted = false;
    return 0;
}

bool FileHandler::removeDir(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    const QFileInfo self(path);
    if (self.isSymLink()) {
        // A link is removed as a link; its target is never entered.
        return QFile::remove(self.absoluteFilePath());
    }
    if (!self.exists()) {
        return true;
    }
    QDir dir(path);
    // Hidden entries are included so that a workspace holding dot files is not left behind.
    const QFileInfoList entries = dir.entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink() || !entry.isDir()) {
            QFile::remove(entry.absoluteFilePath());
        } else {
            removeDir(entry.absoluteFilePath());
        }
    }
    return dir.rmdir(dir.absolutePath());
}

namespace {

// The numbering rule of output names: the path itself when free, else the base name followed by
// 1, 2, 3, ... and ".vrk".
QString firstFreeName(const QString& path, const std::function<bool(const QString&)>& taken) {
    if (!taken(path)) {
        return path;
    }
    const QFileInfo info(path);
    QString dir = info.absolutePath();
    if (!dir.endsWith(QLatin1Char('/'))) {
        dir += QLatin1Char('/');
    }
    const QString base = info.baseName();
    for (quint64 n = 1;; ++n) {
        const QString candidate = dir + base + QString::number(n) + QStringLiteral(".vrk");
        if (!taken(candidate)) {
            return candidate;
        }
    }
}

bool existsAt(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Output names chosen by running tasks of this process that have no file yet.
struct OutputReservations {
    std::mutex mutex;
    QSet<QString> names;
};

OutputReservations& reservations() {
    static OutputReservations* r = new OutputReservations;  // never destroyed: workers may outlive statics
    return *r;
}

QString reservationKey(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Moves `from` to `to` unless something exists at `to`; 0 or the errno of the failure.
int moveNoReplace(const QString& from, const QString& to) {
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
    if (renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return errno;
    }
    // File systems without the no-replace rename: a hard link fails as well when the name is taken.
    if (link(src.constData(), dst.constData()) != 0) {
        return errno;
    }
    unlink(src.constData());
    return 0;
}

}  // namespace

QString FileHandler::uniqueFilePath(const QString& path) {
    return firstFreeName(path, existsAt);
}

QString FileHandler::reserveOutputPath(const QString& path) {
    OutputReservations& r = reservations();
    std::lock_guard<std::mutex> lock(r.mutex);
    const QString chosen = firstFreeName(
        path, [&r](const QString& p) { return existsAt(p) || r.names.contains(reservationKey(p)); });
    r.names.insert(reservationKey(chosen));
    return chosen;
}

void FileHandler::releaseOutputPath(const QString& path) {
    if (path.isEmpty()) {
        return;
    }
    OutputReservations& r = reservations();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.names.remove(reservationKey(path));
}

// Puts the finished package at `target`, or at the next free name when a file appeared there
// meanwhile (another program, or a task of another process); empty when it cannot be placed.
QString FileHandler::placeWithoutReplacing(const QString& package, const QString& target) {
    QString candidate = target;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int error = moveNoReplace(package, candidate);
        if (candidate != target) {
            releaseOutputPath(candidate);  // placed or taken: either way no longer ours to hold
        }
        if (error == 0) {
            return candidate;
        }
        if (error != EEXIST) {
            FLOG(FLOG_ERROR, "can't move the package to %s: %s", candidate.toUtf8().constData(),
                 strerror(error));
            return QString();
        }
        candidate = reserveOutputPath(target);
        FLOG(FLOG_WARN, "output name taken meanwhile, packing to %s instead", candidate.toUtf8().constData());
    }
    return QString();
}

QString FileHandler::defaultOutputDir() {
    const QString home = QDir::homePath();
    const QStorageInfo homeVolume(home);
    QString best;
    quint64 bestMB = 0;
    const QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
    for (const QStorageInfo& volume : volumes) {
        if (!volume.isValid() || !volume.isReady() || volume.isReadOnly() || isPseudoVolume(volume)) {
            continue;
        }
        // The home volume is represented by the home directory: its root is rarely writable.
        QString root = volume.rootPath();
        if (homeVolume.isValid() && volume.rootPath() == homeVolume.rootPath()) {
            root = home;
        }
        const QFileInfo rootInfo(root);
        if (!rootInfo.isDir() || !rootInfo.isWritable()) {
            continue;
        }
        const quint64 mb = freeSpaceMB(root);
        if (mb > bestMB) {
            bestMB = mb;
            best = root;
        }
    }
    if (best.isEmpty()) {
        return QStringLiteral("Tavrel/");
    }
    if (!best.endsWith(QLatin1Char('/'))) {
        best += QLatin1Char('/');
    }
    return best + QStringLiteral("Tavrel/");
}

quint64 FileHandler::freeSpaceMB(const QString& drive) {
    const QStorageInfo info(drive);
    if (!info.isValid() || !info.isReady() || info.bytesFree() < 0) {
        return 0;
    }
    return quint64(info.bytesFree()) / 1024 / 1024;
}
