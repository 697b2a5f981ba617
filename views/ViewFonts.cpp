#define FLOG_SOURCE "views/ViewFonts"
#include "ViewFonts.h"

#include <fontconfig/fontconfig.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QStringList>

#include "FLog.h"

namespace {

bool g_installed = false;
QString g_config_file;

QString findConfigFile() {
    const QString name = QStringLiteral("99-vrk-cjk.conf");
    QStringList candidates;
    if (QCoreApplication::instance()) {
        candidates << QCoreApplication::applicationDirPath() + QStringLiteral("/fonts/") + name;
    }
#ifdef VRK_VIEWS_FONT_DIR
    candidates << QStringLiteral(VRK_VIEWS_FONT_DIR "/") + name;
#endif
    for (const QString& c : candidates) {
        if (QFileInfo::exists(c)) {
            return QDir::cleanPath(c);
        }
    }
    return QString();
}

}  // namespace

void installViewFonts() {
    if (g_installed) {
        return;
    }
    g_installed = true;

    // fontconfig's own aliases also reach Qt's per-script fallback lookups.
    g_config_file = findConfigFile();
    if (!g_config_file.isEmpty()) {
        FcConfig* config = FcConfigGetCurrent();
        const QByteArray path = QFile::encodeName(g_config_file);
        if (!config ||
            !FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>(path.constData()), FcTrue)) {
            FLOG(FLOG_WARN, "fontconfig file not loaded:%s", path.constData());
            g_config_file.clear();
        }
    } else {
        FLOG(FLOG_INFO, "no fontconfig file for CJK aliases; using Qt substitutions only");
    }

    // Qt consults its substitution table first, whatever fontconfig says.
    const QStringList cjk = {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                             QStringLiteral("Droid Sans Fallback")};
    const QStringList families = {QStringLiteral("Microsoft YaHei UI"), QStringLiteral("Microsoft YaHei"),
                                  QString::fromUtf8("微软雅黑"), QStringLiteral("HiraginoSansGB-W3")};
    for (const QString& family : families) {
        QFont::insertSubstitutions(family, cjk);
    }
}

QString viewFontConfigFile() {
    return g_config_file;
}
