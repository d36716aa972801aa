#include <gtest/gtest.h>

#include <filesystem>

#include "platform/com/strings.h"
#include "platform/filters/encoder_interfaces.h"
#include "platform/filters/tests/encoder_test_util.h"

namespace quil::test {
namespace {

namespace fs = std::filesystem;

struct ProfileAudio {
    std::string name;
    int rate = 0, channels = 0;
    DWORD bitrate = 0;
    GUID subtype{};
};

ComPtr<IWMProfileManager2> ProfileManager(WMT_VERSION version) {
    ComPtr<IWMProfileManager> manager;
    EXPECT_EQ(WMCreateProfileManager(manager.Put()), S_OK);
    auto manager2 = manager.As<IWMProfileManager2>();
    EXPECT_EQ(manager2->SetSystemProfileVersion(version), S_OK);
    return manager2;
}

// The audio stream of a profile with exactly one stream; nullopt for any other profile.
std::optional<ProfileAudio> AudioOnly(IWMProfile* profile) {
    DWORD count = 0;
    profile->GetStreamCount(&count);
    ComPtr<IWMStreamConfig> stream;
    GUID type{};
    if (count != 1 || FAILED(profile->GetStream(0, stream.Put())) ||
        FAILED(stream->GetStreamType(&type)) || type != WMMEDIATYPE_Audio)
        return std::nullopt;
    ProfileAudio audio;
    DWORD length = 0;
    profile->GetName(nullptr, &length);
    std::wstring name(length, 0);
    profile->GetName(name.data(), &length);
    audio.name = Narrow(name.c_str());
    auto props = stream.As<IWMMediaProps>();
    DWORD size = 0;
    props->GetMediaType(nullptr, &size);
    std::vector<BYTE> buffer(size);
    auto* media = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
    props->GetMediaType(media, &size);
    auto* wave = reinterpret_cast<const WAVEFORMATEX*>(media->pbFormat);
    audio.rate = static_cast<int>(wave->nSamplesPerSec);
    audio.channels = wave->nChannels;
    audio.subtype = media->subtype;
    stream->GetBitrate(&audio.bitrate);
    return audio;
}

// The WMA chain as the engine builds it: file name set before the writer joins the graph,
// then the profile and the index mode, then the connection.
struct AsfChain {
    ComPtr<IGraphBuilder> graph = NewGraph();
    ComPtr<ToneSource> source;
    ComPtr<IBaseFilter> writer;
    ComPtr<IConfigAsfWriter> config;
    HRESULT configured = E_FAIL;

