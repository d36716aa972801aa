// The live grabber driven through its factory and table, as the live recording page does,
// against the private sound server.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/live/live_grabber_internal.h"
#include "platform/audio/dialog_services.h"
#include "platform/graph/base_filter.h"
#include "testsupport/pulse_server.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

constexpr int kWav = 0, kMp3 = 1, kWma = 2, kOgg = 3;
constexpr long kDeviceLost = 31;
constexpr UINT kLiveEvent = 2137;
constexpr double kTone = 1000.0;

#define NEED_PULSE() \
    if (!HavePulse()) GTEST_SKIP() << "needs the private sound server (scripts/with-pulse)"

struct Grabber {
    LiveAudioGrabber* g = static_cast<LiveAudioGrabber*>(LiveAudioGrabberCreateInstance());
    ~Grabber() {
        g->ReleaseGraph();
        g->Destroy();
    }
    LiveAudioGrabber* operator->() { return g; }
};

std::vector<std::wstring> FilterNames(Grabber& grabber) {
    std::vector<std::wstring> names;
    IGraphBuilder* graph = engine::GraphOf(grabber.g);
    ComPtr<IEnumFilters> list;
    if (!graph || FAILED(graph->EnumFilters(list.Put()))) return names;
    IBaseFilter* filter = nullptr;
    ULONG fetched = 0;
    while (list->Next(1, &filter, &fetched) == S_OK && fetched == 1)
        names.push_back(FilterName(ComPtr<IBaseFilter>::Adopt(filter).Get()));
    return names;
}

ComPtr<IAMStreamConfig> CaptureConfig(Grabber& grabber) {
    auto pin = FindPinByIndex(engine::CaptureDeviceOf(grabber.g), PINDIR_OUTPUT, 1);
    return QueryAs<IAMStreamConfig>(pin.Get());
}

WAVEFORMATEX PinFormat(Grabber& grabber) {
    WAVEFORMATEX format{};
    AM_MEDIA_TYPE* type = nullptr;
    if (auto config = CaptureConfig(grabber); config && SUCCEEDED(config->GetFormat(&type))) {
        std::memcpy(&format, type->pbFormat, sizeof format);
        DeleteMediaType(type);
    }
    return format;
}

