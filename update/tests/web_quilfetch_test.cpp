#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/window/window.h"
#include "testsupport/http_server.h"
#include "testsupport/test_support.h"
#include "update/web_quilfetch.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quil::test::HttpConnection;
using quil::test::HttpRequest;
using quil::test::HttpServer;
using quil::test::PatternBytes;
using testing::ElementsAre;
using testing::HasSubstr;

constexpr UINT kStatusMessage = 6156;
constexpr UINT kProgressMessage = 6157;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Records what is posted to it as it is posted, with the fetcher's status text of that moment.
class RecordingWindow final : public quil::WindowTarget {
public:
    struct Entry {
        quil::Message message;
        std::string statusText;
    };

    explicit RecordingWindow(std::function<std::string()> statusText)
        : statusText_(std::move(statusText)) {}
    ~RecordingWindow() override { Detach(); }

    void Post(const quil::Message& message) override {
        Entry entry{message, message.message == kStatusMessage ? statusText_() : ""};
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
        changed_.notify_all();
    }
    LRESULT Handle(const quil::Message&) override { return 0; }

    std::vector<Entry> Entries(UINT message) const {
        std::lock_guard lock(mutex_);
        std::vector<Entry> matching;
        for (const auto& entry : entries_) {
            if (entry.message.message == message) matching.push_back(entry);
        }
        return matching;
    }
    std::vector<std::string> StatusTexts() const {
        std::vector<std::string> texts;
        for (const auto& entry : Entries(kStatusMessage)) texts.push_back(entry.statusText);
        return texts;
    }
    // Waits until at least `bytes` have been reported as received.
    bool WaitForProgress(WPARAM bytes, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            for (const auto& entry : entries_) {
                if (entry.message.message == kProgressMessage && entry.message.wParam >= bytes) {
                    return true;
                }
            }
            return false;
        });
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }

private:
    std::function<std::string()> statusText_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Entry> entries_;
};

struct FetcherRelease {
    void operator()(WebQuilfetch* fetcher) const {
        fetcher->Close();
        fetcher->Destroy();
    }
};

class WebQuilfetchTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // Requests to 127.0.0.1 must not wander off to a proxy named in the environment.
        for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
            unsetenv(name);
        }
    }

    void SetUp() override {
        dir_ =
            quil::test::MakeTempDir(testing::UnitTest::GetInstance()->current_test_info()->name());
        local_ = dir_ / "Update.ini";
        fetcher_.reset(WebQuilfetchCreateInstance());
        ASSERT_TRUE(fetcher_);
        fetcher_->SetProgressTarget(kProgressMessage, window_.handle());
    }

    bool Open(DWORD timeoutMs = 0) {
        return fetcher_->Open(nullptr, timeoutMs, 0, nullptr, 0, kStatusMessage, window_.handle(),
                              local_.c_str()) == 1;
    }
    bool Download(const std::string& path) { return fetcher_->Download(server_.Url(path).c_str()); }
    std::future<BOOL> DownloadOnWorker(const std::string& path) {
        return std::async(std::launch::async, [this, url = server_.Url(path)] {
            return fetcher_->Download(url.c_str());
        });
    }
    std::string StatusText() { return fetcher_->GetStatusText().text; }
    std::string RawHeaders() {
        std::vector<char> buffer(fetcher_->GetRawHeaders(nullptr, 0) + 1);
        fetcher_->GetRawHeaders(buffer.data(), static_cast<DWORD>(buffer.size()));
        return buffer.data();
    }
    fs::path Part() const { return fs::path(local_.string() + ".part"); }
    std::vector<RecordingWindow::Entry> Progress() const {
        return window_.Entries(kProgressMessage);
    }

    HttpServer server_;
    fs::path dir_;
    fs::path local_;
    RecordingWindow window_{[this] { return fetcher_ ? StatusText() : std::string(); }};
    std::unique_ptr<WebQuilfetch, FetcherRelease> fetcher_;
};

TEST_F(WebQuilfetchTest, OpenWithoutLocalPathCreatesNoSession) {
    server_.Handle("/update.ini", quil::test::HttpReply(200, "1.0\n"));
    EXPECT_EQ(fetcher_->Open(nullptr, 0, 0, nullptr, 0, kStatusMessage, window_.handle(), ""), 0);
    EXPECT_EQ(fetcher_->Open(nullptr, 0, 0, nullptr, 0, kStatusMessage, window_.handle(), nullptr),
              0);
    EXPECT_EQ(StatusText(), "");
    EXPECT_FALSE(Download("/update.ini"));
    EXPECT_TRUE(server_.Requests().empty());
    EXPECT_EQ(fetcher_->GetSpeed(), 0.0);
    EXPECT_EQ(fetcher_->GetStatusCode(), 0u);
}

