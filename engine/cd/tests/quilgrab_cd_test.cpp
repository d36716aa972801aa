// quilgrab cd on a disc image registered as a virtual drive; the program registers the plug-in
// from its own folder when it is missing.

#include <gtest/gtest.h>

#include <string>

#include "cdsource/tests/cd_test_util.h"

namespace {

namespace fs = std::filesystem;
using quil::test::RunCommand;

std::string Quilgrab(const std::string& arguments) {
    return std::string(QUILGRAB_PATH) + " cd " + arguments;
}

class QuilgrabCdTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(quil::test::CallTrackpump("DllUnregisterServer"), S_OK);
        dir_ = quil::test::MakeTempDir("quilgrab_cd");
        image_ = quil::test::WriteCdImage(
            dir_, "disc",
            {{true, 0, 300, 0}, {true, 0, 4 * 4500 + 33 * 75 + 12, 0}, {false, 0, 100, 0}});
        letter_ = std::string(1, static_cast<char>(quil::test::MountImages({image_.cue})[0]));
    }

    fs::path dir_;
    quil::test::CdImage image_;
    std::string letter_;
};

TEST_F(QuilgrabCdTest, ListsDrivesAndTracks) {
    std::string out;
    EXPECT_EQ(RunCommand(Quilgrab("--drives"), &out), 0);
    EXPECT_NE(out.find(letter_ + ":  image " + image_.cue.string()), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(RunCommand(Quilgrab("--list --drive " + letter_), &out), 0);
    EXPECT_NE(out.find("Drive " + letter_ + ": Audio CD, 3 tracks\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  1  00:00:04  sectors 0-299\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  2  00:04:33  sectors 300-20786\n"), std::string::npos) << out;
}

TEST_F(QuilgrabCdTest, RipsTracksToWavExactly) {
    fs::path out = dir_ / "out";
    std::string printed;
    ASSERT_EQ(RunCommand(Quilgrab("--drive " + letter_ + " --track 1 --format wav --out '" +
                                  out.string() + "'"),
                         &printed),
              0);
    ASSERT_FALSE(printed.empty());
    fs::path file = printed.substr(0, printed.find('\n'));
    EXPECT_EQ(file.parent_path(), out);
    EXPECT_EQ(file.filename().string().rfind("Track 01 ", 0), 0u) << file;
    quil::test::WavData wav;
    ASSERT_TRUE(quil::test::ReadWav(file, &wav));
    EXPECT_TRUE(wav.data == quil::test::BinSectors(image_, 0, 300));
}

TEST_F(QuilgrabCdTest, ReportsBadDrivesTracksAndUsage) {
    std::string out;
    EXPECT_EQ(RunCommand(Quilgrab("--drive " + letter_ + " --track 9 --format ogg --out '" +
                                  dir_.string() + "' 2>&1"),
                         &out),
              1);
    EXPECT_NE(out.find("the disc has no track 9"), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(RunCommand(Quilgrab("--list --drive W 2>&1"), &out), 1);
    EXPECT_NE(out.find("drive W: cannot be opened (no CD drive has the letter W)"),
              std::string::npos)
        << out;
    // The reason the drive library knows reaches the user.
    fs::remove(image_.bin);
    out.clear();
    EXPECT_EQ(RunCommand(Quilgrab("--list --drive " + letter_ + " 2>&1"), &out), 1);
    EXPECT_NE(out.find("the data file of the CUE sheet is missing: " + image_.bin.string()),
              std::string::npos)
        << out;
    EXPECT_EQ(RunCommand(Quilgrab("--track 1 2>/dev/null")), 2);
    EXPECT_EQ(RunCommand(Quilgrab("--track x --format wav 2>/dev/null")), 2);
    EXPECT_EQ(RunCommand(Quilgrab("--drive 12 --list 2>/dev/null")), 2);
}

}  // namespace
