#pragma once

// Header attributes of Windows Media files: the IWMHeaderInfo interface, the attribute value
// types, and the attribute store that maps attribute names onto the tags TagLib reads and writes
// (ID3v2 with an ID3v1 fallback in MP3 files, ASF attributes in WMA/ASF files, a RIFF INFO list
// and an ID3v2 chunk in WAV files).

#include <string>
#include <string_view>
#include <vector>

#include "platform/com/unknown.h"

namespace TagLib {
class IOStream;
}

enum WMT_ATTR_DATATYPE {
    WMT_TYPE_DWORD = 0,
    WMT_TYPE_STRING = 1,
    WMT_TYPE_BINARY = 2,
    WMT_TYPE_BOOL = 3,
    WMT_TYPE_QWORD = 4,
    WMT_TYPE_WORD = 5,
    WMT_TYPE_GUID = 6,
};

constexpr HRESULT ASF_E_BUFFERTOOSMALL = MakeHresult(0xC00D07D1);
constexpr HRESULT ASF_E_NOTFOUND = MakeHresult(0xC00D07F0);

// Attributes live on stream 0 (the whole file). Text values are zero-terminated WCHAR arrays
// whose length in bytes includes the terminator; BOOL values are 4 bytes.
struct IWMHeaderInfo : IUnknown {
    static constexpr GUID kIid = quil::Guid("{96406BDA-2B2B-11D3-B36B-00C04F6108FF}");
    using Base = IUnknown;
    virtual HRESULT GetAttributeCount(WORD streamNumber, WORD* count) = 0;
    virtual HRESULT GetAttributeByIndex(WORD index, WORD* streamNumber, WCHAR* name,
                                        WORD* nameLength, WMT_ATTR_DATATYPE* type, BYTE* value,
                                        WORD* valueLength) = 0;
    virtual HRESULT GetAttributeByName(WORD* streamNumber, LPCWSTR name, WMT_ATTR_DATATYPE* type,
                                       BYTE* value, WORD* valueLength) = 0;
    virtual HRESULT SetAttribute(WORD streamNumber, LPCWSTR name, WMT_ATTR_DATATYPE type,
                                 const BYTE* value, WORD valueLength) = 0;

protected:
    ~IWMHeaderInfo() = default;
};

namespace quil::wmf {

enum class MediaKind { Mpeg, Asf, Wav };

// Files that are not WAV, MP3 or ASF, or that TagLib cannot parse.
constexpr HRESULT kUnreadableFile = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

struct Attribute {
    std::wstring name;
    WMT_ATTR_DATATYPE type = WMT_TYPE_STRING;
    std::vector<BYTE> value;  // laid out as GetAttributeByName hands it out
};

std::vector<BYTE> StringValue(std::wstring_view text);
std::vector<BYTE> DwordValue(DWORD number);
std::vector<BYTE> QwordValue(uint64_t number);
std::vector<BYTE> WordValue(WORD number);
std::vector<BYTE> BoolValue(bool flag);

// The text of a WMT_TYPE_STRING value, up to its terminator.
std::wstring StringOf(const std::vector<BYTE>& value);

// Attribute names compare as _wcsicmp does.
bool SameName(std::wstring_view a, std::wstring_view b);

// Reads the file-level attributes of a file of the given kind; false when TagLib cannot parse
// the stream as one.
bool ReadAttributes(MediaKind kind, TagLib::IOStream* stream, std::vector<Attribute>* out);

// S_OK when SetAttribute may store this attribute in a file of the given kind.
HRESULT CheckWritable(MediaKind kind, const Attribute& attribute);

// The tag library's latest diagnostic lines (about damaged files), which are kept off the
// standard streams.
std::vector<std::string> TagLibMessages();

// Stores the attributes in the file behind the stream, each already passed CheckWritable. An
// empty text removes the tag field.
HRESULT WriteAttributes(MediaKind kind, TagLib::IOStream* stream,
                        const std::vector<Attribute>& changes);

}  // namespace quil::wmf
