#define FLOG_SOURCE "ui/AppMain"
#include "AppMain.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QLocale>
#include <QTranslator>

#include "DisplayProbe.h"
#include "FLog.h"
#include "IMediaCore.h"
#include "LogSetup.h"
#include "MainWindow.h"
#include "VRK2Mp4.h"
#include "WorkspaceJournal.h"

namespace {
constexpr int kHighDpiThreshold = 1080;
}

int runPlaybackEditTool(int argc, char* argv[]) {
    // Before any thread allocates: an export's threads then share a few heap arenas.
    VRK2Mp4::keepHeapFlat();
    // Scaling must be decided before the application object exists.
    const int vertical = desktopVerticalResolution();
    if (vertical > kHighDpiThreshold) {
        QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    }

    QApplication app(argc, argv);
    // The version the executable was built with (the executable's version record elsewhere).
    if (QCoreApplication::applicationVersion().isEmpty()) {
        QCoreApplication::setApplicationVersion(QStringLiteral(VRK_APP_VERSION));
    }

    initLog();
    // The media engine logs through the same entry point as the rest of the program.
    setLogCallback(flog_log);
    FLOG(FLOG_INFO, "start, desktop vertical resolution %d, high-DPI scaling %s", vertical,
         QCoreApplication::testAttribute(Qt::AA_EnableHighDpiScaling) ? "on" : "off");
    // What killed runs left in the temporary folder and beside their outputs, before any new session.
    WorkspaceJournal::cleanupStale();

    if (QCoreApplication::applicationVersion().isEmpty()) {
        QCoreApplication::setApplicationVersion(QStringLiteral("1.4.1.0"));
    }

    QDir::setCurrent(QCoreApplication::applicationDirPath());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/common/Resources/common/tray_icon.png")));

    // Chinese for a Chinese system language, English otherwise (a country of China with another
    // language keeps that language's choice: English).
    const bool chinese = QLocale::system().language() == QLocale::Chinese;
    const QString translationFile =
        QDir::currentPath() + (chinese ? QStringLiteral("/ch.qm") : QStringLiteral("/en.qm"));
    QTranslator translator;
    translator.load(translationFile);
    if (!translator.isEmpty()) {
        QCoreApplication::installTranslator(&translator);
        FLOG(FLOG_INFO, "translation %s installed", translationFile.toUtf8().constData());
    } else {
        FLOG(FLOG_INFO, "translation %s not loaded, source texts shown",
             translationFile.toUtf8().constData());
    }

    QFile styleFile(QStringLiteral(":/cut/Resources/ch.qss"));
    if (styleFile.open(QIODevice::ReadOnly)) {
        app.setStyleSheet(QString::fromUtf8(styleFile.readAll()));
    }

    int result = 0;
    {
        MainWindow window;
        window.show();
        FLOG(FLOG_INFO, "main window shown: %s", window.windowTitle().toUtf8().constData());
        result = app.exec();
    }
    FLOG(FLOG_INFO, "event loop ended with %d", result);
    return result;
}
