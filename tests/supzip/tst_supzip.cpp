// The archive library: enciphered and plain packing, unpacking of both, interoperability with the
// zip/unzip programs, and refusal of hostile or broken packages without leaving anything behind.
#include <QtTest>

#include <sys/stat.h>
#include <zip.h>

#include "HostileZips.h"
#include "TestSupport.h"
#include "supzip.h"
#include "supzip_internal.h"

namespace {

QByteArray u8(const QString& s) {
    return s.toUtf8();
}

int pack(const QString& package, const QString& entry, int mode) {
    return CompressToZipEnc(u8(package).constData(), u8(entry).constData(), mode);
}

int unpack(const QString& package, const QString& dest) {
    return DecompressZipDec(u8(package).constData(), u8(dest).constData());
}

bool isEnc(const QString& package) {
    return IsEncryptSource(package.toLocal8Bit().constData()) != 0;
}

// Entry name -> (compression method, encryption method) as libzip reads them.
QMap<QString, QPair<int, int>> methods(const QString& package) {
    QMap<QString, QPair<int, int>> m;
    int err = 0;
    zip_t* za = zip_open(QFile::encodeName(package).constData(), ZIP_RDONLY, &err);
    if (!za) {
        return m;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
        zip_stat_t st;
        if (zip_stat_index(za, zip_uint64_t(i), 0, &st) == 0) {
            m.insert(QString::fromUtf8(st.name), {st.comp_method, st.encryption_method});
        }
    }
    zip_discard(za);
    return m;
}

void makeTree(const QString& root) {
    QDir().mkpath(root + "/image/doc1");
    QDir().mkpath(root + "/图片");
    QDir().mkpath(root + "/empty/inner");
    hostile::writeAll(root + "/meta.json", QByteArray("{\"datas\":{\"meta\":{}}}").repeated(2000));
    hostile::writeAll(root + "/c.mp4", hostile::randomBytes(3 << 20, 1));
    hostile::writeAll(root + "/image/doc1/1.jpg", hostile::randomBytes(40000, 2));
    hostile::writeAll(root + "/image/doc1/2.PNG", hostile::randomBytes(30000, 3));
    hostile::writeAll(root + "/image/doc1/notes.txt", QByteArray("note ").repeated(5000));
    hostile::writeAll(root + "/图片/页1.jpg", hostile::randomBytes(1000, 4));
}

}  // namespace

class TestSupzip : public QObject {
    Q_OBJECT
private slots:
    void roundTripEncipheredAndPlain();
    void packingRules();
    void unpackDestinationRules();
    void interoperatesWithZipPrograms();
    void aesAgreesWithLibzip();
    void failedAppendRestoresPackage();
    void hostileCorpusRefused();
};

void TestSupzip::roundTripEncipheredAndPlain() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString src = dir.path() + "/src";
    makeTree(src);
    const QStringList top{"meta.json", "image", "图片", "empty", "c.mp4"};

    for (int mode : {1, 0}) {
        const QString pkg = dir.path() + QString("/p%1.vrk").arg(mode);
        for (const QString& e : top) {
            QCOMPARE(pack(pkg, src + "/" + e, mode), 0);
        }
        QCOMPARE(isEnc(pkg), mode == 1);

        const auto m = methods(pkg);
        QCOMPARE(m.value("c.mp4").first, int(ZIP_CM_STORE));
        QCOMPARE(m.value("image/doc1/1.jpg").first, int(ZIP_CM_STORE));
        QCOMPARE(m.value("image/doc1/2.PNG").first, int(ZIP_CM_STORE));
        QCOMPARE(m.value("meta.json").first, int(ZIP_CM_DEFLATE));
        QCOMPARE(m.value("image/doc1/notes.txt").first, int(ZIP_CM_DEFLATE));
        const int expectEnc = mode == 1 ? ZIP_EM_AES_256 : ZIP_EM_NONE;
        for (const QString& f : QStringList{"c.mp4", "meta.json", "image/doc1/1.jpg", "图片/页1.jpg"}) {
            QVERIFY2(m.contains(f), qPrintable(f));
            QCOMPARE(m.value(f).second, expectEnc);
        }
        QVERIFY(m.contains("empty/inner/"));

        const QString out = dir.path() + QString("/out%1/").arg(mode);
        QCOMPARE(unpack(pkg, out), 0);
        QCOMPARE(hostile::snapshot(out), hostile::snapshot(src));
        // The staging folder is gone: only the destination was added beside it.
        const QStringList names =
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QString& n : names) {
            QVERIFY2(!n.contains("unpack"), qPrintable(n));
        }
    }
}

