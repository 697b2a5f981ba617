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
