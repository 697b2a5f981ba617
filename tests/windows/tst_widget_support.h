#pragma once
// Helpers of the task-window tests: private user folders, answering modal dialogs the way a user
// would, generated packages and reading results back.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "DataWrapper.h"
#include "JsonResourceParse.h"
#include "TaskSupport.h"
#include "TestSupport.h"
#include "VRKMessageBox.h"

namespace widgettest {

// Points HOME and the XDG folders at a private folder so that settings, logs and default output
// folders never touch the real user's. Call before the application object exists.
inline QString isolateUserDirs() {
    static QTemporaryDir* home =
        new QTemporaryDir(QDir::tempPath() + QStringLiteral("/vrk-widget-home-XXXXXX"));
    const QByteArray root = home->path().toUtf8();
    qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/.config");
    qputenv("XDG_DATA_HOME", root + "/.local/share");
    qputenv("XDG_CACHE_HOME", root + "/.cache");
    qputenv("XDG_DESKTOP_DIR", root + "/Desktop");
    qputenv("XDG_RUNTIME_DIR", root + "/.runtime");
    QDir().mkpath(home->path() + QStringLiteral("/Desktop"));
    QDir().mkpath(home->path() + QStringLiteral("/.runtime"));
    QFile::setPermissions(home->path() + QStringLiteral("/.runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return home->path();
}

inline bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QTest::qWait(20);
    }
    return true;
}

// Text lines and title of a message box.
struct MessageSeen {
    QString text;
    QString title;
};

inline MessageSeen readMessageBox(QWidget* box) {
    MessageSeen seen;
    if (QLabel* title = box->findChild<QLabel*>(QStringLiteral("titleLabel"))) {
        seen.title = title->text();
    }
    if (QWidget* holder = box->findChild<QWidget*>(QStringLiteral("textHolderWidget"))) {
        const QList<QLabel*> lines = holder->findChildren<QLabel*>();
        for (QLabel* line : lines) {
            seen.text += line->text();
        }
    }
    return seen;
}

// Answers the next modal dialogs as they appear: each handler gets the dialog and returns true when
// it dealt with it. Runs from a timer, so it also serves dialogs opened by nested event loops.
class ModalAnswerer : public QObject {
public:
    using Handler = std::function<bool(QWidget*)>;

    ModalAnswerer() {
        connect(&m_timer, &QTimer::timeout, this, [this]() { poll(); });
        m_timer.start(30);
    }
    void expect(Handler handler) { m_handlers.append(std::move(handler)); }
    int pending() const { return m_handlers.size(); }
    QStringList unexpected() const { return m_unexpected; }

    // Picks `path` in the next file dialog ("" cancels it).
    void chooseFile(const QString& path) {
        expect([path](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            if (!dialog) {
                return false;
            }
            if (path.isEmpty()) {
                dialog->reject();
            } else {
                // Typed as a whole path, as a user would; the dialog's own accept checks it.
                auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                if (!edit) {
                    return false;
                }
                edit->setText(path);
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            }
            return true;
        });
    }

    // Reads the next message box into `seen` and closes it with the given button.
    void answerMessage(std::shared_ptr<MessageSeen> seen, const QString& button = QStringLiteral("okBtn")) {
        expect([seen, button](QWidget* w) {
            if (!qobject_cast<VRKMessageBox*>(w)) {
                return false;
            }
            *seen = readMessageBox(w);
            if (auto* b = w->findChild<QAbstractButton*>(button)) {
                b->click();
            }
            return true;
        });
    }

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (m_handlers.isEmpty()) {
            // A message nobody expected is noted and closed, so that a failing test cannot hang.
            if (modal && modal != m_last && qobject_cast<VRKMessageBox*>(modal)) {
                m_unexpected << readMessageBox(modal).text;
                m_last = modal;
                if (auto* ok = modal->findChild<QAbstractButton*>(QStringLiteral("okBtn"))) {
                    ok->click();
                }
            }
            return;
        }
        if (!modal || modal == m_last) {
            return;
        }
        if (m_handlers.first()(modal)) {
            m_last = modal;
            m_handlers.removeFirst();
        }
    }

    QTimer m_timer;
    QList<Handler> m_handlers;
    QPointer<QWidget> m_last;
    QStringList m_unexpected;
};

// A package whose video lasts exactly `ms` milliseconds: the generated sample `base` with its video
// replaced by a tiny 1000 fps one of that length.
inline bool makeExactLengthPackage(const QString& base, qint64 ms, const QString& out) {
    QTemporaryDir dir;
    if (testsupport::runProgram(QStringLiteral("unzip"),
                                {QStringLiteral("-q"), base, QStringLiteral("-d"), dir.path()}) != 0) {
        return false;
    }
    const QString video = dir.path() + QStringLiteral("/c.mp4");
    QFile::remove(video);
    const QString source = QStringLiteral("color=c=blue:s=32x32:r=1000:d=%1.%2")
                               .arg(ms / 1000)
                               .arg(ms % 1000, 3, 10, QLatin1Char('0'));
    if (testsupport::runProgram(
            QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
             QStringLiteral("lavfi"), QStringLiteral("-i"), source, QStringLiteral("-c:v"),
             QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("ultrafast"),
             QStringLiteral("-g"), QStringLiteral("100000"), video}) != 0) {
        return false;
    }
    QFile::remove(out);
    QProcess zip;
    zip.setWorkingDirectory(dir.path());
    zip.start(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("-r"), out, QStringLiteral(".")});
    return zip.waitForFinished(120000) && zip.exitCode() == 0 && QFileInfo::exists(out);
}

// Reads a package with the session's reader; null when it cannot be read.
inline std::shared_ptr<DataWrapper> readPackage(const QString& path) {
    auto session = std::make_shared<DataWrapper>();
    if (readPackageAndWait(session, path, false) != 0 || !session->getRootItem()) {
        return nullptr;
    }
    return session;
}

// meta.json of a package as the reader sees it, without unpacking the rest.
inline std::shared_ptr<_RootItem> readMeta(const QString& package) {
    QByteArray bytes;
    if (testsupport::runProgram(QStringLiteral("unzip"),
                                {QStringLiteral("-p"), package, QStringLiteral("meta.json")}, &bytes) != 0) {
        return nullptr;
    }
    return JsonResourceParse::parseBytes(bytes);
}

}  // namespace widgettest
