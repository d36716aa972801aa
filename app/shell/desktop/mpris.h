#pragma once

// MPRIS 2 on the session bus: the desktop's media controls see what Quillet plays or grabs and
// act through the main window's transport commands, so every rule of the window and its pages
// still holds.

#include <QDBusConnection>
#include <QObject>

namespace quil::shell {

class MainWindow;

class Mpris : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kServiceName = "org.mpris.MediaPlayer2.quillet";
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";

    // Registers on `bus`; IsRegistered says whether it could.
    Mpris(MainWindow& window, QDBusConnection bus, QObject* parent = nullptr);
    ~Mpris() override;

    bool IsRegistered() const { return registered_; }
    MainWindow& window() const { return window_; }

    QString PlaybackStatus() const;
    QVariantMap Metadata() const;
    qlonglong PositionMicroseconds() const;

private:
    void Announce();

    MainWindow& window_;
    QDBusConnection bus_;
    bool registered_ = false;
    QString lastStatus_;
    QVariantMap lastMetadata_;
};

}  // namespace quil::shell
