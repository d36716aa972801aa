// Output file names with a fixed clock, the start-up defaults and the display texts.

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>

#include "app/settings/format_settings.h"
#include "app/settings/option_tables.h"
#include "app/settings/output_naming.h"
#include "app/settings/tests/settings_test_util.h"
#include "platform/registry/user_folders.h"
#include "testsupport/test_support.h"

namespace quil::settings::test {
namespace {

namespace fs = std::filesystem;

class FixedClock : public Clock {
public:
    FixedClock(int year, int month, int day, int hour, int minute, int second) {
        time_.tm_year = year - 1900;
        time_.tm_mon = month - 1;
        time_.tm_mday = day;
        time_.tm_hour = hour;
        time_.tm_min = minute;
        time_.tm_sec = second;
    }
    std::tm LocalNow() const override { return time_; }

private:
    std::tm time_{};
};

const FixedClock kMarch15(2009, 3, 15, 14, 5, 9);

void Touch(const std::string& path) {
    std::ofstream(path) << "x";
}

using OutputPaths = FreshSettings;

TEST_F(OutputPaths, FolderPrefixDateTimeSuffixAndExtension) {
    std::string folder = (quil::test::MakeTempDir("naming") / "Rec").string();
    SaveNamingRule({folder, "Quilmain", "_a", true});
    OutputPath out = BuildOutputPath(kMp3, kMarch15);
    EXPECT_EQ(out.path, folder + "/Quilmain09-03-1514-05-09_a.mp3");
    EXPECT_EQ(out.fileName, "Quilmain09-03-1514-05-09_a.mp3");
    EXPECT_EQ(out.extension, "mp3");
    EXPECT_TRUE(fs::is_directory(folder));  // created for the grab

    const char* extensions[] = {"wav", "mp3", "wma", "ogg"};
    for (int format = 0; format < 4; ++format)
        EXPECT_EQ(BuildOutputPath(format, kMarch15).extension, extensions[format]);
}

TEST_F(OutputPaths, WithoutDatePrefixOrSuffixOnlyTheTime) {
    std::string folder = quil::test::MakeTempDir("plain").string();
    SaveNamingRule({folder, "", "", false});
    OutputPath out = BuildOutputPath(kWav, FixedClock(2024, 1, 2, 8, 0, 0));
    EXPECT_EQ(out.fileName, "08-00-00.wav");
    EXPECT_EQ(out.path, folder + "/08-00-00.wav");
}

TEST_F(OutputPaths, AFolderEndingInASlashIsDoubled) {
    std::string folder = quil::test::MakeTempDir("slash").string() + "/";
    SaveNamingRule({folder, "p", "", false});
    EXPECT_EQ(BuildOutputPath(kOgg, kMarch15).path, folder + "/p14-05-09.ogg");
}

TEST_F(OutputPaths, AnUnknownFormatHasNoExtension) {
    std::string folder = quil::test::MakeTempDir("unknown").string();
    SaveNamingRule({folder, "p", "s", false});
    OutputPath out = BuildOutputPath(7, kMarch15);
    EXPECT_EQ(out.fileName, "p14-05-09s");
    EXPECT_EQ(out.extension, "");
}

TEST_F(OutputPaths, NoKeyGivesEmptyTextsAndCreatesNothing) {
    OutputPath out = BuildOutputPath(kMp3, kMarch15);
    EXPECT_EQ(out.path, "");
    EXPECT_EQ(out.fileName, "");
    EXPECT_EQ(out.extension, "");
    EXPECT_FALSE(registry::Key::Open(registry::Root::LocalMachine, kSettingsKeyPath));
}

TEST_F(OutputPaths, AnEmptyFolderNamesTheRoot) {
    SaveNamingRule({"", "x", "", false});
    OutputPath out = BuildOutputPath(kWav, kMarch15);
    EXPECT_EQ(out.path, "/x14-05-09.wav");
    // Run as root, the name was taken in the root folder itself.
    std::error_code ignored;
    if (fs::is_regular_file(out.path, ignored) && fs::file_size(out.path, ignored) == 0)
        fs::remove(out.path, ignored);
}

TEST_F(OutputPaths, AMissingParentIsNotCreated) {
    std::string folder = (quil::test::MakeTempDir("deep") / "a" / "b").string();
    SaveNamingRule({folder, "", "", false});
    EXPECT_EQ(BuildOutputPath(kWav, kMarch15).path, folder + "/14-05-09.wav");
    EXPECT_FALSE(fs::exists(folder));
}

TEST_F(OutputPaths, ANameAlreadyTakenGetsANumberBeforeTheExtension) {
    std::string folder = quil::test::MakeTempDir("taken").string();
    SaveNamingRule({folder, "Quilmain", "", true});
    OutputPath first = BuildOutputPath(kMp3, kMarch15);
    Touch(first.path);
    OutputPath second = BuildOutputPath(kMp3, kMarch15);
    EXPECT_EQ(second.fileName, "Quilmain09-03-1514-05-09 (2).mp3");
    EXPECT_EQ(second.path, folder + "/Quilmain09-03-1514-05-09 (2).mp3");
    EXPECT_EQ(second.extension, "mp3");
    Touch(second.path);
    EXPECT_EQ(BuildOutputPath(kMp3, kMarch15).fileName, "Quilmain09-03-1514-05-09 (3).mp3");
    // Another format of the same second is a different name.
    EXPECT_EQ(BuildOutputPath(kWav, kMarch15).fileName, "Quilmain09-03-1514-05-09.wav");
    // A dangling link holds the name as well.
    fs::create_symlink(folder + "/nowhere", folder + "/Quilmain09-03-1514-05-09.ogg");
    EXPECT_EQ(BuildOutputPath(kOgg, kMarch15).fileName, "Quilmain09-03-1514-05-09 (2).ogg");
}

TEST_F(OutputPaths, TheSystemClockGivesTodaysName) {
    std::string folder = quil::test::MakeTempDir("now").string();
    SaveNamingRule({folder, "", "", false});
    OutputPath out = BuildOutputPath(kWav);
    ASSERT_EQ(out.fileName.size(), 12u);  // HH-MM-SS.wav
    EXPECT_EQ(out.fileName[2], '-');
    EXPECT_EQ(out.fileName[5], '-');
}

using StartupDefaults = FreshSettings;

TEST_F(StartupDefaults, FirstStartCreatesKeyFolderAndPrefix) {
    std::string folder = ApplyStartupDefaults();
    std::string expected = (DataFolder() / "Quilfetch/").string();
    EXPECT_EQ(folder, expected);
    EXPECT_TRUE(folder.ends_with("/Quilfetch/"));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(LoadNamingRule(), (OutputNamingRule{expected, "Quilmain", "", false}));
}

TEST_F(StartupDefaults, AnExistingKeyKeepsItsValues) {
    SaveNamingRule({"/somewhere/else", "", "_x", true});
    EXPECT_EQ(ApplyStartupDefaults(), "/somewhere/else");
    EXPECT_EQ(LoadNamingRule(), (OutputNamingRule{"/somewhere/else", "", "_x", true}));
}

TEST_F(StartupDefaults, AnEmptyFolderIsFilledWithoutTouchingThePrefix) {
    SaveNamingRule({"", "mine", "", false});
    std::string folder = ApplyStartupDefaults();
    EXPECT_EQ(folder, (DataFolder() / "Quilfetch/").string());
    EXPECT_EQ(LoadNamingRule().prefix, "mine");
    // A folder stored with its trailing slash names files with a doubled one, which works.
    OutputPath out = BuildOutputPath(kWav, kMarch15);
    EXPECT_EQ(out.path, folder + "/mine14-05-09.wav");
    Touch(out.path);
    EXPECT_TRUE(fs::exists(folder + "mine14-05-09.wav"));
}

TEST(DisplayTexts, ByteSizes) {
    EXPECT_EQ(FormatByteSize(0), "0 bs");
    EXPECT_EQ(FormatByteSize(1023), "1023 bs");
    EXPECT_EQ(FormatByteSize(1024), "1 kbs");
    EXPECT_EQ(FormatByteSize(2047), "1 kbs");
    EXPECT_EQ(FormatByteSize(1048575), "1023 kbs");
    EXPECT_EQ(FormatByteSize(1048576), "1024 kbs");
    EXPECT_EQ(FormatByteSize(UINT32_MAX), "4194303 kbs");
}

TEST(DisplayTexts, Durations) {
    EXPECT_EQ(FormatDuration(0), "00:00:00");
    EXPECT_EQ(FormatDuration(59), "00:00:59");
    EXPECT_EQ(FormatDuration(60), "00:01:00");
    EXPECT_EQ(FormatDuration(3599), "00:59:59");
    EXPECT_EQ(FormatDuration(3725), "01:02:05");
    EXPECT_EQ(FormatDuration(360000), "100:00:00");
    EXPECT_EQ(FormatDuration(INT_MAX), "596523:14:07");
    EXPECT_EQ(FormatDuration(-5), "00:00:00");
}

TEST(DisplayTexts, FileNameParts) {
    std::string title = "t", name = "n", extension = "e";
    EXPECT_FALSE(SplitFileName("", &title, &name, &extension));
    EXPECT_EQ(title, "t");
    EXPECT_EQ(name, "n");
    EXPECT_EQ(extension, "e");

    ASSERT_TRUE(SplitFileName("/music/a.b/Song One.mp3", &title, &name, &extension));
    EXPECT_EQ(title, "Song One");
    EXPECT_EQ(name, "Song One.mp3");
    EXPECT_EQ(extension, ".mp3");

    ASSERT_TRUE(SplitFileName("/music/a.b/noext", &title, &name, &extension));
    EXPECT_EQ(title, "noext");
    EXPECT_EQ(name, "noext");
    EXPECT_EQ(extension, "");

    ASSERT_TRUE(SplitFileName("take.tar.gz", &title, &name, &extension));
    EXPECT_EQ(title, "take.tar");
    EXPECT_EQ(extension, ".gz");

    ASSERT_TRUE(SplitFileName("/home/u/.hidden", &title, &name, &extension));
    EXPECT_EQ(title, ".hidden");
    EXPECT_EQ(extension, "");

    ASSERT_TRUE(SplitFileName("/music/", &title, &name, &extension));
    EXPECT_EQ(title, "");
    EXPECT_EQ(name, "");
    EXPECT_EQ(extension, "");

    EXPECT_TRUE(SplitFileName("x.wav", nullptr, &name, nullptr));
    EXPECT_EQ(name, "x.wav");
}

}  // namespace
}  // namespace quil::settings::test
