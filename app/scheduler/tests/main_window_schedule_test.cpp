// Scheduled tasks on the real main window: timer 3131 and the window's own Record and Stop on
// the recorder page, the schedule tab of its options dialog, and the end options; pages that
// answer as told, and a real recording on the live page and the private sound server.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include <filesystem>

#include "app/scheduler/schedule_file.h"
#include "app/scheduler/scheduler_runtime.h"
#include "app/scheduler/shutdown_countdown.h"
#include "app/settings/format_settings.h"
#include "app/settings/option_tables.h"
#include "app/settings/output_naming.h"
#include "app/settings/settings_key.h"
#include "app/settings/ui/options_dialog.h"
#include "app/shell/main_window.h"
#include "app/shell/messages.h"
#include "app/shell/pages/live/live_page.h"
#include "app/shell/testing/elsewhere.h"
#include "app/shell/testing/qt_application.h"
#include "app/shell/testing/test_page_host.h"
#include "app/shell/testing/test_services.h"
#include "app/shell/tests/fake_page.h"
#include "testsupport/pulse_server.h"
#include "testsupport/test_support.h"

namespace quil::scheduler {
namespace {

using shell::MainWindow;
using shell::testing::FakePage;
using shell::testing::TestServices;
using shell::testing::WaitFor;

QDate Monday() {
    return QDate(2026, 12, 7);
}

ScheduleTask Daily(DWORD id, QTime start, QTime stop, int actionDay = kEveryDay) {
    ScheduleTask task;
    task.id = id;
    task.actionDay = actionDay;
    task.SetTitle("Task " + std::to_string(id));
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

class MainWindowScheduleTest : public ::testing::Test {
protected:
    void SetUp() override {
        shell::testing::EnsureApplication();
        settings::SaveEndOption(settings::kEndNothing);
        MainWindow::Options options;
        options.services = services.Set();
        options.showSplash = false;
        options.pages = [this](int index, shell::PageHost& host, QWidget* parent) {
            auto page = std::make_unique<FakePage>(index, host, parent);
            pages[index] = page.get();
            return page;
        };
        window = std::make_unique<MainWindow>(options);
        window->show();
    }
    TaskList& Tasks() { return window->Scheduler()->tasks(); }
    void TickAt(QDate date, QTime time) {
        services.clock.now = QDateTime(date, time);
        window->Scheduler()->Tick();
    }
    int Starts() { return pages[shell::kLivePage]->Count("StartGrab"); }

    TestServices services;
    std::map<int, FakePage*> pages;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowScheduleTest, TaskStartsAndStopsARecordingOnTheRecorderPage) {
    auto elsewhere = shell::testing::ActivateWindowElsewhere();
    Tasks().Append(Daily(1, QTime(7, 30, 0), QTime(8, 0, 0)));
    window->SelectPage(shell::kMediaPage);
    TickAt(Monday(), QTime(7, 29, 59));
    EXPECT_EQ(Starts(), 0);
    TickAt(Monday(), QTime(7, 30, 0));
    EXPECT_EQ(window->CurrentPageIndex(), shell::kLivePage);
    EXPECT_EQ(Starts(), 1);
    EXPECT_TRUE(window->IsBusy() && window->IsGrabbing());
    TickAt(Monday(), QTime(8, 0, 0));
    EXPECT_EQ(pages[shell::kLivePage]->Count("StopGrab"), 1);
    EXPECT_FALSE(window->IsBusy());
    // Nobody was at the window: the desktop was told both.
    ASSERT_FALSE(window->isActiveWindow());
    EXPECT_EQ(services.notifier.notes, QStringList({"Scheduled recording started\nTask 1",
                                                    "Scheduled recording stopped\nTask 1"}));
}

TEST_F(MainWindowScheduleTest, AStartThatCannotRunIsNotified) {
    auto elsewhere = shell::testing::ActivateWindowElsewhere();
    Tasks().Append(Daily(2, QTime(9, 0, 0), QTime(9, 30, 0)));
    window->SelectPage(shell::kMediaPage);
    window->Record();
    ASSERT_TRUE(window->IsBusy());
    TickAt(Monday(), QTime(9, 0, 0));
    EXPECT_EQ(services.notifier.notes, QStringList{"Scheduled recording did not start\nTask 2"});
}

TEST_F(MainWindowScheduleTest, StartWhileAMediaFileGrabRunsIsSkipped) {
    Tasks().Append(Daily(1, QTime(7, 30, 0), QTime(8, 0, 0)));
    window->SelectPage(shell::kMediaPage);
    window->Record();
    ASSERT_TRUE(window->IsBusy());
    TickAt(Monday(), QTime(7, 29, 59));
    TickAt(Monday(), QTime(7, 30, 0));
    EXPECT_EQ(Starts(), 0);
    EXPECT_EQ(window->CurrentPageIndex(), shell::kMediaPage);
    // Its stop does nothing on another page: the extraction runs on.
    TickAt(Monday(), QTime(8, 0, 0));
    EXPECT_EQ(pages[shell::kMediaPage]->Count("StopGrab"), 0);
    EXPECT_TRUE(window->IsBusy());
}

TEST_F(MainWindowScheduleTest, StopOnTheRecorderPageEndsAPlaybackToo) {
    Tasks().Append(Daily(1, QTime(7, 30, 0), QTime(8, 0, 0)));
    window->Play();
    TickAt(Monday(), QTime(7, 59, 59));
    TickAt(Monday(), QTime(8, 0, 0));
    EXPECT_EQ(pages[shell::kLivePage]->Count("StopPlayback"), 1);
}

TEST_F(MainWindowScheduleTest, WeekdayTaskWithActionDay4RunsOnTuesdaysOnly) {
    Tasks().Append(Daily(4, QTime(7, 30, 0), QTime(7, 45, 0), kTuesday));
    for (int day = 0; day < 7; ++day) {
        TickAt(Monday().addDays(day), QTime(7, 29, 59));
        TickAt(Monday().addDays(day), QTime(7, 30, 0));
        const bool tuesday = Monday().addDays(day).dayOfWeek() == Qt::Tuesday;
        EXPECT_EQ(window->IsBusy(), tuesday) << day;
        window->Stop();
    }
    EXPECT_EQ(Starts(), 1);
}

TEST_F(MainWindowScheduleTest, TwoTasksInOneSecondStartOnlyTheFirst) {
    Tasks().Append(Daily(1, QTime(7, 30, 0), QTime(7, 31, 0)));
    Tasks().Append(Daily(2, QTime(7, 30, 0), QTime(7, 32, 0)));
    TickAt(Monday(), QTime(7, 29, 59));
    TickAt(Monday(), QTime(7, 30, 0));
    EXPECT_EQ(Starts(), 1);
    // The first task's stop ends the one recording; the second's finds nothing running.
    TickAt(Monday(), QTime(7, 31, 0));
    EXPECT_FALSE(window->IsBusy());
    EXPECT_EQ(Starts(), 1);
}

TEST_F(MainWindowScheduleTest, TickDelayedByOneAndAHalfSecondsStillStartsTheTask) {
    Tasks().Append(Daily(1, QTime(7, 30, 0), QTime(8, 0, 0)));
    TickAt(Monday(), QTime(7, 29, 59, 600));
    TickAt(Monday(), QTime(7, 30, 1, 100));  // 07:30:00.6 had no tick
    EXPECT_EQ(Starts(), 1);
    EXPECT_TRUE(window->IsBusy());
}

TEST_F(MainWindowScheduleTest, FailedScheduledRecordShowsOptionFailed) {
    Tasks().Append(Daily(1, QTime(7, 30, 0), QTime(8, 0, 0)));
    pages[shell::kLivePage]->failing["StartGrab"] = true;
    TickAt(Monday(), QTime(7, 29, 59));
    TickAt(Monday(), QTime(7, 30, 0));
    EXPECT_EQ(services.messages.Texts(), QStringList({"Option failed!"}));
    EXPECT_FALSE(window->IsBusy());
}

TEST_F(MainWindowScheduleTest, CloseQuilletEndsTheProgramAfterTheTasksStop) {
    settings::SaveEndOption(settings::kEndCloseProgram);
    Tasks().Append(Daily(1, QTime(7, 30, 0), QTime(8, 0, 0)));
    TickAt(Monday(), QTime(7, 30, 0));
    TickAt(Monday(), QTime(8, 0, 0));
    EXPECT_TRUE(WaitFor([&] { return !window->isVisible(); }, 5000));
}

TEST_F(MainWindowScheduleTest, ShutDownAsksThePowerServiceOnlyAfterTheCountdown) {
    settings::SaveEndOption(settings::kEndShutDown);
    Tasks().Append(Daily(1, QTime(7, 30, 0), QTime(8, 0, 0)));
    TickAt(Monday(), QTime(7, 30, 0));
    TickAt(Monday(), QTime(8, 0, 0));
    ASSERT_TRUE(WaitFor([&] { return window->Scheduler()->countdown() != nullptr; }, 5000));
    EXPECT_TRUE(window->Scheduler()->countdown()->isVisible());
    services.clock.now = services.clock.now.addSecs(30);
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_EQ(services.power.requests, 0);
    services.clock.now = services.clock.now.addSecs(30);
    EXPECT_TRUE(WaitFor([&] { return services.power.requests == 1; }, 5000));

    // Next day, cancelled: never asked.
    TickAt(Monday().addDays(1), QTime(7, 30, 0));
    TickAt(Monday().addDays(1), QTime(8, 0, 0));
    ASSERT_TRUE(WaitFor([&] { return window->Scheduler()->countdown() != nullptr; }, 5000));
    QTest::mouseClick(window->Scheduler()->countdown()->findChild<QPushButton*>("cancelShutdown"),
                      Qt::LeftButton);
    services.clock.now = services.clock.now.addSecs(120);
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_EQ(services.power.requests, 1);
}

TEST_F(MainWindowScheduleTest, OptionsDialogEditsTheWindowsTasksAndSavesThem) {
    bool edited = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<settings::OptionsDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        dialog->ShowPage(settings::OptionsDialog::kSchedulePage);
        auto* page = dialog->findChild<QWidget*>("schedulePage");
        page->findChild<QLineEdit*>("taskName")->setText("Evening");
        page->findChild<QTimeEdit*>("startTime")->setTime(QTime(19, 0));
        page->findChild<QTimeEdit*>("stopTime")->setTime(QTime(20, 0));
        QTest::mouseClick(page->findChild<QPushButton*>("addButton"), Qt::LeftButton);
        QTest::mouseClick(dialog->findChild<QPushButton*>("saveButton"), Qt::LeftButton);
        edited = true;
        dialog->reject();
    });
    window->ShowOptionsDialog();
    ASSERT_TRUE(edited);
    EXPECT_TRUE(services.messages.shown.empty());
    ASSERT_EQ(Tasks().size(), 1u);
    EXPECT_EQ(Tasks()[0].Title(), "Evening");
    TaskList saved;
    LoadSchedule(SchedulePath().string(), saved);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].Title(), "Evening");
}

