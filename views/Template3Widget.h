#pragma once
// Template 3: video and chat column.
#include <QList>
#include <QWidget>
#include <memory>

#include "TemplateInterface.h"

class ChatView;
class QHBoxLayout;

struct Template3Form {
    QHBoxLayout* horizontalLayout = nullptr;
    QWidget* mediaWidget = nullptr;
    ChatView* chatWidget = nullptr;

    void setupUi(QWidget* form);
};

class Template3Widget : public QWidget, public TemplateInterface {
    Q_OBJECT
public:
    explicit Template3Widget(QWidget* parent = nullptr);
    ~Template3Widget() override;

    void onDataWrapper(std::shared_ptr<DataWrapper> session) override;
    void onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) override;
    void onItemList(std::shared_ptr<DataWrapper> session, QList<std::shared_ptr<_VRKItemBase>> items,
                    int kind) override;
    void onDataWrapperValue(std::shared_ptr<DataWrapper> session, int value) override;
    WId mediaWinId() override;
    QWidget* mediaWidget() override;

    // The views that receive events, in forwarding order.
    QList<DataWrapperObserver*> views() const { return m_views; }
    ChatView* chatView() const { return m_form.chatWidget; }

private:
    Template3Form m_form;
    QList<DataWrapperObserver*> m_views;
};
