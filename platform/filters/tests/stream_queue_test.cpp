// The stream queue between a decoder and what consumes its output: the stream passes unchanged,
// and stops, seeks and a failing consumer reach across the thread boundary.

#include <algorithm>
#include <memory>

#include "platform/filters/tests/queue_test_util.h"

namespace quil::test {
namespace {

constexpr uint64_t kFullQueue = 1024;  // packets the splitter holds before it waits

std::string LongMp3() {
    return MediaFixture("long.mp3", ToneInput(44100, 60) + " -c:a libmp3lame -b:a 128k");
}

// Splitter, decoder, optionally the queue, and a sink that keeps a digest of the PCM.
struct Chain {
    ComPtr<IGraphBuilder> graph = NewGraph();
    ComPtr<WatchedSource> source = MakeCom<WatchedSource>();
    ComPtr<PacketSink> sink = MakeCom<PacketSink>();
    ComPtr<IMediaControl> control;

    Chain(const std::string& path, bool queued) {
        EXPECT_EQ(source->Load(Widen(path).c_str(), nullptr), S_OK);
        EXPECT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
        auto decoder = AddFilter(graph.Get(), CLSID_FfmpegDecoder, L"FFmpeg Decoder");
        EXPECT_EQ(graph->Connect(FindPinByIndex(source.Get(), PINDIR_OUTPUT, 1).Get(),
                                 FindPinByIndex(decoder.Get(), PINDIR_INPUT, 1).Get()),
                  S_OK);
        ComPtr<IBaseFilter> last = decoder;
        if (queued) {
            auto queue = AddFilter(graph.Get(), CLSID_StreamQueue, L"Stream Queue");
            EXPECT_EQ(ConnectPins(graph.Get(), decoder.Get(), queue.Get()), S_OK);
            last = queue;
        }
        EXPECT_EQ(graph->AddFilter(sink.Get(), L"Sink"), S_OK);
        EXPECT_EQ(graph->Connect(FindPinByIndex(last.Get(), PINDIR_OUTPUT, 1).Get(), sink->Input()),
                  S_OK);
        control = QueryAs<IMediaControl>(graph.Get());
    }
    std::pair<uint64_t, uint64_t> RunWhole() {
        sink->Open();
        EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
        return {sink->Bytes(), sink->Hash()};
    }
    // Runs with the sink closed until everything upstream is full and waits.
    void RunUntilFull() {
        sink->Close();
        uint64_t before = source->PacketsRead();
        ASSERT_EQ(control->Run(), S_OK);
        ASSERT_TRUE(WaitUntil([&] { return source->PacketsRead() > before + kFullQueue; }));
    }
};

TEST(StreamQueue, PassesTheStreamOnUnchanged) {
    auto direct = Chain(LongMp3(), false).RunWhole();
    ASSERT_GT(direct.first, 60u * 44100 * 4 - 44100);
    Chain queued(LongMp3(), true);
    EXPECT_EQ(queued.RunWhole(), direct);
    EXPECT_EQ(queued.RunWhole(), direct);  // and again after a stop
}

// Streams running side by side in one process, more than the cores make threads for: each
// queue starts with a thread of its own and passes samples on directly once the others run,
// and every stream still arrives whole and in order.
TEST(StreamQueue, SeveralStreamsAtOnceEachPassUnchanged) {
    auto direct = Chain(LongMp3(), false).RunWhole();
    unsigned count = std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
    std::vector<std::unique_ptr<Chain>> chains;
    for (unsigned i = 0; i < count; ++i) {
        chains.push_back(std::make_unique<Chain>(LongMp3(), true));
        chains.back()->sink->Open();
    }
    for (auto& chain : chains) {
        ASSERT_EQ(chain->control->Run(), S_OK);
        // The next one starts while this one streams.
        ASSERT_TRUE(chain->sink->WaitFor(20));
    }
    for (auto& chain : chains) {
        EXPECT_EQ(WaitForEnd(chain->graph.Get()).code, EC_COMPLETE);
        chain->control->Stop();
        EXPECT_EQ(std::make_pair(chain->sink->Bytes(), chain->sink->Hash()), direct);
    }
}

// A stop while the decoder waits for room in the queue (and the splitter for room in its own)
// ends at once; the next run is whole.
TEST(StreamQueue, StopsWhileUpstreamWaitsForRoom) {
    auto direct = Chain(LongMp3(), false).RunWhole();
    Chain queued(LongMp3(), true);
    for (uint64_t taken : {0u, 20u}) {
        SCOPED_TRACE(taken);
        queued.RunUntilFull();
        queued.sink->Let(taken);
        EXPECT_TRUE(queued.sink->WaitFor(taken));
        EXPECT_EQ(queued.control->Stop(), S_OK);
        EXPECT_EQ(queued.RunWhole(), direct);
    }
}

// A seek while the queue is full drops what it held: the rest from the new position follows.
TEST(StreamQueue, ASeekFlushesTheQueue) {
    Chain queued(LongMp3(), true);
    queued.RunUntilFull();
    ASSERT_EQ(QueryAs<IMediaPosition>(queued.graph.Get())->put_CurrentPosition(40.0), S_OK);
    queued.sink->Open();
    EXPECT_EQ(WaitForEnd(queued.graph.Get()).code, EC_COMPLETE);
    queued.control->Stop();
    EXPECT_NEAR(double(queued.sink->Bytes()) / (44100 * 4), 20.0, 0.1);
    EXPECT_LT(std::abs(queued.sink->First()), 1'000'000);
}

// A consumer that fails ends the run with its error, and the decoder behind the queue stops
// instead of waiting for room for ever.
TEST(StreamQueue, AFailingConsumerEndsTheRun) {
    Chain queued(LongMp3(), true);
    queued.sink->FailAfter(50);
    ASSERT_EQ(queued.control->Run(), S_OK);
    EXPECT_EQ(WaitForEnd(queued.graph.Get()).code, EC_ERRORABORT);
    EXPECT_EQ(queued.control->Stop(), S_OK);
    EXPECT_EQ(queued.sink->Samples(), 51u);
}

}  // namespace
}  // namespace quil::test
