// Screenshots of the export window and of a frame of an exported video.
// Usage: vrk-export-shots --out-dir DIR [--sample-tool PATH] [--program-dir DIR]   (under a display,
// e.g. xvfb-run -a)
// Writes DIR/export-window.png and DIR/export-frame.png (template 5 at 1280x720, 6 s into the video).
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include "VRK2Mp4.h"
#include "VRK2Mp4Widget.h"

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        qunsetenv("QT_QPA_PLATFORM");  // OpenGL needs a real display
    }
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({"out-dir", "folder of the pictures", "dir", "."});
    parser.addOption({"sample-tool", "package generator", "path", VRK_SAMPLE_TOOL});
    parser.addOption(
        {"program-dir", "program directory, where the emoticon pictures are", "dir", VRK_PROGRAM_DIR});
    parser.process(app);
    const QDir out(QDir(parser.value("out-dir")).absolutePath());
    const QString sampleTool = QFileInfo(parser.value("sample-tool")).absoluteFilePath();
    // The chat reads "expression/<code>.png" relative to the working directory, as the program does.
    if (!QDir::setCurrent(parser.value("program-dir"))) {
        fprintf(stderr, "cannot enter %s\n", qPrintable(parser.value("program-dir")));
        return 1;
    }
    QTemporaryDir work;
    const QString package = work.filePath("class.vrk");
    if (QProcess::execute(sampleTool, {"--template", "5", "--duration", "10", "--size", "640x360", "--out",
                                       package}) != 0) {
        fprintf(stderr, "cannot make the sample package\n");
        return 1;
    }

    VRK2Mp4Widget window;
    window.form()->lineEditFile->setText(QStringLiteral("/home/teacher/Desktop/class.vrk"));
    window.form()->lineEditFileOutputPath->setText(QStringLiteral("/home/teacher/Desktop/class.mp4"));
    window.show();
    QApplication::processEvents();
    if (!window.grab().save(out.filePath("export-window.png"))) {
        fprintf(stderr, "cannot write export-window.png\n");
        return 1;
    }
    window.hide();

    auto param = std::make_shared<_RecordParam>();
    param->width = 1280;
    param->height = 720;
    param->bitrate = 1500;
    VRK2Mp4 exporter;
    exporter.prepare(param);
    QEventLoop loop;
    bool read = false;
    exporter.openPackage(package, [&](int) {
        QMetaObject::invokeMethod(qApp, [&] {
            read = true;
            loop.quit();
        });
    });
    if (!read) {
        loop.exec();
    }
    QObject::connect(&exporter, &VRK2Mp4::signalConvertFinished, &loop, &QEventLoop::quit,
                     Qt::QueuedConnection);
    const QString video = work.filePath("class.mp4");
    if (exporter.startConvert(video) != 0) {
        fprintf(stderr, "the export did not start\n");
        return 1;
    }
    loop.exec();
    if (exporter.errorCode() != 0 ||
        QProcess::execute("ffmpeg", {"-v", "error", "-y", "-ss", "6", "-i", video, "-frames:v", "1",
                                     out.filePath("export-frame.png")}) != 0) {
        fprintf(stderr, "cannot take the frame picture\n");
        return 1;
    }
    return 0;
}