TEST_F(WebQuilfetchTest, DownloadWritesTheBodyInBlocksAndKeepsTheAnswer) {
    std::string body = PatternBytes(10000);
    server_.Handle("/update.ini", quil::test::HttpReply(200, body));
    ASSERT_TRUE(Open());
    EXPECT_TRUE(Download("/update.ini"));

    EXPECT_EQ(Slurp(local_), body);
    EXPECT_FALSE(fs::exists(Part()));
    EXPECT_EQ(fetcher_->GetStatusCode(), 200u);
    EXPECT_THAT(RawHeaders(), testing::StartsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_THAT(RawHeaders(), HasSubstr("Content-Length: 10000\r\n"));

    auto progress = Progress();
    ASSERT_GE(progress.size(), 3u);
    WPARAM previous = 0;
    for (const auto& entry : progress) {
        EXPECT_EQ(entry.message.window, window_.handle());
        EXPECT_GT(entry.message.wParam, previous);
        EXPECT_LE(entry.message.wParam - previous, 4095u);
        previous = entry.message.wParam;
    }
    EXPECT_EQ(previous, body.size());

    auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].Header("User-Agent"), "Quillet");
    EXPECT_EQ(requests[0].Header("Cache-Control"), "no-cache");
}

TEST_F(WebQuilfetchTest, ErrorPageWithLengthIsKeptWithItsStatusCode) {
    server_.Handle("/update.ini", quil::test::HttpReply(404, "<html>no such file</html>"));
    ASSERT_TRUE(Open());
    EXPECT_TRUE(Download("/update.ini"));
    EXPECT_EQ(Slurp(local_), "<html>no such file</html>");
    EXPECT_EQ(fetcher_->GetStatusCode(), 404u);
}

TEST_F(WebQuilfetchTest, AnswerWithoutUsableLengthFailsAndCreatesNoFile) {
    server_.Handle("/none", quil::test::HttpReply(200, "1.0\n", false));
    server_.Handle("/bad", [](const HttpRequest&, HttpConnection& connection) {
        connection.Send(quil::test::HttpResponseText(200, "OK", {"Content-Length: 4x"}, "1.0\n"));
    });
    ASSERT_TRUE(Open());

    EXPECT_FALSE(Download("/none"));
    EXPECT_FALSE(fs::exists(local_));
    EXPECT_FALSE(fs::exists(Part()));
    EXPECT_EQ(StatusText(), "The server's answer has no content length");
    EXPECT_EQ(fetcher_->GetStatusCode(), 0u);

    EXPECT_FALSE(Download("/bad"));
    EXPECT_FALSE(fs::exists(local_));
    EXPECT_FALSE(fs::exists(Part()));
    EXPECT_EQ(StatusText(), "The server's answer has an invalid content length");
}

TEST_F(WebQuilfetchTest, AnswerLargerThanTheLimitFailsBeforeAnythingIsWritten) {
    server_.Handle("/big", quil::test::HttpReply(200, PatternBytes(5000)));
    ASSERT_TRUE(Open());
    fetcher_->SetSizeLimit(4999);
    EXPECT_FALSE(Download("/big"));
    EXPECT_FALSE(fs::exists(local_));
    EXPECT_FALSE(fs::exists(Part()));
    EXPECT_EQ(StatusText(),
              "The file on the server is larger than the 4999 bytes expected (5000 bytes)");

    fetcher_->SetSizeLimit(5000);
    EXPECT_TRUE(Download("/big"));
    EXPECT_EQ(Slurp(local_).size(), 5000u);
    fetcher_->SetSizeLimit(0);
    EXPECT_TRUE(Download("/big"));
}

TEST_F(WebQuilfetchTest, ConnectionDropMidBodyRemovesThePartAndKeepsTheEarlierFile) {
    std::string body = PatternBytes(100000);
    server_.Handle("/old", quil::test::HttpReply(200, "earlier release"));
    server_.Handle("/drop", quil::test::HttpDropMidBody(body.size(), body.substr(0, 30000)));
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Download("/old"));

    window_.Clear();
    EXPECT_FALSE(Download("/drop"));
    EXPECT_FALSE(fs::exists(Part()));
    EXPECT_EQ(Slurp(local_), "earlier release");
    EXPECT_EQ(fetcher_->GetStatusCode(), 0u);
    // The reason is the last text announced, after the connection's own texts.
    auto texts = window_.StatusTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), StatusText());
    EXPECT_NE(StatusText(), "Connection to the server closed");
    EXPECT_FALSE(StatusText().empty());
    EXPECT_FALSE(Progress().empty());
}

