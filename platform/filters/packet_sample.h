#pragma once

// A media sample that carries a demuxed FFmpeg packet as it is: its bytes are the packet's own
// buffer, so the splitter hands a packet downstream without copying it, and a decoder that
// asks for IPacketSample takes a reference on the packet instead of copying it again. The
// reference keeps what the demuxer attached to the packet (side data such as the encoder delay
// and padding to skip, and flags), which the sample's own fields cannot carry.

#include "platform/com/unknown.h"
#include "platform/filters/ffmpeg_util.h"
#include "platform/graph/interfaces.h"

namespace quil::filters {

struct IPacketSample : IUnknown {
    static constexpr GUID kIid = quil::Guid("{24B21066-9A23-442A-9EBB-3ECA38593696}");
    using Base = IUnknown;
    // The packet as the demuxer read it: its bytes (with FFmpeg's zeroed padding after them),
    // side data and flags. The splitter stamps it with the sample's start in 100-ns units
    // (no decoding time stamp, no duration); a decoder checks before it relies on that.
    virtual const AVPacket* Packet() = 0;

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

    const AVPacket* Packet() override { return packet_.get(); }
    // The packet, emptied, for reuse; only once nothing else holds the sample.
    ffmpeg::PacketPtr TakeEmptiedPacket();

private:
    ffmpeg::PacketPtr packet_;
    LONG length_;
    REFERENCE_TIME start_ = 0, end_ = 0;
    bool hasStart_ = false, hasEnd_ = false;
    bool sync_ = false, preroll_ = false, discontinuity_ = false;
};

}  // namespace quil::filters
