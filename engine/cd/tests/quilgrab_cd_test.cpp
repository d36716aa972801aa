// quilgrab cd on a disc image registered as a virtual drive; the program registers the plug-in
// from its own folder when it is missing.

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "cdsource/tests/cd_test_util.h"

namespace {

namespace fs = std::filesystem;
using quil::test::RunCommand;

std::string ReadText(const fs::path& path) {
    auto bytes = quil::test::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

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
    EXPECT_EQ(file.filename().string(), "Track 01.wav") << file;
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
    EXPECT_NE(out.find("drive W: cannot be opened"), std::string::npos) << out;
    EXPECT_EQ(RunCommand(Quilgrab("--track 1 --mp3-bitrate 999 2>/dev/null")), 2);
    EXPECT_EQ(RunCommand(Quilgrab("--image a.cue --device /dev/sr0 2>/dev/null")), 2);
    // The reason the drive library knows reaches the user.
    fs::remove(image_.bin);
    out.clear();
    EXPECT_EQ(RunCommand(Quilgrab("--list --drive " + letter_ + " 2>&1"), &out), 1);
    EXPECT_NE(out.find("the data file of the CUE sheet is missing: " + image_.bin.string()),
              std::string::npos)
        << out;
    EXPECT_EQ(RunCommand(Quilgrab("--track x --format wav 2>/dev/null")), 2);
    EXPECT_EQ(RunCommand(Quilgrab("--drive 12 --list 2>/dev/null")), 2);
}

// A CUE sheet with album, artist and titles; the image is named on the command line only.
TEST_F(QuilgrabCdTest, RipsAnImageGivenByPathWithTagsFromTheCueSheet) {
    auto image =
        quil::test::WriteCdImage(dir_, "named", {{true, 0, 150, 440}, {true, 0, 225, 880}});
    std::string cue = ReadText(image.cue);
    std::string tagged = "PERFORMER \"The Band\"\nTITLE \"Night Album\"\n";
    int track = 0;
    for (size_t at = 0; at < cue.size();) {
        size_t end = cue.find('\n', at);
        std::string line = cue.substr(at, end - at + 1);
        tagged += line;
        if (line.find("TRACK") != std::string::npos)
            tagged += "    TITLE \"Song " + std::to_string(++track) + "\"\n";
        at = end + 1;
    }
    std::ofstream(image.cue, std::ios::trunc) << tagged;
    fs::path out = dir_ / "named-out";
    std::string printed, errors;
    int status =
        RunCommand(Quilgrab("--image '" + image.cue.string() + "' --tracks 1-2 -f mp3 -d '" +
                            out.string() + "' 2>'" + (dir_ / "err").string() + "'"),
                   &printed);
    errors = ReadText(dir_ / "err");
    ASSERT_EQ(status, 0) << errors;
    EXPECT_EQ(printed,
              (out / "01 Song 1.mp3").string() + "\n" + (out / "02 Song 2.mp3").string() + "\n");
    EXPECT_NE(errors.find("Track 01  00:02  ripped  0 unreadable sectors"), std::string::npos)
        << errors;
    std::string tags;
    RunCommand(std::string(QUILGRAB_PATH) + " tags '" + (out / "02 Song 2.mp3").string() + "'",
               &tags);
    EXPECT_NE(tags.find("title: Song 2\n"), std::string::npos) << tags;
    EXPECT_NE(tags.find("artist: The Band\n"), std::string::npos) << tags;
    EXPECT_NE(tags.find("album: Night Album\n"), std::string::npos) << tags;
    EXPECT_NE(tags.find("track: 2\n"), std::string::npos) << tags;
    // The image was only lent a drive letter for the rip.
    std::string drives;
    RunCommand(Quilgrab("--drives"), &drives);
    EXPECT_EQ(drives.find("named.cue"), std::string::npos) << drives;
    // All tracks by default; -t limits the audio of each.
    printed.clear();
    ASSERT_EQ(RunCommand(Quilgrab("--image '" + image.cue.string() +
                                  "' -q -t 1 -f wav --name 'x{track}' -d '" + out.string() + "'"),
                         &printed),
              0);
    EXPECT_EQ(printed, (out / "x01.wav").string() + "\n" + (out / "x02.wav").string() + "\n");
    quil::test::WavData wav;
    ASSERT_TRUE(quil::test::ReadWav(out / "x02.wav", &wav));
    EXPECT_EQ(wav.data.size(), 176400u);
}

}  // namespace
