#pragma once

// Media types and format blocks of the filter graph.

#include <cstdint>
#include <cstring>

#include "platform/com/unknown.h"

// Major types, subtypes and format types.
constexpr GUID MEDIATYPE_Audio = quil::Guid("{73647561-0000-0010-8000-00AA00389B71}");
constexpr GUID MEDIATYPE_Video = quil::Guid("{73646976-0000-0010-8000-00AA00389B71}");
constexpr GUID MEDIATYPE_Stream = quil::Guid("{E436EB83-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_NULL = GUID_NULL;
constexpr GUID MEDIASUBTYPE_PCM = quil::Guid("{00000001-0000-0010-8000-00AA00389B71}");
constexpr GUID MEDIASUBTYPE_IEEE_FLOAT = quil::Guid("{00000003-0000-0010-8000-00AA00389B71}");
constexpr GUID MEDIASUBTYPE_WAVE = quil::Guid("{E436EB8B-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID MEDIASUBTYPE_RGB32 = quil::Guid("{E436EB7E-524F-11CE-9F53-0020AF0BA770}");
constexpr GUID FORMAT_None = quil::Guid("{0F6417D6-C318-11D0-A43F-00A0C9223196}");
constexpr GUID FORMAT_WaveFormatEx = quil::Guid("{05589F81-C356-11CE-BF01-00AA0055595A}");
constexpr GUID FORMAT_VideoInfo = quil::Guid("{05589F80-C356-11CE-BF01-00AA0055595A}");

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 3;

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
struct PCMWAVEFORMAT {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(PCMWAVEFORMAT) == 16);

struct RECT {
    LONG left, top, right, bottom;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;  // CoTaskMemAlloc
};

// Frees the format block (and the pUnk reference) of a media type, not the record itself.
void FreeMediaType(AM_MEDIA_TYPE& type);
// Frees a media type allocated with CoTaskMemAlloc, record and all.
void DeleteMediaType(AM_MEDIA_TYPE* type);
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

namespace quil {

// A media type that owns its format block, as DirectShow's CMediaType.
class MediaType : public AM_MEDIA_TYPE {
public:
    MediaType();
    MediaType(const AM_MEDIA_TYPE& other);
    MediaType(const MediaType& other);
    MediaType& operator=(const AM_MEDIA_TYPE& other);
    MediaType& operator=(const MediaType& other);
    ~MediaType();

    void SetFormat(const void* data, size_t size);
    void SetFormatType(const GUID& type) { formattype = type; }
    void Reset();

    // The format block as a WAVEFORMATEX, or null when the block is not one.
    const WAVEFORMATEX* WaveFormat() const;
    const VIDEOINFOHEADER* VideoInfo() const;
    bool IsAudio() const { return majortype == MEDIATYPE_Audio; }
    bool IsPcm() const;
    // Same major type, subtype, format type and format bytes.
    bool Matches(const AM_MEDIA_TYPE& other) const;
};

// A PCM type with the given layout (extra size 18 unless told otherwise, as the engine builds).
MediaType PcmMediaType(int rate, int channels, int bits, WORD extraSize = 0);
WAVEFORMATEX MakePcmFormat(int rate, int channels, int bits, WORD extraSize = 0);

}  // namespace quil
