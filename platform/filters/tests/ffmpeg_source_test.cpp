#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>

#include "platform/filters/class_ids.h"
#include "platform/filters/filter_factories.h"
#include "platform/filters/tests/media_test_util.h"

namespace quil::test {
namespace {

struct AudioCase {
    const char* file;
    std::string arguments;
    int rate;
    bool hasVideo;
};

std::vector<AudioCase> AudioCases() {
    return {
        {"tone.mp3", ToneInput() + " -c:a libmp3lame -b:a 128k", 44100, false},
        {"tone.ogg", ToneInput() + " -c:a libvorbis -q:a 4", 44100, false},
        {"tone.flac", ToneInput() + " -c:a flac", 44100, false},
        {"tone.wma", ToneInput() + " -c:a wmav2 -b:a 128k", 44100, false},
        {"tone.m4a", ToneInput() + " -c:a aac -b:a 128k", 44100, false},
        {"tone.aiff", ToneInput() + " -c:a pcm_s16be", 44100, false},
        {"movie.mkv", VideoInput(3) + " " + ToneInput() + " -c:v mpeg4 -c:a libvorbis", 44100,
         true},
        {"movie.webm",
         VideoInput(3) + " " + ToneInput(48000) + " -c:v libvpx -b:v 200k -c:a libopus", 48000,
         true},
        {"movie.avi", VideoInput(3) + " " + ToneInput() + " -c:v mpeg4 -c:a libmp3lame", 44100,
         true},
        {"movie.wmv", VideoInput(3) + " " + ToneInput() + " -c:v wmv2 -c:a wmav2", 44100, true},
    };
}

class AudioFormats : public ::testing::TestWithParam<AudioCase> {};

// Every type renders to the audio renderer (and the video renderer) through the decoder; the
// renderers are only built here, so no sound server is needed.
TEST_P(AudioFormats, RenderBuildsDecodersAndRenderers) {
    const auto& c = GetParam();
    std::string path = MediaFixture(c.file, c.arguments);
    auto graph = NewGraph();
    auto source = AddSource(graph.Get(), path);
    ASSERT_TRUE(source);
    EXPECT_EQ(CountOutputPins(source.Get()), c.hasVideo ? 2 : 1);
    for (int n = 1; auto pin = FindPinByIndex(source.Get(), PINDIR_OUTPUT, n); ++n)
        EXPECT_EQ(graph->Render(pin.Get()), S_OK) << n;
    auto names = FilterNames(graph.Get());
    auto has = [&](const wchar_t* name) {
        return std::count(names.begin(), names.end(), std::wstring(name));
    };
    EXPECT_EQ(has(L"Default DirectSound Device"), 1);
    EXPECT_EQ(has(L"Video Renderer"), c.hasVideo ? 1 : 0);
    ComPtr<IBaseFilter> video;
    if (c.hasVideo) {
        ASSERT_EQ(graph->FindFilterByName(L"Video Renderer", video.Put()), S_OK);
        auto basic = QueryAs<IBasicVideo>(graph.Get());
        LONG width = 0, height = 0;
        EXPECT_EQ(basic->get_VideoWidth(&width), S_OK);
        EXPECT_EQ(basic->get_VideoHeight(&height), S_OK);
        EXPECT_EQ(width, 160);
        EXPECT_EQ(height, 120);
    }
}

// Decoded PCM keeps the source's rate and channels, lasts as long as the file and is not silent.
TEST_P(AudioFormats, DecodesToPcmThroughWaveDest) {
    const auto& c = GetParam();
    std::string path = MediaFixture(c.file, c.arguments);
    auto output = (MakeTempDir("decode") / "out.wav").string();
    {
        auto graph = NewGraph();
        auto source = AddSource(graph.Get(), path);
        ASSERT_TRUE(source);
        // As the engine grabs: render, then cut the audio path in front of the renderer and
        // attach the WAV chain there.
        auto audio = OutputPinOf(source.Get(), MEDIATYPE_Audio);
        ASSERT_TRUE(audio);
        ASSERT_EQ(graph->Render(audio.Get()), S_OK);
        ComPtr<IBaseFilter> renderer;
        ASSERT_EQ(graph->FindFilterByName(L"Default DirectSound Device", renderer.Put()), S_OK);
        auto rendererInput = FindPinByIndex(renderer.Get(), PINDIR_INPUT, 1);
        ComPtr<IPin> feed;
        ASSERT_EQ(rendererInput->ConnectedTo(feed.Put()), S_OK);
        AM_MEDIA_TYPE connection{};
        ASSERT_EQ(rendererInput->ConnectionMediaType(&connection), S_OK);
        EXPECT_TRUE(MediaType(connection).IsPcm());
        FreeMediaType(connection);
        ASSERT_EQ(graph->RemoveFilter(renderer.Get()), S_OK);
        auto waveDest = AddFilter(graph.Get(), CLSID_WavDest, L"Wave Dest");
        auto writer = AddFileWriter(graph.Get(), CLSID_FileWriter, L"File Writer", output);
        ASSERT_EQ(graph->Connect(feed.Get(), FindPinByIndex(waveDest.Get(), PINDIR_INPUT, 1).Get()),
                  S_OK);
        ASSERT_EQ(ConnectPins(graph.Get(), waveDest.Get(), writer.Get()), S_OK);

        REFTIME duration = 0;
        EXPECT_EQ(QueryAs<IMediaPosition>(graph.Get())->get_Duration(&duration), S_OK);
        EXPECT_NEAR(duration, 3.0, 0.1);
        EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
    }
    WavData wav;
    ASSERT_TRUE(ReadWav(output, &wav));
    EXPECT_EQ(wav.rate, c.rate);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.bits, 16);
    double seconds = double(wav.data.size()) / (wav.rate * 4);
    EXPECT_NEAR(seconds, 3.0, 0.06) << c.file;
    EXPECT_NEAR(Rms16(wav.data.data(), wav.data.size()), 0.25, 0.03);
}

INSTANTIATE_TEST_SUITE_P(Files, AudioFormats, ::testing::ValuesIn(AudioCases()),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

// 24-bit and float PCM, and 24-bit FLAC, reach a sink that only takes 16 bits.
TEST(FfmpegDecoder, ConvertsExoticPcmTo16Bits) {
    const std::vector<std::pair<const char*, std::string>> files = {
        {"tone24.wav", ToneInput(48000, 1) + " -c:a pcm_s24le"},
        {"tonefloat.wav", ToneInput(48000, 1) + " -c:a pcm_f32le"},
        {"tone24.flac", ToneInput(48000, 1) + " -c:a flac -sample_fmt s32"},
        {"tone24.mkv", ToneInput(48000, 1) + " -c:a pcm_s24le"},
    };
    for (const auto& [name, arguments] : files) {
        SCOPED_TRACE(name);
        auto graph = NewGraph();
        auto source = AddSource(graph.Get(), MediaFixture(name, arguments));
        ASSERT_TRUE(source);
        auto sink = AddCaptureSink(graph.Get());
        ASSERT_EQ(
            graph->Connect(FindPinByIndex(source.Get(), PINDIR_OUTPUT, 1).Get(), sink->Input()),
            S_OK);
        EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
        EXPECT_EQ(sink->Format().nSamplesPerSec, 48000u);
        EXPECT_EQ(sink->Format().nChannels, 2);
        EXPECT_NEAR(sink->Seconds(), 1.0, 0.03);
        auto bytes = sink->Bytes();
        EXPECT_NEAR(Rms16(bytes.data(), bytes.size()), 0.25, 0.01);
    }
}

// Decoded audio is stamped from 0 without gaps: each sample starts where the last one ended.
TEST(FfmpegDecoder, TimeStampsStartAtZeroAndFollowTheSamples) {
    auto graph = NewGraph();
    auto source = AddSource(graph.Get(), MediaFixture("tone.ogg", AudioCases()[1].arguments));
    ASSERT_TRUE(source);
    auto sink = AddCaptureSink(graph.Get());
    ASSERT_EQ(graph->Connect(FindPinByIndex(source.Get(), PINDIR_OUTPUT, 1).Get(), sink->Input()),
              S_OK);
    EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
    auto times = sink->Times();
    ASSERT_GT(times.size(), 10u);
    EXPECT_LT(std::abs(times.front().first), 200'000);
    for (size_t i = 1; i < times.size(); ++i) {
        EXPECT_LE(times[i - 1].first, times[i].first);
        EXPECT_LT(std::abs(times[i].first - times[i - 1].second), 1000) << i;
    }
    EXPECT_NEAR(times.back().second / 1e7, 3.0, 0.06);
}

// The encoder delay and the padding that MP3 and AAC files declare are cut to the sample: what
// comes out is FFmpeg's own decoding of the file (one sample off would shift every sample
// after it; padding left in makes the file play longer than what was encoded).
TEST(FfmpegDecoder, EncoderDelayIsCutToTheSample) {
    for (int index : {0, 4}) {
        AudioCase c = AudioCases()[static_cast<size_t>(index)];
        SCOPED_TRACE(c.file);
        std::string path = MediaFixture(c.file, c.arguments);
        auto raw = MakeTempDir("delay") / "ffmpeg.raw";
        ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y -i '" + path +
                             "' -f s16le -c:a pcm_s16le '" + raw.string() + "'"),
                  0);
        auto expected = ReadFile(raw);
        auto graph = NewGraph();
        auto source = AddSource(graph.Get(), path);
        ASSERT_TRUE(source);
        auto sink = AddCaptureSink(graph.Get());
        ASSERT_EQ(
            graph->Connect(FindPinByIndex(source.Get(), PINDIR_OUTPUT, 1).Get(), sink->Input()),
            S_OK);
        EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
        auto bytes = sink->Bytes();
        EXPECT_EQ(bytes.size(), expected.size());
        size_t compared = std::min(bytes.size(), expected.size());
        ASSERT_GT(compared, 44100u * 4);
        int worst = 0;
        for (size_t i = 0; i + 1 < compared; i += 2) {
            int ours = static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8);
            int theirs = static_cast<int16_t>(expected[i] | expected[i + 1] << 8);
            worst = std::max(worst, std::abs(ours - theirs));
        }
        EXPECT_LE(worst, 2);
    }
}

