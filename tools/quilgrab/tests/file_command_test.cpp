#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "app/settings/format_settings.h"
#include "app/settings/option_tables.h"
#include "app/settings/settings_key.h"
#include "tools/quilgrab/tests/quilgrab_run.h"

namespace {

using quil::test::DecodedSeconds;
using quil::test::Lines;
using quil::test::MakeTempDir;
using quil::test::MakeTone;
using quil::test::ProbeSeconds;
using quil::test::Quilgrab;
using quil::test::Quote;

TEST(QuilgrabFile, GrabsEachInputIntoAFileNamedAfterIt) {
    auto dir = MakeTempDir("file_basic");
    ASSERT_TRUE(MakeTone(dir / "a.mp3", 2));
    ASSERT_TRUE(MakeTone(dir / "b.wav", 1));
    auto run = Quilgrab("file -q -f wav -d " + Quote((dir / "out").string()) + " " +
                        Quote((dir / "a.mp3").string()) + " " + Quote((dir / "b.wav").string()));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Lines(run.out), (std::vector<std::string>{(dir / "out/a.wav").string(),
                                                        (dir / "out/b.wav").string()}));
    EXPECT_EQ(run.err, "");
    EXPECT_NEAR(ProbeSeconds(dir / "out/a.wav"), 2.0, 0.1);
    // Never overwrite by default: the next free name, taken atomically.
    run = Quilgrab("file -q -f wav -d " + Quote((dir / "out").string()) + " " +
                   Quote((dir / "b.wav").string()));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, (dir / "out/b (2).wav").string() + "\n");
    // -n skips, -y replaces.
    run = Quilgrab("file -n -f wav -d " + Quote((dir / "out").string()) + " " +
                   Quote((dir / "b.wav").string()));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("exists (-n)"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out/b (3).wav"));
    run = Quilgrab("file -y -q -f wav -o " + Quote((dir / "out/a.wav").string()) + " " +
                   Quote((dir / "b.wav").string()));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, (dir / "out/a.wav").string() + "\n");
    EXPECT_NEAR(ProbeSeconds(dir / "out/a.wav"), 1.0, 0.1);
}

TEST(QuilgrabFile, NameTemplateAndStandardInputAndOutput) {
    auto dir = MakeTempDir("file_names");
    ASSERT_TRUE(MakeTone(dir / "song.wav", 1));
    auto run = Quilgrab("file -q --format=mp3 --name 'x-{stem}-{date}.{ext}' -d " +
                        Quote(dir.string()) + " " + Quote((dir / "song.wav").string()));
    ASSERT_EQ(run.status, 0) << run.err;
    std::string name = std::filesystem::path(Lines(run.out).at(0)).filename().string();
    EXPECT_TRUE(name.starts_with("x-song-20")) << name;
    EXPECT_TRUE(name.ends_with(".mp3")) << name;
    EXPECT_EQ(name.size(), std::string("x-song-2026-12-07.mp3").size()) << name;

    // - reads standard input and writes standard output.
    std::string command = std::string(QUILGRAB_PATH) + " file -f wav -o - - <" +
                          Quote((dir / "song.wav").string()) + " >" +
                          Quote((dir / "piped.wav").string());
    ASSERT_EQ(quil::test::RunCommand(command), 0);
    EXPECT_NEAR(ProbeSeconds(dir / "piped.wav"), 1.0, 0.1);
}

