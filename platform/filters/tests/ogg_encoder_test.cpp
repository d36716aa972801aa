#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "platform/filters/tests/encoder_test_util.h"
#include "platform/registry/registry.h"

namespace quil::test {
namespace {

namespace fs = std::filesystem;

// The engine's way of passing the quality: the float in the value field, the type left empty.
HRESULT WriteQuality(IBaseFilter* encoder, float quality) {
    auto bag = QueryAs<IPropertyBag>(encoder);
    if (!bag) return E_NOINTERFACE;
    VARIANT value;
    VariantInit(&value);
    value.fltVal = quality;
    return bag->Write(L"Quality", &value);
}

// feed -> "Ogg Encoder" -> "Ogg Multiplexer" -> "File Writer", quality written after the
// encoder's input is connected, as the media-file and live chains do.
void BuildOggChain(IGraphBuilder* graph, IBaseFilter* feed, const fs::path& output, float quality) {
    auto encoder = AddFilter(graph, CLSID_OggEncoder, L"Ogg Encoder");
    auto mux = AddFilter(graph, CLSID_OggMultiplexer, L"Ogg Multiplexer");
    auto writer = AddFileWriter(graph, CLSID_FileWriter, L"File Writer", output.string());
    ASSERT_EQ(ConnectPins(graph, feed, encoder.Get()), S_OK);
    EXPECT_EQ(WriteQuality(encoder.Get(), quality), S_OK);
    ASSERT_EQ(ConnectPins(graph, encoder.Get(), mux.Get()), S_OK);
    ASSERT_EQ(ConnectPins(graph, mux.Get(), writer.Get()), S_OK);
}

uint32_t OggCrc(uint32_t crc, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint32_t>(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

struct Page {
    uint8_t flags;
    int64_t granule;
    std::vector<int> segments;
};

// Every page of the file, each checked against its CRC; false when anything is left over.
bool ReadPages(const fs::path& file, std::vector<Page>* pages) {
    auto bytes = ReadFile(file);
    size_t at = 0;
    while (at + 27 <= bytes.size()) {
        if (std::memcmp(bytes.data() + at, "OggS", 4) != 0) return false;
        Page page;
        page.flags = bytes[at + 5];
        std::memcpy(&page.granule, bytes.data() + at + 6, 8);
        uint32_t crc;
        std::memcpy(&crc, bytes.data() + at + 22, 4);
        size_t count = bytes[at + 26], length = 27 + count;
        if (at + length > bytes.size()) return false;
        for (size_t i = 0; i < count; ++i) {
            page.segments.push_back(bytes[at + 27 + i]);
            length += bytes[at + 27 + i];
        }
        if (at + length > bytes.size()) return false;
        // The checksum covers the page with its own field taken as zero.
        const uint8_t zero[4] = {};
        uint32_t computed = OggCrc(0, bytes.data() + at, 22);
        computed = OggCrc(computed, zero, 4);
        computed = OggCrc(computed, bytes.data() + at + 26, length - 26);
        if (computed != crc) return false;
        pages->push_back(page);
        at += length;
    }
    return at == bytes.size();
}

TEST(OggChain, WritesAStandardOggVorbisFile) {
    auto output = MakeTempDir("ogg") / "out.ogg";
    auto graph = NewGraph();
    constexpr double kSeconds = 3.0;
    auto tone = AddTone(graph.Get(), 44100, 2, kSeconds);
    BuildOggChain(graph.Get(), tone.Get(), output, 6.0f);
    ASSERT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);

    std::vector<Page> pages;
    ASSERT_TRUE(ReadPages(output, &pages)) << "whole pages with good checksums";
    ASSERT_GE(pages.size(), 4u);
    EXPECT_EQ(pages.front().flags, 2) << "the first page begins the stream";
    EXPECT_EQ(pages.front().segments, std::vector<int>{30}) << "identification header alone";
    EXPECT_EQ(pages.back().flags & 4, 4) << "the last page ends the stream";
    for (size_t i = 1; i + 1 < pages.size(); ++i) EXPECT_EQ(pages[i].flags & 6, 0);
    EXPECT_EQ(pages.back().granule, static_cast<int64_t>(kSeconds * 44100));

    ProbeResult probe = Probe(output);
    EXPECT_EQ(probe.format["format_name"], "ogg");
    EXPECT_EQ(probe.Stream("codec_name"), "vorbis");
    EXPECT_EQ(probe.Int("sample_rate"), 44100);
    EXPECT_EQ(probe.Int("channels"), 2);
    EXPECT_NEAR(probe.Duration(), kSeconds, 0.05);
    Decoded decoded = Decode(output, 2);
    EXPECT_EQ(decoded.errors, "");
    EXPECT_NEAR(decoded.Frames(), kSeconds * 44100, 2048);
    EXPECT_GT(decoded.Rms(), 0.25);
}

TEST(OggChain, HigherQualityMeansMoreBits) {
    auto dir = MakeTempDir("oggquality");
    auto input = dir / "noise.wav";
    ASSERT_EQ(
        RunCommand("sox -n -r 44100 -c 2 -b 16 '" + input.string() + "' synth 3 pinknoise vol 0.3"),
        0);
    std::vector<uintmax_t> sizes;
    for (float quality : {0.0f, 3.0f, 6.0f, 9.0f, 10.0f}) {
        auto output = dir / ("q" + std::to_string(static_cast<int>(quality)) + ".ogg");
        auto graph = NewGraph();
        auto source = AddSource(graph.Get(), input.string());
        BuildOggChain(graph.Get(), source.Get(), output, quality);
        ASSERT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
        EXPECT_NEAR(Probe(output).Duration(), 3.0, 0.05);
        sizes.push_back(fs::file_size(output));
    }
    for (size_t i = 1; i < sizes.size(); ++i)
        EXPECT_GT(sizes[i], sizes[i - 1] * 11 / 10) << "quality step " << i;
}

TEST(OggChain, EightBitMonoInput) {
    auto dir = MakeTempDir("oggmono");
    auto input = dir / "in.wav", output = dir / "out.ogg";
    ASSERT_EQ(
        RunCommand("sox -n -r 22050 -c 1 -b 8 '" + input.string() + "' synth 2 sine 440 vol 0.5"),
        0);
    auto graph = NewGraph();
    auto source = AddSource(graph.Get(), input.string());
    BuildOggChain(graph.Get(), source.Get(), output, 6.0f);
    ASSERT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
    ProbeResult probe = Probe(output);
    EXPECT_EQ(probe.Int("sample_rate"), 22050);
    EXPECT_EQ(probe.Int("channels"), 1);
    EXPECT_NEAR(probe.Duration(), 2.0, 0.05);
    EXPECT_GT(Decode(output, 1).Rms(), 0.2);
}

TEST(OggEncoder, QualityProperty) {
    filters::RegisterStockFilters();
    ComPtr<IBaseFilter> encoder;
    ASSERT_EQ(CoCreateInstance(CLSID_OggEncoder, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(encoder.Put())),
              S_OK);
    auto bag = QueryAs<IPropertyBag>(encoder.Get());
    ASSERT_TRUE(bag);
    VARIANT value;
    VariantInit(&value);
    ASSERT_EQ(bag->Read(L"Quality", &value, nullptr), S_OK);
    EXPECT_EQ(value.vt, VT_R4);
    EXPECT_FLOAT_EQ(value.fltVal, 6.0f);

    EXPECT_EQ(WriteQuality(encoder.Get(), 2.5f), S_OK);
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = 8;
    EXPECT_EQ(bag->Write(L"Quality", &value), S_OK);
    bag->Read(L"Quality", &value, nullptr);
    EXPECT_FLOAT_EQ(value.fltVal, 8.0f);

    for (float bad : {-1.0f, 10.5f, std::numeric_limits<float>::quiet_NaN(),
                      std::numeric_limits<float>::infinity()})
        EXPECT_EQ(WriteQuality(encoder.Get(), bad), E_INVALIDARG);
    VariantInit(&value);
    EXPECT_EQ(bag->Write(L"Bitrate", &value), E_INVALIDARG);
    bag->Read(L"Quality", &value, nullptr);
    EXPECT_FLOAT_EQ(value.fltVal, 8.0f);
}

TEST(OggEncoder, DefaultQualityComesFromItsRegistryKey) {
    filters::RegisterStockFilters();
    auto key = registry::Key::Create(registry::Root::ClassesRoot,
                                     "CLSID\\{889EF574-0656-4B52-9091-072E52BB1B80}\\Defaults");
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->WriteString("Quality", "3"));
    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(
        CoCreateInstance(CLSID_OggEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(bag.Put())),
        S_OK);
    VARIANT value;
    VariantInit(&value);
    bag->Read(L"Quality", &value, nullptr);
    EXPECT_FLOAT_EQ(value.fltVal, 3.0f);
    key->WriteString("Quality", "junk");
    bag = nullptr;
    ASSERT_EQ(
        CoCreateInstance(CLSID_OggEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(bag.Put())),
        S_OK);
    bag->Read(L"Quality", &value, nullptr);
    EXPECT_FLOAT_EQ(value.fltVal, 6.0f);
}

TEST(OggMultiplexer, TakesOnlyVorbisPackets) {
    auto graph = NewGraph();
    auto tone = AddTone(graph.Get(), 44100, 2, 1.0);
    auto mux = AddFilter(graph.Get(), CLSID_OggMultiplexer, L"Ogg Multiplexer");
    auto out = FindPinByIndex(tone.Get(), PINDIR_OUTPUT, 1);
    auto in = FindPinByIndex(mux.Get(), PINDIR_INPUT, 1);
    EXPECT_TRUE(FAILED(graph->ConnectDirect(out.Get(), in.Get(), nullptr)));
}

}  // namespace
}  // namespace quil::test
