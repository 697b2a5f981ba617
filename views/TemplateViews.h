#pragma once
// Shared pieces of the layout templates: the event forwarding rule and the video area looks.
#include <QList>
#include <QString>
#include <memory>

#include "DataWrapperObserver.h"

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