TEST(QuilgrabFile, OutOfRangeValuesAndMissingValuesAreUsageErrorsNamingTheOption) {
    auto dir = MakeTempDir("file_usage");
    ASSERT_TRUE(MakeTone(dir / "a.wav", 1));
    std::string input = " " + Quote((dir / "a.wav").string());
    struct Case {
        std::string arguments, says;
    } cases[] = {
        {"--mp3-bitrate 321", "--mp3-bitrate"},
        {"--mp3-bitrate 321", "8 to 320"},
        {"--mp3-rate 44000 -f mp3", "44100"},
        {"--mp3-rate 16000 --mp3-bitrate 320", "8, 16, 24"},
        {"--ogg-quality 99", "--ogg-quality"},
        {"--ogg-quality 99", "0 to 10"},
        {"--mp3-quality -1", "--mp3-quality"},
        {"--wma-version 5", "4, 7, 8 or 9"},
        {"--wav-format 36", "0 to 35"},
        {"--channel-mode loud", "stereo|joint|dual|mono"},
        {"-f flac", "wav|mp3|wma|ogg"},
        {"--seconds 0", "--seconds"},
        {"-j 0", "--jobs"},
        {"-y -n", "excludes"},
        {"--mp3-bitrate", "--mp3-bitrate"},
    };
    for (const auto& test : cases) {
        auto run = Quilgrab("file -d " + Quote(dir.string()) + " " + test.arguments + input);
        EXPECT_EQ(run.status, 2) << test.arguments;
        EXPECT_NE(run.err.find(test.says), std::string::npos) << test.arguments << "\n" << run.err;
        EXPECT_EQ(run.out, "") << test.arguments;
    }
    auto run = Quilgrab("file -o x.wav" + input + input);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("single input"), std::string::npos) << run.err;
    EXPECT_EQ(Quilgrab("file").status, 2);
    run = Quilgrab("file --help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("--jobs"), std::string::npos);
    EXPECT_NE(run.out.find("130 interrupted"), std::string::npos);
    // No output file was left behind by any of them.
    size_t files = 0;
    for (auto& entry : std::filesystem::directory_iterator(dir)) files += entry.is_regular_file();
    EXPECT_EQ(files, 1u);
}

TEST(QuilgrabFile, ErrorsSayWhyInTheUsersWords) {
    auto dir = MakeTempDir("file_errors");
    ASSERT_TRUE(MakeTone(dir / "a.wav", 1));
    std::ofstream(dir / "notes.mp3") << "just some text, not audio\n";
    auto locked = dir / "locked";
    std::filesystem::create_directory(locked);
    chmod(locked.c_str(), 0555);

    auto run = Quilgrab("file -f wav -d " + Quote(locked.string()) + " " +
                        Quote((dir / "a.wav").string()));
    if (geteuid() != 0) {  // root writes anyway
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("Permission denied"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(locked.string()), std::string::npos) << run.err;
    }
    run = Quilgrab("file -f wav -d " + Quote(dir.string()) + " " +
                   Quote((dir / "notes.mp3").string()) + " " + Quote((dir / "gone.mp3").string()) +
                   " " + Quote((dir / "a.wav").string()));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find((dir / "notes.mp3").string() + ": not a media file"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find((dir / "gone.mp3").string() + ": No such file or directory"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("0x"), std::string::npos) << run.err;
    // The good input is still grabbed, and failed ones leave no empty files.
    EXPECT_EQ(run.out, (dir / "a (2).wav").string() + "\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "notes.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir / "gone.wav"));
    chmod(locked.c_str(), 0755);
}

TEST(QuilgrabFile, SecondsCountsAudioTime) {
    auto dir = MakeTempDir("file_seconds");
    ASSERT_TRUE(MakeTone(dir / "long.wav", 120));
    auto run = Quilgrab("file -q -f wav -t 1 -d " + Quote(dir.string()) + " " +
                        Quote((dir / "long.wav").string()));
    ASSERT_EQ(run.status, 0) << run.err;
    double seconds = ProbeSeconds(Lines(run.out).at(0));
    EXPECT_GE(seconds, 1.0);
    EXPECT_LT(seconds, 5.0);  // a fast extraction runs far past 1 s of wall-clock time
}

// The limit counts audio that reached the output, not audio decoded and still queued for the
// encoder, and the encoders hand out what they hold before the file is closed: every format
// holds at least the time asked for.
TEST(QuilgrabFile, SecondsLimitIsInTheOutputOfEveryFormat) {
    auto dir = MakeTempDir("file_seconds_formats");
    ASSERT_TRUE(MakeTone(dir / "long.wav", 300));
    ASSERT_TRUE(MakeTone(dir / "long.mp3", 300, "libmp3lame"));
    for (std::string input : {"long.wav", "long.mp3"}) {
        for (std::string format : {"mp3", "ogg", "wma"}) {
            auto out = dir / (input + "." + format);
            auto run = Quilgrab("file -q -y -f " + format + " -t 2 -o " + Quote(out.string()) +
                                " " + Quote((dir / input).string()));
            ASSERT_EQ(run.status, 0) << input << " " << format << ": " << run.err;
            double seconds = DecodedSeconds(out);
            EXPECT_GE(seconds, 2.0) << input << " " << format;
            EXPECT_LT(seconds, 60.0) << input << " " << format;
        }
    }
}

