#pragma once

// The updater's own string table; its numbers are not the main program's.

#include <string_view>

namespace quil::updater::text {

inline constexpr std::string_view kCaption = "Quillet LiveUpdate";
inline constexpr std::string_view kHeading =
    "Quillet is downloading  the new version, Please wait......";
inline constexpr std::string_view kConnecting = "Connect to Corvane...";
inline constexpr std::string_view kDownloadManually = "Download manually";
inline constexpr std::string_view kCancel = "Cancel";
inline constexpr std::string_view kProgressFormat = "%s:%5.1fKB (%3.1fKB)   %s:%5.1fKb/s";
inline constexpr std::string_view kFailedFormat = "%s: %s";

inline constexpr std::string_view kAbout = "&About Quilmend...";  // 101
inline constexpr std::string_view kDownloadFailed =
    "Download failed. Please download the new verison manually.";  // 102, unused
inline constexpr std::string_view kQuitWhileBusy =
    "Update is not finished. Are you sure to quit?";                  // 103
inline constexpr std::string_view kUnknownReason = "Unknown reason";  // 57345
inline constexpr std::string_view kSucceeded =
    "Update succeeded, Please click Run button to install new version.";  // 57346
inline constexpr std::string_view kRun = "Run";                           // 57348
inline constexpr std::string_view kUpdateFailed = "Update failed";        // 57349
inline constexpr std::string_view kDownloading = "Downloading";           // 57350
inline constexpr std::string_view kSpeed = "Speed";                       // 57351

inline constexpr std::string_view kProgramName = "Quilmend";
inline constexpr std::string_view kVersion = "Version 1.0";

}  // namespace quil::updater::text
