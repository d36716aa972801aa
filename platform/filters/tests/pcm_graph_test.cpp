#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/filters/tests/encoder_test_util.h"
#include "platform/filters/tests/graph_test_util.h"
#include "platform/window/window.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

std::vector<uint8_t> SineBytes(int rate, int channels, double seconds) {
    auto samples = SineSamples(rate, channels, seconds, 440.0);
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

// Source -> Wave Dest -> File Writer, as the WAV chain is built.
struct WavChain {
    ComPtr<IGraphBuilder> graph = NewGraph();
    ComPtr<IBaseFilter> source, waveDest, writer;

    WavChain(const std::string& input, const std::string& output) {
        source = AddSource(graph.Get(), input);
        waveDest = AddFilter(graph.Get(), CLSID_WavDest, L"Wave Dest");
        writer = AddFileWriter(graph.Get(), CLSID_FileWriter, L"File Writer", output);
        EXPECT_EQ(ConnectPins(graph.Get(), source.Get(), waveDest.Get()), S_OK);
        EXPECT_EQ(ConnectPins(graph.Get(), waveDest.Get(), writer.Get()), S_OK);
    }
    IMediaControl* Control() { return QueryAs<IMediaControl>(graph.Get()).Get(); }
};

TEST(PcmGraph, TeeGrabberAndWavChainWriteTheSourceSamples) {
    auto dir = MakeTempDir("tee");
    auto input = (dir / "in.wav").string(), output = (dir / "out.wav").string();
    auto pcm = SineBytes(44100, 2, 2.0);
    ASSERT_TRUE(WriteWav(input, 44100, 2, 16, pcm));

    auto graph = NewGraph();
    auto source = AddSource(graph.Get(), input);
    auto tee = AddFilter(graph.Get(), CLSID_InfTee, L"Audio PinTee");
    auto grabber = AddFilter(graph.Get(), CLSID_SampleGrabber, L"SampleGrabber");
    auto waveDest = AddFilter(graph.Get(), CLSID_WavDest, L"Wave Dest");
    auto writer = AddFileWriter(graph.Get(), CLSID_FileWriter, L"File Writer", output);
    auto grab = QueryAs<ISampleGrabber>(grabber.Get());
    MediaType wanted;
    wanted.majortype = MEDIATYPE_Audio;
    wanted.subtype = MEDIASUBTYPE_PCM;
    wanted.formattype = GUID_NULL;
    grab->SetMediaType(&wanted);

    ASSERT_EQ(ConnectPins(graph.Get(), source.Get(), tee.Get()), S_OK);
    ASSERT_EQ(ConnectPins(graph.Get(), tee.Get(), grabber.Get(), 1), S_OK);
    // The tee grows a second output once the first is connected.
    ASSERT_TRUE(FindPinByIndex(tee.Get(), PINDIR_OUTPUT, 2));
    ASSERT_EQ(ConnectPins(graph.Get(), tee.Get(), waveDest.Get(), 2), S_OK);
    ASSERT_EQ(ConnectPins(graph.Get(), waveDest.Get(), writer.Get()), S_OK);
    grab->SetOneShot(FALSE);
    grab->SetBufferSamples(TRUE);
    bool withRenderer = HavePulse();
    if (withRenderer) {
        auto renderer = AddFilter(graph.Get(), CLSID_DSoundRender, L"Audio Render");
        ASSERT_EQ(ConnectPins(graph.Get(), grabber.Get(), renderer.Get()), S_OK);
    }

    QueueWindow window;
    auto events = QueryAs<IMediaEventEx>(graph.Get());
    ASSERT_EQ(events->SetNotifyWindow(reinterpret_cast<OAHWND>(window.handle()), 2139, 77), S_OK);
    auto control = QueryAs<IMediaControl>(graph.Get());
    ASSERT_EQ(control->Run(), S_OK);
    Ending end = WaitForEnd(graph.Get());
    EXPECT_EQ(end.code, EC_COMPLETE);
    LONG size = 0;
    EXPECT_EQ(grab->GetCurrentBuffer(&size, nullptr), S_OK);
    EXPECT_GT(size, 0);
    std::vector<LONG> copy(static_cast<size_t>(size) / sizeof(LONG) + 1);
    LONG small = size - 1;
    EXPECT_FAILED_HR(grab->GetCurrentBuffer(&small, copy.data()));
    control->Stop();

    // The notification carries the instance value.
    auto message = window.Take(std::chrono::milliseconds(1000));
    ASSERT_TRUE(message);
    EXPECT_EQ(message->message, 2139u);
    EXPECT_EQ(message->lParam, 77);

    WavData wav;
    ASSERT_TRUE(ReadWav(output, &wav));
    EXPECT_EQ(wav.rate, 44100);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.dataSize, pcm.size());
    EXPECT_TRUE(wav.data == pcm);
}