// Extracting the audio of a video leaves the video stream undecoded: no decoder is attached to
// the video pin and the graph holds one decoder only.
TEST(FfmpegSource, UnconnectedVideoIsNotDecoded) {
    auto graph = NewGraph();
    auto source = AddSource(graph.Get(), MediaFixture("movie.avi", AudioCases()[8].arguments));
    ASSERT_TRUE(source);
    auto sink = AddCaptureSink(graph.Get());
    ASSERT_EQ(graph->Connect(OutputPinOf(source.Get(), MEDIATYPE_Audio).Get(), sink->Input()),
              S_OK);
    EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
    ComPtr<IPin> peer;
    EXPECT_EQ(OutputPinOf(source.Get(), MEDIATYPE_Video)->ConnectedTo(peer.Put()),
              VFW_E_NOT_CONNECTED);
    auto names = FilterNames(graph.Get());
    EXPECT_EQ(std::count(names.begin(), names.end(), std::wstring(L"FFmpeg Decoder")), 1);
    EXPECT_NEAR(sink->Seconds(), 3.0, 0.06);
}

// Counts the RGB32 frames it is given.
class FrameCounter : public SinkFilter {
public:
    FrameCounter() : SinkFilter(quil::Guid("{6B1E5D0A-2C47-4F8E-9A31-7D2E4C8B5F19}"), false) {}
    HRESULT CheckMediaType(const MediaType& type) override {
        return type.majortype == MEDIATYPE_Video && type.subtype == MEDIASUBTYPE_RGB32 ? S_OK
                                                                                       : S_FALSE;
    }
    HRESULT RenderSample(IMediaSample*) override {
        ++frames_;
        return S_OK;
    }
    HRESULT StartStreaming() override {
        frames_ = 0;
        return S_OK;
    }
    int Frames() const { return frames_; }

private:
    std::atomic<int> frames_{0};
};

