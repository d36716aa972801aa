#pragma once

// A recording task of the schedule and the list the main window keeps of them.

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/com/types.h"

namespace quil::scheduler {

// Which days a task runs on; the numbers are the rows of the "When" list.
enum ActionDay : int32_t {
    kFixedDay = 0,
    kEveryDay = 1,
    kSunday = 2,
    kMonday = 3,
    kTuesday = 4,
    kWednesday = 5,
    kThursday = 6,
    kFriday = 7,
    kSaturday = 8,
};
inline constexpr int kActionDayCount = 9;

// The labels of the "When" list, in ActionDay order.
std::string_view ActionDayLabel(int actionDay);

// Year, month, day of week, day, hour, minute, second, milliseconds; a task sets neither the day of
// week nor the milliseconds.
struct TaskTime {
    WORD year = 0;
    WORD month = 0;
    WORD dayOfWeek = 0;
    WORD day = 0;
    WORD hour = 0;
    WORD minute = 0;
    WORD second = 0;
    WORD milliseconds = 0;
    bool operator==(const TaskTime&) const = default;
};

inline constexpr size_t kTitleSize = 260;  // with its terminator

struct ScheduleTask {
    DWORD id = 0;
    int32_t active = 1;
    char title[kTitleSize] = {};
    int32_t actionDay = kFixedDay;
    TaskTime start;
    TaskTime stop;

    // Copies at most 259 bytes, cut before a UTF-8 character that would not fit whole.
    void SetTitle(std::string_view text);
    std::string_view Title() const;
};
static_assert(sizeof(ScheduleTask) == 304, "the task record keeps its fixed size");

// The longest prefix of `text` of at most `limit` bytes that ends on a UTF-8 character boundary.
std::string_view CutOnCharacter(std::string_view text, size_t limit);

// Tasks in the order they were added; the schedule page and the scheduler tick share it on the
// UI thread.
class TaskList {
public:
    void Append(const ScheduleTask& task) { tasks_.push_back(task); }
    // The first task with this id, or null.
    const ScheduleTask* Find(DWORD id) const;
    // Takes out the first task with this id; false when there is none.
    bool RemoveFirst(DWORD id);
    void Clear() { tasks_.clear(); }

    size_t size() const { return tasks_.size(); }
    bool empty() const { return tasks_.empty(); }
    const ScheduleTask& operator[](size_t i) const { return tasks_[i]; }
    auto begin() const { return tasks_.begin(); }
    auto end() const { return tasks_.end(); }

private:
    std::vector<ScheduleTask> tasks_;
};

}  // namespace quil::scheduler
