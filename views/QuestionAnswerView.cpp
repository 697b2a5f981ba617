#define FLOG_SOURCE "views/QuestionAnswerView"
#include "QuestionAnswerView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "HiddenExtent.h"
#include "ViewFonts.h"

void QuestionAnswerForm::setupUi(QWidget* form) {
    if (form->objectName().isEmpty()) {
        form->setObjectName(QStringLiteral("QuestionAnswerForm"));
    }
    form->resize(181, 322);
    verticalLayout = new QVBoxLayout(form);
    verticalLayout->setSpacing(0);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setContentsMargins(0, 0, 0, 0);

    widget = new QWidget(form);
    widget->setObjectName(QStringLiteral("widget"));
    widget->setMinimumSize(QSize(0, 22));
    widget->setMaximumSize(QSize(QWIDGETSIZE_MAX, 22));
    widget->setStyleSheet(QStringLiteral("QWidget#widget\n{\n\tbackground:#e1e1e1;\n}"));
    horizontalLayout = new QHBoxLayout(widget);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setContentsMargins(7, 2, -1, 2);
    label = new QLabel(widget);
    label->setObjectName(QStringLiteral("label"));
    label->setMinimumSize(QSize(15, 14));
    label->setMaximumSize(QSize(15, 14));
    label->setStyleSheet(QStringLiteral(
        "QLabel#label\n{\n\tbackground-image:url(:/cut/Resources/cut/question_answer_icon.png);\n}"));
    horizontalLayout->addWidget(label);
    label_2 = new QLabel(widget);
    label_2->setObjectName(QStringLiteral("label_2"));
    label_2->setStyleSheet(QString::fromUtf8(
        "QLabel#label_2\n{\n\tcolor:#1e1f21;\n\tfont: 10px \"微软雅黑\";\n\tbackground:transparent;\n}"));
    horizontalLayout->addWidget(label_2);
    horizontalSpacer = new QSpacerItem(49, 15, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    verticalLayout->addWidget(widget);

    scrollArea = new QScrollArea(form);
    scrollArea->setObjectName(QStringLiteral("scrollArea"));
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setLineWidth(0);
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea->setWidgetResizable(true);
    scrollArea->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical\n{\n\twidth:8px;\n\tbackground:transparent;\n\tpadding-top:9px;\n"
        "\tpadding-bottom:9px;\n}\n"
        "QScrollBar::handle:vertical\n{\n\tbackground:rgb(200,200,200);\n\tborder-radius:4px;\n"
        "\tmin-height:20px;\n}\n"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical\n{\n\twidth:0px;\n\theight:0px;\n}\n"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical\n{\n\tbackground:transparent;\n}"));
    contentsHoldWidget = new QWidget();
    contentsHoldWidget->setObjectName(QStringLiteral("contentsHoldWidget"));
    contentsHoldWidget->setGeometry(QRect(0, 0, 181, 300));
    contentsHoldWidget->setStyleSheet(
        QStringLiteral("QWidget#contentsHoldWidget\n{\n\tbackground:white;\n}"));
    contentsHoldLayout = new QVBoxLayout(contentsHoldWidget);
    contentsHoldLayout->setSpacing(0);
    contentsHoldLayout->setObjectName(QStringLiteral("contentsHoldLayout"));
    contentsHoldLayout->setContentsMargins(0, 0, 0, 0);
    verticalSpacer = new QSpacerItem(20, 297, QSizePolicy::Minimum, QSizePolicy::Expanding);
    contentsHoldLayout->addItem(verticalSpacer);
    scrollArea->setWidget(contentsHoldWidget);
    verticalLayout->addWidget(scrollArea);

    retranslateUi(form);
}

void QuestionAnswerForm::retranslateUi(QWidget* form) {
    form->setWindowTitle(QuestionAnswerView::tr("Form"));
    label->setText(QString());
    label_2->setText(QuestionAnswerView::tr("Q&A records"));
}

QuestionAnswerView::QuestionAnswerView(QWidget* parent) : QWidget(parent) {
    installViewFonts();
    m_form.setupUi(this);
    m_form.label->hide();
}

QuestionAnswerView::~QuestionAnswerView() = default;

void QuestionAnswerView::onDataWrapper(std::shared_ptr<DataWrapper>) {}

void QuestionAnswerView::onDataWrapperValue(std::shared_ptr<DataWrapper>, int) {}

void QuestionAnswerView::onItem(std::shared_ptr<DataWrapper>, std::shared_ptr<_VRKItemBase> item) {
    if (!item) {
        return;
    }
    if (item->kind == VRK_KIND_QUESTION) {
        addQuestion(std::dynamic_pointer_cast<_QuestionItem>(item));
        return;
    }
    offerAnswer(std::dynamic_pointer_cast<_AnswerItem>(item));
}

void QuestionAnswerView::onItemList(std::shared_ptr<DataWrapper>, QList<std::shared_ptr<_VRKItemBase>> items,
                                    int kind) {
    if (kind == VRK_KIND_QUESTION) {
        for (QuesionWidget* w : qAsConst(m_question_widgets)) {
            m_form.contentsHoldLayout->removeWidget(w);
            delete w;
        }
        m_question_widgets.clear();
        m_questions.clear();
        for (const auto& item : items) {
            auto question = std::dynamic_pointer_cast<_QuestionItem>(item);
            if (question) {
                m_questions.append(question);
            }
        }
        for (const auto& question : qAsConst(m_questions)) {
            addQuestion(question);
        }
    } else if (kind == VRK_KIND_ANSWER) {
        for (const auto& item : items) {
            offerAnswer(std::dynamic_pointer_cast<_AnswerItem>(item));
        }
    }
}

void QuestionAnswerView::addQuestion(const std::shared_ptr<_QuestionItem>& question) {
    if (!question || (m_drops_hidden && reachesFarBelowView())) {
        return;
    }
    // The spacer stays last so that the questions stack from the top.
    m_form.contentsHoldLayout->removeItem(m_form.verticalSpacer);
    auto* widget = new QuesionWidget(question, this);
    m_question_widgets.append(widget);
    m_form.contentsHoldLayout->addWidget(widget);
    m_form.contentsHoldLayout->addItem(m_form.verticalSpacer);
}

void QuestionAnswerView::offerAnswer(const std::shared_ptr<_AnswerItem>& answer) {
    if (!answer) {
        return;
    }
    for (QuesionWidget* w : qAsConst(m_question_widgets)) {
        if (w->addAnswer(answer)) {
            return;
        }
    }
}

bool QuestionAnswerView::reachesFarBelowView() const {
    const int view = m_form.scrollArea->viewport()->height();
    if (view <= 0 || m_form.scrollArea->verticalScrollBar()->value() != 0) {
        return false;
    }
    // Questions and answers only ever add height, so once the kept extent is reached, a question
    // added below can never show.
    const qreal keep = keptExtentOfPinnedView(view);
    const int shown =
        m_form.contentsHoldLayout->sizeHint().height() - m_form.verticalSpacer->sizeHint().height();
    return shown >= keep;
}