// The demuxer skips a stream nothing is connected to; connected for a later run, the stream
// is read again from where that run starts.
TEST(FfmpegSource, AStreamLeftOutOfOneRunIsReadInTheNext) {
    auto graph = NewGraph();
    auto source = AddSource(graph.Get(), MediaFixture("movie.avi", AudioCases()[8].arguments));
    ASSERT_TRUE(source);
    auto sink = AddCaptureSink(graph.Get());
    ASSERT_EQ(graph->Connect(OutputPinOf(source.Get(), MEDIATYPE_Audio).Get(), sink->Input()),
              S_OK);
    EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
    EXPECT_NEAR(sink->Seconds(), 3.0, 0.06);

    auto counter = MakeCom<FrameCounter>();
    ASSERT_EQ(graph->AddFilter(counter.Get(), L"Frames"), S_OK);
    ASSERT_EQ(graph->Connect(OutputPinOf(source.Get(), MEDIATYPE_Video).Get(),
                             FindPinByIndex(counter.Get(), PINDIR_INPUT, 1).Get()),
              S_OK);
    ASSERT_EQ(QueryAs<IMediaPosition>(graph.Get())->put_CurrentPosition(0.0), S_OK);
    EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
    EXPECT_EQ(counter->Frames(), 75);  // 3 s at 25 frames a second
    EXPECT_NEAR(sink->Seconds(), 3.0, 0.06);
}

