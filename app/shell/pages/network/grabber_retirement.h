#pragma once

// Ends playback grabbers off the UI thread. Stopping a playing graph waits until the sound
// output has taken the sample in hand, which can be a second or more; the window must not
// stand still meanwhile.

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "app/shell/pages/network/stream_open.h"

namespace quil::network {

class GrabberRetirement {
public:
    GrabberRetirement() = default;
    // Waits for every grabber still being ended.
    ~GrabberRetirement();
    GrabberRetirement(const GrabberRetirement&) = delete;
    GrabberRetirement& operator=(const GrabberRetirement&) = delete;

    void Retire(GrabberPtr grabber);
    // Grabbers still being ended.
    size_t Pending();

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void JoinFinished();

    std::vector<Worker> workers_;
};

}  // namespace quil::network