    AsfChain(IWMProfile* profile, const fs::path& output, double seconds, bool ends = true,
             int rate = 44100, int channels = 2) {
        source = AddTone(graph.Get(), rate, channels, seconds, ends);
        EXPECT_EQ(CoCreateInstance(CLSID_AsfWriter, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(writer.Put())),
                  S_OK);
        auto sink = QueryAs<IFileSinkFilter2>(writer.Get());
        EXPECT_EQ(sink->SetFileName(Widen(output.string()).c_str(), nullptr), S_OK);
        EXPECT_EQ(graph->AddFilter(writer.Get(), L"ASF Writer"), S_OK);
        config = QueryAs<IConfigAsfWriter>(writer.Get());
        if (profile) configured = config->ConfigureFilterUsingProfile(profile);
        EXPECT_EQ(config->SetIndexMode(TRUE), S_OK);
        EXPECT_EQ(ConnectPins(graph.Get(), source.Get(), writer.Get()), S_OK);
    }
};

class AsfProfiles : public ::testing::TestWithParam<WMT_VERSION> {};

TEST_P(AsfProfiles, EveryAudioProfileEncodesAsItSays) {
    WMT_VERSION version = GetParam();
    auto manager = ProfileManager(version);
    DWORD count = 0;
    ASSERT_EQ(manager->GetSystemProfileCount(&count), S_OK);
    auto dir = MakeTempDir("asf" + std::to_string(version >> 16));
    constexpr double kSeconds = 1.5;
    int encoded = 0;
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IWMProfile> profile;
        ASSERT_EQ(manager->LoadSystemProfile(i, profile.Put()), S_OK);
        auto audio = AudioOnly(profile.Get());
        if (!audio) continue;
        SCOPED_TRACE(audio->name);
        auto output = dir / ("profile" + std::to_string(i) + ".wma");
        {
            AsfChain chain(profile.Get(), output, kSeconds);
            ASSERT_EQ(chain.configured, S_OK);
            ComPtr<IWMProfile> current;
            EXPECT_EQ(chain.config->GetCurrentProfile(current.Put()), S_OK);
            EXPECT_EQ(current.Get(), profile.Get());
            ASSERT_EQ(RunToEnd(chain.graph.Get()).code, EC_COMPLETE);
        }
        ProbeResult probe = Probe(output);
        EXPECT_EQ(probe.format["format_name"], "asf");
        EXPECT_EQ(probe.Stream("codec_name"), version == WMT_VER_4_0 ? "wmav1" : "wmav2");
        EXPECT_EQ(probe.Int("sample_rate"), audio->rate);
        EXPECT_EQ(probe.Int("channels"), audio->channels);
        EXPECT_EQ(probe.Int("bit_rate"), static_cast<int>(audio->bitrate));
        // The last frame is padded to the encoder's 2048-sample frames.
        double frame = 2048.0 / audio->rate;
        EXPECT_GE(probe.Duration(), kSeconds - 0.01);
        EXPECT_LE(probe.Duration(), kSeconds + frame + 0.1);
        Decoded decoded = Decode(output, audio->channels);
        EXPECT_EQ(decoded.errors, "");
        EXPECT_GE(decoded.Frames(), static_cast<int64_t>(kSeconds * audio->rate));
        EXPECT_LE(decoded.Frames(), static_cast<int64_t>(kSeconds * audio->rate) + 2 * 2048);
        EXPECT_GT(decoded.Rms(), 0.15);
        ++encoded;
    }
    EXPECT_GE(encoded, 5);
}

INSTANTIATE_TEST_SUITE_P(Versions, AsfProfiles,
                         ::testing::Values(WMT_VER_4_0, WMT_VER_7_0, WMT_VER_8_0, WMT_VER_9_0),
                         [](const auto& info) { return "v" + std::to_string(info.param >> 16); });

TEST(AsfWriter, RefusesProfilesWithMoreThanOneStream) {
    filters::RegisterStockFilters();
    ComPtr<IConfigAsfWriter> config;
    ASSERT_EQ(CoCreateInstance(CLSID_AsfWriter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(config.Put())),
              S_OK);
    auto manager = ProfileManager(WMT_VER_8_0);
    DWORD count = 0;
    manager->GetSystemProfileCount(&count);
    int refused = 0;
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IWMProfile> profile;
        manager->LoadSystemProfile(i, profile.Put());
        DWORD streams = 0;
        profile->GetStreamCount(&streams);
        if (streams == 1) continue;
        EXPECT_EQ(config->ConfigureFilterUsingProfile(profile.Get()), E_INVALIDARG);
        ++refused;
    }
    EXPECT_GE(refused, 2);
    ComPtr<IWMProfile> current;
    EXPECT_TRUE(FAILED(config->GetCurrentProfile(current.Put())));
    EXPECT_EQ(config->ConfigureFilterUsingProfile(nullptr), E_POINTER);
    ComPtr<IWMProfile> empty;
    ComPtr<IWMProfileManager> plain = manager;
    ASSERT_EQ(plain->CreateEmptyProfile(WMT_VER_8_0, empty.Put()), S_OK);
    EXPECT_EQ(config->ConfigureFilterUsingProfile(empty.Get()), E_INVALIDARG);
    EXPECT_EQ(config->ConfigureFilterUsingProfileId(0), E_NOTIMPL);
}

TEST(AsfWriter, CannotRunWithoutAProfile) {
    auto output = MakeTempDir("asfnone") / "out.wma";
    AsfChain chain(nullptr, output, 1.0);
    EXPECT_TRUE(FAILED(Control(chain.graph.Get())->Run()));
    Control(chain.graph.Get())->Stop();
}

TEST(AsfWriter, ResamplesAnyPcmToTheProfile) {
    auto manager = ProfileManager(WMT_VER_9_0);
    ComPtr<IWMProfile> profile;
    ASSERT_EQ(manager->LoadSystemProfile(0, profile.Put()), S_OK);  // 16 kHz mono
    auto audio = AudioOnly(profile.Get());
    ASSERT_TRUE(audio);
    auto output = MakeTempDir("asfresample") / "out.wma";
    {
        AsfChain chain(profile.Get(), output, 2.0, true, 48000, 1);
        ASSERT_EQ(chain.configured, S_OK);
        ASSERT_EQ(RunToEnd(chain.graph.Get()).code, EC_COMPLETE);
    }
    ProbeResult probe = Probe(output);
    EXPECT_EQ(probe.Int("sample_rate"), audio->rate);
    EXPECT_EQ(probe.Int("channels"), audio->channels);
    EXPECT_NEAR(probe.Duration(), 2.0, 0.2);
    EXPECT_GT(Decode(output, audio->channels).Rms(), 0.15);
}

