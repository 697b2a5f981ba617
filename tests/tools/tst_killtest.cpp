// Short run of the interruption script: three SIGKILLs each into a cut, a merge and an export.
// The script itself checks the sources, the output paths and the next run; here its verdict and
// its per-task summary are checked.
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

class TestKillTest : public QObject {
    Q_OBJECT
private slots:
    void killedTasksLeaveNoDamage();
};

void TestKillTest::killedTasksLeaveNoDamage() {
    const QString script = QStringLiteral(VRK_SOURCE_DIR "/scripts/killtest.sh");
    const QString task = QStringLiteral(VRK_BINARY_DIR "/tools/vrk-task");
    QVERIFY2(QFileInfo(task).isExecutable(), "vrk-task is not built");
    QTemporaryDir work;
    QVERIFY(work.isValid());

    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("bash"), {script, "--build", QStringLiteral(VRK_BINARY_DIR), "--kills", "3",
                                     "--duration", "6", "--work", work.path() + "/run"});
    QVERIFY(p.waitForStarted(10000));
    const bool ended = p.waitForFinished(170000);
    if (!ended) {
        p.kill();
        p.waitForFinished(5000);
    }
    const QString output = QString::fromUtf8(p.readAll());
    QVERIFY2(ended, qPrintable(output));
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, qPrintable(output));
    QVERIFY2(output.contains("killtest: passed"), qPrintable(output));

    const QRegularExpression line(QStringLiteral(
        "^(cut|merge|export): 3 kills .* output absent (\\d+), complete (\\d+), partial (\\d+);"));
    QSet<QString> modes;
    for (const QString& l : output.split('\n')) {
        const QRegularExpressionMatch m = line.match(l);
        if (!m.hasMatch()) {
            continue;
        }
        modes << m.captured(1);
        QCOMPARE(m.captured(2).toInt() + m.captured(3).toInt(), 3);
        QCOMPARE(m.captured(4).toInt(), 0);
    }
    QCOMPARE(modes, (QSet<QString>{"cut", "merge", "export"}));
    // The script's own folder is removed at its end.
    QVERIFY(!QFileInfo::exists(work.path() + "/run"));
}

QTEST_GUILESS_MAIN(TestKillTest)
#include "tst_killtest.moc"
