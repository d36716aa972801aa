// The splitter's packet queues: a demuxer that found a queue full sleeps until delivery has
// drained it, and wakes for stops, seeks, the end of the stream and a stream running dry.

#include "platform/filters/tests/queue_test_util.h"

namespace quil::test {
namespace {

constexpr uint64_t kFullQueue = 1024;  // packets a queue holds before the demuxer waits
constexpr REFERENCE_TIME kSecond = 10'000'000;

std::string LongMp3() {
    return MediaFixture("long.mp3", ToneInput(44100, 60) + " -c:a libmp3lame -b:a 128k");
}

// A minute of video with its audio (MP3 packets of 26 ms, so one full queue holds 27 s).
std::string LongMovie() {
    return MediaFixture("long.avi", VideoInput(60) + " " + ToneInput(44100, 60) +
                                        " -c:v mpeg4 -c:a libmp3lame -b:a 128k");
}

struct Rig {
    ComPtr<IGraphBuilder> graph = NewGraph();
    ComPtr<WatchedSource> source = MakeCom<WatchedSource>();
    ComPtr<IMediaControl> control;
    std::vector<ComPtr<PacketSink>> sinks;  // one per output pin, in pin order

    explicit Rig(const std::string& path) {
        EXPECT_EQ(source->Load(Widen(path).c_str(), nullptr), S_OK);
        EXPECT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
        for (int n = 1; auto pin = FindPinByIndex(source.Get(), PINDIR_OUTPUT, n); ++n) {
            auto sink = MakeCom<PacketSink>();
            EXPECT_EQ(graph->AddFilter(sink.Get(), (L"Sink " + std::to_wstring(n)).c_str()), S_OK);
            EXPECT_EQ(graph->Connect(pin.Get(), sink->Input()), S_OK);
            sinks.push_back(sink);
        }
        control = QueryAs<IMediaControl>(graph.Get());
    }
    // Runs with every sink open to the end: what each sink received.
    std::vector<std::pair<uint64_t, uint64_t>> RunWhole() {
        for (auto& sink : sinks) sink->Open();
        EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
        std::vector<std::pair<uint64_t, uint64_t>> received;
        for (auto& sink : sinks) received.push_back({sink->Samples(), sink->Hash()});
        return received;
    }
    // Runs with the sink closed until the demuxer has filled its queue and waits.
    void RunUntilQueueFull() {
        sinks[0]->Close();
        uint64_t before = source->PacketsRead();
        ASSERT_EQ(control->Run(), S_OK);
        ASSERT_TRUE(WaitUntil([&] { return source->PacketsRead() > before + kFullQueue; }));
    }
};

// Stopping works whatever the demuxer waits for: a full queue, a queue drained only partly
// (still above the mark it refills from), or a queue drained below it; a whole run afterwards
// delivers every packet once and in order.
TEST(FfmpegSourceQueue, StopsWhileTheDemuxerWaitsAndRunsWholeAfterwards) {
    Rig rig(LongMp3());
    auto whole = rig.RunWhole();
    ASSERT_GT(whole[0].first, 2 * kFullQueue);
    for (uint64_t drained : {0u, 100u, 700u}) {
        SCOPED_TRACE(drained);
        rig.RunUntilQueueFull();
        rig.sinks[0]->Let(drained);
        EXPECT_TRUE(rig.sinks[0]->WaitFor(drained));
        EXPECT_EQ(rig.control->Stop(), S_OK);
        EXPECT_EQ(rig.RunWhole(), whole);
    }
}

// A stream that was held back with a full queue still ends: the rest drains, then the end of the
// stream arrives, with nothing lost or doubled.
TEST(FfmpegSourceQueue, AFullQueueDrainsToTheEnd) {
    Rig rig(LongMp3());
    auto whole = rig.RunWhole();
    rig.RunUntilQueueFull();
    rig.sinks[0]->Open();
    EXPECT_EQ(WaitForEnd(rig.graph.Get()).code, EC_COMPLETE);
    rig.control->Stop();
    EXPECT_EQ(rig.sinks[0]->Samples(), whole[0].first);
    EXPECT_EQ(rig.sinks[0]->Hash(), whole[0].second);
}

// A seek while the demuxer waits on a full queue drops what was queued: what follows starts at
// the new position and matches a run started there.
TEST(FfmpegSourceQueue, ASeekDropsTheQueuedPackets) {
    Rig rig(LongMp3());
    auto position = QueryAs<IMediaPosition>(rig.graph.Get());
    ASSERT_EQ(position->put_CurrentPosition(40.0), S_OK);
    auto fromThere = rig.RunWhole();
    ASSERT_EQ(position->put_CurrentPosition(0.0), S_OK);
    rig.RunUntilQueueFull();
    ASSERT_EQ(position->put_CurrentPosition(40.0), S_OK);
    rig.sinks[0]->Open();
    EXPECT_EQ(WaitForEnd(rig.graph.Get()).code, EC_COMPLETE);
    rig.control->Stop();
    EXPECT_EQ(rig.sinks[0]->Samples(), fromThere[0].first);
    EXPECT_EQ(rig.sinks[0]->Hash(), fromThere[0].second);
    EXPECT_LT(std::abs(rig.sinks[0]->First()), 1'000'000);
}

// While the audio is held with a full queue, the video runs dry; each audio packet taken then
// lets the demuxer read on, so the video keeps coming without waiting for the audio queue to
// drain to its refill mark.
TEST(FfmpegSourceQueue, AStreamRunningDryIsFedWhileAnotherQueueIsFull) {
    Rig rig(LongMovie());
    ASSERT_EQ(rig.sinks.size(), 2u);
    auto audio = OutputPinOf(rig.source.Get(), MEDIATYPE_Audio);
    ComPtr<IPin> first;
    ASSERT_EQ(FindPinByIndex(rig.source.Get(), PINDIR_OUTPUT, 1)
                  ->QueryInterface(IID_PPV_ARGS(first.Put())),
              S_OK);
    if (first.Get() != audio.Get()) std::swap(rig.sinks[0], rig.sinks[1]);
    auto& audioSink = rig.sinks[0];
    auto& videoSink = rig.sinks[1];
    rig.RunUntilQueueFull();
    // A full audio queue holds about 27 s; the video stops about there.
    ASSERT_TRUE(WaitUntil([&] { return videoSink->Latest() > 20 * kSecond; }));
    // 200 packets (5 s) is far less than the audio queue must lose before a refill.
    for (uint64_t taken = 1; taken <= 200; ++taken) {
        audioSink->Let(1);
        ASSERT_TRUE(audioSink->WaitFor(taken));
    }
    EXPECT_TRUE(WaitUntil([&] { return videoSink->Latest() > 29 * kSecond; }))
        << videoSink->Latest();
    EXPECT_EQ(rig.control->Stop(), S_OK);
}

}  // namespace
}  // namespace quil::test
