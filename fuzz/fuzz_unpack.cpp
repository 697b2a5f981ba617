// Package unpacking on arbitrary bytes: the archive library alone, then the whole workspace set-up
// of the editor. Whatever the package holds, nothing may appear outside the folders handed out,
// and every temporary folder must be gone once the handler is.
#define FLOG_SOURCE "fuzz/fuzz_unpack"
#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>

#include <unistd.h>

#include "FileHandler.h"
#include "FuzzSupport.h"
#include "WorkspaceJournal.h"
#include "supzip.h"

namespace {

struct Layout {
    QString root;     // scratch/work: everything below must be accounted for
    QString package;  // root/in.vrk
    QString dest;     // root/out/ for the archive library
    QString temp;     // root/tmp, the editor's temporary location
};

const Layout& layout() {
    static const Layout l = [] {
        Layout x;
        x.root = fuzzsupport::scratchDir() + QStringLiteral("/work");
        x.package = x.root + QStringLiteral("/in.vrk");
        x.dest = x.root + QStringLiteral("/out/");
        x.temp = x.root + QStringLiteral("/tmp");
        QDir().mkpath(x.temp);
        // The editor unpacks below the temporary location.
        qputenv("TMPDIR", QFile::encodeName(x.temp));
        return x;
    }();
    return l;
}

void expectOnly(const QStringList& allowed, const char* stage) {
    const QStringList now = fuzzsupport::listTree(layout().root);
    if (now != allowed) {
        fuzzsupport::fail(stage, now.join(QLatin1Char(' ')));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (fuzzsupport::quietLogs(), true);
    (void)ready;
    const Layout& l = layout();
    if (!fuzzsupport::writeFile(l.package, data, size)) {
        fuzzsupport::fail("cannot write the input", l.package);
    }

    QDir().mkpath(l.dest);
    (void)IsEncryptSource(QFile::encodeName(l.package).constData());
    (void)DecompressZipDec(QFile::encodeName(l.package).constData(), QFile::encodeName(l.dest).constData());
    // Whatever was unpacked must sit below dest; nothing beside it.
    for (const QString& entry : fuzzsupport::listTree(l.root)) {
        if (entry != QLatin1String("in.vrk") && entry != QLatin1String("tmp") &&
            entry != QLatin1String("out") && !entry.startsWith(QLatin1String("out/"))) {
            fuzzsupport::fail("archive library wrote outside its folder", entry);
        }
    }
    QDir(l.dest).removeRecursively();

    // The edit directory belongs to the session, not the handler; it is the one thing the
    // handler may leave, and it must still be empty.
    QString editDir;
    {
        FileHandler handler;
        std::shared_ptr<_RootItem> root = handler.decompress(l.package);
        if (root) {
            if (!root->tmp_path.startsWith(l.temp + QLatin1Char('/')) ||
                !root->tmp_edit_path.startsWith(l.temp + QLatin1Char('/'))) {
                fuzzsupport::fail("workspace outside the temporary location", root->tmp_path);
            }
            for (const QString& entry : fuzzsupport::listTree(l.root)) {
                if (entry != QLatin1String("in.vrk") && entry != QLatin1String("tmp") &&
                    !entry.startsWith(QLatin1String("tmp/"))) {
                    fuzzsupport::fail("unpacking wrote outside the workspace", entry);
                }
            }
            editDir = root->tmp_edit_path;
        } else {
            // A failed unpack cleans up at once.
            expectOnly({QStringLiteral("in.vrk"), QStringLiteral("tmp")}, "failed unpack left files behind");
        }
    }
    if (!editDir.isEmpty()) {
        // Besides the edit directory only the process's journal of it may be there; the session
        // releases and removes the directory when it ends, and the journal goes with its last entry.
        const QString rel = QStringLiteral("tmp/") + QDir(editDir).dirName();
        const QString journal = QStringLiteral("tmp/.playback-edit-tool-%1").arg(getuid());
        for (const QString& entry : fuzzsupport::listTree(l.root)) {
            if (entry != QLatin1String("in.vrk") && entry != QLatin1String("tmp") && entry != rel &&
                entry != journal && !entry.startsWith(journal + QLatin1Char('/'))) {
                fuzzsupport::fail("handler left its workspace behind", entry);
            }
        }
        WorkspaceJournal::release(editDir);
        QDir(editDir).removeRecursively();
    }
    expectOnly({QStringLiteral("in.vrk"), QStringLiteral("tmp")}, "handler left its workspace behind");
    return 0;
}
