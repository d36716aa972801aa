#include "app/scheduler/schedule_file.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/scheduler/profile_file.h"
#include "platform/registry/user_folders.h"

namespace quil::scheduler {

namespace {

constexpr const char* kCountSection = "Task Count";

std::string TaskSection(int position) {
    return "Task " + std::to_string(position);
}

void ExchangeTime(ProfileFile& file, Direction direction, const char* prefix, TaskTime& time) {
    auto key = [prefix](const char* field) { return std::string(prefix) + field; };
    file.Exchange(direction, key("Year").c_str(), time.year);
    file.Exchange(direction, key("Month").c_str(), time.month);
    file.Exchange(direction, key("Day").c_str(), time.day);
    file.Exchange(direction, key("Hour").c_str(), time.hour);
    file.Exchange(direction, key("Minute").c_str(), time.minute);
    file.Exchange(direction, key("Second").c_str(), time.second);
}

// The sixteen keys of a task in file order.
void ExchangeTask(ProfileFile& file, Direction direction, ScheduleTask& task) {
    file.Exchange(direction, "dwID", task.id);
    file.Exchange(direction, "bActiveTask", task.active);
    std::string title(task.Title());
    // The whole field: a 259-byte title read back through a 256-byte buffer would lose its end.
    file.Exchange(direction, "strTaskTitle", title, kTitleSize);
    if (direction == Direction::kLoad) task.SetTitle(title);
    file.Exchange(direction, "nActionDay", task.actionDay);
    ExchangeTime(file, direction, "wStart", task.start);
    ExchangeTime(file, direction, "wStop", task.stop);
}

}  // namespace

std::filesystem::path SchedulePath() {
    return DataFolder() / "Schedule.qms";
}

bool LoadSchedule(const std::string& path, TaskList& tasks) {
    if (path.empty()) return false;
    ProfileFile file(path, "", false);
    file.SetSection(kCountSection);
    int32_t count = 0;
    file.Exchange(Direction::kLoad, "nCount", count);
    if (count > kMaxTasks || count < 0) {
        std::fprintf(stderr, "Schedule file %s: nCount=%d, loading %d tasks\n", file.path().c_str(),
                     count, count < 0 ? 0 : kMaxTasks);
        count = count < 0 ? 0 : kMaxTasks;
    }
    for (int position = 1; position <= count; ++position) {
        file.SetSection(TaskSection(position));
        ScheduleTask task;
        ExchangeTask(file, Direction::kLoad, task);
        tasks.Append(task);
    }
    return true;
}

bool StoreSchedule(const std::string& path, const TaskList& tasks) {
    if (path.empty()) return false;
    std::filesystem::path target(path);
    std::error_code error;
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);

    std::string building = path + ".new";
    ::unlink(building.c_str());  // what an earlier, interrupted store left
    ProfileFile file(building, "", false);
    file.SetSection(kCountSection);
    int32_t count = static_cast<int32_t>(tasks.size());
    file.Exchange(Direction::kStore, "nCount", count);
    int position = 1;
    for (ScheduleTask task : tasks) {
        file.SetSection(TaskSection(position++));
        ExchangeTask(file, Direction::kStore, task);
    }
    if (file.WriteFailed() || std::rename(file.path().c_str(), path.c_str()) != 0) {
        ::unlink(file.path().c_str());
        return false;
    }
    return true;
}

}  // namespace quil::scheduler
