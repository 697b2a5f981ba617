// An installed copy of the program has everything it reads at run time: the chat's emoticon pictures
// (every code the sample packages use among them) and the font set-up, and shows real pictures.
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QHash>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include "ChatView.h"
#include "ResourceItem.h"
#include "TestSupport.h"

class InstallTest : public QObject {
    Q_OBJECT
private slots:
    void installedCopyShowsEmoticons();
};

namespace {

// The folder holding the installed executable (the link in bin/ excluded).
QString installedProgramDir(const QString& prefix) {
    QDirIterator it(prefix, {QStringLiteral("playback-edit-tool")}, QDir::Files | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    return it.hasNext() ? QFileInfo(it.next()).absolutePath() : QString();
}

// The most frequent opaque colour of a picture: the face of an emoticon.
QRgb mainColour(const QImage& picture) {
    QHash<QRgb, int> counts;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (qAlpha(picture.pixel(x, y)) == 255) {
                ++counts[picture.pixel(x, y)];
            }
        }
    }
    QRgb best = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > counts.value(best)) {
            best = it.key();
        }
    }
    return best;
}

int pixelsNear(const QImage& image, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            n += qAbs(qRed(p) - qRed(colour)) + qAbs(qGreen(p) - qGreen(colour)) +
                     qAbs(qBlue(p) - qBlue(colour)) <
                 24;
        }
    }
    return n;
}

}  // namespace

void InstallTest::installedCopyShowsEmoticons() {
    // scripts/deb-check.sh points VRK_INSTALLED_PROGRAM_DIR at the folder the Debian package installed.
    QString program = qEnvironmentVariable("VRK_INSTALLED_PROGRAM_DIR");
    QTemporaryDir prefix;
    if (program.isEmpty()) {
        QVERIFY(prefix.isValid());
        QCOMPARE(testsupport::runProgram(QStringLiteral(VRK_CMAKE_COMMAND),
                                         {QStringLiteral("--install"), QStringLiteral(VRK_BINARY_DIR),
                                          QStringLiteral("--prefix"), prefix.path()}),
                 0);
        program = installedProgramDir(prefix.path());
    }
    QVERIFY(!program.isEmpty());
    QVERIFY(QFileInfo::exists(program + QStringLiteral("/fonts/99-vrk-cjk.conf")));

    // Every emoticon code of a sample package has its picture.
    QTemporaryDir work;
    const QString sample = work.filePath(QStringLiteral("s.vrk"));
    QVERIFY(testsupport::makeSample(sample, {"--duration", "8", "--size", "160x90", "--no-audio"}));
    QByteArray meta;
    QCOMPARE(testsupport::runProgram(QStringLiteral("unzip"),
                                     {QStringLiteral("-p"), sample, QStringLiteral("meta.json")}, &meta),
             0);
    QRegularExpressionMatchIterator codes =
        QRegularExpression(QStringLiteral("\\[em\\d_\\d+\\]")).globalMatch(QString::fromUtf8(meta));
    int codeCount = 0;
    while (codes.hasNext()) {
        const QString code = codes.next().captured(0);
        QVERIFY2(QFileInfo::exists(program + QStringLiteral("/expression/") + code + QStringLiteral(".png")),
                 qPrintable(code));
        ++codeCount;
    }
    QVERIFY(codeCount > 0);

    // Run from the installed folder, as the program does, the chat shows the picture itself.
    QVERIFY(QDir::setCurrent(program));
    const QImage picture(QStringLiteral("expression/[em2_1].png"));
    QVERIFY(!picture.isNull());
    const QRgb face = mainColour(picture.scaled(20, 20, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    ChatView view;
    view.resize(166, 200);
    auto chat = std::make_shared<_ChatLogItem>();
    chat->userRole = QStringLiteral("student");
    chat->userName = QStringLiteral("Lucy");
    chat->content = QStringLiteral("[em2_1]");
    view.onItem(nullptr, chat);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QImage shown = view.textBrowser()->viewport()->grab().toImage();
    // A 20 x 20 face is mostly its face colour; the broken-image placeholder has none of it.
    QVERIFY2(pixelsNear(shown, face) > 100, qPrintable(QString::number(pixelsNear(shown, face))));
}

QTEST_MAIN(InstallTest)
#include "tst_install.moc"
