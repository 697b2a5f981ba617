#include "Template2Widget.h"

#include <QHBoxLayout>
#include "ChatView.h"
#include "QuestionAnswerView.h"

#include "TemplateViews.h"

void Template2Form::setupUi(QWidget* form) {
    if (form->objectName().isEmpty()) {
        form->setObjectName(QStringLiteral("Template2Form"));
    }
    form->resize(774, 473);
    form->setWindowTitle(Template2Widget::tr("Form"));
    horizontalLayout = new QHBoxLayout(form);
    horizontalLayout->setSpacing(0);
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    qaWidget = new QuestionAnswerView(form);
    qaWidget->setObjectName(QStringLiteral("qaWidget"));
    qaWidget->setMinimumSize(QSize(166, 0));
    qaWidget->setMaximumSize(QSize(166, QWIDGETSIZE_MAX));
    horizontalLayout->addWidget(qaWidget);
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

Template2Widget::Template2Widget(QWidget* parent) : TemplateWidgetBase(parent) {
    m_form.setupUi(this);
    setViews({m_form.qaWidget, m_form.chatWidget}, m_form.mediaWidget);
}

Template2Widget::~Template2Widget() = default;
