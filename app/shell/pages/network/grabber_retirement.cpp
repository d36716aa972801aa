#include "app/shell/pages/network/grabber_retirement.h"

#include <algorithm>

namespace quil::network {

GrabberRetirement::~GrabberRetirement() {
    for (Worker& worker : workers_) worker.thread.join();
}

void GrabberRetirement::Retire(GrabberPtr grabber) {
    JoinFinished();
    if (!grabber) return;
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([grabber = std::move(grabber), done]() mutable {
        grabber.reset();
        done->store(true);
    });
    workers_.push_back({std::move(thread), std::move(done)});
}

size_t GrabberRetirement::Pending() {
    JoinFinished();
    return workers_.size();
}

void GrabberRetirement::JoinFinished() {
    auto finished = std::partition(workers_.begin(), workers_.end(),
                                   [](const Worker& worker) { return !worker.done->load(); });
    for (auto it = finished; it != workers_.end(); ++it) it->thread.join();
    workers_.erase(finished, workers_.end());
}

}  // namespace quil::network
