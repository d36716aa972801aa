#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/net/internet_session.h"
#include "testsupport/http_server.h"

namespace {

using quil::net::HttpResponse;
using quil::net::InternetSession;
using quil::net::RequestOutcome;
using quil::test::HttpConnection;
using quil::test::HttpRequest;
using quil::test::HttpServer;
using testing::ElementsAre;

class RecordingSession : public InternetSession {
public:
    using InternetSession::InternetSession;
    std::vector<DWORD> statuses;
    std::vector<std::string> texts;

protected:
    void OnStatusCallback(DWORD_PTR context, DWORD status, const void* information,
                          DWORD length) override {
        EXPECT_EQ(context, 7u);
        statuses.push_back(status);
        bool isText =
            status == INTERNET_STATUS_RESOLVING_NAME || status == INTERNET_STATUS_NAME_RESOLVED ||
            status == INTERNET_STATUS_CONNECTING_TO_SERVER || status == INTERNET_STATUS_REDIRECT;
        if (isText) texts.emplace_back(static_cast<const char*>(information), length - 1);
    }
};

class Collector : public quil::net::ResponseReceiver {
public:
    int responses = 0;
    long statusCode = 0;
    std::string headers;
    std::string body;
    size_t stopAfter = SIZE_MAX;

    bool OnResponse(const HttpResponse& response) override {
        ++responses;
        statusCode = response.StatusCode();
        headers = response.RawHeaders();
        return true;
    }
    bool OnData(std::span<const char> data) override {
        body.append(data.data(), data.size());
        return body.size() < stopAfter;
    }
};

class InternetSessionTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
            unsetenv(name);
        }
    }
    HttpServer server_;
    RecordingSession session_{"", 7};
    Collector collector_;
};

// The server closes after its answer, so the connection goes before the request handle.
TEST_F(InternetSessionTest, ReportsEachPhaseOnce) {
    server_.Handle("/x", quil::test::HttpReply(200, "body"));
    session_.EnableStatusCallback();
    auto result = session_.OpenUrl(server_.Url("/x"), 0, collector_);
    EXPECT_EQ(result.outcome, RequestOutcome::kComplete);
    EXPECT_TRUE(result.responseStarted);
    EXPECT_EQ(collector_.body, "body");
    EXPECT_THAT(session_.statuses,
                ElementsAre(INTERNET_STATUS_HANDLE_CREATED, INTERNET_STATUS_RESOLVING_NAME,
                            INTERNET_STATUS_NAME_RESOLVED, INTERNET_STATUS_CONNECTING_TO_SERVER,
                            INTERNET_STATUS_CONNECTED_TO_SERVER, INTERNET_STATUS_SENDING_REQUEST,
                            INTERNET_STATUS_REQUEST_SENT, INTERNET_STATUS_RECEIVING_RESPONSE,
                            INTERNET_STATUS_RESPONSE_RECEIVED, INTERNET_STATUS_CLOSING_CONNECTION,
                            INTERNET_STATUS_CONNECTION_CLOSED, INTERNET_STATUS_HANDLE_CLOSING));
    EXPECT_THAT(session_.texts, ElementsAre("127.0.0.1", "127.0.0.1", "127.0.0.1"));
}

TEST_F(InternetSessionTest, NoStatusWithoutCallback) {
    server_.Handle("/x", quil::test::HttpReply(200, "body"));
    session_.OpenUrl(server_.Url("/x"), 0, collector_);
    EXPECT_TRUE(session_.statuses.empty());
}

TEST_F(InternetSessionTest, InterimAnswersAndTrailersAreNotTheResponse) {
    server_.Handle("/x", [](const HttpRequest&, HttpConnection& connection) {
        connection.Send(
            "HTTP/1.1 100 Continue\r\n\r\n"
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTrailer: X-Sum\r\n\r\n"
            "4\r\nbody\r\n0\r\nX-Sum: 1\r\n\r\n");
    });
    auto result = session_.OpenUrl(server_.Url("/x"), 0, collector_);
    EXPECT_EQ(result.outcome, RequestOutcome::kComplete);
    EXPECT_EQ(collector_.responses, 1);
    EXPECT_EQ(collector_.statusCode, 200);
    EXPECT_EQ(collector_.headers,
              "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTrailer: X-Sum\r\n");
    EXPECT_EQ(collector_.body, "body");
}

TEST_F(InternetSessionTest, RedirectIsReportedAndOnlyTheLastAnswerDelivered) {
    server_.Handle("/a", quil::test::HttpRedirect(307, server_.Url("/b")));
    server_.Handle("/b", quil::test::HttpReply(200, "here"));
    session_.EnableStatusCallback();
    auto result = session_.OpenUrl(server_.Url("/a"), 0, collector_);
    EXPECT_EQ(result.outcome, RequestOutcome::kComplete);
    EXPECT_EQ(collector_.responses, 1);
    EXPECT_EQ(collector_.body, "here");
    EXPECT_THAT(session_.texts, testing::Contains(server_.Url("/b")));
}

TEST_F(InternetSessionTest, ReceiverCanEndTheTransfer) {
    server_.Handle("/x", quil::test::HttpReply(200, std::string(100000, 'x')));
    session_.SetReceiveBlockSize(4095);
    collector_.stopAfter = 1;
    auto result = session_.OpenUrl(server_.Url("/x"), 0, collector_);
    EXPECT_EQ(result.outcome, RequestOutcome::kStopped);
    EXPECT_LE(collector_.body.size(), 4095u);
}

TEST_F(InternetSessionTest, RefusedConnectionFailsBeforeAnyResponse) {
    // A port that was just free: nothing listens there.
    int port;
    {
        HttpServer closed;
        port = closed.Port();
    }
    auto result =
        session_.OpenUrl("http://127.0.0.1:" + std::to_string(port) + "/x", 0, collector_);
    EXPECT_EQ(result.outcome, RequestOutcome::kFailed);
    EXPECT_FALSE(result.responseStarted);
    EXPECT_FALSE(result.errorText.empty());
    EXPECT_EQ(collector_.responses, 0);
}

TEST(HttpResponseTest, HeaderLookupIgnoresCaseAndBlanks) {
    HttpResponse response(200, "HTTP/1.1 200 OK\r\ncontent-LENGTH:  12 \r\nX-A: 1\r\nX-A: 2\r\n");
    EXPECT_EQ(response.Header("Content-Length"), "12");
    EXPECT_EQ(response.Header("x-a"), "1");
    EXPECT_EQ(response.Header("HTTP/1.1 200 OK"), std::nullopt);
    EXPECT_EQ(response.Header("Location"), std::nullopt);
}

}  // namespace
