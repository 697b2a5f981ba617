#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Playback edit tool " VRK_APP_VERSION));
    label.show();
    return app.exec();
}
