#pragma once

// SIGTERM and SIGINT (a session logout, a service manager, Ctrl-C in a terminal) end the
// program through the normal close path, so a running recording is stopped and its file
// finished before the program exits.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace quil::shell {

class TerminationSignals : public QObject {
    Q_OBJECT

public:
    // `onSignal` runs on the UI thread, once per signal received.
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace quil::shell