// Seeking: a position set while paused starts the stream there, with time stamps from 0.
TEST(FfmpegSource, SeekWhilePausedStartsThere) {
    auto graph = NewGraph();
    auto source = AddSource(graph.Get(), MediaFixture("tone.mp3", AudioCases()[0].arguments));
    ASSERT_TRUE(source);
    auto sink = AddCaptureSink(graph.Get());
    ASSERT_EQ(graph->Connect(FindPinByIndex(source.Get(), PINDIR_OUTPUT, 1).Get(), sink->Input()),
              S_OK);
    auto control = QueryAs<IMediaControl>(graph.Get());
    auto position = QueryAs<IMediaPosition>(graph.Get());
    ASSERT_EQ(control->Pause(), S_OK);
    ASSERT_EQ(position->put_CurrentPosition(2.0), S_OK);
    EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
    EXPECT_NEAR(sink->Seconds(), 1.0, 0.06);
    auto times = sink->Times();
    ASSERT_FALSE(times.empty());
    EXPECT_GE(times.front().first, 0);
    EXPECT_LT(times.front().first, 100'000);
}

// Seeking back while a paced stream plays: what follows the flush is the rest from the new
// position, and the stream still completes.
TEST(FfmpegSource, SeekWhileRunningRestartsFromThePosition) {
    auto graph = NewGraph();
    auto source = AddSource(graph.Get(), MediaFixture("tone.flac", AudioCases()[2].arguments));
    ASSERT_TRUE(source);
    auto sink = AddCaptureSink(graph.Get(), true);
    ASSERT_EQ(graph->Connect(FindPinByIndex(source.Get(), PINDIR_OUTPUT, 1).Get(), sink->Input()),
              S_OK);
    auto control = QueryAs<IMediaControl>(graph.Get());
    auto position = QueryAs<IMediaPosition>(graph.Get());
    ASSERT_EQ(control->Run(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(position->put_CurrentPosition(2.2), S_OK);
    auto seeked = std::chrono::steady_clock::now();
    Ending ending = WaitForEnd(graph.Get(), 10000);
    // The rest keeps the stream's pace after the seek.
    EXPECT_GT(std::chrono::steady_clock::now() - seeked, std::chrono::milliseconds(600));
    control->Stop();
    EXPECT_EQ(ending.code, EC_COMPLETE);
    EXPECT_NEAR(sink->Seconds(), 0.8, 0.06);
    // And once more from a stopped graph: it starts at the last position set.
    ASSERT_EQ(position->put_CurrentPosition(1.5), S_OK);
    EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
    EXPECT_NEAR(sink->Seconds(), 1.5, 0.06);
}

TEST(FfmpegSource, AFileWithoutStreamsOrSourceFails) {
    auto dir = MakeTempDir("nostreams");
    auto graph = NewGraph();
    ComPtr<IBaseFilter> source;
    EXPECT_TRUE(FAILED(graph->AddSourceFilter(Widen((dir / "missing.mp3").string()).c_str(),
                                              nullptr, source.Put())));
    // Only subtitles: a media file, but nothing to render.
    std::ofstream((dir / "only.srt").string()) << "1\n00:00:00,000 --> 00:00:01,000\nHello\n";
    std::string subtitles = MediaFixture("only.mkv", "-i '" + (dir / "only.srt").string() + "'");
    EXPECT_TRUE(FAILED(graph->AddSourceFilter(Widen(subtitles).c_str(), nullptr, source.Put())));
    EXPECT_FALSE(source);
}

// Broken input never crashes or hangs: it fails to load, fails to connect, or plays to an end
// (complete or aborted).
TEST(FfmpegSource, BrokenFilesFailCleanly) {
    auto dir = MakeTempDir("broken");
    std::vector<std::string> files;
    auto cases = AudioCases();
    for (int index : {0, 1, 2, 3, 4, 8}) {
        auto original = ReadFile(MediaFixture(cases[index].file, cases[index].arguments));
        std::string extension = std::filesystem::path(cases[index].file).extension().string();
        for (double cut : {0.0, 0.001, 0.01, 0.05, 0.2, 0.5, 0.8, 0.99}) {
            auto bytes = original;
            bytes.resize(static_cast<size_t>(bytes.size() * cut));
            auto path = dir / ("cut" + std::to_string(files.size()) + extension);
            WriteBytes(path, bytes);
            files.push_back(path.string());
        }
        // Damage in the middle: a run of garbage bytes.
        auto damaged = original;
        std::mt19937 random(static_cast<unsigned>(index));
        for (size_t i = damaged.size() / 3; i < damaged.size() / 3 + 4000 && i < damaged.size();
             ++i)
            damaged[i] = static_cast<uint8_t>(random());
        auto path = dir / ("damaged" + std::to_string(index) + extension);
        WriteBytes(path, damaged);
        files.push_back(path.string());
    }
    for (unsigned seed = 1; seed <= 6; ++seed) {
        std::mt19937 random(seed);
        std::vector<uint8_t> bytes(seed * 7919);
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        for (const char* extension : {".mp3", ".avi"}) {
            auto path = dir / ("random" + std::to_string(seed) + extension);
            WriteBytes(path, bytes);
            files.push_back(path.string());
        }
    }
    // A real file under a wrong name, and text posing as media.
    std::filesystem::copy_file(MediaFixture(cases[1].file, cases[1].arguments), dir / "ogg.mp3");
    files.push_back((dir / "ogg.mp3").string());
    std::ofstream(dir / "text.wma") << "This is not a media file at all.\n";
    files.push_back((dir / "text.wma").string());

    for (const auto& file : files) {
        SCOPED_TRACE(file);
        auto graph = NewGraph();
        ComPtr<IBaseFilter> source;
        if (FAILED(graph->AddSourceFilter(Widen(file).c_str(), nullptr, source.Put()))) continue;
        std::vector<ComPtr<CaptureSink>> sinks;
        for (int n = 1; auto pin = FindPinByIndex(source.Get(), PINDIR_OUTPUT, n); ++n) {
            auto sink = AddCaptureSink(graph.Get());
            if (SUCCEEDED(graph->Connect(pin.Get(), sink->Input()))) sinks.push_back(sink);
        }
        if (sinks.empty()) continue;
        Ending ending = RunToEnd(graph.Get(), 20000);
        EXPECT_TRUE(ending.code == EC_COMPLETE || ending.code == EC_ERRORABORT) << ending.code;
    }
}

TEST(FfmpegSource, ProbeTakesMediaAndStreamUrlsOnly) {
    std::vector<uint8_t> noise(4096);
    std::mt19937 random(7);
    for (auto& b : noise) b = static_cast<uint8_t>(random());
    auto mp3 = ReadFile(MediaFixture("tone.mp3", AudioCases()[0].arguments));
    mp3.resize(4096);
    EXPECT_TRUE(filters::ProbeFfmpegFile("/x/tone.mp3", mp3));
    EXPECT_FALSE(filters::ProbeFfmpegFile("/x/noise.bin", noise));
    EXPECT_FALSE(filters::ProbeFfmpegFile("/x/empty.mp3", {}));
    EXPECT_TRUE(filters::ProbeFfmpegFile("http://127.0.0.1/a.mp3", {}));
    EXPECT_TRUE(filters::ProbeFfmpegFile("mms://127.0.0.1/a", {}));
    EXPECT_FALSE(filters::ProbeFfmpegFile("file:///etc/passwd", {}));
    EXPECT_FALSE(filters::ProbeFfmpegFile("concat:/etc/passwd", {}));
}

}  // namespace
}  // namespace quil::test
