// The package workspace: unpacking generated packages into private workspaces, packing edit
// directories (plain and enciphered), page image copies, output naming and folder removal.
#include <QtTest>

#include <atomic>
#include <cstring>
#include <ctime>
#include <random>

#include <unistd.h>

#include "../supzip/FileTree.h"
#include "DataWrapper.h"
#include "FLog.h"
#include "FileHandler.h"
#include "JsonResourceParse.h"
#include "WorkspaceJournal.h"
#include "TestSupport.h"
#include "supzip.h"

namespace {

QStringList names(const QString& dir) {
    QStringList l =
        QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    l.sort();
    return l;
}

QByteArray md5(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    QCryptographicHash h(QCryptographicHash::Md5);
    h.addData(&f);
    return h.result().toHex();
}

bool isEnc(const QString& path) {
    return IsEncryptSource(path.toLocal8Bit().constData()) != 0;
}

// Copies the video and meta.json into the edit directory, as a cut does before packing.
bool fillEditDir(const std::shared_ptr<_RootItem>& root) {
    return QFile::copy(root->video_path, root->tmp_edit_path + QFileInfo(root->video_path).fileName()) &&
           QFile::copy(root->meta_path, root->tmp_edit_path + "meta.json");
}

}  // namespace

class TestFileHandler : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void roundTripPlainAndEnciphered();
    void workspaceNamingAndReuse();
    void videoWithoutExtension();
    void keepEncrypt();
    void copyPageImages();
    void compressFailuresLeaveNothing();
    void removeDirRules();
    void uniqueFilePath();
    void longestNamesOpenAndPack_data();
    void longestNamesOpenAndPack();
    void defaultOutputDirAndFreeSpace();
    void metaDeflatedBesideWriting_data();
    void metaDeflatedBesideWriting();

private:
    QString m_tmp;  // the temporary location every workspace must go to
    QString m_plain, m_enc, m_cvideo;
    QTemporaryDir m_base;
};

void TestFileHandler::initTestCase() {
    QVERIFY(m_base.isValid());
    // A private temporary location: workspaces are checked exactly, whatever else runs meanwhile.
    m_tmp = m_base.path() + "/tmp";
    QVERIFY(QDir().mkpath(m_tmp));
    qputenv("TMPDIR", QFile::encodeName(m_tmp));
    QCOMPARE(QStandardPaths::standardLocations(QStandardPaths::TempLocation).value(0), m_tmp);

    const QString pk = m_base.path() + "/pk";
    QVERIFY(QDir().mkpath(pk));
    const QStringList common{"--template", "2", "--duration", "6", "--size", "320x180"};
    m_plain = pk + "/lesson.vrk";
    m_enc = pk + "/secret.vrk";
    m_cvideo = pk + "/bare.vrk";
    QVERIFY(testsupport::makeSample(m_plain, common));
    QVERIFY(testsupport::makeSample(m_enc, common + QStringList{"--encrypt"}));
    QVERIFY(testsupport::makeSample(m_cvideo, common + QStringList{"--video-name", "c"}));
    QVERIFY(!isEnc(m_plain));
    QVERIFY(isEnc(m_enc));
}

void TestFileHandler::cleanup() {
    // Whatever a test left (edit directories are the caller's), the next starts from an empty folder.
    for (const QString& n : names(m_tmp)) {
        QFileInfo fi(m_tmp + "/" + n);
        if (fi.isDir() && !fi.isSymLink()) {
            QDir(fi.absoluteFilePath()).removeRecursively();
        } else {
            QFile::remove(fi.absoluteFilePath());
        }
    }
}