void TestSupzip::packingRules() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString src = dir.path() + "/src";
    makeTree(src);
    const QString pkg = dir.path() + "/p.vrk";

    // Bad arguments and missing inputs fail without creating a package.
    QVERIFY(CompressToZipEnc(nullptr, u8(src + "/c.mp4").constData(), 1) != 0);
    QVERIFY(CompressToZipEnc(u8(pkg).constData(), nullptr, 1) != 0);
    QVERIFY(pack(pkg, src + "/c.mp4", 7) != 0);
    QVERIFY(pack(pkg, src + "/no-such-file", 1) != 0);
    QVERIFY(!QFileInfo::exists(pkg));

    // Adding a name that is already there fails and leaves the package exactly as it was.
    QCOMPARE(pack(pkg, src + "/meta.json", 1), 0);
    const QByteArray before = hostile::readAll(pkg);
    QVERIFY(pack(pkg, src + "/meta.json", 1) != 0);
    QCOMPARE(hostile::readAll(pkg), before);

    // A file that is not a package is never overwritten.
    const QString notZip = dir.path() + "/not.vrk";
    hostile::writeAll(notZip, "plain text, not an archive");
    QVERIFY(pack(notZip, src + "/c.mp4", 1) != 0);
    QCOMPARE(hostile::readAll(notZip), QByteArray("plain text, not an archive"));

    // Symbolic links inside a packed folder are skipped, never followed.
    const QString secret = dir.path() + "/secret.txt";
    hostile::writeAll(secret, "do not pack");
    QVERIFY(QFile::link(secret, src + "/image/doc1/link.jpg"));
    QVERIFY(QFile::link(dir.path(), src + "/image/doclink"));
    const QString pkg2 = dir.path() + "/p2.vrk";
    QCOMPARE(pack(pkg2, src + "/image", 1), 0);
    const auto m = methods(pkg2);
    QVERIFY(m.contains("image/doc1/1.jpg"));
    for (const QString& name : m.keys()) {
        QVERIFY2(!name.contains("link"), qPrintable(name));
    }

    // IsEncryptSource: a mixed package counts as enciphered; unreadable paths do not.
    const QString mixed = dir.path() + "/mixed.vrk";
    QCOMPARE(pack(mixed, src + "/meta.json", 0), 0);
    QVERIFY(!isEnc(mixed));
    QCOMPARE(pack(mixed, src + "/c.mp4", 1), 0);
    QVERIFY(isEnc(mixed));
    QVERIFY(!isEnc(notZip));
    QVERIFY(!isEnc(dir.path() + "/missing.vrk"));
    QVERIFY(IsEncryptSource(nullptr) == 0);
    const QString mixedOut = dir.path() + "/mixed/";
    QCOMPARE(unpack(mixed, mixedOut), 0);
    QCOMPARE(hostile::readAll(mixedOut + "c.mp4"), hostile::readAll(src + "/c.mp4"));
    QCOMPARE(hostile::readAll(mixedOut + "meta.json"), hostile::readAll(src + "/meta.json"));
}

void TestSupzip::unpackDestinationRules() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString src = dir.path() + "/src";
    makeTree(src);
    const QString pkg = dir.path() + "/p.vrk";
    QCOMPARE(pack(pkg, src + "/meta.json", 1), 0);
    QCOMPARE(pack(pkg, src + "/c.mp4", 1), 0);

    // A destination that already holds files is never mixed into.
    const QString busy = dir.path() + "/busy/";
    QDir().mkpath(busy);
    hostile::writeAll(busy + "keep.txt", "mine");
    QVERIFY(unpack(pkg, busy) != 0);
    QCOMPARE(QDir(busy).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"keep.txt"});

    // An empty, reserved destination is filled, and stays the same folder (whoever recorded it by
    // identity still finds it); no staging folder is left beside it.
    const QString reserved = dir.path() + "/reserved/";
    QDir().mkpath(reserved);
    struct stat before;
    QCOMPARE(lstat(u8(reserved).constData(), &before), 0);
    QCOMPARE(unpack(pkg, reserved), 0);
    QCOMPARE(hostile::readAll(reserved + "c.mp4"), hostile::readAll(src + "/c.mp4"));
    struct stat after;
    QCOMPARE(lstat(u8(reserved).constData(), &after), 0);
    QCOMPARE(quint64(after.st_ino), quint64(before.st_ino));
    QVERIFY(QDir(dir.path())
                .entryList(QStringList{".reserved.unpack-*"}, QDir::AllEntries | QDir::Hidden)
                .isEmpty());

    // A destination without trailing "/" works too; a missing parent folder fails.
    QCOMPARE(unpack(pkg, dir.path() + "/noslash"), 0);
    QVERIFY(QFileInfo(dir.path() + "/noslash/meta.json").isFile());
    QVERIFY(unpack(pkg, dir.path() + "/missing/parent/ws/") != 0);
    QVERIFY(!QFileInfo::exists(dir.path() + "/missing"));
    QVERIFY(DecompressZipDec(nullptr, u8(dir.path() + "/x/").constData()) != 0);
    QVERIFY(unpack(dir.path() + "/nothing.vrk", dir.path() + "/x/") != 0);
    QVERIFY(!QFileInfo::exists(dir.path() + "/x"));
}