TEST_F(WebQuilfetchTest, BodyShorterThanAnnouncedFails) {
    server_.Handle("/short", [](const HttpRequest&, HttpConnection& connection) {
        connection.Send(quil::test::HttpResponseText(
            200, "OK", {"Content-Length: 5000", "Transfer-Encoding: chunked"},
            "3e8\r\n" + std::string(1000, 'a') + "\r\n0\r\n\r\n"));
    });
    ASSERT_TRUE(Open());
    EXPECT_FALSE(Download("/short"));
    EXPECT_FALSE(fs::exists(local_));
    EXPECT_FALSE(fs::exists(Part()));
    EXPECT_EQ(StatusText(), "The server's answer ended after 1000 of 5000 bytes");
}

TEST_F(WebQuilfetchTest, BodyBeyondAnnouncedLengthIsCut) {
    std::string body = PatternBytes(5000);
    server_.Handle("/long", [&](const HttpRequest&, HttpConnection& connection) {
        connection.Send(quil::test::HttpResponseText(
            200, "OK", {"Content-Length: 1000", "Transfer-Encoding: chunked"},
            "1388\r\n" + body + "\r\n0\r\n\r\n"));
    });
    ASSERT_TRUE(Open());
    EXPECT_TRUE(Download("/long"));
    EXPECT_EQ(Slurp(local_), body.substr(0, 1000));
    ASSERT_FALSE(Progress().empty());
    EXPECT_EQ(Progress().back().message.wParam, 1000u);
}

TEST_F(WebQuilfetchTest, SilentServerTimesOut) {
    server_.Handle("/stall-body", quil::test::HttpStallMidBody(100000, PatternBytes(5000)));
    server_.Handle("/stall-head",
                   [](const HttpRequest&, HttpConnection& connection) { connection.Stall(); });
    ASSERT_TRUE(Open(300));

    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(Download("/stall-body"));
    EXPECT_EQ(StatusText(), "The operation timed out");
    EXPECT_FALSE(fs::exists(local_));
    EXPECT_FALSE(fs::exists(Part()));

    EXPECT_FALSE(Download("/stall-head"));
    EXPECT_EQ(StatusText(), "The operation timed out");
    EXPECT_FALSE(fs::exists(local_));
    // A guard against waiting for ever, not a measurement.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
}

TEST_F(WebQuilfetchTest, CancelFromAnotherThreadKeepsThePartialPart) {
    std::string body = PatternBytes(1 << 20);
    server_.Handle("/Quilpack.exe", quil::test::HttpSlowBody(body, 4095, 30ms));
    ASSERT_TRUE(Open(5000));
    auto result = DownloadOnWorker("/Quilpack.exe");
    ASSERT_TRUE(window_.WaitForProgress(3 * 4095, 10s));
    EXPECT_EQ(fetcher_->Cancel(), 1);
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(result.get(), 1);

    EXPECT_FALSE(fs::exists(local_));
    ASSERT_TRUE(fs::exists(Part()));
    std::string partial = Slurp(Part());
    EXPECT_GE(partial.size(), 3u * 4095);
    EXPECT_LT(partial.size(), body.size());
    EXPECT_EQ(partial, body.substr(0, partial.size()));
    EXPECT_EQ(Progress().back().message.wParam, partial.size());
    EXPECT_EQ(fetcher_->GetStatusCode(), 200u);
}

