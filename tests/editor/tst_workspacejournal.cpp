// The journal of temporary folders: a run killed with SIGKILL leaves its workspaces, edit folders,
// staging folders and temporary files behind, and the next start removes exactly those, never a
// look-alike, a path re-created since, a link target, another live process's folders or anything a
// journal that cannot be trusted names.
//
// The killed runs are this executable itself in a helper mode (WORKSPACE_JOURNAL_HELPER set), which
// creates and records what its arguments say and then waits to be killed or ends normally.
#include <QtTest>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "FileHandler.h"
#include "TestSupport.h"
#include "WorkspaceJournal.h"

namespace {

QString g_base;  // private folder of this run; TMPDIR is its "tmp"

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Whether something (also a dangling link) is at the path.
bool present(const QString& path) {
    struct stat st;
    return lstat(QFile::encodeName(path).constData(), &st) == 0;
}

quint64 inodeOf(const QString& path) {
    struct stat st;
    return lstat(QFile::encodeName(path).constData(), &st) == 0 ? quint64(st.st_ino) : 0;
}

// Every path below `dir` (relative), with file contents, links shown as their targets.
QMap<QString, QByteArray> tree(const QString& dir) {
    QMap<QString, QByteArray> out;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo fi = it.fileInfo();
        const QString rel = QDir(dir).relativeFilePath(path);
        if (fi.isSymLink()) {
            out.insert(rel, "-> " + QFile::encodeName(fi.symLinkTarget()));
        } else if (fi.isDir()) {
            out.insert(rel, "dir");
        } else {
            out.insert(rel, readFile(path));
        }
    }
    return out;
}

// The helper mode: arguments come in triples "op path extra".
//   dir P -      create folder P and record it
//   link P T     create link P to T and record it
//   prefix D N   record the prefix N in folder D
//   pidprefix D N  record the prefix "." N "." pid "." in folder D
//   release P -  forget P
//   unpack K O   unpack package K with a FileHandler (kept to the end); unless O is "-", copy the video
//                and meta.json into the edit folder and pack it into O
// Prints "ready <pid> <journal>" and then waits to be killed ("kill") or returns ("exit").
int runHelper(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QStringList results;
    std::vector<std::unique_ptr<FileHandler>> handlers;
    for (int i = 0; i + 2 < args.size(); i += 3) {
        const QString op = args.at(i);
        const QString path = args.at(i + 1);
        const QString extra = args.at(i + 2);
        bool ok = false;
        if (op == "dir") {
            ok = QDir().mkdir(path) && WorkspaceJournal::registerTree(path);
        } else if (op == "link") {
            ok = QFile::link(extra, path) && WorkspaceJournal::registerTree(path);
        } else if (op == "prefix") {
            ok = WorkspaceJournal::registerPrefix(path, extra);
        } else if (op == "pidprefix") {
            ok = WorkspaceJournal::registerPrefix(path, QStringLiteral(".%1.%2.").arg(extra).arg(getpid()));
        } else if (op == "release") {
            WorkspaceJournal::release(path);
            ok = true;
        } else if (op == "unpack") {
            handlers.push_back(std::make_unique<FileHandler>());
            const std::shared_ptr<_RootItem> root = handlers.back()->decompress(path);
            ok = root != nullptr;
            if (ok && extra != "-") {
                ok = QFile::copy(root->video_path, root->tmp_edit_path + "c.mp4") &&
                     QFile::copy(root->meta_path, root->tmp_edit_path + "meta.json") &&
                     handlers.back()->compress(root, extra) == 0;
            }
        }
        results << (ok ? "1" : "0");
    }
    std::printf("ready %d %s %s\n", int(getpid()), qPrintable(WorkspaceJournal::processJournalPath()),
                qPrintable(results.join("")));
    std::fflush(stdout);
    if (qgetenv("WORKSPACE_JOURNAL_HELPER") == "kill") {
        for (;;) {
            pause();
        }
    }
    return 0;
}

struct HelperRun {
    qint64 pid = 0;
    QString journal;
    QString results;  // one 0/1 per operation
};

