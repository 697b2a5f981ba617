#define FLOG_SOURCE "views/QuesionWidget"
#include "QuesionWidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {

const char kContentStyle[] = "QWidget#contentWidget\n{\n\tborder-bottom:1px solid #eeeeee;\n}";

QStringList labelTexts(QWidget* contentWidget) {
    QStringList out;
    const auto labels = contentWidget->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
    for (QLabel* l : labels) {
        out << l->text();
    }
    return out;
}

}  // namespace

QFont qaTextFont() {
    QFont font(QuesionWidget::tr("Microsoft YaHei UI"));
    font.setPixelSize(9);
    return font;
}

QStringList breakQaTextLines(const QString& text, const QFontMetrics& metrics, int maxWidth) {
    QStringList lines;
    QString rest = text;
    while (!rest.isEmpty()) {
        if (metrics.horizontalAdvance(rest) < maxWidth) {
            lines << rest;
            break;
        }
        const int widest = qMax(1, metrics.maxWidth());
        int n = qBound(1, maxWidth / widest, rest.size());
        while (n <= rest.size() && metrics.horizontalAdvance(rest.left(n)) < maxWidth) {
            ++n;
        }
        --n;
        // maxWidth() need not cover glyphs taken from a fallback font: never keep a line that is
        // too wide, but always take at least one character so the text is consumed.
        while (n > 1 && metrics.horizontalAdvance(rest.left(n)) >= maxWidth) {
            --n;
        }
        n = qMax(n, 1);
        // Keep a surrogate pair together.
        if (n < rest.size() && rest.at(n - 1).isHighSurrogate() && rest.at(n).isLowSurrogate()) {
            n = n > 1 ? n - 1 : n + 1;
        }
        lines << rest.left(n);
        rest = rest.mid(n);
    }
    return lines;
}

void fillQaContent(QWidget* parent, QVBoxLayout* layout, const QString& content) {
    const QFont font = qaTextFont();
    const QString sheet =
        QStringLiteral("QLabel{font:9px \"%1\";color:#333333;background:transparent; }").arg(font.family());
    const QStringList lines = breakQaTextLines(content, QFontMetrics(font), 145);
    for (QString line : lines) {
        line.replace(QLatin1Char('<'), QLatin1String("&lt;"));
        line.replace(QLatin1Char('>'), QLatin1String("&gt;"));
        line.replace(QLatin1Char('"'), QLatin1String("&quot;"));
        auto* label = new QLabel(parent);
        label->setStyleSheet(sheet);
        // The line is escaped markup: show the entities as the characters they stand for.
        label->setTextFormat(Qt::RichText);
        label->setText(line);
        layout->addWidget(label);
    }
}

void QuestionForm::setupUi(QWidget* form) {
    if (form->objectName().isEmpty()) {
        form->setObjectName(QStringLiteral("QuestionForm"));
    }
    form->resize(166, 34);
    form->setMinimumSize(QSize(166, 0));
    form->setMaximumSize(QSize(166, QWIDGETSIZE_MAX));
    form->setWindowTitle(QuesionWidget::tr("Form"));

    verticalLayout = new QVBoxLayout(form);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setContentsMargins(-1, 6, -1, 0);
    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    nameLabel = new QLabel(form);
    nameLabel->setObjectName(QStringLiteral("nameLabel"));
    nameLabel->setStyleSheet(QString::fromUtf8(
        "QLabel#nameLabel\n{\n\tcolor:#666666;\n    font: 9px \"微软雅黑\";\n\tbackground:transparent;\n}"));
    horizontalLayout->addWidget(nameLabel);
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    verticalLayout->addLayout(horizontalLayout);

    contentWidget = new QWidget(form);
    contentWidget->setObjectName(QStringLiteral("contentWidget"));
    contentWidget->setStyleSheet(QLatin1String(kContentStyle));
    contentLayout = new QVBoxLayout(contentWidget);
    contentLayout->setObjectName(QStringLiteral("contentLayout"));
    contentLayout->setContentsMargins(0, 0, 0, 0);
    verticalLayout->addWidget(contentWidget);
}