void TestFileHandler::roundTripPlainAndEnciphered() {
    for (const QString& pkg : {m_plain, m_enc}) {
        const bool enc = pkg == m_enc;
        const QByteArray sourceSum = md5(pkg);
        auto owner = std::make_shared<DataWrapper>();
        FileHandler fh;
        fh.setOwner(owner);
        fh.setKeepEncrypt(false);
        std::shared_ptr<_RootItem> root = fh.decompress(pkg);
        QVERIFY(root);
        QCOMPARE(fh.isEncrypted(), enc);

        // Paths of the unpacked tree.
        QVERIFY(root->tmp_path.startsWith(m_tmp + "/"));
        QVERIFY(root->tmp_path.endsWith("/"));
        QCOMPARE(root->meta_path, root->tmp_path + "meta.json");
        QCOMPARE(root->video_path, root->tmp_path + "c.mp4");
        QCOMPARE(root->tmp_edit_path, root->tmp_path.chopped(1) + "_edit_0/");
        QVERIFY(QFileInfo(root->video_path).size() > 1000);
        QVERIFY(QFileInfo(root->tmp_edit_path).isDir());
        QVERIFY(names(root->tmp_edit_path).isEmpty());

        // The tree was read from the unpacked meta.json.
        QVERIFY(root->datas && root->datas->meta_item && root->datas->room_item);
        QCOMPARE(int(root->datas->room_item->templateType), 2);
        const auto pages = root->datas->meta_item->pageChange;
        QVERIFY(pages.size() >= 2);
        QVERIFY(!root->datas->meta_item->draw.isEmpty());

        // An independent reader agrees on the plain package's content.
        if (!enc) {
            const QString byUnzip = m_base.path() + "/unzipped";
            QCOMPARE(testsupport::runProgram("unzip", {"-q", pkg, "-d", byUnzip}), 0);
            QCOMPARE(hostile::snapshot(root->tmp_path), hostile::snapshot(byUnzip));
            QDir(byUnzip).removeRecursively();
        }

        // Pack the edit directory as a cut does.
        QVERIFY(fillEditDir(root));
        const QString outDir = m_base.path() + (enc ? "/out-enc" : "/out-plain");
        const QString out = outDir + "/result.vrk";
        QCOMPARE(int(fh.compress(root, out)), 0);
        QCOMPARE(names(outDir), QStringList{"result.vrk"});
        QCOMPARE(isEnc(out), enc);
        QVERIFY(!fh.isEncrypted());

        // Every referenced page image was copied, and only those.
        QSet<QString> wanted;
        for (const auto& p : pages) {
            wanted.insert("image/" + p->docId + "/" + p->url.section('/', -1));
        }
        QSet<QString> copied;
        QDirIterator it(root->tmp_edit_path + "image", QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            copied.insert(QDir(root->tmp_edit_path).relativeFilePath(it.next()));
        }
        QCOMPARE(copied, wanted);

        QByteArray listing;
        QCOMPARE(testsupport::runProgram("unzip", {"-l", out}, &listing), 0);
        QVERIFY(listing.contains("meta.json"));
        QVERIFY(listing.contains("c.mp4"));
        for (const QString& w : wanted) {
            QVERIFY2(listing.contains(w.toUtf8()), qPrintable(w));
        }
        if (!enc) {
            QCOMPARE(testsupport::runProgram("unzip", {"-tq", out}), 0);
        }

        // The package opens again with identical bytes.
        const QString check = m_base.path() + "/check/";
        QCOMPARE(DecompressZipDec(out.toUtf8().constData(), check.toUtf8().constData()), 0);
        QCOMPARE(hostile::snapshot(check), hostile::snapshot(root->tmp_edit_path));
        QCOMPARE(md5(check + "c.mp4"), md5(root->video_path));
        QDir(check).removeRecursively();

        // A second pack without a new unpack is plain.
        const QString out2 = outDir + "/again.vrk";
        QCOMPARE(int(fh.compress(root, out2)), 0);
        QVERIFY(!isEnc(out2));
        QCOMPARE(testsupport::runProgram("unzip", {"-tq", out2}), 0);

        QCOMPARE(md5(pkg), sourceSum);
        QDir(outDir).removeRecursively();
    }
}

