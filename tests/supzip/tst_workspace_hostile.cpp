// Opening hostile or broken packages through the workspace: every one fails cleanly, nothing
// outside the workspace changes, and nothing is left in the temporary folder.
#include <QtTest>

#include "FileHandler.h"
#include "WorkspaceJournal.h"
#include "HostileZips.h"

class TestWorkspaceHostile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void hostilePackagesFailCleanly();
    void goodPackageStillOpens();

private:
    QTemporaryDir m_base;
    QString m_tmp;
};

void TestWorkspaceHostile::initTestCase() {
    QVERIFY(m_base.isValid());
    // A private temporary location, so that the check for leftovers is exact.
    m_tmp = m_base.path() + "/tmp";
    QVERIFY(QDir().mkpath(m_tmp));
    qputenv("TMPDIR", QFile::encodeName(m_tmp));
    QCOMPARE(QStandardPaths::standardLocations(QStandardPaths::TempLocation).value(0), m_tmp);
}

void TestWorkspaceHostile::hostilePackagesFailCleanly() {
    // Workspaces are m_base/tmp/<name>/, so "../../canary" from inside one is this folder.
    const QString canary = m_base.path() + "/canary";
    QVERIFY(QDir().mkpath(canary + "/sub"));
    hostile::writeAll(canary + "/keep.txt", "canary");
    hostile::writeAll(canary + "/sub/keep2.txt", "canary 2");
    const auto canaryBefore = hostile::snapshot(canary);
    const QString packages = m_base.path() + "/packages";
    QVERIFY(QDir().mkpath(packages));

    const QList<hostile::Case> cases = hostile::corpus(canary, "canary");
    QVERIFY(cases.size() >= 12);
    FileHandler fh;
    for (const hostile::Case& c : cases) {
        const QString pkg = packages + "/" + c.name + ".vrk";
        QVERIFY2(c.build(pkg), qPrintable(c.name));
        const QByteArray pkgBefore = hostile::readAll(pkg);

        std::shared_ptr<_RootItem> root = fh.decompress(pkg);
        QVERIFY2(!root, qPrintable(c.name));
        QVERIFY2(QDir(m_tmp)
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
                     .isEmpty(),
                 qPrintable(c.name));
        QVERIFY2(hostile::snapshot(canary) == canaryBefore, qPrintable(c.name));
        QVERIFY2(!QFileInfo::exists(m_base.path() + "/evil.txt"), qPrintable(c.name));
        QCOMPARE(hostile::readAll(pkg), pkgBefore);
    }
    // Only the packages and the canary are in the test folder: nothing landed beside them.
    QStringList top = QDir(m_base.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    top.sort();
    QCOMPARE(top, (QStringList{"canary", "packages", "tmp"}));
}

void TestWorkspaceHostile::goodPackageStillOpens() {
    // The same handler opens a sound package after all the refusals.
    const QString pkg = m_base.path() + "/good.vrk";
    QVERIFY(hostile::writeZip(pkg, {{"meta.json", hostile::goodMeta(), true}, {"c.mp4", "video"}}));
    QString workspace;
    {
        FileHandler fh;
        std::shared_ptr<_RootItem> root = fh.decompress(pkg);
        QVERIFY(root);
        QCOMPARE(hostile::readAll(root->video_path), QByteArray("video"));
        QCOMPARE(int(root->datas->room_item->templateType), 1);
        workspace = root->tmp_path;
        QVERIFY(QFileInfo(workspace).isDir());
        // The edit directory is the session's to remove, after taking it off the process's journal.
        WorkspaceJournal::release(root->tmp_edit_path);
        QDir(root->tmp_edit_path).removeRecursively();
    }
    QVERIFY(!QFileInfo::exists(workspace));
    const QStringList left = QDir(m_tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
}

QTEST_GUILESS_MAIN(TestWorkspaceHostile)
#include "tst_workspace_hostile.moc"
