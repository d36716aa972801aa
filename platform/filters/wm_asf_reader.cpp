// The WM ASF Reader and the Windows Media source filter: the FFmpeg source with the reader's
// control interfaces. Header attributes come from the file's tags or the stream's metadata
// (ICY headers and stream titles included) under the Windows Media attribute names.

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <optional>

#include "platform/com/strings.h"
#include "platform/filters/class_ids.h"
#include "platform/filters/ffmpeg_source.h"
#include "platform/filters/filter_factories.h"
#include "platform/wmf/header_info.h"
#include "platform/wmf/reader_interfaces.h"

namespace quil::filters {

namespace {

struct HeaderAttribute {
    std::wstring name;
    WMT_ATTR_DATATYPE type;
    std::vector<BYTE> value;
};

// Longest text whose value length in bytes, terminator included, fits a WORD.
constexpr size_t kMaxTextChars = 0xFFFF / sizeof(WCHAR) - 1;

// The media a stream must hold ahead of playback to count as buffered, in 100-ns units: the
// Windows Media reader's default buffering time.
constexpr REFERENCE_TIME kBufferWindow = 5 * 10'000'000LL;

std::vector<BYTE> TextValue(const std::string& utf8) {
    std::wstring text = Widen(utf8).substr(0, kMaxTextChars);
    std::vector<BYTE> bytes((text.size() + 1) * sizeof(WCHAR), 0);
    std::memcpy(bytes.data(), text.c_str(), text.size() * sizeof(WCHAR));
    return bytes;
}

template <class T>
std::vector<BYTE> NumberValue(T number) {
    std::vector<BYTE> bytes(sizeof(T));
    std::memcpy(bytes.data(), &number, sizeof(T));
    return bytes;
}

bool SameName(const std::wstring& a, const wchar_t* b) {
    size_t length = std::wcslen(b);
    if (a.size() != length) return false;
    for (size_t i = 0; i < length; ++i)
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    return true;
}

HRESULT CopyOut(const std::vector<BYTE>& value, BYTE* buffer, WORD* length) {
    WORD needed = static_cast<WORD>(value.size());
    if (!buffer) {
        *length = needed;
        return S_OK;
    }
    if (*length < needed) {
        *length = needed;
        return ASF_E_BUFFERTOOSMALL;
    }
    std::memcpy(buffer, value.data(), needed);
    *length = needed;
    return S_OK;
}

class WmAsfReader : public FfmpegSource, public IWMReaderAdvanced2, public IWMHeaderInfo {
public:
    explicit WmAsfReader(const CLSID& clsid) : FfmpegSource(clsid) {}
    QUIL_DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (InterfaceMatches<IWMReaderAdvanced2>(iid))
            return GetInterface<IWMReaderAdvanced2>(this, out);
        if (InterfaceMatches<IWMHeaderInfo>(iid)) return GetInterface<IWMHeaderInfo>(this, out);
        return FfmpegSource::NonDelegatingQueryInterface(iid, out);
    }

    // IWMReaderAdvanced
    HRESULT SetUserProvidedClock(BOOL) override { return E_NOTIMPL; }
    HRESULT GetUserProvidedClock(BOOL* userClock) override {
        if (!userClock) return E_POINTER;
        *userClock = FALSE;
        return S_OK;
    }
    HRESULT DeliverTime(QWORD) override { return E_NOTIMPL; }
    HRESULT SetManualStreamSelection(BOOL) override { return E_NOTIMPL; }
    HRESULT GetManualStreamSelection(BOOL* selection) override {
        if (!selection) return E_POINTER;
        *selection = FALSE;
        return S_OK;
    }
    HRESULT SetStreamsSelected(WORD, WORD*, WMT_STREAM_SELECTION*) override { return E_NOTIMPL; }
    HRESULT GetStreamSelected(WORD, WMT_STREAM_SELECTION*) override { return E_NOTIMPL; }
    HRESULT SetReceiveSelectionCallbacks(BOOL) override { return E_NOTIMPL; }
    HRESULT GetReceiveSelectionCallbacks(BOOL*) override { return E_NOTIMPL; }
    HRESULT SetReceiveStreamSamples(WORD, BOOL) override { return E_NOTIMPL; }
    HRESULT GetReceiveStreamSamples(WORD, BOOL*) override { return E_NOTIMPL; }
    HRESULT SetAllocateForOutput(DWORD, BOOL) override { return E_NOTIMPL; }
    HRESULT GetAllocateForOutput(DWORD, BOOL*) override { return E_NOTIMPL; }
    HRESULT SetAllocateForStream(WORD, BOOL) override { return E_NOTIMPL; }
    HRESULT GetAllocateForStream(WORD, BOOL*) override { return E_NOTIMPL; }

