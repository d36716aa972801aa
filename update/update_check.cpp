#include "update/update_check.h"

#include <cstdio>

#include "platform/registry/user_folders.h"
#include "update/update_info.h"

namespace quil::update {

namespace fs = std::filesystem;

namespace {

void Say(const std::string& text) {
    std::fprintf(stderr, "Quillet update check: %s\n", text.c_str());
}

void RemoveWithPart(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
    fs::remove(fs::path(path.string() + ".part"), ignored);
}

}  // namespace

UpdateCheck::UpdateCheck(fs::path dataFolder) : dataFolder_(std::move(dataFolder)) {}

UpdateCheck::~UpdateCheck() {
    Stop();
}

bool UpdateCheck::Start(const std::string& server, const fs::path& programFolder, HWND notifyWindow,
                        UINT message) {
    if (server.empty() || programFolder.empty()) return false;
    return worker_.Start([this, server, programFolder, notifyWindow, message] {
        Run(server, programFolder, notifyWindow, message);
    });
}

void UpdateCheck::Run(const std::string& server, const fs::path& programFolder, HWND notifyWindow,
                      UINT message) {
    fs::path folder = (dataFolder_.empty() ? DataFolder() : dataFolder_) / "Update";
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    fs::path downloaded = folder / "Update.ini";

    FetchRequest request;
    request.url = ServerUrl(server, kUpdateInfoPath);
    request.localPath = downloaded.string();
    request.statusMessage = kCheckStatusMessage;
    request.statusWindow = notifyWindow;
    request.sizeLimit = kUpdateInfoLimit;
    auto outcome = worker_.Fetch(request);
    bool found = false;
    if (outcome.Done() && outcome.statusCode != 200) {
        Say("the server answered " + std::to_string(outcome.statusCode) + " for " + request.url);
    } else if (outcome.Done()) {
        found = FoundUpdate(programFolder, downloaded);
    }
    RemoveWithPart(downloaded);
    if (found && !worker_.Cancelled()) PostMessage(notifyWindow, message, 0, 0);
}

bool UpdateCheck::FoundUpdate(const fs::path& programFolder, const fs::path& downloaded) {
    auto installed = ReadFirstLine(programFolder / kInstalledInfoName);
    auto published = ReadSmallFile(downloaded, kUpdateInfoLimit);
    // Without an installed copy there is no release to compare with.
    if (!installed || !published) return false;
    auto lines = SplitLines(*published);
    std::string first = lines.empty() ? std::string() : lines.front();
    if (first == *installed) return false;

    auto publicKey = ReadSmallFile(programFolder / kPublicKeyName, 4096);
    if (!publicKey) {
        Say("no update offered: " + (programFolder / kPublicKeyName).string() + " cannot be read");
        return false;
    }
    std::string why;
    if (!VerifyUpdateInfo(*published, *publicKey, why)) {
        Say("no update offered: " + why);
        return false;
    }
    return true;
}

}  // namespace quil::update