TEST(PcmGraph, CompletionArrivesOncePerRun) {
    auto dir = MakeTempDir("complete");
    auto input = (dir / "in.wav").string(), output = (dir / "out.wav").string();
    ASSERT_TRUE(WriteSineWav(input, 22050, 1, 0.5));
    WavChain chain(input, output);
    auto events = QueryAs<IMediaEventEx>(chain.graph.Get());
    auto control = QueryAs<IMediaControl>(chain.graph.Get());
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(control->Run(), S_OK);
        EXPECT_EQ(WaitForEnd(chain.graph.Get()).code, EC_COMPLETE);
        LONG code;
        LONG_PTR p1, p2;
        // No second completion for the same run.
        EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 200), E_ABORT);
        ASSERT_EQ(control->Stop(), S_OK);
    }
    WavData wav;
    ASSERT_TRUE(ReadWav(output, &wav));
    EXPECT_EQ(wav.dataSize, 22050u);  // overwritten, not appended
}

TEST(PcmGraph, ConverterIsInsertedWhenFormatsDiffer) {
    auto dir = MakeTempDir("convert");
    auto input = (dir / "in.wav").string(), output = (dir / "out.wav").string();
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=1 -ac 1 "
                         "-ar 22050 -c:a pcm_f32le " +
                         input),
              0);
    {
        // The renderer takes only 8- or 16-bit PCM, so float needs a converter in between.
        auto graph = NewGraph();
        auto source = AddSource(graph.Get(), input);
        auto renderer = AddFilter(graph.Get(), CLSID_DSoundRender, L"Audio Render");
        ASSERT_EQ(ConnectPins(graph.Get(), source.Get(), renderer.Get()), S_OK);
        auto names = FilterNames(graph.Get());
        EXPECT_NE(std::find(names.begin(), names.end(), L"PCM Converter"), names.end());
    }
    auto graph = NewGraph();
    auto source = AddSource(graph.Get(), input);
    auto converter = AddFilter(graph.Get(), CLSID_PcmConverter, L"PCM Converter");
    auto waveDest = AddFilter(graph.Get(), CLSID_WavDest, L"Wave Dest");
    auto writer = AddFileWriter(graph.Get(), CLSID_FileWriter, L"File Writer", output);
    ASSERT_EQ(ConnectPins(graph.Get(), source.Get(), converter.Get()), S_OK);
    MediaType cd = PcmMediaType(44100, 2, 16);
    auto converterOut = FindPinByIndex(converter.Get(), PINDIR_OUTPUT, 1);
    auto waveDestIn = FindPinByIndex(waveDest.Get(), PINDIR_INPUT, 1);
    ASSERT_EQ(graph->ConnectDirect(converterOut.Get(), waveDestIn.Get(), &cd), S_OK);
    ASSERT_EQ(ConnectPins(graph.Get(), waveDest.Get(), writer.Get()), S_OK);

    ASSERT_EQ(QueryAs<IMediaControl>(graph.Get())->Run(), S_OK);
    EXPECT_EQ(WaitForEnd(graph.Get()).code, EC_COMPLETE);
    QueryAs<IMediaControl>(graph.Get())->Stop();
    WavData wav;
    ASSERT_TRUE(ReadWav(output, &wav));
    EXPECT_EQ(wav.rate, 44100);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.bits, 16);
    // One second, within a few frames of resampler delay.
    EXPECT_NEAR(static_cast<double>(wav.dataSize), 44100.0 * 4, 64 * 4);
    EXPECT_GT(Rms16(wav.data.data(), wav.data.size()), 0.03);
}

