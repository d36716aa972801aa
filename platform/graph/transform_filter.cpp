#include "platform/graph/transform_filter.h"

#include <algorithm>
#include <cstring>

namespace quil {

TransformInputPin::TransformInputPin(TransformFilter* filter, std::wstring name)
    : InputPin(filter, std::move(name)), transform_(filter) {}

HRESULT TransformInputPin::CheckMediaType(const MediaType& type) {
    return transform_->CheckInputType(type);
}

HRESULT TransformInputPin::GetMediaType(int, MediaType*) { return VFW_S_NO_MORE_ITEMS; }

HRESULT TransformInputPin::CompleteConnect(IPin* peer) {
    HRESULT hr = InputPin::CompleteConnect(peer);
    return SUCCEEDED(hr) ? transform_->OnConnected(PINDIR_INPUT) : hr;
}

void TransformInputPin::BreakConnect() {
    InputPin::BreakConnect();
    transform_->OnDisconnected(PINDIR_INPUT);
}

HRESULT TransformInputPin::Receive(IMediaSample* sample) {
    std::lock_guard lock(transform_->streamLock_);
    HRESULT hr = InputPin::Receive(sample);
    if (hr != S_OK) return hr;
    if (!transform_->output_->IsConnected()) return S_OK;
    return transform_->Receive(sample);
}

HRESULT TransformInputPin::EndOfStream() {
    std::lock_guard lock(transform_->streamLock_);
    HRESULT hr = InputPin::EndOfStream();
    if (hr != S_OK) return hr;
    if (!transform_->output_->IsConnected()) return S_OK;
    transform_->OnEndOfStream();
    return transform_->output_->DeliverEndOfStream();
}

HRESULT TransformInputPin::BeginFlush() {
    InputPin::BeginFlush();
    return transform_->output_->IsConnected() ? transform_->output_->DeliverBeginFlush() : S_OK;
}

HRESULT TransformInputPin::EndFlush() {
    {
        std::lock_guard lock(transform_->streamLock_);
        transform_->OnFlush();
    }
    InputPin::EndFlush();
    return transform_->output_->IsConnected() ? transform_->output_->DeliverEndFlush() : S_OK;
}

HRESULT TransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return transform_->output_->IsConnected()
               ? transform_->output_->DeliverNewSegment(start, stop, rate)
               : S_OK;
}

TransformOutputPin::TransformOutputPin(TransformFilter* filter, std::wstring name)
    : OutputPin(filter, std::move(name)), transform_(filter) {}

HRESULT TransformOutputPin::CheckMediaType(const MediaType& type) {
    if (!transform_->input_->IsConnected()) return VFW_E_NOT_CONNECTED;
    return transform_->CheckTransform(transform_->InputType(), type);
}

HRESULT TransformOutputPin::GetMediaType(int position, MediaType* type) {
    if (!transform_->input_->IsConnected()) return VFW_S_NO_MORE_ITEMS;
    return transform_->GetOutputType(position, type);
}

HRESULT TransformOutputPin::DecideBufferSize(IMemAllocator* allocator,
                                             ALLOCATOR_PROPERTIES* request) {
    return transform_->DecideBufferSize(allocator, request);
}

HRESULT TransformOutputPin::CompleteConnect(IPin* peer) {
    HRESULT hr = OutputPin::CompleteConnect(peer);
    return SUCCEEDED(hr) ? transform_->OnConnected(PINDIR_OUTPUT) : hr;
}

TransformFilter::TransformFilter(const CLSID& clsid, std::wstring inputName,
                                 std::wstring outputName)
    : BaseFilter(clsid),
      input_(std::make_unique<TransformInputPin>(this, std::move(inputName))),
      output_(std::make_unique<TransformOutputPin>(this, std::move(outputName))) {}

BasePin* TransformFilter::GetPin(int index) {
    if (index == 0) return input_.get();
    if (index == 1) return output_.get();
    return nullptr;
}

HRESULT TransformFilter::CheckTransform(const MediaType&, const MediaType& output) {
    for (int i = 0;; ++i) {
        MediaType offered;
        if (GetOutputType(i, &offered) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
        if (offered.Matches(output)) return S_OK;
    }
}

HRESULT TransformFilter::Pause() {
    bool starting = IsStopped();
    // Streaming needs the input's format; a filter left unconnected by a failed chain refuses.
    if (starting && !input_->IsConnected()) return VFW_E_NOT_CONNECTED;
    HRESULT hr = BaseFilter::Pause();
    if (SUCCEEDED(hr) && starting) {
        std::lock_guard lock(streamLock_);
        errorReported_ = false;
        hr = StartStreaming();
        streaming_ = SUCCEEDED(hr);
        if (FAILED(hr)) BaseFilter::Stop();
    }
    return hr;
}

HRESULT TransformFilter::Stop() {
    // Stopping the pins first decommits the allocators, which frees a thread blocked in
    // GetBuffer inside Receive, so the stream lock can then be taken.
    HRESULT hr = BaseFilter::Stop();
    std::lock_guard lock(streamLock_);
    if (streaming_) StopStreaming();
    streaming_ = false;
    return hr;
}

HRESULT TransformFilter::Receive(IMediaSample* sample) {
    ComPtr<IMediaSample> out;
    HRESULT hr = output_->GetDeliveryBuffer(out.Put());
    if (FAILED(hr)) return hr;
    REFERENCE_TIME start, stop;
    if (SUCCEEDED(sample->GetTime(&start, &stop))) out->SetTime(&start, &stop);
    out->SetSyncPoint(sample->IsSyncPoint() == S_OK);
    out->SetDiscontinuity(sample->IsDiscontinuity() == S_OK);
    hr = Transform(sample, out.Get());
    if (FAILED(hr)) return StreamingError(hr);
    if (hr == S_FALSE) return S_OK;  // nothing to pass on for this sample
    return output_->Deliver(out.Get());
}

HRESULT TransformFilter::DeliverData(const void* data, size_t size, const REFERENCE_TIME* start,
                                     const REFERENCE_TIME* stop) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    bool first = true;
    while (size > 0) {
        ComPtr<IMediaSample> out;
        HRESULT hr = output_->GetDeliveryBuffer(out.Put());
        if (FAILED(hr)) return hr;
        BYTE* buffer;
        out->GetPointer(&buffer);
        size_t chunk = std::min<size_t>(size, static_cast<size_t>(out->GetSize()));
        std::memcpy(buffer, bytes, chunk);
        out->SetActualDataLength(static_cast<LONG>(chunk));
        if (first && start) {
            REFERENCE_TIME s = *start, e = stop ? *stop : *start;
            out->SetTime(&s, &e);
            out->SetSyncPoint(TRUE);
        }
        first = false;
        hr = output_->Deliver(out.Get());
        if (hr != S_OK) return hr;
        bytes += chunk;
        size -= chunk;
    }
    return S_OK;
}

HRESULT TransformFilter::StreamingError(HRESULT hr) {
    if (!errorReported_) {
        errorReported_ = true;
        NotifyEvent(EC_ERRORABORT, hr, 0);
    }
    return hr;
}

}  // namespace quil
