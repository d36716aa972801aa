// "Ogg Encoder": PCM in, Vorbis packets out (to "Ogg Multiplexer"), on libvorbis in its
// variable bit rate mode. The property "Quality" (0 to 10) is Vorbis quality times ten; it is
// read when the stream starts. The three header packets go out with the first audio.

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/filters/class_ids.h"
#include "platform/filters/filter_factories.h"
#include "platform/filters/ogg_packets.h"
#include "platform/graph/transform_filter.h"
#include "platform/registry/registry.h"

namespace quil::filters {

namespace {

constexpr float kDefaultQuality = 6.0f;

// The main program writes the encoder's default quality here at every start.
float StoredDefaultQuality() {
    auto key = registry::Key::Open(registry::Root::ClassesRoot,
                                   "CLSID\\" + GuidToString(CLSID_OggEncoder) + "\\Defaults");
    if (!key) return kDefaultQuality;
    auto text = key->ReadString("Quality");
    if (!text) return kDefaultQuality;
    try {
        float value = std::stof(*text);
        return value >= 0 && value <= 10 ? value : kDefaultQuality;
    } catch (...) {
        return kDefaultQuality;
    }
}

// libvorbis's encoder state, torn down in reverse order of set-up.
class VorbisState {
public:
    VorbisState() {
        vorbis_info_init(&info);
        vorbis_comment_init(&comment);
    }
    ~VorbisState() {
        if (blockReady) vorbis_block_clear(&block);
        if (dspReady) vorbis_dsp_clear(&dsp);
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
    }
    VorbisState(const VorbisState&) = delete;
    VorbisState& operator=(const VorbisState&) = delete;

    bool Open(int channels, long rate, float quality) {
        if (vorbis_encode_init_vbr(&info, channels, rate, quality) != 0) return false;
        vorbis_comment_add_tag(&comment, "ENCODER", "Quillet");
        if (vorbis_analysis_init(&dsp, &info) != 0) return false;
        dspReady = true;
        if (vorbis_block_init(&dsp, &block) != 0) return false;
        blockReady = true;
        return true;
    }

    vorbis_info info;
    vorbis_comment comment;
    vorbis_dsp_state dsp;
    vorbis_block block;
    bool dspReady = false;
    bool blockReady = false;
};

class OggEncoder : public TransformFilter, public IPropertyBag {
public:
    OggEncoder()
        : TransformFilter(CLSID_OggEncoder, L"PCM In", L"Vorbis Out"),
          quality_(StoredDefaultQuality()) {}

    QUIL_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (InterfaceMatches<IPropertyBag>(iid)) return GetInterface<IPropertyBag>(this, out);
        return TransformFilter::NonDelegatingQueryInterface(iid, out);
    }

    // IPropertyBag
    HRESULT Read(LPCWSTR name, VARIANT* value, IUnknown*) override {
        if (!name || !value) return E_POINTER;
        if (std::wstring_view(name) != L"Quality") return E_INVALIDARG;
        std::lock_guard lock(settingsLock_);
        value->vt = VT_R4;
        value->fltVal = quality_;
        return S_OK;
    }
    HRESULT Write(LPCWSTR name, VARIANT* value) override;

