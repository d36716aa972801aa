#pragma once

// The option tables of the format pages and the texts of the options dialog, as the user sees
// them. The PCM formats behind the labels are the engine's table.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/core/pcm_format_table.h"

namespace quil::settings {

using engine::kPcmFormatCount;

enum OutputFormat : int32_t { kWav = 0, kMp3 = 1, kWma = 2, kOgg = 3 };
constexpr int kOutputFormatCount = 4;

enum EndOption : int32_t { kEndNothing = 0, kEndCloseProgram = 1, kEndShutDown = 2 };

// The label and the engine's format of each WavFormatIndex.
struct PcmFormatTable {
    static std::string_view Label(int index);  // empty outside 0..35
    static engine::PcmFormat Format(int index) { return engine::PcmFormatAt(index); }
    static std::span<const std::string_view, kPcmFormatCount> Labels();
};

struct Mp3SampleRate {
    int32_t rate;
    std::string_view label;
};
std::span<const Mp3SampleRate> Mp3SampleRates();
// Bit rates in kbit/s, 14 each: one list from 32000 Hz up, one below.
std::span<const int32_t> Mp3BitRates(int32_t sampleRate);
bool UsesLowBitRates(int32_t sampleRate);
std::span<const std::string_view> Mp3ChannelModes();

std::span<const std::string_view> OggQualities();

struct WavPreset {
    std::string_view label;
    int attribute;  // -1: the user picks the row
};
std::span<const WavPreset> WavPresets();
constexpr int kWavPresetUntitled = 3;

constexpr std::array<int32_t, 4> kWmaVersions = {4, 7, 8, 9};
std::string_view WmaVersionLabel(int32_t version);  // empty for other versions
bool IsWmaVersion(int32_t version);

std::span<const std::string_view> EndOptionTexts();

// Extension with its dot by OutputFormat; empty outside 0..3.
std::string_view OutputExtension(int32_t format);

namespace text {
inline constexpr std::string_view kDialogTitle = "Option";
inline constexpr std::string_view kSave = "Save";
inline constexpr std::string_view kCancel = "Cancel";
inline constexpr std::array<std::string_view, 4> kTabs = {"Format", "Save", "General", "Schedule"};
// Strings 57352 to 57355.
inline constexpr std::array<std::string_view, 4> kCaptions = {
    "Set output format", "Set output location and name rules", "General setting",
    "Edit recoder schedule"};
inline constexpr std::array<std::string_view, 4> kFormatRadios = {"Wav", "Mp3", "Wma", "Ogg"};

inline constexpr std::string_view kQualitySetting = "Quality Setting:";
inline constexpr std::string_view kAttribute = "Attribute:";

inline constexpr std::string_view kTargetSampleRate = "Target Sample Rate:";
inline constexpr std::string_view kBitRate = "BitRate(KBit/s):";
inline constexpr std::string_view kModeSelect = "Mode Select:";
inline constexpr std::string_view kAdvance = "Advance:";
inline constexpr std::string_view kEncodingQuality = "Encoding Quality:";
inline constexpr std::string_view kLow = "Low";
inline constexpr std::string_view kHigh = "High";
inline constexpr std::array<std::string_view, 4> kMp3Flags = {
    "CopyRight", "CRC Check Sum", "Original Bit Set", "Private Bit Set"};

inline constexpr std::string_view kWmaVersion = "WMA version:";
inline constexpr std::string_view kEncoderProperty = "Encoder Property:";
inline constexpr std::string_view kDescription = "Description:";

inline constexpr std::string_view kOutputLocation = "Output location:";
inline constexpr std::string_view kBrowse = "Browse";
inline constexpr std::string_view kSaveFileName = "Save file name:";
inline constexpr std::string_view kCurrentDate = "Current Date";
inline constexpr std::string_view kCurrentTime = "Current Time";
inline constexpr std::string_view kPlus = "+";
inline constexpr std::string_view kExtensionNote = ".wav/.mp3/.wma/.ogg (Base on output format)";
// String 179.
inline constexpr std::string_view kSelectFolder = "Please select a folder";

inline constexpr std::string_view kWhenTaskFinished = "When task is finished, do this";
}  // namespace text

}  // namespace quil::settings
