// The PulseAudio renderer against the private sound server: Stop and seeking take over from a
// renderer that is busy writing, and nothing of the stream is left on the server afterwards.

#include <unistd.h>

#include <functional>
#include <future>
#include <sstream>
#include <thread>

#include "platform/filters/tests/graph_test_util.h"
#include "platform/graph/sink_filter.h"
#include "testsupport/pulse_server.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

// Only detects a hang: the outcome is asserted, never how fast it came.
constexpr auto kHang = std::chrono::seconds(10);

// Playback streams this process has on the server.
int OwnSinkInputs() {
    std::string listing = Pactl("list sink-inputs");
    std::string mine = "application.process.id = \"" + std::to_string(getpid()) + "\"";
    int count = 0;
    for (size_t at = listing.find(mine); at != std::string::npos; at = listing.find(mine, at + 1))
        ++count;
    return count;
}

struct Playback {
    ComPtr<IGraphBuilder> graph = NewGraph();
    ComPtr<IBaseFilter> source;

    explicit Playback(const std::string& input) {
        source = AddSource(graph.Get(), input);
        EXPECT_EQ(graph->Render(FindPinByIndex(source.Get(), PINDIR_OUTPUT, 1).Get()), S_OK);
    }
    ComPtr<IMediaControl> Control() { return QueryAs<IMediaControl>(graph.Get()); }
    double Position() {
        REFTIME now = 0;
        QueryAs<IMediaPosition>(graph.Get())->get_CurrentPosition(&now);
        return now;
    }
    // Waits until the position passes `seconds` (false when it never does).
    bool PlayPast(double seconds) {
        auto deadline = std::chrono::steady_clock::now() + kHang;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Position() > seconds) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    // The sink the graph rendered into (the one filter that reports its pace).
    ComPtr<IBaseFilter> Renderer() {
        ComPtr<IEnumFilters> list;
        graph->EnumFilters(list.Put());
        IBaseFilter* filter = nullptr;
        ULONG fetched = 0;
        ComPtr<IBaseFilter> found;
        while (list->Next(1, &filter, &fetched) == S_OK && fetched == 1) {
            if (QueryAs<ISinkProgress>(filter)) found = ComPtr<IBaseFilter>(filter);
            filter->Release();
        }
        return found;
    }
};

// Runs `call` on another thread; false when it has not returned within kHang.
bool ReturnsWithoutHanging(std::function<HRESULT()> call, HRESULT* result) {
    auto done = std::async(std::launch::async, std::move(call));
    if (done.wait_for(kHang) != std::future_status::ready) {
        done.wait();  // the test fails, but the graph must not be destroyed under the call
        return false;
    }
    *result = done.get();
    return true;
}

class AudioRenderer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HavePulse()) GTEST_SKIP() << "needs the private sound server (scripts/with-pulse)";
        dir_ = MakeTempDir("renderer");
        input_ = (dir_ / "long.wav").string();
        ASSERT_TRUE(WriteSineWav(input_, 44100, 2, 30.0));
    }
    std::filesystem::path dir_;
    std::string input_;
};

TEST_F(AudioRenderer, StopDuringPlaybackReturnsAndLeavesNothingPlaying) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        Playback playback(input_);
        auto control = playback.Control();
        ASSERT_EQ(control->Run(), S_OK);
        ASSERT_TRUE(playback.PlayPast(0.3 + 0.2 * round));
        EXPECT_EQ(OwnSinkInputs(), 1);

        HRESULT stopped = E_FAIL;
        ASSERT_TRUE(ReturnsWithoutHanging([&] { return control->Stop(); }, &stopped));
        EXPECT_EQ(stopped, S_OK);
        OAFilterState state = State_Running;
        EXPECT_EQ(control->GetState(0, &state), S_OK);
        EXPECT_EQ(state, State_Stopped);
        auto renderer = playback.Renderer();
        ASSERT_TRUE(renderer);
        FILTER_STATE filterState = State_Running;
        EXPECT_EQ(renderer->GetState(0, &filterState), S_OK);
        EXPECT_EQ(filterState, State_Stopped);
        // The stream is gone from the server: nothing more of the file is played.
        EXPECT_EQ(OwnSinkInputs(), 0);
        // And it stays gone: no delivery thread writes on after Stop.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(OwnSinkInputs(), 0);
    }
}

TEST_F(AudioRenderer, SeekingWhilePlayingTakesOverAndPlaysOn) {
    Playback playback(input_);
    auto control = playback.Control();
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(playback.PlayPast(0.3));
    auto position = QueryAs<IMediaPosition>(playback.graph.Get());
    HRESULT sought = E_FAIL;
    ASSERT_TRUE(
        ReturnsWithoutHanging([&] { return position->put_CurrentPosition(20.0); }, &sought));
    EXPECT_EQ(sought, S_OK);
    EXPECT_GE(playback.Position(), 20.0);
    // Playback goes on from the new place.
    EXPECT_TRUE(playback.PlayPast(20.3));
    HRESULT stopped = E_FAIL;
    ASSERT_TRUE(ReturnsWithoutHanging([&] { return control->Stop(); }, &stopped));
    EXPECT_EQ(OwnSinkInputs(), 0);
}

TEST_F(AudioRenderer, PlaysToTheEndAndStopsAfterCompletion) {
    auto shortInput = (dir_ / "short.wav").string();
    ASSERT_TRUE(WriteSineWav(shortInput, 44100, 2, 0.7));
    Playback playback(shortInput);
    auto control = playback.Control();
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(WaitForEnd(playback.graph.Get()).code, EC_COMPLETE);
    EXPECT_GT(playback.Position(), 0.6);
    HRESULT stopped = E_FAIL;
    ASSERT_TRUE(ReturnsWithoutHanging([&] { return control->Stop(); }, &stopped));
    EXPECT_EQ(stopped, S_OK);
    EXPECT_EQ(OwnSinkInputs(), 0);
}

}  // namespace
}  // namespace quil::test