    HRESULT CheckInputType(const MediaType& type) override {
        const WAVEFORMATEX* format = type.WaveFormat();
        if (!type.IsPcm()) return VFW_E_TYPE_NOT_ACCEPTED;
        if (format->wBitsPerSample != 16 && format->wBitsPerSample != 8)
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (format->nChannels < 1 || format->nChannels > 8) return VFW_E_TYPE_NOT_ACCEPTED;
        if (format->nSamplesPerSec < 8000 || format->nSamplesPerSec > 192000)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return format->nBlockAlign == format->nChannels * format->wBitsPerSample / 8
                   ? S_OK
                   : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT GetOutputType(int position, MediaType* type) override {
        if (position != 0) return VFW_S_NO_MORE_ITEMS;
        const WAVEFORMATEX* in = InputType().WaveFormat();
        WAVEFORMATEX format{};
        format.wFormatTag = kVorbisPacketFormatTag;
        format.nChannels = in->nChannels;
        format.nSamplesPerSec = in->nSamplesPerSec;
        format.nBlockAlign = 1;
        type->Reset();
        type->majortype = MEDIATYPE_Audio;
        type->subtype = kVorbisPacketSubtype;
        type->bFixedSizeSamples = FALSE;
        type->SetFormatType(FORMAT_WaveFormatEx);
        type->SetFormat(&format, sizeof(format));
        return S_OK;
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        LONG size = sizeof(VorbisPacketHeader) + kMaxVorbisPacket;
        ALLOCATOR_PROPERTIES wanted{std::max<LONG>(request->cBuffers, 8),
                                    std::max<LONG>(request->cbBuffer, size), 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        HRESULT hr = allocator->SetProperties(&wanted, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer >= size ? S_OK : E_FAIL;
    }

    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override {
        vorbis_.reset();
        return S_OK;
    }
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;

private:
    using BaseFilter::PrimaryInterface;

    HRESULT SendHeaders();
    // Hands every packet the analysis has ready to the multiplexer.
    HRESULT Drain();
    HRESULT DeliverPacket(const ogg_packet& packet, uint32_t flags);

    std::mutex settingsLock_;
    float quality_;
    std::unique_ptr<VorbisState> vorbis_;
    bool headersSent_ = false;
    int channels_ = 2;
    int bytesPerSample_ = 2;
    long rate_ = 44100;
    int64_t lastGranule_ = 0;
};

HRESULT OggEncoder::Write(LPCWSTR name, VARIANT* value) {
    if (!name || !value) return E_POINTER;
    if (std::wstring_view(name) != L"Quality") return E_INVALIDARG;
    // Callers leave the type empty and put the float in the value field; typed values are
    // taken by their type.
    double quality;
    switch (value->vt) {
        case VT_I4:
            quality = value->lVal;
            break;
        case VT_BSTR:
            quality = value->bstrVal ? std::wcstod(value->bstrVal, nullptr) : -1;
            break;
        default:
            quality = value->fltVal;
            break;
    }
    if (!std::isfinite(quality) || quality < 0 || quality > 10) return E_INVALIDARG;
    std::lock_guard lock(settingsLock_);
    quality_ = static_cast<float>(quality);
    return S_OK;
}

HRESULT OggEncoder::StartStreaming() {
    const WAVEFORMATEX* format = InputType().WaveFormat();
    if (!format) return VFW_E_NOT_CONNECTED;
    float quality;
    {
        std::lock_guard lock(settingsLock_);
        quality = quality_;
    }
    channels_ = format->nChannels;
    bytesPerSample_ = format->wBitsPerSample / 8;
    rate_ = static_cast<long>(format->nSamplesPerSec);
    auto vorbis = std::make_unique<VorbisState>();
    if (!vorbis->Open(channels_, rate_, quality / 10.0f)) return E_INVALIDARG;
    vorbis_ = std::move(vorbis);
    headersSent_ = false;
    lastGranule_ = 0;
    return S_OK;
}

HRESULT OggEncoder::DeliverPacket(const ogg_packet& packet, uint32_t flags) {
    if (packet.bytes < 0 || packet.bytes > static_cast<long>(kMaxVorbisPacket))
        return StreamingError(E_FAIL);
    if (packet.b_o_s) flags |= kPacketBeginsStream;
    if (packet.e_o_s) flags |= kPacketEndsStream;
    VorbisPacketHeader header{packet.granulepos, packet.packetno, flags,
                              static_cast<uint32_t>(packet.bytes)};
    ComPtr<IMediaSample> out;
    HRESULT hr = output_->GetDeliveryBuffer(out.Put());
    if (FAILED(hr)) return hr;
    BYTE* buffer = nullptr;
    out->GetPointer(&buffer);
    if (out->GetSize() < static_cast<LONG>(sizeof(header) + packet.bytes))
        return StreamingError(E_FAIL);
    std::memcpy(buffer, &header, sizeof(header));
    std::memcpy(buffer + sizeof(header), packet.packet, static_cast<size_t>(packet.bytes));
    out->SetActualDataLength(static_cast<LONG>(sizeof(header) + packet.bytes));
    if (!(flags & kPacketIsHeader) && packet.granulepos >= 0) {
        REFERENCE_TIME start = lastGranule_ * 10'000'000LL / rate_;
        REFERENCE_TIME stop = packet.granulepos * 10'000'000LL / rate_;
        out->SetTime(&start, &stop);
        lastGranule_ = packet.granulepos;
    }
    out->SetSyncPoint(TRUE);
    return output_->Deliver(out.Get());
}

HRESULT OggEncoder::SendHeaders() {
    if (headersSent_) return S_OK;
    ogg_packet identification, comment, setup;
    if (vorbis_analysis_headerout(&vorbis_->dsp, &vorbis_->comment, &identification, &comment,
                                  &setup) != 0)
        return StreamingError(E_FAIL);
    headersSent_ = true;
    for (const ogg_packet* packet : {&identification, &comment, &setup}) {
        HRESULT hr = DeliverPacket(*packet, kPacketIsHeader);
        if (hr != S_OK) return hr;
    }
    return S_OK;
}

HRESULT OggEncoder::Drain() {
    while (vorbis_analysis_blockout(&vorbis_->dsp, &vorbis_->block) == 1) {
        if (vorbis_analysis(&vorbis_->block, nullptr) != 0 ||
            vorbis_bitrate_addblock(&vorbis_->block) != 0)
            return StreamingError(E_FAIL);
        ogg_packet packet;
        while (vorbis_bitrate_flushpacket(&vorbis_->dsp, &packet) == 1) {
            HRESULT hr = DeliverPacket(packet, 0);
            if (hr != S_OK) return hr;
        }
    }
    return S_OK;
}

HRESULT OggEncoder::Receive(IMediaSample* sample) {
    if (!vorbis_) return E_UNEXPECTED;
    HRESULT hr = SendHeaders();
    if (hr != S_OK) return hr;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    int frames = sample->GetActualDataLength() / (channels_ * bytesPerSample_);
    if (frames <= 0) return S_OK;
    float** planes = vorbis_analysis_buffer(&vorbis_->dsp, frames);
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels_; ++c) {
            size_t at = static_cast<size_t>(i * channels_ + c) * bytesPerSample_;
            if (bytesPerSample_ == 2) {
                int16_t value;
                std::memcpy(&value, data + at, sizeof(value));
                planes[c][i] = value / 32768.0f;
            } else {
                planes[c][i] = (data[at] - 128) / 128.0f;
            }
        }
    }
    vorbis_analysis_wrote(&vorbis_->dsp, frames);
    return Drain();
}

HRESULT OggEncoder::OnEndOfStream() {
    if (!vorbis_) return S_OK;
    HRESULT hr = SendHeaders();
    if (hr != S_OK) return hr;
    // Zero frames tells libvorbis the input ended; the last packet comes out marked.
    vorbis_analysis_wrote(&vorbis_->dsp, 0);
    return Drain();
}

}  // namespace

HRESULT CreateOggEncoder(REFIID iid, void** out) {
    return CreateObject<OggEncoder>(iid, out);
}

}  // namespace quil::filters