TEST(PcmGraph, PauseHoldsTheStreamAndSeekingRestartsIt) {
    auto dir = MakeTempDir("seek");
    auto input = (dir / "in.wav").string(), output = (dir / "out.wav").string();
    ASSERT_TRUE(WriteSineWav(input, 8000, 1, 2.0));
    WavChain chain(input, output);
    auto control = QueryAs<IMediaControl>(chain.graph.Get());
    auto position = QueryAs<IMediaPosition>(chain.graph.Get());
    REFTIME duration = 0;
    ASSERT_EQ(position->get_Duration(&duration), S_OK);
    EXPECT_DOUBLE_EQ(duration, 2.0);

    ASSERT_EQ(control->Pause(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    REFTIME now = -1;
    position->get_CurrentPosition(&now);
    EXPECT_LE(now, 0.3);  // at most the one sample held by the paused sink
    ASSERT_EQ(position->put_CurrentPosition(1.5), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(WaitForEnd(chain.graph.Get()).code, EC_COMPLETE);
    position->get_CurrentPosition(&now);
    EXPECT_NEAR(now, 2.0, 0.01);
    control->Stop();
    WavData wav;
    ASSERT_TRUE(ReadWav(output, &wav));
    EXPECT_EQ(wav.dataSize, 8000u);  // the last half second, 16-bit mono
    auto source = ReadFile(input);
    EXPECT_TRUE(std::equal(wav.data.begin(), wav.data.end(), source.end() - 8000));
}

TEST(PcmGraph, NamesAreUniqueAndFiltersEnumerateInOrder) {
    auto graph = NewGraph();
    auto first = AddFilter(graph.Get(), CLSID_InfTee, L"Audio PinTee");
    ComPtr<IBaseFilter> second;
    ASSERT_EQ(
        CoCreateInstance(CLSID_InfTee, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(second.Put())),
        S_OK);
    EXPECT_EQ(graph->AddFilter(second.Get(), L"Audio PinTee"), VFW_S_DUPLICATE_NAME);
    auto third = AddFilter(graph.Get(), CLSID_SampleGrabber, L"SampleGrabber");
    auto names = FilterNames(graph.Get());
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], L"Audio PinTee");
    EXPECT_NE(names[1], L"Audio PinTee");
    EXPECT_EQ(names[2], L"SampleGrabber");
    ComPtr<IBaseFilter> found;
    EXPECT_EQ(graph->FindFilterByName(L"SampleGrabber", found.Put()), S_OK);
    EXPECT_EQ(found.Get(), third.Get());
    EXPECT_EQ(graph->FindFilterByName(L"samplegrabber", found.Put()), VFW_E_NOT_FOUND);
}

TEST(PcmGraph, RemovingDownstreamFiltersLeavesTheSource) {
    auto dir = MakeTempDir("remove");
    auto input = (dir / "in.wav").string();
    ASSERT_TRUE(WriteSineWav(input, 8000, 1, 0.2));
    WavChain chain(input, (dir / "out.wav").string());
    EXPECT_EQ(chain.graph->RemoveFilter(chain.writer.Get()), S_OK);
    EXPECT_EQ(chain.graph->RemoveFilter(chain.waveDest.Get()), S_OK);
    auto names = FilterNames(chain.graph.Get());
    ASSERT_EQ(names.size(), 1u);
    ComPtr<IPin> peer;
    EXPECT_EQ(FindPinByIndex(chain.source.Get(), PINDIR_OUTPUT, 1)->ConnectedTo(peer.Put()),
              VFW_E_NOT_CONNECTED);
}

TEST(PcmGraph, BrokenWavFilesFailToLoad) {
    auto dir = MakeTempDir("broken");
    auto graph = NewGraph();
    auto good = SineBytes(8000, 1, 0.1);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;
    cases.push_back({"empty.wav", {}});
    cases.push_back({"riff-only.wav", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}});
    ASSERT_TRUE(WriteWav(dir / "full.wav", 8000, 1, 16, good));
    auto full = ReadFile(dir / "full.wav");
    cases.push_back({"no-data.wav", std::vector<uint8_t>(full.begin(), full.begin() + 36)});
    auto zeroChannels = full;
    zeroChannels[22] = 0;
    cases.push_back({"zero-channels.wav", zeroChannels});
    auto badRate = full;
    badRate[24] = badRate[25] = badRate[26] = badRate[27] = 0;
    cases.push_back({"zero-rate.wav", badRate});
    std::vector<uint8_t> noise(5000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 7919 + 13);
    std::copy_n("RIFF\0\0\0\0WAVE", 12, noise.begin());
    cases.push_back({"noise.wav", noise});
    for (auto& [name, bytes] : cases) {
        auto path = dir / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        ComPtr<IBaseFilter> source;
        EXPECT_TRUE(
            FAILED(graph->AddSourceFilter(Widen(path.string()).c_str(), nullptr, source.Put())))
            << name;
    }
    ComPtr<IBaseFilter> missing;
    EXPECT_EQ(graph->AddSourceFilter(L"/nonexistent/x.wav", nullptr, missing.Put()),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));

    // A recording cut short (header claims more than the file holds) still plays what is there.
    auto cut = std::vector<uint8_t>(full.begin(), full.end() - 400);
    std::ofstream(dir / "cut.wav", std::ios::binary)
        .write(reinterpret_cast<const char*>(cut.data()), static_cast<std::streamsize>(cut.size()));
    auto output = (dir / "cut-out.wav").string();
    WavChain chain((dir / "cut.wav").string(), output);
    ASSERT_EQ(QueryAs<IMediaControl>(chain.graph.Get())->Run(), S_OK);
    EXPECT_EQ(WaitForEnd(chain.graph.Get()).code, EC_COMPLETE);
    QueryAs<IMediaControl>(chain.graph.Get())->Stop();
    WavData wav;
    ASSERT_TRUE(ReadWav(output, &wav));
    EXPECT_EQ(wav.dataSize, good.size() - 400);
}

