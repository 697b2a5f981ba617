#include "TemplateViews.h"

#include <QPointer>
#include <QWidget>

namespace templateviews {

QString mediaAreaStyle() {
    return QStringLiteral("QWidget#mediaWidget{background:#63738a;\n\tborder:1px solid #999999;}");
}

QString videoBoxStyle() {
    return QStringLiteral("QWidget{background:#63738a;\n\tborder:1px solid #999999;}");
}

void prepareMediaArea(QWidget* area) {
    area->setObjectName(QStringLiteral("mediaWidget"));
    // The native window is only made when asked for (mediaWinId): a template rendered off screen
    // inside a graphics scene must stay a plain widget tree. Its parents never need one.
    area->setAttribute(Qt::WA_DontCreateNativeAncestors, true);
}

void forwardDataWrapper(const QList<DataWrapperObserver*>& views,
                        const std::shared_ptr<DataWrapper>& session) {
    for (DataWrapperObserver* view : views) {
        view->onDataWrapper(session);
    }
}

void forwardItem(QObject* owner, const QList<DataWrapperObserver*>& views,
                 const std::shared_ptr<DataWrapper>& session, const std::shared_ptr<_VRKItemBase>& item) {
    QPointer<QObject> alive(owner);
    const QList<DataWrapperObserver*> copy = views;  // the list dies with its template
    for (DataWrapperObserver* view : copy) {
        view->onItem(session, item);
        if (!alive) {
            return;
        }
    }
}

void forwardItemList(const QList<DataWrapperObserver*>& views, const std::shared_ptr<DataWrapper>& session,
                     const QList<std::shared_ptr<_VRKItemBase>>& items, int kind) {
    for (DataWrapperObserver* view : views) {
        view->onItemList(session, items, kind);
    }
}

void forwardValue(const QList<DataWrapperObserver*>& views, const std::shared_ptr<DataWrapper>& session,
                  int value) {
    for (DataWrapperObserver* view : views) {
        view->onDataWrapperValue(session, value);
    }
}

}  // namespace templateviews

void TemplateWidgetBase::setViews(const QList<DataWrapperObserver*>& views, QWidget* media_area) {
    m_views = views;
    m_media_area = media_area;
}

void TemplateWidgetBase::onDataWrapper(std::shared_ptr<DataWrapper> session) {
    templateviews::forwardDataWrapper(m_views, session);
}

void TemplateWidgetBase::onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) {
    templateviews::forwardItem(this, m_views, session, item);
}

void TemplateWidgetBase::onItemList(std::shared_ptr<DataWrapper> session,
                                    QList<std::shared_ptr<_VRKItemBase>> items, int kind) {
    templateviews::forwardItemList(m_views, session, items, kind);
}

void TemplateWidgetBase::onDataWrapperValue(std::shared_ptr<DataWrapper> session, int value) {
    templateviews::forwardValue(m_views, session, value);
}

WId TemplateWidgetBase::mediaWinId() {
    return m_media_area->winId();
}

QWidget* TemplateWidgetBase::mediaWidget() {
    return m_media_area;
}