void TestFileHandler::workspaceNamingAndReuse() {
    const QString dir = m_base.path() + "/names";
    QVERIFY(QDir().mkpath(dir));
    const QString part = dir + "/lesson.part1.vrk";
    QVERIFY(QFile::copy(m_plain, part));

    // Occupy the names the generator yields for this second and the next two.
    QStringList occupied;
    const std::time_t now = std::time(nullptr);
    for (std::time_t t = now; t < now + 3; ++t) {
        std::mt19937 rng(static_cast<std::mt19937::result_type>(t));
        std::uniform_int_distribution<int> dist(0, 10000);
        const QString name = "lesson" + QString::number(dist(rng)) +
                             QDateTime::fromSecsSinceEpoch(qint64(t)).toString("_hhmmss");
        QVERIFY(QDir().mkpath(m_tmp + "/" + name));
        hostile::writeAll(m_tmp + "/" + name + "/marker", "someone else's");
        occupied << name;
    }

    QStringList workspaces, edits;
    {
        FileHandler a, b;
        auto ra = a.decompress(part);
        auto rb = b.decompress(part);
        auto rc = a.decompress(part);
        QVERIFY(ra && rb && rc);
        const QRegularExpression re("^lesson\\d{1,5}_(\\d{6})$");
        for (const auto& r : {ra, rb, rc}) {
            const QString name = QDir(r->tmp_path).dirName();
            const auto m = re.match(name);
            QVERIFY2(m.hasMatch(), qPrintable(name));
            QVERIFY2(!occupied.contains(name), qPrintable(name));
            const int secs = QTime::fromString(m.captured(1), "hhmmss").secsTo(QTime::currentTime());
            QVERIFY2(qAbs(secs) <= 10 || qAbs(secs) >= 86390, qPrintable(name));
            workspaces << r->tmp_path;
            edits << r->tmp_edit_path;
            QCOMPARE(r->tmp_edit_path, r->tmp_path.chopped(1) + "_edit_0/");
        }
        QCOMPARE(QSet<QString>(workspaces.begin(), workspaces.end()).size(), 3);
        for (const QString& o : occupied) {
            QCOMPARE(names(m_tmp + "/" + o), QStringList{"marker"});
        }

        // The next free edit number is used.
        const QString ws = ra->tmp_path;
        QVERIFY(QDir().mkdir(ws.chopped(1) + "_edit_1"));
        const QString made = FileHandler::makeEditDir(ws);
        QCOMPARE(made, ws.chopped(1) + "_edit_2");
        QVERIFY(QFileInfo(made).isDir());
    }
    // Destruction removes the workspaces, never the edit directories or other folders.
    for (const QString& w : workspaces) {
        QVERIFY2(!QFileInfo::exists(w), qPrintable(w));
    }
    for (const QString& e : edits) {
        QVERIFY2(QFileInfo(e).isDir(), qPrintable(e));
    }
    for (const QString& o : occupied) {
        QVERIFY(QFileInfo::exists(m_tmp + "/" + o + "/marker"));
    }

    // A workspace its session has removed may get its name taken again (by another session of the
    // same second); the handler that made the first one must leave the new one alone.
    QString reborn;
    {
        FileHandler first;
        auto r = first.decompress(part);
        QVERIFY(r);
        reborn = r->tmp_path;
        QVERIFY(WorkspaceJournal::removeRecorded(reborn));
        QVERIFY(QDir().mkdir(reborn));
        hostile::writeAll(reborn + "marker", "another session's");
        QVERIFY(WorkspaceJournal::removeRecorded(r->tmp_edit_path));
    }
    QCOMPARE(names(reborn), QStringList{"marker"});
    QVERIFY(QDir(reborn).removeRecursively());
}

void TestFileHandler::videoWithoutExtension() {
    FileHandler fh;
    auto root = fh.decompress(m_cvideo);
    QVERIFY(root);
    QVERIFY(root->video_path.endsWith("/c"));
    QCOMPARE(root->video_path, root->tmp_path + "c");
    QVERIFY(QFileInfo(root->video_path).size() > 1000);
}

