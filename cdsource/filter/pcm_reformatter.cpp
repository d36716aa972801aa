#include "cdsource/filter/pcm_reformatter.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace quil::cdsource {

namespace {

constexpr int kCdRate = 44100;
constexpr int kCdBlockAlign = 4;
// Frames a resampler may hold back or add on top of the exact rate ratio.
constexpr int64_t kResamplerSlackFrames = 256;

AVSampleFormat SampleFormatOf(const WAVEFORMATEX& format) {
    return format.wBitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
}

}  // namespace

WAVEFORMATEX CdAudioFormat() {
    return MakePcmFormat(kCdRate, 2, 16, 18);
}

bool SameWaveFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
           a.nSamplesPerSec == b.nSamplesPerSec && a.nAvgBytesPerSec == b.nAvgBytesPerSec &&
           a.nBlockAlign == b.nBlockAlign && a.wBitsPerSample == b.wBitsPerSample &&
           a.cbSize == b.cbSize;
}

bool ConvertibleFormat(const WAVEFORMATEX& format) {
    return format.wFormatTag == WAVE_FORMAT_PCM &&
           (format.nChannels == 1 || format.nChannels == 2) &&
           (format.wBitsPerSample == 8 || format.wBitsPerSample == 16) &&
           format.nSamplesPerSec >= 1000 && format.nSamplesPerSec <= 192000 &&
           format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8;
}

size_t ConvertedBytesBound(const WAVEFORMATEX& format, uint32_t sectors) {
    if (!ConvertibleFormat(format)) return 0;
    int64_t inFrames = int64_t{sectors} * 2352 / kCdBlockAlign;
    int64_t outFrames = (inFrames * format.nSamplesPerSec + kCdRate - 1) / kCdRate;
    return static_cast<size_t>((outFrames + kResamplerSlackFrames) * format.nBlockAlign);
}

PcmReformatter::~PcmReformatter() {
    Close();
}

bool PcmReformatter::Open(const WAVEFORMATEX& target) {
    Close();
    if (!ConvertibleFormat(target)) return false;
    AVChannelLayout inLayout, outLayout;
    av_channel_layout_default(&inLayout, 2);
    av_channel_layout_default(&outLayout, target.nChannels);
    if (swr_alloc_set_opts2(&context_, &outLayout, SampleFormatOf(target),
                            static_cast<int>(target.nSamplesPerSec), &inLayout, AV_SAMPLE_FMT_S16,
                            kCdRate, 0, nullptr) < 0 ||
        swr_init(context_) < 0) {
        Close();
        return false;
    }
    target_ = target;
    return true;
}

void PcmReformatter::Close() {
    swr_free(&context_);
}

long PcmReformatter::Convert(const uint8_t* input, int frames, uint8_t* output, size_t capacity,
                             bool drain) {
    if (!context_) return -1;
    int room = static_cast<int>(capacity / target_.nBlockAlign);
    uint8_t* outPlanes[1] = {output};
    const uint8_t* inPlanes[1] = {input};
    int produced = swr_convert(context_, outPlanes, room, frames > 0 ? inPlanes : nullptr, frames);
    if (produced < 0) return -1;
    if (drain) {
        uint8_t* rest[1] = {output + static_cast<size_t>(produced) * target_.nBlockAlign};
        int tail = swr_convert(context_, rest, room - produced, nullptr, 0);
        if (tail < 0) return -1;
        produced += tail;
        // A drained resampler is spent; the next segment (after a seek back) needs a fresh one.
        WAVEFORMATEX target = target_;
        if (!Open(target)) return -1;
    }
    return static_cast<long>(produced) * target_.nBlockAlign;
}

}  // namespace quil::cdsource
