#include "app/settings/option_tables.h"

namespace quil::settings {

namespace {

// The rows for 44100 Hz read "44.000kHz"; the spacing is the program's own.
constexpr std::array<std::string_view, kPcmFormatCount> kPcmLabels = {
    "48.000kHz  16Bits  Stereo         187kb/sec", "48.000kHz  16Bits  Mono            93kb/sec",
    "44.000kHz  16Bits  Stereo         172kb/sec", "44.000kHz  16Bits  Mono            86kb/sec",
    "32.000kHz  16Bits  Stereo         125kb/sec", "32.000kHz  16Bits  Mono           62kb/sec",
    "24.000kHz  16Bits  Stereo          93kb/sec", "24.000kHz  16Bits  Mono            46kb/sec",
    "22.050kHz  16Bits  Stereo          86kb/sec", "22.050kHz  16Bits  Mono            43kb/sec",
    "16.000kHz  16Bits  Stereo          62kb/sec", "16.000kHz  16Bits  Mono            31kb/sec",
    "12.000kHz  16Bits  Stereo          46kb/sec", "12.000kHz  16Bits  Mono            23kb/sec",
    "11.025kHz  16Bits  Stereo          43kb/sec", "11.025kHz  16Bits  Mono            21kb/sec",
    "8.000kHz   16Bits  Stereo          31kb/sec", "8.000kHz   16Bits  Mono            15kb/sec",
    "48.000kHz  8Bits   Stereo          93kb/sec", "48.000kHz  8Bits   Mono            46kb/sec",
    "44.000kHz  8Bits   Stereo          86kb/sec", "44.000kHz  8Bits   Mono            43kb/sec",
    "32.000kHz  8Bits   Stereo         62kb/sec",  "32.000kHz  8Bits   Mono           31kb/sec",
    "24.000kHz  8Bits   Stereo          46kb/sec", "24.000kHz  8Bits   Mono            23kb/sec",
    "22.050kHz  8Bits   Stereo          43kb/sec", "22.050kHz  8Bits   Mono            21kb/sec",
    "16.000kHz  8Bits   Stereo          31kb/sec", "16.000kHz  8Bits   Mono            15kb/sec",
    "12.000kHz  8Bits   Stereo          23kb/sec", "12.000kHz  8Bits   Mono            11kb/sec",
    "11.025kHz  8Bits   Stereo          21kb/sec", "11.025kHz  8Bits   Mono            10kb/sec",
    "8.000kHz   8Bits   Stereo          15kb/sec", "8.000kHz   8Bits   Mono             7kb/sec",
};

constexpr Mp3SampleRate kMp3Rates[] = {{48000, "48kHz"}, {44100, "44.1kHz"},  {32000, "32kHz"},
                                       {24000, "24kHz"}, {22050, "22.05kHz"}, {16000, "16kHz"}};

constexpr int32_t kHighBitRates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int32_t kLowBitRates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

constexpr std::string_view kChannelModes[] = {"Stereo", "Joint Strero", "Dual Channel", "Mono"};

constexpr std::string_view kOggQualities[] = {
    "0 (Best Speed)", "1", "2", "3", "4", "5", "6", "7", "8", "9 (Best Quality)"};

constexpr WavPreset kWavPresets[] = {
    {"CD Quality", 2}, {"Radio Quality", 27}, {"Telephone Quality", 33}, {"Untitled", -1}};

constexpr std::string_view kWmaVersionLabels[] = {
    "Windows Media Audio (wma) version 4", "Windows Media Audio (wma) version 7",
    "Windows Media Audio (wma) version 8", "Windows Media Audio (wma) version 9"};

// Strings 180 to 182.
constexpr std::string_view kEndOptions[] = {"NULL", "Close Quillet", "Shut down"};

constexpr std::string_view kExtensions[] = {".wav", ".mp3", ".wma", ".ogg"};

}  // namespace

std::string_view PcmFormatTable::Label(int index) {
    return engine::IsPcmFormatIndex(index) ? kPcmLabels[static_cast<size_t>(index)]
                                           : std::string_view();
}

std::span<const std::string_view, kPcmFormatCount> PcmFormatTable::Labels() {
    return kPcmLabels;
}

std::span<const Mp3SampleRate> Mp3SampleRates() {
    return kMp3Rates;
}

bool UsesLowBitRates(int32_t sampleRate) {
    return sampleRate < 32000;
}

std::span<const int32_t> Mp3BitRates(int32_t sampleRate) {
    if (UsesLowBitRates(sampleRate)) return kLowBitRates;
    return kHighBitRates;
}

std::span<const std::string_view> Mp3ChannelModes() {
    return kChannelModes;
}

std::span<const std::string_view> OggQualities() {
    return kOggQualities;
}

std::span<const WavPreset> WavPresets() {
    return kWavPresets;
}

bool IsWmaVersion(int32_t version) {
    for (int32_t known : kWmaVersions) {
        if (known == version) return true;
    }
    return false;
}

std::string_view WmaVersionLabel(int32_t version) {
    for (size_t i = 0; i < kWmaVersions.size(); ++i) {
        if (kWmaVersions[i] == version) return kWmaVersionLabels[i];
    }
    return {};
}

std::span<const std::string_view> EndOptionTexts() {
    return kEndOptions;
}

std::string_view OutputExtension(int32_t format) {
    if (format < 0 || format >= kOutputFormatCount) return {};
    return kExtensions[format];
}

}  // namespace quil::settings
