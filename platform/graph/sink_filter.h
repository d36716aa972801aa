#pragma once

// Filters that end a stream (renderers and file writers): one input pin, no output. At
// end-of-stream the sink finishes its work and reports EC_COMPLETE; the graph passes one
// EC_COMPLETE on once every sink has reported. While paused, Receive holds the delivering
// thread. A paced sink waits for each sample's start time on the graph clock.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/graph/base_filter.h"

namespace quil {

class SinkFilter;

// Tells the graph whether a sink plays in real time.
struct ISinkProgress : IUnknown {
    static constexpr GUID kIid = quil::Guid("{D3C0F2B1-6E4A-4C57-9B8E-27A5F0C41E66}");
    using Base = IUnknown;
    // S_OK when the sink plays in real time (its pace is the graph's).
    virtual HRESULT IsPaced() = 0;

protected:
    ~ISinkProgress() = default;
};

class SinkInputPin : public InputPin {
public:
    SinkInputPin(SinkFilter* filter, std::wstring name);
    HRESULT CheckMediaType(const MediaType& type) override;
    HRESULT GetMediaType(int position, MediaType* type) override;
    HRESULT CompleteConnect(IPin* peer) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

private:
    SinkFilter* sink_;
};

class SinkFilter : public BaseFilter, public IAMFilterMiscFlags, public ISinkProgress {
public:
    SinkFilter(const CLSID& clsid, bool paced, std::wstring inputName = L"In");
    QUIL_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

    int GetPinCount() override { return 1; }
    BasePin* GetPin(int index) override { return index == 0 ? input_.get() : nullptr; }
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;

    ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }
    HRESULT IsPaced() override { return paced_ ? S_OK : S_FALSE; }

    // What a concrete sink does.
    virtual HRESULT CheckMediaType(const MediaType& type) = 0;
    virtual HRESULT GetPreferredType(int, MediaType*) { return VFW_S_NO_MORE_ITEMS; }
    virtual HRESULT OnConnected() { return S_OK; }
    virtual HRESULT StartStreaming() { return S_OK; }  // pause from stopped
    virtual HRESULT StopStreaming() { return S_OK; }   // stop; finish files here too
    virtual HRESULT RenderSample(IMediaSample* sample) = 0;
    // End of the stream: complete the output. A failure is reported as EC_ERRORABORT.
    virtual HRESULT OnEndOfStream() { return S_OK; }
    virtual void OnBeginFlush() {}
    virtual void OnEndFlush() {}

    SinkInputPin* Input() { return input_.get(); }
    const MediaType& InputType() const { return input_->CurrentMediaType(); }

protected:
    using BaseFilter::PrimaryInterface;
    // Waits until the graph runs and, for paced sinks, until the sample's time; false when
    // stopping or flushing interrupted the wait.
    bool WaitForRenderTime(IMediaSample* sample);
    // True once stopping or flushing has begun.
    bool RenderInterrupted() const { return IsStopped() || input_->IsFlushing(); }
    void ReportError(HRESULT hr);

    std::unique_ptr<SinkInputPin> input_;
    bool paced_;
    std::mutex waitMutex_;
    std::condition_variable waitChanged_;
    std::mutex renderLock_;  // serialises RenderSample, end-of-stream and stop
    bool streaming_ = false;
    bool errorReported_ = false;
    bool completed_ = false;

    friend class SinkInputPin;
};

}  // namespace quil
