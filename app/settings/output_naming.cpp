#include "app/settings/output_naming.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/settings/format_settings.h"
#include "app/settings/output_file.h"
#include "app/settings/option_tables.h"
#include "platform/registry/user_folders.h"

namespace quil::settings {

namespace {

constexpr std::string_view kDefaultPrefix = "Quilmain";
constexpr std::string_view kDefaultFolderName = "Quilfetch/";

std::string FormatTime(const std::tm& time, const char* format) {
    char text[32];
    size_t length = std::strftime(text, sizeof text, format, &time);
    return std::string(text, length);
}

}  // namespace

std::tm Clock::LocalNow() const {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

const Clock& SystemClock() {
    static const Clock clock;
    return clock;
}

OutputPath BuildOutputPath(int32_t format, const Clock& clock) {
    SettingsKey key;
    if (!key.Open()) return {};
    std::string folder = key.ReadString(value::kOutputDirectory, "");
    // One level only: a folder whose parent is missing makes the grab fail when it writes.
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::create_directory(folder, ignored);
    std::string prefix = key.ReadString(value::kPrefixString, "");
    std::string suffix = key.ReadString(value::kSuffixString, "");
    bool addDate = key.ReadBool(value::kAddDate, 0) != 0;
    key.Close();

    std::tm now = clock.LocalNow();
    std::string date = addDate ? FormatTime(now, "%y-%m-%d") : std::string();
    std::string time = FormatTime(now, "%H-%M-%S");
    std::string extension(OutputExtension(format));

    std::string stem = prefix + date + time + suffix;
    std::string folderPart = folder + "/";
    OutputPath result;
    result.path = ClaimOutputName(folderPart + stem, extension).path;
    result.fileName = result.path.substr(folderPart.size());
    result.extension = extension.empty() ? std::string() : extension.substr(extension.size() - 3);
    return result;
}

std::string ApplyStartupDefaults() {
    SettingsKey key;
    bool created = false;
    if (!key.Open()) {
        key.Create();
        created = true;
    }
    std::string folder = key.ReadString(value::kOutputDirectory, "");
    if (folder.empty()) {
        auto defaultFolder = DataFolder() / kDefaultFolderName;
        // Unlike a program folder, the data folder itself may not exist yet on first start.
        std::error_code ignored;
        std::filesystem::create_directories(defaultFolder, ignored);
        folder = defaultFolder.string();
        key.WriteString(value::kOutputDirectory, folder);
    }
    if (created) key.WriteString(value::kPrefixString, kDefaultPrefix);
    return folder;
}

std::string FormatByteSize(uint32_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " bs";
    return std::to_string(bytes / 1024) + " kbs";
}

std::string FormatDuration(int seconds) {
    if (seconds < 0) seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600, (seconds / 60) % 60,
                  seconds % 60);
    return text;
}

bool SplitFileName(std::string_view path, std::string* title, std::string* name,
                   std::string* extension) {
    if (path.empty()) return false;
    std::filesystem::path parts{std::string(path)};
    std::string stem = parts.stem().string();
    std::string dotted = parts.extension().string();
    if (title) *title = stem;
    if (name) *name = stem + dotted;
    if (extension) *extension = dotted;
    return true;
}

}  // namespace quil::settings
