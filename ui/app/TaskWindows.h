#pragma once
// The task windows opened by the tool-bar buttons of the main window. Each window is a dialog (through
// BaseDialog) that also implements TaskInterface; the main window runs it modally and adopts it when
// it is accepted.
#include <functional>
#include <memory>

#include "TaskInterface.h"

using TaskWindowFactory = std::function<std::shared_ptr<TaskInterface>()>;

// Creates the window for a TaskType value; empty when that window is not part of this build
// (its button then shows nothing).
std::shared_ptr<TaskInterface> createTaskWindow(int taskType);

// Replaces the window made for a TaskType value (an empty factory restores the built-in one).
// The returned object must also be a QDialog.
void setTaskWindowFactory(int taskType, TaskWindowFactory factory);
