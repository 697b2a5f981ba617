#pragma once
// Chinese text in the views is set in "Microsoft YaHei UI" / "微软雅黑", which do not exist on Linux.
// These helpers map those family names onto an installed CJK font for this process.
#include <QString>

// Loads the shipped fontconfig aliases and registers Qt font substitutions. Safe to call more than
// once; needs a QGuiApplication. The views call it themselves; the application may call it early.
void installViewFonts();

// Path of the shipped fontconfig file that was loaded, empty when none was found.
QString viewFontConfigFile();
