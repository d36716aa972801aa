#pragma once

// What the audio capture filter offers besides the filter-graph interfaces.

#include "platform/graph/interfaces.h"

// One entry of IAMStreamConfig::GetStreamCaps for audio.
struct AUDIO_STREAM_CONFIG_CAPS {
    GUID guid;
    ULONG MinimumChannels;
    ULONG MaximumChannels;
    ULONG ChannelsGranularity;
    ULONG MinimumBitsPerSample;
    ULONG MaximumBitsPerSample;
    ULONG BitsPerSampleGranularity;
    ULONG MinimumSampleFrequency;
    ULONG MaximumSampleFrequency;
    ULONG SampleFrequencyGranularity;
};

// On the capture pin: the buffer between the sound server and the graph.
struct IAudioCaptureControl : IUnknown {
    static constexpr GUID kIid = quil::Guid("{7E3B2A90-4C1D-4F85-9B6E-2D8A51C0F734}");
    using Base = IUnknown;
    // Ends the recording without losing its last moments: waits (at most timeoutMs) until
    // everything recorded so far has been delivered downstream, then ends the stream, which
    // delivers end-of-stream from the pin's thread. S_OK once the end is on its way; S_FALSE
    // when the pin was not streaming or the time ran out. Called before the graph stops.
    virtual HRESULT DeliverPending(DWORD timeoutMs) = 0;
    // How often audio was lost because the graph fell behind or the server dropped some, and
    // how many bytes were lost (filled with silence, so the timing stays true).
    virtual HRESULT GetOverruns(ULONG* count, LONGLONG* bytesLost) = 0;
    // Delay from the server's capture to delivery at the pin, in 100-ns units (latest sample).
    virtual HRESULT GetLatency(REFERENCE_TIME* latency) = 0;

protected:
    ~IAudioCaptureControl() = default;
};

// The page the capture filter names in ISpecifyPropertyPages; the program supplies it.
constexpr CLSID CLSID_AudioCapturePropertyPage =
    quil::Guid("{5A0F6C3E-8B14-4D27-A9E2-71C3D04B8F65}");
