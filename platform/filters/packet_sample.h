#pragma once

// A media sample that carries a demuxed FFmpeg packet as it is: its bytes are the packet's own
// buffer, so the splitter hands a packet downstream without copying it, and a decoder that
// asks for IPacketSample takes a reference on the buffer instead of copying it again.

#include "platform/com/unknown.h"
#include "platform/filters/ffmpeg_util.h"
#include "platform/graph/interfaces.h"

namespace quil::filters {

struct IPacketSample : IUnknown {
    static constexpr GUID kIid = quil::Guid("{24B21066-9A23-442A-9EBB-3ECA38593696}");
    using Base = IUnknown;
    // The reference-counted buffer that holds the sample's bytes (with FFmpeg's zeroed padding
    // after them); null when the packet's buffer is not reference-counted.
    virtual AVBufferRef* Buffer() = 0;
    // Samples the decoder is to drop from the end of this packet's audio (the container's
    // padding after the last real sample); 0 for all but the last packet of a stream.
    virtual int EndDiscard() = 0;

protected:
    ~IPacketSample() = default;
};

class PacketSample final : public ComImpl<IMediaSample, IPacketSample> {
public:
    explicit PacketSample(ffmpeg::PacketPtr packet);

    HRESULT GetPointer(BYTE** buffer) override;
    LONG GetSize() override { return packet_->size; }
    HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    HRESULT IsSyncPoint() override { return sync_ ? S_OK : S_FALSE; }
    HRESULT SetSyncPoint(BOOL sync) override;
    HRESULT IsPreroll() override { return preroll_ ? S_OK : S_FALSE; }
    HRESULT SetPreroll(BOOL preroll) override;
    LONG GetActualDataLength() override { return length_; }
    HRESULT SetActualDataLength(LONG length) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE** type) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT IsDiscontinuity() override { return discontinuity_ ? S_OK : S_FALSE; }
    HRESULT SetDiscontinuity(BOOL discontinuity) override;

    AVBufferRef* Buffer() override { return packet_->buf; }
    int EndDiscard() override;

private:
    ffmpeg::PacketPtr packet_;
    LONG length_;
    REFERENCE_TIME start_ = 0, end_ = 0;
    bool hasStart_ = false, hasEnd_ = false;
    bool sync_ = false, preroll_ = false, discontinuity_ = false;
};

}  // namespace quil::filters
