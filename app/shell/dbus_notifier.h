#pragma once

// Notifications through org.freedesktop.Notifications. The call is sent without waiting for an
// answer, so a missing or slow notification service never holds up the window.

#include <QDBusConnection>

#include <optional>

#include "app/shell/services.h"

namespace quil::shell {

class DBusNotifier final : public Notifier {
public:
    // On the session bus, reached at the first notice.
    DBusNotifier() = default;
    explicit DBusNotifier(QDBusConnection bus) : bus_(std::move(bus)) {}
    void Notify(const QString& summary, const QString& body) override;

private:
    std::optional<QDBusConnection> bus_;
};

}  // namespace quil::shell
