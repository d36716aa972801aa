// What quilgrab leaves behind: one file per grab even when grabs start together, no file for a
// grab without audio, and a reported loss when the output folder vanishes mid-grab.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "testsupport/test_support.h"

namespace quil::test {
namespace {

namespace fs = std::filesystem;

std::string Quilgrab(const std::string& arguments) {
    return std::string(QUILGRAB_PATH) + " " + arguments;
}

std::vector<fs::path> FilesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path());
    return files;
}

TEST(QuilgrabOutput, GrabsStartedTogetherOnInputsOfOneNameEachKeepTheirFile) {
    auto dir = MakeTempDir("parallel_grabs");
    auto out = dir / "out";
    constexpr int kGrabs = 8;
    std::string script;
    for (int i = 0; i < kGrabs; ++i) {
        auto input = dir / ("in" + std::to_string(i)) / "song.wav";
        fs::create_directories(input.parent_path());
        ASSERT_TRUE(WriteSineWav(input, 44100, 2, 0.5));
        script += Quilgrab("file --format wav --out '" + out.string() + "' '" + input.string() +
                           "' 2>/dev/null & ");
    }
    std::string printed;
    ASSERT_EQ(RunCommand("sh -c \"" + script + "wait\"", &printed), 0);
    std::set<std::string> paths;
    std::istringstream lines(printed);
    for (std::string line; std::getline(lines, line);) paths.insert(line);
    EXPECT_EQ(paths.size(), static_cast<size_t>(kGrabs)) << printed;
    auto files = FilesIn(out);
    ASSERT_EQ(files.size(), static_cast<size_t>(kGrabs)) << printed;
    for (const auto& file : files) {
        EXPECT_TRUE(paths.count(file.string())) << file;
        WavData wav;
        ASSERT_TRUE(ReadWav(file, &wav)) << file;
        EXPECT_EQ(wav.data.size(), 44100u * 4 / 2) << file;
    }
}

TEST(QuilgrabOutput, AnInputWithoutSamplesLeavesNoFileAndFails) {
    auto dir = MakeTempDir("no_samples");
    auto input = dir / "empty.wav";
    ASSERT_TRUE(WriteWav(input, 44100, 2, 16, {}));
    for (const char* format : {"wav", "mp3", "wma", "ogg"}) {
        auto out = dir / format;
        std::string said;
        int status = RunCommand(Quilgrab(std::string("file --format ") + format + " --out '" +
                                         out.string() + "' '" + input.string() + "' 2>&1"),
                                &said);
        EXPECT_EQ(status, 1) << format << ": " << said;
        EXPECT_NE(said.find("no audio"), std::string::npos) << format << ": " << said;
        EXPECT_TRUE(FilesIn(out).empty()) << format;
    }
    // An input that is no media file at all leaves nothing behind either.
    auto junk = dir / "junk.mp3";
    std::ofstream(junk) << "nothing to hear";
    auto out = dir / "junk";
    EXPECT_EQ(RunCommand(Quilgrab("file --format mp3 --out '" + out.string() + "' '" +
                                  junk.string() + "' 2>/dev/null")),
              1);
    EXPECT_TRUE(FilesIn(out).empty());
}

TEST(QuilgrabOutput, AnOutputFolderRemovedDuringARecordingIsReportedAsLost) {
    if (!HavePulse()) GTEST_SKIP() << "needs the private sound server (scripts/with-pulse)";
    auto dir = MakeTempDir("folder_removed");
    auto out = dir / "out";
    auto log = dir / "log";
    pid_t child = fork();
    if (child == 0) {
        if (!freopen(log.c_str(), "w", stderr) || !freopen("/dev/null", "w", stdout)) _exit(126);
        execl(QUILGRAB_PATH, QUILGRAB_PATH, "live", "--device", "qtest.monitor", "--format", "wav",
              "--seconds", "30", "--out", out.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    // Wait for the recording to write, then take its folder away.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool writing = false;
    while (!writing && std::chrono::steady_clock::now() < deadline) {
        std::error_code error;
        if (fs::is_directory(out, error))
            for (const auto& file : fs::directory_iterator(out, error))
                if (fs::file_size(file.path(), error) > 44) writing = true;
        if (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(writing);
    fs::remove_all(out);
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    auto said = ReadFile(log);
    std::string text(said.begin(), said.end());
    EXPECT_EQ(WEXITSTATUS(status), 1) << text;
    EXPECT_NE(text.find("is no longer there"), std::string::npos) << text;
}

}  // namespace
}  // namespace quil::test
