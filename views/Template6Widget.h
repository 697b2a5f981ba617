#pragma once
// Template 6: video and Q&A column.
#include <QList>
#include <QWidget>
#include <memory>

#include "TemplateViews.h"

class QHBoxLayout;
class QuestionAnswerView;

struct Template6Form {
    QHBoxLayout* horizontalLayout = nullptr;
    QWidget* mediaWidget = nullptr;
    QuestionAnswerView* qaWidget = nullptr;

    void setupUi(QWidget* form);
};

class Template6Widget : public TemplateWidgetBase {
    Q_OBJECT
public:
    explicit Template6Widget(QWidget* parent = nullptr);
    ~Template6Widget() override;

    QuestionAnswerView* qaView() const { return m_form.qaWidget; }

private:
    Template6Form m_form;
};
