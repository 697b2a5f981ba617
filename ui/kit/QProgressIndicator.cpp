#include "QProgressIndicator.h"

#include <QPainter>
#include <QTimerEvent>

QProgressIndicator::QProgressIndicator(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);
}

QSize QProgressIndicator::sizeHint() const {
    return QSize(20, 20);
}

int QProgressIndicator::heightForWidth(int w) const {
    return w;
}

void QProgressIndicator::startAnimation() {
    m_angle = 0;
    if (m_timer_id == -1) {
        m_timer_id = startTimer(m_delay);
    }
}

void QProgressIndicator::stopAnimation() {
    if (m_timer_id != -1) {
        killTimer(m_timer_id);
    }
    m_timer_id = -1;
    update();
}

void QProgressIndicator::setAnimationDelay(int delay) {
    const bool running = m_timer_id != -1;
    if (running) {
        killTimer(m_timer_id);
        m_timer_id = -1;
    }
    m_delay = delay;
    if (running) {
        m_timer_id = startTimer(m_delay);
    }
}

void QProgressIndicator::setDisplayedWhenStopped(bool state) {
    m_displayed_when_stopped = state;
    update();
}

void QProgressIndicator::setColor(const QColor& color) {
    m_color = color;
    update();
}

void QProgressIndicator::timerEvent(QTimerEvent*) {
    m_angle = (m_angle + 30) % 360;
    update();
}

void QProgressIndicator::paintEvent(QPaintEvent*) {
    if (!m_displayed_when_stopped && !isAnimated()) {
        return;
    }
    const int w = qMin(width(), height());
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    const int outerRadius = int((w - 1) * 0.5);
    const int innerRadius = int((w - 1) * 0.5 * 0.38);
    const int capsuleHeight = outerRadius - innerRadius;
    const int capsuleWidth = int(w > 32 ? capsuleHeight * 0.23 : capsuleHeight * 0.35);
    const int capsuleRadius = capsuleWidth / 2;

    for (int i = 0; i < 12; ++i) {
        QColor color = m_color;
        color.setAlphaF(1.0 - (i / 12.0));
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.save();
        p.translate(rect().center());
        p.rotate(m_angle - i * 30.0);
        p.drawRoundedRect(
            QRectF(-capsuleWidth * 0.5, -(innerRadius + capsuleHeight), capsuleWidth, capsuleHeight),
            capsuleRadius, capsuleRadius);
        p.restore();
    }
}
