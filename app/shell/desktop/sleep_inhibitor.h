#pragma once

// A logind "sleep" inhibitor in block mode: while held, the computer does not suspend. Where
// logind does not answer, Acquire does nothing and the program goes on.

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>

namespace quil::shell {

class SleepInhibitor {
public:
    explicit SleepInhibitor(QDBusConnection bus);
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;

    void Acquire(const QString& why);
    void Release();
    bool IsHeld() const { return lock_.isValid(); }

private:
    QDBusConnection bus_;
    QDBusUnixFileDescriptor lock_;
    QObject owner_;          // parent of pending calls: none outlives this object
    bool wanted_ = false;    // asked for, no answer yet
    bool released_ = false;  // released while the answer was outstanding
};

}  // namespace quil::shell
