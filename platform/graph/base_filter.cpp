#include "platform/graph/base_filter.h"

#include <algorithm>
#include <cstring>

#include "platform/graph/enumerators.h"

namespace quil {

namespace {

void CopyName(const std::wstring& name, WCHAR* target, size_t capacity) {
    size_t n = std::min(name.size(), capacity - 1);
    std::copy_n(name.data(), n, target);
    target[n] = 0;
}

bool IsFullySpecified(const AM_MEDIA_TYPE* type) {
    return type && type->majortype != GUID_NULL && type->subtype != GUID_NULL &&
           type->formattype != GUID_NULL;
}

bool PartialMatch(const AM_MEDIA_TYPE& candidate, const AM_MEDIA_TYPE* partial) {
    if (!partial) return true;
    if (partial->majortype != GUID_NULL && partial->majortype != candidate.majortype) return false;
    if (partial->subtype != GUID_NULL && partial->subtype != candidate.subtype) return false;
    if (partial->formattype != GUID_NULL && partial->formattype != candidate.formattype)
        return false;
    return true;
}

}  // namespace

HRESULT MediaTypeEnum::Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) {
    if (!out) return E_POINTER;
    ULONG n = 0;
    while (n < count && position_ < types_.size()) {
        out[n] = CreateMediaType(&types_[position_++]);
        if (!out[n]) break;
        ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT MediaTypeEnum::Skip(ULONG count) {
    position_ = std::min<size_t>(position_ + count, types_.size());
    return position_ < types_.size() ? S_OK : S_FALSE;
}

HRESULT MediaTypeEnum::Reset() {
    position_ = 0;
    return S_OK;
}

HRESULT MediaTypeEnum::Clone(IEnumMediaTypes** copy) {
    if (!copy) return E_POINTER;
    auto clone = MakeCom<MediaTypeEnum>(types_);
    clone->position_ = position_;
    *copy = clone.Detach();
    return S_OK;
}

// BasePin

BasePin::BasePin(BaseFilter* filter, std::wstring name, PIN_DIRECTION direction)
    : ComImpl<IPin>(filter), filter_(filter), name_(std::move(name)), direction_(direction) {}

HRESULT BasePin::GetMediaType(int, MediaType*) { return VFW_S_NO_MORE_ITEMS; }

HRESULT BasePin::SetMediaType(const MediaType& type) {
    mt_ = type;
    return S_OK;
}

HRESULT BasePin::CheckConnect(IPin* pin) {
    PIN_DIRECTION other;
    if (FAILED(pin->QueryDirection(&other))) return E_FAIL;
    return other == direction_ ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT BasePin::CompleteConnect(IPin*) { return S_OK; }

HRESULT BasePin::AttemptConnection(IPin* receivePin, const MediaType& type) {
    HRESULT hr = CheckConnect(receivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(type);
    if (hr != S_OK) {
        BreakConnect();
        return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    }
    connected_ = ComPtr<IPin>(receivePin);
    SetMediaType(type);
    hr = receivePin->ReceiveConnection(this, &type);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(receivePin);
        if (SUCCEEDED(hr)) return S_OK;
        receivePin->Disconnect();
    }
    BreakConnect();
    connected_ = nullptr;
    mt_.Reset();
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT BasePin::TryMediaTypes(IPin* receivePin, const AM_MEDIA_TYPE* partial,
                               IEnumMediaTypes* types) {
    if (!types) return VFW_E_NO_ACCEPTABLE_TYPES;
    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    AM_MEDIA_TYPE* type = nullptr;
    ULONG fetched = 0;
    while (types->Next(1, &type, &fetched) == S_OK && fetched == 1) {
        MediaType candidate(*type);
        DeleteMediaType(type);
        if (!PartialMatch(candidate, partial)) continue;
        HRESULT hr = AttemptConnection(receivePin, candidate);
        if (SUCCEEDED(hr)) return hr;
        last = hr;
    }
    return last;
}

HRESULT BasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
    if (!receivePin) return E_POINTER;
    std::lock_guard lock(filter_->StateLock());
    if (connected_) return VFW_E_ALREADY_CONNECTED;
    if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
    if (IsFullySpecified(type)) return AttemptConnection(receivePin, MediaType(*type));

    // Our own preferred types first (a source's format wins), then the receiver's.
    ComPtr<IEnumMediaTypes> own;
    EnumMediaTypes(own.Put());
    HRESULT hr = TryMediaTypes(receivePin, type, own.Get());
    if (SUCCEEDED(hr)) return hr;
    ComPtr<IEnumMediaTypes> theirs;
    if (SUCCEEDED(receivePin->EnumMediaTypes(theirs.Put()))) {
        HRESULT second = TryMediaTypes(receivePin, type, theirs.Get());
        if (SUCCEEDED(second)) return second;
    }
    return hr == VFW_E_NO_ACCEPTABLE_TYPES ? VFW_E_CANNOT_CONNECT : hr;
}

HRESULT BasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
    if (!connector || !type) return E_POINTER;
    std::lock_guard lock(filter_->StateLock());
    if (connected_) return VFW_E_ALREADY_CONNECTED;
    if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(connector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    MediaType candidate(*type);
    hr = CheckMediaType(candidate);
    if (hr != S_OK) {
        BreakConnect();
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    connected_ = ComPtr<IPin>(connector);
    SetMediaType(candidate);
    hr = CompleteConnect(connector);
    if (FAILED(hr)) {
        connected_ = nullptr;
        mt_.Reset();
        BreakConnect();
    }
    return hr;
}

HRESULT BasePin::Disconnect() {
    std::lock_guard lock(filter_->StateLock());
    if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
    if (!connected_) return S_FALSE;
    BreakConnect();
    connected_ = nullptr;
    mt_.Reset();
    return S_OK;
}

HRESULT BasePin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    *pin = connected_.Get();
    if (!*pin) return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
}

HRESULT BasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    if (!connected_) {
        *type = MediaType();
        type->formattype = GUID_NULL;
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(type, &mt_);
}

HRESULT BasePin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = direction_;
    CopyName(name_, info->achName, MAX_PIN_NAME);
    return S_OK;
}

HRESULT BasePin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) return E_POINTER;
    *direction = direction_;
    return S_OK;
}