void TestFileHandler::keepEncrypt() {
    {
        auto owner = std::make_shared<DataWrapper>();
        FileHandler fh;
        fh.setOwner(owner);
        fh.setKeepEncrypt(true);
        QVERIFY(fh.decompress(m_enc));
        QVERIFY(fh.isEncrypted());
        auto root = fh.decompress(m_plain);
        QVERIFY(root);
        QVERIFY(fh.isEncrypted());
        QVERIFY(fillEditDir(root));
        const QString out = m_base.path() + "/keep/merged.vrk";
        QCOMPARE(int(fh.compress(root, out)), 0);
        QVERIFY(isEnc(out));
        QVERIFY(!fh.isEncrypted());
        // Plain first, enciphered second: the flag is taken from the package.
        QVERIFY(fh.decompress(m_plain));
        QVERIFY(!fh.isEncrypted());
        QVERIFY(fh.decompress(m_enc));
        QVERIFY(fh.isEncrypted());
    }
    {
        FileHandler fh;
        fh.setKeepEncrypt(false);
        QVERIFY(fh.decompress(m_enc));
        QVERIFY(fh.isEncrypted());
        QVERIFY(fh.decompress(m_plain));
        QVERIFY(!fh.isEncrypted());
    }
    QDir(m_base.path() + "/keep").removeRecursively();
}

void TestFileHandler::copyPageImages() {
    auto owner = std::make_shared<DataWrapper>();
    FileHandler fh;
    fh.setOwner(owner);
    QCOMPARE(int(fh.copyPageImages(nullptr)), -1);
    auto empty = std::make_shared<_RootItem>();
    QCOMPARE(int(fh.copyPageImages(empty)), -2);

    auto src = fh.decompress(m_plain);
    QVERIFY(src);
    const auto pages = src->datas->meta_item->pageChange;
    const QString docId = pages.first()->docId;
    const QString url = pages.first()->url;
    const QString image = "image/" + docId + "/" + url.section('/', -1);

    auto page = [&](const QString& doc, const QString& u) {
        auto p = std::make_shared<_PageChangeItem>();
        p->docId = doc;
        p->url = u;
        return p;
    };
    auto root = std::make_shared<_RootItem>();
    root->datas = std::make_shared<_DatasItem>();
    root->datas->meta_item = std::make_shared<_MetaItem>();
    root->tmp_path = src->tmp_path;
    root->tmp_edit_path = src->tmp_edit_path;
    // The same page twice, a blank page, and names from the package that try to leave the folders.
    root->datas->meta_item->pageChange = {page(docId, url),
                                          page(docId, url),
                                          page("WhiteBoard", "#"),
                                          page("..", "https://x/1.jpg"),
                                          page("../../escape", "https://x/1.jpg"),
                                          page(docId, "https://x/.."),
                                          page("a\\..\\..\\escape", "https://x/1.jpg")};

    const auto before = hostile::snapshot(m_base.path());
    // Without a living owner nothing is copied.
    {
        auto gone = std::make_shared<DataWrapper>();
        fh.setOwner(gone);
    }
    QCOMPARE(int(fh.copyPageImages(root)), 0);
    QVERIFY(names(root->tmp_edit_path).isEmpty());

    fh.setOwner(owner);
    QCOMPARE(int(fh.copyPageImages(root)), 0);
    QCOMPARE(names(root->tmp_edit_path), QStringList{"image"});
    // The blank page gets its (empty) folder like any document; its "#" image does not exist.
    QStringList folders{docId, "WhiteBoard"};
    folders.sort();
    QCOMPARE(names(root->tmp_edit_path + "image"), folders);
    QVERIFY(names(root->tmp_edit_path + "image/WhiteBoard").isEmpty());
    QCOMPARE(names(root->tmp_edit_path + "image/" + docId), QStringList{url.section('/', -1)});
    QCOMPARE(md5(root->tmp_edit_path + image), md5(src->tmp_path + image));
    // A copy onto an existing image is silently skipped.
    hostile::writeAll(root->tmp_edit_path + image, "already there");
    QCOMPARE(int(fh.copyPageImages(root)), 0);
    QCOMPARE(hostile::readAll(root->tmp_edit_path + image), QByteArray("already there"));

    // Nothing appeared outside the edit directory.
    auto after = hostile::snapshot(m_base.path());
    const QString editRel = QDir(m_base.path()).relativeFilePath(root->tmp_edit_path);
    for (auto it = after.begin(); it != after.end();) {
        it = it.key().startsWith(editRel) ? after.erase(it) : std::next(it);
    }
    auto beforeOutside = before;
    for (auto it = beforeOutside.begin(); it != beforeOutside.end();) {
        it = it.key().startsWith(editRel) ? beforeOutside.erase(it) : std::next(it);
    }
    QCOMPARE(after.keys(), beforeOutside.keys());
}

