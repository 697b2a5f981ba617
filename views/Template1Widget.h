#pragma once
// Template 1: the video alone; it shows no events.
#include <QList>
#include <QWidget>
#include <memory>

#include "TemplateViews.h"

class QHBoxLayout;

struct Template1Form {
    QHBoxLayout* horizontalLayout = nullptr;
    QWidget* mediaWidget = nullptr;

    void setupUi(QWidget* form);
};

class Template1Widget : public TemplateWidgetBase {
    Q_OBJECT
public:
    explicit Template1Widget(QWidget* parent = nullptr);
    ~Template1Widget() override;

private:
    Template1Form m_form;
};
