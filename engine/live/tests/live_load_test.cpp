// A recording on a busy machine: two threads keep both processors busy while the live grabber
// records a tone. The file must hold the tone, for as long as the recording ran, with no audio
// reported lost.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "engine/live/live_grabber_internal.h"
#include "platform/audio/capture_interfaces.h"
#include "platform/graph/base_filter.h"
#include "testsupport/pulse_server.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

constexpr double kTone = 1000.0;

class BusyThreads {
public:
    explicit BusyThreads(int count) {
        for (int i = 0; i < count; ++i)
            threads_.emplace_back([this] {
                volatile uint64_t spin = 0;
                while (!stop_) spin = spin + 1;
            });
    }
    ~BusyThreads() {
        stop_ = true;
        for (auto& thread : threads_) thread.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

TEST(LiveGrabberUnderLoad, RecordsTheWholeToneWhileTwoThreadsKeepTheMachineBusy) {
    if (!HavePulse()) GTEST_SKIP() << "needs the private sound server (scripts/with-pulse)";
    NullSink sink("load");
    TonePlayer tone(sink.name(), kTone);
    ASSERT_TRUE(tone.WaitAudible());
    auto dir = MakeTempDir("load");
    auto output = dir / "busy.wav";
    double ran = 0;
    ULONG overruns = 99;
    LONGLONG lost = -1;
    {
        auto* grabber = static_cast<LiveAudioGrabber*>(LiveAudioGrabberCreateInstance());
        ASSERT_EQ(grabber->SelectDevice(sink.monitorDescription().c_str(), 0), 1);
        ASSERT_EQ(grabber->BuildGraph(0, output.c_str()), 1);
        auto capture = FindPinByIndex(engine::CaptureDeviceOf(grabber), PINDIR_OUTPUT, 1);
        auto control = QueryAs<IAudioCaptureControl>(capture.Get());
        ASSERT_TRUE(control);
        BusyThreads busy(2);
        auto started = std::chrono::steady_clock::now();
        ASSERT_EQ(grabber->Run(), 1);
        std::this_thread::sleep_for(std::chrono::seconds(4));
        auto stopping = std::chrono::steady_clock::now();
        control->GetOverruns(&overruns, &lost);
        ASSERT_EQ(grabber->Stop(), 1);
        ran = std::chrono::duration<double>(stopping - started).count();
        grabber->ReleaseGraph();
        grabber->Destroy();
    }
    EXPECT_EQ(overruns, 0u);
    EXPECT_EQ(lost, 0);
    auto decoded = DecodeAudio(output);
    ASSERT_TRUE(decoded);
    double seconds = static_cast<double>(decoded->samples.size()) / decoded->rate;
    EXPECT_NEAR(seconds, ran, 0.15);
    // The tone starts once the monitor's first block arrives; judge the second half.
    std::vector<int16_t> late(decoded->samples.begin() + decoded->samples.size() / 2,
                              decoded->samples.end() - decoded->rate / 10);
    EXPECT_NEAR(ToneFrequency(late, decoded->rate), kTone, 10);
    EXPECT_GT(Rms16(reinterpret_cast<const uint8_t*>(late.data()), late.size() * 2), 0.1);
}

}  // namespace
}  // namespace quil::test
