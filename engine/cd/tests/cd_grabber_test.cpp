// The CD grabber's table with the real trackpump plug-in and disc images: graph creation, the
// forwarding operations and their result mapping, positions, the source formats set before a
// chain, the format description and the state machine.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cdsource/tests/cd_test_util.h"
#include "engine/cd/cd_grabber_internal.h"
#include "platform/graph/base_filter.h"
#include "platform/window/window.h"

namespace {

namespace fs = std::filesystem;
using quil::ComPtr;
using quil::QueryAs;

constexpr UINT kRipMessage = 2138;

std::vector<std::wstring> FilterNames(IGraphBuilder* graph) {
    std::vector<std::wstring> names;
    ComPtr<IEnumFilters> list;
    graph->EnumFilters(list.Put());
    IBaseFilter* filter = nullptr;
    ULONG fetched = 0;
    while (list->Next(1, &filter, &fetched) == S_OK && fetched == 1) {
        names.push_back(quil::FilterName(filter));
        filter->Release();
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Description {
    std::string rate, bits, channels, kind;
};

Description Describe(CDAudioGrabber* grabber, int* result) {
    char buffer[40];
    std::memset(buffer, 0, sizeof buffer);
    std::memcpy(buffer + 30, "untouched", 10);
    *result = grabber->GetFormatDescription(buffer);
    return {std::string(buffer, strnlen(buffer, 10)),
            std::string(buffer + 10, strnlen(buffer + 10, 10)),
            std::string(buffer + 20, strnlen(buffer + 20, 10)),
            std::string(buffer + 30, strnlen(buffer + 30, 10))};
}

class CdGrabberTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(quil::test::CallTrackpump("DllRegisterServer"), S_OK);
        dir_ = quil::test::MakeTempDir("cd");
        grabber_ = static_cast<CDAudioGrabber*>(CDAudioGrabberCreateInstance());
        ASSERT_TRUE(grabber_);
    }
    void TearDown() override {
        if (grabber_) {
            grabber_->ReleaseGraph();
            grabber_->Destroy();
        }
        CoFreeUnusedLibraries();
    }

    // The filter in the grabber's graph.
    ComPtr<IBaseFilter> CdSource() {
        ComPtr<IBaseFilter> filter;
        quil::engine::GraphOf(grabber_)->FindFilterByName(L"CD Source", filter.Put());
        return filter;
    }
    std::vector<uint32_t> SourceFormatWords() {
        auto source = QueryAs<ICdTrackSource>(CdSource().Get());
        std::vector<uint32_t> words(5, 0);
        source->GetOutputFormat(&words[0], &words[1], &words[2], &words[3], &words[4]);
        return words;
    }
    // Runs the built graph until the grabber reports the end of the track; the event code.
    long RipToEnd() {
        quil::QueueWindow window;
        EXPECT_EQ(grabber_->SetNotifyWindow(window.handle(), kRipMessage), 1);
        EXPECT_EQ(grabber_->Run(), 1);
        for (int i = 0; i < 600; ++i) {
            auto message = window.Take(std::chrono::milliseconds(100));
            if (!message) continue;
            EXPECT_EQ(message->message, kRipMessage);
            long code, p1, p2;
            while (grabber_->GetEvent(&code, &p1, &p2)) {
                EXPECT_EQ(grabber_->FreeEventParams(code, p1, p2), 1);
                if (code == 1 || code == 3) return code;
            }
        }
        return 0;
    }

    fs::path dir_;
    CDAudioGrabber* grabber_ = nullptr;
};

TEST_F(CdGrabberTest, BeforeTheGraphEverythingButTheSettersFails) {
    long code, p1, p2;
    int value = 5;
    double seconds = 1;
    quil::QueueWindow window;
    EXPECT_EQ(grabber_->GetState(), 0);
    EXPECT_EQ(grabber_->SetNotifyWindow(window.handle(), kRipMessage), 0);
    EXPECT_EQ(grabber_->GetEvent(&code, &p1, &p2), 0);
    EXPECT_EQ(grabber_->Run(), 0);
    EXPECT_EQ(grabber_->Stop(), 0);
    EXPECT_EQ(grabber_->BuildOutput(1, 0, 0), 0);
    EXPECT_EQ(grabber_->SetDrive('D'), 0);
    EXPECT_EQ(grabber_->GetTrackCount(&value), 0);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(grabber_->SectorsToSeconds(75, &seconds), 0);
    EXPECT_EQ(grabber_->GetProgress(), 0.0);
    EXPECT_EQ(grabber_->SetOutputFile(nullptr), 0);
    EXPECT_EQ(grabber_->SetOutputFile("/tmp/x.wav"), 1);
    EXPECT_EQ(grabber_->SetWmaProfile(7, nullptr), 0);
    EXPECT_EQ(grabber_->SetWavFormat(40), 1);
    EXPECT_EQ(grabber_->IsMonitoring(&value), 1);
    EXPECT_EQ(value, 0);
    // Profile listing does not need the graph.
    int count = 0;
    EXPECT_EQ(grabber_->GetProfileCount(7, &count), 1);
    EXPECT_GT(count, 0);
}

TEST_F(CdGrabberTest, CreateGraphNeedsTheRegisteredFilter) {
    ASSERT_EQ(quil::test::CallTrackpump("DllUnregisterServer"), S_OK);
    EXPECT_EQ(grabber_->CreateGraph(), 0);
    EXPECT_EQ(grabber_->GetState(), 0);
    grabber_->ReleaseGraph();
    ASSERT_EQ(quil::test::CallTrackpump("DllRegisterServer"), S_OK);
    ASSERT_EQ(grabber_->CreateGraph(), 1);
    EXPECT_EQ(grabber_->GetState(), 3);
    EXPECT_EQ(FilterNames(quil::engine::GraphOf(grabber_)),
              std::vector<std::wstring>{L"CD Source"});
    grabber_->ReleaseGraph();
    EXPECT_EQ(grabber_->GetState(), 0);
    EXPECT_FALSE(quil::engine::GraphOf(grabber_));
}

// The filter answers S_FALSE without a drive; the grabber passes that on as success and the
// caller learns of the missing drive from the presets that come back.
TEST_F(CdGrabberTest, WithoutADriveThePresetsComeBack) {
    ASSERT_EQ(grabber_->CreateGraph(), 1);
    EXPECT_EQ(grabber_->SetDrive('Y'), 1);
    int count = 42, kind = 42, sectors = 42;
    EXPECT_EQ(grabber_->GetTrackCount(&count), 1);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(grabber_->GetDiscKind(&kind), 1);
    EXPECT_EQ(kind, 0);
    EXPECT_EQ(grabber_->GetReadCapability(&sectors), 0);
    EXPECT_EQ(sectors, 42);
    EXPECT_EQ(grabber_->SetSectorsPerRead(1), 0);
    EXPECT_EQ(grabber_->LockDoor(1), 1);
    EXPECT_EQ(grabber_->MoveDoor(1), 1);
    EXPECT_EQ(grabber_->SetCurrentTrack(3), 1);
    int first = 1, end = 1;
    EXPECT_EQ(grabber_->GetTrackRange(&first, &end), 1);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(end, 0);
    EXPECT_EQ(grabber_->GetProgress(), 0.0);
}

TEST_F(CdGrabberTest, ListsTheDiscAndLimitsTheReadSize) {
    auto image = quil::test::WriteCdImage(
        dir_, "disc", {{true, 0, 300, 0}, {true, 0, 4 * 4500 + 33 * 75 + 12, 440}});
    int letter = quil::test::MountImages({image.cue})[0];
    ASSERT_EQ(grabber_->CreateGraph(), 1);
    ASSERT_EQ(grabber_->SetDrive(letter), 1);
    int count = 0, kind = 0;
    ASSERT_EQ(grabber_->GetTrackCount(&count), 1);
    EXPECT_EQ(count, 2);
    ASSERT_EQ(grabber_->GetDiscKind(&kind), 1);
    EXPECT_EQ(kind, 1);
    int h, m, s, f, ms, first, length;
    ASSERT_EQ(grabber_->GetTrackInfo(2, &h, &m, &s, &f, &ms, &first, &length), 1);
    EXPECT_EQ(h * 3600 + m * 60 + s, 273);
    EXPECT_EQ(ms, 273012);
    EXPECT_EQ(first, 300);
    double seconds = 0;
    EXPECT_EQ(grabber_->SectorsToSeconds(length, &seconds), 1);
    EXPECT_EQ(seconds, 273.0);

    // The image reads 26 sectors at a time; the filter's buffer holds 16, and that is the
    // capability the grabber sees.
    int capability = 0, sectors = 0;
    ASSERT_EQ(grabber_->GetReadCapability(&capability), 1);
    EXPECT_EQ(capability, 16);
    EXPECT_EQ(grabber_->SetSectorsPerRead(27), 0);
    EXPECT_EQ(grabber_->SetSectorsPerRead(17), 0);
    EXPECT_EQ(grabber_->SetSectorsPerRead(-1), 0);  // compared unsigned
    EXPECT_EQ(grabber_->SetSectorsPerRead(0), 0);
    ASSERT_EQ(grabber_->GetSectorsPerRead(&sectors), 1);
    EXPECT_EQ(sectors, 1);
    EXPECT_EQ(grabber_->SetSectorsPerRead(capability), 1);
    ASSERT_EQ(grabber_->GetSectorsPerRead(&sectors), 1);
    EXPECT_EQ(sectors, 16);
}

// A whole rip as the CD page runs it; afterwards the track's positions stay readable until the
// graph stops, so the page's progress and seek arithmetic can be checked on them.
TEST_F(CdGrabberTest, RipsATrackAndReportsItsPositions) {
    auto image = quil::test::WriteCdImage(dir_, "range", {{true, 0, 150, 0}, {true, 0, 15000, 0}});
    int letter = quil::test::MountImages({image.cue})[0];
    fs::path output = dir_ / "track 2.wav";
    ASSERT_EQ(grabber_->CreateGraph(), 1);
    ASSERT_EQ(grabber_->SetDrive(letter), 1);
    ASSERT_EQ(grabber_->LockDoor(1), 1);
    ASSERT_EQ(grabber_->Stop(), 1);
    ASSERT_EQ(grabber_->ClearOutput(), 1);
    ASSERT_EQ(grabber_->SetWavFormat(2), 1);
    int capability = 0;
    ASSERT_EQ(grabber_->GetReadCapability(&capability), 1);
    ASSERT_EQ(grabber_->SetSectorsPerRead(capability), 1);
    ASSERT_EQ(grabber_->SetCurrentTrack(2), 1);
    ASSERT_EQ(grabber_->SetOutputFile(output.c_str()), 1);
    ASSERT_EQ(grabber_->BuildOutput(1, 0, 0), 1);
    EXPECT_EQ(FilterNames(quil::engine::GraphOf(grabber_)),
              (std::vector<std::wstring>{L"CD Source", L"File Writer", L"Wave Dest"}));
    ASSERT_EQ(RipToEnd(), 1);

    int first = 0, end = 0, current = 0;
    ASSERT_EQ(grabber_->GetTrackRange(&first, &end), 1);
    EXPECT_EQ(first, 150);
    EXPECT_EQ(end, 15150);
    ASSERT_EQ(grabber_->SetCurrentSector(7650), 1);
    EXPECT_DOUBLE_EQ(grabber_->GetProgress(), 0.5);
    ASSERT_EQ(grabber_->GetCurrentSector(&current), 1);
    EXPECT_EQ(current, 7650);
    ASSERT_EQ(grabber_->SetCurrentSector(20), 1);
    ASSERT_EQ(grabber_->GetCurrentSector(&current), 1);
    EXPECT_EQ(current, 150);
    EXPECT_EQ(grabber_->GetProgress(), 0.0);
    int unreadable = -1;
    EXPECT_EQ(grabber_->GetUnreadableSectors(&unreadable), 1);
    EXPECT_EQ(unreadable, 0);
    ASSERT_EQ(grabber_->Stop(), 1);
    // Positions read 0 outside streaming.
    EXPECT_EQ(grabber_->GetProgress(), 0.0);
    ASSERT_EQ(grabber_->GetTrackRange(&first, &end), 1);
    EXPECT_EQ(end, 0);

    quil::test::WavData wav;
    ASSERT_TRUE(quil::test::ReadWav(output, &wav));
    EXPECT_EQ(wav.rate, 44100);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.bits, 16);
    EXPECT_TRUE(wav.data == quil::test::BinSectors(image, 150, 15000));