void TestSupzip::interoperatesWithZipPrograms() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString src = dir.path() + "/src";
    makeTree(src);

    // A package written by the zip program unpacks through the same call.
    const QString byZip = dir.path() + "/byzip.vrk";
    QProcess zip;
    zip.setWorkingDirectory(src);
    zip.start("zip", {"-q", "-r", byZip, "."});
    QVERIFY(zip.waitForFinished(60000));
    QCOMPARE(zip.exitCode(), 0);
    QVERIFY(!isEnc(byZip));
    QCOMPARE(unpack(byZip, dir.path() + "/a/"), 0);
    QCOMPARE(hostile::snapshot(dir.path() + "/a"), hostile::snapshot(src));

    // A plain package of ours passes unzip's own test; an enciphered one still lists.
    const QString plain = dir.path() + "/plain.vrk";
    const QString enc = dir.path() + "/enc.vrk";
    for (const QString& e : QStringList{"meta.json", "image", "c.mp4"}) {
        QCOMPARE(pack(plain, src + "/" + e, 0), 0);
        QCOMPARE(pack(enc, src + "/" + e, 1), 0);
    }
    QByteArray out;
    QCOMPARE(testsupport::runProgram("unzip", {"-tq", plain}, &out), 0);
    QCOMPARE(testsupport::runProgram("unzip", {"-l", enc}, &out), 0);
    QVERIFY(out.contains("image/doc1/1.jpg"));
    QVERIFY(out.contains("c.mp4"));
}

// Reads every file of a package with libzip's own decipherer.
QMap<QString, QByteArray> readWithLibzip(const QString& package, const char* key) {
    QMap<QString, QByteArray> m;
    int err = 0;
    zip_t* za = zip_open(QFile::encodeName(package).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    if (!za) {
        return m;
    }
    zip_set_default_password(za, key);
    for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
        const QString name = QString::fromUtf8(zip_get_name(za, zip_uint64_t(i), 0));
        if (name.endsWith('/')) {
            continue;
        }
        zip_file_t* f = zip_fopen_index(za, zip_uint64_t(i), 0);
        QByteArray data;
        char buf[65536];
        zip_int64_t n = 0;
        while (f && (n = zip_fread(f, buf, sizeof(buf))) > 0) {
            data.append(buf, int(n));
        }
        m.insert(name, (f && n == 0) ? data : QByteArray("<read error>"));
        if (f) {
            zip_fclose(f);
        }
    }
    zip_discard(za);
    return m;
}

