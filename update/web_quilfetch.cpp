#include "update/web_quilfetch.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/com/strings.h"
#include "update/fetch_session.h"
#include "update/part_file.h"

namespace quil::update {

namespace {

using Clock = std::chrono::steady_clock;

// One byte short of the buffer size the transfer was designed around.
constexpr size_t kBlockSize = 4095;
constexpr size_t kMaxErrorText = 259;

// The announced body length; none when the header is missing or not a plain number.
std::optional<int64_t> ContentLength(const net::HttpResponse& response) {
    auto text = response.Header("Content-Length");
    if (!text || text->empty()) return std::nullopt;
    int64_t length = 0;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), length);
    if (error != std::errc() || end != text->data() + text->size() || length < 0) {
        return std::nullopt;
    }
    return length;
}

}  // namespace

class Fetcher final : public WebQuilfetch {
public:
    BOOL Open(const char* agentName, DWORD timeoutMs, BOOL useProxy, const char* proxyHost,
              DWORD proxyPort, UINT statusMessage, HWND statusWindow,
              const char* localPath) override;
    BOOL Close() override;
    void Destroy() override;
    BOOL Download(const char* url) override;
    BOOL Cancel() override;
    BOOL SetProgressTarget(UINT progressMessage, HWND progressWindow) override;
    WebQuilfetchText GetStatusText() override;
    double GetSpeed() override { return speed_; }
    DWORD GetStatusCode() override { return statusCode_; }
    DWORD GetRawHeaders(char* buffer, DWORD capacity) override;
    BOOL SetSizeLimit(LONGLONG maxBytes) override {
        sizeLimit_ = maxBytes > 0 ? maxBytes : 0;
        return 1;
    }

private:
    class Job;

    // Held by Download for its whole run, so Open and Close never pull the session from under
    // it.
    std::mutex downloadMutex_;
    // Guards the session pointer for readers on other threads.
    mutable std::mutex sessionMutex_;
    std::unique_ptr<FetchSession> session_;
    std::string localPath_;

    std::atomic<bool> running_{false};
    std::atomic<double> speed_{0.0};
    std::atomic<UINT> progressMessage_{0};
    std::atomic<HWND> progressWindow_{nullptr};
    std::atomic<DWORD> statusCode_{0};
    std::atomic<LONGLONG> sizeLimit_{0};
    std::mutex headersMutex_;
    std::string rawHeaders_;
};

// One download: takes the response, writes the body in blocks and reports progress.
class Fetcher::Job final : public net::ResponseReceiver {
public:
    Job(Fetcher& fetcher, const std::string& localPath) : fetcher_(fetcher), file_(localPath) {}

    bool OnResponse(const net::HttpResponse& response) override {
        auto length = ContentLength(response);
        if (!length) {
            failure_ = response.Header("Content-Length")
                           ? "The server's answer has an invalid content length"
                           : "The server's answer has no content length";
            return false;
        }
        LONGLONG limit = fetcher_.sizeLimit_;
        if (limit > 0 && *length > limit) {
            failure_ = "The file on the server is larger than the " + std::to_string(limit) +
                       " bytes expected (" + std::to_string(*length) + " bytes)";
            return false;
        }
        total_ = *length;
        if (!file_.Create(failure_)) return false;
        statusCode_ = static_cast<DWORD>(response.StatusCode());
        rawHeaders_ = response.RawHeaders();
        start_ = Clock::now();
        return true;
    }

    bool OnData(std::span<const char> data) override {
        while (!data.empty()) {
            // Bytes beyond the announced length are not part of the file.
            if (received_ >= total_) return false;
            size_t block = static_cast<size_t>(
                std::min<int64_t>({static_cast<int64_t>(data.size()),
                                   static_cast<int64_t>(kBlockSize), total_ - received_}));
            if (!file_.Write(data.first(block), failure_)) {
                writeFailed_ = true;
                return false;
            }
            data = data.subspan(block);
            received_ += block;
            ReportProgress();
            if (received_ == total_ || !fetcher_.running_) return false;
        }
        return true;
    }

    bool StopRequested() override { return !fetcher_.running_; }

