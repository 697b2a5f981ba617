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

Template3Widget::Template3Widget(QWidget* parent) : QWidget(parent) {
    m_form.setupUi(this);
    m_views << m_form.chatWidget;
}

Template3Widget::~Template3Widget() = default;

void Template3Widget::onDataWrapper(std::shared_ptr<DataWrapper> session) {
    templateviews::forwardDataWrapper(m_views, session);
}

void Template3Widget::onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) {
    templateviews::forwardItem(this, m_views, session, item);
}

void Template3Widget::onItemList(std::shared_ptr<DataWrapper> session,
                                 QList<std::shared_ptr<_VRKItemBase>> items, int kind) {
    templateviews::forwardItemList(m_views, session, items, kind);
}

void Template3Widget::onDataWrapperValue(std::shared_ptr<DataWrapper> session, int value) {
    templateviews::forwardValue(m_views, session, value);
}

WId Template3Widget::mediaWinId() {
    return m_form.mediaWidget->winId();
}

QWidget* Template3Widget::mediaWidget() {
    return m_form.mediaWidget;
}
