#pragma once

// A filter with one input and one output that works on the thread delivering to it. The simple
// case overrides Transform (one output sample per input sample); streaming encoders override
// Receive and EndOfStream and push their output with DeliverData.

#include <memory>
#include <mutex>

#include "platform/graph/base_filter.h"

namespace quil {

class TransformFilter;

class TransformInputPin : public InputPin {
public:
    TransformInputPin(TransformFilter* filter, std::wstring name);
    HRESULT CheckMediaType(const MediaType& type) override;
    HRESULT GetMediaType(int position, MediaType* type) override;
    HRESULT CompleteConnect(IPin* peer) override;
    void BreakConnect() override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    TransformFilter* transform_;
};

class TransformOutputPin : public OutputPin {
public:
    TransformOutputPin(TransformFilter* filter, std::wstring name);
    HRESULT CheckMediaType(const MediaType& type) override;
    HRESULT GetMediaType(int position, MediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT CompleteConnect(IPin* peer) override;

private:
    TransformFilter* transform_;
};

class TransformFilter : public BaseFilter {
public:
    TransformFilter(const CLSID& clsid, std::wstring inputName = L"In",
                    std::wstring outputName = L"Out");

    int GetPinCount() override { return 2; }
    BasePin* GetPin(int index) override;
    HRESULT Stop() override;
    HRESULT Pause() override;

    // Media types. GetOutputType is asked only once the input is connected.
    virtual HRESULT CheckInputType(const MediaType& type) = 0;
    virtual HRESULT GetOutputType(int position, MediaType* type) = 0;
    // Default: the output type must be one that GetOutputType offers.
    virtual HRESULT CheckTransform(const MediaType& input, const MediaType& output);
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    virtual HRESULT OnConnected(PIN_DIRECTION) { return S_OK; }
    virtual void OnDisconnected(PIN_DIRECTION) {}

    // Streaming, on the delivering thread, under the stream lock.
    virtual HRESULT StartStreaming() { return S_OK; }
    virtual HRESULT StopStreaming() { return S_OK; }
    virtual HRESULT Receive(IMediaSample* sample);
    virtual HRESULT Transform(IMediaSample*, IMediaSample*) { return E_UNEXPECTED; }
    // Called at end-of-stream before it is passed on: flush what is held back.
    virtual HRESULT OnEndOfStream() { return S_OK; }
    virtual void OnFlush() {}

    const MediaType& InputType() const { return input_->CurrentMediaType(); }
    const MediaType& OutputType() const { return output_->CurrentMediaType(); }
    TransformInputPin* Input() { return input_.get(); }
    TransformOutputPin* Output() { return output_.get(); }

protected:
    // Copies bytes into as many output samples as needed and delivers them. Time stamps, when
    // given, go on the first sample.
    HRESULT DeliverData(const void* data, size_t size, const REFERENCE_TIME* start = nullptr,
                        const REFERENCE_TIME* stop = nullptr);
    // Reports a streaming failure once per run and returns it.
    HRESULT StreamingError(HRESULT hr);

    std::mutex streamLock_;
    bool streaming_ = false;
    bool errorReported_ = false;
    std::unique_ptr<TransformInputPin> input_;
    std::unique_ptr<TransformOutputPin> output_;

    friend class TransformInputPin;
    friend class TransformOutputPin;
};

}  // namespace quil
