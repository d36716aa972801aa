// The schedule file: the stored layout byte for byte, defaults for what is missing, atoi for bad
// numbers, the cap on the task count, and a store that replaces the whole file.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/scheduler/profile_file.h"
#include "app/scheduler/schedule_file.h"
#include "platform/registry/user_folders.h"
#include "testsupport/test_support.h"

namespace quil::scheduler {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMorningFile =
    "[Task Count]\n"
    "nCount=1\n"
    "[Task 1]\n"
    "dwID=7536671\n"
    "bActiveTask=1\n"
    "strTaskTitle=Morning\n"
    "nActionDay=1\n"
    "wStartYear=2009\n"
    "wStartMonth=3\n"
    "wStartDay=15\n"
    "wStartHour=7\n"
    "wStartMinute=30\n"
    "wStartSecond=0\n"
    "wStopYear=2009\n"
    "wStopMonth=3\n"
    "wStopDay=15\n"
    "wStopHour=8\n"
    "wStopMinute=0\n"
    "wStopSecond=0\n";

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

ScheduleTask Morning() {
    ScheduleTask task;
    task.id = 7536671;
    task.active = 1;
    task.SetTitle("Morning");
    task.actionDay = kEveryDay;
    task.start = {2009, 3, 0, 15, 7, 30, 0, 0};
    task.stop = {2009, 3, 0, 15, 8, 0, 0, 0};
    return task;
}

class ScheduleFileTest : public ::testing::Test {
protected:
    void SetUp() override { path_ = (test::MakeTempDir("schedule") / "Schedule.qms").string(); }
    TaskList Load() {
        TaskList tasks;
        EXPECT_TRUE(LoadSchedule(path_, tasks));
        return tasks;
    }
    std::string path_;
};

TEST_F(ScheduleFileTest, LivesInTheDataFolder) {
    EXPECT_EQ(SchedulePath(), DataFolder() / "Schedule.qms");
}

TEST_F(ScheduleFileTest, StoredTaskIsTheKnownLayoutByteForByteAndLoadsBack) {
    TaskList tasks;
    tasks.Append(Morning());
    ASSERT_TRUE(StoreSchedule(path_, tasks));
    EXPECT_EQ(ReadText(path_), kMorningFile);

    TaskList loaded = Load();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(std::memcmp(&loaded[0], &tasks[0], sizeof(ScheduleTask)), 0);

    // The file written by hand round trips to the same bytes.
    WriteText(path_, kMorningFile);
    TaskList again = Load();
    ASSERT_TRUE(StoreSchedule(path_, again));
    EXPECT_EQ(ReadText(path_), kMorningFile);
}

TEST_F(ScheduleFileTest, MissingFileSectionsAndKeysLoadAsDefaults) {
    EXPECT_TRUE(Load().empty());  // no file

    WriteText(path_, std::string(kMorningFile)
                         .replace(std::string(kMorningFile).find("nCount=1"), 8, "nCount=3"));
    TaskList tasks = Load();
    ASSERT_EQ(tasks.size(), 3u);
    EXPECT_EQ(tasks[0].Title(), "Morning");
    for (size_t i : {1u, 2u}) {
        ScheduleTask defaults;
        EXPECT_EQ(tasks[i].id, 0u);
        EXPECT_EQ(tasks[i].active, 1);
        EXPECT_EQ(tasks[i].Title(), "");
        EXPECT_EQ(tasks[i].actionDay, kFixedDay);
        EXPECT_EQ(tasks[i].start, TaskTime{});
        EXPECT_EQ(tasks[i].stop, TaskTime{});
        EXPECT_EQ(std::memcmp(&tasks[i], &defaults, sizeof defaults), 0);
    }

    WriteText(path_, "[Task 1]\nstrTaskTitle=x\n");  // no count: no tasks
    EXPECT_TRUE(Load().empty());
    EXPECT_FALSE(LoadSchedule("", *std::make_unique<TaskList>()));
    EXPECT_FALSE(StoreSchedule("", TaskList()));
}

TEST_F(ScheduleFileTest, NumbersAreReadAsAtoiDoesAndWrapToTheirFields) {
    WriteText(path_,
              "[Task Count]\nnCount=1 tasks\n[Task 1]\n"
              "dwID=-1\nbActiveTask=0\nnActionDay=Tuesday\n"
              "wStartYear=70000\nwStartMonth=  12abc\nwStartDay=-1\nwStartHour=\n"
              "wStopYear=99999999999\n");
    TaskList tasks = Load();
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].id, 0xFFFFFFFFu);  // an id above 2^31 is stored as "%d"
    EXPECT_EQ(tasks[0].active, 0);
    EXPECT_EQ(tasks[0].actionDay, 0);  // not a number
    EXPECT_EQ(tasks[0].start.year, 70000 & 0xFFFF);
    EXPECT_EQ(tasks[0].start.month, 12);
    EXPECT_EQ(tasks[0].start.day, 0xFFFF);
    EXPECT_EQ(tasks[0].start.hour, 0);  // empty value
    EXPECT_EQ(tasks[0].stop.year, static_cast<WORD>(99999999999LL));

    ASSERT_TRUE(StoreSchedule(path_, tasks));
    EXPECT_NE(ReadText(path_).find("dwID=-1\n"), std::string::npos);
    EXPECT_EQ(Load()[0].id, 0xFFFFFFFFu);
}

