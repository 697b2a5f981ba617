#pragma once
// Shared pieces of the layout templates: the event forwarding rule and the video area looks.
#include <QList>
#include <QString>
#include <QWidget>
#include <memory>

#include "DataWrapperObserver.h"
#include "TemplateInterface.h"

class QObject;
class QWidget;

namespace templateviews {

// Style of a video area that is a plain child of the template.
QString mediaAreaStyle();
// Style of the small video box (and of the widgets holding it).
QString videoBoxStyle();
// Names the video area; its native window is made only when its id is asked for.
void prepareMediaArea(QWidget* area);

// Every observer operation goes to every view, in list order, synchronously.
void forwardDataWrapper(const QList<DataWrapperObserver*>& views,
                        const std::shared_ptr<DataWrapper>& session);
// `owner` is the template: a view may let pending events run (the whiteboard does), and the
// template may be gone when it returns; the forwarding stops then.
void forwardItem(QObject* owner, const QList<DataWrapperObserver*>& views,
                 const std::shared_ptr<DataWrapper>& session, const std::shared_ptr<_VRKItemBase>& item);
void forwardItemList(const QList<DataWrapperObserver*>& views, const std::shared_ptr<DataWrapper>& session,
                     const QList<std::shared_ptr<_VRKItemBase>>& items, int kind);
void forwardValue(const QList<DataWrapperObserver*>& views, const std::shared_ptr<DataWrapper>& session,
                  int value);

}  // namespace templateviews

// What every template does the same way: it forwards each observer operation to its views by the
// rule above and hands out its video area. A template builds its form and then names both.
class TemplateWidgetBase : public QWidget, public TemplateInterface {
    Q_OBJECT
public:
    void onDataWrapper(std::shared_ptr<DataWrapper> session) override;
    void onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) override;
    void onItemList(std::shared_ptr<DataWrapper> session, QList<std::shared_ptr<_VRKItemBase>> items,
                    int kind) override;
    void onDataWrapperValue(std::shared_ptr<DataWrapper> session, int value) override;
    WId mediaWinId() override;
    QWidget* mediaWidget() override;

    // The views that receive events, in forwarding order.
    QList<DataWrapperObserver*> views() const { return m_views; }

protected:
    explicit TemplateWidgetBase(QWidget* parent) : QWidget(parent) {}
    void setViews(const QList<DataWrapperObserver*>& views, QWidget* media_area);

private:
    QList<DataWrapperObserver*> m_views;
    QWidget* m_media_area = nullptr;
};