// The full disk is simulated with a file-size limit in a child process, so the test needs no
// mount rights.
TEST(PcmGraph, FullDiskRaisesErrorAbortAndKeepsAReadableFile) {
    auto dir = MakeTempDir("full");
    auto input = (dir / "in.wav").string(), output = (dir / "out.wav").string();
    ASSERT_TRUE(WriteSineWav(input, 44100, 2, 3.0));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100000, 100000};
        setrlimit(RLIMIT_FSIZE, &limit);
        int status = 1;
        {
            WavChain chain(input, output);
            if (QueryAs<IMediaControl>(chain.graph.Get())->Run() == S_OK) {
                Ending end = WaitForEnd(chain.graph.Get());
                if (end.code == EC_ERRORABORT && end.param1 == HRESULT_DISK_FULL)
                    status = 0;
                else
                    status = 2;
            }
            QueryAs<IMediaControl>(chain.graph.Get())->Stop();
        }
        _exit(status);
    }
    int status = -1;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    WavData wav;
    ASSERT_TRUE(ReadWav(output, &wav));
    EXPECT_GT(wav.dataSize, 0u);
    EXPECT_LE(wav.dataSize, wav.data.size());  // the header never claims more than was written
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36);
}

// A tone into Wave Dest and the File Writer that goes on with empty samples after the tone, so
// the stream only ends when the graph stops, as a recording does.
struct EndlessToneChain {
    static constexpr int kRate = 44100;
    static constexpr uint64_t kBytesPerSecond = kRate * 4;
    ComPtr<IGraphBuilder> graph = NewGraph();
    ComPtr<ToneSource> tone;
    ComPtr<IBaseFilter> waveDest, writer;
    std::filesystem::path output;

