#pragma once
// Template 3: video and chat column.
#include <QList>
#include <QWidget>
#include <memory>

#include "TemplateViews.h"

class ChatView;
class QHBoxLayout;

struct Template3Form {
    QHBoxLayout* horizontalLayout = nullptr;
    QWidget* mediaWidget = nullptr;
    ChatView* chatWidget = nullptr;

    void setupUi(QWidget* form);
};

class Template3Widget : public TemplateWidgetBase {
    Q_OBJECT
public:
    explicit Template3Widget(QWidget* parent = nullptr);
    ~Template3Widget() override;

    ChatView* chatView() const { return m_form.chatWidget; }

private:
    Template3Form m_form;
};
