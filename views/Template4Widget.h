#pragma once
// Template 4: small video box over the chat column, whiteboard beside them.
#include <QList>
#include <QWidget>
#include <memory>

#include "TemplateInterface.h"

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

class Template4Widget : public QWidget, public TemplateInterface {
    Q_OBJECT
public:
    explicit Template4Widget(QWidget* parent = nullptr);
    ~Template4Widget() override;

    void onDataWrapper(std::shared_ptr<DataWrapper> session) override;
    void onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) override;
    void onItemList(std::shared_ptr<DataWrapper> session, QList<std::shared_ptr<_VRKItemBase>> items,
                    int kind) override;
    void onDataWrapperValue(std::shared_ptr<DataWrapper> session, int value) override;
    WId mediaWinId() override;
    QWidget* mediaWidget() override;

    // The views that receive events, in forwarding order.
    QList<DataWrapperObserver*> views() const { return m_views; }
    PlotView* plotView() const { return m_form.plotWidget; }
    ChatView* chatView() const { return m_form.chatWidget; }

private:
    Template4Form m_form;
    QList<DataWrapperObserver*> m_views;
};
