// The scheduler tick against a set clock and a window stand-in: every second since the previous
// tick is checked (at most a minute back), and the end option after a task's stop, with the
// shut-down countdown. The main window's own tests are in main_window_schedule_test.cpp.

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <vector>

#include "app/controls/skin.h"
#include "app/scheduler/scheduler_runtime.h"
#include "app/scheduler/shutdown_countdown.h"
#include "app/settings/format_settings.h"
#include "app/settings/option_tables.h"
#include "app/shell/testing/qt_application.h"
#include "app/shell/testing/test_page_host.h"
#include "app/shell/testing/test_services.h"

namespace quil::scheduler {
namespace {

using shell::testing::TestServices;
using shell::testing::WaitFor;

class WindowStandIn : public ScheduleHost {
public:
    bool ScheduledStart(const ScheduleTask& task) override {
        starts.push_back(task.id);
        if (busy) return false;
        busy = recording = true;
        return true;
    }
    bool ScheduledStop(const ScheduleTask& task) override {
        stops.push_back(task.id);
        if (!liveCurrent) return false;
        bool stopped = recording;
        busy = recording = false;
        return stopped;
    }
    bool Busy() const override { return busy; }
    void CloseProgram() override { ++closes; }

    std::vector<DWORD> starts, stops;
    bool busy = false, recording = false, liveCurrent = true;
    int closes = 0;
};

ScheduleTask Daily(DWORD id, QTime start, QTime stop, int actionDay = kEveryDay) {
    ScheduleTask task;
    task.id = id;
    task.actionDay = actionDay;
    task.start = {2026,
                  12,
                  0,
                  7,
                  static_cast<WORD>(start.hour()),
                  static_cast<WORD>(start.minute()),
                  static_cast<WORD>(start.second()),
                  0};
    task.stop = {2026,
                 12,
                 0,
                 7,
                 static_cast<WORD>(stop.hour()),
                 static_cast<WORD>(stop.minute()),
                 static_cast<WORD>(stop.second()),
                 0};
    return task;
}

class SchedulerRuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        shell::testing::EnsureApplication();
        settings::SaveEndOption(settings::kEndNothing);
        runtime_ = std::make_unique<SchedulerRuntime>(services_.Set(), host_, nullptr);
    }
    void TickAt(QDate date, QTime time) {
        services_.clock.now = QDateTime(date, time);
        runtime_->Tick();
    }
    static QDate Monday() { return QDate(2026, 12, 7); }

    TestServices services_;
    WindowStandIn host_;
    std::unique_ptr<SchedulerRuntime> runtime_;
};

TEST_F(SchedulerRuntimeTest, LateOrCoarseTicksStillCatchTheTasksSecond) {
    runtime_->tasks().Append(Daily(1, QTime(7, 30, 0), QTime(8, 0, 0)));
    // 07:29:59.98, then 07:30:01.02: the second 07:30:00 had no tick of its own.
    TickAt(Monday(), QTime(7, 29, 59, 980));
    EXPECT_TRUE(host_.starts.empty());
    TickAt(Monday(), QTime(7, 30, 1, 20));
    EXPECT_EQ(host_.starts, std::vector<DWORD>({1}));
    // Two ticks in one second, and a tick repeated, check it once.
    TickAt(Monday(), QTime(7, 30, 1, 900));
    TickAt(Monday(), QTime(7, 30, 2, 0));
    EXPECT_EQ(host_.starts.size(), 1u);

    // A stop due 59 seconds back is caught; one 61 seconds back (after a suspend) is not.
    TickAt(Monday(), QTime(8, 0, 59));
    EXPECT_EQ(host_.stops, std::vector<DWORD>({1}));
    TickAt(Monday().addDays(1), QTime(7, 29, 0));
    TickAt(Monday().addDays(1), QTime(7, 31, 1));
    EXPECT_EQ(host_.starts.size(), 1u);
}

TEST_F(SchedulerRuntimeTest, TheFirstTickAndAClockSetBackCheckOnlyTheirOwnSecond) {
    runtime_->tasks().Append(Daily(1, QTime(7, 30, 0), QTime(8, 0, 0)));
    TickAt(Monday(), QTime(7, 30, 30));  // start-up after the task's second
    EXPECT_TRUE(host_.starts.empty());
    TickAt(Monday(), QTime(7, 40, 0));
    TickAt(Monday(), QTime(7, 30, 0));  // the clock set back ten minutes
    EXPECT_EQ(host_.starts, std::vector<DWORD>({1}));
}

TEST_F(SchedulerRuntimeTest, CloseQuilletAfterTheTaskStopsItsRecording) {
    settings::SaveEndOption(settings::kEndCloseProgram);
    runtime_->tasks().Append(Daily(1, QTime(7, 30, 0), QTime(8, 0, 0)));
    TickAt(Monday(), QTime(7, 30, 0));
    ASSERT_TRUE(host_.recording);
    TickAt(Monday(), QTime(8, 0, 0));
    EXPECT_EQ(host_.closes, 0);  // not from inside the tick
    EXPECT_TRUE(WaitFor([&] { return host_.closes == 1; }, 5000));

    // A stop that stopped nothing (another page is current) does not close.
    host_.liveCurrent = false;
    TickAt(Monday(), QTime(7, 30, 0));
    TickAt(Monday(), QTime(8, 0, 0));
    QCoreApplication::processEvents();
    EXPECT_EQ(host_.closes, 1);
}

