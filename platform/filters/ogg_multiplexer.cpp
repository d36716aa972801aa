// "Ogg Multiplexer": packs the Vorbis packets of "Ogg Encoder" into Ogg pages, on libogg. Each
// page goes out as one sample without a time stamp, so "File Writer" appends it. Header packets
// end their pages before audio starts; the last audio packet is held back until the next one
// or the end of the stream arrives, so the final page always carries the end-of-stream mark.

#include <ogg/ogg.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

#include "platform/filters/class_ids.h"
#include "platform/filters/filter_factories.h"
#include "platform/filters/ogg_packets.h"
#include "platform/graph/transform_filter.h"

namespace quil::filters {

namespace {

constexpr GUID kOggStreamSubtype = quil::Guid("{8D2FD10B-5841-4A6B-8905-588FEC1ADE5B}");
// The largest page libogg makes: header, 255 lacing values, 255 segments of 255 bytes.
constexpr LONG kMaxPage = 27 + 255 + 255 * 255;

class OggStream {
public:
    explicit OggStream(int serial) { ogg_stream_init(&state, serial); }
    ~OggStream() { ogg_stream_clear(&state); }
    OggStream(const OggStream&) = delete;
    OggStream& operator=(const OggStream&) = delete;
    ogg_stream_state state;
};

struct HeldPacket {
    VorbisPacketHeader header;
    std::vector<unsigned char> data;
};

class OggMultiplexer : public TransformFilter {
public:
    OggMultiplexer() : TransformFilter(CLSID_OggMultiplexer, L"Vorbis In", L"Ogg Out") {}

    HRESULT CheckInputType(const MediaType& type) override {
        if (type.majortype != MEDIATYPE_Audio || type.subtype != kVorbisPacketSubtype)
            return VFW_E_TYPE_NOT_ACCEPTED;
        const WAVEFORMATEX* format = type.WaveFormat();
        return format && format->wFormatTag == kVorbisPacketFormatTag ? S_OK
                                                                      : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT GetOutputType(int position, MediaType* type) override {
        if (position != 0) return VFW_S_NO_MORE_ITEMS;
        type->Reset();
        type->majortype = MEDIATYPE_Stream;
        type->subtype = kOggStreamSubtype;
        type->formattype = FORMAT_None;
        type->lSampleSize = 1;
        return S_OK;
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        ALLOCATOR_PROPERTIES wanted{std::max<LONG>(request->cBuffers, 4),
                                    std::max<LONG>(request->cbBuffer, kMaxPage), 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        HRESULT hr = allocator->SetProperties(&wanted, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer >= kMaxPage ? S_OK : E_FAIL;
    }

    HRESULT StartStreaming() override {
        std::random_device random;
        stream_.emplace(static_cast<int>(random()));
        held_.reset();
        return S_OK;
    }
    HRESULT StopStreaming() override {
        stream_.reset();
        held_.reset();
        return S_OK;
    }
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;

private:
    HRESULT Submit(const VorbisPacketHeader& header, const unsigned char* data, bool last);
    // Sends out the pages libogg has completed; flush forces out a partial page too.
    HRESULT WritePages(bool flush);

    std::optional<OggStream> stream_;
    std::optional<HeldPacket> held_;
    std::vector<unsigned char> page_;  // the page being sent, kept for the next
};

HRESULT OggMultiplexer::Submit(const VorbisPacketHeader& header, const unsigned char* data,
                               bool last) {
    ogg_packet packet{};
    packet.packet = const_cast<unsigned char*>(data);
    packet.bytes = static_cast<long>(header.bytes);
    packet.b_o_s = (header.flags & kPacketBeginsStream) ? 1 : 0;
    packet.e_o_s = last ? 1 : 0;
    packet.granulepos = header.granulePosition;
    packet.packetno = header.packetNumber;
    if (ogg_stream_packetin(&stream_->state, &packet) != 0) return StreamingError(E_FAIL);
    return WritePages(last || (header.flags & kPacketIsHeader));
}

HRESULT OggMultiplexer::WritePages(bool flush) {
    ogg_page page;
    while (flush ? ogg_stream_flush(&stream_->state, &page)
                 : ogg_stream_pageout(&stream_->state, &page)) {
        page_.assign(page.header, page.header + page.header_len);
        page_.insert(page_.end(), page.body, page.body + page.body_len);
        HRESULT hr = DeliverData(page_.data(), page_.size());
        if (hr != S_OK) return hr;
    }
    return S_OK;
}

HRESULT OggMultiplexer::Receive(IMediaSample* sample) {
    if (!stream_) return E_UNEXPECTED;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    LONG length = sample->GetActualDataLength();
    VorbisPacketHeader header;
    if (length < static_cast<LONG>(sizeof(header))) return StreamingError(VFW_E_INVALIDMEDIATYPE);
    std::memcpy(&header, data, sizeof(header));
    if (header.bytes > kMaxVorbisPacket ||
        header.bytes != static_cast<uint32_t>(length) - sizeof(header))
        return StreamingError(VFW_E_INVALIDMEDIATYPE);
    const unsigned char* body = data + sizeof(header);
    if (header.flags & kPacketIsHeader) return Submit(header, body, false);
    HRESULT hr = S_OK;
    if (held_) hr = Submit(held_->header, held_->data.data(), false);
    held_ = HeldPacket{header, {body, body + header.bytes}};
    return hr;
}

HRESULT OggMultiplexer::OnEndOfStream() {
    if (!stream_) return S_OK;
    HRESULT hr = S_OK;
    if (held_) hr = Submit(held_->header, held_->data.data(), true);
    held_.reset();
    if (hr == S_OK) hr = WritePages(true);
    return hr;
}

}  // namespace

HRESULT CreateOggMultiplexer(REFIID iid, void** out) {
    return CreateObject<OggMultiplexer>(iid, out);
}

}  // namespace quil::filters
