#pragma once

// The updater's download: fetches and verifies the signed update information, downloads the
// installer it names into the "Update/" folder, checks the installer's SHA-256 against it and
// only then marks the installer executable. Runs on a worker thread and reports to a window:
// the fetcher's status and progress notifications, then a completion message (lparam 1 for
// success, 0 for failure, with the reason in FailureReason).

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "platform/window/window.h"
#include "update/fetch_worker.h"
#include "update/update_info.h"

namespace quil::update {

constexpr UINT kDownloadStatusMessage = 6156;
constexpr UINT kDownloadProgressMessage = 6157;
constexpr UINT kDownloadCompleteMessage = 6159;

struct InstallerSource {
    std::string server;                   // the update server's base address
    std::filesystem::path publicKeyPath;  // "update.pub" next to the program
    std::filesystem::path updateFolder;   // the data folder's "Update/"
};

class InstallerDownload {
public:
    explicit InstallerDownload(InstallerSource source);
    ~InstallerDownload();  // cancels and joins

    const std::filesystem::path& TargetPath() const { return target_; }
    // The installer's address on the server.
    std::string InstallerUrl() const;

    // False when the worker thread cannot be made (nothing is posted then).
    bool Start(HWND window);
    bool IsRunning() const { return worker_.IsRunning(); }
    void CancelAndJoin() { worker_.CancelAndJoin(); }
    double Speed() const { return worker_.Speed(); }
    // Why the last download failed; empty when nobody knows.
    std::string FailureReason() const;

    // Whether the target still holds the verified installer; `why` says what differs.
    bool TargetIsVerified(std::string& why) const;
    // Removes the target, its ".part" file and the downloaded information.
    void RemoveFiles() const;

private:
    void Run(HWND window);
    // The verified information, or none with the failure noted.
    std::optional<UpdateInfo> FetchInfo(HWND window);
    bool FetchInstaller(HWND window, const UpdateInfo& info);
    void Fail(std::string reason);

    InstallerSource source_;
    std::filesystem::path target_;
    std::filesystem::path infoCopy_;
    mutable std::mutex mutex_;
    std::string failure_;
    std::optional<UpdateInfo> verified_;
    FetchWorker worker_;
};

}  // namespace quil::update