TEST_F(ScheduleFileTest, HugeOrNegativeCountIsCappedAndSaidOnStandardError) {
    WriteText(path_,
              std::string("[Task Count]\nnCount=2147483647\n") +
                  std::string(kMorningFile).substr(std::string(kMorningFile).find("[Task 1]")));
    testing::internal::CaptureStderr();
    auto began = std::chrono::steady_clock::now();
    TaskList tasks = Load();
    auto took = std::chrono::steady_clock::now() - began;
    std::string said = testing::internal::GetCapturedStderr();
    ASSERT_EQ(tasks.size(), static_cast<size_t>(kMaxTasks));
    EXPECT_EQ(tasks[0].Title(), "Morning");
    EXPECT_EQ(tasks[kMaxTasks - 1].id, 0u);
    EXPECT_NE(said.find("nCount=2147483647"), std::string::npos) << said;
    EXPECT_NE(said.find(std::to_string(kMaxTasks)), std::string::npos) << said;
    std::printf("[ figures ] loading a capped count of %d tasks took %lld ms\n", kMaxTasks,
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));

    WriteText(path_, "[Task Count]\nnCount=-5\n");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(Load().empty());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("nCount=-5"), std::string::npos);
}

TEST_F(ScheduleFileTest, LongTitlesAreCutOnACharacterBoundaryAndKeepAll259Bytes) {
    ScheduleTask task;
    task.SetTitle(std::string(300, 'a'));
    EXPECT_EQ(task.Title(), std::string(259, 'a'));

    // 258 ASCII bytes and a two-byte character: the character does not fit and goes whole.
    std::string title = std::string(258, 'b') + "\xC3\xA9" + "tail";
    task.SetTitle(title);
    EXPECT_EQ(task.Title(), std::string(258, 'b'));
    // A three-byte character ending exactly at 259 bytes stays.
    task.SetTitle(std::string(256, 'c') + "\xE2\x82\xAC" + "x");
    EXPECT_EQ(task.Title(), std::string(256, 'c') + "\xE2\x82\xAC");
    EXPECT_EQ(CutOnCharacter("\xE2\x82\xAC", 2), "");
    EXPECT_EQ(CutOnCharacter("ab", 5), "ab");

    // The whole field survives the file, not only the first 255 bytes.
    task.SetTitle(std::string(259, 'd'));
    TaskList tasks;
    tasks.Append(task);
    ASSERT_TRUE(StoreSchedule(path_, tasks));
    EXPECT_EQ(Load()[0].Title(), std::string(259, 'd'));

    // A longer title written by another program is cut on a character boundary too.
    WriteText(path_, "[Task Count]\nnCount=1\n[Task 1]\nstrTaskTitle=" + std::string(258, 'e') +
                         "\xC3\xA9\n");
    EXPECT_EQ(Load()[0].Title(), std::string(258, 'e'));
}

TEST_F(ScheduleFileTest, StoreReplacesTheWholeFileSoRemovedTasksDisappear) {
    TaskList tasks;
    tasks.Append(Morning());
    ScheduleTask evening = Morning();
    evening.id = 42;
    evening.SetTitle("Evening");
    tasks.Append(evening);
    ASSERT_TRUE(StoreSchedule(path_, tasks));
    ASSERT_NE(ReadText(path_).find("[Task 2]"), std::string::npos);
    WriteText(path_, ReadText(path_) + "[Stray]\nkey=value\n");

    ASSERT_TRUE(tasks.RemoveFirst(7536671));
    ASSERT_TRUE(StoreSchedule(path_, tasks));
    std::string text = ReadText(path_);
    EXPECT_EQ(text.find("[Task 2]"), std::string::npos);
    EXPECT_EQ(text.find("Stray"), std::string::npos);
    EXPECT_NE(text.find("nCount=1\n[Task 1]\ndwID=42\n"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(path_ + ".new"));

    // An empty list still records its count.
    ASSERT_TRUE(StoreSchedule(path_, TaskList()));
    EXPECT_EQ(ReadText(path_), "[Task Count]\nnCount=0\n");
}

TEST_F(ScheduleFileTest, ManyTasksRoundTripInOrder) {
    TaskList tasks;
    for (DWORD id = 1; id <= 200; ++id) {
        ScheduleTask task = Morning();
        task.id = id;
        task.SetTitle("Task number " + std::to_string(id));
        task.actionDay = static_cast<int32_t>(id % kActionDayCount);
        tasks.Append(task);
    }
    auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(StoreSchedule(path_, tasks));
    auto stored = std::chrono::steady_clock::now();
    TaskList loaded = Load();
    auto done = std::chrono::steady_clock::now();
    ASSERT_EQ(loaded.size(), tasks.size());
    for (size_t i = 0; i < tasks.size(); ++i)
        EXPECT_EQ(std::memcmp(&loaded[i], &tasks[i], sizeof(ScheduleTask)), 0) << i;
    auto ms = [](auto span) {
        return static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(span).count());
    };
    std::printf("[ figures ] 200 tasks: store %lld ms, load %lld ms\n", ms(stored - began),
                ms(done - stored));
}

