// PCM format conversion (rate, channels, sample size) on libswresample; the graph builder puts
// it between two pins whose PCM formats differ.

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <vector>

#include "platform/filters/class_ids.h"
#include "platform/filters/filter_factories.h"
#include "platform/graph/transform_filter.h"

namespace quil::filters {

namespace {

AVSampleFormat SampleFormatOf(const WAVEFORMATEX& format) {
    if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && format.wBitsPerSample == 32)
        return AV_SAMPLE_FMT_FLT;
    if (format.wFormatTag != WAVE_FORMAT_PCM) return AV_SAMPLE_FMT_NONE;
    switch (format.wBitsPerSample) {
        case 8: return AV_SAMPLE_FMT_U8;
        case 16: return AV_SAMPLE_FMT_S16;
        case 32: return AV_SAMPLE_FMT_S32;
        default: return AV_SAMPLE_FMT_NONE;
    }
}

bool UsableFormat(const MediaType& type, bool asOutput) {
    const WAVEFORMATEX* format = type.WaveFormat();
    if (type.majortype != MEDIATYPE_Audio || !format) return false;
    if (type.subtype != MEDIASUBTYPE_PCM && type.subtype != MEDIASUBTYPE_IEEE_FLOAT) return false;
    AVSampleFormat sampleFormat = SampleFormatOf(*format);
    if (sampleFormat == AV_SAMPLE_FMT_NONE) return false;
    if (asOutput && sampleFormat != AV_SAMPLE_FMT_U8 && sampleFormat != AV_SAMPLE_FMT_S16)
        return false;
    if (format->nChannels < 1 || format->nChannels > 8) return false;
    if (format->nSamplesPerSec < 1000 || format->nSamplesPerSec > 384000) return false;
    return format->nBlockAlign == format->nChannels * format->wBitsPerSample / 8;
}

class PcmConverter : public TransformFilter {
public:
    PcmConverter() : TransformFilter(CLSID_PcmConverter, L"Input", L"Output") {}
    ~PcmConverter() override { swr_free(&context_); }

    HRESULT CheckInputType(const MediaType& type) override {
        return UsableFormat(type, false) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT GetOutputType(int position, MediaType* type) override {
        const WAVEFORMATEX* in = InputType().WaveFormat();
        // The input's layout in 16 bits first, then the common CD and DAT formats.
        const int layouts[][3] = {{static_cast<int>(in->nSamplesPerSec), in->nChannels, 16},
                                  {44100, 2, 16},
                                  {48000, 2, 16}};
        if (position < 0 || position >= 3) return VFW_S_NO_MORE_ITEMS;
        *type = PcmMediaType(layouts[position][0], layouts[position][1], layouts[position][2]);
        return S_OK;
    }

    HRESULT CheckTransform(const MediaType&, const MediaType& output) override {
        return UsableFormat(output, true) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        const WAVEFORMATEX* out = OutputType().WaveFormat();
        ALLOCATOR_PROPERTIES wanted{4, static_cast<LONG>(std::max<DWORD>(out->nAvgBytesPerSec / 10, 4096)),
                                    1, 0};
        if (request->cBuffers > wanted.cBuffers) wanted.cBuffers = request->cBuffers;
        if (request->cbBuffer > wanted.cbBuffer) wanted.cbBuffer = request->cbBuffer;
        ALLOCATOR_PROPERTIES actual{};
        HRESULT hr = allocator->SetProperties(&wanted, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer < out->nBlockAlign ? E_FAIL : S_OK;
    }

    HRESULT StartStreaming() override {
        const WAVEFORMATEX* in = InputType().WaveFormat();
        const WAVEFORMATEX* out = OutputType().WaveFormat();
        swr_free(&context_);
        AVChannelLayout inLayout, outLayout;
        av_channel_layout_default(&inLayout, in->nChannels);
        av_channel_layout_default(&outLayout, out->nChannels);
        int error = swr_alloc_set_opts2(&context_, &outLayout, SampleFormatOf(*out),
                                        static_cast<int>(out->nSamplesPerSec), &inLayout,
                                        SampleFormatOf(*in), static_cast<int>(in->nSamplesPerSec),
                                        0, nullptr);
        if (error < 0 || swr_init(context_) < 0) {
            swr_free(&context_);
            return E_FAIL;
        }
        inBlock_ = in->nBlockAlign;
        outBlock_ = out->nBlockAlign;
        outRate_ = out->nSamplesPerSec;
        producedFrames_ = 0;
        haveOrigin_ = false;
        return S_OK;
    }

    HRESULT StopStreaming() override {
        swr_free(&context_);
        return S_OK;
    }

    void OnFlush() override {
        // A seek starts a new segment: drop what the resampler holds back.
        if (context_) {
            swr_close(context_);
            swr_init(context_);
        }
        haveOrigin_ = false;
        producedFrames_ = 0;
    }

    HRESULT Receive(IMediaSample* sample) override {
        if (!context_) return E_UNEXPECTED;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        int frames = sample->GetActualDataLength() / inBlock_;
        REFERENCE_TIME start, stop;
        if (!haveOrigin_ && SUCCEEDED(sample->GetTime(&start, &stop))) {
            origin_ = start;
            haveOrigin_ = true;
        }
        return Convert(data, frames);
    }

    HRESULT OnEndOfStream() override { return context_ ? Convert(nullptr, 0) : S_OK; }

private:
    HRESULT Convert(const BYTE* data, int frames) {
        int capacity = swr_get_out_samples(context_, frames);
        if (capacity <= 0) return S_OK;
        buffer_.resize(static_cast<size_t>(capacity) * outBlock_);
        uint8_t* outPlanes[1] = {buffer_.data()};
        const uint8_t* inPlanes[1] = {data};
        int produced = swr_convert(context_, outPlanes, capacity, data ? inPlanes : nullptr, frames);
        if (produced < 0) return StreamingError(E_FAIL);
        if (produced == 0) return S_OK;
        // Output times follow the frames produced, so they stay contiguous across samples.
        REFERENCE_TIME begin = origin_ + producedFrames_ * 10'000'000LL / outRate_;
        producedFrames_ += produced;
        REFERENCE_TIME end = origin_ + producedFrames_ * 10'000'000LL / outRate_;
        return DeliverData(buffer_.data(), static_cast<size_t>(produced) * outBlock_, &begin, &end);
    }

    SwrContext* context_ = nullptr;
    std::vector<uint8_t> buffer_;
    int inBlock_ = 1, outBlock_ = 1;
    DWORD outRate_ = 44100;
    REFERENCE_TIME origin_ = 0;
    bool haveOrigin_ = false;
    int64_t producedFrames_ = 0;
};

}  // namespace

HRESULT CreatePcmConverter(REFIID iid, void** out) { return CreateObject<PcmConverter>(iid, out); }

}  // namespace quil::filters
