#pragma once

// Converts raw CD audio (44,100 Hz, 16 bits, stereo) into another PCM layout on libswresample.
// One converter serves a whole stream, so the resampler's filter runs across sample boundaries
// instead of starting cold at every read.

#include <cstddef>
#include <cstdint>

#include "platform/graph/media_types.h"

struct SwrContext;

namespace quil::cdsource {

// The layout of raw CD audio as the pin describes it (extra size 18, as the grabber sets it).
WAVEFORMATEX CdAudioFormat();
// All seven fields equal.
bool SameWaveFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b);
// PCM that the converter can produce: 1 or 2 channels of 8 or 16 bits, 1 to 192 kHz, a
// consistent block alignment.
bool ConvertibleFormat(const WAVEFORMATEX& format);
// The most bytes one read of `sectors` can become in `format`, the resampler's tail included.
size_t ConvertedBytesBound(const WAVEFORMATEX& format, uint32_t sectors);

class PcmReformatter {
public:
    PcmReformatter() = default;
    ~PcmReformatter();
    PcmReformatter(const PcmReformatter&) = delete;
    PcmReformatter& operator=(const PcmReformatter&) = delete;

    bool Open(const WAVEFORMATEX& target);
    void Close();
    bool IsOpen() const { return context_ != nullptr; }

    // Converts `frames` CD frames into output, at most `capacity` bytes; with `drain` the frames
    // the resampler holds back come out too and the converter starts afresh afterwards. Returns
    // the bytes written, or -1.
    long Convert(const uint8_t* input, int frames, uint8_t* output, size_t capacity, bool drain);

private:
    SwrContext* context_ = nullptr;
    WAVEFORMATEX target_{};
};

}  // namespace quil::cdsource
