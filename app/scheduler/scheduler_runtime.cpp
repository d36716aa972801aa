#include "app/scheduler/scheduler_runtime.h"

#include <QTimer>
#include <QWidget>

#include <algorithm>

#include "app/scheduler/schedule_file.h"
#include "app/scheduler/schedule_matcher.h"
#include "app/scheduler/shutdown_countdown.h"
#include "app/settings/format_settings.h"
#include "app/settings/option_tables.h"
#include "app/shell/unseen_notice.h"

namespace quil::scheduler {

namespace {

LocalSecond ToLocalSecond(const QDateTime& moment) {
    const QDate date = moment.date();
    const QTime time = moment.time();
    // Qt counts Monday 1 ... Sunday 7.
    return {date.year(),
            date.month(),
            date.day(),
            time.hour(),
            time.minute(),
            time.second(),
            date.dayOfWeek() % 7 + 1};
}

QString TaskName(const ScheduleTask& task) {
    const std::string_view title = task.Title();
    return title.empty() ? SchedulerRuntime::tr("A scheduled task")
                         : QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
}

}  // namespace

SchedulerRuntime::SchedulerRuntime(const shell::Services& services, ScheduleHost& host,
                                   QWidget* window)
    : services_(services.WithDefaults()), host_(host), window_(window) {}

SchedulerRuntime::~SchedulerRuntime() {
    delete countdown_.data();
}

ShutdownCountdown* SchedulerRuntime::countdown() const {
    return countdown_.data();
}

void SchedulerRuntime::Load() {
    LoadSchedule(SchedulePath().string(), tasks_);
}

void SchedulerRuntime::Tick() {
    // A box opened by Record runs its own event loop, where the timer fires again.
    if (ticking_) return;
    ticking_ = true;
    // Outside the tick: closing the program from inside it would pull the window away under us.
    if (pendingEndOption_) QTimer::singleShot(0, this, [this] { RunPendingEndOption(); });

    const QDateTime now = services_.clock->Now();
    const qint64 second = now.toSecsSinceEpoch();
    qint64 first = second;
    if (lastSecond_) {
        if (second == *lastSecond_) {
            ticking_ = false;
            return;
        }
        if (second > *lastSecond_)
            first = std::max(*lastSecond_ + 1, second - (kCatchUpSeconds - 1));
    }
    for (qint64 checked = first; checked <= second; ++checked) {
        lastSecond_ = checked;
        // Local time of that second, across a change to or from daylight saving time too.
        CheckSecond(now.addSecs(checked - second));
    }
    ticking_ = false;
}

void SchedulerRuntime::CheckSecond(const QDateTime& moment) {
    const LocalSecond local = ToLocalSecond(moment);
    ScheduleTask task;
    if (ScheduleMatcher(tasks_, MatchWhich::kStart, local, &task)) {
        const bool started = host_.ScheduledStart(task);
        shell::NotifyUnseen(
            window_, services_,
            started ? tr("Scheduled recording started") : tr("Scheduled recording did not start"),
            TaskName(task));
    }
    if (ScheduleMatcher(tasks_, MatchWhich::kStop, local, &task) && host_.ScheduledStop(task)) {
        shell::NotifyUnseen(window_, services_, tr("Scheduled recording stopped"), TaskName(task));
        AfterScheduledStop();
    }
}

void SchedulerRuntime::AfterScheduledStop() {
    const int option = settings::LoadEndOption();
    if (option != settings::kEndCloseProgram && option != settings::kEndShutDown) return;
    pendingEndOption_ = option;
    // After the page's posted stop messages, so the file is finished.
    QTimer::singleShot(0, this, [this] { RunPendingEndOption(); });
}

void SchedulerRuntime::RunPendingEndOption() {
    if (!pendingEndOption_ || host_.Busy()) return;
    const int option = std::exchange(pendingEndOption_, 0);
    if (option == settings::kEndCloseProgram) {
        host_.CloseProgram();
        return;
    }
    if (countdown_) return;
    countdown_ = new ShutdownCountdown(services_, window_);
    countdown_->Start();
}

}  // namespace quil::scheduler
