#include "platform/filters/packet_sample.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace quil::filters {

PacketSample::PacketSample(ffmpeg::PacketPtr packet)
    : packet_(std::move(packet)), length_(packet_->size) {}

int PacketSample::EndDiscard() {
    // FFmpeg's skip-samples side data: samples to skip at the start (le32), then at the end.
    size_t size = 0;
    const uint8_t* skip = av_packet_get_side_data(packet_.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (!skip || size < 8) return 0;
    uint32_t end = AV_RL32(skip + 4);
    return end > INT32_MAX ? 0 : static_cast<int>(end);
}

HRESULT PacketSample::GetPointer(BYTE** buffer) {
    if (!buffer) return E_POINTER;
    *buffer = packet_->data;
    return S_OK;
}

HRESULT PacketSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
    if (!start || !end) return E_POINTER;
    if (!hasStart_) return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = start_;
    *end = hasEnd_ ? end_ : start_ + 1;
    return hasEnd_ ? S_OK : VFW_S_NO_STOP_TIME;
}

HRESULT PacketSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
    hasStart_ = start != nullptr;
    hasEnd_ = end != nullptr;
    if (start) start_ = *start;
    if (end) end_ = *end;
    return S_OK;
}

HRESULT PacketSample::SetSyncPoint(BOOL sync) {
    sync_ = sync != 0;
    return S_OK;
}

HRESULT PacketSample::SetPreroll(BOOL preroll) {
    preroll_ = preroll != 0;
    return S_OK;
}

HRESULT PacketSample::SetDiscontinuity(BOOL discontinuity) {
    discontinuity_ = discontinuity != 0;
    return S_OK;
}

HRESULT PacketSample::SetActualDataLength(LONG length) {
    if (length < 0 || length > GetSize()) return VFW_E_BUFFER_OVERFLOW;
    length_ = length;
    return S_OK;
}

HRESULT PacketSample::GetMediaType(AM_MEDIA_TYPE** type) {
    if (!type) return E_POINTER;
    *type = nullptr;  // the type never changes within a run
    return S_FALSE;
}

}  // namespace quil::filters
