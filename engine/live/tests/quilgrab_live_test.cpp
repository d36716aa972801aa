// quilgrab live: the device list, a timed recording, and recordings that end by Ctrl-C or by
// being killed outright still leave playable files.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "testsupport/pulse_server.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

#define NEED_PULSE() \
    if (!HavePulse()) GTEST_SKIP() << "needs the private sound server (scripts/with-pulse)"

std::string Quilgrab(const std::string& arguments, int* status = nullptr) {
    std::string out;
    int result = RunCommand(std::string(QUILGRAB_PATH) + " " + arguments + " 2>/dev/null", &out);
    if (status) *status = result;
    return out;
}

pid_t StartRecording(const std::string& device, const std::string& format,
                     const std::filesystem::path& out) {
    pid_t child = fork();
    if (child == 0) {
        if (!freopen("/dev/null", "w", stderr) || !freopen("/dev/null", "w", stdout)) _exit(126);
        execl(QUILGRAB_PATH, QUILGRAB_PATH, "live", "--device", device.c_str(), "--format",
              format.c_str(), "--out", out.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return child;
}

std::filesystem::path OnlyFile(const std::filesystem::path& dir) {
    std::filesystem::path found;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) found = entry.path();
    return found;
}

// Waits until the recording in `dir` has written more than its headers (12 KB: audio flows),
// so a test's own timing starts after the program's start-up and the sound server's first
// delivery, however long those took on a busy machine.
bool WaitUntilWriting(const std::filesystem::path& dir) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code error;
        auto file = OnlyFile(dir);
        if (!file.empty() && std::filesystem::file_size(file, error) > 12 * 1024 && !error)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

double DecodedSeconds(const std::filesystem::path& file) {
    auto decoded = DecodeAudio(file);
    return decoded && decoded->rate ? static_cast<double>(decoded->samples.size()) / decoded->rate
                                    : 0.0;
}

TEST(QuilgrabLive, ListShowsTheMonitorWithItsSourceAndLine) {
    NEED_PULSE();
    int status = -1;
    std::string out = Quilgrab("live --list", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("Monitor of Null Output\n"), std::string::npos);
    EXPECT_NE(out.find("source: qtest.monitor (records what is played)"), std::string::npos);
    EXPECT_NE(out.find("line 0: Monitor of Null Output"), std::string::npos);
}

TEST(QuilgrabLive, BadUsageAndUnknownDevices) {
    int status = -1;
    Quilgrab("live --format flac --device x", &status);
    EXPECT_EQ(status, 2);
    Quilgrab("live --format wav", &status);
    EXPECT_EQ(status, 2);
    Quilgrab("live --device x --format wav --level 2", &status);
    EXPECT_EQ(status, 2);
    if (!HavePulse()) return;
    auto dir = MakeTempDir("cli-unknown");
    Quilgrab("live --device 'No such device' --format wav --seconds 1 --out " + dir.string(),
             &status);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST(QuilgrabLive, TimedRecordingBySourceName) {
    NEED_PULSE();
    NullSink sink("cli");
    TonePlayer tone(sink.name(), 1000.0);
    ASSERT_TRUE(tone.WaitAudible());
    auto dir = MakeTempDir("cli-timed");
    int status = -1;
    std::string out = Quilgrab("live --device " + sink.monitor() +
                                   " --format wav --seconds 2 --level 0.5 --out " + dir.string(),
                               &status);
    ASSERT_EQ(status, 0);
    auto file = OnlyFile(dir);
    EXPECT_EQ(out, file.string() + "\n");
    EXPECT_EQ(SourceVolume(sink.monitor()), 32768u);
    WavData wav;
    ASSERT_TRUE(ReadWav(file, &wav));
    // --seconds counts the audio written, not the time since the start.
    EXPECT_GE(wav.dataSize / 176400.0, 2.0);
    EXPECT_LT(wav.dataSize / 176400.0, 2.3);
    // The header, brought up to date once a second while recording, states every byte at the end.
    EXPECT_EQ(wav.dataSize + 44, std::filesystem::file_size(file));
    // Half the volume is a cubic factor of the amplitude (0.125).
    EXPECT_GT(Rms16(wav.data.data(), wav.data.size()), 0.02);
}

TEST(QuilgrabLive, CtrlCEndsWithACompleteFile) {
    NEED_PULSE();
    NullSink sink("cli-int");
    TonePlayer tone(sink.name(), 1000.0);
    ASSERT_TRUE(tone.WaitAudible());
    auto dir = MakeTempDir("cli-int");
    auto launched = std::chrono::steady_clock::now();
    pid_t child = StartRecording(sink.monitor(), "ogg", dir);
    EXPECT_TRUE(WaitUntilWriting(dir));
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    kill(child, SIGINT);
    std::chrono::duration<double> ran = std::chrono::steady_clock::now() - launched;
    int status = -1;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    auto decoded = DecodeAudio(OnlyFile(dir));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->codec, "vorbis");
    // Everything heard until the interrupt is in the file, and nothing from before the start.
    double seconds = static_cast<double>(decoded->samples.size()) / decoded->rate;
    EXPECT_GT(seconds, 1.5);
    EXPECT_LT(seconds, ran.count() + 0.3);
}

TEST(QuilgrabLive, KilledRecordingsLoseAtMostAboutASecond) {
    NEED_PULSE();
    NullSink sink("cli-kill");
    TonePlayer tone(sink.name(), 1000.0);
    ASSERT_TRUE(tone.WaitAudible());
    for (const char* format : {"wav", "mp3", "wma", "ogg"}) {
        SCOPED_TRACE(format);
        auto dir = MakeTempDir(std::string("cli-kill-") + format);
        pid_t child = StartRecording(sink.monitor(), format, dir);
        EXPECT_TRUE(WaitUntilWriting(dir));
        std::this_thread::sleep_for(std::chrono::milliseconds(3000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        // Three seconds of recording, of which at most about one is not yet in the file.
        EXPECT_GT(DecodedSeconds(OnlyFile(dir)), 1.6);
    }
}

// The writers gather a recording's small samples into larger writes but hold them only a
// moment (200 ms), so the file grows steadily. The bound checked is ten times that, for a
// loaded machine; a writer that waited for its 256 KiB buffer to fill would leave these
// files unchanged for 10 s or more.
TEST(QuilgrabLive, RecordingsReachTheFileWithinAMoment) {
    NEED_PULSE();
    NullSink sink("cli-steady");
    TonePlayer tone(sink.name(), 1000.0);
    ASSERT_TRUE(tone.WaitAudible());
    for (const char* format : {"mp3", "ogg"}) {
        SCOPED_TRACE(format);
        auto dir = MakeTempDir(std::string("cli-steady-") + format);
        pid_t child = StartRecording(sink.monitor(), format, dir);
        bool writing = WaitUntilWriting(dir);
        if (!writing) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        ASSERT_TRUE(writing);
        auto file = OnlyFile(dir);
        using Clock = std::chrono::steady_clock;
        std::error_code error;
        auto size = std::filesystem::file_size(file, error);
        auto grew = Clock::now(), end = grew + std::chrono::seconds(4);
        Clock::duration longest{};
        while (Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            auto now = Clock::now();
            auto current = std::filesystem::file_size(file, error);
            if (!error && current != size) {
                longest = std::max(longest, now - grew);
                grew = now;
                size = current;
            }
        }
        longest = std::max(longest, Clock::now() - grew);
        kill(child, SIGINT);
        waitpid(child, nullptr, 0);
        EXPECT_LT(std::chrono::duration<double>(longest).count(), 2.0);
    }
}

// The WAV header is brought up to date once a second of audio: a killed recording leaves a file
// whose header states all but about the last second, and opening it reads what the header
// states; a copy cut shorter than its header still opens with what it holds.
TEST(QuilgrabLive, AKilledWavRecordingsHeaderLagsAtMostAboutASecond) {
    NEED_PULSE();
    NullSink sink("cli-kill-header");
    TonePlayer tone(sink.name(), 1000.0);
    ASSERT_TRUE(tone.WaitAudible());
    auto dir = MakeTempDir("cli-kill-header");
    auto out = dir / "out";
    std::filesystem::create_directories(out);
    pid_t child = StartRecording(sink.monitor(), "wav", out);
    ASSERT_TRUE(WaitUntilWriting(out));
    auto file = OnlyFile(out);
    constexpr uint64_t kBytesPerSecond = 176400;
    // Killed once the file holds three and a half seconds, whatever the machine's load.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::error_code error;
    while (std::filesystem::file_size(file, error) < 44 + kBytesPerSecond * 7 / 2 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    WavData wav;
    ASSERT_TRUE(ReadWav(file, &wav));
    ASSERT_EQ(wav.rate * wav.channels * wav.bits / 8, static_cast<int>(kBytesPerSecond));
    const uint64_t written = std::filesystem::file_size(file) - 44;
    EXPECT_GE(written, kBytesPerSecond * 7 / 2);
    EXPECT_LE(wav.dataSize, written);  // never more than the file holds
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36);
    // One second, and the block that was written when the kill came.
    EXPECT_LE(written - wav.dataSize, kBytesPerSecond * 3 / 2)
        << "header " << wav.dataSize << " of " << written << " bytes";

    // Opened again, the recording reads as its header says.
    auto copy = dir / "copy";
    int status = -1;
    Quilgrab("file --format wav --out '" + copy.string() + "' '" + file.string() + "'", &status);
    ASSERT_EQ(status, 0);
    WavData read;
    ASSERT_TRUE(ReadWav(OnlyFile(copy), &read));
    EXPECT_EQ(read.dataSize, wav.dataSize);
    EXPECT_EQ(read.data.size(), wav.dataSize);

    // Cut below what its header states, it reads what is left.
    auto cut = dir / "cut.wav";
    std::filesystem::copy_file(file, cut);
    const uint64_t kept = wav.dataSize / 2 / 4 * 4;
    std::filesystem::resize_file(cut, 44 + kept);
    auto fromCut = dir / "from-cut";
    Quilgrab("file --format wav --out '" + fromCut.string() + "' '" + cut.string() + "'", &status);
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(ReadWav(OnlyFile(fromCut), &read));
    EXPECT_EQ(read.dataSize, kept);
}

}  // namespace
}  // namespace quil::test
