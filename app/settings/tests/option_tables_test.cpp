// The texts of the option lists and their agreement with the engine's tables.

#include <gtest/gtest.h>

#include <string>

#include "app/settings/option_tables.h"

namespace quil::settings {
namespace {

TEST(PcmFormatLabels, RowsAsTheUserSeesThem) {
    auto labels = PcmFormatTable::Labels();
    ASSERT_EQ(labels.size(), 36u);
    EXPECT_EQ(labels[0], "48.000kHz  16Bits  Stereo         187kb/sec");
    EXPECT_EQ(labels[2], "44.000kHz  16Bits  Stereo         172kb/sec");
    EXPECT_EQ(labels[5], "32.000kHz  16Bits  Mono           62kb/sec");
    EXPECT_EQ(labels[16], "8.000kHz   16Bits  Stereo          31kb/sec");
    EXPECT_EQ(labels[22], "32.000kHz  8Bits   Stereo         62kb/sec");
    EXPECT_EQ(labels[23], "32.000kHz  8Bits   Mono           31kb/sec");
    EXPECT_EQ(labels[27], "22.050kHz  8Bits   Mono            21kb/sec");
    EXPECT_EQ(labels[33], "11.025kHz  8Bits   Mono            10kb/sec");
    EXPECT_EQ(labels[35], "8.000kHz   8Bits   Mono             7kb/sec");
    EXPECT_EQ(PcmFormatTable::Label(-1), "");
    EXPECT_EQ(PcmFormatTable::Label(36), "");
}

// Every label names the rate, bits and channels the engine builds for its row.
TEST(PcmFormatLabels, AgreeWithTheEngineFormats) {
    for (int i = 0; i < kPcmFormatCount; ++i) {
        SCOPED_TRACE(i);
        std::string label(PcmFormatTable::Label(i));
        engine::PcmFormat format = PcmFormatTable::Format(i);
        int shownHz = static_cast<int>(std::stod(label.substr(0, label.find("kHz"))) * 1000 + 0.5);
        EXPECT_EQ(shownHz, format.rate == 44100 ? 44000 : format.rate);
        EXPECT_NE(label.find(std::to_string(format.bits) + "Bits"), std::string::npos);
        EXPECT_NE(label.find(format.channels == 2 ? "Stereo" : "Mono"), std::string::npos);
        EXPECT_TRUE(label.ends_with("kb/sec"));
    }
}

TEST(Mp3Tables, RatesBitRatesAndModes) {
    auto rates = Mp3SampleRates();
    ASSERT_EQ(rates.size(), 6u);
    const int32_t hz[] = {48000, 44100, 32000, 24000, 22050, 16000};
    const char* labels[] = {"48kHz", "44.1kHz", "32kHz", "24kHz", "22.05kHz", "16kHz"};
    for (size_t i = 0; i < rates.size(); ++i) {
        EXPECT_EQ(rates[i].rate, hz[i]);
        EXPECT_EQ(rates[i].label, labels[i]);
    }
    auto high = Mp3BitRates(32000);
    auto low = Mp3BitRates(24000);
    ASSERT_EQ(high.size(), 14u);
    ASSERT_EQ(low.size(), 14u);
    EXPECT_EQ(high.front(), 32);
    EXPECT_EQ(high[8], 128);
    EXPECT_EQ(high.back(), 320);
    EXPECT_EQ(low.front(), 8);
    EXPECT_EQ(low[8], 80);
    EXPECT_EQ(low[12], 144);
    EXPECT_EQ(low.back(), 160);
    EXPECT_EQ(Mp3BitRates(48000).data(), high.data());
    EXPECT_EQ(Mp3BitRates(16000).data(), low.data());

    auto modes = Mp3ChannelModes();
    ASSERT_EQ(modes.size(), 4u);
    EXPECT_EQ(modes[0], "Stereo");
    EXPECT_EQ(modes[1], "Joint Strero");
    EXPECT_EQ(modes[2], "Dual Channel");
    EXPECT_EQ(modes[3], "Mono");
}

TEST(OtherTables, OggWavWmaEndAndExtensions) {
    auto ogg = OggQualities();
    ASSERT_EQ(ogg.size(), 10u);
    EXPECT_EQ(ogg[0], "0 (Best Speed)");
    EXPECT_EQ(ogg[5], "5");
    EXPECT_EQ(ogg[9], "9 (Best Quality)");

    auto presets = WavPresets();
    ASSERT_EQ(presets.size(), 4u);
    EXPECT_EQ(presets[0].label, "CD Quality");
    EXPECT_EQ(presets[1].label, "Radio Quality");
    EXPECT_EQ(presets[2].label, "Telephone Quality");
    EXPECT_EQ(presets[3].label, "Untitled");
    EXPECT_EQ(presets[3].attribute, -1);
    struct Expected {
        int rate, bits, channels;
    } formats[] = {{44100, 16, 2}, {22050, 8, 1}, {11025, 8, 1}};
    for (int i = 0; i < 3; ++i) {
        engine::PcmFormat format = PcmFormatTable::Format(presets[i].attribute);
        EXPECT_EQ(format.rate, formats[i].rate);
        EXPECT_EQ(format.bits, formats[i].bits);
        EXPECT_EQ(format.channels, formats[i].channels);
    }

    EXPECT_EQ(WmaVersionLabel(4), "Windows Media Audio (wma) version 4");
    EXPECT_EQ(WmaVersionLabel(7), "Windows Media Audio (wma) version 7");
    EXPECT_EQ(WmaVersionLabel(8), "Windows Media Audio (wma) version 8");
    EXPECT_EQ(WmaVersionLabel(9), "Windows Media Audio (wma) version 9");
    EXPECT_EQ(WmaVersionLabel(5), "");
    EXPECT_FALSE(IsWmaVersion(-1));

    auto end = EndOptionTexts();
    ASSERT_EQ(end.size(), 3u);
    EXPECT_EQ(end[kEndNothing], "NULL");
    EXPECT_EQ(end[kEndCloseProgram], "Close Quillet");
    EXPECT_EQ(end[kEndShutDown], "Shut down");

    EXPECT_EQ(OutputExtension(kWav), ".wav");
    EXPECT_EQ(OutputExtension(kMp3), ".mp3");
    EXPECT_EQ(OutputExtension(kWma), ".wma");
    EXPECT_EQ(OutputExtension(kOgg), ".ogg");
    EXPECT_EQ(OutputExtension(4), "");
    EXPECT_EQ(OutputExtension(-1), "");
}

}  // namespace
}  // namespace quil::settings
