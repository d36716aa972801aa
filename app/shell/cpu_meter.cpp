#include "app/shell/cpu_meter.h"

#include <time.h>

namespace quil::shell {

namespace {

bool Read(clockid_t clock, int64_t* nanoseconds) {
    timespec now{};
    if (clock_gettime(clock, &now) != 0) return false;
    *nanoseconds = int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
    return true;
}

}  // namespace

CpuMeter::CpuMeter() {
    // The clock of the constructing thread, not of whichever thread samples.
    clockid_t threadClock{};
    if (pthread_getcpuclockid(pthread_self(), &threadClock) != 0)
        threadClock = CLOCK_THREAD_CPUTIME_ID;
    wallClock_ = [](int64_t* ns) { return Read(CLOCK_MONOTONIC, ns); };
    threadClock_ = [threadClock](int64_t* ns) { return Read(threadClock, ns); };
}

CpuMeter::CpuMeter(Reader wallClock, Reader threadClock)
    : wallClock_(std::move(wallClock)), threadClock_(std::move(threadClock)) {}

void CpuMeter::Start() {
    wall_ = 0;
    cpu_ = 0;
    wallClock_(&wall_);
    if (!threadClock_(&cpu_)) cpu_ = 0;
    started_ = true;
}

double CpuMeter::Sample() {
    if (!started_) return 0;
    int64_t wall = wall_;
    wallClock_(&wall);
    int64_t cpu = 0;
    const bool haveCpu = threadClock_(&cpu);
    const int64_t consumed = haveCpu && cpu_ > 0 ? cpu - cpu_ : 0;
    const int64_t elapsed = wall - wall_;
    wall_ = wall;
    if (haveCpu) cpu_ = cpu;
    if (elapsed <= 0 || consumed <= 0) return 0;
    return static_cast<double>(consumed) / static_cast<double>(elapsed);
}

}  // namespace quil::shell