void TestFileHandler::compressFailuresLeaveNothing() {
    FileHandler fh;
    auto root = fh.decompress(m_enc);
    QVERIFY(root && fh.isEncrypted());
    QVERIFY(fillEditDir(root));
    const QString outDir = m_base.path() + "/fail";
    QVERIFY(QDir().mkpath(outDir));

    // An output folder that cannot exist: packing fails, nothing is written.
    hostile::writeAll(outDir + "/file", "x");
    QCOMPARE(int(fh.compress(root, outDir + "/file/sub/out.vrk")), -2);
    QCOMPARE(names(outDir), QStringList{"file"});
    QVERIFY(fh.isEncrypted());

    // Enciphered packing of a missing edit directory fails and keeps an existing output intact.
    const QString out = outDir + "/out.vrk";
    hostile::writeAll(out, "previous result");
    auto noEdit = std::make_shared<_RootItem>(*root);
    noEdit->datas = std::make_shared<_DatasItem>();
    noEdit->tmp_edit_path = m_base.path() + "/missing-edit/";
    QCOMPARE(int(fh.compress(noEdit, out)), -2);
    QCOMPARE(hostile::readAll(out), QByteArray("previous result"));
    QCOMPARE(names(outDir), (QStringList{"file", "out.vrk"}));

    // The same for the plain path.
    FileHandler plain;
    auto proot = plain.decompress(m_plain);
    QVERIFY(proot && !plain.isEncrypted());
    auto pnoEdit = std::make_shared<_RootItem>(*proot);
    pnoEdit->datas = std::make_shared<_DatasItem>();
    pnoEdit->tmp_edit_path = m_base.path() + "/missing-edit/";
    QCOMPARE(int(plain.compress(pnoEdit, out)), -2);
    QCOMPARE(hostile::readAll(out), QByteArray("previous result"));
    QCOMPARE(names(outDir), (QStringList{"file", "out.vrk"}));

    // A successful pack never replaces a file that is there: it takes the next free name.
    QCOMPARE(int(fh.compress(root, out)), 0);
    QCOMPARE(hostile::readAll(out), QByteArray("previous result"));
    QCOMPARE(fh.packedPath(), outDir + "/out1.vrk");
    QVERIFY(isEnc(outDir + "/out1.vrk"));
    QCOMPARE(names(outDir), (QStringList{"file", "out.vrk", "out1.vrk"}));
    QDir(outDir).removeRecursively();
}

void TestFileHandler::removeDirRules() {
    QVERIFY(!FileHandler::removeDir(QString()));
    QVERIFY(FileHandler::removeDir(m_base.path() + "/does-not-exist"));

    const QString outside = m_base.path() + "/outside";
    QVERIFY(QDir().mkpath(outside + "/deep"));
    hostile::writeAll(outside + "/keep.txt", "keep");
    hostile::writeAll(outside + "/deep/keep2.txt", "keep");
    const auto outsideBefore = hostile::snapshot(outside);

    const QString tree = m_base.path() + "/tree";
    QVERIFY(QDir().mkpath(tree + "/a/b"));
    hostile::writeAll(tree + "/a/b/file.txt", "x");
    hostile::writeAll(tree + "/.hidden", "x");
    hostile::writeAll(tree + "/a/.hidden2", "x");
    QVERIFY(QFile::link(outside, tree + "/dirlink"));
    QVERIFY(QFile::link(outside + "/keep.txt", tree + "/a/filelink"));
    QVERIFY(QFile::link(m_base.path() + "/nowhere", tree + "/broken"));

    QVERIFY(FileHandler::removeDir(tree));
    QVERIFY(!QFileInfo::exists(tree));
    QCOMPARE(hostile::snapshot(outside), outsideBefore);

    // A link given as the folder itself is removed as a link.
    QVERIFY(QFile::link(outside, m_base.path() + "/toplink"));
    QVERIFY(FileHandler::removeDir(m_base.path() + "/toplink"));
    QVERIFY(!QFileInfo(m_base.path() + "/toplink").isSymLink());
    QCOMPARE(hostile::snapshot(outside), outsideBefore);
    QDir(outside).removeRecursively();
}

