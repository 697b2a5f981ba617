#pragma once
// Helpers shared by the tests: sample packages from the generator, ffprobe as an independent oracle,
// and snapshots of the temporary folder to catch leaked workspaces.
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace testsupport {

inline QString sampleTool() {
    return QStringLiteral(VRK_BINARY_DIR "/tools/vrk-sample");
}

// Runs a program, returns its exit code (-1 when it could not start or timed out); stdout into *out.
inline int runProgram(const QString& program, const QStringList& args, QByteArray* out = nullptr,
                      int timeoutMs = 300000) {
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000)) {
        return -1;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        return -1;
    }
    if (out) {
        *out = p.readAllStandardOutput();
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Makes a sample package with the generator; extra arguments as the tool takes them
// (e.g. {"--template", "4", "--duration", "20", "--encrypt"}).
inline bool makeSample(const QString& outPath, const QStringList& extraArgs = {}) {
    QStringList args = extraArgs;
    args << QStringLiteral("--out") << outPath;
    return runProgram(sampleTool(), args) == 0 && QFileInfo::exists(outPath);
}

// ffprobe's view of a media file (format and streams); empty object on failure.
inline QJsonObject ffprobe(const QString& path) {
    QByteArray out;
    int rc =
        runProgram(QStringLiteral("ffprobe"),
                   {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_format"),
                    QStringLiteral("-show_streams"), QStringLiteral("-of"), QStringLiteral("json"), path},
                   &out, 60000);
    if (rc != 0) {
        return {};
    }
    return QJsonDocument::fromJson(out).object();
}

// Container duration in ms by ffprobe; -1 on failure.
inline qint64 ffprobeDurationMs(const QString& path) {
    QJsonObject o = ffprobe(path);
    if (o.isEmpty()) {
        return -1;
    }
    bool ok = false;
    double s = o.value(QStringLiteral("format"))
                   .toObject()
                   .value(QStringLiteral("duration"))
                   .toString()
                   .toDouble(&ok);
    return ok ? qint64(s * 1000.0 + 0.5) : -1;
}

// Names directly inside the system temporary folder, to check that nothing is left behind.
inline QSet<QString> tempEntries() {
    QDir d(QStandardPaths::writableLocation(QStandardPaths::TempLocation));
    const QStringList names = d.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    return QSet<QString>(names.begin(), names.end());
}

}  // namespace testsupport
