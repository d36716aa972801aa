// A daily task records the private sound server for real: the scheduler tick on a precise
// one-second timer starts a live grabber at the task's start second and stops it at its stop
// second, and the file decodes to the tone that was playing. The window and its live page are
// stood in for by a small recorder on the Quilline grabber.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include <filesystem>
#include <optional>

#include "app/scheduler/scheduler_runtime.h"
#include "app/scheduler/tests/qt_test_env.h"
#include "app/settings/format_settings.h"
#include "app/settings/option_tables.h"
#include "app/shell/messages.h"
#include "app/shell/testing/test_page_host.h"
#include "app/shell/testing/test_services.h"
#include "engine/live/live_audio_grabber.h"
#include "testsupport/pulse_server.h"
#include "testsupport/test_support.h"

namespace quil::scheduler {
namespace {

using shell::testing::TestServices;
using shell::testing::WaitFor;

// The system time moved to a chosen moment: it runs on in real time from there.
class RunningClock final : public shell::Clock {
public:
    explicit RunningClock(QDateTime start) : start_(std::move(start)) { elapsed_.start(); }
    QDateTime Now() const override { return start_.addMSecs(elapsed_.elapsed()); }

private:
    QDateTime start_;
    QElapsedTimer elapsed_;
};

class LiveRecorder final : public ScheduleHost {
public:
    LiveRecorder(std::string device, std::filesystem::path output, const shell::Clock& clock)
        : device_(std::move(device)), output_(std::move(output)), clock_(clock) {}
    ~LiveRecorder() override { Finish(); }

    bool ScheduledStart(const ScheduleTask&) override {
        startedAt = clock_.Now();
        if (grabber_) return false;
        grabber_ = static_cast<LiveAudioGrabber*>(LiveAudioGrabberCreateInstance());
        if (!grabber_ || !grabber_->SelectDevice(device_.c_str(), 0) ||
            !grabber_->BuildGraph(0, output_.c_str()) || !grabber_->Run()) {
            Finish();
            return false;
        }
        return true;
    }
    bool ScheduledStop(const ScheduleTask&) override {
        stoppedAt = clock_.Now();
        if (!grabber_) return false;
        Finish();
        return true;
    }
    bool Busy() const override { return grabber_ != nullptr; }
    void CloseProgram() override {}

    std::optional<QDateTime> startedAt, stoppedAt;

private:
    void Finish() {
        if (!grabber_) return;
        grabber_->Stop();
        grabber_->ReleaseGraph();
        grabber_->Destroy();
        grabber_ = nullptr;
    }

    std::string device_;
    std::filesystem::path output_;
    const shell::Clock& clock_;
    LiveAudioGrabber* grabber_ = nullptr;
};

TEST(ScheduledRecordingTest, DailyTaskRecordsFromItsStartSecondToItsStopSecond) {
    if (!quil::test::HavePulse()) GTEST_SKIP() << "needs the private sound server";
    test::EnsureApplication();
    settings::SaveEndOption(settings::kEndNothing);
    quil::test::NullSink sink("scheduled");
    ASSERT_TRUE(sink.Loaded());
    quil::test::TonePlayer tone(sink.name(), 1000.0);
    ASSERT_TRUE(tone.WaitAudible());

    // Shortly before 07:30:00 on a Monday.
    RunningClock clock(QDateTime(QDate(2026, 12, 7), QTime(7, 29, 58)));
    TestServices testServices;
    shell::Services services = testServices.Set();
    services.clock = &clock;
    auto output = quil::test::MakeTempDir("scheduled") / "Morning.wav";
    LiveRecorder recorder(sink.monitorDescription(), output, clock);
    SchedulerRuntime runtime(services, recorder, nullptr);
    ScheduleTask task;
    task.id = 7536671;
    task.SetTitle("Morning");
    task.actionDay = kEveryDay;
    task.start = {2009, 3, 0, 15, 7, 30, 0, 0};
    task.stop = {2009, 3, 0, 15, 7, 30, 4, 0};
    runtime.tasks().Append(task);

    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(shell::kSchedulerPeriodMs);
    QObject::connect(&tick, &QTimer::timeout, &runtime, &SchedulerRuntime::Tick);
    tick.start();
    ASSERT_TRUE(WaitFor([&] { return recorder.stoppedAt.has_value(); }, 30000));
    tick.stop();

    ASSERT_TRUE(recorder.startedAt.has_value());
    // Each at (or, on a late tick, just after) its own second, never before.
    EXPECT_GE(*recorder.startedAt, QDateTime(QDate(2026, 12, 7), QTime(7, 30, 0)));
    EXPECT_GE(*recorder.stoppedAt, QDateTime(QDate(2026, 12, 7), QTime(7, 30, 4)));
    auto audio = quil::test::DecodeAudio(output);
    ASSERT_TRUE(audio.has_value()) << output;
    EXPECT_GT(audio->duration, 1.0);
    // The tone was heard (on a loaded machine the player leaves short gaps, so no pitch count).
    EXPECT_GT(quil::test::Rms16(reinterpret_cast<const uint8_t*>(audio->samples.data()),
                                audio->samples.size() * 2),
              0.1);
    std::printf(
        "[ figures ] started %lld ms after 07:30:00, stopped %lld ms after 07:30:04, "
        "file %.2f s\n",
        static_cast<long long>(
            QDateTime(QDate(2026, 12, 7), QTime(7, 30, 0)).msecsTo(*recorder.startedAt)),
        static_cast<long long>(
            QDateTime(QDate(2026, 12, 7), QTime(7, 30, 4)).msecsTo(*recorder.stoppedAt)),
        audio->duration);
}

}  // namespace
}  // namespace quil::scheduler
