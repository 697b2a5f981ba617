// The command-line program: exit codes, the JSON summary and the files it leaves, checked with unzip
// and ffprobe; the present usage (no options) prints no summary.
#include <QtTest>

#include "TestSupport.h"

namespace {

QString taskTool() {
    return QStringLiteral(VRK_BINARY_DIR "/tools/vrk-task");
}

// Duration in ms of the video inside a package, by unzip and ffprobe; -1 when there is none.
qint64 packageVideoMs(const QString& package, const QString& scratch) {
    QByteArray video;
    if (testsupport::runProgram(QStringLiteral("unzip"),
                                {QStringLiteral("-p"), package, QStringLiteral("c.mp4")}, &video) != 0 ||
        video.isEmpty()) {
        return -1;
    }
    QFile f(scratch);
    if (!f.open(QIODevice::WriteOnly) || f.write(video) != video.size()) {
        return -1;
    }
    f.close();
    return testsupport::ffprobeDurationMs(scratch);
}

}  // namespace

class TestVrkTask : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void exitCodesAndSummary_data();
    void exitCodesAndSummary();
    void helpAndExistingOutput();

private:
    QTemporaryDir m_dir;
    QString m_a;  // 6 s
    QString m_b;  // 4 s
};

void TestVrkTask::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_a = m_dir.filePath(QStringLiteral("a.vrk"));
    m_b = m_dir.filePath(QStringLiteral("b.vrk"));
    QVERIFY(
        testsupport::makeSample(m_a, {"--duration", "6", "--size", "160x90", "--gop", "5", "--no-audio"}));
    QVERIFY(testsupport::makeSample(
        m_b, {"--duration", "4", "--size", "160x90", "--gop", "5", "--no-audio", "--seed", "2"}));
}

void TestVrkTask::exitCodesAndSummary_data() {
    QTest::addColumn<QStringList>("args");  // A, B: the samples; OUT: a fresh output; NONE: no file
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("status");  // empty: no --json, nothing printed on stdout
    QTest::addColumn<qint64>("videoMs");  // of the package at OUT; -1: no file there

    QTest::newRow("cut, present usage")
        << QStringList{"cut", "A", "OUT", "1000", "3000"} << 0 << "" << 2000LL;
    QTest::newRow("cut two segments")
        << QStringList{"--json", "cut", "A", "OUT", "0", "1000", "3000", "5000"} << 0 << "done" << 3000LL;
    QTest::newRow("options after the task")
        << QStringList{"cut", "A", "OUT", "2000", "6000", "--json", "--progress"} << 0 << "done" << 4000LL;
    QTest::newRow("merge") << QStringList{"--json", "merge", "OUT", "A", "B"} << 0 << "done" << 10000LL;
    QTest::newRow("end before begin")
        << QStringList{"--json", "cut", "A", "OUT", "3000", "1000"} << 1 << "bad-arguments" << -1LL;
    QTest::newRow("overlapping") << QStringList{"--json", "cut", "A", "OUT", "0", "3000", "2000", "4000"} << 1
                                 << "bad-arguments" << -1LL;
    QTest::newRow("unknown option") << QStringList{"--fast", "--json", "cut", "A", "OUT", "0", "1000"} << 1
                                    << "bad-arguments" << -1LL;
    QTest::newRow("unknown task") << QStringList{"--json", "trim", "A", "OUT"} << 1 << "bad-arguments"
                                  << -1LL;
    QTest::newRow("missing input") << QStringList{"--json", "cut", "NONE", "OUT", "0", "1000"} << 2
                                   << "unreadable" << -1LL;
    QTest::newRow("merge, one missing")
        << QStringList{"--json", "merge", "OUT", "A", "NONE"} << 2 << "unreadable" << -1LL;
}

void TestVrkTask::exitCodesAndSummary() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, status);
    QFETCH(qint64, videoMs);
    static int run = 0;
    const QString out = m_dir.filePath(QStringLiteral("out%1.vrk").arg(++run));
    for (QString& a : args) {
        a = a == "A" ? m_a : a == "B" ? m_b : a == "OUT" ? out : a == "NONE" ? m_dir.filePath("none.vrk") : a;
    }
    QByteArray stdoutText;
    QCOMPARE(testsupport::runProgram(taskTool(), args, &stdoutText), exitCode);

    if (status.isEmpty()) {
        QVERIFY(!stdoutText.contains("exitCode"));
    } else {
        QJsonParseError error;
        const QJsonObject s = QJsonDocument::fromJson(stdoutText, &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, stdoutText.constData());
        QCOMPARE(s.value("exitCode").toInt(-1), exitCode);
        QCOMPARE(s.value("status").toString(), status);
        QCOMPARE(s.value("written").toString(), videoMs >= 0 ? out : QString());
        QCOMPARE(s.value("error").toString().isEmpty(), exitCode == 0);
        if (exitCode != 1) {
            QCOMPARE(s.value("output").toString(), out);
            QVERIFY(!s.value("inputs").toArray().isEmpty());
        }
    }
    if (videoMs < 0) {
        QVERIFY(!QFileInfo::exists(out));
        return;
    }
    const qint64 ms = packageVideoMs(out, m_dir.filePath("probe.mp4"));
    QVERIFY2(qAbs(ms - videoMs) <= 250, qPrintable(QString::number(ms)));
}

void TestVrkTask::helpAndExistingOutput() {
    QByteArray text;
    QCOMPARE(testsupport::runProgram(taskTool(), {"--help"}, &text), 0);
    QVERIFY(text.contains("usage: vrk-task cut IN OUT") && text.contains("Exit status"));

    // An existing file is never replaced; the summary says where the result went.
    const QString taken = m_dir.filePath("taken.vrk");
    QFile f(taken);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("mine") == 4);
    f.close();
    QCOMPARE(testsupport::runProgram(taskTool(), {"--json", "cut", m_a, taken, "0", "1000"}, &text), 0);
    const QString written = QJsonDocument::fromJson(text).object().value("written").toString();
    QVERIFY2(!written.isEmpty() && written != taken, text.constData());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("mine"));
    const qint64 ms = packageVideoMs(written, m_dir.filePath("probe.mp4"));
    QVERIFY2(qAbs(ms - 1000) <= 250, qPrintable(QString::number(ms)));
}

QTEST_GUILESS_MAIN(TestVrkTask)
#include "tst_vrk_task.moc"
