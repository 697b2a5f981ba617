#include "TimeTipLabel.h"

#include <QFontMetrics>

TimeTipLabel::TimeTipLabel(QWidget* window) : QLabel(window) {
    setStyleSheet(
        QStringLiteral("QLabel{border-image:url(:/common/Resources/common/timetips.png);color:white;}"));
    setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    resize(30, 30);
    // The picture's pointer takes the bottom 6 px; the text sits above it.
    setContentsMargins(0, 0, 0, 6);
    hide();
}

void TimeTipLabel::slotShowTimeTips(QPoint globalPoint, QString text) {
    setText(text);
    const int textWidth = fontMetrics().horizontalAdvance(text);
    resize(textWidth + 10, height());
    QPoint p = globalPoint;
    p.ry() -= height() + 5;
    p.rx() -= textWidth / 2;
    QWidget* window = parentWidget();
    if (window) {
        p = window->mapFromGlobal(p);
        if (p.x() < 0) {
            p.setX(0);
        }
        if (p.x() > window->width() - width()) {
            p.setX(window->width() - width());
        }
    }
    move(p);
    show();
    raise();
}

void TimeTipLabel::slotHideTimeTips() {
    hide();
}
