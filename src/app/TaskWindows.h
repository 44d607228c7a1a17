#pragma once

#include "app/TaskLaunch.h"

// Opens what launch names: for a task, resets its result key to "0", sets the
// application title and calls the window's opener with launch.values; for the
// menu, the menu's own opener.
void LaunchTask(const TaskLaunch& launch);
