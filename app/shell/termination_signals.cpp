#include "app/shell/termination_signals.h"

#include <QSocketNotifier>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quil::shell {

namespace {

int signalSockets[2] = {-1, -1};

void OnSignal(int number) {
    // Only async-signal-safe work here: the UI thread reads the byte.
    const char byte = static_cast<char>(number);
    [[maybe_unused]] ssize_t written = write(signalSockets[0], &byte, 1);
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSockets) != 0) return;
    notifier_ = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        if (read(signalSockets[1], &byte, 1) == 1 && onSignal_) onSignal_();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    delete notifier_;
    for (int& socket : signalSockets) {
        if (socket >= 0) close(socket);
        socket = -1;
    }
}

}  // namespace quil::shell
