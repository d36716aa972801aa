// The settings key and every stored value: defaults, round trips and damaged values.

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <string>

#include "app/settings/format_settings.h"
#include "app/settings/option_tables.h"
#include "app/settings/settings_key.h"
#include "app/settings/tests/settings_test_util.h"
#include "app/settings/wma_profile_catalogue.h"

namespace quil::settings::test {
namespace {

using StoredValues = FreshSettings;

TEST_F(StoredValues, MissingKeyGivesEveryDefaultAndCreatesTheKey) {
    EXPECT_EQ(LoadOutputFormat(), 0);
    EXPECT_TRUE(registry::Key::Open(registry::Root::LocalMachine, kSettingsKeyPath));
    EXPECT_EQ(LoadEndOption(), 0);
    EXPECT_EQ(LoadWavSettings(), (WavSettings{0, 2}));
    EXPECT_EQ(LoadMp3Settings(), (Mp3Settings{44100, 128, 0, 5, 0, 0, 0, 0}));
    OggSettings ogg = LoadOggSettings();
    EXPECT_EQ(ogg.attribute, 2);
    EXPECT_EQ(ogg.quality, 6);
    EXPECT_FLOAT_EQ(ogg.QualityValue(), 6.0f);
    WmaSettings stored = LoadStoredWmaSettings();
    EXPECT_EQ(stored.version, -1);
    EXPECT_EQ(stored.profile, "");
    EXPECT_EQ(LoadNamingRule(), (OutputNamingRule{"", "", "", false}));
    EXPECT_EQ(LoadUpdateServer(), "");
}

TEST_F(StoredValues, UpdateServerIsATextUnderItsOwnName) {
    SaveUpdateServer("http://updates.example:8080/");
    EXPECT_EQ(LoadUpdateServer(), "http://updates.example:8080/");
    EXPECT_EQ(RawKey().ReadString("Update server"), "http://updates.example:8080/");
}

TEST_F(StoredValues, EverySaverRoundTripsUnderItsOwnNames) {
    SaveOutputFormat(3);
    SaveEndOption(2);
    SaveWavSettings({3, 35});
    SaveMp3Settings({22050, 64, 3, 9, 1, 1, 1, 1});
    SaveOggSettings({17, 9});
    SaveWmaSettings({8, "Some profile"});
    SaveNamingRule({"/rec/out", "pre", "_s", true});

    EXPECT_EQ(LoadOutputFormat(), 3);
    EXPECT_EQ(LoadEndOption(), 2);
    EXPECT_EQ(LoadWavSettings(), (WavSettings{3, 35}));
    EXPECT_EQ(LoadMp3Settings(), (Mp3Settings{22050, 64, 3, 9, 1, 1, 1, 1}));
    EXPECT_EQ(LoadOggSettings(), (OggSettings{17, 9}));
    EXPECT_FLOAT_EQ(LoadOggSettings().QualityValue(), 9.0f);
    EXPECT_EQ(LoadStoredWmaSettings(), (WmaSettings{8, "Some profile"}));
    EXPECT_EQ(LoadNamingRule(), (OutputNamingRule{"/rec/out", "pre", "_s", true}));

    // The names other parts of the program and older files rely on, with their types.
    registry::Key key = RawKey();
    const std::array<std::pair<const char*, uint32_t>, 15> numbers = {{{"Output format", 3},
                                                                       {"End Option", 2},
                                                                       {"Wav Quality", 3},
                                                                       {"Wav Attribute", 35},
                                                                       {"Ogg Quality", 9},
                                                                       {"Ogg Attribute", 17},
                                                                       {"WMA Version", 8},
                                                                       {"Mp3 SampleRate", 22050},
                                                                       {"Mp3 BitRate", 64},
                                                                       {"Mp3 Channle", 3},
                                                                       {"Mp3 Quality", 9},
                                                                       {"Mp3 CopyRight", 1},
                                                                       {"Mp3 CRC Check", 1},
                                                                       {"Mp3 Original Bit Set", 1},
                                                                       {"Mp3 Private Bit Set", 1}}};
    for (const auto& [name, expected] : numbers) {
        SCOPED_TRACE(name);
        EXPECT_EQ(key.ReadDword(name), expected);
    }
    EXPECT_EQ(key.ReadDword("Add Date"), 1u);
    EXPECT_EQ(key.ReadString("WMA Profile"), "Some profile");
    EXPECT_EQ(key.ReadString("Output directory"), "/rec/out");
    EXPECT_EQ(key.ReadString("Prefix String"), "pre");
    EXPECT_EQ(key.ReadString("Suffix String"), "_s");
}

TEST_F(StoredValues, WrongTypesReadAsDefaults) {
    registry::Key key = RawKey();
    key.WriteString("Wav Attribute", "5");
    key.WriteString("Output format", "1");
    key.WriteString("Mp3 BitRate", "320");
    key.WriteString("Add Date", "1");
    key.WriteString("WMA Version", "9");
    key.WriteDword("Prefix String", 7);
    key.WriteDword("WMA Profile", 1);
    EXPECT_EQ(LoadWavSettings().attribute, 2);
    EXPECT_EQ(LoadOutputFormat(), 0);
    EXPECT_EQ(LoadMp3Settings().bitRate, 128);
    EXPECT_FALSE(LoadNamingRule().addDate);
    EXPECT_EQ(LoadNamingRule().prefix, "");
    EXPECT_EQ(LoadStoredWmaSettings(), (WmaSettings{-1, ""}));
}

TEST_F(StoredValues, ValuesOutsideTheirTablesReadAsDefaults) {
    registry::Key key = RawKey();
    key.WriteDword("Output format", 4);
    key.WriteDword("End Option", 0xFFFFFFFF);
    key.WriteDword("Wav Quality", 4);
    key.WriteDword("Wav Attribute", 36);
    key.WriteDword("Ogg Quality", 10);
    key.WriteDword("Ogg Attribute", 0x80000000);
    key.WriteDword("WMA Version", 5);
    key.WriteString("WMA Profile", "kept");
    key.WriteDword("Mp3 SampleRate", 44000);
    key.WriteDword("Mp3 Channle", 4);
    EXPECT_EQ(LoadOutputFormat(), 0);
    EXPECT_EQ(LoadEndOption(), 0);
    EXPECT_EQ(LoadWavSettings(), (WavSettings{0, 2}));
    EXPECT_EQ(LoadOggSettings(), (OggSettings{2, 6}));
    EXPECT_EQ(LoadStoredWmaSettings(), (WmaSettings{-1, "kept"}));
    Mp3Settings mp3 = LoadMp3Settings();
    EXPECT_EQ(mp3.sampleRate, 44100);
    EXPECT_EQ(mp3.channelMode, 0);
}

TEST_F(StoredValues, Mp3ValuesTheEncoderAcceptsAreHandedOnAsStored) {
    registry::Key key = RawKey();
    key.WriteDword("Mp3 BitRate", 0);
    key.WriteDword("Mp3 Quality", 12);
    key.WriteDword("Mp3 CopyRight", 5);
    Mp3Settings mp3 = LoadMp3Settings();
    EXPECT_EQ(mp3.bitRate, 0);
    EXPECT_EQ(mp3.quality, 12);
    EXPECT_EQ(mp3.copyright, 1);
}

TEST_F(StoredValues, TextsLongerThanTheBufferReadAsDefaults) {
    registry::Key key = RawKey();
    key.WriteString("Prefix String", std::string(300, 'p'));
    key.WriteString("Suffix String", std::string(259, 's'));
    key.WriteString("Output directory", std::string(260, 'd'));
    OutputNamingRule rule = LoadNamingRule();
    EXPECT_EQ(rule.prefix, "");
    EXPECT_EQ(rule.suffix, std::string(259, 's'));
    EXPECT_EQ(rule.folder, "");

    SettingsKey settings;
    ASSERT_TRUE(settings.Open());
    std::array<char, kTextBytes> buffer;
    buffer.fill('x');
    EXPECT_EQ(settings.ReadString("Prefix String", buffer, "fallback"), 8u);
    EXPECT_STREQ(buffer.data(), "fallback");
    EXPECT_EQ(settings.ReadString("Suffix String", buffer, ""), 259u);
    EXPECT_EQ(buffer[259], '\0');
}

TEST_F(StoredValues, TextsAreCutAtTheirFirstNul) {
    RawKey().WriteString("Suffix String", std::string("ab\0cd", 5));
    EXPECT_EQ(LoadNamingRule().suffix, "ab");
}

TEST_F(StoredValues, LongTextsAreStoredCutOnACharacterBoundary) {
    std::string profile(258, 'a');
    profile += "\xC3\xA9";  // a two-byte character that would end at byte 260
    SaveWmaSettings({9, profile});
    std::string stored = *RawKey().ReadString("WMA Profile");
    EXPECT_EQ(stored, std::string(258, 'a'));
}

TEST_F(StoredValues, AClosedKeyReadsDefaultsAndIgnoresWrites) {
    SettingsKey key;
    EXPECT_FALSE(key.Open());
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.ReadNumber("Output format", 3), 3);
    EXPECT_EQ(key.ReadBool("Add Date", 1), 1);
    EXPECT_EQ(key.ReadString("Prefix String", "d"), "d");
    key.WriteNumber("Output format", 2);
    key.WriteString("Prefix String", "x");
    EXPECT_FALSE(registry::Key::Open(registry::Root::LocalMachine, kSettingsKeyPath));

