#include "update/fetch_session.h"

#include <cstdio>
#include <cstring>

namespace quil::update {

namespace {

std::string InformationText(const void* information, DWORD length) {
    if (!information || length == 0) return {};
    const char* text = static_cast<const char*>(information);
    return std::string(text, strnlen(text, length));
}

template <typename... Args>
std::string Format(const char* format, Args... args) {
    char text[300];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

}  // namespace

std::optional<std::string> StatusTextFor(DWORD internetStatus, const void* statusInformation,
                                         DWORD statusInformationLength) {
    switch (internetStatus) {
        case INTERNET_STATUS_RESOLVING_NAME:
            return "Resolving name for " +
                   InformationText(statusInformation, statusInformationLength);
        case INTERNET_STATUS_NAME_RESOLVED:
            return "Resolved name for " +
                   InformationText(statusInformation, statusInformationLength);
        case INTERNET_STATUS_CONNECTING_TO_SERVER:
            return "Connecting to socket address ";
        case INTERNET_STATUS_CONNECTED_TO_SERVER:
            return "Connected to socket address";
        case INTERNET_STATUS_SENDING_REQUEST:
            return "Sending request...";
        case INTERNET_STATUS_REQUEST_SENT:
            return "Request sent";
        case INTERNET_STATUS_RECEIVING_RESPONSE:
            return std::nullopt;
        case INTERNET_STATUS_RESPONSE_RECEIVED:
            return "Response received";
        case INTERNET_STATUS_CLOSING_CONNECTION:
            return "Closing the connection to the server";
        case INTERNET_STATUS_CONNECTION_CLOSED:
            return "Connection to the server closed";
        case INTERNET_STATUS_HANDLE_CREATED:
            return std::string();
        case INTERNET_STATUS_HANDLE_CLOSING:
            return std::nullopt;
        case INTERNET_STATUS_REQUEST_COMPLETE: {
            // The asynchronous result and error, one DWORD each.
            DWORD result[2] = {};
            if (statusInformation && statusInformationLength == sizeof result) {
                std::memcpy(result, statusInformation, sizeof result);
                return Format("Request complete, dwResult = %8.8X, dwError = %8.8X", result[0],
                              result[1]);
            }
            return "Request complete";
        }
        default:
            return Format("Unknown status: %d", static_cast<int>(internetStatus));
    }
}

FetchSession::FetchSession(std::string agent, UINT statusMessage, HWND statusWindow)
    : InternetSession(std::move(agent)),
      statusMessage_(statusMessage),
      statusWindow_(statusWindow) {}

std::string FetchSession::StatusText() const {
    std::lock_guard lock(mutex_);
    return statusText_;
}

void FetchSession::Announce(std::string text) {
    {
        std::lock_guard lock(mutex_);
        statusText_ = std::move(text);
    }
    if (statusWindow_) PostMessage(statusWindow_, statusMessage_, 1, 0);
}

void FetchSession::OnStatusCallback(DWORD_PTR, DWORD internetStatus, const void* statusInformation,
                                    DWORD statusInformationLength) {
    auto text = StatusTextFor(internetStatus, statusInformation, statusInformationLength);
    if (text) Announce(std::move(*text));
}

}  // namespace quil::update
