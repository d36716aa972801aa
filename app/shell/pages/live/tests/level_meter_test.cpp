// The level meter's peak of PCM samples and its decibel scale.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/shell/pages/cd/tests/page_test_app.h"
#include "app/shell/pages/live/level_meter.h"

namespace quil::shell {
namespace {

PCMWAVEFORMAT Format(int bits) {
    PCMWAVEFORMAT format{};
    format.wFormatTag = 1;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = static_cast<WORD>(bits);
    return format;
}

TEST(LevelMeter, PeakOfSixteenAndEightBitSamples) {
    std::vector<int16_t> samples = {0, 100, -16384, 2000};
    EXPECT_DOUBLE_EQ(PeakLevel(samples.data(), 8, Format(16)), 0.5);
    // Full negative scale is the largest magnitude and stays within 1.
    samples[0] = -32768;
    EXPECT_DOUBLE_EQ(PeakLevel(samples.data(), 8, Format(16)), 1.0);
    // An odd trailing byte is no sample.
    std::vector<int16_t> quiet = {10, 0};
    EXPECT_DOUBLE_EQ(PeakLevel(quiet.data(), 3, Format(16)), 10 / 32768.0);

    std::vector<uint8_t> bytes = {128, 128, 192, 64};
    EXPECT_DOUBLE_EQ(PeakLevel(bytes.data(), 4, Format(8)), 0.5);
    bytes = {0, 255};
    EXPECT_DOUBLE_EQ(PeakLevel(bytes.data(), 2, Format(8)), 1.0);
}

TEST(LevelMeter, NoDataOrAnotherFormatReadsAsSilence) {
    std::vector<int16_t> samples = {30000, 30000};
    EXPECT_EQ(PeakLevel(nullptr, 4, Format(16)), 0);
    EXPECT_EQ(PeakLevel(samples.data(), 0, Format(16)), 0);
    EXPECT_EQ(PeakLevel(samples.data(), -4, Format(16)), 0);
    EXPECT_EQ(PeakLevel(samples.data(), 4, Format(24)), 0);
    PCMWAVEFORMAT floating = Format(16);
    floating.wFormatTag = 3;
    EXPECT_EQ(PeakLevel(samples.data(), 4, floating), 0);
}

TEST(LevelMeter, LightsOnADecibelScale) {
    testing::EnsurePageApplication();
    LevelMeter meter;
    EXPECT_EQ(meter.LitFraction(), 0);
    meter.SetLevel(1.0);
    EXPECT_DOUBLE_EQ(meter.LitFraction(), 1.0);
    meter.SetLevel(0.001);  // -60 dBFS, the floor
    EXPECT_NEAR(meter.LitFraction(), 0.0, 1e-9);
    meter.SetLevel(0.1);  // -20 dBFS
    EXPECT_NEAR(meter.LitFraction(), 2.0 / 3.0, 1e-9);
    meter.SetLevel(5.0);
    EXPECT_EQ(meter.Level(), 1.0);
    meter.SetLevel(-1.0);
    EXPECT_EQ(meter.Level(), 0.0);
    EXPECT_EQ(meter.accessibleName(), "Input level");
}

}  // namespace
}  // namespace quil::shell