    ASSERT_TRUE(key.Create());
    key.WriteNumber("Output format", 2);
    key.Close();
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.ReadNumber("Output format", 0), 0);
    EXPECT_EQ(LoadOutputFormat(), 2);
}

TEST_F(StoredValues, ADamagedStoreFileReadsDefaultsAndTakesNewValues) {
    SaveOutputFormat(1);
    {
        std::ofstream out(registry::StorePath(registry::Root::LocalMachine), std::ios::trunc);
        out << "not a settings file\n\x01\x02garbage";
    }
    EXPECT_EQ(LoadOutputFormat(), 0);
    EXPECT_EQ(LoadMp3Settings(), Mp3Settings{});
    SaveOutputFormat(3);
    EXPECT_EQ(LoadOutputFormat(), 3);
}

TEST_F(StoredValues, WmaDefaultsComeFromTheVersion7List) {
    WmaProfileCatalogue catalogue;
    catalogue.Add(7, {true, 5, "First", 1, "a"});
    catalogue.Add(7, {true, 4, "Last", 1, "b"});
    catalogue.Add(9, {true, 6, "Nine A", 1, "c"});

    EXPECT_EQ(LoadWmaSettings(catalogue), (WmaSettings{7, "Last"}));
    EXPECT_EQ(LoadWmaSettings(WmaProfileCatalogue{}), (WmaSettings{7, ""}));

    SaveWmaSettings({9, ""});
    EXPECT_EQ(LoadWmaSettings(catalogue), (WmaSettings{7, "Last"}));
    SaveWmaSettings({9, "Nine A"});
    EXPECT_EQ(LoadWmaSettings(catalogue), (WmaSettings{9, "Nine A"}));
    RawKey().DeleteValue("WMA Version");
    EXPECT_EQ(LoadWmaSettings(catalogue), (WmaSettings{7, "Last"}));
}

}  // namespace
}  // namespace quil::settings::test
