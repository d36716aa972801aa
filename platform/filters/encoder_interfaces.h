#pragma once

// Settings interfaces of the encoders and writers.

#include "platform/graph/interfaces.h"
#include "platform/wmf/profile_manager.h"

// The "Mp3 Encoder" settings: a table of methods that each take one 32-bit value. Callers
// reach them by slot (QueryInterface is slot 0), so the order is fixed: put_PrivateBit 4,
// put_Bitrate 6, put_Quality 14, put_SampleRate 20, put_ChannelMode 22, put_Crc 24,
// put_Original 26, put_Copyright 28. Values apply when the next stream starts.
struct IMp3EncoderSettings : IUnknown {
    static constexpr GUID kIid = quil::Guid("{CA7E9EF0-1CBE-11D3-8D29-00A0C94BBFEE}");
    using Base = IUnknown;
    virtual HRESULT get_PrivateBit(DWORD* value) = 0;
    virtual HRESULT put_PrivateBit(DWORD value) = 0;
    // kbit/s; LAME takes the nearest bit rate its output rate allows.
    virtual HRESULT get_Bitrate(DWORD* value) = 0;
    virtual HRESULT put_Bitrate(DWORD value) = 0;
    // 0 constant bit rate, 1 variable bit rate.
    virtual HRESULT get_VariableBitrate(DWORD* value) = 0;
    virtual HRESULT put_VariableBitrate(DWORD value) = 0;
    virtual HRESULT get_MinimumBitrate(DWORD* value) = 0;
    virtual HRESULT put_MinimumBitrate(DWORD value) = 0;
    virtual HRESULT get_MaximumBitrate(DWORD* value) = 0;
    virtual HRESULT put_MaximumBitrate(DWORD value) = 0;
    // LAME's algorithm quality, 0 best to 9 fastest.
    virtual HRESULT get_Quality(DWORD* value) = 0;
    virtual HRESULT put_Quality(DWORD value) = 0;
    // Variable bit rate quality, 0 best to 9 smallest.
    virtual HRESULT get_VariableQuality(DWORD* value) = 0;
    virtual HRESULT put_VariableQuality(DWORD value) = 0;
    // The connected input's rate and channels (0 when not connected).
    virtual HRESULT get_SourceSampleRate(DWORD* value) = 0;
    virtual HRESULT get_SourceChannels(DWORD* value) = 0;
    // Output rate in Hz; 0 keeps the input's rate.
    virtual HRESULT get_SampleRate(DWORD* value) = 0;
    virtual HRESULT put_SampleRate(DWORD value) = 0;
    // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono.
    virtual HRESULT get_ChannelMode(DWORD* value) = 0;
    virtual HRESULT put_ChannelMode(DWORD value) = 0;
    virtual HRESULT get_Crc(DWORD* value) = 0;
    virtual HRESULT put_Crc(DWORD value) = 0;
    virtual HRESULT get_Original(DWORD* value) = 0;
    virtual HRESULT put_Original(DWORD value) = 0;
    virtual HRESULT get_Copyright(DWORD* value) = 0;
    virtual HRESULT put_Copyright(DWORD value) = 0;

protected:
    ~IMp3EncoderSettings() = default;
};

struct IConfigAsfWriter : IUnknown {
    static constexpr GUID kIid = quil::Guid("{45086030-F7E4-486A-B504-826BB5792A3B}");
    using Base = IUnknown;
    // Profiles by number or identifier are not kept; these answer E_NOTIMPL.
    virtual HRESULT ConfigureFilterUsingProfileId(DWORD id) = 0;
    virtual HRESULT GetCurrentProfileId(DWORD* id) = 0;
    virtual HRESULT ConfigureFilterUsingProfileGuid(REFGUID id) = 0;
    virtual HRESULT GetCurrentProfileGuid(GUID* id) = 0;
    // The profile must hold exactly one audio stream; the writer keeps a copy of its settings.
    virtual HRESULT ConfigureFilterUsingProfile(IWMProfile* profile) = 0;
    virtual HRESULT GetCurrentProfile(IWMProfile** profile) = 0;
    virtual HRESULT SetIndexMode(BOOL indexFile) = 0;
    virtual HRESULT GetIndexMode(BOOL* indexFile) = 0;

protected:
    ~IConfigAsfWriter() = default;
};