TEST(QuilgrabFile, ParallelGrabsWriteTheSameOutputsAsOneAtATime) {
    auto dir = MakeTempDir("file_jobs");
    std::string inputs;
    for (int i = 0; i < 4; ++i) {
        auto path = dir / ("in" + std::to_string(i) + ".wav");
        ASSERT_TRUE(MakeTone(path, 2 + i));
        inputs += " " + Quote(path.string());
    }
    auto one = Quilgrab("file -q -j 1 -f mp3 -d " + Quote((dir / "one").string()) + inputs);
    auto two = Quilgrab("file -q -j 2 -f mp3 -d " + Quote((dir / "two").string()) + inputs);
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(two.status, 0) << two.err;
    ASSERT_EQ(Lines(two.out).size(), 4u);
    for (int i = 0; i < 4; ++i) {
        std::string name = "in" + std::to_string(i) + ".mp3";
        EXPECT_EQ(Lines(two.out)[i], (dir / "two" / name).string());
        EXPECT_EQ(quil::test::ReadFile(dir / "one" / name),
                  quil::test::ReadFile(dir / "two" / name))
            << name;
    }
}

// Samples per channel that ffmpeg decodes from a file, as mono 16 bits at the file's rate.
long DecodedSamples(const std::filesystem::path& path) {
    std::string out;
    if (quil::test::RunCommand(
            "ffmpeg -v error -i " + Quote(path.string()) + " -ac 1 -f s16le pipe:1 | wc -c",
            &out) != 0)
        return -1;
    return std::stol(out) / 2;
}

// An MP3 grab carries the encoder delay and padding in its Info frame, so players drop them:
// it decodes to the input's length, from WAV and from MP3, and still after its tags are
// written in front of the audio.
TEST(QuilgrabFile, Mp3GrabsDecodeToTheInputsLength) {
    auto dir = MakeTempDir("file_gapless");
    ASSERT_TRUE(MakeTone(dir / "wav.wav", 2.3));
    ASSERT_TRUE(MakeTone(dir / "mp3.mp3", 3.7, "libmp3lame"));
    auto run = Quilgrab("file -q -f mp3 --mp3-rate 44100 --mp3-bitrate 128 -d " +
                        Quote((dir / "out").string()) + " " + Quote((dir / "wav.wav").string()) +
                        " " + Quote((dir / "mp3.mp3").string()));
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* name : {"wav", "mp3"}) {
        SCOPED_TRACE(name);
        auto input = dir / (std::string(name) + (name[0] == 'w' ? ".wav" : ".mp3"));
        auto output = dir / "out" / (std::string(name) + ".mp3");
        long expected = DecodedSamples(input);
        ASSERT_GT(expected, 44100);
        EXPECT_EQ(DecodedSamples(output), expected);
        ASSERT_EQ(Quilgrab("tags --title 'A title' --track 3 " + Quote(output.string())).status, 0);
        EXPECT_EQ(DecodedSamples(output), expected);
        EXPECT_NE(Quilgrab("tags " + Quote(output.string())).out.find("title: A title"),
                  std::string::npos);
    }
}

TEST(QuilgrabFile, InterruptFinishesTheCurrentFileAndSaysWhatWasNotDone) {
    auto dir = MakeTempDir("file_interrupt");
    ASSERT_TRUE(MakeTone(dir / "a.wav", 1200));
    ASSERT_TRUE(MakeTone(dir / "b.wav", 1));
    for (int signal : {SIGINT, SIGTERM}) {
        auto out = dir / ("out" + std::to_string(signal));
        std::string command =
            std::string(QUILGRAB_PATH) + " file -j 1 -f mp3 -d " + Quote(out.string()) + " " +
            Quote((dir / "a.wav").string()) + " " + Quote((dir / "b.wav").string()) + " >" +
            Quote((dir / "stdout").string()) + " 2>" + Quote((dir / "stderr").string());
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), nullptr);
            _exit(127);
        }
        // Wait until audio is being written, then stop it.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::error_code error;
        auto written = [&] {
            auto size = std::filesystem::file_size(out / "a.mp3", error);
            return !error && size >= 20000;
        };
        while (std::chrono::steady_clock::now() < deadline && !written())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        kill(child, signal);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        auto err = quil::test::ReadFile(dir / "stderr");
        std::string text(err.begin(), err.end());
        EXPECT_NE(text.find("a.wav was cut at"), std::string::npos) << text;
        EXPECT_NE(text.find("not done: " + (dir / "b.wav").string()), std::string::npos) << text;
        EXPECT_FALSE(std::filesystem::exists(out / "b.mp3"));
        // The cut file is finished and plays.
        double seconds = ProbeSeconds(out / "a.mp3");
        EXPECT_GT(seconds, 0.5);
        EXPECT_LT(seconds, 1200);
    }
}

