// Screenshots of the six layout templates playing generated sample packages.
// Usage: vrk-template-shots [--out-dir DIR] [--sample-tool PATH] [--duration S] [--at PERCENT]
//                           [--program-dir DIR]
// For each template N it generates a package with the sample tool, reads it through a session,
// seeks the session to the given share of the video, paints the video frame of that moment into
// the video area (as the media engine would) and saves DIR/templateN.png.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <cstdio>

#include "DataWrapper.h"
#include "TemplateFactory.h"
#include "ViewFonts.h"

namespace {

bool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000) || !p.waitForFinished(300000)) {
        return false;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
        return false;
    }
    return true;
}

void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool shoot(int type, const QString& tool, const QString& outDir, int duration, int percent) {
    QTemporaryDir tmp;
    const QString package = tmp.filePath(QStringLiteral("t%1.vrk").arg(type));
    if (!run(tool, {"--template", QString::number(type), "--duration", QString::number(duration), "--size",
                    "640x360", "--out", package})) {
        return false;
    }
    auto session = std::make_shared<DataWrapper>();
    std::atomic<int> result{1};
    QEventLoop wait;
    if (session->readFile(package, [&](int code) {
            result = code;
            QMetaObject::invokeMethod(&wait, "quit", Qt::QueuedConnection);
        }) != 0) {
        return false;
    }
    if (result == 1) {
        wait.exec();
    }
    if (result != 0 || !session->getRootItem()) {
        std::fprintf(stderr, "package %s not read\n", qPrintable(package));
        return false;
    }

    TemplateInterface* tpl = createTemplate(session);
    auto* widget = dynamic_cast<QWidget*>(tpl);
    widget->setAttribute(Qt::WA_DontShowOnScreen, true);
    widget->show();
    session->connectSignals();
    const qint64 at = qint64(duration) * 1000 * percent / 100;
    session->OnSeek(at);
    spin(800);

    // The video frame of that moment, where the engine would render it.
    const QString frame = tmp.filePath(QStringLiteral("frame.png"));
    if (run(QStringLiteral("ffmpeg"), {"-v", "error", "-y", "-ss", QString::number(at / 1000.0, 'f', 3), "-i",
                                       session->getRootItem()->video_path, "-frames:v", "1", frame})) {
        QWidget* media = tpl->mediaWidget();
        auto* layout = new QVBoxLayout(media);
        layout->setContentsMargins(1, 1, 1, 1);
        auto* picture = new QLabel(media);
        picture->setAlignment(Qt::AlignCenter);
        picture->setStyleSheet(QStringLiteral("background:black;border:none;"));
        const QSize box = media->size() - QSize(2, 2);
        picture->setPixmap(QPixmap(frame).scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        layout->addWidget(picture);
        picture->show();
        spin(100);
    }

    const QString out = QDir(outDir).filePath(QStringLiteral("template%1.png").arg(type));
    const bool saved = widget->grab().save(out);
    std::printf("%s %s\n", qPrintable(out), saved ? "written" : "NOT written");
    session->setObserver(nullptr);
    delete widget;
    return saved;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    installViewFonts();
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"out-dir", "Directory for template<N>.png.", "dir", QStringLiteral("docs")});
    parser.addOption({"sample-tool", "The vrk-sample program.", "path",
                      QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/vrk-sample")});
    parser.addOption({"duration", "Video length of the samples in seconds.", "s", QStringLiteral("30")});
    parser.addOption({"at", "Moment shown, in percent of the video.", "percent", QStringLiteral("80")});
    parser.addOption({"program-dir", "Program directory, where the emoticon pictures are.", "dir",
                      QStringLiteral(VRK_PROGRAM_DIR)});
    parser.process(app);
    const QString outDir = QDir(parser.value("out-dir")).absolutePath();
    const QString sampleTool = QFileInfo(parser.value("sample-tool")).absoluteFilePath();
    QDir().mkpath(outDir);
    // The chat reads "expression/<code>.png" relative to the working directory, as the program does
    // from its own directory.
    if (!QDir::setCurrent(parser.value("program-dir"))) {
        std::fprintf(stderr, "cannot enter %s\n", qPrintable(parser.value("program-dir")));
        return 1;
    }
    bool ok = true;
    for (int type = 1; type <= 6; ++type) {
        ok = shoot(type, sampleTool, outDir, parser.value("duration").toInt(), parser.value("at").toInt()) &&
             ok;
    }
    return ok ? 0 : 1;
}
