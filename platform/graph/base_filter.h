#pragma once

// Base classes of every filter: the filter with its state machine and the two kinds of pins.
// A concrete filter implements GetPinCount/GetPin and the media-type checks of its pins; the
// protocol (connection, allocator negotiation, state changes, event reporting) lives here once.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/graph/allocator.h"
#include "platform/graph/interfaces.h"

namespace quil {

class BaseFilter;

class BasePin : public ComImpl<IPin> {
public:
    BasePin(BaseFilter* filter, std::wstring name, PIN_DIRECTION direction);

    HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** pin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT QueryPinInfo(PIN_INFO* info) override;
    HRESULT QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT QueryId(LPWSTR* id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT EndOfStream() override { return S_OK; }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }
    HRESULT NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // What a concrete pin decides.
    virtual HRESULT CheckMediaType(const MediaType& type) = 0;
    // The pin's preferred types, position 0 first; VFW_S_NO_MORE_ITEMS past the end.
    virtual HRESULT GetMediaType(int position, MediaType* type);
    virtual HRESULT SetMediaType(const MediaType& type);
    virtual HRESULT CheckConnect(IPin* pin);
    virtual HRESULT CompleteConnect(IPin* peer);
    virtual void BreakConnect() {}

    // Called by the filter when streaming starts (pause from stopped) and ends (stop).
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }

    bool IsConnected() const { return connected_ != nullptr; }
    IPin* GetConnected() const { return connected_.Get(); }
    const MediaType& CurrentMediaType() const { return mt_; }
    const std::wstring& Name() const { return name_; }
    PIN_DIRECTION Direction() const { return direction_; }
    BaseFilter* Filter() const { return filter_; }

protected:
    HRESULT AttemptConnection(IPin* receivePin, const MediaType& type);
    HRESULT TryMediaTypes(IPin* receivePin, const AM_MEDIA_TYPE* partial, IEnumMediaTypes* types);

    BaseFilter* filter_;
    std::wstring name_;
    PIN_DIRECTION direction_;
    ComPtr<IPin> connected_;
    MediaType mt_;
};

// How far a stream has come: the end time of the latest audio or video sample an input pin
// received in this segment (100-ns units). The graph's position in an unpaced run.
struct IStreamProgress : IUnknown {
    static constexpr GUID kIid = quil::Guid("{5B0E7C24-91D3-4F6A-8E15-C4A2D9F07B31}");
    using Base = IUnknown;
    virtual HRESULT GetLatestTime(REFERENCE_TIME* time) = 0;

protected:
    ~IStreamProgress() = default;
};

// A source that can end its streams where they are: what it holds unsent is dropped and every
// connected output delivers end-of-stream next, so encoders and writers complete their files
// before the graph stops. S_FALSE when there is nothing running to end.
struct IStreamEnding : IUnknown {
    static constexpr GUID kIid = quil::Guid("{0D7A3E51-6C2B-4F8E-9A14-B3E52C7F0A96}");
    using Base = IUnknown;
    virtual HRESULT EndStreamsNow() = 0;

protected:
    ~IStreamEnding() = default;
};

class InputPin : public BasePin, public IMemInputPin, public IStreamProgress {
public:
    InputPin(BaseFilter* filter, std::wstring name);
    QUIL_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

    HRESULT GetAllocator(IMemAllocator** allocator) override;
    HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
    HRESULT ReceiveCanBlock() override { return S_OK; }
    HRESULT GetLatestTime(REFERENCE_TIME* time) override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT CheckConnect(IPin* pin) override;
    void BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    bool IsFlushing() const { return flushing_; }
    bool AtEndOfStream() const { return endOfStream_; }

protected:
    // S_OK when a sample may be received now; S_FALSE while flushing; an error when stopped or
    // after end-of-stream.
    HRESULT CheckStreaming();

    ComPtr<IMemAllocator> allocator_;
    std::atomic<bool> flushing_{false};
    std::atomic<bool> endOfStream_{false};
    std::atomic<REFERENCE_TIME> latest_{0};
};

class OutputPin : public BasePin {
public:
    OutputPin(BaseFilter* filter, std::wstring name);

    HRESULT CheckConnect(IPin* pin) override;
    HRESULT CompleteConnect(IPin* peer) override;
    void BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    // Sizes the buffers of the connection: call allocator->SetProperties and check what it
    // granted. A pin may refuse the connection here.
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;

    HRESULT GetDeliveryBuffer(IMediaSample** sample);
    HRESULT Deliver(IMediaSample* sample);
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();
    HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    IMemAllocator* Allocator() const { return allocator_.Get(); }

protected:
    HRESULT DecideAllocator(IMemInputPin* input);

    ComPtr<IMemInputPin> input_;
    ComPtr<IMemAllocator> allocator_;
};

class BaseFilter : public ComImpl<IBaseFilter> {
public:
    explicit BaseFilter(const CLSID& clsid);

    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;
    HRESULT EnumPins(IEnumPins** pins) override;
    HRESULT FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    virtual int GetPinCount() = 0;
    virtual BasePin* GetPin(int index) = 0;

    // Reports an event to the graph the filter is in (no effect outside a graph).
    void NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2);

    FILTER_STATE State() const { return state_.load(); }
    bool IsStopped() const { return state_.load() == State_Stopped; }
    // Stream time now (clock time minus run start); false without a clock or when not running.
    bool StreamTime(REFERENCE_TIME* time);
    REFERENCE_TIME RunStart() const { return start_; }
    IFilterGraph* Graph() const { return graph_; }
    std::mutex& StateLock() { return stateLock_; }

protected:
    // Held during state changes and connections; pins' media-type and buffer callbacks run
    // under it. Streaming threads never take their own filter's state lock.
    std::mutex stateLock_;
    std::mutex clockLock_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    REFERENCE_TIME start_ = 0;
    ComPtr<IReferenceClock> clock_;
    CLSID clsid_;
    IFilterGraph* graph_ = nullptr;  // not counted: the graph owns the filter
    IMediaEventSink* sink_ = nullptr;
    std::wstring name_;
};

// The n-th pin (from 1) of a filter in one direction, in enumeration order; empty when absent.
ComPtr<IPin> FindPinByIndex(IBaseFilter* filter, PIN_DIRECTION direction, int n);
std::wstring PinName(IPin* pin);
std::wstring FilterName(IBaseFilter* filter);
// The filter a pin belongs to.
ComPtr<IBaseFilter> PinFilter(IPin* pin);

}  // namespace quil