// The system time moved to a chosen moment: it runs on in real time from there.
class RunningClock final : public shell::Clock {
public:
    explicit RunningClock(QDateTime start) : start_(std::move(start)) { elapsed_.start(); }
    QDateTime Now() const override { return start_.addMSecs(elapsed_.elapsed()); }

private:
    QDateTime start_;
    QElapsedTimer elapsed_;
};

TEST(MainWindowScheduledRecordingTest, DailyTaskRecordsOnTheLivePage) {
    if (!quil::test::HavePulse()) GTEST_SKIP() << "needs the private sound server";
    shell::testing::EnsureApplication();
    settings::ApplyStartupDefaults();
    settings::SaveEndOption(settings::kEndNothing);
    quil::test::NullSink sink("scheduledlive");
    ASSERT_TRUE(sink.Loaded());
    quil::test::TonePlayer tone(sink.name(), 1000.0);
    ASSERT_TRUE(tone.WaitAudible());
    const auto output = quil::test::MakeTempDir("scheduledlive") / "out";
    {
        settings::SettingsKey key;
        ASSERT_TRUE(key.Open());
        key.WriteString(settings::value::kOutputDirectory, output.string());
        key.WriteString(shell::LivePage::kDeviceValue, sink.monitorDescription());
    }

    RunningClock clock(QDateTime(Monday(), QTime(7, 29, 58)));
    TestServices services;
    MainWindow::Options options;
    options.services = services.Set();
    options.services.clock = &clock;
    options.showSplash = false;
    MainWindow window(options);
    window.show();
    auto* page = dynamic_cast<shell::LivePage*>(window.PageAt(shell::kLivePage));
    ASSERT_NE(page, nullptr);
    window.SelectPage(shell::kCdPage);
    window.Scheduler()->tasks().Append(Daily(1, QTime(7, 30, 0), QTime(7, 30, 4)));

    QDateTime startedAt, stoppedAt;
    QString path;
    ASSERT_TRUE(WaitFor(
        [&] {
            if (!startedAt.isValid() && page->Recording()) {
                startedAt = clock.Now();
                path = page->RecordingPath();
            }
            if (startedAt.isValid() && !page->Recording() && !stoppedAt.isValid())
                stoppedAt = clock.Now();
            return stoppedAt.isValid() && !window.IsBusy();
        },
        30000));
    EXPECT_EQ(window.CurrentPageIndex(), shell::kLivePage);
    EXPECT_GE(startedAt, QDateTime(Monday(), QTime(7, 30, 0)));
    EXPECT_GE(stoppedAt, QDateTime(Monday(), QTime(7, 30, 4)));
    EXPECT_EQ(page->Recordings().rowCount(), 1);
    EXPECT_TRUE(services.messages.shown.empty())
        << services.messages.Texts().join("; ").toStdString();
    auto audio = quil::test::DecodeAudio(path.toStdString());
    ASSERT_TRUE(audio.has_value()) << path.toStdString();
    EXPECT_GT(audio->duration, 1.0);
    EXPECT_GT(quil::test::Rms16(reinterpret_cast<const uint8_t*>(audio->samples.data()),
                                audio->samples.size() * 2),
              0.1);
    std::printf(
        "[ figures ] live page: recording seen %lld ms after 07:30:00, stopped seen %lld "
        "ms after 07:30:04, file %.2f s\n",
        static_cast<long long>(QDateTime(Monday(), QTime(7, 30, 0)).msecsTo(startedAt)),
        static_cast<long long>(QDateTime(Monday(), QTime(7, 30, 4)).msecsTo(stoppedAt)),
        audio->duration);
}

}  // namespace
}  // namespace quil::scheduler