TEST_F(ScheduleFileTest, FailedStoreKeepsTheOldFileAndSaysSo) {
    TaskList tasks;
    tasks.Append(Morning());
    // A folder where the file should be: the new file cannot take its place.
    fs::create_directories(path_);
    EXPECT_FALSE(StoreSchedule(path_, tasks));
    EXPECT_TRUE(fs::is_directory(path_));
    EXPECT_FALSE(fs::exists(path_ + ".new"));

    // The data folder is created when it is missing.
    std::string nested = (test::MakeTempDir("nested") / "a" / "b" / "Schedule.qms").string();
    EXPECT_TRUE(StoreSchedule(nested, tasks));
    EXPECT_EQ(ReadText(nested), kMorningFile);
}

TEST_F(ScheduleFileTest, ProfileFileFindsItsFileAndSection) {
    ProfileFile relative("sub/x.ini", "Section", false);
    EXPECT_EQ(relative.path(), (fs::current_path() / "sub/x.ini").string());
    EXPECT_EQ(relative.section(), "Section");
    ProfileFile unnamed("", "", true);
    EXPECT_EQ(fs::path(unnamed.path()).parent_path(), ProgramFolder());
    EXPECT_EQ(fs::path(unnamed.path()).extension(), ".ini");
    EXPECT_EQ(fs::path(unnamed.path()).stem().string(), unnamed.section());

    ProfileFile file(path_, "Numbers", false);
    int32_t number = -7;
    uint16_t small = 65535;
    std::string text = "kept";
    file.Exchange(Direction::kStore, "n", number);
    file.Exchange(Direction::kStore, "w", small);
    number = 0;
    small = 0;
    file.Exchange(Direction::kLoad, "n", number);
    file.Exchange(Direction::kLoad, "w", small);
    file.Exchange(Direction::kLoad, "missing", text);
    EXPECT_EQ(number, -7);
    EXPECT_EQ(small, 65535);
    EXPECT_EQ(text, "kept");  // the current value is the default
    EXPECT_EQ(ReadText(path_), "[Numbers]\nn=-7\nw=65535\n");
    EXPECT_FALSE(file.WriteFailed());
}

TEST_F(ScheduleFileTest, SnapshotReadsAsTheProfileFunctionsDo) {
    WriteText(path_,
              "orphan=before any section\r\n"
              "  [ Task 1 ]  trailing\r\n"
              "; comment=not a key\r\n"
              "  dwID =  12  \r\n"
              "DWID=13\r\n"
              "strTaskTitle=\"  quoted  \"\r\n"
              "single='x'\r"
              "mixed=\"x'\n"
              "no equals sign\n"
              "empty=\n"
              "[task 1]\n"
              "later=from a repeated section\n"
              "[Task 2\n"
              "open=bracket\n"
              "[]\n"
              "blank=name\n"
              "[Task 3]");
    const char* sections[] = {"Task 1", "TASK 1", " Task 1 ", "Task 2", "", "Task 3", "None"};
    const char* keys[] = {"dwID",           "dwid",    "strTaskTitle", "single", "mixed",
                          "empty",          "later",   "orphan",       "open",   "blank",
                          "no equals sign", "comment", "; comment"};
    ProfileFile direct(path_, "x", false);
    ProfileFile snapshot(path_, "x", false);
    snapshot.TakeSnapshot();
    for (const char* section : sections) {
        for (const char* key : keys) {
            for (const char* fallback : {"", "fallback  ", "7"}) {
                direct.SetSection(section);
                snapshot.SetSection(section);
                std::string a = fallback, b = fallback;
                direct.Exchange(Direction::kLoad, key, a);
                snapshot.Exchange(Direction::kLoad, key, b);
                EXPECT_EQ(a, b) << "[" << section << "] " << key << " default " << fallback;
            }
        }
    }
    // Cut the same way at the buffer's end.
    snapshot.SetSection("Task 1");
    direct.SetSection("Task 1");
    std::string a, b;
    direct.Exchange(Direction::kLoad, "strTaskTitle", a, 5);
    snapshot.Exchange(Direction::kLoad, "strTaskTitle", b, 5);
    EXPECT_EQ(a, "  qu");
    EXPECT_EQ(a, b);
}

}  // namespace
}  // namespace quil::scheduler
