#include "update/installer_download.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace quil::update {

namespace fs = std::filesystem;

namespace {

void RemoveWithPart(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
    fs::remove(fs::path(path.string() + ".part"), ignored);
}

std::string DescribeAnswer(const FetchOutcome& outcome, const std::string& url) {
    return "The server answered " + std::to_string(outcome.statusCode) + " for " + url;
}

}  // namespace

InstallerDownload::InstallerDownload(InstallerSource source)
    : source_(std::move(source)),
      target_(source_.updateFolder / kInstallerName),
      // Its own name, so a check of the main program running meanwhile cannot overwrite it.
      infoCopy_(source_.updateFolder / "Quilmend.ini") {}

InstallerDownload::~InstallerDownload() {
    worker_.CancelAndJoin();
}

std::string InstallerDownload::InstallerUrl() const {
    return ServerUrl(source_.server, kInstallerPath);
}

bool InstallerDownload::Start(HWND window) {
    if (worker_.IsRunning()) return false;
    {
        std::lock_guard lock(mutex_);
        failure_.clear();
        verified_.reset();
    }
    return worker_.Start([this, window] { Run(window); });
}

std::string InstallerDownload::FailureReason() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

void InstallerDownload::Fail(std::string reason) {
    std::lock_guard lock(mutex_);
    failure_ = std::move(reason);
}

void InstallerDownload::Run(HWND window) {
    std::error_code ignored;
    fs::create_directories(source_.updateFolder, ignored);
    bool succeeded = false;
    if (source_.server.empty()) {
        Fail("No update server is set");
    } else if (auto info = FetchInfo(window)) {
        succeeded = FetchInstaller(window, *info);
    }
    PostMessage(window, kDownloadCompleteMessage, 0, succeeded ? 1 : 0);
}

std::optional<UpdateInfo> InstallerDownload::FetchInfo(HWND window) {
    FetchRequest request;
    request.url = ServerUrl(source_.server, kUpdateInfoPath);
    request.localPath = infoCopy_.string();
    request.statusMessage = kDownloadStatusMessage;
    request.statusWindow = window;
    request.sizeLimit = kUpdateInfoLimit;
    auto outcome = worker_.Fetch(request);
    std::optional<std::string> text;
    if (outcome.Done() && outcome.statusCode == 200)
        text = ReadSmallFile(infoCopy_, kUpdateInfoLimit);
    RemoveWithPart(infoCopy_);
    if (!outcome.Done()) {
        Fail(outcome.failure);
        return std::nullopt;
    }
    if (outcome.statusCode != 200) {
        Fail(DescribeAnswer(outcome, request.url));
        return std::nullopt;
    }
    auto publicKey = ReadSmallFile(source_.publicKeyPath, 4096);
    if (!publicKey) {
        Fail("The release key " + source_.publicKeyPath.string() + " cannot be read");
        return std::nullopt;
    }
    std::string why;
    auto info = text ? VerifyUpdateInfo(*text, *publicKey, why) : std::nullopt;
    if (!info) {
        Fail("The update information cannot be trusted: " + why);
        return std::nullopt;
    }
    return info;
}

bool InstallerDownload::FetchInstaller(HWND window, const UpdateInfo& info) {
    FetchRequest request;
    request.url = InstallerUrl();
    request.localPath = target_.string();
    request.statusMessage = kDownloadStatusMessage;
    request.statusWindow = window;
    request.progressMessage = kDownloadProgressMessage;
    request.progressWindow = window;
    request.sizeLimit = info.installerSize.value_or(kInstallerLimit);
    auto outcome = worker_.Fetch(request);
    if (!outcome.Done()) {
        Fail(outcome.failure);
        return false;
    }
    if (outcome.statusCode != 200) {
        RemoveWithPart(target_);
        Fail(DescribeAnswer(outcome, request.url));
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        verified_ = info;
    }
    std::string why;
    if (!TargetIsVerified(why)) {
        RemoveWithPart(target_);
        Fail(why);
        return false;
    }
    if (chmod(target_.c_str(), 0755) != 0) {
        Fail("Cannot make " + target_.string() + " executable: " + std::strerror(errno));
        return false;
    }
    return true;
}

bool InstallerDownload::TargetIsVerified(std::string& why) const {
    std::optional<UpdateInfo> info;
    {
        std::lock_guard lock(mutex_);
        info = verified_;
    }
    if (!info) {
        why = "No verified update information";
        return false;
    }
    auto digest = Sha256OfFile(target_, why);
    if (!digest) return false;
    if (digest->sha256 != info->sha256) {
        why = "The downloaded installer is not the published one (its SHA-256 differs)";
        return false;
    }
    return true;
}

void InstallerDownload::RemoveFiles() const {
    RemoveWithPart(target_);
    RemoveWithPart(infoCopy_);
}

}  // namespace quil::update
