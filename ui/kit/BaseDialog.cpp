#include "BaseDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QPainter>
#include <QStyleOption>

// The pictures and the shared style sheet are registered when the program is loaded; this file is
// linked into every program that shows a window of the kit, so the registration lives here.
static int registerShellResources() {
    Q_INIT_RESOURCE(shell);
    return 1;
}
static const int s_shell_resources = registerShellResources();

BaseDialog::BaseDialog(QWidget* parent) : QDialog(parent) {
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
}

void BaseDialog::mousePressEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) &&
        QRect(0, 0, width(), m_drag_strip_height).contains(event->pos())) {
        m_pressed = true;
        m_press_pos = mapToGlobal(event->pos());
        m_window_pos = pos();
    }
}

void BaseDialog::mouseReleaseEvent(QMouseEvent*) {
    m_pressed = false;
}

void BaseDialog::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) && m_pressed) {
        move(m_window_pos + event->globalPos() - m_press_pos);
    }
}

void BaseDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

TitleStrip makeTitleStrip(QWidget* parent, const char* title_name, const QString& title) {
    TitleStrip strip;
    strip.bar = new QWidget(parent);
    strip.bar->setObjectName(QStringLiteral("widget_titlebar"));
    strip.bar->setFixedHeight(30);
    auto* layout = new QHBoxLayout(strip.bar);
    layout->setSpacing(0);
    layout->setContentsMargins(20, 0, 0, 0);
    strip.title = new QLabel(title, strip.bar);
    strip.title->setObjectName(QString::fromLatin1(title_name));
    layout->addWidget(strip.title);
    layout->addStretch(1);
    strip.close = new QPushButton(strip.bar);
    strip.close->setObjectName(QStringLiteral("closeBtn"));
    strip.close->setFixedSize(38, 30);
    strip.close->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(strip.close);
    return strip;
}
