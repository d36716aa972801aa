// Decoded audio holds exactly the samples FFmpeg's own command decodes: the encoder delay and
// padding the container declares (an MP3's LAME header, an MP4's edit list) are cut, nothing
// more, and a seek lands on the sample it asked for.

#include <algorithm>
#include <cstring>

#include "platform/filters/class_ids.h"
#include "platform/filters/filter_factories.h"
#include "platform/filters/tests/media_test_util.h"

namespace quil::test {
namespace {

constexpr size_t kFrameBytes = 4;  // 16-bit stereo

// Noise on one channel and a tone on the other: any shift of a sample shows.
std::string NoiseAndTone() {
    return "-f lavfi -i \"anoisesrc=d=3:r=44100:a=0.3:seed=7[n];"
           "sine=frequency=440:sample_rate=44100:duration=3[s];[n][s]amerge=inputs=2[out0]\"";
}

struct ExactCase {
    const char* file;
    std::string arguments;
    // How long the decoder takes after a seek to give the samples a run from the start gives.
    double settleSeconds = 0.1;
};

std::vector<ExactCase> ExactCases() {
    return {
        // libmp3lame writes a Xing/LAME header with the delay and padding.
        {"exact.mp3", NoiseAndTone() + " -c:a libmp3lame -b:a 128k"},
        // The AAC encoder's priming samples are declared by an edit list. Without noise
        // substitution: its decoder fills such bands from a random generator that a seek does
        // not reset.
        // Ogg marks the padding of the last page; Opus adds its pre-skip, and its predictive
        // decoder converges slowly after a seek.
        {"exact.ogg", NoiseAndTone() + " -c:a libvorbis"},
        {"exact.opus", NoiseAndTone() + " -c:a libopus", 1.0},
        {"exact.mp4",
         VideoInput(3) + " " + NoiseAndTone() + " -c:v mpeg4 -c:a aac -aac_pns 0 -b:a 128k"},
    };
}

// What `ffmpeg -i file -c:a pcm_s16le` makes of the file's audio.
std::vector<uint8_t> FfmpegPcm(const std::string& path) {
    auto raw = MakeTempDir("reference") / "out.raw";
    std::string command = "ffmpeg -nostdin -hide_banner -v error -y -i '" + path +
                          "' -map 0:a:0 -c:a pcm_s16le -f s16le '" + raw.string() + "'";
    EXPECT_EQ(RunCommand(command), 0) << command;
    return ReadFile(raw);
}

// The index of the first sample frame where two PCM buffers differ, or -1.
long FirstDifference(const std::vector<uint8_t>& a, const uint8_t* b, size_t bytes) {
    auto mismatch = std::mismatch(a.begin(), a.begin() + static_cast<ptrdiff_t>(bytes), b);
    if (mismatch.first == a.begin() + static_cast<ptrdiff_t>(bytes)) return -1;
    return static_cast<long>((mismatch.first - a.begin()) / static_cast<ptrdiff_t>(kFrameBytes));
}

struct Decoding {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> source;
    ComPtr<CaptureSink> sink;
};

// The file's audio, decoded into a capture sink.
Decoding Connect(const std::string& path) {
    Decoding d;
    d.graph = NewGraph();
    d.source = AddSource(d.graph.Get(), path);
    EXPECT_TRUE(d.source);
    if (!d.source) return d;
    d.sink = AddCaptureSink(d.graph.Get());
    EXPECT_EQ(d.graph->Connect(OutputPinOf(d.source.Get(), MEDIATYPE_Audio).Get(), d.sink->Input()),
              S_OK);
    return d;
}

class ExactDecode : public ::testing::TestWithParam<ExactCase> {
protected:
    std::string Path() { return MediaFixture(GetParam().file, GetParam().arguments); }
};

TEST_P(ExactDecode, SamplesAndLengthEqualFfmpegsDecode) {
    std::string path = Path();
    auto reference = FfmpegPcm(path);
    ASSERT_GT(reference.size(), kFrameBytes * 44100 * 2);
    auto d = Connect(path);
    ASSERT_TRUE(d.sink);
    EXPECT_EQ(RunToEnd(d.graph.Get()).code, EC_COMPLETE);
    auto ours = d.sink->Bytes();
    EXPECT_EQ(ours.size() / kFrameBytes, reference.size() / kFrameBytes);
    size_t common = std::min(ours.size(), reference.size());
    EXPECT_EQ(FirstDifference(reference, ours.data(), common), -1);
    // Stamped from exactly 0, without gaps.
    auto times = d.sink->Times();
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times.front().first, 0);
    for (size_t i = 1; i < times.size(); ++i)
        ASSERT_LT(std::abs(times[i].first - times[i - 1].second), 1000) << i;
}

// A seek into the file skips no delay again: after the decoder has settled (its state after a
// flush differs from a run's), the samples are those at the position asked for. A seek back
// to the start gives the whole decode once more, delay cut as on the first run.
TEST_P(ExactDecode, SeeksLandOnTheSampleAskedFor) {
    std::string path = Path();
    auto reference = FfmpegPcm(path);
    auto d = Connect(path);
    ASSERT_TRUE(d.sink);
    auto position = QueryAs<IMediaPosition>(d.graph.Get());
    auto control = QueryAs<IMediaControl>(d.graph.Get());
    ASSERT_EQ(control->Pause(), S_OK);
    ASSERT_EQ(position->put_CurrentPosition(1.0), S_OK);
    EXPECT_EQ(RunToEnd(d.graph.Get()).code, EC_COMPLETE);
    auto ours = d.sink->Bytes();
    size_t rate = d.sink->Format().nSamplesPerSec;
    size_t seekAt = rate * kFrameBytes;
    ASSERT_GT(reference.size(), seekAt);
    EXPECT_EQ(ours.size(), reference.size() - seekAt);
    auto settle = static_cast<size_t>(GetParam().settleSeconds * double(rate)) * kFrameBytes;
    size_t compared = std::min(ours.size(), reference.size() - seekAt);
    ASSERT_GT(compared, settle + rate / 10 * kFrameBytes);
    std::vector<uint8_t> expected(reference.begin() + static_cast<ptrdiff_t>(seekAt + settle),
                                  reference.begin() + static_cast<ptrdiff_t>(seekAt + compared));
    EXPECT_EQ(FirstDifference(expected, ours.data() + settle, compared - settle), -1);
    auto times = d.sink->Times();
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times.front().first, 0);

    ASSERT_EQ(position->put_CurrentPosition(0.0), S_OK);
    EXPECT_EQ(RunToEnd(d.graph.Get()).code, EC_COMPLETE);
    ours = d.sink->Bytes();
    EXPECT_EQ(ours.size(), reference.size());
    EXPECT_EQ(FirstDifference(reference, ours.data(), std::min(ours.size(), reference.size())), -1);
}

INSTANTIATE_TEST_SUITE_P(Files, ExactDecode, ::testing::ValuesIn(ExactCases()),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

}  // namespace
}  // namespace quil::test