TEST_F(SchedulerRuntimeTest, CloseWaitsUntilTheWindowIsIdle) {
    settings::SaveEndOption(settings::kEndCloseProgram);
    runtime_->tasks().Append(Daily(1, QTime(7, 30, 0), QTime(8, 0, 0)));
    TickAt(Monday(), QTime(7, 30, 0));
    TickAt(Monday(), QTime(8, 0, 0));
    host_.busy = true;  // the page still finishing the file
    QCoreApplication::processEvents();
    EXPECT_EQ(host_.closes, 0);
    TickAt(Monday(), QTime(8, 0, 1));
    QCoreApplication::processEvents();
    EXPECT_EQ(host_.closes, 0);
    host_.busy = false;
    TickAt(Monday(), QTime(8, 0, 2));
    EXPECT_TRUE(WaitFor([&] { return host_.closes == 1; }, 5000));
}

class ShutDownTest : public SchedulerRuntimeTest {
protected:
    void SetUp() override {
        SchedulerRuntimeTest::SetUp();
        settings::SaveEndOption(settings::kEndShutDown);
        runtime_->tasks().Append(Daily(1, QTime(7, 30, 0), QTime(8, 0, 0)));
        TickAt(Monday(), QTime(7, 30, 0));
        TickAt(Monday(), QTime(8, 0, 0));
        ASSERT_TRUE(WaitFor([&] { return runtime_->countdown() != nullptr; }, 5000));
        countdown_ = runtime_->countdown();
    }
    QString Text() { return countdown_->findChild<QLabel*>("countdownText")->text(); }
    ShutdownCountdown* countdown_ = nullptr;
};

TEST_F(ShutDownTest, PowersOffOnlyAfterTheCountdown) {
    EXPECT_TRUE(countdown_->isVisible());
    EXPECT_EQ(Text(), "The scheduled task has finished. The computer shuts down in 60 seconds.");
    EXPECT_EQ(host_.closes, 0);
    controls::ApplyProgramLook(*qApp);
    const QString folder = QStringLiteral(QUIL_SCHEDULER_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(countdown_->grab().save(folder + "/shutdown_countdown.png"));
    services_.clock.now = services_.clock.now.addSecs(59);
    EXPECT_TRUE(WaitFor([&] { return Text().contains(" 1 second"); }, 5000))
        << Text().toStdString();
    EXPECT_EQ(services_.power.requests, 0);
    services_.clock.now = services_.clock.now.addSecs(1);
    EXPECT_TRUE(WaitFor([&] { return services_.power.requests == 1; }, 5000));
    EXPECT_TRUE(WaitFor([&] { return runtime_->countdown() == nullptr; }, 5000));
    EXPECT_TRUE(services_.messages.shown.empty());
    // The recording's start and stop, then the countdown.
    ASSERT_EQ(services_.notifier.notes.size(), 3u);
    EXPECT_TRUE(services_.notifier.notes[0].startsWith("Scheduled recording started\n"));
    EXPECT_TRUE(services_.notifier.notes[1].startsWith("Scheduled recording stopped\n"));
    EXPECT_TRUE(services_.notifier.notes[2].contains("The computer shuts down in 60 seconds."))
        << services_.notifier.notes[2].toStdString();
}

TEST_F(ShutDownTest, CancelledCountdownNeverPowersOff) {
    QTest::mouseClick(countdown_->findChild<QPushButton*>("cancelShutdown"), Qt::LeftButton);
    EXPECT_FALSE(countdown_->isVisible());
    // Clicked from outside an event loop: the dialog's deferred deletion is run by hand.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(runtime_->countdown(), nullptr);
    services_.clock.now = services_.clock.now.addSecs(120);
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(services_.power.requests, 0);
}

TEST_F(ShutDownTest, RefusedPowerOffIsReported) {
    class RefusingPower : public shell::PowerControl {
    public:
        bool PowerOff() override { return ++requests, false; }
        int requests = 0;
    } refusing;
    // A countdown of its own, on the refusing service.
    shell::Services services = services_.Set();
    services.power = &refusing;
    auto* countdown = new ShutdownCountdown(services);
    countdown->Start();
    services_.clock.now = services_.clock.now.addSecs(60);
    EXPECT_TRUE(WaitFor([&] { return refusing.requests == 1; }, 5000));
    ASSERT_FALSE(services_.messages.shown.empty());
    EXPECT_TRUE(
        services_.messages.Texts().last().startsWith("The computer could not be shut down"));
}

}  // namespace
}  // namespace quil::scheduler
