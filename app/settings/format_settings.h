#pragma once

// The stored output choices: every value of the settings key with its name, type and default,
// and the loaders and savers the pages and the grab pages use. A value outside the range its
// table allows counts as corrupt and reads as its default.

#include <cstdint>
#include <string>
#include <string_view>

#include "app/settings/settings_key.h"

namespace quil::settings {

class WmaProfileCatalogue;

namespace value {
inline constexpr std::string_view kOutputFormat = "Output format";
inline constexpr std::string_view kOutputDirectory = "Output directory";
inline constexpr std::string_view kPrefixString = "Prefix String";
inline constexpr std::string_view kSuffixString = "Suffix String";
inline constexpr std::string_view kAddDate = "Add Date";
inline constexpr std::string_view kEndOption = "End Option";
inline constexpr std::string_view kWavQuality = "Wav Quality";
inline constexpr std::string_view kWavAttribute = "Wav Attribute";
inline constexpr std::string_view kOggQuality = "Ogg Quality";
inline constexpr std::string_view kOggAttribute = "Ogg Attribute";
inline constexpr std::string_view kWmaVersion = "WMA Version";
inline constexpr std::string_view kWmaProfile = "WMA Profile";
inline constexpr std::string_view kMp3SampleRate = "Mp3 SampleRate";
inline constexpr std::string_view kMp3BitRate = "Mp3 BitRate";
inline constexpr std::string_view kMp3Channel = "Mp3 Channle";
inline constexpr std::string_view kMp3Quality = "Mp3 Quality";
inline constexpr std::string_view kMp3Copyright = "Mp3 CopyRight";
inline constexpr std::string_view kMp3Crc = "Mp3 CRC Check";
inline constexpr std::string_view kMp3Original = "Mp3 Original Bit Set";
inline constexpr std::string_view kMp3Private = "Mp3 Private Bit Set";
// The update server's base address ("http://host[:port]"); empty means no update checks.
inline constexpr std::string_view kUpdateServer = "Update server";
}  // namespace value

namespace fallback {
constexpr int32_t kOutputFormat = 0;
constexpr int32_t kEndOption = 0;
constexpr int32_t kWavQuality = 0;
constexpr int32_t kWavAttribute = 2;
constexpr int32_t kOggQuality = 6;
constexpr int32_t kOggAttribute = 2;
constexpr int32_t kWmaVersionAbsent = -1;
constexpr int32_t kWmaVersion = 7;
constexpr int32_t kMp3SampleRate = 44100;
constexpr int32_t kMp3BitRate = 128;
constexpr int32_t kMp3Quality = 5;
}  // namespace fallback

// Eight 32-bit fields in the order SetMp3Options takes them.
struct Mp3Settings {
    int32_t sampleRate = fallback::kMp3SampleRate;
    int32_t bitRate = fallback::kMp3BitRate;  // kbit/s
    int32_t channelMode = 0;
    int32_t quality = fallback::kMp3Quality;
    int32_t copyright = 0;
    int32_t crc = 0;
    int32_t original = 0;
    int32_t privateBit = 0;
    bool operator==(const Mp3Settings&) const = default;
};

struct WavSettings {
    int32_t preset = fallback::kWavQuality;
    int32_t attribute = fallback::kWavAttribute;  // WavFormatIndex
    bool operator==(const WavSettings&) const = default;
};

struct OggSettings {
    int32_t attribute = fallback::kOggAttribute;  // WavFormatIndex
    int32_t quality = fallback::kOggQuality;      // 0..9
    float QualityValue() const { return static_cast<float>(quality); }
    bool operator==(const OggSettings&) const = default;
};

struct WmaSettings {
    int32_t version = fallback::kWmaVersion;
    std::string profile;  // at most 259 bytes
    bool operator==(const WmaSettings&) const = default;
};

struct OutputNamingRule {
    std::string folder;
    std::string prefix;
    std::string suffix;
    bool addDate = false;
    bool operator==(const OutputNamingRule&) const = default;
};

int32_t LoadOutputFormat();
int32_t LoadEndOption();
WavSettings LoadWavSettings();
// The MP3 values are handed on as stored; only a rate that is none of the six and a channel
// mode outside 0..3 read as their defaults. The page shows a stored bit rate of 0 as 128 and
// clamps the quality, the grabber gets what is stored.
Mp3Settings LoadMp3Settings();
OggSettings LoadOggSettings();
// The stored version (-1 when absent or not 4, 7, 8, 9) and profile.
WmaSettings LoadStoredWmaSettings();
// With no version or no profile stored: version 7 and the last profile of its list.
WmaSettings LoadWmaSettings(const WmaProfileCatalogue& catalogue);
OutputNamingRule LoadNamingRule();
std::string LoadUpdateServer();

void SaveOutputFormat(int32_t format);
void SaveEndOption(int32_t option);
void SaveWavSettings(const WavSettings& settings);
void SaveMp3Settings(const Mp3Settings& settings);
void SaveOggSettings(const OggSettings& settings);
void SaveWmaSettings(const WmaSettings& settings);
void SaveNamingRule(const OutputNamingRule& rule);
void SaveUpdateServer(std::string_view server);

}  // namespace quil::settings
