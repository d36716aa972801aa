#pragma once

// A notification service for tests: answers org.freedesktop.Notifications.Notify on a private
// bus the way a desktop's notification daemon would, and keeps what it was asked to show.

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace quil::shell::testing {

class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notice {
        QString application, icon, summary, body;
        QVariantMap hints;
    };

    // Serves on `bus` (a connection of its own); false when the name could not be taken.
    bool Serve(QDBusConnection bus) {
        return bus.registerObject("/org/freedesktop/Notifications", this,
                                  QDBusConnection::ExportAllSlots) &&
               bus.registerService("org.freedesktop.Notifications");
    }

    std::vector<Notice> notices;

public slots:
    uint Notify(const QString& application, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int) {
        notices.push_back({application, icon, summary, body, hints});
        return static_cast<uint>(notices.size());
    }
    QStringList GetCapabilities() { return {"body"}; }
};

}  // namespace quil::shell::testing
