#include "Template1Widget.h"

#include <QHBoxLayout>

#include "TemplateViews.h"

void Template1Form::setupUi(QWidget* form) {
    if (form->objectName().isEmpty()) {
        form->setObjectName(QStringLiteral("Template1Widget"));
    }
    form->resize(575, 446);
    form->setWindowTitle(QStringLiteral("Template1Widget"));
    horizontalLayout = new QHBoxLayout(form);
    horizontalLayout->setSpacing(6);
    horizontalLayout->setContentsMargins(11, 11, 11, 11);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    mediaWidget = new QWidget(form);
    templateviews::prepareMediaArea(mediaWidget);
    mediaWidget->setStyleSheet(templateviews::mediaAreaStyle());
    horizontalLayout->addWidget(mediaWidget);
}

Template1Widget::Template1Widget(QWidget* parent) : QWidget(parent) {
    m_form.setupUi(this);
}

Template1Widget::~Template1Widget() = default;

void Template1Widget::onDataWrapper(std::shared_ptr<DataWrapper> session) {
    templateviews::forwardDataWrapper(m_views, session);
}

void Template1Widget::onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) {
    templateviews::forwardItem(this, m_views, session, item);
}

void Template1Widget::onItemList(std::shared_ptr<DataWrapper> session,
                                 QList<std::shared_ptr<_VRKItemBase>> items, int kind) {
    templateviews::forwardItemList(m_views, session, items, kind);
}

void Template1Widget::onDataWrapperValue(std::shared_ptr<DataWrapper> session, int value) {
    templateviews::forwardValue(m_views, session, value);
}

WId Template1Widget::mediaWinId() {
    return m_form.mediaWidget->winId();
}

QWidget* Template1Widget::mediaWidget() {
    return m_form.mediaWidget;
}
