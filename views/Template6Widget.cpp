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

Template6Widget::Template6Widget(QWidget* parent) : QWidget(parent) {
    m_form.setupUi(this);
    // Registered like the other templates' Q&A views, so the column follows the playback.
    m_views << m_form.qaWidget;
}

Template6Widget::~Template6Widget() = default;

void Template6Widget::onDataWrapper(std::shared_ptr<DataWrapper> session) {
    templateviews::forwardDataWrapper(m_views, session);
}

void Template6Widget::onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) {
    templateviews::forwardItem(this, m_views, session, item);
}

void Template6Widget::onItemList(std::shared_ptr<DataWrapper> session,
                                 QList<std::shared_ptr<_VRKItemBase>> items, int kind) {
    templateviews::forwardItemList(m_views, session, items, kind);
}

void Template6Widget::onDataWrapperValue(std::shared_ptr<DataWrapper> session, int value) {
    templateviews::forwardValue(m_views, session, value);
}

WId Template6Widget::mediaWinId() {
    return m_form.mediaWidget->winId();
}

QWidget* Template6Widget::mediaWidget() {
    return m_form.mediaWidget;
}
