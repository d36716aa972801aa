#pragma once

// The processor use of one thread (the main thread): CPU time it consumed since the previous
// sample divided by the wall time that passed. Clocks are replaceable for tests.

#include <pthread.h>

#include <cstdint>
#include <functional>

namespace quil::shell {

class CpuMeter {
public:
    using Reader = std::function<bool(int64_t* nanoseconds)>;

    // Measures the calling thread, against the real clocks.
    CpuMeter();
    CpuMeter(Reader wallClock, Reader threadClock);

    void Start();
    // The fraction since the previous sample (0 when the wall clock did not advance; consumed
    // time counts as 0 when the thread's clock cannot be read).
    double Sample();
    void Stop() { started_ = false; }

private:
    Reader wallClock_;
    Reader threadClock_;
    bool started_ = false;
    int64_t wall_ = 0;
    int64_t cpu_ = 0;
};

}  // namespace quil::shell
