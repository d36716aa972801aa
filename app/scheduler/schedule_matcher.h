#pragma once

// Which task, if any, starts or stops at a given second of local time.

#include "app/scheduler/schedule_task.h"

namespace quil::scheduler {

enum class MatchWhich { kStart, kStop };

// One second of local time.
struct LocalSecond {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int dayOfWeek = 1;  // 1 Sunday ... 7 Saturday
};

// Copies the first task of the list (in list order, active or not) whose start or stop falls on
// `now` into `task`; false when none does or `task` is null. A fixed-day task matches at second 0
// of its stored minute; an every-day task at its hour, minute and second; a weekday task (action
// day 2 Sunday ... 8 Saturday) at those on its day.
bool ScheduleMatcher(const TaskList& tasks, MatchWhich which, const LocalSecond& now,
                     ScheduleTask* task);

}  // namespace quil::scheduler
