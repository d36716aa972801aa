#pragma once

// An HTTP client session shaped like the platform's internet layer: a session with an agent
// name, a status callback and options, and requests that block on the caller's thread while the
// response streams into a receiver. Built on libcurl's easy interface.

#include <chrono>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "platform/com/types.h"
#include "platform/net/http_response.h"

using DWORD_PTR = uintptr_t;

constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;  // proxy from the environment (http_proxy, ...)
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;

constexpr DWORD INTERNET_FLAG_TRANSFER_BINARY = 0x00000002;
constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;

constexpr DWORD INTERNET_STATUS_RESOLVING_NAME = 10;
constexpr DWORD INTERNET_STATUS_NAME_RESOLVED = 11;
constexpr DWORD INTERNET_STATUS_CONNECTING_TO_SERVER = 20;
constexpr DWORD INTERNET_STATUS_CONNECTED_TO_SERVER = 21;
constexpr DWORD INTERNET_STATUS_SENDING_REQUEST = 30;
constexpr DWORD INTERNET_STATUS_REQUEST_SENT = 31;
constexpr DWORD INTERNET_STATUS_RECEIVING_RESPONSE = 40;
constexpr DWORD INTERNET_STATUS_RESPONSE_RECEIVED = 41;
constexpr DWORD INTERNET_STATUS_CLOSING_CONNECTION = 50;
constexpr DWORD INTERNET_STATUS_CONNECTION_CLOSED = 51;
constexpr DWORD INTERNET_STATUS_HANDLE_CREATED = 60;
constexpr DWORD INTERNET_STATUS_HANDLE_CLOSING = 70;
constexpr DWORD INTERNET_STATUS_REQUEST_COMPLETE = 100;
constexpr DWORD INTERNET_STATUS_REDIRECT = 110;

namespace quil::net {

class ResponseReceiver {
public:
    virtual ~ResponseReceiver() = default;
    // The final response's headers are in (redirects already followed). False ends the transfer.
    virtual bool OnResponse(const HttpResponse& response) = 0;
    // The next piece of the body, in the order received. False ends the transfer.
    virtual bool OnData(std::span<const char> data) = 0;
    // Asked after each piece and, while nothing arrives, about once a second. True ends the
    // transfer.
    virtual bool StopRequested() { return false; }
};

enum class RequestOutcome {
    kComplete,  // the body was read to its end
    kStopped,   // the receiver ended the transfer
    kFailed,
};

struct RequestResult {
    RequestOutcome outcome = RequestOutcome::kFailed;
    bool responseStarted = false;  // OnResponse was called
    std::string errorText;         // set when the outcome is kFailed
};

class InternetSession {
public:
    // An empty agent name sends "Quillet".
    explicit InternetSession(std::string agent = {}, DWORD_PTR context = 1,
                             DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG);
    virtual ~InternetSession();
    InternetSession(const InternetSession&) = delete;
    InternetSession& operator=(const InternetSession&) = delete;

    void EnableStatusCallback(bool enable = true) { statusCallback_ = enable; }

    // Longest wait for the next bytes of a response, and for a connection; zero waits for ever.
    void SetDataReceiveTimeout(std::chrono::milliseconds timeout) { receiveTimeout_ = timeout; }
    std::chrono::milliseconds DataReceiveTimeout() const { return receiveTimeout_; }

    // proxy is "host:port"; bypass lists hosts reached directly, comma-separated.
    void SetProxy(DWORD accessType, std::string proxy, std::string bypass = {});

    // Largest piece handed to OnData; zero keeps libcurl's default.
    void SetReceiveBlockSize(size_t bytes) { receiveBlockSize_ = bytes; }

    // Fetches an http or https URL, following redirects to http and https only, and streams the
    // response into receiver. Blocks until the transfer has ended and its connection is closed.
    RequestResult OpenUrl(std::string_view url, DWORD flags, ResponseReceiver& receiver);

protected:
    // Runs on the thread inside OpenUrl. The information is a zero-terminated text for names,
    // addresses and redirect targets, a DWORD byte count for REQUEST_SENT, and absent otherwise.
    virtual void OnStatusCallback(DWORD_PTR context, DWORD internetStatus,
                                  const void* statusInformation, DWORD statusInformationLength);

private:
    friend class Transfer;
    void Notify(DWORD internetStatus, const void* information = nullptr, DWORD length = 0);

    std::string agent_;
    DWORD_PTR context_;
    DWORD accessType_;
    std::string proxy_;
    std::string proxyBypass_;
    std::chrono::milliseconds receiveTimeout_{0};
    size_t receiveBlockSize_ = 0;
    bool statusCallback_ = false;
};

}  // namespace quil::net
