#include "CustomSlider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>

#include "CustomTime.h"

CustomSlider::CustomSlider(QWidget* parent) : QWidget(parent) {
    if (objectName().isEmpty()) {
        setObjectName(QStringLiteral("CustomSlider"));
    }
    resize(400, 300);
    setWindowTitle(QStringLiteral("CustomSlider"));
    setMouseTracking(true);
}

void CustomSlider::setDuration(qint64 ms) {
    m_duration = ms;
}

void CustomSlider::setPosition(qint64 ms) {
    m_position = ms;
    update();
}

void CustomSlider::setRange(std::shared_ptr<_Segment> range) {
    m_range = std::move(range);
}

void CustomSlider::setPlayingState(bool playing) {
    m_bPlayingState = !playing;
}

void CustomSlider::setKeptSegments(const QVector<QPair<qint64, qint64>>& spans) {
    m_kept = spans;
    update();
}

void CustomSlider::reset() {
    m_kept.clear();
    m_position = 0;
    m_range.reset();
    m_pressed = false;
    m_duration = 0;
    update();
}

int CustomSlider::msToPixel(qint64 ms) const {
    // Without a length there is no scale; everything sits at the left edge.
    if (m_duration <= 0) {
        return 0;
    }
    return static_cast<int>(std::trunc(static_cast<double>(ms) / static_cast<double>(m_duration) * width()));
}

qint64 CustomSlider::pixelToMs(int x) const {
    if (width() <= 0) {
        return 0;
    }
    return static_cast<qint64>(
        std::trunc(static_cast<double>(x) / width() * static_cast<double>(m_duration)));
}

bool CustomSlider::insideRange(int x) const {
    return m_range && x >= msToPixel(m_range->begin_time) && x <= msToPixel(m_range->end_time);
}

void CustomSlider::mousePressEvent(QMouseEvent* event) {
    m_pressed = true;
    emit signalStopPlaying(true);
    QWidget::mousePressEvent(event);
}

void CustomSlider::mouseMoveEvent(QMouseEvent* event) {
    const int x = event->pos().x();
    if (m_pressed) {
        if (insideRange(x) && pixelToMs(x) != m_position) {
            m_position = pixelToMs(x);
            emit signalDragPosition(m_position);
        }
        update();
    } else if (std::abs(x - msToPixel(m_position)) <= 2) {
        setCursor(Qt::SizeHorCursor);
    } else {
        setCursor(Qt::ArrowCursor);
    }
    if (x >= 0 && x <= width()) {
        const QPoint point(event->globalPos().x(), mapToGlobal(QPoint(0, 0)).y());
        emit signalShowTimeTips(point, _CustomTime(pixelToMs(x)).toString());
    }
    QWidget::mouseMoveEvent(event);
}

void CustomSlider::mouseReleaseEvent(QMouseEvent* event) {
    setCursor(Qt::ArrowCursor);
    m_pressed = false;
    if (m_range) {
        const int x = event->pos().x();
        if (insideRange(x)) {
            m_position = pixelToMs(x);
        }
        emit signalCurrentPosition(m_position);
        emit signalStopPlaying(m_bPlayingState);
        update();
    }
    QWidget::mouseReleaseEvent(event);
}

void CustomSlider::leaveEvent(QEvent* event) {
    emit signalHideTimeTips();
    QWidget::leaveEvent(event);
}

void CustomSlider::wheelEvent(QWheelEvent* event) {
    const int notches = event->angleDelta().y() / 120;
    if (!m_range || notches == 0 || m_pressed) {
        QWidget::wheelEvent(event);
        return;
    }
    // Turning the wheel towards the user moves forward, as on most timelines.
    const qint64 target = qBound(m_range->begin_time, m_position - notches * kWheelStepMs, m_range->end_time);
    event->accept();
    if (target != m_position) {
        m_position = target;
        update();
        emit signalCurrentPosition(m_position);
    }
}

void CustomSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(Qt::NoPen);
    painter.fillRect(rect(), QColor(75, 169, 250));
    for (const auto& span : qAsConst(m_kept)) {
        const int left = msToPixel(span.first);
        const int right = qMax(left + 1, msToPixel(span.second));
        painter.fillRect(QRect(left, 0, right - left, height()), keptColor());
    }
    if (m_range) {
        const int x = msToPixel(m_position);
        painter.setPen(QPen(QColor(255, 137, 36), 4));
        painter.drawLine(x, 0, x, height());
    }
}
