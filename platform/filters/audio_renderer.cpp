// The audio renderers (DirectSound and waveOut class ids), both playing through PulseAudio.
// The sound server is reached when streaming starts, so a graph that is only built (and whose
// renderer the engine then cuts away) never needs one; without a server, pausing or running
// the graph fails with VFW_E_NO_AUDIO_HARDWARE.

#include <pulse/error.h>
#include <pulse/simple.h>

#include <cstdio>

#include "platform/filters/class_ids.h"
#include "platform/filters/filter_factories.h"
#include "platform/graph/sink_filter.h"

namespace quil::filters {

namespace {

class AudioRenderer : public SinkFilter {
public:
    explicit AudioRenderer(const CLSID& clsid) : SinkFilter(clsid, false, L"Audio Input pin (rendered)") {}
    ~AudioRenderer() override { Close(); }

    // Pulse plays in real time, so the graph's position follows this renderer's pace.
    HRESULT IsPaced() override { return S_OK; }

    HRESULT CheckMediaType(const MediaType& type) override {
        const WAVEFORMATEX* format = type.WaveFormat();
        if (!type.IsPcm() || !format) return S_FALSE;
        if (format->wBitsPerSample != 8 && format->wBitsPerSample != 16) return S_FALSE;
        if (format->nChannels < 1 || format->nChannels > 8) return S_FALSE;
        if (format->nSamplesPerSec < 1000 || format->nSamplesPerSec > 192000) return S_FALSE;
        return S_OK;
    }

    HRESULT StartStreaming() override {
        const WAVEFORMATEX* format = InputType().WaveFormat();
        pa_sample_spec sampleFormat{};
        sampleFormat.format = format->wBitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
        sampleFormat.rate = format->nSamplesPerSec;
        sampleFormat.channels = static_cast<uint8_t>(format->nChannels);
        // About 200 ms of buffering: enough against scheduling hiccups, short enough that
        // stopping or seeking is heard at once.
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<uint32_t>(-1);
        attributes.tlength = static_cast<uint32_t>(format->nAvgBytesPerSec / 5);
        attributes.prebuf = static_cast<uint32_t>(-1);
        attributes.minreq = static_cast<uint32_t>(-1);
        attributes.fragsize = static_cast<uint32_t>(-1);
        int error = 0;
        stream_ = pa_simple_new(nullptr, "Quillet", PA_STREAM_PLAYBACK, nullptr, "Playback",
                                &sampleFormat, nullptr, &attributes, &error);
        if (!stream_) {
            std::fprintf(stderr, "Quillet: no sound output: %s\n", pa_strerror(error));
            return VFW_E_NO_AUDIO_HARDWARE;
        }
        return S_OK;
    }

    HRESULT RenderSample(IMediaSample* sample) override {
        if (!stream_) return VFW_E_NO_AUDIO_HARDWARE;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        LONG length = sample->GetActualDataLength();
        if (length <= 0) return S_OK;
        int error = 0;
        if (pa_simple_write(stream_, data, static_cast<size_t>(length), &error) < 0) {
            std::fprintf(stderr, "Quillet: sound output failed: %s\n", pa_strerror(error));
            return VFW_E_NO_AUDIO_HARDWARE;
        }
        return S_OK;
    }

    HRESULT OnEndOfStream() override {
        // Completion means the listener heard the end.
        int error = 0;
        if (stream_) pa_simple_drain(stream_, &error);
        return S_OK;
    }

    void OnEndFlush() override {
        int error = 0;
        if (stream_) pa_simple_flush(stream_, &error);
    }

    HRESULT StopStreaming() override {
        Close();
        return S_OK;
    }

private:
    void Close() {
        if (!stream_) return;
        int error = 0;
        pa_simple_flush(stream_, &error);
        pa_simple_free(stream_);
        stream_ = nullptr;
    }

    pa_simple* stream_ = nullptr;
};

class DSoundRenderer : public AudioRenderer {
public:
    DSoundRenderer() : AudioRenderer(CLSID_DSoundRender) {}
};

class WaveOutRenderer : public AudioRenderer {
public:
    WaveOutRenderer() : AudioRenderer(CLSID_AudioRender) {}
};

}  // namespace

HRESULT CreateDSoundRenderer(REFIID iid, void** out) {
    return CreateObject<DSoundRenderer>(iid, out);
}
HRESULT CreateWaveOutRenderer(REFIID iid, void** out) {
    return CreateObject<WaveOutRenderer>(iid, out);
}

}  // namespace quil::filters
