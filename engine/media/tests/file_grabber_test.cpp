// The media-file grabber driven only through its factory and table, as the main program does.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>

#include "engine/media/file_audio_grabber.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

constexpr int kWav = 0, kMp3 = 1, kWma = 2, kOgg = 3;
constexpr long kComplete = 1, kErrorAbort = 3;

struct Grabber {
    FileAudioGrabber* g = static_cast<FileAudioGrabber*>(FileAudioGrabberCreateInstance());
    ~Grabber() {
        g->ReleaseGraph();
        g->Destroy();
    }
    FileAudioGrabber* operator->() { return g; }
};

// Drains events the way the program does until the grab ends.
long RunToEnd(Grabber& grabber, long* param = nullptr, int timeoutMs = 60000) {
    QueueWindow window;
    EXPECT_EQ(grabber->SetNotifyWindow(window.handle(), 2139), 1);
    EXPECT_EQ(grabber->Run(), 1);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!window.Take(std::chrono::milliseconds(200))) continue;
        long code, p1, p2;
        while (grabber->GetEvent(&code, &p1, &p2) == 1) {
            grabber->FreeEventParams(code, p1, p2);
            if (code == kComplete || code == kErrorAbort) {
                if (param) *param = p1;
                return code;
            }
        }
    }
    return 0;
}

double ProbeDuration(const std::string& path) {
    std::string out;
    RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'", &out);
    return out.empty() ? -1 : std::stod(out);
}