// Runs the helper; with `kill` it is killed with SIGKILL once it has recorded everything.
HelperRun runHelperProcess(const QStringList& ops, bool kill) {
    HelperRun run;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("WORKSPACE_JOURNAL_HELPER", kill ? "kill" : "exit");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(), ops);
    if (!p.waitForStarted(10000)) {
        return run;
    }
    // Log lines share the output: the report is the line that starts with "ready ".
    QByteArray out;
    QByteArray line;
    while (line.isEmpty() && p.waitForReadyRead(30000)) {
        out += p.readAllStandardOutput();
        for (const QByteArray& l : out.split('\n')) {
            if (l.startsWith("ready ") && out.contains(l + '\n')) {
                line = l;
            }
        }
    }
    const QList<QByteArray> f = line.trimmed().split(' ');
    if (kill) {
        p.kill();
    }
    p.waitForFinished(30000);
    if (f.size() >= 3 && f.at(0) == "ready") {
        run.pid = f.at(1).toLongLong();
        run.journal = QString::fromUtf8(f.at(2));
        run.results = f.size() >= 4 ? QString::fromUtf8(f.at(3)) : QString();
    }
    return run;
}

}  // namespace

class TestWorkspaceJournal : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void killedRunsLeftoversRemovedExactly();
    void reusedProcessIdKeepsPrefixes();
    void recordingAndNormalEnd();
    void untrustedJournalFolderIsNotUsed();
    void packageFoldersAreRecorded();

private:
    QString m_tmp;     // the temporary location
    QString m_out;     // an output folder
    QString m_canary;  // a folder that links point at; it must survive everything
    QString m_jdir;
};

void TestWorkspaceJournal::initTestCase() {
    m_tmp = g_base + "/tmp";
    m_out = g_base + "/out";
    m_canary = g_base + "/canary";
    QCOMPARE(QStandardPaths::standardLocations(QStandardPaths::TempLocation).value(0), m_tmp);
    QVERIFY(QDir().mkpath(m_out) && QDir().mkpath(m_canary + "/inner"));
    QVERIFY(writeFile(m_canary + "/inner/precious.txt", "keep"));
    m_jdir = WorkspaceJournal::journalDir();
    QCOMPARE(m_jdir, m_tmp + "/.playback-edit-tool-" + QString::number(getuid()));
}