HRESULT BasePin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc((name_.size() + 1) * sizeof(WCHAR)));
    if (!*id) return E_OUTOFMEMORY;
    std::copy_n(name_.c_str(), name_.size() + 1, *id);
    return S_OK;
}

HRESULT BasePin::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    return CheckMediaType(MediaType(*type)) == S_OK ? S_OK : S_FALSE;
}

HRESULT BasePin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types) return E_POINTER;
    std::vector<MediaType> list;
    for (int i = 0;; ++i) {
        MediaType type;
        if (GetMediaType(i, &type) != S_OK) break;
        list.push_back(type);
    }
    *types = MakeCom<MediaTypeEnum>(std::move(list)).Detach();
    return S_OK;
}

// InputPin

InputPin::InputPin(BaseFilter* filter, std::wstring name)
    : BasePin(filter, std::move(name), PINDIR_INPUT) {}

HRESULT InputPin::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (InterfaceMatches<IMemInputPin>(iid)) return GetInterface<IMemInputPin>(this, out);
    if (InterfaceMatches<IStreamProgress>(iid)) return GetInterface<IStreamProgress>(this, out);
    return BasePin::NonDelegatingQueryInterface(iid, out);
}

HRESULT InputPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) return E_POINTER;
    if (!allocator_) allocator_ = MakeCom<MemAllocator>();
    *allocator = allocator_.Get();
    (*allocator)->AddRef();
    return S_OK;
}

HRESULT InputPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
    if (!allocator) return E_POINTER;
    allocator_ = ComPtr<IMemAllocator>(allocator);
    return S_OK;
}

HRESULT InputPin::CheckStreaming() {
    if (filter_->IsStopped()) return VFW_E_WRONG_STATE;
    if (flushing_) return S_FALSE;
    if (endOfStream_) return VFW_E_SAMPLE_REJECTED_EOS;
    return S_OK;
}

HRESULT InputPin::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    HRESULT hr = CheckStreaming();
    if (hr == S_OK && (mt_.majortype == MEDIATYPE_Audio || mt_.majortype == MEDIATYPE_Video)) {
        REFERENCE_TIME start, stop;
        if (SUCCEEDED(sample->GetTime(&start, &stop)) && stop > latest_) latest_ = stop;
    }
    return hr;
}

HRESULT InputPin::GetLatestTime(REFERENCE_TIME* time) {
    if (!time) return E_POINTER;
    *time = latest_;
    return S_OK;
}

HRESULT InputPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {
    latest_ = 0;
    return S_OK;
}

HRESULT InputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
    if (!samples || !processed) return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    while (*processed < count && (hr = Receive(samples[*processed])) == S_OK) ++*processed;
    return hr;
}

