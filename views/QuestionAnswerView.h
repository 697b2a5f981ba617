#pragma once
// The Q&A column: the questions up to the play position, each with its answers.
#include <QList>
#include <QWidget>
#include <memory>

#include "DataWrapperObserver.h"
#include "QuesionWidget.h"
#include "ResourceItem.h"

class QHBoxLayout;
class QLabel;
class QScrollArea;
class QSpacerItem;
class QVBoxLayout;

struct QuestionAnswerForm {
    QVBoxLayout* verticalLayout = nullptr;
    QWidget* widget = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QLabel* label = nullptr;
    QLabel* label_2 = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QScrollArea* scrollArea = nullptr;
    QWidget* contentsHoldWidget = nullptr;
    QVBoxLayout* contentsHoldLayout = nullptr;
    QSpacerItem* verticalSpacer = nullptr;

    void setupUi(QWidget* form);
    void retranslateUi(QWidget* form);
};

class QuestionAnswerView : public QWidget, public DataWrapperObserver {
    Q_OBJECT
public:
    explicit QuestionAnswerView(QWidget* parent = nullptr);
    ~QuestionAnswerView() override;

    void onDataWrapper(std::shared_ptr<DataWrapper> session) override;
    void onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) override;
    void onItemList(std::shared_ptr<DataWrapper> session, QList<std::shared_ptr<_VRKItemBase>> items,
                    int kind) override;
    void onDataWrapperValue(std::shared_ptr<DataWrapper> session, int value) override;

    QList<QuesionWidget*> questionWidgets() const { return m_question_widgets; }
    QWidget* contentsHoldWidget() const { return m_form.contentsHoldWidget; }

    // For a view nobody scrolls (an export): it then stays at its top, and once the questions shown
    // reach far enough below the viewport, later questions (and their answers) are not added. That
    // changes no pixel but keeps a long class from adding widgets without end.
    void setDropsHiddenQuestions(bool drop) { m_drops_hidden = drop; }

private:
    void addQuestion(const std::shared_ptr<_QuestionItem>& question);
    void offerAnswer(const std::shared_ptr<_AnswerItem>& answer);
    bool reachesFarBelowView() const;

    bool m_drops_hidden = false;
    QuestionAnswerForm m_form;
    QList<QuesionWidget*> m_question_widgets;
    QList<std::shared_ptr<_QuestionItem>> m_questions;
};
