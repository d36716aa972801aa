// A live MP3 build on a computer without an MP3 encoder: the user is told, and nothing of the
// failed chain stays in the graph. A process of its own, since the missing encoder is
// registered before the stock filters.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/live/live_grabber_internal.h"
#include "platform/audio/dialog_services.h"
#include "platform/com/class_registry.h"
#include "platform/filters/class_ids.h"
#include "testsupport/pulse_server.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

HRESULT NoEncoder(REFIID, void** out) {
    if (out) *out = nullptr;
    return REGDB_E_CLASSNOTREG;
}

class MessageBoxes : public MessageBoxService {
public:
    MessageBoxes() { previous_ = SetMessageBoxService(this); }
    ~MessageBoxes() { SetMessageBoxService(previous_); }
    int Show(HWND owner, const char* text, const char* caption, UINT type) override {
        shown.push_back({owner, text, caption, type});
        return IDOK;
    }
    struct Box {
        HWND owner;
        std::string text, caption;
        UINT type;
    };
    std::vector<Box> shown;

private:
    MessageBoxService* previous_;
};

TEST(LiveGrabberWithoutMp3Encoder, Mp3BuildShowsTheBoxAndFails) {
    if (!HavePulse()) GTEST_SKIP() << "needs the private sound server (scripts/with-pulse)";
    static const ClassEntry missing[] = {{CLSID_Mp3Encoder, "Mp3 Encoder", &NoEncoder}};
    RegisterBuiltinClasses(missing);
    NullSink sink("noenc");
    auto* grabber = static_cast<LiveAudioGrabber*>(LiveAudioGrabberCreateInstance());
    ASSERT_NE(grabber, nullptr);
    MessageBoxes boxes;
    ASSERT_EQ(grabber->SelectDevice(sink.monitorDescription().c_str(), 0), 1);
    grabber->SetMp3Options(44100, 128, 0, 5, 0, 0, 0, 0);
    auto dir = MakeTempDir("noenc");
    EXPECT_EQ(grabber->BuildGraph(1, (dir / "out.mp3").c_str()), 0);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Create MP3 Encoder Filter Failed");
    EXPECT_EQ(boxes.shown[0].caption, "Quillet 3.0");
    EXPECT_EQ(boxes.shown[0].owner, nullptr);
    EXPECT_EQ(boxes.shown[0].type, MB_OK | MB_ICONERROR);
    EXPECT_EQ(grabber->GetState(), 0);
    // The capture filter and the level tap left the graph again.
    ComPtr<IEnumFilters> filters;
    ASSERT_EQ(engine::GraphOf(grabber)->EnumFilters(filters.Put()), S_OK);
    IBaseFilter* filter = nullptr;
    ULONG fetched = 0;
    EXPECT_NE(filters->Next(1, &filter, &fetched), S_OK);
    // Other formats do not tell the user anything.
    grabber->ReleaseGraph();
    ASSERT_EQ(grabber->SelectDevice(sink.monitorDescription().c_str(), 0), 1);
    EXPECT_EQ(grabber->BuildGraph(0, (dir / "out.wav").c_str()), 1);
    EXPECT_EQ(boxes.shown.size(), 1u);
    grabber->ReleaseGraph();
    grabber->Destroy();
}

}  // namespace
}  // namespace quil::test