HRESULT InputPin::EndOfStream() {
    if (filter_->IsStopped()) return VFW_E_WRONG_STATE;
    if (flushing_) return S_FALSE;
    endOfStream_ = true;
    return S_OK;
}

HRESULT InputPin::BeginFlush() {
    flushing_ = true;
    return S_OK;
}

HRESULT InputPin::EndFlush() {
    latest_ = 0;
    flushing_ = false;
    endOfStream_ = false;
    return S_OK;
}

HRESULT InputPin::CheckConnect(IPin* pin) {
    HRESULT hr = BasePin::CheckConnect(pin);
    return hr;
}

void InputPin::BreakConnect() { allocator_ = nullptr; }

HRESULT InputPin::Active() {
    latest_ = 0;
    endOfStream_ = false;
    flushing_ = false;
    return S_OK;
}

HRESULT InputPin::Inactive() {
    if (allocator_) allocator_->Decommit();
    return S_OK;
}

// OutputPin

OutputPin::OutputPin(BaseFilter* filter, std::wstring name)
    : BasePin(filter, std::move(name), PINDIR_OUTPUT) {}

HRESULT OutputPin::CheckConnect(IPin* pin) {
    HRESULT hr = BasePin::CheckConnect(pin);
    if (FAILED(hr)) return hr;
    input_ = QueryAs<IMemInputPin>(pin);
    return input_ ? S_OK : E_NOINTERFACE;
}

HRESULT OutputPin::CompleteConnect(IPin*) { return DecideAllocator(input_.Get()); }

HRESULT OutputPin::DecideAllocator(IMemInputPin* input) {
    if (!input) return E_NOINTERFACE;
    ALLOCATOR_PROPERTIES request{};
    input->GetAllocatorRequirements(&request);
    if (request.cbAlign == 0) request.cbAlign = 1;
    ComPtr<IMemAllocator> allocator;
    if (SUCCEEDED(input->GetAllocator(allocator.Put()))) {
        HRESULT hr = DecideBufferSize(allocator.Get(), &request);
        if (SUCCEEDED(hr) && SUCCEEDED(hr = input->NotifyAllocator(allocator.Get(), FALSE))) {
            allocator_ = allocator;
            return S_OK;
        }
        if (hr == E_FAIL || hr == VFW_E_SIZENOTSET) return hr;
    }
    allocator = MakeCom<MemAllocator>();
    HRESULT hr = DecideBufferSize(allocator.Get(), &request);
    if (FAILED(hr)) return hr;
    hr = input->NotifyAllocator(allocator.Get(), FALSE);
    if (FAILED(hr)) return hr;
    allocator_ = allocator;
    return S_OK;
}

void OutputPin::BreakConnect() {
    if (allocator_) allocator_->Decommit();
    allocator_ = nullptr;
    input_ = nullptr;
}

HRESULT OutputPin::Active() { return allocator_ ? allocator_->Commit() : VFW_E_NO_ALLOCATOR; }

HRESULT OutputPin::Inactive() {
    if (allocator_) allocator_->Decommit();
    return S_OK;
}

HRESULT OutputPin::GetDeliveryBuffer(IMediaSample** sample) {
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    return allocator_->GetBuffer(sample, nullptr, nullptr, 0);
}

HRESULT OutputPin::Deliver(IMediaSample* sample) {
    if (!input_) return VFW_E_NOT_CONNECTED;
    return input_->Receive(sample);
}

HRESULT OutputPin::DeliverEndOfStream() {
    return connected_ ? connected_->EndOfStream() : VFW_E_NOT_CONNECTED;
}
HRESULT OutputPin::DeliverBeginFlush() {
    return connected_ ? connected_->BeginFlush() : VFW_E_NOT_CONNECTED;
}
HRESULT OutputPin::DeliverEndFlush() {
    return connected_ ? connected_->EndFlush() : VFW_E_NOT_CONNECTED;
}
HRESULT OutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return connected_ ? connected_->NewSegment(start, stop, rate) : VFW_E_NOT_CONNECTED;
}

// BaseFilter

BaseFilter::BaseFilter(const CLSID& clsid) : clsid_(clsid) {}

