#pragma once
// The interface through which a playback session pushes replayed events to its one observer.
#include <QList>
#include <memory>

class DataWrapper;
struct _VRKItemBase;

class DataWrapperObserver {
public:
    // Never called; implementations ignore it.
    virtual void onDataWrapper(std::shared_ptr<DataWrapper> session) = 0;
    // One event has just been reached during play.
    virtual void onItem(std::shared_ptr<DataWrapper> session, std::shared_ptr<_VRKItemBase> item) = 0;
    // Events that all have item kind `kind`, in time order.
    virtual void onItemList(std::shared_ptr<DataWrapper> session, QList<std::shared_ptr<_VRKItemBase>> items,
                            int kind) = 0;
    // Never called; implementations ignore it.
    virtual void onDataWrapperValue(std::shared_ptr<DataWrapper> session, int value) = 0;
};
