#include "platform/graph/sink_filter.h"

#include <algorithm>
#include <chrono>

namespace quil {

SinkInputPin::SinkInputPin(SinkFilter* filter, std::wstring name)
    : InputPin(filter, std::move(name)), sink_(filter) {}

HRESULT SinkInputPin::CheckMediaType(const MediaType& type) {
    return sink_->CheckMediaType(type);
}

HRESULT SinkInputPin::GetMediaType(int position, MediaType* type) {
    return sink_->GetPreferredType(position, type);
}

HRESULT SinkInputPin::CompleteConnect(IPin* peer) {
    HRESULT hr = InputPin::CompleteConnect(peer);
    return SUCCEEDED(hr) ? sink_->OnConnected() : hr;
}

HRESULT SinkInputPin::Receive(IMediaSample* sample) {
    HRESULT hr = InputPin::Receive(sample);
    if (hr != S_OK) return hr;
    if (!sink_->WaitForRenderTime(sample)) return S_FALSE;
    std::lock_guard lock(sink_->renderLock_);
    if (!sink_->streaming_ || flushing_) return S_FALSE;
    if (sink_->errorReported_) return E_FAIL;
    hr = sink_->RenderSample(sample);
    if (FAILED(hr)) {
        sink_->ReportError(hr);
        return hr;
    }
    return S_OK;
}

HRESULT SinkInputPin::EndOfStream() {
    HRESULT hr = InputPin::EndOfStream();
    if (hr != S_OK) return hr;
    {
        // A paused graph reports completion only once it runs again.
        std::unique_lock lock(sink_->waitMutex_);
        sink_->waitChanged_.wait(lock, [&] { return sink_->State() != State_Paused || flushing_; });
    }
    std::lock_guard lock(sink_->renderLock_);
    if (!sink_->streaming_ || flushing_ || sink_->completed_) return S_OK;
    hr = sink_->OnEndOfStream();
    if (FAILED(hr)) {
        sink_->ReportError(hr);
        return S_OK;
    }
    // A stop or seek that cut the sink's finishing short is no completion.
    if (sink_->RenderInterrupted()) return S_OK;
    sink_->completed_ = true;
    sink_->NotifyEvent(EC_COMPLETE, S_OK, 0);
    return S_OK;
}

HRESULT SinkInputPin::BeginFlush() {
    InputPin::BeginFlush();
    {
        std::lock_guard lock(sink_->waitMutex_);
        sink_->waitChanged_.notify_all();
    }
    sink_->OnBeginFlush();
    return S_OK;
}

HRESULT SinkInputPin::EndFlush() {
    {
        std::lock_guard lock(sink_->renderLock_);
        sink_->OnEndFlush();
        sink_->completed_ = false;
    }
    return InputPin::EndFlush();
}

SinkFilter::SinkFilter(const CLSID& clsid, bool paced, std::wstring inputName)
    : BaseFilter(clsid),
      input_(std::make_unique<SinkInputPin>(this, std::move(inputName))),
      paced_(paced) {}

HRESULT SinkFilter::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (InterfaceMatches<IAMFilterMiscFlags>(iid))
        return GetInterface<IAMFilterMiscFlags>(this, out);
    if (InterfaceMatches<ISinkProgress>(iid)) return GetInterface<ISinkProgress>(this, out);
    return BaseFilter::NonDelegatingQueryInterface(iid, out);
}

HRESULT SinkFilter::Pause() {
    bool starting = IsStopped();
    if (starting) {
        std::lock_guard lock(renderLock_);
        errorReported_ = false;
        completed_ = false;
        HRESULT hr = StartStreaming();
        if (FAILED(hr)) return hr;
        streaming_ = true;
    }
    HRESULT hr = BaseFilter::Pause();
    std::lock_guard lock(waitMutex_);
    waitChanged_.notify_all();
    return hr;
}

HRESULT SinkFilter::Run(REFERENCE_TIME start) {
    HRESULT hr = BaseFilter::Run(start);
    std::lock_guard lock(waitMutex_);
    waitChanged_.notify_all();
    return hr;
}

HRESULT SinkFilter::Stop() {
    HRESULT hr = BaseFilter::Stop();
    {
        std::lock_guard lock(waitMutex_);
        waitChanged_.notify_all();
    }
    std::lock_guard lock(renderLock_);
    if (streaming_) {
        HRESULT stopped = StopStreaming();
        if (FAILED(stopped) && SUCCEEDED(hr)) hr = stopped;
    }
    streaming_ = false;
    return hr;
}

bool SinkFilter::WaitForRenderTime(IMediaSample* sample) {
    std::unique_lock lock(waitMutex_);
    auto interrupted = [&] { return State() == State_Stopped || input_->IsFlushing(); };
    waitChanged_.wait(lock, [&] { return State() == State_Running || interrupted(); });
    if (interrupted()) return false;
    if (!paced_) return true;
    REFERENCE_TIME start, stop;
    if (FAILED(sample->GetTime(&start, &stop))) return true;
    while (true) {
        REFERENCE_TIME now;
        if (!StreamTime(&now)) {
            // Paused again (or no clock): wait for the next state change.
            waitChanged_.wait(lock, [&] { return State() == State_Running || interrupted(); });
            if (interrupted()) return false;
            if (!StreamTime(&now)) return true;
        }
        if (now >= start) return true;
        auto wait = std::chrono::microseconds(std::min<REFERENCE_TIME>((start - now) / 10, 100000));
        waitChanged_.wait_for(lock, wait);
        if (interrupted()) return false;
    }
}

void SinkFilter::ReportError(HRESULT hr) {
    if (errorReported_) return;
    errorReported_ = true;
    NotifyEvent(EC_ERRORABORT, hr, 0);
}

}  // namespace quil
