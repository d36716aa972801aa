#include "tools/quilgrab/interrupt.h"

#include <signal.h>

#include <atomic>

namespace quil::grab {

namespace {

std::atomic<int> caught{0};

void OnStopSignal(int signal) {
    int none = 0;
    caught.compare_exchange_strong(none, signal);
}

}  // namespace

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() {
    return caught.load() != 0;
}

int InterruptedExitStatus() {
    int signal = caught.load();
    return 128 + (signal ? signal : SIGINT);
}

}  // namespace quil::grab
