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

Template2Widget::Template2Widget(QWidget* parent) : QWidget(parent) {
    m_form.setupUi(this);
    m_views << m_form.qaWidget << m_form.chatWidget;
}

Template2Widget::~Template2Widget() = default;

void Template2Widget::onDataWrapper(std::shared_ptr<DataWrapper> session) {
    templateviews::forwardDataWrapper(m_views, session);
}

void Template2Widget::onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) {
    templateviews::forwardItem(this, m_views, session, item);
}

void Template2Widget::onItemList(std::shared_ptr<DataWrapper> session,
                                 QList<std::shared_ptr<_VRKItemBase>> items, int kind) {
    templateviews::forwardItemList(m_views, session, items, kind);
}

void Template2Widget::onDataWrapperValue(std::shared_ptr<DataWrapper> session, int value) {
    templateviews::forwardValue(m_views, session, value);
}

WId Template2Widget::mediaWinId() {
    return m_form.mediaWidget->winId();
}

QWidget* Template2Widget::mediaWidget() {
    return m_form.mediaWidget;
}