// Waits until the level tap holds audio louder than silence; the test server's fresh null
// sinks hand over their first block only after up to two seconds.
bool WaitForSound(Grabber& grabber, PCMWAVEFORMAT* format = nullptr) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        int size = 0;
        if (grabber->GetSample(nullptr, &size, nullptr) == 1 && size > 0) {
            std::vector<uint8_t> buffer(static_cast<size_t>(size));
            PCMWAVEFORMAT got{};
            if (grabber->GetSample(buffer.data(), &size, &got) == 1 &&
                Rms16(buffer.data(), static_cast<size_t>(size)) > 0.1) {
                if (format) *format = got;
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Records for about `seconds` of running time; returns the time between Run and Stop.
double RecordFor(Grabber& grabber, double seconds) {
    auto started = std::chrono::steady_clock::now();
    if (grabber->Run() != 1) return -1;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    auto stopping = std::chrono::steady_clock::now();
    if (grabber->Stop() != 1) return -1;
    return std::chrono::duration<double>(stopping - started).count();
}

class Chooser : public FormatChooser {
public:
    explicit Chooser(bool confirm, WAVEFORMATEX pick = {}) : confirm_(confirm), pick_(pick) {
        previous_ = SetFormatChooser(this);
    }
    ~Chooser() { SetFormatChooser(previous_); }
    bool Choose(HWND, std::span<const WAVEFORMATEX> formats, const WAVEFORMATEX& current,
                WAVEFORMATEX* chosen) override {
        offered = static_cast<int>(formats.size());
        started = current;
        if (confirm_) *chosen = pick_;
        return confirm_;
    }
    int offered = -1;
    WAVEFORMATEX started{};

private:
    bool confirm_;
    WAVEFORMATEX pick_;
    FormatChooser* previous_;
};

TEST(LiveGrabberLifecycle, CallsWithoutDeviceOrGraphFail) {
    Grabber grabber;
    long code, p1, p2;
    EXPECT_EQ(grabber->GetState(), 0);
    EXPECT_EQ(grabber->SetNotifyWindow(nullptr, kLiveEvent), 0);
    EXPECT_EQ(grabber->GetEvent(&code, &p1, &p2), 0);
    EXPECT_EQ(grabber->Run(), 0);
    EXPECT_EQ(grabber->Pause(), 0);
    EXPECT_EQ(grabber->Stop(), 0);
    EXPECT_EQ(grabber->BuildGraph(kWav, nullptr), 0);
    auto dir = MakeTempDir("nodevice");
    EXPECT_EQ(grabber->BuildGraph(kWav, (dir / "x.wav").c_str()), 0);
    EXPECT_EQ(grabber->GetState(), 0);
    grabber->ReleaseGraph();
    EXPECT_EQ(grabber->ShowDeviceProperties(), 0);
    EXPECT_EQ(grabber->ChooseCaptureFormat(nullptr), 0);
    EXPECT_EQ(grabber->GetInputLines()->count, 0);
    const char* name = nullptr;
    int id = -1;
    double level = -1;
    EXPECT_EQ(grabber->GetEnabledInputLine(&name, &id, &level), 0);
    EXPECT_EQ(grabber->EnableInputLineByIndex(0, 1), 0);
    EXPECT_EQ(grabber->SetInputLevel(0.5), 0);
    int index = -1;
    EXPECT_EQ(grabber->GetWavFormat(&index), 1);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(grabber->FreeEventParams(0, 0, 0), 1);
    int progress = 77;
    EXPECT_EQ(grabber->CopyCaptureFile((dir / "copy.avi").c_str()), 0);
    EXPECT_EQ(grabber->GetCopyProgress(&progress), 1);
    EXPECT_EQ(progress, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.wav"));
}

TEST(LiveGrabberDevices, ListsSourcesWithMonitorsAndEndsCleanly) {
    NEED_PULSE();
    NullSink sink("list");
    ASSERT_TRUE(sink.Loaded());
    Grabber grabber;
    ASSERT_EQ(grabber->BeginDeviceEnumeration(), 1);
    std::vector<std::string> names;
    const char* name = nullptr;
    const char* last = nullptr;
    while (grabber->NextDeviceName(&name)) {
        names.push_back(name);
        last = name;
    }
    ASSERT_NE(last, nullptr);
    // After the end the last name stays readable.
    EXPECT_EQ(grabber->NextDeviceName(&name), 0);
    EXPECT_EQ(std::string(last), names.back());
    EXPECT_NE(std::find(names.begin(), names.end(), "Monitor of Null Output"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), sink.monitorDescription()), names.end());
    for (const auto& n : names) EXPECT_LE(n.size(), 79u);
    // Every name is unique, so selection by name finds each device.
    auto sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
}

TEST(LiveGrabberDevices, SelectionIsExactAndKeepsThePreviousDeviceOnFailure) {
    NEED_PULSE();
    NullSink sink("select");
    Grabber grabber;
    std::string wanted = sink.monitorDescription();
    ASSERT_EQ(grabber->SelectDevice(wanted.c_str(), 0), 1);
    IBaseFilter* selected = engine::CaptureDeviceOf(grabber.g);
    ASSERT_NE(selected, nullptr);
    std::string upper = wanted;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    EXPECT_EQ(grabber->SelectDevice(upper.c_str(), 0), 0);
    EXPECT_EQ(grabber->SelectDevice("No such device", 0), 0);
    EXPECT_EQ(engine::CaptureDeviceOf(grabber.g), selected);

    // A source without ports has one line, named after the device.
    const InputLineList* lines = grabber->GetInputLines();
    ASSERT_EQ(lines->count, 1);
    EXPECT_EQ(lines->lines[0].id, 0);
    EXPECT_EQ(std::string(lines->lines[0].name), wanted);
    EXPECT_NE(lines->lines[0].mixer, nullptr);
    EXPECT_EQ(lines->lines[0].enabled, 1);
    EXPECT_EQ(grabber->EnableInputLineByName(upper.c_str(), 1), 0);
    EXPECT_EQ(grabber->EnableInputLineByName(wanted.c_str(), 1), 1);
    EXPECT_EQ(grabber->EnableInputLineByIndex(1, 1), 0);

    // A device unplugged after the listing cannot be selected.
    std::string gone = sink.monitorDescription();
    sink.Unload();
    Grabber late;
    EXPECT_EQ(late->SelectDevice(gone.c_str(), 0), 0);
}

TEST(LiveGrabberLines, LevelAndEnableActOnTheServer) {
    NEED_PULSE();
    NullSink sink("levels");
    Grabber grabber;
    ASSERT_EQ(grabber->SelectDevice(sink.monitorDescription().c_str(), 0), 1);
    ASSERT_EQ(grabber->SetInputLevel(0.5), 1);
    EXPECT_EQ(SourceVolume(sink.monitor()), 32768u);
    const char* name = nullptr;
    int id = -1;
    double level = -1;
    ASSERT_EQ(grabber->GetEnabledInputLine(&name, &id, &level), 1);
    EXPECT_EQ(std::string(name), sink.monitorDescription());
    EXPECT_EQ(id, 0);
    EXPECT_NEAR(level, 0.5, 1e-4);
    Pactl("set-source-volume " + sink.monitor() + " 16384");
    ASSERT_EQ(grabber->GetEnabledInputLine(&name, &id, &level), 1);
    EXPECT_NEAR(level, 0.25, 1e-4);
    EXPECT_EQ(grabber->SetInputLevel(1.5), 0);  // outside 0..1
    EXPECT_EQ(SourceVolume(sink.monitor()), 16384u);

    // Turning the only line off silences the source; with no line enabled the level stays.
    ASSERT_EQ(grabber->EnableInputLineByIndex(0, 0), 1);
    EXPECT_EQ(SourceMute(sink.monitor()), true);
    EXPECT_EQ(grabber->GetEnabledInputLine(&name, &id, &level), 0);
    EXPECT_EQ(grabber->SetInputLevel(0.9), 0);
    EXPECT_EQ(SourceVolume(sink.monitor()), 16384u);
    ASSERT_EQ(grabber->EnableInputLineByName(sink.monitorDescription().c_str(), 1), 1);
    EXPECT_EQ(SourceMute(sink.monitor()), false);
}

TEST(LiveGrabberBuild, WavWithIndex35Applies8kMono8Bit) {
    NEED_PULSE();
    NullSink sink("wav35");
    Grabber grabber;
    ASSERT_EQ(grabber->SelectDevice(sink.monitorDescription().c_str(), 0), 1);
    grabber->SetWavFormat(35);
    auto dir = MakeTempDir("wav35");
    ASSERT_EQ(grabber->BuildGraph(kWav, (dir / "out.wav").c_str()), 1);
    EXPECT_EQ(grabber->GetState(), 3);
    PCMWAVEFORMAT format{};
    EXPECT_EQ(grabber->GetCaptureFormat(&format), 1);
    EXPECT_EQ(format.wFormatTag, 1);
    EXPECT_EQ(format.nSamplesPerSec, 8000u);
    EXPECT_EQ(format.nChannels, 1);
    EXPECT_EQ(format.wBitsPerSample, 8);
    EXPECT_EQ(format.nBlockAlign, 1);
    EXPECT_EQ(format.nAvgBytesPerSec, 8000u);
    WAVEFORMATEX pin = PinFormat(grabber);
    EXPECT_EQ(pin.nSamplesPerSec, 8000u);
    EXPECT_EQ(pin.wBitsPerSample, 8);
    auto names = FilterNames(grabber);
    for (const wchar_t* wanted :
         {L"Audio Capture Filter", L"SampleGrabber", L"Wave Dest", L"File Writer"})
        EXPECT_NE(std::find(names.begin(), names.end(), wanted), names.end());
    EXPECT_EQ(grabber->BuildGraph(kWav, (dir / "again.wav").c_str()), 0);  // one graph at a time

    // The 2048-byte buffers asked for after the WAV chain are used once streaming starts.
    ASSERT_EQ(grabber->Run(), 1);
    auto capture = FindPinByIndex(engine::CaptureDeviceOf(grabber.g), PINDIR_OUTPUT, 1);
    auto negotiation = QueryAs<IAMBufferNegotiation>(capture.Get());
    ASSERT_TRUE(negotiation);
    ALLOCATOR_PROPERTIES props{};
    ASSERT_EQ(negotiation->GetAllocatorProperties(&props), S_OK);
    EXPECT_EQ(props.cbBuffer, 2048);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(grabber->Stop(), 1);
    grabber->ReleaseGraph();
    WavData wav;
    ASSERT_TRUE(ReadWav(dir / "out.wav", &wav));
    EXPECT_EQ(wav.rate, 8000);
    EXPECT_EQ(wav.channels, 1);
    EXPECT_EQ(wav.bits, 8);
}

TEST(LiveGrabberBuild, Mp3SampleRateSelectsTheCaptureFormat) {
    NEED_PULSE();
    NullSink sink("mp3rate");
    auto dir = MakeTempDir("mp3rate");
    struct Case {
        int rate;
        int index;
        DWORD captureRate;
    } cases[] = {{44100, 2, 44100}, {11025, 2, 44100}, {22050, 8, 22050}, {48000, 0, 48000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        Grabber grabber;
        ASSERT_EQ(grabber->SelectDevice(sink.monitorDescription().c_str(), 0), 1);
        grabber->SetWavFormat(35);
        grabber->SetMp3Options(c.rate, 128, 0, 5, 0, 0, 0, 0);
        ASSERT_EQ(grabber->BuildGraph(kMp3, (dir / "out.mp3").c_str()), 1);
        int index = -1;
        grabber->GetWavFormat(&index);
        EXPECT_EQ(index, c.index);
        PCMWAVEFORMAT format{};
        grabber->GetCaptureFormat(&format);
        EXPECT_EQ(format.nSamplesPerSec, c.captureRate);
        EXPECT_EQ(format.nChannels, 2);
        EXPECT_EQ(format.wBitsPerSample, 16);
    }
}

TEST(LiveGrabberBuild, UnknownFormatFailsAndLeavesNoFile) {
    NEED_PULSE();
    NullSink sink("unknown");
    Grabber grabber;
    ASSERT_EQ(grabber->SelectDevice(sink.monitorDescription().c_str(), 0), 1);
    auto dir = MakeTempDir("unknown");
    EXPECT_EQ(grabber->BuildGraph(7, (dir / "out.x").c_str()), 0);
    EXPECT_EQ(grabber->GetState(), 0);
    EXPECT_TRUE(FilterNames(grabber).empty());
}

TEST(LiveGrabberFormatChooser, CancelKeepsTheFormatAndConfirmRebuildsTheChain) {
    NEED_PULSE();
    NullSink sink("chooser");
    TonePlayer tone(sink.name(), kTone);
    ASSERT_TRUE(tone.WaitAudible());
    auto dir = MakeTempDir("chooser");
    Grabber grabber;
    ASSERT_EQ(grabber->SelectDevice(sink.monitorDescription().c_str(), 0), 1);
    EXPECT_EQ(grabber->ChooseCaptureFormat(nullptr), 0);  // no graph builder yet
    ASSERT_EQ(grabber->BuildGraph(kWav, (dir / "out.wav").c_str()), 1);
    // No chooser installed: the same as a cancel.
    EXPECT_EQ(grabber->ChooseCaptureFormat(nullptr), 1);
    EXPECT_EQ(PinFormat(grabber).nSamplesPerSec, 44100u);
    {
        Chooser cancel(false);
        EXPECT_EQ(grabber->ChooseCaptureFormat(nullptr), 1);
        EXPECT_EQ(cancel.offered, 36);
        EXPECT_EQ(cancel.started.nSamplesPerSec, 44100u);
        EXPECT_EQ(PinFormat(grabber).nSamplesPerSec, 44100u);
    }
    WAVEFORMATEX pick = MakePcmFormat(22050, 1, 16);
    {
        Chooser confirm(true, pick);
        EXPECT_EQ(grabber->ChooseCaptureFormat(nullptr), 1);
    }
    EXPECT_EQ(PinFormat(grabber).nSamplesPerSec, 22050u);
    EXPECT_EQ(PinFormat(grabber).nChannels, 1);
    ASSERT_GT(RecordFor(grabber, 1.0), 0);
    grabber->ReleaseGraph();
    // The file says what its samples are.
    auto decoded = DecodeAudio(dir / "out.wav");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->rate, 22050);
    EXPECT_EQ(decoded->channels, 1);
    EXPECT_NEAR(ToneFrequency(decoded->samples, decoded->rate), kTone, 15);
}

TEST(LiveGrabberRecording, EachFormatRecordsTheToneForTheTimeItRan) {
    NEED_PULSE();
    NullSink sink("formats");
    TonePlayer tone(sink.name(), kTone);
    ASSERT_TRUE(tone.WaitAudible());
    auto dir = MakeTempDir("formats");
    struct Case {
        int format;
        const char* file;
        const char* codec;
    } cases[] = {{kWav, "out.wav", "pcm_s16le"},
                 {kMp3, "out.mp3", "mp3"},
                 {kWma, "out.wma", "wmav2"},
                 {kOgg, "out.ogg", "vorbis"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto output = dir / c.file;
        double ran = 0, ranAtMost = 0;
        {
            Grabber grabber;
            ASSERT_EQ(grabber->SelectDevice(sink.monitorDescription().c_str(), 0), 1);
            grabber->SetMp3Options(44100, 128, 0, 5, 0, 0, 0, 0);
            grabber->SetWmaProfile(9, "CD quality: 128 kbps, 44 kHz, stereo");
            grabber->SetOggOptions(2, 6.0f, 0, 0, 0);
            ASSERT_EQ(grabber->BuildGraph(c.format, output.c_str()), 1);
            QueueWindow window;
            ASSERT_EQ(grabber->SetNotifyWindow(window.handle(), kLiveEvent), 1);
            auto starting = std::chrono::steady_clock::now();
            ASSERT_EQ(grabber->Run(), 1);
            auto started = std::chrono::steady_clock::now();
            PCMWAVEFORMAT format{};
            ASSERT_TRUE(WaitForSound(grabber, &format));
            EXPECT_EQ(format.nSamplesPerSec, 44100u);
            EXPECT_EQ(format.nChannels, 2);
            int size = 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            auto stopping = std::chrono::steady_clock::now();
            ASSERT_EQ(grabber->Stop(), 1);
            auto stopped = std::chrono::steady_clock::now();
            // The recording spans at least the time between the calls and at most the time
            // around them (a busy machine may take long in Run or Stop).
            ran = std::chrono::duration<double>(stopping - started).count();
            ranAtMost = std::chrono::duration<double>(stopped - starting).count();
            EXPECT_EQ(grabber->GetSample(nullptr, &size, nullptr), 0);  // only while running
        }
        auto decoded = DecodeAudio(output);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->codec, c.codec);
        EXPECT_EQ(decoded->rate, 44100);
        EXPECT_EQ(decoded->channels, 2);
        double seconds = static_cast<double>(decoded->samples.size()) / decoded->rate;
        EXPECT_GT(seconds, ran - 0.1);
        EXPECT_LT(seconds, ranAtMost + 0.1);
        EXPECT_GT(Rms16(reinterpret_cast<const uint8_t*>(decoded->samples.data()),
                        decoded->samples.size() * 2),
                  0.1);
        // The middle of the recording: lossy codecs smear the first and last frame.
        size_t tenth = decoded->samples.size() / 10;
        std::vector<int16_t> middle(decoded->samples.begin() + tenth,
                                    decoded->samples.end() - tenth);
        EXPECT_NEAR(ToneFrequency(middle, decoded->rate), kTone, 10);
    }
}

TEST(LiveGrabberRecording, PauseHoldsTheRecordingAndStopNeedsRunning) {
    NEED_PULSE();
    NullSink sink("pause");
    TonePlayer tone(sink.name(), kTone);
    ASSERT_TRUE(tone.WaitAudible());
    auto dir = MakeTempDir("pause");
    Grabber grabber;
    ASSERT_EQ(grabber->SelectDevice(sink.monitorDescription().c_str(), 0), 1);
    ASSERT_EQ(grabber->BuildGraph(kWav, (dir / "out.wav").c_str()), 1);
    EXPECT_EQ(grabber->Stop(), 0);  // stopped with a graph: only a running recording stops
    using Clock = std::chrono::steady_clock;
    auto ranFrom = Clock::now();
    ASSERT_EQ(grabber->Run(), 1);
    EXPECT_EQ(grabber->Run(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ASSERT_EQ(grabber->Pause(), 1);
    std::chrono::duration<double> ran = Clock::now() - ranFrom;
    EXPECT_EQ(grabber->GetState(), 2);
    EXPECT_EQ(grabber->Pause(), 0);
    EXPECT_EQ(grabber->Stop(), 0);  // a paused recording is not stopped
    EXPECT_EQ(grabber->GetState(), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ranFrom = Clock::now();
    ASSERT_EQ(grabber->Run(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ASSERT_EQ(grabber->Stop(), 1);
    ran += Clock::now() - ranFrom;
    EXPECT_EQ(grabber->GetState(), 3);
    grabber->ReleaseGraph();
    EXPECT_EQ(grabber->GetState(), 0);
    WavData wav;
    ASSERT_TRUE(ReadWav(dir / "out.wav", &wav));
    // The file holds the running time as measured around the calls; the second of pause
    // (longer than any capture latency) is not in it.
    double seconds = wav.dataSize / 176400.0;
    // Stopped between two of its once-a-second updates, the header still states every byte.
    EXPECT_EQ(wav.dataSize + 44, std::filesystem::file_size(dir / "out.wav"));
    EXPECT_GT(seconds, 1.2);
    EXPECT_LT(seconds, ran.count() + 0.5);
}

TEST(LiveGrabberDeviceLoss, LostDeviceIsReportedAndTheFileStaysValid) {
    NEED_PULSE();
    auto sink = std::make_unique<NullSink>("lost");
    TonePlayer tone(sink->name(), kTone);
    ASSERT_TRUE(tone.WaitAudible());
    auto dir = MakeTempDir("lost");
    Grabber grabber;
    ASSERT_EQ(grabber->SelectDevice(sink->monitorDescription().c_str(), 0), 1);
    ASSERT_EQ(grabber->BuildGraph(kWav, (dir / "out.wav").c_str()), 1);
    QueueWindow window;
    ASSERT_EQ(grabber->SetNotifyWindow(window.handle(), kLiveEvent), 1);
    ASSERT_EQ(grabber->Run(), 1);
    ASSERT_TRUE(WaitForSound(grabber));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    sink->Unload();
    bool lost = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!lost && std::chrono::steady_clock::now() < deadline) {
        if (!window.Take(std::chrono::milliseconds(200))) continue;
        long code, p1, p2;
        while (grabber->GetEvent(&code, &p1, &p2)) {
            grabber->FreeEventParams(code, p1, p2);
            if (code == kDeviceLost && p2 == 0) lost = true;
        }
    }
    EXPECT_TRUE(lost);
    // What the page does on that event: stop, release, destroy.
    EXPECT_EQ(grabber->Stop(), 1);
    grabber->ReleaseGraph();
    WavData wav;
    ASSERT_TRUE(ReadWav(dir / "out.wav", &wav));
    EXPECT_EQ(wav.dataSize, wav.data.size());
    EXPECT_GT(wav.dataSize / 176400.0, 1.0);
    EXPECT_GT(Rms16(wav.data.data(), wav.data.size()), 0.1);
}

TEST(LiveGrabberDeviceLoss, ADeviceThatComesBackIsReportedAndRecordedAgain) {
    NEED_PULSE();
    NullSource source("back");
    ASSERT_TRUE(source.Load());
    auto dir = MakeTempDir("back");
    Grabber grabber;
    ASSERT_EQ(grabber->SelectDevice(source.description().c_str(), 0), 1);
    ASSERT_EQ(grabber->BuildGraph(kWav, (dir / "out.wav").c_str()), 1);
    QueueWindow window;
    ASSERT_EQ(grabber->SetNotifyWindow(window.handle(), kLiveEvent), 1);
    ASSERT_EQ(grabber->Run(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    source.Unload();
    std::vector<long> seen;
    auto collect = [&](int seconds, long wanted) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!window.Take(std::chrono::milliseconds(200))) continue;
            long code, p1, p2;
            while (grabber->GetEvent(&code, &p1, &p2))
                if (code == kDeviceLost) seen.push_back(p2);
            if (!seen.empty() && seen.back() == wanted) return;
        }
    };
    collect(5, 0);
    ASSERT_EQ(seen, std::vector<long>{0});
    ASSERT_TRUE(source.Load());
    collect(5, 1);
    EXPECT_EQ(seen, (std::vector<long>{0, 1}));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(grabber->Stop(), 1);
    grabber->ReleaseGraph();
    WavData wav;
    ASSERT_TRUE(ReadWav(dir / "out.wav", &wav));
    EXPECT_GT(wav.dataSize / 176400.0, 0.8);
}

TEST(LiveGrabberProperties, PagesNeedAFrameService) {
    NEED_PULSE();
    NullSink sink("pages");
    Grabber grabber;
    ASSERT_EQ(grabber->SelectDevice(sink.monitorDescription().c_str(), 0), 1);
    EXPECT_EQ(grabber->ShowDeviceProperties(), 0);  // no frame service installed
    struct Frames : PropertyFrameService {
        HRESULT Show(HWND owner, int x, int y, const wchar_t* caption, IUnknown* object,
                     std::span<const CLSID> pages) override {
            this->owner = owner;
            position = {x, y};
            this->caption = caption;
            this->object = object;
            count = pages.size();
            return S_OK;
        }
        HWND owner = nullptr;
        std::pair<int, int> position;
        const wchar_t* caption = L"x";
        IUnknown* object = nullptr;
        size_t count = 0;
    } frames;
    auto* previous = SetPropertyFrameService(&frames);
    EXPECT_EQ(grabber->ShowDeviceProperties(), 1);
    SetPropertyFrameService(previous);
    EXPECT_EQ(frames.position, std::make_pair(30, 30));
    EXPECT_EQ(frames.caption, nullptr);
    EXPECT_EQ(frames.object, engine::CaptureDeviceOf(grabber.g));
    EXPECT_EQ(frames.count, 1u);
}

}  // namespace
}  // namespace quil::test
