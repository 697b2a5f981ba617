#pragma once
// Template 2: Q&A column, video, chat column.
#include <QList>
#include <QWidget>
#include <memory>

#include "TemplateViews.h"

class ChatView;
class QHBoxLayout;
class QuestionAnswerView;

struct Template2Form {
    QHBoxLayout* horizontalLayout = nullptr;
    QuestionAnswerView* qaWidget = nullptr;
    QWidget* mediaWidget = nullptr;
    ChatView* chatWidget = nullptr;

    void setupUi(QWidget* form);
};

class Template2Widget : public TemplateWidgetBase {
    Q_OBJECT
public:
    explicit Template2Widget(QWidget* parent = nullptr);
    ~Template2Widget() override;

    QuestionAnswerView* qaView() const { return m_form.qaWidget; }
    ChatView* chatView() const { return m_form.chatWidget; }

private:
    Template2Form m_form;
};
