#pragma once
// Test entry for the shell's widget tests: the settings and logs go to a private temporary home, never
// into the real user's data directories.
#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace shelltest {

inline void useTemporaryHome(const QTemporaryDir& home) {
    const QByteArray h = home.path().toLocal8Bit();
    qputenv("HOME", h);
    qputenv("XDG_DATA_HOME", h + "/.local/share");
    qputenv("XDG_CONFIG_HOME", h + "/.config");
    qputenv("XDG_CACHE_HOME", h + "/.cache");
}

// Polls until `find` returns a widget (up to ~30 s), then hands it to `act`. Used to answer the modal
// dialogs and menus that the code under test opens and waits on. Delete the returned timer to stop
// waiting when nothing came.
template <typename T, typename Find, typename Act>
QPointer<QTimer> whenShown(Find find, Act act) {
    auto* timer = new QTimer();
    auto* tries = new int(0);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, find, act]() {
        T* w = find();
        if (w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            delete tries;
            act(w);
        } else if (++(*tries) > 1500) {
            timer->stop();
            timer->deleteLater();
            delete tries;
        }
    });
    timer->start(20);
    return QPointer<QTimer>(timer);
}

inline void stopWaiting(QPointer<QTimer> timer) {
    if (timer) {
        timer->stop();
        timer->deleteLater();
    }
}

}  // namespace shelltest

#define SHELL_TEST_MAIN(TestObject)              \
    int main(int argc, char* argv[]) {           \
        QTemporaryDir home;                      \
        shelltest::useTemporaryHome(home);       \
        QApplication app(argc, argv);            \
        app.setAttribute(Qt::AA_Use96Dpi, true); \
        TestObject tc;                           \
        QTEST_SET_MAIN_SOURCE_PATH               \
        return QTest::qExec(&tc, argc, argv);    \
    }
