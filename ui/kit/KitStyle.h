#pragma once
// The shared look of every window: title strip, close button, primary and secondary buttons.
// Each function returns a style sheet rule for the given selector (e.g. "#closeBtn").
#include <QString>

namespace KitStyle {

inline QString titleStrip(const QString& selector) {
    return selector + QStringLiteral("{background:#41464c;}");
}

inline QString titleLabel(const QString& selector) {
    return selector +
           QStringLiteral(
               "{color:rgba(255,255,255,200);font:12px \"Microsoft YaHei\";background:transparent;}");
}

inline QString closeButton(const QString& selector) {
    return selector +
           QStringLiteral(
               "{background:transparent;border:none;"
               "image:url(:/common/Resources/common/close_nor.png);image-position:center;}") +
           selector + QStringLiteral(":hover{image:url(:/common/Resources/common/close_hov.png);}") +
           selector + QStringLiteral(":disabled{image:url(:/common/Resources/common/close_ban.png);}");
}

inline QString secondaryButton(const QString& selector) {
    return selector +
           QStringLiteral(
               "{background:#f4f5f5;border:1px solid #aaaaaa;border-radius:1px;color:#333333;"
               "font:12px \"Microsoft YaHei\";}") +
           selector + QStringLiteral(":hover{background:#d7ebfd;}") + selector +
           QStringLiteral(":disabled{background:#f9f9f9;border:1px solid #dddddd;color:#999999;}");
}

inline QString primaryButton(const QString& selector) {
    return selector +
           QStringLiteral(
               "{background:#2490eb;color:white;font:12px \"HiraginoSansGB-W3\";border-radius:1px;"
               "border:none;text-align:center;}") +
           selector + QStringLiteral(":hover{background:#1983DC;}") + selector +
           QStringLiteral(":disabled{background:#56A8ED;}");
}

// Three-state picture button ("_nor", "_hov", "_ban" suffixes) for a picture path prefix
// such as ":/mainWindow/Resources/mainWindow/min".
inline QString pictureButton(const QString& selector, const QString& prefix) {
    return selector +
           QStringLiteral("{background:transparent;border:none;image:url(%1_nor.png);}").arg(prefix) +
           selector + QStringLiteral(":hover{image:url(%1_hov.png);}").arg(prefix) + selector +
           QStringLiteral(":disabled{image:url(%1_ban.png);}").arg(prefix);
}

inline QString bodyText(const QString& selector) {
    return selector + QStringLiteral("{color:#333333;font:12px \"Microsoft YaHei\";}");
}

}  // namespace KitStyle
