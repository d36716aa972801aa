#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/filters/encoder_interfaces.h"
#include "platform/filters/tests/encoder_test_util.h"

namespace quil::test {
namespace {

namespace fs = std::filesystem;

// The engine reaches the settings by slot number, QueryInterface being slot 0.
HRESULT CallSlot(IUnknown* object, int slot, DWORD value) {
    using Method = HRESULT (*)(IUnknown*, DWORD);
    Method const* table = *reinterpret_cast<Method* const*>(object);
    return table[slot](object, value);
}

struct Mp3Options {
    DWORD sampleRate, bitrate, channelMode, quality, copyright, crc, original, privateBit;
};

// Sets the options as the engine does: by slot, in its order.
void ApplyBySlot(IMp3EncoderSettings* settings, const Mp3Options& o) {
    CallSlot(settings, 6, o.bitrate);
    CallSlot(settings, 28, o.copyright);
    CallSlot(settings, 24, o.crc);
    CallSlot(settings, 26, o.original);
    CallSlot(settings, 4, o.privateBit);
    CallSlot(settings, 20, o.sampleRate);
    CallSlot(settings, 14, o.quality);
    CallSlot(settings, 22, o.channelMode);
}

struct FrameHeader {
    int rate;
    int kbps;
    bool crc, privateBit, copyright, original;
    int mode;
    size_t length;
};

std::optional<FrameHeader> ParseFrame(const uint8_t* p, size_t left) {
    if (left < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return std::nullopt;
    int version = (p[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    if (version == 1 || ((p[1] >> 1) & 3) != 1) return std::nullopt;  // layer III only
    static const int kMpeg1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int kMpeg2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int kRates[3][3] = {
        {11025, 12000, 8000}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    int bitrateIndex = p[2] >> 4, rateIndex = (p[2] >> 2) & 3;
    if (bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return std::nullopt;
    FrameHeader h;
    h.rate = kRates[version == 3 ? 2 : version == 2 ? 1 : 0][rateIndex];
    h.kbps = version == 3 ? kMpeg1[bitrateIndex] : kMpeg2[bitrateIndex];
    h.crc = (p[1] & 1) == 0;
    h.privateBit = p[2] & 1;
    h.mode = p[3] >> 6;
    h.copyright = (p[3] >> 3) & 1;
    h.original = (p[3] >> 2) & 1;
    int padding = (p[2] >> 1) & 1;
    h.length = static_cast<size_t>((version == 3 ? 144000 : 72000) * h.kbps / h.rate + padding);
    return h;
}

// Every frame of the file, which must hold nothing but whole frames.
std::vector<FrameHeader> Frames(const fs::path& file, bool* whole) {
    auto bytes = ReadFile(file);
    std::vector<FrameHeader> frames;
    size_t at = 0;
    while (at < bytes.size()) {
        auto frame = ParseFrame(bytes.data() + at, bytes.size() - at);
        if (!frame) break;
        frames.push_back(*frame);
        at += frame->length;
    }
    *whole = at == bytes.size();
    return frames;
}

uint16_t Crc16(const uint8_t* data, size_t size) {
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

// The frame count an Info/Xing frame at the start of the file declares; nullopt without one,
// or when the LAME tag's checksum fails (players then ignore the delay and padding).
std::optional<uint32_t> InfoFrameCount(const fs::path& file) {
    auto bytes = ReadFile(file);
    auto first = ParseFrame(bytes.data(), bytes.size());
    if (!first) return std::nullopt;
    for (size_t at = 4; at + 12 <= std::min<size_t>(first->length, 48); ++at) {
        if (std::memcmp(&bytes[at], "Info", 4) != 0 && std::memcmp(&bytes[at], "Xing", 4) != 0)
            continue;
        if (!(bytes[at + 7] & 1)) return std::nullopt;  // no frame count
        size_t crcAt = at + 154;
        if (crcAt + 2 > first->length || std::memcmp(&bytes[at + 120], "LAME", 4) != 0 ||
            Crc16(bytes.data(), crcAt) != (bytes[crcAt] << 8 | bytes[crcAt + 1]))
            return std::nullopt;
        return static_cast<uint32_t>(bytes[at + 8] << 24 | bytes[at + 9] << 16 |
                                     bytes[at + 10] << 8 | bytes[at + 11]);
    }
    return std::nullopt;
}

struct Mp3Chain {
    ComPtr<IGraphBuilder> graph = NewGraph();
    ComPtr<ToneSource> source;
    ComPtr<IBaseFilter> encoder, dump;
    ComPtr<IMp3EncoderSettings> settings;

    Mp3Chain(int rate, int channels, double seconds, const fs::path& output, bool ends = true) {
        source = AddTone(graph.Get(), rate, channels, seconds, ends);
        EXPECT_EQ(CoCreateInstance(CLSID_Mp3Encoder, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(encoder.Put())),
                  S_OK);
        settings = QueryAs<IMp3EncoderSettings>(encoder.Get());
        dump = AddFileWriter(graph.Get(), CLSID_FileDump, L"File Dump", output.string());
    }
    HRESULT Connect() {
        HRESULT hr = graph->AddFilter(encoder.Get(), L"Mp3 Encoder");
        if (FAILED(hr)) return hr;
        hr = ConnectPins(graph.Get(), source.Get(), encoder.Get());
        return FAILED(hr) ? hr : ConnectPins(graph.Get(), encoder.Get(), dump.Get());
    }
};

TEST(Mp3Encoder, SettingSlotsReachTheNamedMethods) {
    filters::RegisterStockFilters();
    ComPtr<IMp3EncoderSettings> settings;
    ASSERT_EQ(CoCreateInstance(CLSID_Mp3Encoder, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(settings.Put())),
              S_OK);
    ApplyBySlot(settings.Get(), {24000, 96, 3, 7, 1, 1, 1, 1});
    DWORD value = 0;
    settings->get_Bitrate(&value);
    EXPECT_EQ(value, 96u);
    settings->get_SampleRate(&value);
    EXPECT_EQ(value, 24000u);
    settings->get_ChannelMode(&value);
    EXPECT_EQ(value, 3u);
    settings->get_Quality(&value);
    EXPECT_EQ(value, 7u);
    for (auto getter : {&IMp3EncoderSettings::get_Copyright, &IMp3EncoderSettings::get_Crc,
                        &IMp3EncoderSettings::get_Original, &IMp3EncoderSettings::get_PrivateBit}) {
        value = 0;
        (settings.Get()->*getter)(&value);
        EXPECT_EQ(value, 1u);
    }
    settings->get_SourceSampleRate(&value);
    EXPECT_EQ(value, 0u) << "nothing connected yet";
}

TEST(Mp3Encoder, RefusesValuesOutsideItsRanges) {
    filters::RegisterStockFilters();
    ComPtr<IMp3EncoderSettings> settings;
    ASSERT_EQ(CoCreateInstance(CLSID_Mp3Encoder, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(settings.Put())),
              S_OK);
    EXPECT_EQ(settings->put_ChannelMode(4), E_INVALIDARG);
    EXPECT_EQ(settings->put_SampleRate(44000), E_INVALIDARG);
    EXPECT_EQ(settings->put_Bitrate(0), E_INVALIDARG);
    EXPECT_EQ(settings->put_Bitrate(640), E_INVALIDARG);
    EXPECT_EQ(settings->put_Quality(10), E_INVALIDARG);
    EXPECT_EQ(settings->put_Crc(2), E_INVALIDARG);
    EXPECT_EQ(settings->get_Bitrate(nullptr), E_POINTER);
    DWORD value = 0;
    settings->get_Bitrate(&value);
    EXPECT_EQ(value, 128u) << "a refused value leaves the setting alone";
}

struct HeaderCase {
    const char* name;
    int inputRate, inputChannels;
    Mp3Options options;
    bool beforeConnect;
    int outputRate, outputChannels, headerMode, kbps;
    bool infoFrame = true;  // LAME leaves it out where a frame is too small to hold it
};

class Mp3Headers : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(Mp3Headers, FramesCarryTheSettingsAndDecode) {
    const HeaderCase& c = GetParam();
    auto output = MakeTempDir(c.name) / "out.mp3";
    constexpr double kSeconds = 2.0;
    Mp3Chain chain(c.inputRate, c.inputChannels, kSeconds, output);
    ASSERT_TRUE(chain.settings);
    if (c.beforeConnect) ApplyBySlot(chain.settings.Get(), c.options);
    ASSERT_EQ(chain.Connect(), S_OK);
    if (!c.beforeConnect) ApplyBySlot(chain.settings.Get(), c.options);
    DWORD sourceRate = 0;
    chain.settings->get_SourceSampleRate(&sourceRate);
    EXPECT_EQ(sourceRate, static_cast<DWORD>(c.inputRate));

    Ending end = RunToEnd(chain.graph.Get());
    ASSERT_EQ(end.code, EC_COMPLETE);

    bool whole = false;
    auto frames = Frames(output, &whole);
    EXPECT_TRUE(whole) << "the file holds whole frames only";
    ASSERT_GT(frames.size(), 10u);
    for (const auto& f : frames) {
        ASSERT_EQ(f.rate, c.outputRate);
        ASSERT_EQ(f.kbps, c.kbps);
        ASSERT_EQ(f.crc, c.options.crc != 0);
        ASSERT_EQ(f.privateBit, c.options.privateBit != 0);
        ASSERT_EQ(f.copyright, c.options.copyright != 0);
        ASSERT_EQ(f.original, c.options.original != 0);
        ASSERT_EQ(f.mode, c.headerMode);
    }

    ProbeResult probe = Probe(output);
    EXPECT_EQ(probe.Stream("codec_name"), "mp3");
    EXPECT_EQ(probe.Int("sample_rate"), c.outputRate);
    EXPECT_EQ(probe.Int("channels"), c.outputChannels);
    Decoded decoded = Decode(output, c.outputChannels);
    EXPECT_EQ(decoded.errors, "");
    int64_t expected = static_cast<int64_t>(kSeconds * c.outputRate);
    if (c.infoFrame) {
        // The Info frame leads and counts the audio frames after it; with the encoder delay
        // and padding it declares, the file decodes to exactly the input's length.
        EXPECT_EQ(InfoFrameCount(output), std::optional<uint32_t>(frames.size() - 1));
        EXPECT_EQ(decoded.Frames(), expected);
    } else {
        // Without one a decoder plays the delay and the padding too, never less.
        EXPECT_EQ(InfoFrameCount(output), std::nullopt);
        int frameSamples = c.outputRate >= 32000 ? 1152 : 576;
        EXPECT_GE(decoded.Frames(), expected);
        EXPECT_LE(decoded.Frames(), expected + 1105 + 2 * frameSamples);
    }
    EXPECT_GT(decoded.Rms(), 0.2);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, Mp3Headers,
    ::testing::Values(
        HeaderCase{
            "joint_all_bits", 44100, 2, {44100, 128, 1, 5, 1, 1, 1, 1}, true, 44100, 2, 1, 128},
        HeaderCase{
            "stereo_no_bits", 44100, 2, {48000, 192, 0, 2, 0, 0, 0, 0}, false, 48000, 2, 0, 192},
        HeaderCase{"mono_downmix", 44100, 2, {22050, 64, 3, 9, 1, 0, 0, 0}, true, 22050, 1, 3, 64},
        HeaderCase{
            "mono_input", 22050, 1, {22050, 32, 0, 5, 0, 0, 1, 0}, false, 22050, 1, 3, 32, false},
        HeaderCase{
            "dual_as_stereo", 48000, 2, {32000, 320, 2, 5, 0, 1, 0, 1}, false, 32000, 2, 0, 320},
        HeaderCase{
            "low_rate", 16000, 2, {16000, 24, 1, 5, 1, 1, 0, 1}, true, 16000, 2, 1, 24, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Mp3Encoder, StopWithoutEndOfStreamLeavesWholeFrames) {
    auto output = MakeTempDir("mp3stop") / "out.mp3";
    Mp3Chain chain(44100, 2, 1.5, output, false);
    ASSERT_EQ(chain.Connect(), S_OK);
    ASSERT_EQ(Control(chain.graph.Get())->Run(), S_OK);
    // The tone has gone through once the source idles; the stream itself never ends.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (chain.source->FramesSent() < 66150 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Control(chain.graph.Get())->Stop(), S_OK);
    bool whole = false;
    auto frames = Frames(output, &whole);
    EXPECT_TRUE(whole);
    // All but what LAME still held when the graph stopped.
    EXPECT_GE(frames.size() * 1152, 66150u - 4 * 1152);
    // Only the placeholder Info frame is there, and it claims no frames: players take them all.
    EXPECT_EQ(InfoFrameCount(output), std::optional<uint32_t>(0));
    Decoded decoded = Decode(output, 2);
    EXPECT_EQ(decoded.errors, "");
    EXPECT_GE(decoded.Frames(), 66150 - 4 * 1152);
    EXPECT_GT(decoded.Rms(), 0.2);
}

TEST(Mp3Encoder, EightBitSourceIsConvertedOnTheWay) {
    auto dir = MakeTempDir("mp3eight");
    auto input = dir / "in.wav", output = dir / "out.mp3";
    ASSERT_EQ(
        RunCommand("sox -n -r 22050 -c 1 -b 8 '" + input.string() + "' synth 1 sine 440 vol 0.5"),
        0);
    auto graph = NewGraph();
    auto source = AddSource(graph.Get(), input.string());
    auto encoder = AddFilter(graph.Get(), CLSID_Mp3Encoder, L"Mp3 Encoder");
    auto dump = AddFileWriter(graph.Get(), CLSID_FileDump, L"File Dump", output.string());
    ASSERT_EQ(ConnectPins(graph.Get(), source.Get(), encoder.Get()), S_OK);
    ASSERT_EQ(ConnectPins(graph.Get(), encoder.Get(), dump.Get()), S_OK);
    EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
    ProbeResult probe = Probe(output);
    EXPECT_EQ(probe.Stream("codec_name"), "mp3");
    EXPECT_EQ(probe.Int("channels"), 1);
    EXPECT_GT(Decode(output, 1).Rms(), 0.2);
}

}  // namespace
}  // namespace quil::test