TEST_F(WebQuilfetchTest, CancelEndsAStalledDownload) {
    server_.Handle("/stall-body", quil::test::HttpStallMidBody(100000, PatternBytes(5000)));
    server_.Handle("/stall-head",
                   [](const HttpRequest&, HttpConnection& connection) { connection.Stall(); });
    ASSERT_TRUE(Open());

    auto result = DownloadOnWorker("/stall-body");
    ASSERT_TRUE(window_.WaitForProgress(5000, 10s));
    fetcher_->Cancel();
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(result.get(), 1);
    EXPECT_EQ(Slurp(Part()), PatternBytes(5000));
    fs::remove(Part());

    // Before the server has answered there is nothing to keep.
    result = DownloadOnWorker("/stall-head");
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (server_.Requests().size() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    fetcher_->Cancel();
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(result.get(), 1);
    EXPECT_FALSE(fs::exists(Part()));
    EXPECT_FALSE(fs::exists(local_));
}

TEST_F(WebQuilfetchTest, CloseFromAnotherThreadEndsTheDownloadFirst) {
    server_.Handle("/stall-body", quil::test::HttpStallMidBody(100000, PatternBytes(5000)));
    ASSERT_TRUE(Open());
    auto result = DownloadOnWorker("/stall-body");
    ASSERT_TRUE(window_.WaitForProgress(5000, 10s));
    EXPECT_EQ(fetcher_->Close(), 1);
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(result.get(), 1);
    EXPECT_EQ(StatusText(), "");
}

// Opening again cancels a running download as Close does, instead of waiting for its end.
TEST_F(WebQuilfetchTest, OpenFromAnotherThreadCancelsTheDownloadFirst) {
    server_.Handle("/stall-body", quil::test::HttpStallMidBody(100000, PatternBytes(5000)));
    server_.Handle("/small", quil::test::HttpReply(200, "fresh"));
    ASSERT_TRUE(Open());
    auto result = DownloadOnWorker("/stall-body");
    ASSERT_TRUE(window_.WaitForProgress(5000, 10s));
    auto reopened = std::async(std::launch::async, [this] { return Open(); });
    ASSERT_EQ(reopened.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(reopened.get());
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(result.get(), 1);
    EXPECT_EQ(Slurp(Part()), PatternBytes(5000));
    // The new session downloads as usual.
    ASSERT_TRUE(Download("/small"));
    EXPECT_EQ(Slurp(local_), "fresh");
}

TEST_F(WebQuilfetchTest, ProgressDuringTheFirstSecondCarriesNoTotal) {
    server_.Handle("/update.ini", quil::test::HttpReply(200, PatternBytes(20000)));
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Download("/update.ini"));
    auto progress = Progress();
    ASSERT_FALSE(progress.empty());
    for (const auto& entry : progress) EXPECT_EQ(entry.message.lParam, 0);
    EXPECT_EQ(fetcher_->GetSpeed(), 0.0);
}

TEST_F(WebQuilfetchTest, ProgressAfterTheFirstSecondCarriesTotalAndSpeed) {
    constexpr size_t kSize = 8 * 4095;
    server_.Handle("/slow", quil::test::HttpSlowBody(PatternBytes(kSize), 4095, 200ms));
    server_.Handle("/fast", quil::test::HttpReply(200, PatternBytes(20000)));
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Download("/slow"));

    auto progress = Progress();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front().message.lParam, 0);
    EXPECT_EQ(progress.back().message.lParam, static_cast<LPARAM>(kSize));
    bool totalSeen = false;
    for (const auto& entry : progress) {
        if (totalSeen) {
            EXPECT_EQ(entry.message.lParam, static_cast<LPARAM>(kSize));
        }
        totalSeen = totalSeen || entry.message.lParam != 0;
    }
    // Kilobytes received over whole seconds elapsed.
    double speed = fetcher_->GetSpeed();
    ASSERT_GT(speed, 0.0);
    double seconds = (kSize / 1024.0) / speed;
    EXPECT_NEAR(seconds, std::round(seconds), 1e-9);
    EXPECT_GE(std::round(seconds), 1.0);

    // A download within its first second leaves the speed as it was.
    ASSERT_TRUE(Download("/fast"));
    EXPECT_EQ(fetcher_->GetSpeed(), speed);
}

TEST_F(WebQuilfetchTest, StatusTextsFollowTheConnection) {
    server_.Handle("/update.ini", quil::test::HttpReply(200, "1.0\n"));
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Download("/update.ini"));
    EXPECT_THAT(
        window_.StatusTexts(),
        ElementsAre("", "Resolving name for 127.0.0.1", "Resolved name for 127.0.0.1",
                    "Connecting to socket address ", "Connected to socket address",
                    "Sending request...", "Request sent", "Response received",
                    "Closing the connection to the server", "Connection to the server closed"));
    for (const auto& entry : window_.Entries(kStatusMessage)) {
        EXPECT_EQ(entry.message.window, window_.handle());
        EXPECT_EQ(entry.message.wParam, 1u);
        EXPECT_EQ(entry.message.lParam, 0);
    }
    EXPECT_EQ(StatusText(), "Connection to the server closed");
}

