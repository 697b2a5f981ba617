#include "Template5Widget.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOption>
#include <QVBoxLayout>
#include "ChatView.h"
#include "PlotView.h"
#include "QuestionAnswerView.h"

#include "TemplateViews.h"

void Template5Form::setupUi(QWidget* form) {
    if (form->objectName().isEmpty()) {
        form->setObjectName(QStringLiteral("Template5Form"));
    }
    form->resize(782, 525);
    form->setMinimumSize(QSize(480, 480));
    form->setWindowTitle(Template5Widget::tr("Form"));
    form->setStyleSheet(QStringLiteral("QWidget#Template5Form\n{\n\tborder-color: rgb(227, 235, 253);\n}"));
    horizontalLayout = new QHBoxLayout(form);
    horizontalLayout->setSpacing(0);
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));

    leftWidget = new QWidget(form);
    leftWidget->setObjectName(QStringLiteral("leftWidget"));
    leftWidget->setMinimumSize(QSize(166, 0));
    leftWidget->setMaximumSize(QSize(166, QWIDGETSIZE_MAX));
    verticalLayout = new QVBoxLayout(leftWidget);
    verticalLayout->setSpacing(0);
    verticalLayout->setContentsMargins(0, 0, 0, 0);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    leftTopStackedWidget = new QStackedWidget(leftWidget);
    leftTopStackedWidget->setObjectName(QStringLiteral("leftTopStackedWidget"));
    leftTopStackedWidget->setMinimumSize(QSize(166, 114));
    leftTopStackedWidget->setMaximumSize(QSize(166, 114));
    leftTopStackedWidget->setStyleSheet(templateviews::videoBoxStyle());
    mediaWidget = new QWidget();
    templateviews::prepareMediaArea(mediaWidget);
    mediaWidget->setStyleSheet(templateviews::videoBoxStyle());
    leftTopStackedWidget->addWidget(mediaWidget);
    verticalLayout->addWidget(leftTopStackedWidget);
    QAWidget = new QuestionAnswerView(leftWidget);
    QAWidget->setObjectName(QStringLiteral("QAWidget"));
    verticalLayout->addWidget(QAWidget);
    horizontalLayout->addWidget(leftWidget);

    middleStackedWidget = new QStackedWidget(form);
    middleStackedWidget->setObjectName(QStringLiteral("middleStackedWidget"));
    middleStackedWidget->setSizePolicy(QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred));
    plotWidget = new PlotView();
    plotWidget->setObjectName(QStringLiteral("plotWidget"));
    verticalLayout_2 = new QVBoxLayout(plotWidget);
    verticalLayout_2->setSpacing(0);
    verticalLayout_2->setContentsMargins(0, 0, 0, 0);
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    middleStackedWidget->addWidget(plotWidget);
    horizontalLayout->addWidget(middleStackedWidget);

    chatWidget = new ChatView(form);
    chatWidget->setObjectName(QStringLiteral("chatWidget"));
    chatWidget->setMinimumSize(QSize(166, 0));
    chatWidget->setMaximumSize(QSize(166, QWIDGETSIZE_MAX));
    horizontalLayout->addWidget(chatWidget);
}

Template5Widget::Template5Widget(QWidget* parent) : TemplateWidgetBase(parent) {
    m_form.setupUi(this);
    setStyleSheet(QStringLiteral("QWidget#Template5Form{border-color: rgb(227, 235, 253);}"));
    setViews({m_form.plotWidget, m_form.chatWidget, m_form.QAWidget}, m_form.mediaWidget);
}

Template5Widget::~Template5Widget() = default;

void Template5Widget::paintEvent(QPaintEvent*) {
    // Lets the template's own style sheet paint its background.
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}