    int description = 0;
    auto text = Describe(grabber_, &description);
    EXPECT_EQ(description, 1);
    EXPECT_EQ(text.rate, "44");
    EXPECT_EQ(text.bits, "16");
    EXPECT_EQ(text.channels, "Stereo");
    EXPECT_EQ(text.kind, "wave");

    ASSERT_EQ(grabber_->ClearOutput(), 1);
    EXPECT_EQ(FilterNames(quil::engine::GraphOf(grabber_)),
              std::vector<std::wstring>{L"CD Source"});
}

TEST_F(CdGrabberTest, SetsTheSourceFormatOfEachChain) {
    ASSERT_EQ(grabber_->CreateGraph(), 1);
    ASSERT_EQ(grabber_->SetOutputFile((dir_ / "out").c_str()), 1);

    // OGG attribute 5: 32000 Hz, mono, 16 bits.
    ASSERT_EQ(grabber_->SetOggOptions(5, 6.0f, 0, 0, 0), 1);
    ASSERT_EQ(grabber_->BuildOutput(1, 0, 3), 1);
    EXPECT_EQ(SourceFormatWords(),
              (std::vector<uint32_t>{1 | 1 << 16, 32000, 64000, 2 | 16 << 16, 18}));
    int result = 0;
    auto text = Describe(grabber_, &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(text.rate, "32");
    EXPECT_EQ(text.channels, "Mono");
    EXPECT_EQ(text.kind, "untouched");
    ASSERT_EQ(grabber_->ClearOutput(), 1);

    // Attribute 21: 44100 Hz, mono, 8 bits.
    grabber_->SetOggOptions(21, 6.0f, 0, 0, 0);
    ASSERT_EQ(grabber_->BuildOutput(1, 0, 3), 1);
    EXPECT_EQ(SourceFormatWords(),
              (std::vector<uint32_t>{1 | 1 << 16, 44100, 44100, 1 | 8 << 16, 18}));
    ASSERT_EQ(grabber_->ClearOutput(), 1);

    // WMA leaves the format as the last build set it.
    grabber_->SetWmaProfile(7, "no such profile");
    EXPECT_EQ(grabber_->BuildOutput(1, 0, 2), 0);
    EXPECT_EQ(SourceFormatWords(),
              (std::vector<uint32_t>{1 | 1 << 16, 44100, 44100, 1 | 8 << 16, 18}));
    ASSERT_EQ(grabber_->ClearOutput(), 1);

    // MP3: stereo 16 bits at the MP3 rate.
    grabber_->SetMp3Options(22050, 64, 0, 5, 0, 0, 0, 0);
    ASSERT_EQ(grabber_->BuildOutput(1, 0, 1), 1);
    EXPECT_EQ(SourceFormatWords(),
              (std::vector<uint32_t>{1 | 2 << 16, 22050, 88200, 4 | 16 << 16, 18}));
    text = Describe(grabber_, &result);
    EXPECT_EQ(text.kind, "mp3");
    ASSERT_EQ(grabber_->ClearOutput(), 1);

    // WAV index 33: 11025 Hz, mono, 8 bits.
    grabber_->SetWavFormat(33);
    ASSERT_EQ(grabber_->BuildOutput(1, 0, 0), 1);
    text = Describe(grabber_, &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(text.rate, "11");
    EXPECT_EQ(text.bits, "8");
    EXPECT_EQ(text.channels, "Mono");
    EXPECT_EQ(text.kind, "wave");
    ASSERT_EQ(grabber_->ClearOutput(), 1);

    // An unknown format builds nothing.
    EXPECT_EQ(grabber_->BuildOutput(1, 0, 7), 0);
    EXPECT_EQ(FilterNames(quil::engine::GraphOf(grabber_)),
              std::vector<std::wstring>{L"CD Source"});
    text = Describe(grabber_, &result);
    EXPECT_EQ(result, 0);  // the source is not connected
}

TEST_F(CdGrabberTest, RunPauseStopFollowTheStateMachine) {
    auto image = quil::test::WriteCdImage(dir_, "states", {{true, 0, 7500, 0}});
    int letter = quil::test::MountImages({image.cue})[0];
    ASSERT_EQ(grabber_->CreateGraph(), 1);
    ASSERT_EQ(grabber_->SetDrive(letter), 1);
    grabber_->SetCurrentTrack(1);
    grabber_->SetOutputFile((dir_ / "states.wav").c_str());
    grabber_->SetWavFormat(2);
    ASSERT_EQ(grabber_->BuildOutput(1, 0, 0), 1);
    EXPECT_EQ(grabber_->Pause(), 0);
    ASSERT_EQ(grabber_->Run(), 1);
    EXPECT_EQ(grabber_->GetState(), 1);
    EXPECT_EQ(grabber_->Run(), 0);
    int size = 0;
    EXPECT_EQ(grabber_->GetSample(nullptr, &size, nullptr), 0);  // no level tap without monitoring
    EXPECT_EQ(grabber_->Pause(), 1);
    EXPECT_EQ(grabber_->GetState(), 2);
    EXPECT_EQ(grabber_->Pause(), 0);
    EXPECT_EQ(grabber_->Run(), 1);
    EXPECT_EQ(grabber_->Stop(), 1);
    EXPECT_EQ(grabber_->GetState(), 3);
    EXPECT_EQ(grabber_->Stop(), 1);
    EXPECT_EQ(grabber_->Run(), 1);
    EXPECT_EQ(grabber_->ClearOutput(), 1);  // stops a running graph first
    EXPECT_EQ(grabber_->GetState(), 3);
    grabber_->ReleaseGraph();
    EXPECT_EQ(grabber_->GetState(), 0);
    EXPECT_EQ(grabber_->Stop(), 0);
}

TEST_F(CdGrabberTest, PlaysAndMonitorsThroughTheSoundCard) {
    if (!quil::test::HavePulse()) GTEST_SKIP() << "no PulseAudio server";
    auto image = quil::test::WriteCdImage(dir_, "play", {{true, 0, 150, 440}});
    int letter = quil::test::MountImages({image.cue})[0];
    ASSERT_EQ(grabber_->CreateGraph(), 1);
    ASSERT_EQ(grabber_->SetDrive(letter), 1);
    grabber_->SetCurrentTrack(1);
    grabber_->SetWavFormat(33);
    ASSERT_EQ(grabber_->BuildOutput(0, 0, 5), 1);  // play only: the format is ignored
    int result = 0;
    auto text = Describe(grabber_, &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(text.rate, "44");
    EXPECT_EQ(text.bits, "16");
    EXPECT_EQ(text.channels, "Stereo");
    EXPECT_EQ(text.kind, "cd track");
    ASSERT_EQ(RipToEnd(), 1);
    grabber_->Stop();
    grabber_->ClearOutput();

    // A grab with monitoring: the level tap sits on the branch to the speakers.
    grabber_->SetOutputFile((dir_ / "monitored.wav").c_str());
    ASSERT_EQ(grabber_->BuildOutput(1, 1, 0), 1);
    int monitoring = 0;
    EXPECT_EQ(grabber_->IsMonitoring(&monitoring), 1);
    EXPECT_EQ(monitoring, 1);
    auto names = FilterNames(quil::engine::GraphOf(grabber_));
    EXPECT_TRUE(std::count(names.begin(), names.end(), L"SampleGrabber"));
    EXPECT_TRUE(std::count(names.begin(), names.end(), L"Audio PinTee"));
    ASSERT_EQ(grabber_->Run(), 1);
    int size = 0;
    for (int i = 0; i < 200 && size == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        grabber_->GetSample(nullptr, &size, nullptr);
    }
    EXPECT_GT(size, 0);
    std::vector<uint8_t> buffer(static_cast<size_t>(size) + 64);
    int bytes = static_cast<int>(buffer.size());
    PCMWAVEFORMAT format{};
    if (grabber_->GetSample(buffer.data(), &bytes, &format) == 1) {
        EXPECT_EQ(format.wFormatTag, 1);
        EXPECT_EQ(format.nSamplesPerSec, 11025u);
        EXPECT_EQ(format.wBitsPerSample, 8);
    }
    grabber_->Stop();
}

}  // namespace