    EndlessToneChain(double seconds, const std::filesystem::path& path) : output(path) {
        tone = AddTone(graph.Get(), kRate, 2, seconds, false);
        waveDest = AddFilter(graph.Get(), CLSID_WavDest, L"Wave Dest");
        writer = AddFileWriter(graph.Get(), CLSID_FileWriter, L"File Writer", path.string());
        EXPECT_EQ(ConnectPins(graph.Get(), tone.Get(), waveDest.Get()), S_OK);
        EXPECT_EQ(ConnectPins(graph.Get(), waveDest.Get(), writer.Get()), S_OK);
    }
    // Runs until the whole tone is in the file.
    bool RunUntilWritten(uint64_t dataBytes) {
        if (QueryAs<IMediaControl>(graph.Get())->Run() != S_OK) return false;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        std::error_code error;
        while (std::chrono::steady_clock::now() < deadline) {
            auto size = std::filesystem::file_size(output, error);
            if (!error && size >= 44 + dataBytes) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

TEST(PcmGraph, WavHeaderStatesEveryByteWhenTheGraphStopsWithoutAnEnd) {
    auto dir = MakeTempDir("wav_stop");
    const uint64_t bytes = EndlessToneChain::kBytesPerSecond * 5 / 2;
    {
        EndlessToneChain chain(2.5, dir / "out.wav");
        ASSERT_TRUE(chain.RunUntilWritten(bytes));
        // The writer stops first and closes the file; Wave Dest has half a second to add.
        ASSERT_EQ(QueryAs<IMediaControl>(chain.graph.Get())->Stop(), S_OK);
    }
    WavData wav;
    ASSERT_TRUE(ReadWav(dir / "out.wav", &wav));
    EXPECT_EQ(wav.dataSize, bytes);
    EXPECT_EQ(wav.riffSize, bytes + 36);
    EXPECT_EQ(std::filesystem::file_size(dir / "out.wav"), 44 + bytes);
}

// A process killed while writing: the header states all but the data of the last second (and of
// the block in flight), never more than the file holds, and the file opens with what it states.
TEST(PcmGraph, KilledWhileWritingTheWavHeaderLagsAtMostASecond) {
    auto dir = MakeTempDir("wav_killed");
    auto output = dir / "out.wav";
    const uint64_t bytes = EndlessToneChain::kBytesPerSecond * 33 / 10;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        EndlessToneChain chain(3.3, output);
        if (chain.RunUntilWritten(bytes)) raise(SIGKILL);
        _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

    ASSERT_EQ(std::filesystem::file_size(output), 44 + bytes);
    WavData wav;
    ASSERT_TRUE(ReadWav(output, &wav));
    EXPECT_LE(wav.dataSize, bytes);
    const uint64_t block = 4096 * 4;  // the tone's sample size
    EXPECT_LT(bytes - wav.dataSize, EndlessToneChain::kBytesPerSecond + block) << wav.dataSize;
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36);

    auto copy = (dir / "copy.wav").string();
    WavChain chain(output.string(), copy);
    ASSERT_EQ(QueryAs<IMediaControl>(chain.graph.Get())->Run(), S_OK);
    EXPECT_EQ(WaitForEnd(chain.graph.Get()).code, EC_COMPLETE);
    QueryAs<IMediaControl>(chain.graph.Get())->Stop();
    WavData read;
    ASSERT_TRUE(ReadWav(copy, &read));
    EXPECT_EQ(read.dataSize, wav.dataSize);
    EXPECT_TRUE(read.data == wav.data);
}

TEST(PcmGraph, StopNeverHangsAndReleaseInAnyStateFreesEverything) {
    auto dir = MakeTempDir("stop");
    auto input = (dir / "in.wav").string(), output = (dir / "out.wav").string();
    ASSERT_TRUE(WriteSineWav(input, 44100, 2, 5.0));
    for (int state = 0; state < 3; ++state) {
        WavChain chain(input, output);
        auto control = QueryAs<IMediaControl>(chain.graph.Get());
        if (state == 1) {
            ASSERT_EQ(control->Pause(), S_OK);
        }  // threads blocked in paused sinks
        if (state == 2) {
            ASSERT_EQ(control->Run(), S_OK);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (state == 1) {
            EXPECT_EQ(control->Stop(), S_OK);
        }
        // state 2: released while running
    }
}

TEST(PcmGraph, RendererPlaysIntoTheSoundServer) {
    if (!HavePulse()) GTEST_SKIP() << "needs the private sound server (scripts/with-pulse)";
    auto dir = MakeTempDir("play");
    auto input = (dir / "in.wav").string(), recorded = (dir / "rec.raw").string();
    ASSERT_TRUE(WriteSineWav(input, 44100, 2, 1.5));
    // Record the null sink's monitor while the graph plays.
    std::string record =
        "parec -d qtest.monitor --raw --format=s16le --rate=44100 --channels=2 "
        "--latency-msec=50 " +
        recorded + " & echo $!";
    std::string pid;
    ASSERT_EQ(RunCommand(record, &pid), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto graph = NewGraph();
    auto source = AddSource(graph.Get(), input);
    ASSERT_EQ(graph->Render(FindPinByIndex(source.Get(), PINDIR_OUTPUT, 1).Get()), S_OK);
    auto control = QueryAs<IMediaControl>(graph.Get());
    ASSERT_EQ(control->Run(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    REFTIME now = 0;
    QueryAs<IMediaPosition>(graph.Get())->get_CurrentPosition(&now);
    EXPECT_GT(now, 0.1);
    EXPECT_LT(now, 1.0);  // paced: real time, not as fast as the file reads
    EXPECT_EQ(WaitForEnd(graph.Get()).code, EC_COMPLETE);
    control->Stop();
    RunCommand("kill " + pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto bytes = ReadFile(recorded);
    ASSERT_GT(bytes.size(), 44100u * 4);
    EXPECT_GT(Rms16(bytes.data(), bytes.size()), 0.1);
}

TEST(PcmGraph, RendererWithoutSoundServerFailsCleanly) {
    auto dir = MakeTempDir("nosound");
    auto input = (dir / "in.wav").string();
    ASSERT_TRUE(WriteSineWav(input, 44100, 2, 0.5));
    const char* saved = std::getenv("PULSE_SERVER");
    std::string keep = saved ? saved : "";
    setenv("PULSE_SERVER", ("unix:" + (dir / "no-such-socket").string()).c_str(), 1);
    auto graph = NewGraph();
    auto source = AddSource(graph.Get(), input);
    EXPECT_EQ(graph->Render(FindPinByIndex(source.Get(), PINDIR_OUTPUT, 1).Get()), S_OK);
    EXPECT_EQ(QueryAs<IMediaControl>(graph.Get())->Run(), VFW_E_NO_AUDIO_HARDWARE);
    if (saved)
        setenv("PULSE_SERVER", keep.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
}

}  // namespace
}  // namespace quil::test
