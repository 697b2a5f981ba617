#pragma once
// Template 1: the video alone; it shows no events.
#include <QList>
#include <QWidget>
#include <memory>

#include "TemplateInterface.h"

class QHBoxLayout;

struct Template1Form {
    QHBoxLayout* horizontalLayout = nullptr;
    QWidget* mediaWidget = nullptr;

    void setupUi(QWidget* form);
};

class Template1Widget : public QWidget, public TemplateInterface {
    Q_OBJECT
public:
    explicit Template1Widget(QWidget* parent = nullptr);
    ~Template1Widget() override;

    void onDataWrapper(std::shared_ptr<DataWrapper> session) override;
    void onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) override;
    void onItemList(std::shared_ptr<DataWrapper> session, QList<std::shared_ptr<_VRKItemBase>> items,
                    int kind) override;
    void onDataWrapperValue(std::shared_ptr<DataWrapper> session, int value) override;
    WId mediaWinId() override;
    QWidget* mediaWidget() override;

    // The views that receive events, in forwarding order.
    QList<DataWrapperObserver*> views() const { return m_views; }

private:
    Template1Form m_form;
    QList<DataWrapperObserver*> m_views;
};
