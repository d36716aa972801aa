#include <gtest/gtest.h>

#include <string>

#include "testsupport/test_support.h"

namespace {

using quil::test::RunCommand;

std::string Quilgrab(const std::string& arguments) {
    return std::string(QUILGRAB_PATH) + " " + arguments;
}

TEST(QuilgrabTags, WritesTheGivenTagsAndKeepsTheOthers) {
    auto dir = quil::test::MakeTempDir("quilgrab_tags");
    auto file = (dir / "song.mp3").string();
    ASSERT_EQ(RunCommand("ffmpeg -v error -f lavfi -i sine=duration=1 -c:a libmp3lame "
                         "-fflags +bitexact -metadata title=Old -metadata artist=Band '" +
                         file + "'"),
              0);
    std::string out;
    ASSERT_EQ(RunCommand(Quilgrab("tags '" + file + "' --title 'Nëw' --track 3"), &out), 0) << out;
    out.clear();
    ASSERT_EQ(RunCommand(Quilgrab("tags '" + file + "'"), &out), 0);
    EXPECT_NE(out.find("\nTitle:     Nëw\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\nArtist:    Band\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\nTrack:     3\n"), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(RunCommand("ffmpeg -v error -i '" + file + "' -f null - 2>&1", &out), 0);
    EXPECT_EQ(out, "");
}

TEST(QuilgrabTags, BadFilesAndBadUsageFail) {
    auto dir = quil::test::MakeTempDir("quilgrab_tags_bad");
    std::string out;
    EXPECT_EQ(RunCommand(Quilgrab("tags " + (dir / "missing.mp3").string() + " 2>&1"), &out), 1);
    EXPECT_NE(out.find("quilgrab tags: cannot read"), std::string::npos) << out;
    EXPECT_EQ(RunCommand(Quilgrab("tags 2>/dev/null")), 2);
    EXPECT_EQ(RunCommand(Quilgrab("tags x.mp3 --track seven 2>/dev/null")), 2);
    EXPECT_EQ(RunCommand(Quilgrab("tags x.mp3 --title 2>/dev/null")), 2);
    EXPECT_EQ(RunCommand(Quilgrab("tags x.mp3 --bogus 2>/dev/null")), 2);
}

}  // namespace
