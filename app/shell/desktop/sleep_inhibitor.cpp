#include "app/shell/desktop/sleep_inhibitor.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace quil::shell {

SleepInhibitor::SleepInhibitor(QDBusConnection bus) : bus_(std::move(bus)) {}

SleepInhibitor::~SleepInhibitor() {
    Release();
}

void SleepInhibitor::Acquire(const QString& why) {
    if (IsHeld() || !bus_.isConnected()) return;
    if (wanted_) {
        released_ = false;  // the answer on its way is wanted again
        return;
    }
    wanted_ = true;
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "Inhibit");
    call << QStringLiteral("sleep") << QStringLiteral("Quillet") << why << QStringLiteral("block");
    // Asked without waiting: a slow or missing logind must not hold up the window.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, 5000), &owner_);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &owner_,
                     [this](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
                         // A release that came first wins: the descriptor is dropped at once.
                         if (reply.isValid() && wanted_) lock_ = reply.value();
                         wanted_ = false;
                         if (!released_) return;
                         released_ = false;
                         lock_ = QDBusUnixFileDescriptor();
                     });
}

void SleepInhibitor::Release() {
    if (wanted_) released_ = true;
    // logind lifts the inhibitor when the last copy of its descriptor is closed.
    lock_ = QDBusUnixFileDescriptor();
}

}  // namespace quil::shell
