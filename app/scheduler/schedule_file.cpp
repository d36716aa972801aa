#include "app/scheduler/schedule_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
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

std::filesystem::path ScratchFolder() {
    std::error_code error;
    if (std::filesystem::is_directory("/dev/shm", error)) return "/dev/shm";
    return std::filesystem::temp_directory_path(error);
}

bool ReadWhole(const std::string& path, std::string* content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The old file stays whole until the new one is complete on disk.
bool ReplaceWith(const std::string& path, const std::string& content) {
    std::filesystem::path target(path);
    std::error_code error;
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);
    std::string building = path + ".new";
    int fd = ::open(building.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < content.size();) {
        ssize_t put = ::write(fd, content.data() + done, content.size() - done);
        if (put < 0 && errno == EINTR) continue;
        ok = put > 0;
        if (ok) done += static_cast<size_t>(put);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(building.c_str(), path.c_str()) != 0) {
        ::unlink(building.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::filesystem::path SchedulePath() {
    return DataFolder() / "Schedule.qms";
}

bool LoadSchedule(const std::string& path, TaskList& tasks) {
    if (path.empty()) return false;
    ProfileFile file(path, "", false);
    file.TakeSnapshot();
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
    // The profile writer reads, rewrites and flushes the whole file for every key: a long schedule
    // written in place would take minutes. Each section is written into a small scratch file in
    // memory-backed storage instead, and the sections joined make the same bytes, flushed once.
    std::string scratch = (ScratchFolder() / "Schedule.qms.XXXXXX").string();
    int fd = ::mkstemp(scratch.data());
    if (fd < 0) return false;
    ::close(fd);
    std::string content;
    auto writeSection = [&](const std::string& name, auto&& writeKeys) {
        std::ofstream(scratch, std::ios::binary | std::ios::trunc);
        ProfileFile file(scratch, name, false);
        writeKeys(file);
        std::string section;
        if (file.WriteFailed() || !ReadWhole(scratch, &section)) return false;
        content += section;
        return true;
    };
    bool built = writeSection(kCountSection, [&](ProfileFile& file) {
        int32_t count = static_cast<int32_t>(tasks.size());
        file.Exchange(Direction::kStore, "nCount", count);
    });
    int position = 1;
    for (auto task = tasks.begin(); built && task != tasks.end(); ++task) {
        built = writeSection(TaskSection(position++), [&](ProfileFile& file) {
            ScheduleTask copy = *task;
            ExchangeTask(file, Direction::kStore, copy);
        });
    }
    ::unlink(scratch.c_str());
    return built && ReplaceWith(path, content);
}

}  // namespace quil::scheduler