void TestFileHandler::uniqueFilePath() {
    const QString dir = m_base.path() + "/unique";
    QVERIFY(QDir().mkpath(dir));
    const QString free = dir + "/class.vrk";
    QCOMPARE(FileHandler::uniqueFilePath(free), free);
    hostile::writeAll(free, "x");
    QCOMPARE(FileHandler::uniqueFilePath(free), dir + "/class1.vrk");
    hostile::writeAll(dir + "/class1.vrk", "x");
    QCOMPARE(FileHandler::uniqueFilePath(free), dir + "/class2.vrk");
    // The base name ends at the first dot; a dangling link counts as taken.
    hostile::writeAll(dir + "/a.b.vrk", "x");
    QVERIFY(QFile::link(dir + "/nowhere", dir + "/a1.vrk"));
    QCOMPARE(FileHandler::uniqueFilePath(dir + "/a.b.vrk"), dir + "/a2.vrk");
    QDir(dir).removeRecursively();
}

void TestFileHandler::longestNamesOpenAndPack_data() {
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("name");
    // The longest names a file may have with ".vrk": 80 Chinese characters (244 bytes) and 62
    // characters outside the basic plane (252 bytes).
    const QString chinese(80, QChar(0x8bfe));
    QString emoji;
    for (int i = 0; i < 62; ++i) {
        emoji += QString::fromUcs4(U"\U0001F600");
    }
    QTest::newRow("plain, Chinese") << m_plain << chinese;
    QTest::newRow("enciphered, Chinese") << m_enc << chinese;
    QTest::newRow("plain, four-byte characters") << m_plain << emoji;
}

void TestFileHandler::longestNamesOpenAndPack() {
    // A package so named opens, and packing to such a name works: every temporary name fits.
    QFETCH(QString, package);
    QFETCH(QString, name);
    const QString dir = m_base.path() + "/long";
    QVERIFY(QDir().mkpath(dir));
    const QString source = dir + "/" + name + ".vrk";
    QVERIFY(QFile::copy(package, source));
    FileHandler fh;
    auto root = fh.decompress(source);
    QVERIFY(root);
    QVERIFY(fillEditDir(root));
    const QString out = dir + "/out/" + name + ".vrk";
    QCOMPARE(int(fh.compress(root, out)), 0);
    QCOMPARE(fh.packedPath(), out);
    QVERIFY(QFileInfo(out).size() > 0);
    QDir(dir).removeRecursively();
}

void TestFileHandler::defaultOutputDirAndFreeSpace() {
    const QString out = FileHandler::defaultOutputDir();
    QVERIFY2(out.endsWith("/Tavrel/"), qPrintable(out));
    const QFileInfo parent(out.chopped(QStringLiteral("Tavrel/").size()));
    QVERIFY2(parent.isDir() && parent.isWritable(), qPrintable(out));
    const bool existed = QFileInfo::exists(out);
    QVERIFY(QDir().mkpath(out));
    if (!existed) {
        QVERIFY(QDir().rmdir(out));
    }
    QVERIFY(FileHandler::freeSpaceMB(parent.absoluteFilePath()) > 0);
    QVERIFY(FileHandler::freeSpaceMB(QDir::homePath()) > 0);
    QCOMPARE(FileHandler::freeSpaceMB(m_base.path() + "/no/such/volume"), quint64(0));
    // The chosen folder is on the volume with the most free space among the writable ones.
    const quint64 chosen = FileHandler::freeSpaceMB(parent.absoluteFilePath());
    QVERIFY(chosen >= FileHandler::freeSpaceMB(QDir::homePath()) ||
            !QFileInfo(QDir::homePath()).isWritable());
}

namespace {

// Log lines about meta.json deflated beside its writing, by level (they may come from its thread).
std::atomic<int> g_side_used{0};
std::atomic<int> g_side_warned{0};
void countSideLines(int level, const char* format, va_list, void*) {
    if (std::strstr(format, "beside its writing")) {
        ++(level == FLOG_DEBUG ? g_side_used : g_side_warned);
    }
}

// Open descriptors of this process on files in `dir` (named or not).
int filesOpenIn(const QString& dir) {
    int n = 0;
    for (const QString& fd :
         QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[4096];
        const ssize_t len =
            readlink(QFile::encodeName("/proc/self/fd/" + fd).constData(), target, sizeof target);
        n += len > 0 && QByteArray(target, int(len)).startsWith(QFile::encodeName(dir)) ? 1 : 0;
    }
    return n;
}

}  // namespace

