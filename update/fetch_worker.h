#pragma once

// A worker thread that runs downloads, each through a fresh WebQuilfetch made by the factory,
// and that its owner can cancel and join at any time. Threads are never killed: cancelling asks
// the fetcher in hand to stop, and the download ends after the block in progress (or within
// about a second while the server is silent).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/window/window.h"
#include "update/web_quilfetch.h"

namespace quil::update {

constexpr DWORD kFetchTimeoutMs = 5000;

struct FetchRequest {
    std::string url;
    std::string localPath;
    UINT statusMessage = 0;
    HWND statusWindow = nullptr;
    UINT progressMessage = 0;
    HWND progressWindow = nullptr;
    int64_t sizeLimit = 0;  // 0: any length
};

struct FetchOutcome {
    enum class Kind { kDone, kFailed, kCancelled };
    Kind kind = Kind::kFailed;
    DWORD statusCode = 0;
    std::string failure;  // the fetcher's last status text when it failed
    bool Done() const { return kind == Kind::kDone; }
};

class FetchWorker {
public:
    FetchWorker() = default;
    ~FetchWorker();  // cancels and joins
    FetchWorker(const FetchWorker&) = delete;
    FetchWorker& operator=(const FetchWorker&) = delete;

    // Runs body on a new thread. False when the previous body still runs (nothing new starts)
    // or no thread could be made.
    bool Start(std::function<void()> body);
    bool IsRunning() const;
    // Cancels the download in progress and every later one of this run, then waits for the
    // thread. Returns at once when nothing runs.
    void CancelAndJoin();

    // On the worker: one download into request.localPath. A download that ended short because
    // of a cancel counts as cancelled, whatever the fetcher returned.
    FetchOutcome Fetch(const FetchRequest& request);
    bool Cancelled() const { return cancelled_; }
    // KB/s of the download in progress, else of the last one.
    double Speed() const;

private:
    struct Release {
        void operator()(WebQuilfetch* fetcher) const {
            fetcher->Close();
            fetcher->Destroy();
        }
    };
    using FetcherPtr = std::unique_ptr<WebQuilfetch, Release>;

    void CancelFetcher();

    std::thread thread_;
    std::atomic<bool> cancelled_{false};
    mutable std::mutex mutex_;
    std::condition_variable finished_;
    bool running_ = false;
    // The fetcher in hand; other threads reach it only under mutex_.
    FetcherPtr fetcher_;
    std::atomic<double> lastSpeed_{0.0};
};

}  // namespace quil::update
