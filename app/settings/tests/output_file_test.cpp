// Taking output names atomically and judging finished output files.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "app/settings/output_file.h"
#include "testsupport/test_support.h"

namespace quil::settings::test {
namespace {

namespace fs = std::filesystem;
using quil::test::MakeTempDir;
using quil::test::RunCommand;

TEST(OutputNameClaim, ThreadsClaimingOneNameAtOnceGetDistinctFiles) {
    auto folder = MakeTempDir("claim_threads");
    constexpr int kThreads = 8;
    std::vector<std::string> paths(kThreads);
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < kThreads; ++i)
            threads.emplace_back(
                [&, i] { paths[i] = ClaimOutputName((folder / "grab").string(), ".mp3").path; });
    }
    std::set<std::string> distinct(paths.begin(), paths.end());
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads));
    for (const auto& path : paths) {
        EXPECT_TRUE(fs::is_regular_file(path)) << path;
        EXPECT_EQ(fs::file_size(path), 0u) << path;
    }
    EXPECT_TRUE(distinct.count((folder / "grab.mp3").string()));
    EXPECT_TRUE(distinct.count((folder / "grab (8).mp3").string()));
}

TEST(OutputNameClaim, TakenNamesDanglingLinksAndMissingFolders) {
    auto folder = MakeTempDir("claim_taken");
    std::ofstream(folder / "a.wav") << "earlier grab";
    fs::create_symlink(folder / "nowhere", folder / "a (2).wav");
    ClaimedName claimed = ClaimOutputName((folder / "a").string(), ".wav");
    EXPECT_TRUE(claimed.created);
    EXPECT_EQ(claimed.path, (folder / "a (3).wav").string());
    EXPECT_EQ(quil::test::ReadFile(folder / "a.wav").size(), 12u);  // untouched
    EXPECT_FALSE(fs::exists(folder / "nowhere"));

    ClaimedName missing = ClaimOutputName((folder / "no" / "b").string(), ".ogg");
    EXPECT_FALSE(missing.created);
    EXPECT_EQ(missing.path, (folder / "no" / "b.ogg").string());
}

// Output files without a sample, and with one second of tone. (What the grabbers themselves
// leave is checked through quilgrab.)
TEST(FinishedOutputCheck, EmptyOutputsAreRemovedAndAudioIsKept) {
    auto folder = MakeTempDir("finished");
    ASSERT_TRUE(quil::test::WriteWav(folder / "silent.wav", 44100, 2, 16, {}));
    ASSERT_TRUE(quil::test::WriteSineWav(folder / "tone.wav", 44100, 2, 1.0));
    const char* formats[][2] = {{"mp3", "-c:a libmp3lame"},
                                {"ogg", "-c:a libvorbis"},
                                {"wma", "-c:a wmav2"},
                                {"wav", "-c:a pcm_s16le"}};
    for (auto [extension, codec] : formats) {
        for (const char* input : {"silent", "tone"}) {
            std::string output = (folder / (std::string(input) + "." + extension)).string();
            if (std::string(extension) == "wav") continue;
            ASSERT_EQ(RunCommand("ffmpeg -v quiet -y -f wav -i '" + (folder / input).string() +
                                 ".wav' " + codec + " '" + output + "'"),
                      0)
                << output;
        }
    }
    std::ofstream(folder / "zero.mp3");
    std::ofstream(folder / "unknown.bin") << std::string(4096, 'd');  // maybe someone's data
    // What a grabber leaves when no sample came: a lone MP3 Info frame, 417 bytes.
    std::ofstream(folder / "info.mp3") << std::string(417, '\xff');
    for (const char* name : {"silent.wav", "silent.mp3", "silent.wma", "zero.mp3", "info.mp3"}) {
        EXPECT_EQ(CheckFinishedOutput((folder / name).string()), FinishedOutput::kNoAudio) << name;
        EXPECT_FALSE(fs::exists(folder / name)) << name;
    }
    for (const char* name : {"tone.wav", "tone.mp3", "tone.ogg", "tone.wma", "unknown.bin"}) {
        EXPECT_EQ(CheckFinishedOutput((folder / name).string()), FinishedOutput::kKept) << name;
        EXPECT_TRUE(fs::exists(folder / name)) << name;
    }
    EXPECT_EQ(CheckFinishedOutput((folder / "gone" / "x.wav").string()), FinishedOutput::kMissing);
}

}  // namespace
}  // namespace quil::settings::test