void TestFileHandler::metaDeflatedBesideWriting_data() {
    QTest::addColumn<QString>("side");  // what happens on the side path
    QTest::addColumn<bool>("used");
    QTest::newRow("deflated while written") << "written" << true;
    QTest::newRow("no folder for its file") << "nofolder" << false;
    QTest::newRow("side thread fails") << "fails" << false;
    QTest::newRow("file changed after the write") << "grown" << false;
    QTest::newRow("dropped before packing") << "dropped" << false;
}

void TestFileHandler::metaDeflatedBesideWriting() {
    QFETCH(QString, side);
    QFETCH(bool, used);
    auto owner = std::make_shared<DataWrapper>();
    FileHandler fh;
    fh.setOwner(owner);
    auto root = fh.decompress(m_plain);
    QVERIFY(root && !fh.isEncrypted());
    QVERIFY(QFile::copy(root->video_path, root->tmp_edit_path + "c.mp4"));
    // Some megabytes of text, so that several of the writer's pieces go through the side thread.
    auto& draws = root->datas->meta_item->draw;
    const auto one = draws;
    while (draws.size() < 60000) {
        draws += one;
    }

    g_side_used = 0;
    g_side_warned = 0;
    flog_set_callback(&countSideLines, nullptr);
    const QString sideDir = side == "nofolder" ? m_base.path() + "/no/such/folder" : root->tmp_edit_path;
    auto sink = fh.deflateMetaWhileWriting(sideDir);
    QCOMPARE(bool(sink), side != "nofolder");
    QCOMPARE(filesOpenIn(root->tmp_edit_path), side != "nofolder" ? 1 : 0);
    const QString meta = root->tmp_edit_path + "meta.json";
    QVERIFY(JsonResourceParse::saveFile(root, meta, sink));
    QVERIFY(QFileInfo(meta).size() > 3 * (4 << 20));
    if (side == "fails") {
        sink(-1, 1);  // a byte the file does not have: the side thread fails reading it
    } else if (side == "grown") {
        QFile grow(meta);
        QVERIFY(grow.open(QIODevice::Append) && grow.write("\n") == 1);
    } else if (side == "dropped") {
        fh.dropMetaDeflate();
    }
    sink = nullptr;  // the writer's hold on the side stream ends with the write

    const QString outDir = m_base.path() + "/side-" + side;
    const QString out = outDir + "/side.vrk";
    QCOMPARE(int(fh.compress(root, out)), 0);
    flog_set_callback(nullptr, nullptr);
    QCOMPARE(g_side_used.load(), used ? 1 : 0);
    QCOMPARE(g_side_warned.load(), side == "written" || side == "dropped" ? 0 : 1);
    QCOMPARE(filesOpenIn(root->tmp_edit_path), 0);
    QCOMPARE(names(root->tmp_edit_path), (QStringList{"c.mp4", "image", "meta.json"}));

    // The packer's own deflate of the same folder is the oracle: the same bytes, entry for entry.
    const QString plain = outDir + "/plain.vrk";
    QCOMPARE(int(fh.compress(root, plain)), 0);
    QCOMPARE(g_side_used.load(), used ? 1 : 0);
    QCOMPARE(hostile::readAll(out), hostile::readAll(plain));
    QCOMPARE(testsupport::runProgram("unzip", {"-tq", out}), 0);
    QByteArray unpacked;
    QCOMPARE(testsupport::runProgram("unzip", {"-p", out, "meta.json"}, &unpacked), 0);
    QCOMPARE(unpacked, hostile::readAll(meta));
    QDir(outDir).removeRecursively();
    QDir(root->tmp_edit_path).removeRecursively();
}

QTEST_GUILESS_MAIN(TestFileHandler)
#include "tst_filehandler.moc"