    // Settles the file after the transfer; the result of Download.
    bool Finish(const net::RequestResult& result) {
        if (!result.responseStarted) {
            // Cancelled before the server answered: nothing was written.
            if (result.outcome == net::RequestOutcome::kStopped) return true;
            Report(result.errorText);
            return false;
        }
        if (!file_.IsOpen()) {
            Report(failure_);
            return false;
        }
        bool whole = received_ == total_;
        if (!whole && !writeFailed_) {
            if (result.outcome == net::RequestOutcome::kStopped) {
                file_.Keep();
                KeepAnswer();
                return true;
            }
            if (result.outcome == net::RequestOutcome::kFailed) {
                failure_ = result.errorText;
            } else {
                failure_ = "The server's answer ended after " + std::to_string(received_) + " of " +
                           std::to_string(total_) + " bytes";
            }
        }
        if (whole && file_.Commit(failure_)) {
            KeepAnswer();
            return true;
        }
        file_.Discard();
        Report(failure_);
        return false;
    }

private:
    void ReportProgress() {
        // Whole seconds since the body started, as the speed and the total are only given
        // once a full second has passed.
        auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start_);
        LPARAM total = 0;
        if (elapsed.count() > 0) {
            fetcher_.speed_ =
                (static_cast<double>(received_) / 1024.0) / static_cast<double>(elapsed.count());
            total = static_cast<LPARAM>(total_);
        }
        HWND window = fetcher_.progressWindow_;
        if (window) {
            PostMessage(window, fetcher_.progressMessage_, static_cast<WPARAM>(received_), total);
        }
    }

    void KeepAnswer() {
        fetcher_.statusCode_ = statusCode_;
        std::lock_guard lock(fetcher_.headersMutex_);
        fetcher_.rawHeaders_ = std::move(rawHeaders_);
    }

    void Report(const std::string& text) {
        if (!text.empty()) {
            fetcher_.session_->Announce(std::string(Utf8Prefix(text, kMaxErrorText)));
        }
    }

    Fetcher& fetcher_;
    PartFile file_;
    int64_t total_ = 0;
    int64_t received_ = 0;
    Clock::time_point start_;
    DWORD statusCode_ = 0;
    std::string rawHeaders_;
    std::string failure_;
    bool writeFailed_ = false;
};

BOOL Fetcher::Open(const char* agentName, DWORD timeoutMs, BOOL useProxy, const char* proxyHost,
                   DWORD proxyPort, UINT statusMessage, HWND statusWindow, const char* localPath) {
    try {
        if (!localPath || !*localPath) return 0;
        // A download on another thread ends after its current block, as on Close.
        running_ = false;
        std::lock_guard download(downloadMutex_);
        localPath_ = localPath;
        statusCode_ = 0;
        auto session =
            std::make_unique<FetchSession>(agentName ? agentName : "", statusMessage, statusWindow);
        session->EnableStatusCallback();
        session->SetReceiveBlockSize(kBlockSize);
        if (timeoutMs != 0) session->SetDataReceiveTimeout(std::chrono::milliseconds(timeoutMs));
        if (useProxy) {
            session->SetProxy(
                INTERNET_OPEN_TYPE_PROXY,
                std::string(proxyHost ? proxyHost : "") + ":" + std::to_string(proxyPort & 0xFFFF));
        }
        std::lock_guard lock(sessionMutex_);
        session_ = std::move(session);
        return 1;
    } catch (...) {
        return 0;
    }
}

BOOL Fetcher::Close() {
    try {
        // A download on another thread ends after its current block; the session goes after it.
        running_ = false;
        std::lock_guard download(downloadMutex_);
        std::lock_guard lock(sessionMutex_);
        session_.reset();
    } catch (...) {
    }
    return 1;
}

void Fetcher::Destroy() {
    Close();
    std::unique_ptr<Fetcher> self(this);
}

BOOL Fetcher::Download(const char* url) {
    try {
        std::lock_guard download(downloadMutex_);
        running_ = true;
        statusCode_ = 0;
        {
            std::lock_guard lock(headersMutex_);
            rawHeaders_.clear();
        }
        if (!session_ || !url) return 0;
        Job job(*this, localPath_);
        auto result =
            session_->OpenUrl(url, INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_BINARY, job);
        return job.Finish(result) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

BOOL Fetcher::Cancel() {
    running_ = false;
    return 1;
}

BOOL Fetcher::SetProgressTarget(UINT progressMessage, HWND progressWindow) {
    progressMessage_ = progressMessage;
    progressWindow_ = progressWindow;
    return 1;
}

WebQuilfetchText Fetcher::GetStatusText() {
    WebQuilfetchText copy{};
    try {
        std::lock_guard lock(sessionMutex_);
        if (session_) CopyBounded(session_->StatusText(), copy.text, sizeof copy.text);
    } catch (...) {
        copy.text[0] = '\0';
    }
    return copy;
}

DWORD Fetcher::GetRawHeaders(char* buffer, DWORD capacity) {
    try {
        std::lock_guard lock(headersMutex_);
        CopyBounded(rawHeaders_, buffer, capacity);
        return static_cast<DWORD>(rawHeaders_.size());
    } catch (...) {
        return 0;
    }
}

}  // namespace quil::update

extern "C" WebQuilfetch* WebQuilfetchCreateInstance() {
    try {
        return std::make_unique<quil::update::Fetcher>().release();
    } catch (...) {
        return nullptr;
    }
}
