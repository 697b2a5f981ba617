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

Template4Widget::Template4Widget(QWidget* parent) : TemplateWidgetBase(parent) {
    m_form.setupUi(this);
    setViews({m_form.plotWidget, m_form.chatWidget}, m_form.mediaWidget);
}

Template4Widget::~Template4Widget() = default;
