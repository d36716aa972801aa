#include "platform/wmf/profile_manager.h"

#include <cstring>
#include <string>

#include "platform/wmf/header_info.h"
#include "platform/wmf/profile_catalogue.h"

namespace quil::wmf {

namespace {

// The two-call text protocol of the runtime: lengths in WCHARs including the terminator.
template <class Length>
HRESULT CopyText(const std::wstring& text, WCHAR* buffer, Length* length) {
    if (!length) return E_POINTER;
    Length needed = static_cast<Length>(text.size() + 1);
    if (!buffer) {
        *length = needed;
        return S_OK;
    }
    if (*length < needed) {
        *length = needed;
        return ASF_E_BUFFERTOOSMALL;
    }
    std::memcpy(buffer, text.c_str(), needed * sizeof(WCHAR));
    *length = needed;
    return S_OK;
}

class StreamConfig : public ComImpl<IWMStreamConfig, IWMMediaProps> {
public:
    StreamConfig(const StreamDescription& stream, WORD number)
        : stream_(stream), number_(number), name_(L"Stream " + std::to_wstring(number)) {}

    HRESULT GetStreamType(GUID* type) override {
        if (!type) return E_POINTER;
        *type = stream_.majorType;
        return S_OK;
    }
    HRESULT GetStreamNumber(WORD* number) override {
        if (!number) return E_POINTER;
        *number = number_;
        return S_OK;
    }
    HRESULT SetStreamNumber(WORD number) override {
        if (number < 1 || number > 63) return E_INVALIDARG;
        number_ = number;
        return S_OK;
    }
    HRESULT GetStreamName(WCHAR* name, WORD* length) override {
        return CopyText(name_, name, length);
    }
    HRESULT SetStreamName(const WCHAR* name) override {
        if (!name) return E_POINTER;
        name_ = name;
        return S_OK;
    }
    HRESULT GetConnectionName(WCHAR* name, WORD* length) override {
        return CopyText(connection_, name, length);
    }
    HRESULT SetConnectionName(const WCHAR* name) override {
        if (!name) return E_POINTER;
        connection_ = name;
        return S_OK;
    }
    HRESULT GetBitrate(DWORD* bitsPerSecond) override {
        if (!bitsPerSecond) return E_POINTER;
        *bitsPerSecond = stream_.bitrate;
        return S_OK;
    }
    HRESULT SetBitrate(DWORD bitsPerSecond) override {
        stream_.bitrate = bitsPerSecond;
        return S_OK;
    }
    HRESULT GetBufferWindow(DWORD* milliseconds) override {
        if (!milliseconds) return E_POINTER;
        *milliseconds = bufferWindow_;
        return S_OK;
    }
    HRESULT SetBufferWindow(DWORD milliseconds) override {
        bufferWindow_ = milliseconds;
        return S_OK;
    }

    HRESULT GetType(GUID* type) override { return GetStreamType(type); }
    HRESULT GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) override;
    HRESULT SetMediaType(WM_MEDIA_TYPE*) override { return E_NOTIMPL; }

private:
    StreamDescription stream_;
    WORD number_;
    std::wstring name_;
    std::wstring connection_;
    DWORD bufferWindow_ = 3000;
};

HRESULT StreamConfig::GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) {
    if (!size) return E_POINTER;
    bool audio = stream_.majorType == WMMEDIATYPE_Audio;
    DWORD formatSize = audio ? sizeof(WAVEFORMATEX) : sizeof(VIDEOINFOHEADER);
    DWORD needed = sizeof(WM_MEDIA_TYPE) + formatSize;
    if (!type) {
        *size = needed;
        return S_OK;
    }
    if (*size < needed) {
        *size = needed;
        return ASF_E_BUFFERTOOSMALL;
    }
    *size = needed;
    BYTE* format = reinterpret_cast<BYTE*>(type) + sizeof(WM_MEDIA_TYPE);
    *type = WM_MEDIA_TYPE{};
    type->majortype = stream_.majorType;
    type->subtype = stream_.subtype;
    type->cbFormat = formatSize;
    type->pbFormat = format;
    if (audio) {
        WAVEFORMATEX wave{};
        wave.wFormatTag = stream_.subtype == WMMEDIASUBTYPE_WMAudioV1 ? WAVE_FORMAT_MSAUDIO1
                                                                      : WAVE_FORMAT_WMAUDIO2;
        wave.nChannels = stream_.channels;
        wave.nSamplesPerSec = stream_.sampleRate;
        wave.nAvgBytesPerSec = stream_.bitrate / 8;
        wave.nBlockAlign = 1;
        type->formattype = WMFORMAT_WaveFormatEx;
        type->bFixedSizeSamples = TRUE;
        std::memcpy(format, &wave, sizeof(wave));
    } else {
        VIDEOINFOHEADER video{};
        video.rcSource = {0, 0, stream_.width, stream_.height};
        video.rcTarget = video.rcSource;
        video.dwBitRate = stream_.bitrate;
        video.AvgTimePerFrame = stream_.framesPerSecond ? 10000000 / stream_.framesPerSecond : 0;
        video.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        video.bmiHeader.biWidth = stream_.width;
        video.bmiHeader.biHeight = stream_.height;
        video.bmiHeader.biPlanes = 1;
        video.bmiHeader.biBitCount = 24;
        std::memcpy(&video.bmiHeader.biCompression, &stream_.subtype.Data1, sizeof(DWORD));
        type->formattype = WMFORMAT_VideoInfo;
        type->bTemporalCompression = TRUE;
        std::memcpy(format, &video, sizeof(video));
    }
    return S_OK;
}

