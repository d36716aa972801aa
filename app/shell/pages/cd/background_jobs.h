#pragma once

// Runs slow drive work (device probes, disc checks) on threads of its own, so the window never
// waits on a drive. Each job's result is kept under a ticket and the ticket is posted to a
// window; the window takes the result on its own thread. A page that no longer wants a result
// simply never takes it.

#include <any>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/window/window.h"

namespace quil::shell {

class BackgroundJobs {
public:
    BackgroundJobs() = default;
    // Waits for the jobs still running: they only touch drives and this object.
    ~BackgroundJobs();
    BackgroundJobs(const BackgroundJobs&) = delete;
    BackgroundJobs& operator=(const BackgroundJobs&) = delete;

    // Starts `job`; when it returns, (message, ticket, 0) is posted to `window`.
    int Run(std::function<std::any()> job, HWND window, UINT message);
    // The result of a finished job, once.
    std::optional<std::any> Take(int ticket);

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    void JoinFinished();

    mutable std::mutex mutex_;
    std::map<int, std::any> results_;
    int nextTicket_ = 1;
    std::vector<Worker> workers_;
};

}  // namespace quil::shell
