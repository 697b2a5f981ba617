// The font families named by class content and by the views resolve to a real CJK font.
#include <fontconfig/fontconfig.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QtTest>

#include "ViewFonts.h"

namespace {

// The family fontconfig picks for `family` with the current configuration.
QString fontconfigMatch(const QString& family) {
    const QByteArray name = family.toUtf8();
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.constData()));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    QString out;
    FcChar8* matched = nullptr;
    if (match && FcPatternGetString(match, FC_FAMILY, 0, &matched) == FcResultMatch) {
        out = QString::fromUtf8(reinterpret_cast<const char*>(matched));
    }
    if (match) {
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    return out;
}

}  // namespace

class TestViewFonts : public QObject {
    Q_OBJECT
private slots:
    void aliases() {
        QVERIFY2(QFontDatabase().families().contains(QStringLiteral("WenQuanYi Micro Hei")),
                 "fonts-wqy-microhei is not installed");
        installViewFonts();
        installViewFonts();  // a second call changes nothing
        QVERIFY(viewFontConfigFile().endsWith(QStringLiteral("/99-vrk-cjk.conf")));

        const QStringList families = {QStringLiteral("Microsoft YaHei UI"), QString::fromUtf8("微软雅黑"),
                                      QStringLiteral("HiraginoSansGB-W3")};
        for (const QString& family : families) {
            // fontconfig itself (used for Qt's per-script fallbacks) ...
            QCOMPARE(fontconfigMatch(family), QStringLiteral("WenQuanYi Micro Hei"));
            // ... and Qt's own font matching
            QFont font(family);
            font.setPixelSize(12);
            QCOMPARE(QFontInfo(font).family(), QStringLiteral("WenQuanYi Micro Hei"));
            QVERIFY(QFontMetrics(font).inFontUcs4(0x4E2D));
        }
        // other families are left alone
        QVERIFY(fontconfigMatch(QStringLiteral("DejaVu Sans")) != QStringLiteral("WenQuanYi Micro Hei"));
    }
};

QTEST_MAIN(TestViewFonts)
#include "tst_viewfonts.moc"
