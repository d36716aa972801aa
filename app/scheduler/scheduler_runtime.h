#pragma once

// The scheduler tick: every second the main window asks which tasks start or stop now and acts
// through ScheduleHost. Each tick checks every whole second since the previous one (at most the
// last minute), so a late or coarse timer never skips a task's second.

#include <QObject>
#include <QPointer>

#include <optional>

#include "app/scheduler/schedule_task.h"
#include "app/shell/services.h"

class QWidget;

namespace quil::scheduler {

class ShutdownCountdown;

// What the scheduler needs of the main window.
class ScheduleHost {
public:
    virtual ~ScheduleHost() = default;
    // When not busy: selects the live recording page and runs Record there (showing "Option
    // failed!" itself when that fails). False when busy or Record failed.
    virtual bool ScheduledStart(const ScheduleTask& task) = 0;
    // When the live recording page is current: runs Stop there. True when that stopped a
    // recording, which is when the "End Option" applies.
    virtual bool ScheduledStop(const ScheduleTask& task) = 0;
    virtual bool Busy() const = 0;
    // Ends the program as the user's Exit would; called from the event loop, never from a tick.
    virtual void CloseProgram() = 0;
};

class SchedulerRuntime : public QObject {
    Q_OBJECT

public:
    // window: the parent of the shut-down countdown. The window keeps the runtime as a member
    // (it is nobody's child), so its tasks live exactly as long as the window.
    SchedulerRuntime(const shell::Services& services, ScheduleHost& host, QWidget* window);
    ~SchedulerRuntime() override;

    TaskList& tasks() { return tasks_; }
    // Loads "Schedule.qms" from the data folder.
    void Load();

    // Timer 3131. Seconds already checked are not checked again; a clock set back checks only its
    // new second.
    void Tick();

    // The shut-down countdown while it is shown, else null.
    ShutdownCountdown* countdown() const;

    // How far back a tick looks: a machine waking from suspend does not start hours-old tasks.
    static constexpr int kCatchUpSeconds = 60;

private:
    void CheckSecond(const QDateTime& moment);
    void AfterScheduledStop();
    // The end option waits until the stopped recording's file is finished (the window is idle).
    void RunPendingEndOption();

    shell::Services services_;
    ScheduleHost& host_;
    QWidget* window_;
    TaskList tasks_;
    std::optional<qint64> lastSecond_;  // seconds since the epoch
    bool ticking_ = false;
    int pendingEndOption_ = 0;
    QPointer<ShutdownCountdown> countdown_;
};

}  // namespace quil::scheduler
