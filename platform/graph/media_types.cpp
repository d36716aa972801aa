#include "platform/graph/media_types.h"

#include <algorithm>

void FreeMediaType(AM_MEDIA_TYPE& type) {
    if (type.pbFormat) CoTaskMemFree(type.pbFormat);
    type.pbFormat = nullptr;
    type.cbFormat = 0;
    if (type.pUnk) type.pUnk->Release();
    type.pUnk = nullptr;
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
    if (!type) return;
    FreeMediaType(*type);
    CoTaskMemFree(type);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
    if (!target || !source) return E_POINTER;
    *target = *source;
    target->pbFormat = nullptr;
    target->cbFormat = 0;
    if (source->cbFormat && source->pbFormat) {
        target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
        if (!target->pbFormat) return E_OUTOFMEMORY;
        std::copy_n(source->pbFormat, source->cbFormat, target->pbFormat);
        target->cbFormat = source->cbFormat;
    }
    if (target->pUnk) target->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!type) return nullptr;
    if (FAILED(CopyMediaType(type, source))) {
        CoTaskMemFree(type);
        return nullptr;
    }
    return type;
}

namespace quil {

MediaType::MediaType() : AM_MEDIA_TYPE{} {
    bFixedSizeSamples = 1;
    lSampleSize = 1;
    formattype = FORMAT_None;
}

MediaType::MediaType(const AM_MEDIA_TYPE& other) : AM_MEDIA_TYPE{} { CopyMediaType(this, &other); }
MediaType::MediaType(const MediaType& other) : AM_MEDIA_TYPE{} { CopyMediaType(this, &other); }

MediaType& MediaType::operator=(const AM_MEDIA_TYPE& other) {
    if (&other != this) {
        FreeMediaType(*this);
        CopyMediaType(this, &other);
    }
    return *this;
}
MediaType& MediaType::operator=(const MediaType& other) {
    return *this = static_cast<const AM_MEDIA_TYPE&>(other);
}

MediaType::~MediaType() { FreeMediaType(*this); }

void MediaType::SetFormat(const void* data, size_t size) {
    if (pbFormat) CoTaskMemFree(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
    if (!size) return;
    pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(size));
    if (!pbFormat) return;
    std::copy_n(static_cast<const BYTE*>(data), size, pbFormat);
    cbFormat = static_cast<ULONG>(size);
}

void MediaType::Reset() {
    FreeMediaType(*this);
    *this = MediaType();
}

const WAVEFORMATEX* MediaType::WaveFormat() const {
    if (formattype != FORMAT_WaveFormatEx || cbFormat < sizeof(PCMWAVEFORMAT) || !pbFormat)
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(pbFormat);
}

const VIDEOINFOHEADER* MediaType::VideoInfo() const {
    if (formattype != FORMAT_VideoInfo || cbFormat < sizeof(VIDEOINFOHEADER) || !pbFormat)
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(pbFormat);
}

bool MediaType::IsPcm() const {
    return majortype == MEDIATYPE_Audio && subtype == MEDIASUBTYPE_PCM && WaveFormat() &&
           WaveFormat()->wFormatTag == WAVE_FORMAT_PCM;
}

bool MediaType::Matches(const AM_MEDIA_TYPE& other) const {
    if (majortype != other.majortype || subtype != other.subtype ||
        formattype != other.formattype || cbFormat != other.cbFormat)
        return false;
    return cbFormat == 0 || std::equal(pbFormat, pbFormat + cbFormat, other.pbFormat);
}

WAVEFORMATEX MakePcmFormat(int rate, int channels, int bits, WORD extraSize) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.wBitsPerSample = static_cast<WORD>(bits);
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = static_cast<DWORD>(rate) * format.nBlockAlign;
    format.cbSize = extraSize;
    return format;
}

MediaType PcmMediaType(int rate, int channels, int bits, WORD extraSize) {
    MediaType type;
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_PCM;
    type.formattype = FORMAT_WaveFormatEx;
    type.bFixedSizeSamples = 1;
    type.lSampleSize = static_cast<ULONG>(channels * bits / 8);
    WAVEFORMATEX format = MakePcmFormat(rate, channels, bits, extraSize);
    type.SetFormat(&format, sizeof format);
    return type;
}

}  // namespace quil
