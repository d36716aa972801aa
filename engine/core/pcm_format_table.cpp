#include "engine/core/pcm_format_table.h"

namespace quil::engine {

namespace {
constexpr int kRates[9] = {48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
}

bool IsPcmFormatIndex(int index) { return index >= 0 && index < kPcmFormatCount; }

PcmFormat PcmFormatAt(int index) {
    if (!IsPcmFormatIndex(index)) index = kDefaultWavFormatIndex;
    int bits = index < 18 ? 16 : 8;
    int within = index % 18;
    return {kRates[within / 2], within % 2 == 0 ? 2 : 1, bits};
}

WAVEFORMATEX WaveFormatForIndex(int index) {
    PcmFormat format = PcmFormatAt(index);
    return MakePcmFormat(format.rate, format.channels, format.bits, 18);
}

}  // namespace quil::engine
