// The audio renderers (DirectSound and waveOut class ids), both playing through PulseAudio.
// The sound server is reached when streaming starts, so a graph that is only built (and whose
// renderer the engine then cuts away) never needs one; without a server, pausing or running
// the graph fails with VFW_E_NO_AUDIO_HARDWARE.

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "platform/filters/class_ids.h"
#include "platform/filters/filter_factories.h"
#include "platform/filters/pulse_playback.h"
#include "platform/graph/sink_filter.h"

namespace quil::filters {

namespace {

class AudioRenderer : public SinkFilter {
public:
    explicit AudioRenderer(const CLSID& clsid)
        : SinkFilter(clsid, false, L"Audio Input pin (rendered)") {}
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
        std::string error;
        auto playback = PulsePlayback::Open(sampleFormat, attributes, &error);
        if (!playback) {
            std::fprintf(stderr, "Quillet: no sound output: %s\n", error.c_str());
            return VFW_E_NO_AUDIO_HARDWARE;
        }
        std::lock_guard lock(playbackMutex_);
        playback_ = std::move(playback);
        return S_OK;
    }

    HRESULT RenderSample(IMediaSample* sample) override {
        if (!playback_) return VFW_E_NO_AUDIO_HARDWARE;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        LONG length = sample->GetActualDataLength();
        if (length <= 0) return S_OK;
        switch (playback_->Write(data, static_cast<size_t>(length))) {
            case PulsePlayback::Result::kDone:
                return S_OK;
            case PulsePlayback::Result::kInterrupted:
                return S_FALSE;  // stopping or seeking
            case PulsePlayback::Result::kFailed:
                break;
        }
        std::fprintf(stderr, "Quillet: sound output failed: %s\n", playback_->LastError().c_str());
        return VFW_E_NO_AUDIO_HARDWARE;
    }

    HRESULT OnEndOfStream() override {
        // Completion means the listener heard the end; a stop or seek cuts the wait short.
        if (playback_) playback_->Drain();
        return S_OK;
    }

    // The delivering thread may be waiting for the server with the render lock held: wake it
    // first, so Stop and seeking never wait for the server to make room.
    HRESULT Stop() override {
        InterruptPlayback();
        return SinkFilter::Stop();
    }
    void OnBeginFlush() override { InterruptPlayback(); }

    void OnEndFlush() override {
        if (!playback_) return;
        playback_->Flush();
        playback_->Resume();
    }

    HRESULT StopStreaming() override {
        Close();
        return S_OK;
    }

private:
    void InterruptPlayback() {
        std::lock_guard lock(playbackMutex_);
        if (playback_) playback_->Interrupt();
    }

    void Close() {
        std::unique_ptr<PulsePlayback> closing;
        {
            std::lock_guard lock(playbackMutex_);
            closing = std::move(playback_);
        }
        closing.reset();
    }

    // Set and cleared with both the render lock and playbackMutex_ held; used while streaming
    // under the render lock, and interrupted under playbackMutex_ alone.
    std::unique_ptr<PulsePlayback> playback_;
    std::mutex playbackMutex_;
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
