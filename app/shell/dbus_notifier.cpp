#include "app/shell/dbus_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QVariantMap>

namespace quil::shell {

void DBusNotifier::Notify(const QString& summary, const QString& body) {
    QDBusConnection bus = bus_ ? *bus_ : QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                       "/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "Notify");
    // Desktops group and style the notice by the program's desktop file.
    const QVariantMap hints{{"desktop-entry", QStringLiteral("quillet")}};
    call << QStringLiteral("Quillet") << 0u << QStringLiteral("quillet") << summary << body
         << QStringList() << hints << -1;
    // No service: the bus answers with an error nobody waits for.
    call.setAutoStartService(false);
    bus.asyncCall(call);
}

}  // namespace quil::shell
