#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/net/internet_session.h"
#include "platform/window/window.h"

namespace quil::update {

// The text shown for a status of the internet session; none for statuses that are not shown.
std::optional<std::string> StatusTextFor(DWORD internetStatus, const void* statusInformation,
                                         DWORD statusInformationLength);

// The fetcher's session: keeps the last status text and announces each new one to its window.
class FetchSession final : public net::InternetSession {
public:
    FetchSession(std::string agent, UINT statusMessage, HWND statusWindow);

    std::string StatusText() const;
    // Makes text the status text and announces it.
    void Announce(std::string text);

protected:
    void OnStatusCallback(DWORD_PTR context, DWORD internetStatus, const void* statusInformation,
                          DWORD statusInformationLength) override;

private:
    UINT statusMessage_;
    HWND statusWindow_;
    // The status text is read from other threads while a download runs.
    mutable std::mutex mutex_;
    std::string statusText_;
};

}  // namespace quil::update