ComPtr<IWMProfile> CdQualityProfile() {
    auto manager = ProfileManager(WMT_VER_7_0);
    DWORD count = 0;
    manager->GetSystemProfileCount(&count);
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IWMProfile> profile;
        manager->LoadSystemProfile(i, profile.Put());
        auto audio = AudioOnly(profile.Get());
        if (audio && audio->bitrate == 128000) return profile;
    }
    return {};
}

TEST(AsfWriter, StopFinalisesAStreamThatNeverEnded) {
    auto profile = CdQualityProfile();
    ASSERT_TRUE(profile);
    auto output = MakeTempDir("asfstop") / "out.wma";
    {
        AsfChain chain(profile.Get(), output, 2.0, false);
        ASSERT_EQ(chain.configured, S_OK);
        ASSERT_EQ(Control(chain.graph.Get())->Run(), S_OK);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (chain.source->FramesSent() < 88200 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(Control(chain.graph.Get())->Stop(), S_OK);
    }
    ProbeResult probe = Probe(output);
    EXPECT_EQ(probe.Stream("codec_name"), "wmav2");
    EXPECT_NEAR(probe.Duration(), 2.0, 0.15);
    Decoded decoded = Decode(output, 2);
    EXPECT_EQ(decoded.errors, "");
    EXPECT_GT(decoded.Rms(), 0.15);
}

// The File Properties object's file size and packet count, as a player reads them.
struct HeaderSizes {
    uint64_t fileSize = 0, packets = 0, playDuration = 0;
};
HeaderSizes ReadHeaderSizes(const fs::path& file) {
    auto bytes = ReadFile(file);
    HeaderSizes sizes;
    static const uint8_t kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    for (size_t at = 0; at + 104 <= bytes.size() && at < 4096; ++at) {
        if (std::memcmp(bytes.data() + at, kFileProperties, 16) != 0) continue;
        std::memcpy(&sizes.fileSize, bytes.data() + at + 40, 8);
        std::memcpy(&sizes.packets, bytes.data() + at + 56, 8);
        std::memcpy(&sizes.playDuration, bytes.data() + at + 64, 8);
        break;
    }
    return sizes;
}

TEST(AsfWriter, FullDiskAbortsAndLeavesAPlayableFile) {
    auto profile = CdQualityProfile();
    ASSERT_TRUE(profile);
    auto kept = MakeTempDir("asffullkept") / "out.wma";
    Ending end;
    {
        FullDisk disk("asffull", 96 * 1024);
        auto output = disk.Dir() / "out.wma";
        {
            AsfChain chain(profile.Get(), output, 20.0);
            ASSERT_EQ(chain.configured, S_OK);
            ASSERT_EQ(Control(chain.graph.Get())->Run(), S_OK);
            end = WaitForEnd(chain.graph.Get());
            Control(chain.graph.Get())->Stop();
        }
        disk.Keep(output, kept);
    }
    EXPECT_EQ(end.code, EC_ERRORABORT);
    EXPECT_EQ(end.param1, HRESULT_DISK_FULL);

    HeaderSizes sizes = ReadHeaderSizes(kept);
    EXPECT_EQ(sizes.fileSize, fs::file_size(kept)) << "the header matches what is there";
    EXPECT_GT(sizes.packets, 5u);
    ProbeResult probe = Probe(kept);
    EXPECT_EQ(probe.Stream("codec_name"), "wmav2");
    EXPECT_GT(probe.Duration(), 1.0);
    EXPECT_LT(probe.Duration(), 20.0);
    Decoded decoded = Decode(kept, 2);
    EXPECT_EQ(decoded.errors, "");
    EXPECT_GT(decoded.Rms(), 0.15);
    EXPECT_NEAR(decoded.Frames() / 44100.0, probe.Duration(), 0.3);
}

}  // namespace
}  // namespace quil::test
