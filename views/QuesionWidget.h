#pragma once
// One question of the Q&A column with the answers given to it, and one answer.
#include <QFont>
#include <QFontMetrics>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>

#include "ResourceItem.h"

class QHBoxLayout;
class QLabel;
class QSpacerItem;
class QVBoxLayout;

// Lines of the Q&A text font for a width of `maxWidth` pixels, cut at any character.
QStringList breakQaTextLines(const QString& text, const QFontMetrics& metrics, int maxWidth = 145);
// The 9-pixel font the question and answer lines are set in.
QFont qaTextFont();
// Adds one label per line of `content` (escaped) to `layout`.
void fillQaContent(QWidget* parent, QVBoxLayout* layout, const QString& content);

struct QuestionForm {
    QVBoxLayout* verticalLayout = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QLabel* nameLabel = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QWidget* contentWidget = nullptr;
    QVBoxLayout* contentLayout = nullptr;

    void setupUi(QWidget* form);
};

struct AnswerForm {
    QVBoxLayout* verticalLayout = nullptr;
    QWidget* titleWidget = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QLabel* replayIcon = nullptr;
    QLabel* nameLabel = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QWidget* contentWidget = nullptr;
    QVBoxLayout* contentLayout = nullptr;

    void setupUi(QWidget* form);
};

class AnswerWidget : public QWidget {
    Q_OBJECT
public:
    AnswerWidget(std::shared_ptr<_AnswerItem> answer, QWidget* parent = nullptr);
    ~AnswerWidget() override;

    std::shared_ptr<_AnswerItem> answer() const { return m_answer; }
    QString userName() const;
    QStringList lines() const;

private:
    std::shared_ptr<_AnswerItem> m_answer;
    AnswerForm m_form;
};

class QuesionWidget : public QWidget {
    Q_OBJECT
public:
    QuesionWidget(std::shared_ptr<_QuestionItem> question, QWidget* parent = nullptr);
    ~QuesionWidget() override;

    // Takes the answer when it answers this question (same id) and shows it below the question.
    bool addAnswer(std::shared_ptr<_AnswerItem> answer);

    std::shared_ptr<_QuestionItem> question() const { return m_question; }
    QString userName() const;
    QStringList lines() const;
    QList<AnswerWidget*> answerWidgets() const;

private:
    std::shared_ptr<_QuestionItem> m_question;
    QuestionForm m_form;
};