void TestSupzip::aesAgreesWithLibzip() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString src = dir.path() + "/src";
    makeTree(src);
    hostile::writeAll(src + "/tiny.txt", "tiny");

    // Our enciphered packages decipher with libzip's independent implementation.
    const QString ours = dir.path() + "/ours.vrk";
    for (const QString& e : QStringList{"meta.json", "image", "tiny.txt", "c.mp4"}) {
        QCOMPARE(pack(ours, src + "/" + e, 1), 0);
    }
    const auto read = readWithLibzip(ours, supzip_package_key());
    QCOMPARE(read.value("c.mp4"), hostile::readAll(src + "/c.mp4"));
    QCOMPARE(read.value("meta.json"), hostile::readAll(src + "/meta.json"));
    QCOMPARE(read.value("tiny.txt"), QByteArray("tiny"));
    QCOMPARE(read.value("image/doc1/notes.txt"), hostile::readAll(src + "/image/doc1/notes.txt"));
    QVERIFY(readWithLibzip(ours, "another key").value("c.mp4") != hostile::readAll(src + "/c.mp4"));

    // libzip's enciphered packages unpack through our decipherer.
    const QString theirs = dir.path() + "/theirs.vrk";
    const QByteArray key(supzip_package_key());
    const QByteArray video = hostile::readAll(src + "/c.mp4");
    const QByteArray meta = hostile::readAll(src + "/meta.json");
    QVERIFY(hostile::writeZip(theirs, {{"meta.json", meta, true, key},
                                       {"c.mp4", video, false, key},
                                       {"image/d/s.txt", "short", true, key}}));
    QCOMPARE(unpack(theirs, dir.path() + "/theirs/"), 0);
    QCOMPARE(hostile::readAll(dir.path() + "/theirs/c.mp4"), video);
    QCOMPARE(hostile::readAll(dir.path() + "/theirs/meta.json"), meta);
    QCOMPARE(hostile::readAll(dir.path() + "/theirs/image/d/s.txt"), QByteArray("short"));

    // One changed byte of cipher text, stored or deflated, fails the whole unpack.
    for (const QByteArray& probe : {video.mid(200000, 32), QByteArray()}) {
        QByteArray b = hostile::readAll(ours);
        int at = -1;
        if (probe.isEmpty()) {
            // Inside meta.json's data: right after its local header and salt.
            at = b.indexOf("meta.json") + 9 + 11 + 18 + 40;
        } else {
            // The cipher text differs from the plain text, so aim by offset: the middle of c.mp4.
            at = b.indexOf("c.mp4") + 5 + 11 + 18 + 200000;
        }
        QVERIFY(at > 0 && at < b.size());
        b[at] = char(b[at] ^ 0x01);
        const QString tampered = dir.path() + "/tampered.vrk";
        QVERIFY(hostile::writeAll(tampered, b));
        QVERIFY(unpack(tampered, dir.path() + "/tampered/") != 0);
        QVERIFY(!QFileInfo::exists(dir.path() + "/tampered"));
    }
}

void TestSupzip::failedAppendRestoresPackage() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pkg = dir.path() + "/p.vrk";
    QVERIFY(hostile::writeZip(pkg, {{"t/z.txt", "existing"}, {"meta.json", hostile::goodMeta(), true}}));
    const QByteArray before = hostile::readAll(pkg);
    const QString t = dir.path() + "/t";
    QDir().mkpath(t);
    hostile::writeAll(t + "/a.mp4", hostile::randomBytes(3 << 20, 9));
    hostile::writeAll(t + "/z.txt", "new");
    // "t/z.txt" is already in the package: the whole addition fails, whatever was written first.
    for (int mode : {0, 1}) {
        QVERIFY(pack(pkg, t, mode) != 0);
        QCOMPARE(hostile::readAll(pkg), before);
    }
    // Adding beside it still works, and both old and new entries read back.
    QCOMPARE(pack(pkg, t + "/a.mp4", 1), 0);
    const QString out = dir.path() + "/out/";
    QCOMPARE(unpack(pkg, out), 0);
    QCOMPARE(hostile::readAll(out + "t/z.txt"), QByteArray("existing"));
    QCOMPARE(hostile::readAll(out + "a.mp4"), hostile::readAll(t + "/a.mp4"));
}

void TestSupzip::hostileCorpusRefused() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString canaryName = "canary";
    const QString canary = dir.path() + "/" + canaryName;
    QDir().mkpath(canary);
    hostile::writeAll(canary + "/keep.txt", "canary");
    const auto canaryBefore = hostile::snapshot(canary);
    const QString parent = dir.path() + "/unpack";
    QDir().mkpath(parent);
    const QString dest = parent + "/ws/";

    const QList<hostile::Case> cases = hostile::corpus(canary, canaryName);
    QVERIFY(cases.size() >= 12);
    int refused = 0;
    for (const hostile::Case& c : cases) {
        const QString pkg = dir.path() + "/" + c.name + ".vrk";
        QVERIFY2(c.build(pkg), qPrintable(c.name));
        const QByteArray pkgBefore = hostile::readAll(pkg);
        const int rc = unpack(pkg, dest);
        if (c.archiveValid) {
            QVERIFY2(rc == 0, qPrintable(c.name));
            QVERIFY(QDir(dest).removeRecursively());
        } else {
            QVERIFY2(rc != 0, qPrintable(c.name));
            ++refused;
        }
        QVERIFY2(QDir(parent).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty(),
                 qPrintable(c.name));
        QVERIFY2(hostile::snapshot(canary) == canaryBefore, qPrintable(c.name));
        QVERIFY2(!QFileInfo::exists(dir.path() + "/evil.txt") && !QFileInfo::exists("/evil.txt"),
                 qPrintable(c.name));
        QCOMPARE(hostile::readAll(pkg), pkgBefore);
    }
    QVERIFY(refused >= 12);
}

QTEST_GUILESS_MAIN(TestSupzip)
#include "tst_supzip.moc"
