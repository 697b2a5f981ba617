#include "CSuspensionWidget.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStyleOption>
#include <QTimer>

namespace {
QFont noticeFont() {
    QFont font(CSuspensionWidget::tr("Microsoft YaHei UI"));
    font.setPixelSize(14);
    return font;
}
}  // namespace

CSuspensionWidget::CSuspensionWidget(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("suspensionWidget"));
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAutoFillBackground(true);
    setStyleSheet(
        QStringLiteral("QWidget#suspensionWidget{background-color:#F97979;border:1px solid #FA5B5B;}"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("suspensionWidgetLabel"));
    m_label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    m_label->setFont(noticeFont());
    layout->addWidget(m_label);
    createTimer();
}

void CSuspensionWidget::createTimer() {
    m_hide_timer = new QTimer(this);
    m_hide_timer->setInterval(3000);
    connect(m_hide_timer, &QTimer::timeout, this, &QWidget::hide);
}

void CSuspensionWidget::showText(const QString& text, bool keep) {
    m_label->setText(text);
    if (!m_hide_timer) {
        createTimer();
    }
    if (m_hide_timer->isActive()) {
        m_hide_timer->stop();
    }
    if (keep) {
        delete m_hide_timer;
        m_hide_timer = nullptr;
    } else {
        m_hide_timer->start();
    }
}

void CSuspensionWidget::setInterval(int ms) {
    if (m_hide_timer) {
        m_hide_timer->setInterval(ms);
    }
}

void CSuspensionWidget::stopTimer() {
    if (m_hide_timer) {
        m_hide_timer->stop();
    }
}

QString CSuspensionWidget::text() const {
    return m_label->text();
}

QSize CSuspensionWidget::fitToText() {
    const QString text = m_label->text();
    if (text.isEmpty()) {
        return QSize();
    }
    const QSize size(QFontMetrics(noticeFont()).horizontalAdvance(text) + 46, 44);
    setFixedSize(size);
    return size;
}

void CSuspensionWidget::placeAboveSlider(QWidget* owner) {
    if (!owner || !isVisible()) {
        return;
    }
    QWidget* bar = owner->findChild<QWidget*>(QStringLiteral("widget_slider"));
    if (!bar) {
        return;
    }
    QSize size = fitToText();
    if (!size.isValid()) {
        size = this->size();
    }
    QPoint p = bar->mapTo(owner, QPoint(0, 0));
    if (size.width() < bar->width()) {
        p.rx() += (bar->width() - size.width()) / 2;
    }
    p.ry() -= size.height() + 8;
    setGeometry(QRect(p, size));
    show();
    raise();
}

void CSuspensionWidget::paintEvent(QPaintEvent* event) {
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    QWidget::paintEvent(event);
}
