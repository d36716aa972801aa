#include "app/settings/format_settings.h"

#include "app/settings/option_tables.h"
#include "app/settings/wma_profile_catalogue.h"

namespace quil::settings {

namespace {

int32_t ReadInRange(const SettingsKey& key, std::string_view name, int32_t fallbackValue,
                    int32_t low, int32_t high) {
    int32_t stored = key.ReadNumber(name, fallbackValue);
    return stored >= low && stored <= high ? stored : fallbackValue;
}

bool IsMp3SampleRate(int32_t rate) {
    for (const auto& entry : Mp3SampleRates()) {
        if (entry.rate == rate) return true;
    }
    return false;
}

}  // namespace

int32_t LoadOutputFormat() {
    auto key = SettingsKey::ForLoad();
    return ReadInRange(key, value::kOutputFormat, fallback::kOutputFormat, 0,
                       kOutputFormatCount - 1);
}

int32_t LoadEndOption() {
    auto key = SettingsKey::ForLoad();
    return ReadInRange(key, value::kEndOption, fallback::kEndOption, 0,
                       static_cast<int32_t>(EndOptionTexts().size()) - 1);
}

WavSettings LoadWavSettings() {
    auto key = SettingsKey::ForLoad();
    WavSettings settings;
    settings.preset = ReadInRange(key, value::kWavQuality, fallback::kWavQuality, 0,
                                  static_cast<int32_t>(WavPresets().size()) - 1);
    settings.attribute =
        ReadInRange(key, value::kWavAttribute, fallback::kWavAttribute, 0, kPcmFormatCount - 1);
    return settings;
}

Mp3Settings LoadMp3Settings() {
    auto key = SettingsKey::ForLoad();
    Mp3Settings settings;
    settings.sampleRate = key.ReadNumber(value::kMp3SampleRate, fallback::kMp3SampleRate);
    if (!IsMp3SampleRate(settings.sampleRate)) settings.sampleRate = fallback::kMp3SampleRate;
    settings.bitRate = key.ReadNumber(value::kMp3BitRate, fallback::kMp3BitRate);
    settings.channelMode = ReadInRange(key, value::kMp3Channel, 0, 0,
                                       static_cast<int32_t>(Mp3ChannelModes().size()) - 1);
    settings.quality = key.ReadNumber(value::kMp3Quality, fallback::kMp3Quality);
    settings.copyright = key.ReadBool(value::kMp3Copyright, 0);
    settings.crc = key.ReadBool(value::kMp3Crc, 0);
    settings.original = key.ReadBool(value::kMp3Original, 0);
    settings.privateBit = key.ReadBool(value::kMp3Private, 0);
    return settings;
}

OggSettings LoadOggSettings() {
    auto key = SettingsKey::ForLoad();
    OggSettings settings;
    settings.attribute =
        ReadInRange(key, value::kOggAttribute, fallback::kOggAttribute, 0, kPcmFormatCount - 1);
    settings.quality = ReadInRange(key, value::kOggQuality, fallback::kOggQuality, 0,
                                   static_cast<int32_t>(OggQualities().size()) - 1);
    return settings;
}

WmaSettings LoadStoredWmaSettings() {
    auto key = SettingsKey::ForLoad();
    WmaSettings settings;
    settings.version = key.ReadNumber(value::kWmaVersion, fallback::kWmaVersionAbsent);
    if (!IsWmaVersion(settings.version)) settings.version = fallback::kWmaVersionAbsent;
    settings.profile = key.ReadString(value::kWmaProfile, "");
    return settings;
}

WmaSettings LoadWmaSettings(const WmaProfileCatalogue& catalogue) {
    WmaSettings settings = LoadStoredWmaSettings();
    if (settings.version == fallback::kWmaVersionAbsent || settings.profile.empty()) {
        settings.version = fallback::kWmaVersion;
        settings.profile = catalogue.LastName(fallback::kWmaVersion);
    }
    return settings;
}

OutputNamingRule LoadNamingRule() {
    auto key = SettingsKey::ForLoad();
    OutputNamingRule rule;
    rule.folder = key.ReadString(value::kOutputDirectory, "");
    rule.prefix = key.ReadString(value::kPrefixString, "");
    rule.suffix = key.ReadString(value::kSuffixString, "");
    rule.addDate = key.ReadBool(value::kAddDate, 0) != 0;
    return rule;
}

std::string LoadUpdateServer() {
    return SettingsKey::ForLoad().ReadString(value::kUpdateServer, "");
}

void SaveOutputFormat(int32_t format) {
    auto key = SettingsKey::ForSave();
    key.WriteNumber(value::kOutputFormat, format);
}

void SaveEndOption(int32_t option) {
    auto key = SettingsKey::ForSave();
    key.WriteNumber(value::kEndOption, option);
}

void SaveWavSettings(const WavSettings& settings) {
    auto key = SettingsKey::ForSave();
    key.WriteNumber(value::kWavQuality, settings.preset);
    key.WriteNumber(value::kWavAttribute, settings.attribute);
}

void SaveMp3Settings(const Mp3Settings& settings) {
    auto key = SettingsKey::ForSave();
    key.WriteNumber(value::kMp3SampleRate, settings.sampleRate);
    key.WriteNumber(value::kMp3BitRate, settings.bitRate);
    key.WriteNumber(value::kMp3Channel, settings.channelMode);
    key.WriteNumber(value::kMp3Quality, settings.quality);
    key.WriteNumber(value::kMp3Copyright, settings.copyright);
    key.WriteNumber(value::kMp3Crc, settings.crc);
    key.WriteNumber(value::kMp3Original, settings.original);
    key.WriteNumber(value::kMp3Private, settings.privateBit);
}

void SaveOggSettings(const OggSettings& settings) {
    auto key = SettingsKey::ForSave();
    key.WriteNumber(value::kOggQuality, settings.quality);
    key.WriteNumber(value::kOggAttribute, settings.attribute);
}

void SaveWmaSettings(const WmaSettings& settings) {
    auto key = SettingsKey::ForSave();
    key.WriteNumber(value::kWmaVersion, settings.version);
    key.WriteString(value::kWmaProfile, settings.profile);
}

void SaveNamingRule(const OutputNamingRule& rule) {
    auto key = SettingsKey::ForSave();
    key.WriteString(value::kOutputDirectory, rule.folder);
    key.WriteString(value::kPrefixString, rule.prefix);
    key.WriteString(value::kSuffixString, rule.suffix);
    key.WriteNumber(value::kAddDate, rule.addDate ? 1 : 0);
}

void SaveUpdateServer(std::string_view server) {
    auto key = SettingsKey::ForSave();
    key.WriteString(value::kUpdateServer, server);
}

}  // namespace quil::settings
