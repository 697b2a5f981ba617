#include "TaskWindows.h"

#include <QMap>

#include "ResourceEditWidget.h"
#include "ResourceMergeWidget.h"
#include "VRK2Mp4Widget.h"

namespace {
QMap<int, TaskWindowFactory>& factories() {
    static QMap<int, TaskWindowFactory> s_factories;
    return s_factories;
}
}  // namespace

void setTaskWindowFactory(int taskType, TaskWindowFactory factory) {
    if (factory) {
        factories().insert(taskType, std::move(factory));
    } else {
        factories().remove(taskType);
    }
}

std::shared_ptr<TaskInterface> createTaskWindow(int taskType) {
    const TaskWindowFactory factory = factories().value(taskType);
    if (factory) {
        return factory();
    }
    // Built-in windows. Each one is wired with one line when it exists, for example:
    //   case TaskType::Cut: return std::make_shared<ResourceEditWidget>();
    //   case TaskType::Merge: return std::make_shared<ResourceMergeWidget>();
    // The export window is released with deleteLater, because its engine may still post to it:
    //   case TaskType::Convert:
    //       return std::shared_ptr<VRK2Mp4Widget>(new VRK2Mp4Widget(), [](VRK2Mp4Widget* w) {
    //       w->deleteLater(); });
    switch (taskType) {
        case TaskType::Cut:
            return std::make_shared<ResourceEditWidget>();
        case TaskType::Merge:
            return std::make_shared<ResourceMergeWidget>();
        case TaskType::Convert:
            // Deleted at once: its destructor stops the recording, so no queued report can reach it
            // afterwards, and a conversion still running at exit removes its temporary file.
            return std::make_shared<VRK2Mp4Widget>();
        default:
            return nullptr;
    }
}
