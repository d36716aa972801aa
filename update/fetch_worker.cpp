#include "update/fetch_worker.h"

#include <chrono>
#include <filesystem>
#include <system_error>

namespace quil::update {

FetchWorker::~FetchWorker() {
    CancelAndJoin();
}

bool FetchWorker::Start(std::function<void()> body) {
    std::unique_lock lock(mutex_);
    if (running_) return false;
    lock.unlock();
    if (thread_.joinable()) thread_.join();
    lock.lock();
    cancelled_ = false;
    running_ = true;
    lock.unlock();
    try {
        thread_ = std::thread([this, body = std::move(body)] {
            body();
            std::lock_guard done(mutex_);
            running_ = false;
            finished_.notify_all();
        });
    } catch (const std::system_error&) {
        std::lock_guard done(mutex_);
        running_ = false;
        return false;
    }
    return true;
}

bool FetchWorker::IsRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void FetchWorker::CancelFetcher() {
    if (fetcher_) fetcher_->Cancel();
}

void FetchWorker::CancelAndJoin() {
    cancelled_ = true;
    std::unique_lock lock(mutex_);
    // A cancel that lands before the fetcher's Download has started would be forgotten by it,
    // so keep asking until the body has ended.
    while (running_) {
        CancelFetcher();
        finished_.wait_for(lock, std::chrono::milliseconds(20));
    }
    lock.unlock();
    if (thread_.joinable()) thread_.join();
}

FetchOutcome FetchWorker::Fetch(const FetchRequest& request) {
    FetchOutcome outcome;
    if (cancelled_) {
        outcome.kind = FetchOutcome::Kind::kCancelled;
        return outcome;
    }
    FetcherPtr fetcher(WebQuilfetchCreateInstance());
    if (!fetcher) {
        outcome.failure = "Out of memory";
        return outcome;
    }
    if (!fetcher->Open(nullptr, kFetchTimeoutMs, 0, nullptr, 0, request.statusMessage,
                       request.statusWindow, request.localPath.c_str())) {
        outcome.failure = fetcher->GetStatusText().text;
        return outcome;
    }
    fetcher->SetProgressTarget(request.progressMessage, request.progressWindow);
    fetcher->SetSizeLimit(request.sizeLimit);
    // A file left by an earlier run must not pass for this download.
    std::error_code error;
    std::filesystem::remove(request.localPath, error);
    WebQuilfetch* inHand = fetcher.get();
    {
        std::lock_guard lock(mutex_);
        fetcher_ = std::move(fetcher);
    }
    BOOL downloaded = inHand->Download(request.url.c_str());
    // Taken before the fetcher is released, as the status text goes with its session.
    outcome.failure = inHand->GetStatusText().text;
    outcome.statusCode = inHand->GetStatusCode();
    lastSpeed_ = inHand->GetSpeed();
    {
        std::lock_guard lock(mutex_);
        fetcher = std::move(fetcher_);
    }
    fetcher.reset();

    bool complete = std::filesystem::exists(request.localPath, error);
    if (cancelled_ || (downloaded && !complete)) {
        outcome.kind = FetchOutcome::Kind::kCancelled;
    } else if (downloaded) {
        outcome.kind = FetchOutcome::Kind::kDone;
        outcome.failure.clear();
    }
    return outcome;
}

double FetchWorker::Speed() const {
    std::lock_guard lock(mutex_);
    return fetcher_ ? fetcher_->GetSpeed() : lastSpeed_.load();
}

}  // namespace quil::update
