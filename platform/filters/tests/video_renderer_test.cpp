#include <chrono>
#include <mutex>

#include "platform/filters/class_ids.h"
#include "platform/filters/tests/media_test_util.h"
#include "platform/window/video_surface.h"
#include "platform/window/window.h"

namespace quil::test {
namespace {

struct Frame {
    int width, height, stride;
    REFERENCE_TIME time;
    uint32_t topLeft;
};

class TestSurface : public VideoSurface {
public:
    void PresentFrame(const uint8_t* rgb32, int width, int height, int stride,
                      REFERENCE_TIME time) override {
        uint32_t pixel;
        std::memcpy(&pixel, rgb32, 4);
        std::lock_guard lock(mutex_);
        frames_.push_back({width, height, stride, time, pixel});
    }
    std::vector<Frame> Frames() {
        std::lock_guard lock(mutex_);
        return frames_;
    }

private:
    std::mutex mutex_;
    std::vector<Frame> frames_;
};

std::string VideoOnlyFile() {
    return MediaFixture("video.mp4", VideoInput(2) + " -c:v libx264 -pix_fmt yuv420p -an");
}

ComPtr<IGraphBuilder> RenderedVideoGraph() {
    auto graph = NewGraph();
    auto source = AddSource(graph.Get(), VideoOnlyFile());
    EXPECT_TRUE(source);
    if (!source) return graph;
    EXPECT_EQ(CountOutputPins(source.Get()), 1);
    EXPECT_EQ(graph->Render(FindPinByIndex(source.Get(), PINDIR_OUTPUT, 1).Get()), S_OK);
    return graph;
}

// Frames are handed to the owner's surface when due: all of them, the right size, in order.
TEST(VideoRenderer, FramesReachTheOwnersSurfaceInTime) {
    QueueWindow owner;
    TestSurface surface;
    RegisterVideoSurface(owner.handle(), &surface);
    auto graph = RenderedVideoGraph();
    auto window = QueryAs<IVideoWindow>(graph.Get());
    ASSERT_EQ(window->put_Owner(reinterpret_cast<OAHWND>(owner.handle())), S_OK);
    ASSERT_EQ(window->put_AutoShow(0), S_OK);
    ASSERT_EQ(window->put_WindowState(0), S_OK);
    LONG width = 0, height = 0;
    EXPECT_EQ(QueryAs<IBasicVideo>(graph.Get())->get_VideoWidth(&width), S_OK);
    EXPECT_EQ(QueryAs<IBasicVideo>(graph.Get())->get_VideoHeight(&height), S_OK);
    EXPECT_EQ(width, 160);
    EXPECT_EQ(height, 120);

    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
    auto elapsed = std::chrono::steady_clock::now() - started;
    UnregisterVideoSurface(owner.handle());
    // Paced: the frames of two seconds take about two seconds.
    EXPECT_GT(elapsed, std::chrono::milliseconds(1700));

    auto frames = surface.Frames();
    ASSERT_GE(frames.size(), 48u);
    EXPECT_LE(frames.size(), 50u);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].width, 160);
        EXPECT_EQ(frames[i].height, 120);
        EXPECT_EQ(frames[i].stride, 640);
        EXPECT_EQ(frames[i].topLeft >> 24, 0xFFu);  // opaque
        if (i > 0) {
            EXPECT_NEAR(frames[i].time - frames[i - 1].time, 400'000, 1000) << i;
        }
    }
    EXPECT_LT(frames.front().time, 400'000);
}

// Without an owner nothing is shown, yet the frames are consumed at the stream's pace.
TEST(VideoRenderer, WithoutAnOwnerFramesAreDroppedInTime) {
    QueueWindow elsewhere;
    TestSurface surface;
    RegisterVideoSurface(elsewhere.handle(), &surface);
    auto graph = RenderedVideoGraph();
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
    EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1700));
    UnregisterVideoSurface(elsewhere.handle());
    EXPECT_TRUE(surface.Frames().empty());
}

TEST(VideoRenderer, KeepsTheWindowSettings) {
    filters::RegisterStockFilters();
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(renderer.Put())),
              S_OK);
    auto window = QueryAs<IVideoWindow>(renderer.Get());
    auto basic = QueryAs<IBasicVideo>(renderer.Get());
    ASSERT_TRUE(window && basic);
    LONG value = 0;
    EXPECT_EQ(basic->get_VideoWidth(&value), VFW_E_NOT_CONNECTED);

    QueueWindow owner, drain;
    EXPECT_EQ(window->put_Owner(reinterpret_cast<OAHWND>(owner.handle())), S_OK);
    EXPECT_EQ(window->put_MessageDrain(reinterpret_cast<OAHWND>(drain.handle())), S_OK);
    OAHWND handle = 0;
    EXPECT_EQ(window->get_Owner(&handle), S_OK);
    EXPECT_EQ(handle, reinterpret_cast<OAHWND>(owner.handle()));
    EXPECT_EQ(window->get_MessageDrain(&handle), S_OK);
    EXPECT_EQ(handle, reinterpret_cast<OAHWND>(drain.handle()));

    constexpr LONG kChildStyle = 0x40000000 | 0x04000000 | 0x02000000;
    EXPECT_EQ(window->put_WindowStyle(kChildStyle), S_OK);
    EXPECT_EQ(window->get_WindowStyle(&value), S_OK);
    EXPECT_EQ(value, kChildStyle);
    EXPECT_EQ(window->put_WindowStyle(0x08000000), E_INVALIDARG);  // WS_DISABLED
    EXPECT_EQ(window->put_WindowStyleEx(0x00000008), S_OK);
    EXPECT_EQ(window->get_WindowStyleEx(&value), S_OK);
    EXPECT_EQ(value, 0x00000008);

    EXPECT_EQ(window->put_Visible(-1), S_OK);
    EXPECT_EQ(window->put_WindowState(0), S_OK);
    EXPECT_EQ(window->get_Visible(&value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(window->put_AutoShow(0), S_OK);
    EXPECT_EQ(window->get_AutoShow(&value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(window->SetWindowForeground(-1), S_OK);
    EXPECT_EQ(window->SetWindowForeground(5), E_INVALIDARG);

    EXPECT_EQ(window->SetWindowPosition(10, 20, 320, 240), S_OK);
    LONG left, top, width, height;
    EXPECT_EQ(window->GetWindowPosition(&left, &top, &width, &height), S_OK);
    EXPECT_EQ(left, 10);
    EXPECT_EQ(top, 20);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
    EXPECT_EQ(window->SetWindowPosition(0, 0, 0, 0), S_OK);
}

}  // namespace
}  // namespace quil::test