void AnswerForm::setupUi(QWidget* form) {
    if (form->objectName().isEmpty()) {
        form->setObjectName(QStringLiteral("AnswerForm"));
    }
    form->resize(145, 22);
    form->setMinimumSize(QSize(145, 0));
    form->setMaximumSize(QSize(148, QWIDGETSIZE_MAX));
    form->setWindowTitle(AnswerWidget::tr("Form"));

    verticalLayout = new QVBoxLayout(form);
    verticalLayout->setSpacing(0);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setContentsMargins(0, 0, 0, 0);

    titleWidget = new QWidget(form);
    titleWidget->setObjectName(QStringLiteral("titleWidget"));
    titleWidget->setMinimumSize(QSize(0, 22));
    titleWidget->setMaximumSize(QSize(QWIDGETSIZE_MAX, 22));
    horizontalLayout = new QHBoxLayout(titleWidget);
    horizontalLayout->setSpacing(6);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    replayIcon = new QLabel(titleWidget);
    replayIcon->setObjectName(QStringLiteral("replayIcon"));
    replayIcon->setMinimumSize(QSize(10, 11));
    replayIcon->setMaximumSize(QSize(10, 11));
    replayIcon->setStyleSheet(QStringLiteral(
        "QLabel#replayIcon\n{\n\tbackground-image:url(:/cut/Resources/cut/qa_replay_icon.png);\n}"));
    horizontalLayout->addWidget(replayIcon);
    nameLabel = new QLabel(titleWidget);
    nameLabel->setObjectName(QStringLiteral("nameLabel"));
    nameLabel->setStyleSheet(QString::fromUtf8(
        "QLabel#nameLabel\n{\n\tcolor:#03990b;\n    font: 9px \"微软雅黑\";\n\tbackground:transparent;\n}"));
    nameLabel->setText(AnswerWidget::tr("Teacher"));
    horizontalLayout->addWidget(nameLabel);
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout->addItem(horizontalSpacer);
    verticalLayout->addWidget(titleWidget);

    contentWidget = new QWidget(form);
    contentWidget->setObjectName(QStringLiteral("contentWidget"));
    contentWidget->setStyleSheet(QLatin1String(kContentStyle));
    contentLayout = new QVBoxLayout(contentWidget);
    contentLayout->setObjectName(QStringLiteral("contentLayout"));
    contentLayout->setContentsMargins(0, 0, 0, 0);
    verticalLayout->addWidget(contentWidget);
}

AnswerWidget::AnswerWidget(std::shared_ptr<_AnswerItem> answer, QWidget* parent)
    : QWidget(parent), m_answer(std::move(answer)) {
    m_form.setupUi(this);
    if (!m_answer) {
        return;
    }
    m_form.nameLabel->setText(m_answer->answerUserName);
    fillQaContent(m_form.contentWidget, m_form.contentLayout, m_answer->content);
}

AnswerWidget::~AnswerWidget() = default;

QString AnswerWidget::userName() const {
    return m_form.nameLabel->text();
}

QStringList AnswerWidget::lines() const {
    return labelTexts(m_form.contentWidget);
}

QuesionWidget::QuesionWidget(std::shared_ptr<_QuestionItem> question, QWidget* parent)
    : QWidget(parent), m_question(std::move(question)) {
    m_form.setupUi(this);
    if (!m_question) {
        return;
    }
    m_form.nameLabel->setText(m_question->questionUserName);
    fillQaContent(m_form.contentWidget, m_form.contentLayout, m_question->content);
}

QuesionWidget::~QuesionWidget() = default;

bool QuesionWidget::addAnswer(std::shared_ptr<_AnswerItem> answer) {
    if (!answer || !m_question || answer->id != m_question->id) {
        return false;
    }
    auto* widget = new AnswerWidget(std::move(answer), this);
    m_form.verticalLayout->addWidget(widget);
    return true;
}

QString QuesionWidget::userName() const {
    return m_form.nameLabel->text();
}

QStringList QuesionWidget::lines() const {
    return labelTexts(m_form.contentWidget);
}

QList<AnswerWidget*> QuesionWidget::answerWidgets() const {
    return findChildren<AnswerWidget*>(QString(), Qt::FindDirectChildrenOnly);
}
