// What the media-file grabber leaves in its graph for video files, monitoring and play-only.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/media/file_grabber_internal.h"
#include "platform/com/class_registry.h"
#include "platform/filters/class_ids.h"
#include "platform/graph/base_filter.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

struct Grabber {
    FileAudioGrabber* g = static_cast<FileAudioGrabber*>(FileAudioGrabberCreateInstance());
    ~Grabber() {
        g->ReleaseGraph();
        g->Destroy();
    }
    FileAudioGrabber* operator->() { return g; }
};

struct GraphContents {
    std::vector<std::wstring> names;
    std::vector<CLSID> classes;
    bool Has(const wchar_t* name) const {
        return std::find(names.begin(), names.end(), name) != names.end();
    }
    bool HasClass(const CLSID& clsid) const {
        return std::find(classes.begin(), classes.end(), clsid) != classes.end();
    }
    // Filters that carry video (a decoder or renderer with a video pin).
    int videoFilters = 0;
};

GraphContents Contents(FileAudioGrabber* grabber) {
    GraphContents contents;
    IGraphBuilder* graph = engine::GraphOf(grabber);
    if (!graph) return contents;
    ComPtr<IEnumFilters> list;
    graph->EnumFilters(list.Put());
    IBaseFilter* filter = nullptr;
    ULONG fetched = 0;
    while (list->Next(1, &filter, &fetched) == S_OK && fetched == 1) {
        auto held = ComPtr<IBaseFilter>::Adopt(filter);
        contents.names.push_back(FilterName(held.Get()));
        CLSID clsid{};
        held->GetClassID(&clsid);
        contents.classes.push_back(clsid);
        bool video = false;
        for (int n = 1; auto pin = FindPinByIndex(held.Get(), PINDIR_INPUT, n); ++n) {
            MediaType type;
            if (SUCCEEDED(pin->ConnectionMediaType(&type)) && type.majortype == MEDIATYPE_Video)
                video = true;
        }
        if (video) ++contents.videoFilters;
    }
    return contents;
}

std::string MakeVideo(const std::string& name, bool withAudio) {
    auto path = (TestDir() / name).string();
    std::string command = "ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=2 ";
    if (withAudio) command += "-f lavfi -i sine=frequency=440:duration=2 -c:a libvorbis ";
    command += "-c:v libvpx -b:v 200k -deadline realtime '" + path + "'";
    if (RunCommand(command) != 0) return {};
    return path;
}

TEST(FileGrabberGraph, KeepVideoZeroRemovesTheWholeVideoPath) {
    auto video = MakeVideo("clip.webm", true);
    ASSERT_FALSE(video.empty());
    auto output = (TestDir() / "clip.wav").string();
    Grabber grabber;
    ASSERT_EQ(grabber->Open(0, 0, 0, video.c_str(), output.c_str(), 0, 0), 1);
    int hasAudio = 0, hasVideo = 0, unused = 0;
    grabber->GetStreamPresence(&hasAudio, &unused, &hasVideo, &unused);
    EXPECT_EQ(hasAudio, 1);
    EXPECT_EQ(hasVideo, 1);
    auto contents = Contents(grabber.g);
    EXPECT_FALSE(contents.Has(L"Video Renderer"));
    EXPECT_EQ(contents.videoFilters, 0);  // no video decoder left either
    EXPECT_FALSE(contents.HasClass(CLSID_DSoundRender));  // no monitoring: no renderer
    EXPECT_FALSE(contents.Has(L"SampleGrabber"));
    EXPECT_TRUE(contents.Has(L"Wave Dest"));
    EXPECT_TRUE(contents.Has(L"File Writer"));
    EXPECT_TRUE(contents.Has(L"Stream Queue"));  // decoding and writing on two threads
}

TEST(FileGrabberGraph, KeepVideoOneKeepsTheVideoPathConnected) {
    auto video = MakeVideo("keep.webm", true);
    ASSERT_FALSE(video.empty());
    auto output = (TestDir() / "keep.wav").string();
    Grabber grabber;
    ASSERT_EQ(grabber->Open(0, 0, 0, video.c_str(), output.c_str(), 0, 1), 1);
    auto contents = Contents(grabber.g);
    EXPECT_TRUE(contents.Has(L"Video Renderer"));
    EXPECT_GE(contents.videoFilters, 1);
}

TEST(FileGrabberGraph, MonitoringKeepsTheRendererAndTheTap) {
    auto input = (TestDir() / "tone.wav").string();
    ASSERT_TRUE(WriteSineWav(input, 44100, 2, 1.0));
    auto output = (TestDir() / "tone-out.mp3").string();
    Grabber grabber;
    grabber->SetMp3Options(44100, 128, 0, 5, 0, 0, 0, 0);
    ASSERT_EQ(grabber->Open(0, 0, 1, input.c_str(), output.c_str(), 1, 0), 1);
    auto contents = Contents(grabber.g);
    EXPECT_TRUE(contents.HasClass(CLSID_DSoundRender));
    EXPECT_TRUE(contents.Has(L"SampleGrabber"));
    EXPECT_TRUE(contents.Has(L"Audio PinTee"));
    EXPECT_TRUE(contents.Has(L"Mp3 Encoder"));
    EXPECT_TRUE(contents.Has(L"File Dump"));
}

TEST(FileGrabberGraph, FileWithoutAudioOpensWithAudioFlagZero) {
    auto video = MakeVideo("silent.webm", false);
    ASSERT_FALSE(video.empty());
    Grabber grabber;
    ASSERT_EQ(grabber->Open(0, 0, 0, video.c_str(), (TestDir() / "none.wav").c_str(), 0, 0), 1);
    int hasAudio = -1, hasVideo = 0, unused = 0;
    grabber->GetStreamPresence(&hasAudio, &unused, &hasVideo, &unused);
    EXPECT_EQ(hasAudio, 0);
    EXPECT_EQ(hasVideo, 1);
}

TEST(FileGrabberGraph, WindowsMediaExtensionsGoThroughTheWindowsMediaSource) {
    auto wma = (TestDir() / "Song.WmA").string();
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=duration=1 -c:a wmav2 -f asf '" +
                         wma + "'"),
              0);
    Grabber grabber;
    ASSERT_EQ(grabber->Open(1, 0, 0, wma.c_str(), nullptr, 0, 0), 1);
    auto contents = Contents(grabber.g);
    EXPECT_TRUE(contents.Has(L"windows media source filter"));
    // Play-only puts the level tap in front of the renderer.
    EXPECT_TRUE(contents.Has(L"SampleGrabber"));
    auto mp3 = (TestDir() / "song.mp3").string();
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=duration=1 '" + mp3 + "'"), 0);
    Grabber other;
    ASSERT_EQ(other->Open(1, 0, 0, mp3.c_str(), nullptr, 0, 0), 1);
    EXPECT_FALSE(Contents(other.g).Has(L"windows media source filter"));
}

}  // namespace
}  // namespace quil::test
