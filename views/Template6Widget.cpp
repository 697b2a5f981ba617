#include "Template6Widget.h"

#include <QHBoxLayout>
#include "QuestionAnswerView.h"

#include "TemplateViews.h"

void Template6Form::setupUi(QWidget* form) {
    if (form->objectName().isEmpty()) {
        form->setObjectName(QStringLiteral("Template6Form"));
    }
    form->resize(780, 480);
    form->setMinimumSize(QSize(480, 480));
    form->setWindowTitle(Template6Widget::tr("Form"));
    horizontalLayout = new QHBoxLayout(form);
    horizontalLayout->setSpacing(0);
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    mediaWidget = new QWidget(form);
    templateviews::prepareMediaArea(mediaWidget);
    mediaWidget->setStyleSheet(templateviews::mediaAreaStyle());
    horizontalLayout->addWidget(mediaWidget);
    qaWidget = new QuestionAnswerView(form);
    qaWidget->setObjectName(QStringLiteral("qaWidget"));
    qaWidget->setMinimumSize(QSize(166, 0));
    qaWidget->setMaximumSize(QSize(166, QWIDGETSIZE_MAX));
    horizontalLayout->addWidget(qaWidget);
}

Template6Widget::Template6Widget(QWidget* parent) : TemplateWidgetBase(parent) {
    m_form.setupUi(this);
    // Registered like the other templates' Q&A views, so the column follows the playback.
    setViews({m_form.qaWidget}, m_form.mediaWidget);
}

Template6Widget::~Template6Widget() = default;
