#pragma once

// A private D-Bus session bus for one test: its own dbus-daemon, stopped with the object.

#include <QDBusConnection>
#include <QProcess>
#include <QString>

namespace quil::shell::testing {

class PrivateBus {
public:
    PrivateBus() {
        daemon_.setProgram("dbus-daemon");
        daemon_.setArguments({"--session", "--nofork", "--print-address=1"});
        daemon_.start();
        if (!daemon_.waitForStarted(10000)) return;
        if (!daemon_.waitForReadyRead(20000)) return;
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        for (const QString& name : names_) QDBusConnection::disconnectFromBus(name);
        daemon_.terminate();
        daemon_.waitForFinished(5000);
    }
    bool IsRunning() const { return !address_.isEmpty(); }
    // A new connection to the bus under its own name (one for the program, one per client).
    QDBusConnection Connect(const QString& name) {
        names_ << name;
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

}  // namespace quil::shell::testing
