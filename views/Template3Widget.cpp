#include "Template3Widget.h"

#include <QHBoxLayout>
#include "ChatView.h"

#include "TemplateViews.h"

void Template3Form::setupUi(QWidget* form) {
    if (form->objectName().isEmpty()) {
        form->setObjectName(QStringLiteral("Template3Form"));
    }
    form->resize(786, 517);
    form->setMinimumSize(QSize(480, 480));
    form->setWindowTitle(Template3Widget::tr("Form"));
    horizontalLayout = new QHBoxLayout(form);
    horizontalLayout->setSpacing(0);
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    mediaWidget = new QWidget(form);
    templateviews::prepareMediaArea(mediaWidget);
    mediaWidget->setStyleSheet(templateviews::mediaAreaStyle());
    horizontalLayout->addWidget(mediaWidget);
    chatWidget = new ChatView(form);
    chatWidget->setObjectName(QStringLiteral("chatWidget"));
    chatWidget->setMinimumSize(QSize(166, 0));
    chatWidget->setMaximumSize(QSize(166, QWIDGETSIZE_MAX));
    horizontalLayout->addWidget(chatWidget);
}

Template3Widget::Template3Widget(QWidget* parent) : TemplateWidgetBase(parent) {
    m_form.setupUi(this);
    setViews({m_form.chatWidget}, m_form.mediaWidget);
}

Template3Widget::~Template3Widget() = default;