HRESULT BaseFilter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT BaseFilter::Stop() {
    std::lock_guard lock(stateLock_);
    if (state_ == State_Stopped) return S_OK;
    // Mark stopped first so blocked streaming threads see it as soon as they wake.
    state_ = State_Stopped;
    HRESULT result = S_OK;
    for (int i = 0; i < GetPinCount(); ++i) {
        BasePin* pin = GetPin(i);
        if (pin && pin->IsConnected()) {
            HRESULT hr = pin->Inactive();
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
    }
    return result;
}

HRESULT BaseFilter::Pause() {
    std::lock_guard lock(stateLock_);
    if (state_ == State_Stopped) {
        // Pins go active while the filter still reads as stopped, then the filter pauses.
        for (int i = 0; i < GetPinCount(); ++i) {
            BasePin* pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                HRESULT hr = pin->Active();
                if (FAILED(hr)) {
                    for (int j = 0; j < i; ++j)
                        if (GetPin(j) && GetPin(j)->IsConnected()) GetPin(j)->Inactive();
                    return hr;
                }
            }
        }
    }
    state_ = State_Paused;
    return S_OK;
}

HRESULT BaseFilter::Run(REFERENCE_TIME start) {
    if (state_ == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    std::lock_guard lock(stateLock_);
    start_ = start;
    state_ = State_Running;
    return S_OK;
}

HRESULT BaseFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = state_;
    return S_OK;
}

HRESULT BaseFilter::SetSyncSource(IReferenceClock* clock) {
    std::lock_guard lock(clockLock_);
    clock_ = ComPtr<IReferenceClock>(clock);
    return S_OK;
}

HRESULT BaseFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    std::lock_guard lock(clockLock_);
    *clock = clock_.Get();
    if (*clock) (*clock)->AddRef();
    return S_OK;
}

HRESULT BaseFilter::EnumPins(IEnumPins** pins) {
    if (!pins) return E_POINTER;
    std::vector<ComPtr<IPin>> list;
    for (int i = 0; i < GetPinCount(); ++i)
        if (BasePin* pin = GetPin(i)) list.emplace_back(pin);
    *pins = MakeCom<PinEnum>(std::move(list)).Detach();
    return S_OK;
}

HRESULT BaseFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) return E_POINTER;
    *pin = nullptr;
    for (int i = 0; i < GetPinCount(); ++i) {
        BasePin* candidate = GetPin(i);
        if (candidate && candidate->Name() == id) {
            *pin = candidate;
            candidate->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT BaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    CopyName(name_, info->achName, MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT BaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    std::lock_guard lock(stateLock_);
    graph_ = graph;
    name_ = name ? name : L"";
    sink_ = nullptr;
    if (graph) {
        // Kept uncounted, like the graph pointer itself.
        ComPtr<IMediaEventSink> sink = QueryAs<IMediaEventSink>(graph);
        sink_ = sink.Get();
    }
    return S_OK;
}

void BaseFilter::NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = sink_;
    if (sink) sink->Notify(code, param1, param2);
}

bool BaseFilter::StreamTime(REFERENCE_TIME* time) {
    ComPtr<IReferenceClock> clock;
    {
        std::lock_guard lock(clockLock_);
        clock = clock_;
    }
    if (!clock || state_ != State_Running) return false;
    REFERENCE_TIME now;
    if (FAILED(clock->GetTime(&now))) return false;
    *time = now - start_;
    return true;
}

// Helpers

ComPtr<IPin> FindPinByIndex(IBaseFilter* filter, PIN_DIRECTION direction, int n) {
    if (!filter || n < 1) return {};
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Put()))) return {};
    IPin* pin = nullptr;
    ULONG fetched = 0;
    int seen = 0;
    while (pins->Next(1, &pin, &fetched) == S_OK && fetched == 1) {
        auto held = ComPtr<IPin>::Adopt(pin);
        PIN_DIRECTION d;
        if (SUCCEEDED(held->QueryDirection(&d)) && d == direction && ++seen == n) return held;
    }
    return {};
}

std::wstring PinName(IPin* pin) {
    PIN_INFO info{};
    if (!pin || FAILED(pin->QueryPinInfo(&info))) return {};
    if (info.pFilter) info.pFilter->Release();
    return info.achName;
}

std::wstring FilterName(IBaseFilter* filter) {
    FILTER_INFO info{};
    if (!filter || FAILED(filter->QueryFilterInfo(&info))) return {};
    if (info.pGraph) info.pGraph->Release();
    return info.achName;
}

ComPtr<IBaseFilter> PinFilter(IPin* pin) {
    PIN_INFO info{};
    if (!pin || FAILED(pin->QueryPinInfo(&info))) return {};
    return ComPtr<IBaseFilter>::Adopt(info.pFilter);
}

}  // namespace quil
