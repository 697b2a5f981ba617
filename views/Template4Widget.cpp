#include "Template4Widget.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include "ChatView.h"
#include "PlotView.h"

#include "TemplateViews.h"

void Template4Form::setupUi(QWidget* form) {
    if (form->objectName().isEmpty()) {
        form->setObjectName(QStringLiteral("Template4Form"));
    }
    form->resize(821, 565);
    form->setMinimumSize(QSize(480, 480));
    form->setWindowTitle(Template4Widget::tr("Form"));
    form->setStyleSheet(QStringLiteral("QWidget#Template4Form\n{\nborder-color: rgb(227, 235, 253);\n}"));
    horizontalLayout = new QHBoxLayout(form);
    horizontalLayout->setSpacing(0);
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    verticalLayout = new QVBoxLayout();
    verticalLayout->setSpacing(0);
    verticalLayout->setContentsMargins(0, 0, 0, 0);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    mediaWidget = new QWidget(form);
    templateviews::prepareMediaArea(mediaWidget);
    mediaWidget->setMinimumSize(QSize(166, 114));
    mediaWidget->setMaximumSize(QSize(166, 114));
    mediaWidget->setStyleSheet(templateviews::videoBoxStyle());
    verticalLayout->addWidget(mediaWidget);
    chatWidget = new ChatView(form);
    chatWidget->setObjectName(QStringLiteral("chatWidget"));
    chatWidget->setMinimumSize(QSize(166, 0));
    chatWidget->setMaximumSize(QSize(166, QWIDGETSIZE_MAX));
    verticalLayout->addWidget(chatWidget);
    horizontalLayout->addLayout(verticalLayout);
    plotWidget = new PlotView(form);
    plotWidget->setObjectName(QStringLiteral("plotWidget"));
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHorizontalStretch(0);
    policy.setVerticalStretch(0);
    plotWidget->setSizePolicy(policy);
    plotWidget->setStyleSheet(
        QStringLiteral("QWidget#plotWidget\n{\n\tbackgound-color:rgb(229,242,250);\n}"));
    horizontalLayout->addWidget(plotWidget);
}

Template4Widget::Template4Widget(QWidget* parent) : QWidget(parent) {
    m_form.setupUi(this);
    m_views << m_form.plotWidget << m_form.chatWidget;
}

Template4Widget::~Template4Widget() = default;

void Template4Widget::onDataWrapper(std::shared_ptr<DataWrapper> session) {
    templateviews::forwardDataWrapper(m_views, session);
}

void Template4Widget::onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) {
    templateviews::forwardItem(this, m_views, session, item);
}

void Template4Widget::onItemList(std::shared_ptr<DataWrapper> session,
                                 QList<std::shared_ptr<_VRKItemBase>> items, int kind) {
    templateviews::forwardItemList(m_views, session, items, kind);
}

void Template4Widget::onDataWrapperValue(std::shared_ptr<DataWrapper> session, int value) {
    templateviews::forwardValue(m_views, session, value);
}

WId Template4Widget::mediaWinId() {
    return m_form.mediaWidget->winId();
}

QWidget* Template4Widget::mediaWidget() {
    return m_form.mediaWidget;
}