void TestWorkspaceJournal::cleanup() {
    // Each case starts from empty folders (the canary stays).
    for (const QString& dir : {m_tmp, m_out}) {
        for (const QFileInfo& fi :
             QDir(dir).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
            if (fi.isDir() && !fi.isSymLink()) {
                QFile::setPermissions(fi.absoluteFilePath(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
                QDir(fi.absoluteFilePath()).removeRecursively();
            } else {
                QFile::remove(fi.absoluteFilePath());
            }
        }
    }
    QCOMPARE(tree(m_canary).value("inner/precious.txt"), QByteArray("keep"));
}

void TestWorkspaceJournal::killedRunsLeftoversRemovedExactly() {
    const QString ws = m_tmp + "/lesson4817_142305";
    const QString edit = ws + "_edit_0";
    const QString pack = m_out + "/.out.vrk.pack-Xy12Zq";
    const QString reborn = m_tmp + "/reborn1_000001";
    const QString swapped = m_tmp + "/swapped2_000002";
    const QString linkws = m_tmp + "/linked3_000003";
    const QString released = m_tmp + "/released4_000004";
    const HelperRun killed =
        runHelperProcess({"dir",       ws,       "-",       "prefix",  m_tmp,    ".lesson4817_142305.unpack-",
                          "dir",       edit,     "-",       "dir",     pack,     "-",
                          "pidprefix", m_out,    "out.mp4", "dir",     reborn,   "-",
                          "dir",       swapped,  "-",       "link",    linkws,   m_canary,
                          "dir",       released, "-",       "release", released, "-"},
                         true);
    QVERIFY(killed.pid > 0);
    QCOMPARE(killed.results, QString("1111111111"));
    QVERIFY(QFileInfo(killed.journal).isFile());
    QCOMPARE(QFileInfo(killed.journal).fileName().section('-', 0, 0), QString::number(killed.pid));
    QVERIFY(!QFileInfo::exists("/proc/" + QString::number(killed.pid)));

    // What the killed run had written meanwhile: content of its folders (with a link out of the
    // workspace), the archive library's staging folder and the recorder's temporary file.
    QVERIFY(QDir().mkpath(ws + "/image/doc1") && writeFile(ws + "/image/doc1/1.jpg", "jpg"));
    QVERIFY(writeFile(ws + "/.hidden", "x") && writeFile(ws + "/c.mp4", "video"));
    QVERIFY(QFile::link(m_canary, ws + "/escape"));
    QVERIFY(QFile::link(m_canary + "/inner/precious.txt", edit + "/precious-link"));
    QVERIFY(QDir().mkpath(m_tmp + "/.lesson4817_142305.unpack-AbC123/image"));
    QVERIFY(writeFile(m_tmp + "/.lesson4817_142305.unpack-AbC123/meta.json", "{}"));
    QVERIFY(writeFile(pack + "/package.vrk", "zip"));
    const QString part = m_out + QString("/.out.mp4.%1.0.4711.part").arg(killed.pid);
    QVERIFY(writeFile(part, "mp4"));

    // A folder re-created at a recorded path (a new inode, made while the old one still exists),
    // and a recorded folder replaced by a link to the canary.
    QVERIFY(QDir().rename(reborn, reborn + "-old") && QDir().mkdir(reborn) && QDir().rmdir(reborn + "-old"));
    QVERIFY(writeFile(reborn + "/someone-elses.txt", "keep"));
    QVERIFY(QDir().rename(swapped, swapped + "-old") && QFile::link(m_canary, swapped) &&
            QDir().rmdir(swapped + "-old"));

    // Look-alikes of a workspace, its staging folder and the recorder's files that nobody recorded;
    // temporary files of a live process (this one) and of a longer process id.
    QVERIFY(QDir().mkpath(m_tmp + "/lesson9999_101010/image") &&
            writeFile(m_tmp + "/lesson9999_101010/c.mp4", "v"));
    QVERIFY(QDir().mkpath(m_tmp + "/.lesson9999_101010.unpack-zzz"));
    QVERIFY(QDir().mkpath(m_tmp + "/lesson4817_142305_edit_1"));
    QVERIFY(writeFile(m_out + QString("/.out.mp4.%1.0.1.part").arg(getpid()), "live"));
    QVERIFY(writeFile(m_out + "/.out.mp4." + QString::number(killed.pid) + "7.0.1.part", "other"));
    QVERIFY(writeFile(m_out + "/out.mp4", "done") && writeFile(m_out + "/.out.vrk.pack-other", "x"));

    // A live process's journal (this process's own) and its folder.
    const QString live = m_tmp + "/live5_000005";
    QVERIFY(QDir().mkdir(live) && WorkspaceJournal::registerTree(live));
    const QString ownJournal = WorkspaceJournal::processJournalPath();
    QVERIFY(QFileInfo(ownJournal).isFile());

    // A journal that is a link: a killed run's real journal moved out of the folder and linked back.
    const QString victim = m_tmp + "/victim6_000006";
    const HelperRun linked = runHelperProcess({"dir", victim, "-"}, true);
    QCOMPARE(linked.results, QString("1"));
    const QString moved = g_base + "/moved.journal";
    QVERIFY(QFile::rename(linked.journal, moved) && QFile::link(moved, linked.journal));

    const QMap<QString, QByteArray> before = tree(g_base);
    const int removed = WorkspaceJournal::cleanupStale();
    const QMap<QString, QByteArray> after = tree(g_base);

    // Exactly the killed run's leftovers went: everything else is unchanged.
    QStringList gone;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (!after.contains(it.key())) {
            gone << it.key();
        } else {
            QVERIFY2(after.value(it.key()) == it.value(), qPrintable("changed: " + it.key()));
        }
    }
    QVERIFY2(after.size() + gone.size() == before.size(), "something appeared");
    const QString tmpRel = QDir(g_base).relativeFilePath(m_tmp);
    const QString jRel = QDir(g_base).relativeFilePath(m_jdir);
    const QStringList topGone = [&] {
        QStringList top;
        for (const QString& g : gone) {
            const QStringList parts = g.split('/');
            const QString t = parts.mid(0, 2).join('/');
            if (!top.contains(t)) {
                top << t;
            }
        }
        std::sort(top.begin(), top.end());
        return top;
    }();
    QStringList expected{tmpRel + "/lesson4817_142305",
                         tmpRel + "/lesson4817_142305_edit_0",
                         tmpRel + "/.lesson4817_142305.unpack-AbC123",
                         tmpRel + "/linked3_000003",
                         "out/.out.vrk.pack-Xy12Zq",
                         QString("out/.out.mp4.%1.0.4711.part").arg(killed.pid)};
    std::sort(expected.begin(), expected.end());
    // In the journal folder only the killed run's journal went.
    const QString killedJournalRel = QDir(g_base).relativeFilePath(killed.journal);
    QVERIFY(gone.contains(killedJournalRel));
    QStringList topWithoutJournal = topGone;
    topWithoutJournal.removeAll(jRel);
    QCOMPARE(topWithoutJournal, expected);
    QCOMPARE(removed, 6);

    QCOMPARE(inodeOf(reborn) != 0, true);
    QCOMPARE(readFile(reborn + "/someone-elses.txt"), QByteArray("keep"));
    QVERIFY(QFileInfo(swapped).isSymLink());
    QVERIFY(QFileInfo(released).isDir());
    QVERIFY(QFileInfo(victim).isDir());
    QVERIFY(QFileInfo(linked.journal).isSymLink() && QFileInfo(moved).isFile());
    QVERIFY(QFileInfo(live).isDir() && QFileInfo(ownJournal).isFile());

    // A second start finds nothing more to remove.
    QCOMPARE(WorkspaceJournal::cleanupStale(), 0);
    QVERIFY(QFileInfo(victim).isDir());

    // This process's journal goes with its last recording.
    WorkspaceJournal::release(live);
    QVERIFY(!present(ownJournal));
    QFile::remove(linked.journal);
}

void TestWorkspaceJournal::reusedProcessIdKeepsPrefixes() {
    // A journal whose process id now belongs to another process (here: this one, with a different
    // start time): its folders still go (they are checked by identity), but names under a prefix
    // may be the new process's own and stay.
    const QString ws = m_tmp + "/reuse7_000007";
    const HelperRun killed = runHelperProcess({"dir", ws, "-", "pidprefix", m_out, "out.mp4"}, true);
    QCOMPARE(killed.results, QString("11"));
    const QString staging = m_tmp + "/.reuse7_000007.unpack-q1w2e3";
    QVERIFY(QDir().mkdir(staging));
    const QString part = m_out + QString("/.out.mp4.%1.0.9.part").arg(killed.pid);
    QVERIFY(writeFile(part, "mp4"));

    const QString live = m_tmp + "/live8_000008";
    QVERIFY(QDir().mkdir(live) && WorkspaceJournal::registerTree(live));
    const QString own = QFileInfo(WorkspaceJournal::processJournalPath()).fileName();
    const QStringList stem = own.section('.', 0, 0).split('-');
    QCOMPARE(stem.value(0), QString::number(getpid()));
    const QString reused =
        m_jdir + QString("/%1-%2.journal").arg(getpid()).arg(stem.value(1).toULongLong() + 1);
    QVERIFY(QFile::rename(killed.journal, reused));

    QCOMPARE(WorkspaceJournal::cleanupStale(), 2);
    QVERIFY(!present(ws) && !present(staging));
    QCOMPARE(readFile(part), QByteArray("mp4"));
    QVERIFY(!present(reused));
    QVERIFY(QFileInfo(live).isDir());
    WorkspaceJournal::release(live);
}

void TestWorkspaceJournal::recordingAndNormalEnd() {
    // Refused recordings: relative or missing paths, prefixes that are not hidden names of their own.
    QVERIFY(!WorkspaceJournal::registerTree(QString()));
    QVERIFY(!WorkspaceJournal::registerTree(m_tmp + "/does-not-exist"));
    QVERIFY(!WorkspaceJournal::registerPrefix(m_out, "out.mp4."));
    QVERIFY(!WorkspaceJournal::registerPrefix(m_out, "."));
    QVERIFY(!WorkspaceJournal::registerPrefix(m_out, ".."));
    QVERIFY(!WorkspaceJournal::registerPrefix(m_out, "./x"));
    QVERIFY(!WorkspaceJournal::registerPrefix(QString(), ".out.mp4."));
    QVERIFY(!present(WorkspaceJournal::processJournalPath()));

    // The journal holds what is recorded: every change is on disk at once, the last release removes
    // it, and a prefix recorded twice stays until released twice.
    const QString a = m_tmp + "/rec9_000009";
    QVERIFY(QDir().mkdir(a));
    QVERIFY(WorkspaceJournal::registerTree(a));
    QVERIFY(WorkspaceJournal::registerPrefix(m_out, ".a.mp4.1."));
    QVERIFY(WorkspaceJournal::registerPrefix(m_out, ".a.mp4.1."));
    const QString journal = WorkspaceJournal::processJournalPath();
    QVERIFY(readFile(journal).contains("rec9_000009"));
    QVERIFY((QFileInfo(journal).permissions() & (QFile::ReadOther | QFile::WriteOther | QFile::WriteGroup)) ==
            0);
    WorkspaceJournal::release(a + "/");
    QVERIFY(!readFile(journal).contains("rec9_000009"));
    WorkspaceJournal::releasePrefix(m_out, ".a.mp4.1.");
    QVERIFY(present(journal));
    WorkspaceJournal::releasePrefix(m_out, ".a.mp4.1.");
    QVERIFY(!present(journal));
    QVERIFY(!present(m_jdir));

    // Removing a recorded folder: it goes with its content (a link inside is removed as a link),
    // nothing is left beside it and the journal forgets it; an unrecorded one is removed the same way.
    const QString c = m_tmp + "/rm14_000014";
    QVERIFY(QDir().mkpath(c + "/sub") && writeFile(c + "/sub/x.bin", "x"));
    QVERIFY(QFile::link(m_canary, c + "/canary-link"));
    QVERIFY(WorkspaceJournal::registerTree(c));
    QVERIFY(readFile(WorkspaceJournal::processJournalPath()).contains("rm14_000014"));
    QVERIFY(WorkspaceJournal::removeRecorded(c + "/"));
    QVERIFY(!present(c));
    QCOMPARE(tree(m_canary).value("inner/precious.txt"), QByteArray("keep"));
    QVERIFY(!present(WorkspaceJournal::processJournalPath()));
    QVERIFY(QDir(m_tmp).entryList(QStringList{"*rm14*"}, QDir::AllEntries | QDir::Hidden).isEmpty());
    const QString d = m_tmp + "/rm15_000015";
    QVERIFY(QDir().mkpath(d + "/sub"));
    QVERIFY(WorkspaceJournal::removeRecorded(d));
    QVERIFY(!present(d));
    QVERIFY(WorkspaceJournal::removeRecorded(d));  // nothing there: nothing to do

    // A run that ends normally with recordings left leaves no journal, and its folders are not
    // touched by the next start.
    const QString b = m_tmp + "/normal10_000010";
    const HelperRun normal = runHelperProcess({"dir", b, "-", "prefix", m_out, ".b.mp4."}, false);
    QCOMPARE(normal.results, QString("11"));
    QVERIFY(!normal.journal.isEmpty());
    QVERIFY(!present(normal.journal));
    QCOMPARE(WorkspaceJournal::cleanupStale(), 0);
    QVERIFY(QFileInfo(b).isDir());
}

void TestWorkspaceJournal::untrustedJournalFolderIsNotUsed() {
    const QString ws = m_tmp + "/trust11_000011";
    const HelperRun killed = runHelperProcess({"dir", ws, "-"}, true);
    QCOMPARE(killed.results, QString("1"));

    // Writable by others: neither read nor written.
    QVERIFY(chmod(QFile::encodeName(m_jdir).constData(), 0777) == 0);
    QCOMPARE(WorkspaceJournal::cleanupStale(), 0);
    QVERIFY(QFileInfo(ws).isDir() && present(killed.journal));
    const QString other = m_tmp + "/trust12_000012";
    HelperRun refused = runHelperProcess({"dir", other, "-"}, true);
    QCOMPARE(refused.results, QString("0"));
    QVERIFY(QFileInfo(other).isDir());
    QCOMPARE(QDir(m_jdir).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // A link in place of the folder: not followed, even to a private folder of ours.
    QVERIFY(chmod(QFile::encodeName(m_jdir).constData(), 0700) == 0);
    const QString real = g_base + "/real-journal-dir";
    QVERIFY(QDir().rename(m_jdir, real) && QFile::link(real, m_jdir));
    QCOMPARE(WorkspaceJournal::cleanupStale(), 0);
    QVERIFY(QFileInfo(ws).isDir());
    refused = runHelperProcess({"dir", m_tmp + "/trust13_000013", "-"}, true);
    QCOMPARE(refused.results, QString("0"));
    QVERIFY(QFileInfo(m_jdir).isSymLink());

    // A journal written on another host sharing this folder (or in another process namespace): its
    // process is not visible from here, so it is left alone.
    QVERIFY(QFile::remove(m_jdir) && QDir().rename(real, m_jdir));
    const QByteArray original = readFile(killed.journal);
    QList<QByteArray> lines = original.split('\n');
    QVERIFY(lines.size() > 2 && lines.at(1).startsWith("owner "));
    lines[1] = "owner elsewhere pid%3A%5B1%5D";
    QVERIFY(writeFile(killed.journal, lines.join('\n')));
    QCOMPARE(WorkspaceJournal::cleanupStale(), 0);
    QVERIFY(QFileInfo(ws).isDir() && present(killed.journal));

    // Once it is ours again, the killed run's folder goes; so does a rewrite of its journal that
    // was cut off in its first line.
    QVERIFY(writeFile(killed.journal, original));
    const QString cutOff = killed.journal + ".tmp";
    QVERIFY(writeFile(cutOff, original.left(10)));
    QCOMPARE(WorkspaceJournal::cleanupStale(), 1);
    QVERIFY(!present(ws) && QFileInfo(other).isDir());
    QVERIFY(!present(killed.journal) && !present(cutOff));
}

void TestWorkspaceJournal::packageFoldersAreRecorded() {
    const QString pkg = g_base + "/pk/lesson.vrk";
    QVERIFY(QDir().mkpath(g_base + "/pk"));
    QVERIFY(testsupport::makeSample(pkg, {"--template", "2", "--duration", "3", "--size", "320x180"}));
    // Qt's runtime folder (made here by the sample tool when XDG_RUNTIME_DIR is unset) is not ours.
    const auto entries = [this] {
        QStringList l =
            QDir(m_tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
        return l.filter(QRegularExpression("^(?!runtime-)"));
    };

    // A run killed after unpacking and packing: its journal names the workspace and the edit folder,
    // not the staging folders it has already removed, and the next start removes those two.
    const QString out = m_out + "/lesson-out.vrk";
    const HelperRun killed = runHelperProcess({"unpack", pkg, out}, true);
    QCOMPARE(killed.results, QString("1"));
    QStringList made = entries();
    made.removeAll(QFileInfo(m_jdir).fileName());
    QVERIFY2(made.size() == 2, qPrintable(made.join(", ")));
    QVERIFY(QRegularExpression("^lesson\\d{1,5}_\\d{6}$").match(made.at(0)).hasMatch());
    QCOMPARE(made.at(1), made.at(0) + "_edit_0");
    const QByteArray journal = readFile(killed.journal);
    QVERIFY(journal.contains(QUrl::toPercentEncoding(m_tmp + "/" + made.at(0)) + "\n"));
    QVERIFY(journal.contains(QUrl::toPercentEncoding(m_tmp + "/" + made.at(1)) + "\n"));
    QVERIFY(!journal.contains("pack-"));
    QCOMPARE(journal.count('\n'), 4);  // header, owner, two folders
    QCOMPARE(QDir(m_out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"lesson-out.vrk"});
    QCOMPARE(WorkspaceJournal::cleanupStale(), 2);
    QVERIFY(entries().isEmpty());
    QVERIFY(QFileInfo(out).isFile());

    // A normal end: the handler removed its workspace and released it; the edit folder is the
    // session's to remove, and no journal is left.
    const HelperRun normal = runHelperProcess({"unpack", pkg, "-"}, false);
    QCOMPARE(normal.results, QString("1"));
    made = entries();
    QCOMPARE(made.size(), 1);
    QVERIFY(made.at(0).endsWith("_edit_0"));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet("WORKSPACE_JOURNAL_HELPER")) {
        return runHelper(argc, argv);
    }
    // A private temporary location, so the real one is never touched; set before Qt reads it.
    QByteArray base = QByteArray(VRK_BINARY_DIR) + "/tst_workspacejournal-XXXXXX";
    if (!mkdtemp(base.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    g_base = QFile::decodeName(base);
    QDir().mkpath(g_base + "/tmp");
    qputenv("TMPDIR", QFile::encodeName(g_base + "/tmp"));
    int rc = 0;
    {
        QCoreApplication app(argc, argv);
        TestWorkspaceJournal test;
        rc = QTest::qExec(&test, argc, argv);
        WorkspaceJournal::closeProcessJournal();
    }
    QDir(g_base).removeRecursively();
    return rc;
}

#include "tst_workspacejournal.moc"
