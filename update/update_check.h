#pragma once

// The background update check: fetches the update information from the update server, compares
// its first line with the installed "update.ini" next to the program and, when they differ and
// the information carries a good signature of the release key ("update.pub" next to the
// program), posts its finding to a window. The window's own thread asks the user and starts the
// updater; this class never shows anything. The downloaded copy lives in the data folder's
// "Update/" folder only while a check runs.

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/window/window.h"
#include "update/fetch_worker.h"

namespace quil::update {

// Posted to the notify window by the fetcher while it works; nobody needs to act on it.
constexpr UINT kCheckStatusMessage = 6156;
// The updater the main window starts from the program folder on a finding, with its command
// line.
inline constexpr std::string_view kUpdaterName = "Quilmend";
inline constexpr std::string_view kUpdaterArguments = "-a";

class UpdateCheck {
public:
    // dataFolder holds the "Update/" folder; empty takes the user's data folder.
    explicit UpdateCheck(std::filesystem::path dataFolder = {});
    ~UpdateCheck();  // stops
    UpdateCheck(const UpdateCheck&) = delete;
    UpdateCheck& operator=(const UpdateCheck&) = delete;

    // Starts a check on a thread of its own. False when the previous check still runs (nothing
    // new starts), when no server or program folder is given, or when no thread could be made.
    // An update found is posted as `message` (wparam 0, lparam 0) to notifyWindow.
    bool Start(const std::string& server, const std::filesystem::path& programFolder,
               HWND notifyWindow, UINT message);
    bool IsRunning() const { return worker_.IsRunning(); }
    // Cancels the download in progress and waits for the thread; nothing is posted afterwards.
    void Stop() { worker_.CancelAndJoin(); }

private:
    void Run(const std::string& server, const std::filesystem::path& programFolder,
             HWND notifyWindow, UINT message);
    bool FoundUpdate(const std::filesystem::path& programFolder,
                     const std::filesystem::path& downloaded);

    std::filesystem::path dataFolder_;
    FetchWorker worker_;
};

}  // namespace quil::update
