#include "app/scheduler/schedule_matcher.h"

#include <chrono>

namespace quil::scheduler {

namespace {

bool SameTimeOfDay(const TaskTime& time, const LocalSecond& now) {
    return time.hour == now.hour && time.minute == now.minute && time.second == now.second;
}

bool ValidTimeOfDay(int hour, int minute) {
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60;
}

bool Matches(const ScheduleTask& task, const TaskTime& time, const LocalSecond& now) {
    switch (task.actionDay) {
        case kFixedDay: {
            // Built with second 0: the stored second is not used.
            std::chrono::year_month_day date{std::chrono::year(time.year),
                                             std::chrono::month(time.month),
                                             std::chrono::day(time.day)};
            return date.ok() && ValidTimeOfDay(time.hour, time.minute) && time.year == now.year &&
                   time.month == now.month && time.day == now.day && time.hour == now.hour &&
                   time.minute == now.minute && now.second == 0;
        }
        case kEveryDay:
            return SameTimeOfDay(time, now);
        case kSunday:
        case kMonday:
        case kTuesday:
        case kWednesday:
        case kThursday:
        case kFriday:
        case kSaturday:
            return task.actionDay == now.dayOfWeek + 1 && SameTimeOfDay(time, now);
        default:
            return false;
    }
}

}  // namespace

bool ScheduleMatcher(const TaskList& tasks, MatchWhich which, const LocalSecond& now,
                     ScheduleTask* task) {
    if (!task) return false;
    for (const ScheduleTask& candidate : tasks) {
        const TaskTime& time = which == MatchWhich::kStart ? candidate.start : candidate.stop;
        if (Matches(candidate, time, now)) {
            *task = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace quil::scheduler