    HRESULT GetStatistics(WM_READER_STATISTICS* statistics) override {
        if (!statistics) return E_POINTER;
        if (!IsLoaded()) return E_UNEXPECTED;
        Statistics now = ReadStatistics();
        // A stream that broke is no longer being received.
        if (now.failed) return E_FAIL;
        statistics->cbSize = sizeof(WM_READER_STATISTICS);
        statistics->dwBandwidth =
            static_cast<DWORD>(std::clamp<int64_t>(now.bitRate, 0, UINT32_MAX));
        statistics->cPacketsReceived =
            static_cast<DWORD>(std::min<uint64_t>(now.packets, UINT32_MAX));
        statistics->cPacketsRecovered = 0;
        statistics->cPacketsLost = 0;
        statistics->wQuality = 100;
        return S_OK;
    }
    HRESULT SetClientInfo(WM_READER_CLIENTINFO*) override { return E_NOTIMPL; }
    HRESULT GetMaxOutputSampleSize(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT GetMaxStreamSampleSize(WORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT NotifyLateDelivery(QWORD) override { return S_OK; }

    // IWMReaderAdvanced2
    HRESULT SetPlayMode(WMT_PLAY_MODE mode) override {
        if (mode < WMT_PLAY_MODE_AUTOSELECT || mode > WMT_PLAY_MODE_STREAMING) return E_INVALIDARG;
        // Streams are always read as they arrive; the mode is kept for GetPlayMode.
        playMode_ = mode;
        return S_OK;
    }
    HRESULT GetPlayMode(WMT_PLAY_MODE* mode) override {
        if (!mode) return E_POINTER;
        *mode = playMode_;
        return S_OK;
    }
    HRESULT GetBufferProgress(DWORD* percent, QWORD* buffering) override {
        if (!percent || !buffering) return E_POINTER;
        if (!IsLoaded()) return E_UNEXPECTED;
        // A local file needs no buffering; a stream is buffered once the reader holds the
        // buffer window ahead of playback, or has read the stream to its end.
        if (!IsStream()) {
            *percent = 100;
            *buffering = 0;
            return S_OK;
        }
        ReadAhead ahead = ReadStatistics().running ? MeasureReadAhead() : ReadAhead{};
        REFERENCE_TIME held =
            ahead.complete ? kBufferWindow : std::min(ahead.queued, kBufferWindow);
        *percent = static_cast<DWORD>(held * 100 / kBufferWindow);
        *buffering = static_cast<QWORD>(kBufferWindow - held);
        return S_OK;
    }
    HRESULT GetDownloadProgress(DWORD*, QWORD*, QWORD*) override { return E_NOTIMPL; }
    HRESULT GetSaveAsProgress(DWORD*) override { return E_NOTIMPL; }
    HRESULT SaveFileAs(const WCHAR*) override { return E_NOTIMPL; }
    HRESULT GetProtocolName(WCHAR* protocol, DWORD* length) override {
        if (!length) return E_POINTER;
        if (!IsLoaded()) return E_UNEXPECTED;
        LPWSTR file = nullptr;
        GetCurFile(&file, nullptr);
        std::wstring location = file ? file : L"";
        CoTaskMemFree(file);
        auto colon = location.find(L"://");
        std::wstring name =
            IsStream() && colon != std::wstring::npos ? location.substr(0, colon) : L"file";
        DWORD needed = static_cast<DWORD>(name.size() + 1);
        if (!protocol) {
            *length = needed;
            return S_OK;
        }
        if (*length < needed) {
            *length = needed;
            return ASF_E_BUFFERTOOSMALL;
        }
        std::copy_n(name.c_str(), needed, protocol);
        *length = needed;
        return S_OK;
    }
    HRESULT StartAtMarker(WORD, QWORD, float, void*) override { return E_NOTIMPL; }
    HRESULT GetOutputSetting(DWORD, LPCWSTR, WMT_ATTR_DATATYPE*, BYTE*, WORD*) override {
        return E_NOTIMPL;
    }
    HRESULT SetOutputSetting(DWORD, LPCWSTR, WMT_ATTR_DATATYPE, const BYTE*, WORD) override {
        return E_NOTIMPL;
    }
    HRESULT Preroll(QWORD, QWORD, float) override { return E_NOTIMPL; }
    HRESULT SetLogClientID(BOOL) override { return E_NOTIMPL; }
    HRESULT GetLogClientID(BOOL*) override { return E_NOTIMPL; }
    HRESULT StopBuffering() override { return E_NOTIMPL; }
    HRESULT OpenStream(IStream*, IWMReaderCallback*, void*) override { return E_NOTIMPL; }

    // IWMHeaderInfo
    HRESULT GetAttributeCount(WORD streamNumber, WORD* count) override {
        if (!count) return E_POINTER;
        if (!IsLoaded()) return E_UNEXPECTED;
        *count = streamNumber == 0 ? static_cast<WORD>(Attributes().size()) : 0;
        return S_OK;
    }

    HRESULT GetAttributeByIndex(WORD index, WORD* streamNumber, WCHAR* name, WORD* nameLength,
                                WMT_ATTR_DATATYPE* type, BYTE* value, WORD* valueLength) override {
        if (!streamNumber || !nameLength || !type || !valueLength) return E_INVALIDARG;
        if (!IsLoaded()) return E_UNEXPECTED;
        if (*streamNumber != 0) return ASF_E_NOTFOUND;
        auto attributes = Attributes();
        if (index >= attributes.size()) return E_INVALIDARG;
        const HeaderAttribute& attribute = attributes[index];
        WORD nameNeeded = static_cast<WORD>(attribute.name.size() + 1);
        if (name && *nameLength < nameNeeded) {
            *nameLength = nameNeeded;
            return ASF_E_BUFFERTOOSMALL;
        }
        if (value && *valueLength < attribute.value.size()) {
            *valueLength = static_cast<WORD>(attribute.value.size());
            return ASF_E_BUFFERTOOSMALL;
        }
        if (name) std::copy_n(attribute.name.c_str(), nameNeeded, name);
        *nameLength = nameNeeded;
        *type = attribute.type;
        return CopyOut(attribute.value, value, valueLength);
    }

    HRESULT GetAttributeByName(WORD* streamNumber, LPCWSTR name, WMT_ATTR_DATATYPE* type,
                               BYTE* value, WORD* valueLength) override {
        if (!streamNumber || !name || !type || !valueLength) return E_INVALIDARG;
        if (!IsLoaded()) return E_UNEXPECTED;
        if (*streamNumber != 0) return ASF_E_NOTFOUND;
        for (const auto& attribute : Attributes()) {
            if (!SameName(attribute.name, name)) continue;
            *type = attribute.type;
            return CopyOut(attribute.value, value, valueLength);
        }
        return ASF_E_NOTFOUND;
    }

    HRESULT SetAttribute(WORD, LPCWSTR, WMT_ATTR_DATATYPE, const BYTE*, WORD) override {
        return E_NOTIMPL;  // the reader's header is read-only
    }

private:
    std::vector<HeaderAttribute> Attributes() {
        auto tags = Metadata();
        auto first = [&](std::initializer_list<const char*> keys) -> std::optional<std::string> {
            for (const char* key : keys) {
                auto it = tags.find(key);
                if (it != tags.end() && !it->second.empty()) return it->second;
            }
            return std::nullopt;
        };
        std::vector<HeaderAttribute> list;
        auto text = [&](const wchar_t* name, std::initializer_list<const char*> keys) {
            if (auto value = first(keys))
                list.push_back({name, WMT_TYPE_STRING, TextValue(*value)});
        };
        // A Shoutcast stream names the song in its stream title and itself in icy-name.
        text(L"Title", {"title", "streamtitle", "icy-name"});
        text(L"Author", {"artist", "author", "album_artist", "composer"});
        if (!first({"artist", "author", "album_artist", "composer"}) && first({"streamtitle"}))
            text(L"Author", {"icy-name"});
        text(L"Copyright", {"copyright"});
        text(L"Description", {"comment", "description", "icy-description"});
        text(L"WM/AlbumTitle", {"album"});
        text(L"WM/AlbumArtist", {"album_artist"});
        text(L"WM/Genre", {"genre", "icy-genre"});
        text(L"WM/Year", {"date", "year"});
        text(L"WM/TrackNumber", {"track"});
        text(L"WM/Composer", {"composer"});
        text(L"WM/Publisher", {"publisher"});

        LONGLONG duration = 0;
        GetDuration(&duration);
        DWORD capabilities = 0;
        GetCapabilities(&capabilities);
        Statistics now = ReadStatistics();
        list.push_back({L"Duration", WMT_TYPE_QWORD, NumberValue<uint64_t>(duration)});
        list.push_back({L"Bitrate", WMT_TYPE_DWORD,
                        NumberValue<DWORD>(
                            static_cast<DWORD>(std::clamp<int64_t>(now.bitRate, 0, UINT32_MAX)))});
        list.push_back(
            {L"Seekable", WMT_TYPE_BOOL, NumberValue<BOOL>((capabilities & 1) ? TRUE : FALSE)});
        list.push_back(
            {L"Broadcast", WMT_TYPE_BOOL, NumberValue<BOOL>(duration == 0 ? TRUE : FALSE)});
        list.push_back({L"HasAudio", WMT_TYPE_BOOL, NumberValue<BOOL>(HasStream(MEDIATYPE_Audio))});
        list.push_back({L"HasVideo", WMT_TYPE_BOOL, NumberValue<BOOL>(HasStream(MEDIATYPE_Video))});
        return list;
    }

    WMT_PLAY_MODE playMode_ = WMT_PLAY_MODE_AUTOSELECT;
};

HRESULT CreateReader(const CLSID& clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto reader = MakeCom<WmAsfReader>(clsid);
    return reader->NonDelegatingQueryInterface(iid, out);
}

}  // namespace

HRESULT CreateWMAsfReader(REFIID iid, void** out) {
    return CreateReader(CLSID_WMAsfReader, iid, out);
}

HRESULT CreateWMSourceFilter(REFIID iid, void** out) {
    return CreateReader(CLSID_WMSourceFilter, iid, out);
}

}  // namespace quil::filters