std::string ProbeStream(const std::string& path) {
    std::string out;
    RunCommand("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,"
               "channels -of csv=p=0 '" + path + "'",
               &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

double DecodedRms(const std::string& path) {
    auto raw = (TestDir() / "decoded.raw").string();
    RunCommand("ffmpeg -v error -y -i '" + path + "' -f s16le -ac 1 '" + raw + "'");
    auto bytes = ReadFile(raw);
    return Rms16(bytes.data(), bytes.size());
}

TEST(FileGrabberLifecycle, StateMachineAndCallsBeforeTheGraph) {
    Grabber grabber;
    long code, p1, p2;
    EXPECT_EQ(grabber->GetState(), 0);
    EXPECT_EQ(grabber->SetNotifyWindow(nullptr, 2139), 0);
    EXPECT_EQ(grabber->GetEvent(&code, &p1, &p2), 0);
    EXPECT_EQ(grabber->SetVideoMessageDrain(nullptr), 0);
    EXPECT_EQ(grabber->Run(), 0);
    EXPECT_EQ(grabber->Stop(), 0);
    EXPECT_EQ(grabber->Open(1, 0, kWav, nullptr, nullptr, 0, 0), 0);
    // Reserved slots keep their places and answer 1.
    EXPECT_EQ(grabber->Reserved9(), 1);
    EXPECT_EQ(grabber->Reserved28(5), 1);
    EXPECT_EQ(grabber->FreeEventParams(0, 0, 0), 1);

    auto dir = MakeTempDir("states");
    auto input = (dir / "in.wav").string();
    ASSERT_TRUE(WriteSineWav(input, 44100, 2, 3.0));
    Grabber second;
    ASSERT_EQ(second->Open(0, 0, kWav, input.c_str(), (dir / "out.wav").c_str(), 0, 0), 1);
    EXPECT_EQ(second->GetState(), 3);
    EXPECT_EQ(second->Stop(), 0);  // the media grabber stops only from running or paused
    EXPECT_EQ(second->GetEvent(&code, &p1, &p2), 0);  // empty queue ends the drain
    EXPECT_EQ(second->Pause(), 0);
    EXPECT_EQ(second->Run(), 1);
    EXPECT_EQ(second->Run(), 0);
    EXPECT_EQ(second->Pause(), 1);
    EXPECT_EQ(second->GetState(), 2);
    EXPECT_EQ(second->Pause(), 0);
    EXPECT_EQ(second->Run(), 1);
    EXPECT_EQ(second->Stop(), 1);
    EXPECT_EQ(second->GetState(), 3);
    char title[1024] = {};
    EXPECT_EQ(second->GetTitle(title), 0);  // only streams have a header
    double duration = 0;
    EXPECT_EQ(second->GetDuration(&duration), 1);
    EXPECT_DOUBLE_EQ(duration, 3.0);
    second->ReleaseGraph();
    EXPECT_EQ(second->GetState(), 0);
}

TEST(FileGrabberExtraction, WavToWavKeepsEverySample) {
    auto dir = MakeTempDir("wav");
    auto input = (dir / "in.wav").string(), output = (dir / "out.wav").string();
    ASSERT_TRUE(WriteSineWav(input, 22050, 1, 2.0));
    Grabber grabber;
    ASSERT_EQ(grabber->Open(0, 0, kWav, input.c_str(), output.c_str(), 0, 0), 1);
    int hasAudio = -1, hasVideo = -1, untouched = 42;
    grabber->GetStreamPresence(&hasAudio, &untouched, &hasVideo, &untouched);
    EXPECT_EQ(hasAudio, 1);
    EXPECT_EQ(hasVideo, 0);
    EXPECT_EQ(untouched, 42);
    PCMWAVEFORMAT format{};
    grabber->GetSourceFormat(&format);
    EXPECT_EQ(format.nSamplesPerSec, 22050u);
    EXPECT_EQ(format.nChannels, 1);
    EXPECT_EQ(RunToEnd(grabber), kComplete);
    // Without monitoring there is no renderer and no level tap.
    int size = 0;
    EXPECT_EQ(grabber->GetSample(nullptr, &size, nullptr), 0);
    double position = 0;
    grabber->GetPosition(&position);
    EXPECT_NEAR(position, 2.0, 0.01);
    grabber->Stop();
    WavData in, out;
    ASSERT_TRUE(ReadWav(input, &in));
    ASSERT_TRUE(ReadWav(output, &out));
    EXPECT_EQ(out.rate, 22050);
    EXPECT_TRUE(in.data == out.data);
}

TEST(FileGrabberExtraction, EachFormatDecodesBackLikeTheSource) {
    auto dir = MakeTempDir("formats");
    auto input = (dir / "in.wav").string();
    ASSERT_TRUE(WriteSineWav(input, 44100, 2, 3.0));
    struct Case {
        int format;
        const char* name;
        const char* codec;
    } cases[] = {{kWav, "out.wav", "pcm_s16le"}, {kMp3, "out.mp3", "mp3"},
                 {kOgg, "out.ogg", "vorbis"}, {kWma, "out.wma", "wmav2"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto output = (dir / c.name).string();
        Grabber grabber;
        grabber->SetMp3Options(44100, 128, 0, 5, 0, 0, 0, 0);
        grabber->SetOggOptions(2, 6.0f, 0, 0, 0);
        grabber->SetWmaProfile(9, "CD quality: 128 kbps, 44 kHz, stereo");
        ASSERT_EQ(grabber->Open(0, 0, c.format, input.c_str(), output.c_str(), 0, 0), 1);
        EXPECT_EQ(RunToEnd(grabber), kComplete);
        grabber->Stop();
        grabber->ReleaseGraph();
        EXPECT_EQ(ProbeStream(output), std::string(c.codec) + ",44100,2");
        EXPECT_NEAR(ProbeDuration(output), 3.0, 0.1);
        EXPECT_GT(DecodedRms(output), 0.1);
    }
}

TEST(FileGrabberExtraction, UnknownFormatBuildsNoChainButOpens) {
    auto dir = MakeTempDir("unknown");
    auto input = (dir / "in.wav").string();
    ASSERT_TRUE(WriteSineWav(input, 8000, 1, 0.5));
    Grabber grabber;
    EXPECT_EQ(grabber->Open(0, 0, 7, input.c_str(), (dir / "x").c_str(), 0, 0), 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "x"));
}

TEST(FileGrabberExtraction, OverlongAndMissingPathsFailSafely) {
    auto dir = MakeTempDir("paths");
    std::string longPath(5000, 'a');
    Grabber grabber;
    EXPECT_EQ(grabber->Open(0, 0, kWav, longPath.c_str(), longPath.c_str(), 0, 0), 0);
    Grabber missing;
    EXPECT_EQ(missing->Open(0, 0, kWav, "/nonexistent/file.mp3", (dir / "o.wav").c_str(), 0, 0), 0);
    Grabber noOutput;
    auto input = (dir / "in.wav").string();
    ASSERT_TRUE(WriteSineWav(input, 8000, 1, 0.5));
    EXPECT_EQ(noOutput->Open(0, 0, kWav, input.c_str(), nullptr, 0, 0), 0);
}

// Paths are bytes and may be as long as PATH_MAX: the grab reads and writes exactly the named
// files, never a name cut short or converted.
TEST(FileGrabberExtraction, LongAndNonUtf8PathsAreUsedWhole) {
    auto dir = MakeTempDir("longpaths");
    auto folder = dir / std::string(220, 'f') / std::string(220, 'g');
    std::filesystem::create_directories(folder);
    auto input = (folder / "s\xF6urce \xE9t\xE9.wav").string();
    auto output = (folder / (std::string(200, 'o') + " \xE9t\xE9.wav")).string();
    ASSERT_GT(output.size(), 660u);
    ASSERT_TRUE(WriteSineWav(input, 22050, 1, 1.0));
    Grabber grabber;
    ASSERT_EQ(grabber->Open(0, 0, kWav, input.c_str(), output.c_str(), 0, 0), 1);
    EXPECT_EQ(RunToEnd(grabber), kComplete);
    grabber->Stop();
    grabber->ReleaseGraph();
    WavData in, out;
    ASSERT_TRUE(ReadWav(input, &in));
    ASSERT_TRUE(ReadWav(output, &out));
    EXPECT_TRUE(in.data == out.data);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              2);
}

// A FIFO blocks whoever opens it for reading until a writer comes: it is refused instead.
TEST(FileGrabberExtraction, AFifoIsRefusedWithoutBlocking) {
    auto dir = MakeTempDir("fifo");
    auto fifo = (dir / "pipe.wav").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<bool> done{false}, readerBlocked{false};
    // Opening the writing end without blocking succeeds only while a reader waits on it;
    // closing it again sets that reader free, so a failing test still ends.
    std::thread watcher([&] {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done && std::chrono::steady_clock::now() < deadline) {
            int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                readerBlocked = true;
                close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    Grabber grabber;
    EXPECT_EQ(grabber->Open(0, 0, kWav, fifo.c_str(), (dir / "out.wav").c_str(), 0, 0), 0);
    done = true;
    watcher.join();
    EXPECT_FALSE(readerBlocked);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
}

TEST(FileGrabberMonitoring, MonitorBranchPlaysAndFeedsTheLevelTap) {
    if (!HavePulse()) GTEST_SKIP() << "needs the private sound server (scripts/with-pulse)";
    auto dir = MakeTempDir("monitor");
    auto input = (dir / "in.wav").string(), output = (dir / "out.wav").string();
    ASSERT_TRUE(WriteSineWav(input, 44100, 2, 1.5));
    Grabber grabber;
    ASSERT_EQ(grabber->Open(0, 0, kWav, input.c_str(), output.c_str(), 1, 0), 1);
    ASSERT_EQ(grabber->Run(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    int size = 0;
    ASSERT_EQ(grabber->GetSample(nullptr, &size, nullptr), 1);
    ASSERT_GT(size, 0);
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    PCMWAVEFORMAT format{};
    int capacity = size;
    ASSERT_EQ(grabber->GetSample(buffer.data(), &capacity, &format), 1);
    EXPECT_EQ(format.nSamplesPerSec, 44100u);
    EXPECT_GT(Rms16(buffer.data(), buffer.size()), 0.1);
    int tooSmall = size - 1;
    EXPECT_EQ(grabber->GetSample(buffer.data(), &tooSmall, &format), 0);
    double position = 0;
    grabber->GetPosition(&position);
    EXPECT_LT(position, 1.2);  // the monitor paces the grab in real time
    grabber->Stop();
}

TEST(FileGrabberFailures, FullDiskEndsWithErrorAbortDiskFull) {
    auto dir = MakeTempDir("full");
    auto input = (dir / "in.wav").string(), output = (dir / "out.wav").string();
    ASSERT_TRUE(WriteSineWav(input, 44100, 2, 3.0));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{200000, 200000};
        setrlimit(RLIMIT_FSIZE, &limit);
        int status = 1;
        {
            Grabber grabber;
            long param = 0;
            if (grabber->Open(0, 0, kWav, input.c_str(), output.c_str(), 0, 0) == 1)
                status = RunToEnd(grabber, &param) == kErrorAbort &&
                                 static_cast<int32_t>(param) == static_cast<int32_t>(0x80070070)
                             ? 0
                             : 2;
            grabber->Stop();
        }
        _exit(status);
    }
    int status = -1;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    WavData wav;
    ASSERT_TRUE(ReadWav(output, &wav));
    EXPECT_GT(wav.dataSize, 0u);
    EXPECT_LE(wav.dataSize, wav.data.size());
}

}  // namespace
}  // namespace quil::test
