#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tools/quilgrab/tests/quilgrab_run.h"

namespace {

using quil::test::MakeTempDir;
using quil::test::Quilgrab;
using quil::test::Quote;
using quil::test::RunCommand;

// The raw track attribute as ffprobe reads it, or "" when there is none.
std::string ProbedTrack(const std::filesystem::path& file) {
    std::string out;
    RunCommand(
        "ffprobe -v error -show_entries format_tags=track,WM/TrackNumber -of "
        "default=nw=1:nk=1 " +
            Quote(file.string()),
        &out);
    return out;
}

bool MakeMp3(const std::filesystem::path& file, const std::string& metadata = "") {
    return RunCommand("ffmpeg -v error -f lavfi -i sine=duration=2 -c:a libmp3lame -b:a 128k " +
                      metadata + " " + Quote(file.string())) == 0;
}

TEST(QuilgrabTags, WritesTheGivenTagsAndKeepsTheOthers) {
    auto dir = MakeTempDir("quilgrab_tags");
    auto file = (dir / "song.mp3").string();
    ASSERT_TRUE(MakeMp3(file, "-fflags +bitexact -metadata title=Old -metadata artist=Band"));
    auto run = Quilgrab("tags " + Quote(file) + " --title 'Nëw' --track 3/12");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    run = Quilgrab("tags " + Quote(file));
    ASSERT_EQ(run.status, 0);
    // Clean "key: value" lines only: none of the tag editor's own lines.
    EXPECT_EQ(run.out,
              "title: Nëw\nartist: Band\nalbum: \nyear: \ngenre: \ncomment: \ncopyright: \n"
              "track: 3\nduration: 00:00:02.0" +
                  run.out.substr(run.out.find("duration: ") + 20));
    // The average over the file, tags included: about the 128 kbit/s encoded.
    size_t bitrate = run.out.find("bitrate: ");
    ASSERT_NE(bitrate, std::string::npos) << run.out;
    EXPECT_NEAR(std::stoi(run.out.substr(bitrate + 9)), 128, 8) << run.out;
    EXPECT_EQ(run.out.find("Value ="), std::string::npos) << run.out;
    std::string decoded;
    EXPECT_EQ(RunCommand("ffmpeg -v error -i " + Quote(file) + " -f null - 2>&1", &decoded), 0);
    EXPECT_EQ(decoded, "");
}

TEST(QuilgrabTags, ManyFilesJsonAndTrackRemoval) {
    auto dir = MakeTempDir("quilgrab_tags_many");
    auto a = dir / "a.mp3", b = dir / "b.mp3";
    ASSERT_TRUE(MakeMp3(a));
    ASSERT_TRUE(MakeMp3(b));
    auto run = Quilgrab("tags --album 'Both \"Q\"' --track 2 " + Quote(a.string()) + " " +
                        Quote(b.string()));
    ASSERT_EQ(run.status, 0) << run.err;
    run = Quilgrab("tags --json " + Quote(a.string()) + " " + Quote(b.string()));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.front(), '[');
    EXPECT_NE(run.out.find("{\"file\": " + std::string("\"") + a.string() + "\""),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\"album\": \"Both \\\"Q\\\"\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"track\": 2"), std::string::npos) << run.out;

    run = Quilgrab("tags --remove-track " + Quote(b.string()));
    ASSERT_EQ(run.status, 0) << run.err;
    run = Quilgrab("tags " + Quote(b.string()));
    EXPECT_NE(run.out.find("track:\n"), std::string::npos) << run.out;
}

// The tag editor still stores "no track" as the number 4294967295; enable this once it removes
// the attribute instead.
TEST(QuilgrabTags, WritingWithoutATrackStoresNone) {
    auto dir = MakeTempDir("quilgrab_tags_none");
    auto file = dir / "a.mp3";
    ASSERT_TRUE(MakeMp3(file));
    auto run = Quilgrab("tags --genre Jazz " + Quote(file.string()));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ProbedTrack(file), "");
    run = Quilgrab("tags --track 4 " + Quote(file.string()));
    run = Quilgrab("tags --remove-track " + Quote(file.string()));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ProbedTrack(file), "");
}

TEST(QuilgrabTags, BadFilesAndBadUsageFail) {
    auto dir = MakeTempDir("quilgrab_tags_bad");
    auto text = dir / "notes.mp3";
    std::ofstream(text) << "not audio at all\n";
    auto run = Quilgrab("tags --title X " + Quote(text.string()));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(text.string() + ": not a media file"), std::string::npos) << run.err;
    auto bytes = quil::test::ReadFile(text);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "not audio at all\n");
    run = Quilgrab("tags " + Quote((dir / "missing.mp3").string()));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("missing.mp3: No such file or directory"), std::string::npos) << run.err;
    EXPECT_EQ(Quilgrab("tags").status, 2);
    run = Quilgrab("tags x.mp3 --track seven");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("--track"), std::string::npos) << run.err;
    EXPECT_EQ(Quilgrab("tags x.mp3 --track 5/3").status, 2);
    EXPECT_EQ(Quilgrab("tags x.mp3 --track 2 --remove-track").status, 2);
    EXPECT_EQ(Quilgrab("tags x.mp3 --title").status, 2);
    EXPECT_EQ(Quilgrab("tags x.mp3 --bogus").status, 2);
}

}  // namespace
