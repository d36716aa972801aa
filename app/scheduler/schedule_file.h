#pragma once

// "Schedule.qms": the task list as an initialisation file, a "Task Count" section and one
// "Task <n>" section per task in list order.

#include <filesystem>
#include <string>

#include "app/scheduler/schedule_task.h"

namespace quil::scheduler {

// A file claiming more tasks than this loads only this many, so a damaged count cannot hang the
// start-up or exhaust memory.
inline constexpr int kMaxTasks = 1000;

// "Schedule.qms" in the per-user data folder.
std::filesystem::path SchedulePath();

// Appends the file's tasks to `tasks`; a missing file gives none, missing keys and sections give
// defaults. False only for an empty path.
bool LoadSchedule(const std::string& path, TaskList& tasks);

// Writes the list as the whole file, so sections of removed tasks disappear. The new file is
// built beside the old one and replaces it only when complete: false when the path is empty or
// the file could not be written, and then the old file is left as it was.
bool StoreSchedule(const std::string& path, const TaskList& tasks);

}  // namespace quil::scheduler
