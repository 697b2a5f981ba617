#pragma once
// Template 6: video and Q&A column.
#include <QList>
#include <QWidget>
#include <memory>

#include "TemplateInterface.h"

class QHBoxLayout;
class QuestionAnswerView;

struct Template6Form {
    QHBoxLayout* horizontalLayout = nullptr;
    QWidget* mediaWidget = nullptr;
    QuestionAnswerView* qaWidget = nullptr;

    void setupUi(QWidget* form);
};

class Template6Widget : public QWidget, public TemplateInterface {
    Q_OBJECT
public:
    explicit Template6Widget(QWidget* parent = nullptr);
    ~Template6Widget() override;

    void onDataWrapper(std::shared_ptr<DataWrapper> session) override;
    void onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) override;
    void onItemList(std::shared_ptr<DataWrapper> session, QList<std::shared_ptr<_VRKItemBase>> items,
                    int kind) override;
    void onDataWrapperValue(std::shared_ptr<DataWrapper> session, int value) override;
    WId mediaWinId() override;
    QWidget* mediaWidget() override;

    // The views that receive events, in forwarding order.
    QList<DataWrapperObserver*> views() const { return m_views; }
    QuestionAnswerView* qaView() const { return m_form.qaWidget; }

private:
    Template6Form m_form;
    QList<DataWrapperObserver*> m_views;
};
