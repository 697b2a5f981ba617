#pragma once
// Template 5: video box over the Q&A column, whiteboard, chat column.
#include <QList>
#include <QWidget>
#include <memory>

#include "TemplateViews.h"

class ChatView;
class QPaintEvent;
class PlotView;
class QHBoxLayout;
class QStackedWidget;
class QVBoxLayout;
class QuestionAnswerView;

struct Template5Form {
    QHBoxLayout* horizontalLayout = nullptr;
    QWidget* leftWidget = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QStackedWidget* leftTopStackedWidget = nullptr;
    QWidget* mediaWidget = nullptr;
    QuestionAnswerView* QAWidget = nullptr;
    QStackedWidget* middleStackedWidget = nullptr;
    PlotView* plotWidget = nullptr;
    QVBoxLayout* verticalLayout_2 = nullptr;
    ChatView* chatWidget = nullptr;

    void setupUi(QWidget* form);
};

class Template5Widget : public TemplateWidgetBase {
    Q_OBJECT
public:
    explicit Template5Widget(QWidget* parent = nullptr);
    ~Template5Widget() override;

    PlotView* plotView() const { return m_form.plotWidget; }
    ChatView* chatView() const { return m_form.chatWidget; }
    QuestionAnswerView* qaView() const { return m_form.QAWidget; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Template5Form m_form;
};
