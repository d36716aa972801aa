// Which task starts or stops at a given second: fixed day, every day, weekdays, list order.

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "app/scheduler/schedule_matcher.h"

namespace quil::scheduler {
namespace {

ScheduleTask Task(DWORD id, int actionDay, TaskTime start, TaskTime stop) {
    ScheduleTask task;
    task.id = id;
    task.actionDay = actionDay;
    task.start = start;
    task.stop = stop;
    return task;
}

// 2026-12-08 is a Tuesday (day of week 3 counting Sunday as 1).
LocalSecond At(int day, int hour, int minute, int second, int dayOfWeek) {
    return {2026, 12, day, hour, minute, second, dayOfWeek};
}

std::optional<DWORD> Match(const TaskList& tasks, MatchWhich which, const LocalSecond& now) {
    ScheduleTask task;
    if (!ScheduleMatcher(tasks, which, now, &task)) return std::nullopt;
    return task.id;
}

TEST(ScheduleMatcherTest, EveryDayTaskMatchesItsSecondOnAnyDay) {
    TaskList tasks;
    tasks.Append(Task(1, kEveryDay, {2009, 3, 0, 15, 7, 30, 0, 0}, {2009, 3, 0, 15, 8, 0, 0, 0}));
    for (int day = 1; day <= 7; ++day) {
        EXPECT_EQ(Match(tasks, MatchWhich::kStart, At(day, 7, 30, 0, day)), 1u) << day;
        EXPECT_EQ(Match(tasks, MatchWhich::kStop, At(day, 8, 0, 0, day)), 1u) << day;
    }
    EXPECT_FALSE(Match(tasks, MatchWhich::kStart, At(8, 7, 30, 1, 3)));
    EXPECT_FALSE(Match(tasks, MatchWhich::kStart, At(8, 7, 29, 59, 3)));
    EXPECT_FALSE(Match(tasks, MatchWhich::kStop, At(8, 7, 30, 0, 3)));
    // The whole record is copied out.
    ScheduleTask copy;
    ASSERT_TRUE(ScheduleMatcher(tasks, MatchWhich::kStart, At(8, 7, 30, 0, 3), &copy));
    EXPECT_EQ(std::memcmp(&copy, &tasks[0], sizeof copy), 0);
    EXPECT_FALSE(ScheduleMatcher(tasks, MatchWhich::kStart, At(8, 7, 30, 0, 3), nullptr));
}

TEST(ScheduleMatcherTest, FixedDayTaskMatchesSecondZeroOfItsMinuteOnItsDateOnly) {
    TaskList tasks;
    tasks.Append(Task(1, kFixedDay, {2026, 12, 0, 8, 7, 30, 30, 0}, {2026, 12, 0, 8, 9, 0, 45, 0}));
    EXPECT_EQ(Match(tasks, MatchWhich::kStart, At(8, 7, 30, 0, 3)), 1u);
    EXPECT_FALSE(Match(tasks, MatchWhich::kStart, At(8, 7, 30, 30, 3)));  // stored second unused
    EXPECT_FALSE(Match(tasks, MatchWhich::kStart, At(9, 7, 30, 0, 4)));
    EXPECT_EQ(Match(tasks, MatchWhich::kStop, At(8, 9, 0, 0, 3)), 1u);
    LocalSecond nextYear = At(8, 7, 30, 0, 3);
    nextYear.year = 2027;
    EXPECT_FALSE(Match(tasks, MatchWhich::kStart, nextYear));

    // A date that does not exist never matches, nor do the defaults of a missing section.
    TaskList invalid;
    invalid.Append(Task(2, kFixedDay, {2026, 2, 0, 30, 0, 0, 0, 0}, {}));
    invalid.Append(Task(3, kFixedDay, {}, {}));
    LocalSecond zero{0, 0, 0, 0, 0, 0, 1};
    EXPECT_FALSE(Match(invalid, MatchWhich::kStart, {2026, 2, 30, 0, 0, 0, 1}));
    EXPECT_FALSE(Match(invalid, MatchWhich::kStart, zero));
}

TEST(ScheduleMatcherTest, WeekdayTaskRunsOnItsDayOnly) {
    TaskList tasks;
    tasks.Append(Task(4, kTuesday, {2009, 3, 0, 15, 7, 30, 0, 0}, {2009, 3, 0, 15, 8, 0, 0, 0}));
    // Sunday 6th ... Saturday 12th December 2026.
    for (int dayOfWeek = 1; dayOfWeek <= 7; ++dayOfWeek) {
        bool tuesday = dayOfWeek == 3;
        EXPECT_EQ(
            Match(tasks, MatchWhich::kStart, At(5 + dayOfWeek, 7, 30, 0, dayOfWeek)).has_value(),
            tuesday)
            << dayOfWeek;
    }
    TaskList sunday, saturday;
    sunday.Append(Task(2, kSunday, {0, 0, 0, 0, 6, 0, 0, 0}, {}));
    saturday.Append(Task(8, kSaturday, {0, 0, 0, 0, 6, 0, 0, 0}, {}));
    EXPECT_TRUE(Match(sunday, MatchWhich::kStart, At(6, 6, 0, 0, 1)));
    EXPECT_FALSE(Match(sunday, MatchWhich::kStart, At(12, 6, 0, 0, 7)));
    EXPECT_TRUE(Match(saturday, MatchWhich::kStart, At(12, 6, 0, 0, 7)));
}

TEST(ScheduleMatcherTest, FirstMatchInListOrderWinsActiveOrNot) {
    TaskList tasks;
    tasks.Append(Task(9, 42, {0, 0, 0, 0, 7, 30, 0, 0}, {}));   // unknown action day: never
    tasks.Append(Task(10, -1, {0, 0, 0, 0, 7, 30, 0, 0}, {}));  // nor a negative one
    ScheduleTask inactive = Task(11, kEveryDay, {0, 0, 0, 0, 7, 30, 0, 0}, {});
    inactive.active = 0;
    tasks.Append(inactive);
    tasks.Append(Task(12, kEveryDay, {0, 0, 0, 0, 7, 30, 0, 0}, {}));
    EXPECT_EQ(Match(tasks, MatchWhich::kStart, At(8, 7, 30, 0, 3)), 11u);
    EXPECT_FALSE(Match(TaskList(), MatchWhich::kStart, At(8, 7, 30, 0, 3)));
}

}  // namespace
}  // namespace quil::scheduler
