#pragma once

#include "app/TaskLaunch.h"

// True when this build has the window of task (the menu always exists).
bool IsTaskAvailable(Task task);

// Opens what launch names: for a task, resets its result key to "0", sets the
// application title and calls the window's opener with launch.values; for the
// menu, the menu's own opener. False, with nothing written, when the task's
// window is not available.
bool LaunchTask(const TaskLaunch& launch);
