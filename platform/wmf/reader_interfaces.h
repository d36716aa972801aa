#pragma once

// The reader side of the Windows Media Format runtime that sources of Windows Media files and
// streams offer: IWMReaderAdvanced and IWMReaderAdvanced2, with the runtime's identifiers and
// method order. Times are in 100-ns units.

#include "platform/com/unknown.h"
#include "platform/wmf/header_info.h"

using QWORD = uint64_t;

enum WMT_PLAY_MODE {
    WMT_PLAY_MODE_AUTOSELECT = 0,
    WMT_PLAY_MODE_LOCAL = 1,
    WMT_PLAY_MODE_DOWNLOAD = 2,
    WMT_PLAY_MODE_STREAMING = 3,
};

enum WMT_STREAM_SELECTION {
    WMT_OFF = 0,
    WMT_CLEANPOINT_ONLY = 1,
    WMT_ON = 2,
};

struct WM_READER_STATISTICS {
    DWORD cbSize;
    DWORD dwBandwidth;  // bits per second
    DWORD cPacketsReceived;
    DWORD cPacketsRecovered;
    DWORD cPacketsLost;
    WORD wQuality;  // percent
};

struct WM_READER_CLIENTINFO;
struct IStream;
struct IWMReaderCallback;

struct IWMReaderAdvanced : IUnknown {
    static constexpr GUID kIid = quil::Guid("{96406BEA-2B2B-11D3-B36B-00C04F6108FF}");
    using Base = IUnknown;
    virtual HRESULT SetUserProvidedClock(BOOL userClock) = 0;
    virtual HRESULT GetUserProvidedClock(BOOL* userClock) = 0;
    virtual HRESULT DeliverTime(QWORD time) = 0;
    virtual HRESULT SetManualStreamSelection(BOOL selection) = 0;
    virtual HRESULT GetManualStreamSelection(BOOL* selection) = 0;
    virtual HRESULT SetStreamsSelected(WORD streamCount, WORD* streamNumbers,
                                       WMT_STREAM_SELECTION* selections) = 0;
    virtual HRESULT GetStreamSelected(WORD streamNumber, WMT_STREAM_SELECTION* selection) = 0;
    virtual HRESULT SetReceiveSelectionCallbacks(BOOL callbacks) = 0;
    virtual HRESULT GetReceiveSelectionCallbacks(BOOL* callbacks) = 0;
    virtual HRESULT SetReceiveStreamSamples(WORD streamNumber, BOOL receive) = 0;
    virtual HRESULT GetReceiveStreamSamples(WORD streamNumber, BOOL* receive) = 0;
    virtual HRESULT SetAllocateForOutput(DWORD outputNumber, BOOL allocate) = 0;
    virtual HRESULT GetAllocateForOutput(DWORD outputNumber, BOOL* allocate) = 0;
    virtual HRESULT SetAllocateForStream(WORD streamNumber, BOOL allocate) = 0;
    virtual HRESULT GetAllocateForStream(WORD streamNumber, BOOL* allocate) = 0;
    // statistics->cbSize may hold sizeof(WM_READER_STATISTICS) or be 0.
    virtual HRESULT GetStatistics(WM_READER_STATISTICS* statistics) = 0;
    virtual HRESULT SetClientInfo(WM_READER_CLIENTINFO* info) = 0;
    virtual HRESULT GetMaxOutputSampleSize(DWORD output, DWORD* max) = 0;
    virtual HRESULT GetMaxStreamSampleSize(WORD stream, DWORD* max) = 0;
    virtual HRESULT NotifyLateDelivery(QWORD lateness) = 0;

protected:
    ~IWMReaderAdvanced() = default;
};

struct IWMReaderAdvanced2 : IWMReaderAdvanced {
    static constexpr GUID kIid = quil::Guid("{AE14A945-B90C-4D0D-9127-80D665F7D73E}");
    using Base = IWMReaderAdvanced;
    virtual HRESULT SetPlayMode(WMT_PLAY_MODE mode) = 0;
    virtual HRESULT GetPlayMode(WMT_PLAY_MODE* mode) = 0;
    virtual HRESULT GetBufferProgress(DWORD* percent, QWORD* buffering) = 0;
    virtual HRESULT GetDownloadProgress(DWORD* percent, QWORD* bytesDownloaded,
                                        QWORD* download) = 0;
    virtual HRESULT GetSaveAsProgress(DWORD* percent) = 0;
    virtual HRESULT SaveFileAs(const WCHAR* file) = 0;
    virtual HRESULT GetProtocolName(WCHAR* protocol, DWORD* length) = 0;
    virtual HRESULT StartAtMarker(WORD marker, QWORD duration, float rate, void* context) = 0;
    virtual HRESULT GetOutputSetting(DWORD output, LPCWSTR name, WMT_ATTR_DATATYPE* type,
                                     BYTE* value, WORD* length) = 0;
    virtual HRESULT SetOutputSetting(DWORD output, LPCWSTR name, WMT_ATTR_DATATYPE type,
                                     const BYTE* value, WORD length) = 0;
    virtual HRESULT Preroll(QWORD start, QWORD duration, float rate) = 0;
    virtual HRESULT SetLogClientID(BOOL log) = 0;
    virtual HRESULT GetLogClientID(BOOL* log) = 0;
    virtual HRESULT StopBuffering() = 0;
    virtual HRESULT OpenStream(IStream* stream, IWMReaderCallback* callback, void* context) = 0;

protected:
    ~IWMReaderAdvanced2() = default;
};
