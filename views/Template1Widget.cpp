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

Template1Widget::Template1Widget(QWidget* parent) : TemplateWidgetBase(parent) {
    m_form.setupUi(this);
    setViews({}, m_form.mediaWidget);
}

Template1Widget::~Template1Widget() = default;