TEST_F(WebQuilfetchTest, RedirectsWithinHttpAreFollowed) {
    server_.Handle("/old", quil::test::HttpRedirect(302, "/new"));
    server_.Handle("/new", quil::test::HttpReply(200, "2.0\n"));
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Download("/old"));
    EXPECT_EQ(Slurp(local_), "2.0\n");
    EXPECT_EQ(fetcher_->GetStatusCode(), 200u);
    EXPECT_THAT(RawHeaders(), testing::StartsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_THAT(RawHeaders(), testing::Not(HasSubstr("Location")));
    // The session's redirect notice has no text of its own.
    EXPECT_THAT(window_.StatusTexts(), testing::Contains("Unknown status: 110"));
}

TEST_F(WebQuilfetchTest, RedirectsToOtherSchemesAreRefused) {
    std::string secret = (dir_ / "secret").string();
    std::ofstream(secret) << "not for the network";
    server_.Handle("/file", quil::test::HttpRedirect(302, "file://" + secret));
    server_.Handle("/ftp", quil::test::HttpRedirect(
                               301, "ftp://127.0.0.1:" + std::to_string(server_.Port()) + "/x"));
    ASSERT_TRUE(Open());

    EXPECT_FALSE(Download("/file"));
    EXPECT_FALSE(fs::exists(local_));
    EXPECT_FALSE(fs::exists(Part()));
    EXPECT_FALSE(StatusText().empty());

    EXPECT_FALSE(Download("/ftp"));
    EXPECT_FALSE(fs::exists(local_));
    EXPECT_EQ(server_.Requests().size(), 2u);
}

TEST_F(WebQuilfetchTest, OnlyHttpUrlsAreFetched) {
    std::string secret = (dir_ / "secret").string();
    std::ofstream(secret) << "not for the network";
    ASSERT_TRUE(Open());
    EXPECT_FALSE(fetcher_->Download(("file://" + secret).c_str()));
    EXPECT_FALSE(fs::exists(local_));
    EXPECT_FALSE(StatusText().empty());
    EXPECT_FALSE(fetcher_->Download(nullptr));
}

TEST_F(WebQuilfetchTest, ProxyOptionSendsRequestsThroughTheProxy) {
    server_.Handle("*", quil::test::HttpReply(200, "via proxy"));
    // Only the low 16 bits of the port count.
    DWORD port = static_cast<DWORD>(server_.Port()) | 0x10000;
    ASSERT_EQ(fetcher_->Open("QuilTest/1.0", 0, 1, "127.0.0.1", port, kStatusMessage,
                             window_.handle(), local_.c_str()),
              1);
    // 127.0.0.2 is loopback too, so a request that missed the proxy would still stay here.
    ASSERT_TRUE(fetcher_->Download("http://127.0.0.2:9/update/Quilpack/update.ini"));
    EXPECT_EQ(Slurp(local_), "via proxy");
    auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "http://127.0.0.2:9/update/Quilpack/update.ini");
    EXPECT_EQ(requests[0].Header("User-Agent"), "QuilTest/1.0");
    EXPECT_THAT(window_.StatusTexts(), testing::Contains("Resolving name for 127.0.0.1"));
}

TEST_F(WebQuilfetchTest, UnwritableLocalPathFails) {
    server_.Handle("/update.ini", quil::test::HttpReply(200, "1.0\n"));
    local_ = dir_ / "missing" / "Update.ini";
    ASSERT_TRUE(Open());
    EXPECT_FALSE(Download("/update.ini"));
    EXPECT_THAT(StatusText(), testing::StartsWith("Cannot create"));
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

TEST_F(WebQuilfetchTest, SessionLifecycle) {
    server_.Handle("/a", quil::test::HttpReply(200, "first"));
    server_.Handle("/b", quil::test::HttpReply(200, "second"));
    EXPECT_FALSE(Download("/a"));
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Download("/a"));
    ASSERT_TRUE(Download("/b"));
    EXPECT_EQ(Slurp(local_), "second");
    EXPECT_FALSE(StatusText().empty());

    EXPECT_EQ(fetcher_->Close(), 1);
    EXPECT_EQ(StatusText(), "");
    EXPECT_FALSE(Download("/a"));
    EXPECT_EQ(fetcher_->GetStatusCode(), 0u);
    EXPECT_EQ(fetcher_->Close(), 1);

    // No progress target: nothing is posted for the body.
    fetcher_->SetProgressTarget(kProgressMessage, nullptr);
    window_.Clear();
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Download("/a"));
    EXPECT_EQ(Slurp(local_), "first");
    EXPECT_TRUE(Progress().empty());
    EXPECT_FALSE(window_.StatusTexts().empty());
}

}  // namespace
