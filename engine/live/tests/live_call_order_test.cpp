// The live grabber's table called in random orders against the private sound server: every
// call answers 0 or 1, the state stays one of the four, nothing crashes (the sanitizer build runs
// this too), and a failed chain leaves no filter behind.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/live/live_grabber_internal.h"
#include "platform/graph/base_filter.h"
#include "platform/window/window.h"
#include "testsupport/pulse_server.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

constexpr UINT kLiveEvent = 2137;

std::vector<std::wstring> FilterNames(LiveAudioGrabber* grabber) {
    std::vector<std::wstring> names;
    IGraphBuilder* graph = engine::GraphOf(grabber);
    ComPtr<IEnumFilters> list;
    if (!graph || FAILED(graph->EnumFilters(list.Put()))) return names;
    IBaseFilter* filter = nullptr;
    ULONG fetched = 0;
    while (list->Next(1, &filter, &fetched) == S_OK && fetched == 1)
        names.push_back(FilterName(ComPtr<IBaseFilter>::Adopt(filter).Get()));
    return names;
}

TEST(LiveGrabberCallOrder, AFailedChainLeavesNoFilterBehind) {
    if (!HavePulse()) GTEST_SKIP() << "needs the private sound server (scripts/with-pulse)";
    NullSink sink("failedchain");
    auto dir = MakeTempDir("live_failed_chain");
    auto* grabber = static_cast<LiveAudioGrabber*>(LiveAudioGrabberCreateInstance());
    ASSERT_EQ(grabber->SelectDevice(sink.monitorDescription().c_str(), 0), 1);
    grabber->SetWmaProfile(9, "no such profile");
    EXPECT_EQ(grabber->BuildGraph(2, (dir / "out.wma").c_str()), 0);
    EXPECT_TRUE(FilterNames(grabber).empty());
    EXPECT_EQ(grabber->Run(), 0);
    grabber->ReleaseGraph();
    grabber->Destroy();
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wma") &&
                 std::filesystem::file_size(dir / "out.wma") > 0);
}

// A stop ends the recording for the caller: no completion event follows it as if the recording
// had ended on its own. How long Stop took is printed (the benchmark's business, not asserted).
TEST(LiveGrabberCallOrder, StopLeavesNoCompletionBehind) {
    if (!HavePulse()) GTEST_SKIP() << "needs the private sound server (scripts/with-pulse)";
    auto dir = MakeTempDir("live_stop");
    for (bool withTone : {true, false}) {
        SCOPED_TRACE(withTone ? "tone" : "idle sink");
        NullSink sink(withTone ? "stoptone" : "stopidle");
        std::optional<TonePlayer> tone;
        if (withTone) {
            tone.emplace(sink.name(), 1000.0);
            ASSERT_TRUE(tone->WaitAudible());
        }
        auto* grabber = static_cast<LiveAudioGrabber*>(LiveAudioGrabberCreateInstance());
        ASSERT_EQ(grabber->SelectDevice(sink.monitorDescription().c_str(), 0), 1);
        ASSERT_EQ(grabber->BuildGraph(0, (dir / "stop.wav").c_str()), 1);
        QueueWindow window;
        ASSERT_EQ(grabber->SetNotifyWindow(window.handle(), kLiveEvent), 1);
        ASSERT_EQ(grabber->Run(), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        auto stopping = std::chrono::steady_clock::now();
        ASSERT_EQ(grabber->Stop(), 1);
        double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - stopping).count();
        std::printf("Stop took %.3f s\n", took);
        long code, p1, p2;
        while (grabber->GetEvent(&code, &p1, &p2) == 1) EXPECT_NE(code, 1) << "EC_COMPLETE";
        grabber->ReleaseGraph();
        grabber->Destroy();
        WavData wav;
        ASSERT_TRUE(ReadWav(dir / "stop.wav", &wav));
        if (withTone) {
            EXPECT_GT(wav.dataSize, 176400u);
        }
    }
}

TEST(LiveGrabberCallOrder, RandomSequencesOfEveryOperationNeverCrash) {
    if (!HavePulse()) GTEST_SKIP() << "needs the private sound server (scripts/with-pulse)";
    NullSink sink("callorder");
    auto dir = MakeTempDir("live_order");
    QueueWindow window;
    const std::string devices[] = {sink.monitorDescription(), "No such device"};
    for (unsigned seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
        auto* grabber = static_cast<LiveAudioGrabber*>(LiveAudioGrabberCreateInstance());
        ASSERT_TRUE(grabber);
        for (int step = 0; step < 60; ++step) {
            int result = -1;
            long code, p1, p2;
            const char* name = nullptr;
            int id = 0;
            double level = 0;
            std::string output = (dir / ("out" + std::to_string(pick(3)))).string();
            switch (pick(12)) {
                case 0:
                    result = grabber->SelectDevice(devices[pick(4) == 0].c_str(), 0);
                    break;
                case 1:
                    result = grabber->BuildGraph(pick(6) - 1, output.c_str());
                    break;
                case 2:
                    result = grabber->Run();
                    break;
                case 3:
                    result = grabber->Pause();
                    break;
                case 4:
                    result = grabber->Stop();
                    break;
                case 5:
                    grabber->ReleaseGraph();
                    result = 1;
                    break;
                case 6:
                    result = grabber->SetNotifyWindow(window.handle(), kLiveEvent);
                    break;
                case 7:
                    result = grabber->GetEvent(&code, &p1, &p2);
                    while (window.Take(std::chrono::milliseconds(0))) {
                    }
                    break;
                case 8:
                    result = grabber->SetWavFormat(pick(40) - 2);
                    break;
                case 9:
                    result =
                        grabber->SetWmaProfile(pick(2) ? 7 : 9, pick(2) ? "no such profile" : "");
                    break;
                case 10:
                    result = grabber->GetEnabledInputLine(&name, &id, &level);
                    break;
                case 11:
                    result = grabber->SetMp3Options(pick(2) ? 44100 : 7, 128, 0, 5, 0, 0, 0, 0);
                    break;
            }
            ASSERT_TRUE(result == 0 || result == 1) << "step " << step << ": " << result;
            int state = grabber->GetState();
            ASSERT_TRUE(state >= 0 && state <= 3) << state;
        }
        grabber->ReleaseGraph();
        grabber->Destroy();
    }
}

}  // namespace
}  // namespace quil::test
