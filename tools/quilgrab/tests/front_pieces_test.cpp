// The pieces of the front end whose results a process test cannot see well: the progress line
// at a terminal's width, output names from templates, playlists, track lists and WAV cutting.

#include <gtest/gtest.h>

#include <fstream>

#include "testsupport/test_support.h"
#include "tools/quilgrab/cd_disc.h"
#include "tools/quilgrab/media_grab.h"
#include "tools/quilgrab/output_names.h"
#include "tools/quilgrab/progress.h"
#include "tools/quilgrab/stream_source.h"

namespace {

using namespace quil::grab;

TEST(ProgressText, FitsTheWidthAndShowsPercentPositionSpeedAndEta) {
    ProgressFigures figures{"a very long input name that goes on and on/and on.mp3", 90, 180, 9};
    std::string line = ProgressText(figures, 60);
    EXPECT_LT(line.size(), 60u);
    EXPECT_NE(line.find(" 50%  01:30 / 03:00   10.0x  ETA 00:09"), std::string::npos) << line;
    EXPECT_EQ(line.rfind("...", 0), 0u) << line;
    EXPECT_NE(line.find("and on.mp3  "), std::string::npos) << line;
    // Narrow terminals cut the line rather than wrapping it onto a second one.
    for (int width : {10, 20, 40}) EXPECT_LT(ProgressText(figures, width).size(), size_t(width));
    // A multi-byte name is never cut inside a character.
    figures.label = std::string(60, 'x') + "é";
    figures.label = std::string("x") + "éééééééééééééééééééééééééééééé";
    std::string cut = ProgressText(figures, 60);
    ASSERT_EQ(cut.rfind("...", 0), 0u) << cut;
    EXPECT_NE(static_cast<unsigned char>(cut[3]) & 0xC0, 0x80u) << cut;
    // Without a duration (a stream): position and speed only.
    EXPECT_EQ(ProgressText({"s", 65, 0, 65}, 80), "s  01:05    1.0x");
}

TEST(OutputNames, TemplatesFillFieldsAndKeepPathsInTheirFolder) {
    NameFields fields;
    fields.stem = "in";
    fields.track = 3;
    fields.title = "AC/DC";
    fields.extension = "mp3";
    fields.when.tm_year = 126;
    fields.when.tm_mon = 11;
    fields.when.tm_mday = 7;
    fields.when.tm_hour = 9;
    EXPECT_EQ(ExpandNameTemplate("{track} {title}", fields), "03 AC_DC.mp3");
    EXPECT_EQ(ExpandNameTemplate("{stem}-{date}-{time}", fields), "in-2026-12-07-09-00-00.mp3");
    EXPECT_EQ(ExpandNameTemplate("{stem}.{ext}.bak", fields), "in.mp3.bak");
    EXPECT_EQ(ExpandNameTemplate("{nope} {", fields), "{nope} {.mp3");
    OutputOptions options;
    options.storedPrefix = "Q-";
    options.storedAddDate = true;
    EXPECT_EQ(DefaultTemplate(options, "{stem}"), "Q-{stem} {date}");
}

TEST(OutputNames, ClaimTakesTheNextFreeNameAndNeverTwice) {
    auto dir = quil::test::MakeTempDir("claims");
    std::string wanted = (dir / "a.wav").string();
    std::vector<std::string> taken;
    for (int i = 0; i < 3; ++i) taken.push_back(ClaimOutput(wanted, Clobber::kNextFreeName).path);
    EXPECT_EQ(taken, (std::vector<std::string>{wanted, (dir / "a (2).wav").string(),
                                               (dir / "a (3).wav").string()}));
    auto skipped = ClaimOutput(wanted, Clobber::kSkip);
    EXPECT_TRUE(skipped.skipped);
    auto replaced = ClaimOutput(wanted, Clobber::kOverwrite);
    EXPECT_EQ(replaced.path, wanted);
    std::ofstream(dir / "plain") << "a file, not a folder";
    auto missing = ClaimOutput((dir / "plain/x.wav").string(), Clobber::kNextFreeName);
    EXPECT_NE(missing.error.find("plain/x.wav"), std::string::npos) << missing.error;
}

TEST(Playlists, PlsAndM3uEntriesInOrderResolvedAgainstTheirAddress) {
    EXPECT_EQ(ParsePlaylist("[playlist]\nNumberOfEntries=2\nFile1=http://a/1\nTitle1=x\n"
                            "File2=two.mp3\r\nVersion=2\n",
                            "http://host/lists/r.pls"),
              (std::vector<std::string>{"http://a/1", "http://host/lists/two.mp3"}));
    EXPECT_EQ(ParsePlaylist("#EXTM3U\n#EXTINF:-1,Radio\nhttp://b/2\n\n/abs/file.mp3\n", "x.m3u"),
              (std::vector<std::string>{"http://b/2", "/abs/file.mp3"}));
    EXPECT_TRUE(LooksLikePlaylist("http://h/list.M3U?x=1"));
    EXPECT_FALSE(LooksLikePlaylist("http://h/stream.mp3"));
}

TEST(TrackLists, RangesAndBadLists) {
    EXPECT_EQ(ParseTrackList("1-3,5"), (std::vector<int>{1, 2, 3, 5}));
    for (const char* bad : {"", "0", "3-1", "1,", "x", "1-100", "2-"})
        EXPECT_FALSE(ParseTrackList(bad)) << bad;
}

TEST(WavCut, CutsTheDataChunkOnAFrameBoundary) {
    auto dir = quil::test::MakeTempDir("wavcut");
    auto file = dir / "tone.wav";
    ASSERT_TRUE(quil::test::WriteSineWav(file, 8000, 2, 3.0));
    EXPECT_TRUE(TrimWav(file.string(), 1.00003));
    quil::test::WavData wav;
    ASSERT_TRUE(quil::test::ReadWav(file, &wav));
    EXPECT_EQ(wav.dataSize, 32000u);
    EXPECT_EQ(wav.data.size(), 32000u);
    EXPECT_EQ(wav.riffSize, 32036u);
    EXPECT_FALSE(TrimWav(file.string(), 5));  // already shorter
    std::ofstream(dir / "text.wav") << "not a wav";
    EXPECT_FALSE(TrimWav((dir / "text.wav").string(), 1));
}

}  // namespace