// On a terminal (a pseudo-terminal from script(1)) the progress line is redrawn in place and
// never reaches the 80th column; the final line is the output alone.
TEST(QuilgrabFile, ProgressOnATerminalIsOneLineRedrawnInPlace) {
    auto dir = MakeTempDir("file_progress");
    auto input = dir / "a long input name to be cut on an eighty column terminal, really.wav";
    ASSERT_TRUE(MakeTone(input, 600));
    std::string out;
    ASSERT_EQ(quil::test::RunCommand("COLUMNS=80 script -qfec " +
                                         Quote(std::string(QUILGRAB_PATH) + " file -f mp3 -d " +
                                               Quote(dir.string()) + " " + Quote(input.string())) +
                                         " /dev/null",
                                     &out),
              0);
    size_t redraws = 0;
    for (size_t at = out.find('\r'); at != std::string::npos; at = out.find('\r', at + 1)) {
        size_t end = out.find_first_of("\r\n\x1b", at + 1);
        std::string drawn = out.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        EXPECT_LT(drawn.size(), 80u) << drawn;
        if (drawn.find("%") != std::string::npos) ++redraws;
    }
    EXPECT_GT(redraws, 0u) << out;
    EXPECT_NE(out.find("x  ETA "), std::string::npos) << out;
    // The line is erased before the result is printed.
    std::string result = (dir / (input.stem().string() + ".mp3")).string();
    EXPECT_NE(out.find("\r\x1b[K" + result + "\r\n"), std::string::npos) << out;
}

TEST(QuilgrabFile, DefaultsComeFromTheStoredSettings) {
    auto dir = MakeTempDir("file_settings");
    ASSERT_EQ(quil::test::RunCommand("ffmpeg -v error -f lavfi -i sine=duration=1 -ac 2 " +
                                     Quote((dir / "a.wav").string())),
              0);
    quil::settings::SettingsKey::ForSave();
    quil::settings::SaveOutputFormat(quil::settings::kMp3);
    quil::settings::Mp3Settings mp3;
    mp3.sampleRate = 22050;
    mp3.bitRate = 64;
    mp3.channelMode = 3;
    quil::settings::SaveMp3Settings(mp3);
    quil::settings::SaveNamingRule({(dir / "stored").string(), "pre-", "-post", false});
    auto run = Quilgrab("file -q " + Quote((dir / "a.wav").string()));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, (dir / "stored/pre-a-post.mp3").string() + "\n");
    std::string probe;
    quil::test::RunCommand(
        "ffprobe -v error -show_entries stream=sample_rate,channels,bit_rate "
        "-of csv=p=0 " +
            Quote((dir / "stored/pre-a-post.mp3").string()),
        &probe);
    EXPECT_EQ(probe, "22050,1,64000\n");
    // An option wins over the stored value.
    run = Quilgrab("file -q --channel-mode stereo --mp3-rate 44100 --mp3-bitrate 128 -o " +
                   Quote((dir / "given.mp3").string()) + " " + Quote((dir / "a.wav").string()));
    ASSERT_EQ(run.status, 0) << run.err;
    probe.clear();
    quil::test::RunCommand(
        "ffprobe -v error -show_entries stream=sample_rate,channels,bit_rate "
        "-of csv=p=0 " +
            Quote((dir / "given.mp3").string()),
        &probe);
    EXPECT_EQ(probe, "44100,2,128000\n");
    quil::settings::SaveNamingRule({});
    quil::settings::SaveOutputFormat(quil::settings::kWav);
    quil::settings::SaveMp3Settings({});
}

}  // namespace
