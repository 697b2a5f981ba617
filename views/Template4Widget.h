#pragma once
// Template 4: small video box over the chat column, whiteboard beside them.
#include <QList>
#include <QWidget>
#include <memory>

#include "TemplateViews.h"

class ChatView;
class PlotView;
class QHBoxLayout;
class QVBoxLayout;

struct Template4Form {
    QHBoxLayout* horizontalLayout = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QWidget* mediaWidget = nullptr;
    ChatView* chatWidget = nullptr;
    PlotView* plotWidget = nullptr;

    void setupUi(QWidget* form);
};

class Template4Widget : public TemplateWidgetBase {
    Q_OBJECT
public:
    explicit Template4Widget(QWidget* parent = nullptr);
    ~Template4Widget() override;

    PlotView* plotView() const { return m_form.plotWidget; }
    ChatView* chatView() const { return m_form.chatWidget; }

private:
    Template4Form m_form;
};