class Profile : public ComImpl<IWMProfile> {
public:
    explicit Profile(ProfileDescription description) : profile_(std::move(description)) {}

    HRESULT GetVersion(WMT_VERSION* version) override {
        if (!version) return E_POINTER;
        *version = profile_.version;
        return S_OK;
    }
    HRESULT GetName(WCHAR* name, DWORD* length) override {
        return CopyText(profile_.name, name, length);
    }
    HRESULT SetName(const WCHAR* name) override {
        if (!name) return E_POINTER;
        profile_.name = name;
        return S_OK;
    }
    HRESULT GetDescription(WCHAR* description, DWORD* length) override {
        return CopyText(profile_.description, description, length);
    }
    HRESULT SetDescription(const WCHAR* description) override {
        if (!description) return E_POINTER;
        profile_.description = description;
        return S_OK;
    }
    HRESULT GetStreamCount(DWORD* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<DWORD>(profile_.streams.size());
        return S_OK;
    }
    HRESULT GetStream(DWORD index, IWMStreamConfig** config) override {
        if (!config) return E_POINTER;
        *config = nullptr;
        if (index >= profile_.streams.size()) return E_INVALIDARG;
        return MakeConfig(index, config);
    }
    HRESULT GetStreamByNumber(WORD number, IWMStreamConfig** config) override {
        if (!config) return E_POINTER;
        *config = nullptr;
        if (number < 1 || number > profile_.streams.size()) return NS_E_INVALID_STREAM;
        return MakeConfig(number - 1u, config);
    }

private:
    // Streams are numbered from 1 in profile order.
    HRESULT MakeConfig(size_t index, IWMStreamConfig** config) {
        *config =
            MakeCom<StreamConfig>(profile_.streams[index], static_cast<WORD>(index + 1)).Detach();
        return S_OK;
    }

    ProfileDescription profile_;
};

class ProfileManager : public ComImpl<IWMProfileManager2> {
public:
    HRESULT CreateEmptyProfile(WMT_VERSION version, IWMProfile** profile) override {
        if (!profile) return E_POINTER;
        *profile = nullptr;
        if (!IsSystemProfileVersion(version)) return E_INVALIDARG;
        return Create(ProfileDescription{version, {}, {}, {}}, profile);
    }
    HRESULT LoadProfileByID(REFGUID, IWMProfile**) override { return E_NOTIMPL; }
    HRESULT LoadProfileByData(const WCHAR*, IWMProfile**) override { return E_NOTIMPL; }
    HRESULT SaveProfile(IWMProfile*, WCHAR*, DWORD*) override { return E_NOTIMPL; }
    HRESULT GetSystemProfileCount(DWORD* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<DWORD>(SystemProfiles(version_).size());
        return S_OK;
    }
    HRESULT LoadSystemProfile(DWORD index, IWMProfile** profile) override {
        if (!profile) return E_POINTER;
        *profile = nullptr;
        auto profiles = SystemProfiles(version_);
        if (index >= profiles.size()) return E_INVALIDARG;
        return Create(profiles[index], profile);
    }
    HRESULT GetSystemProfileVersion(WMT_VERSION* version) override {
        if (!version) return E_POINTER;
        *version = version_;
        return S_OK;
    }
    HRESULT SetSystemProfileVersion(WMT_VERSION version) override {
        if (!IsSystemProfileVersion(version)) return E_INVALIDARG;
        version_ = version;
        return S_OK;
    }

private:
    static HRESULT Create(ProfileDescription description, IWMProfile** profile) {
        *profile = MakeCom<Profile>(std::move(description)).Detach();
        return S_OK;
    }

    WMT_VERSION version_ = WMT_VER_8_0;
};

}  // namespace

}  // namespace quil::wmf

HRESULT WMCreateProfileManager(IWMProfileManager** manager) {
    if (!manager) return E_POINTER;
    *manager = quil::MakeCom<quil::wmf::ProfileManager>().Detach();
    return S_OK;
}
