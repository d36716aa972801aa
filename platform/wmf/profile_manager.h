#pragma once

// The profile side of the Windows Media Format runtime: the profile manager with its catalogue
// of system profiles per format version, profiles and their stream configurations. Interface
// identifiers and method order are the runtime's; methods past the last one the program and
// the ASF Writer use are left out.

#include "platform/com/unknown.h"
#include "platform/graph/media_types.h"

using WMT_VERSION = DWORD;
constexpr WMT_VERSION WMT_VER_4_0 = 0x00040000;
constexpr WMT_VERSION WMT_VER_7_0 = 0x00070000;
constexpr WMT_VERSION WMT_VER_8_0 = 0x00080000;
constexpr WMT_VERSION WMT_VER_9_0 = 0x00090000;

// The runtime's media type has the layout of the filter graph's.
using WM_MEDIA_TYPE = AM_MEDIA_TYPE;

constexpr GUID WMMEDIATYPE_Audio = MEDIATYPE_Audio;
constexpr GUID WMMEDIATYPE_Video = MEDIATYPE_Video;
constexpr GUID WMFORMAT_WaveFormatEx = FORMAT_WaveFormatEx;
constexpr GUID WMFORMAT_VideoInfo = FORMAT_VideoInfo;
constexpr GUID WMMEDIASUBTYPE_WMAudioV1 = quil::Guid("{00000160-0000-0010-8000-00AA00389B71}");
constexpr GUID WMMEDIASUBTYPE_WMAudioV2 = quil::Guid("{00000161-0000-0010-8000-00AA00389B71}");
constexpr GUID WMMEDIASUBTYPE_WMV1 = quil::Guid("{31564D57-0000-0010-8000-00AA00389B71}");
constexpr GUID WMMEDIASUBTYPE_WMV2 = quil::Guid("{32564D57-0000-0010-8000-00AA00389B71}");

constexpr WORD WAVE_FORMAT_MSAUDIO1 = 0x0160;
constexpr WORD WAVE_FORMAT_WMAUDIO2 = 0x0161;

constexpr HRESULT NS_E_INVALID_REQUEST = MakeHresult(0xC00D002B);
constexpr HRESULT NS_E_INVALID_STREAM = MakeHresult(0xC00D0033);

// Both stream interfaces of one stream of a profile.
struct IWMMediaProps : IUnknown {
    static constexpr GUID kIid = quil::Guid("{96406BCE-2B2B-11D3-B36B-00C04F6108FF}");
    using Base = IUnknown;
    virtual HRESULT GetType(GUID* type) = 0;
    // Two calls: with a null type *size receives the bytes needed; then the type is written
    // with its format block in the same buffer, behind it.
    virtual HRESULT GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) = 0;
    virtual HRESULT SetMediaType(WM_MEDIA_TYPE* type) = 0;

protected:
    ~IWMMediaProps() = default;
};

struct IWMStreamConfig : IUnknown {
    static constexpr GUID kIid = quil::Guid("{96406BDC-2B2B-11D3-B36B-00C04F6108FF}");
    using Base = IUnknown;
    virtual HRESULT GetStreamType(GUID* type) = 0;
    virtual HRESULT GetStreamNumber(WORD* number) = 0;
    virtual HRESULT SetStreamNumber(WORD number) = 0;
    // Lengths in WCHARs including the terminator, as for the profile's name.
    virtual HRESULT GetStreamName(WCHAR* name, WORD* length) = 0;
    virtual HRESULT SetStreamName(const WCHAR* name) = 0;
    virtual HRESULT GetConnectionName(WCHAR* name, WORD* length) = 0;
    virtual HRESULT SetConnectionName(const WCHAR* name) = 0;
    virtual HRESULT GetBitrate(DWORD* bitsPerSecond) = 0;
    virtual HRESULT SetBitrate(DWORD bitsPerSecond) = 0;
    virtual HRESULT GetBufferWindow(DWORD* milliseconds) = 0;
    virtual HRESULT SetBufferWindow(DWORD milliseconds) = 0;

protected:
    ~IWMStreamConfig() = default;
};

struct IWMProfile : IUnknown {
    static constexpr GUID kIid = quil::Guid("{96406BDB-2B2B-11D3-B36B-00C04F6108FF}");
    using Base = IUnknown;
    virtual HRESULT GetVersion(WMT_VERSION* version) = 0;
    // With a null buffer *length receives the length in WCHARs including the terminator; a
    // buffer shorter than that gets ASF_E_BUFFERTOOSMALL and the length needed.
    virtual HRESULT GetName(WCHAR* name, DWORD* length) = 0;
    virtual HRESULT SetName(const WCHAR* name) = 0;
    virtual HRESULT GetDescription(WCHAR* description, DWORD* length) = 0;
    virtual HRESULT SetDescription(const WCHAR* description) = 0;
    virtual HRESULT GetStreamCount(DWORD* count) = 0;
    virtual HRESULT GetStream(DWORD index, IWMStreamConfig** config) = 0;
    virtual HRESULT GetStreamByNumber(WORD number, IWMStreamConfig** config) = 0;

protected:
    ~IWMProfile() = default;
};

struct IWMProfileManager : IUnknown {
    static constexpr GUID kIid = quil::Guid("{D16679F2-6CA0-472D-8D31-2F5D55AEE155}");
    using Base = IUnknown;
    virtual HRESULT CreateEmptyProfile(WMT_VERSION version, IWMProfile** profile) = 0;
    virtual HRESULT LoadProfileByID(REFGUID id, IWMProfile** profile) = 0;
    virtual HRESULT LoadProfileByData(const WCHAR* data, IWMProfile** profile) = 0;
    virtual HRESULT SaveProfile(IWMProfile* profile, WCHAR* data, DWORD* length) = 0;
    // System profiles of the version last set (8.0 until one is set).
    virtual HRESULT GetSystemProfileCount(DWORD* count) = 0;
    virtual HRESULT LoadSystemProfile(DWORD index, IWMProfile** profile) = 0;

protected:
    ~IWMProfileManager() = default;
};

struct IWMProfileManager2 : IWMProfileManager {
    static constexpr GUID kIid = quil::Guid("{7A924E51-73C1-494D-8019-23D37ED9B89A}");
    using Base = IWMProfileManager;
    virtual HRESULT GetSystemProfileVersion(WMT_VERSION* version) = 0;
    // Versions other than 4.0, 7.0, 8.0 and 9.0 are refused and the set version stays.
    virtual HRESULT SetSystemProfileVersion(WMT_VERSION version) = 0;

protected:
    ~IWMProfileManager2() = default;
};

HRESULT WMCreateProfileManager(IWMProfileManager** manager);
