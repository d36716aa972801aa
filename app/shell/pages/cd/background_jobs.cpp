#include "app/shell/pages/cd/background_jobs.h"

namespace quil::shell {

BackgroundJobs::~BackgroundJobs() {
    for (Worker& worker : workers_)
        if (worker.thread.joinable()) worker.thread.join();
}

int BackgroundJobs::Run(std::function<std::any()> job, HWND window, UINT message) {
    JoinFinished();
    int ticket = 0;
    {
        std::lock_guard lock(mutex_);
        ticket = nextTicket_++;
    }
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([this, job = std::move(job), window, message, ticket, finished] {
        std::any result = job();
        {
            std::lock_guard lock(mutex_);
            results_[ticket] = std::move(result);
        }
        // A window that is gone swallows the message; the result then waits for the destructor.
        PostMessage(window, message, static_cast<WPARAM>(ticket), 0);
        finished->store(true);
    });
    workers_.push_back({std::move(thread), finished});
    return ticket;
}

std::optional<std::any> BackgroundJobs::Take(int ticket) {
    std::lock_guard lock(mutex_);
    auto it = results_.find(ticket);
    if (it == results_.end()) return std::nullopt;
    std::any result = std::move(it->second);
    results_.erase(it);
    return result;
}

void BackgroundJobs::JoinFinished() {
    std::erase_if(workers_, [](Worker& worker) {
        if (!worker.finished->load()) return false;
        worker.thread.join();
        return true;
    });
}

}  // namespace quil::shell
