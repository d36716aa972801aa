#pragma once

// The 36 PCM formats a WavFormatIndex names: nine rates from 48000 Hz down, each stereo then
// mono, all in 16 bits and then again in 8 bits. Index 2 (44100 Hz, 16 bits, stereo) is the
// default wherever one is needed.

#include "platform/graph/media_types.h"

namespace quil::engine {

constexpr int kPcmFormatCount = 36;
constexpr int kDefaultWavFormatIndex = 2;

struct PcmFormat {
    int rate;
    int channels;
    int bits;
};

// The entry of an index; an index outside 0..35 gives the default entry.
PcmFormat PcmFormatAt(int index);
bool IsPcmFormatIndex(int index);

// The WAVEFORMATEX the engine builds from an index: tag 1, extra size 18.
WAVEFORMATEX WaveFormatForIndex(int index);

}  // namespace quil::engine
