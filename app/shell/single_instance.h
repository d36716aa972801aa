#pragma once

// One Quillet per user: a lock file in the runtime folder, and a local socket the first
// instance listens on so a second start can raise it before it ends.

#include <QLockFile>
#include <QObject>

#include <functional>
#include <memory>

class QLocalServer;

namespace quil::shell {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    // `name` tells instances apart (tests use their own).
    explicit SingleInstance(const QString& name = QStringLiteral("Quillet"));
    ~SingleInstance() override;

    // True when this process is the first; otherwise asks the first to come to the front.
    bool Acquire();
    // Runs in the first instance when a later one asked it to come forward.
    void OnRaiseRequest(std::function<void()> raise) { raise_ = std::move(raise); }

private:
    QString name_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
    std::function<void()> raise_;
};

}  // namespace quil::shell
