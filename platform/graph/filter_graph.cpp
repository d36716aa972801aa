#include "platform/graph/filter_graph.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <utility>

#include "platform/com/class_registry.h"
#include "platform/com/strings.h"
#include "platform/graph/base_filter.h"
#include "platform/graph/enumerators.h"
#include "platform/graph/graph_registry.h"
#include "platform/graph/sink_filter.h"
#include "platform/graph/source_file.h"
#include "platform/graph/system_clock.h"

namespace quil {

namespace {

constexpr double kUnitsPerSecond = 10'000'000.0;
constexpr int kMaxIntermediateDepth = 3;

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> list;
    if (!filter || FAILED(filter->EnumPins(list.Put()))) return pins;
    IPin* pin = nullptr;
    ULONG fetched = 0;
    while (list->Next(1, &pin, &fetched) == S_OK && fetched == 1)
        pins.push_back(ComPtr<IPin>::Adopt(pin));
    return pins;
}

PIN_DIRECTION DirectionOf(IPin* pin) {
    PIN_DIRECTION direction = PINDIR_INPUT;
    pin->QueryDirection(&direction);
    return direction;
}

ComPtr<IPin> Peer(IPin* pin) {
    ComPtr<IPin> peer;
    pin->ConnectedTo(peer.Put());
    return peer;
}

bool IsRendererWithInput(IBaseFilter* filter) {
    auto flags = QueryAs<IAMFilterMiscFlags>(filter);
    if (!flags || !(flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER)) return false;
    for (auto& pin : PinsOf(filter))
        if (DirectionOf(pin.Get()) == PINDIR_INPUT && Peer(pin.Get())) return true;
    return false;
}

GUID FirstMajorType(IPin* pin) {
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(types.Put()))) return GUID_NULL;
    AM_MEDIA_TYPE* type = nullptr;
    ULONG fetched = 0;
    GUID major = GUID_NULL;
    if (types->Next(1, &type, &fetched) == S_OK && fetched == 1) {
        major = type->majortype;
        DeleteMediaType(type);
    }
    return major;
}

// A filter that hands audio or video on to another filter: its input's time is not yet in
// the output (a queue further down may hold seconds of it).
bool PassesMediaOn(IBaseFilter* filter) {
    for (auto& pin : PinsOf(filter)) {
        if (DirectionOf(pin.Get()) != PINDIR_OUTPUT || !Peer(pin.Get())) continue;
        AM_MEDIA_TYPE type{};
        if (FAILED(pin->ConnectionMediaType(&type))) continue;
        bool media = type.majortype == MEDIATYPE_Audio || type.majortype == MEDIATYPE_Video;
        FreeMediaType(type);
        if (media) return true;
    }
    return false;
}

bool IsUrl(const std::string& path) {
    auto colon = path.find("://");
    return colon != std::string::npos && colon > 1;
}

}  // namespace

FilterGraph::FilterGraph() = default;

FilterGraph::~FilterGraph() {
    StopFilters();
    for (auto& entry : entries_) {
        for (auto& pin : PinsOf(entry.filter.Get())) pin->Disconnect();
        entry.filter->JoinFilterGraph(nullptr, nullptr);
    }
    entries_.clear();
}

std::vector<ComPtr<IBaseFilter>> FilterGraph::Filters() {
    std::lock_guard lock(mutex_);
    std::vector<ComPtr<IBaseFilter>> filters;
    for (auto& entry : entries_) filters.push_back(entry.filter);
    return filters;
}

std::wstring FilterGraph::UniqueName(const std::wstring& wanted) {
    auto taken = [&](const std::wstring& name) {
        return std::any_of(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return e.name == name; });
    };
    if (!taken(wanted)) return wanted;
    for (int i = 1;; ++i) {
        wchar_t suffix[16];
        std::swprintf(suffix, 16, L" %04d", i);
        if (!taken(wanted + suffix)) return wanted + suffix;
    }
}

HRESULT FilterGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
    if (!filter) return E_POINTER;
    std::lock_guard lock(mutex_);
    for (auto& entry : entries_)
        if (entry.filter.Get() == filter) return E_INVALIDARG;
    std::wstring wanted = name && *name ? name : L"Filter";
    std::wstring unique = UniqueName(wanted);
    HRESULT hr = filter->JoinFilterGraph(static_cast<IGraphBuilder*>(this), unique.c_str());
    if (FAILED(hr)) return hr;
    entries_.push_back({ComPtr<IBaseFilter>(filter), unique});
    if (clockChosen_) filter->SetSyncSource(clock_.Get());
    return unique == wanted ? S_OK : VFW_S_DUPLICATE_NAME;
}

HRESULT FilterGraph::RemoveFilter(IBaseFilter* filter) {
    if (!filter) return E_POINTER;
    std::lock_guard lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return e.filter.Get() == filter; });
    if (it == entries_.end()) return VFW_E_NOT_FOUND;
    ComPtr<IBaseFilter> held = it->filter;
    held->Stop();
    for (auto& pin : PinsOf(held.Get())) {
        if (auto peer = Peer(pin.Get())) {
            if (auto peerFilter = PinFilter(peer.Get())) peerFilter->Stop();
            peer->Disconnect();
        }
        pin->Disconnect();
    }
    held->JoinFilterGraph(nullptr, nullptr);
    held->SetSyncSource(nullptr);
    entries_.erase(it);
    return S_OK;
}

HRESULT FilterGraph::EnumFilters(IEnumFilters** filters) {
    if (!filters) return E_POINTER;
    *filters = MakeCom<FilterEnum>(Filters()).Detach();
    return S_OK;
}

HRESULT FilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter** filter) {
    if (!name || !filter) return E_POINTER;
    *filter = nullptr;
    std::lock_guard lock(mutex_);
    for (auto& entry : entries_) {
        if (entry.name == name) {
            *filter = entry.filter.Get();
            (*filter)->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT FilterGraph::ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) {
    if (!out || !in) return E_POINTER;
    if (DirectionOf(out) != PINDIR_OUTPUT || DirectionOf(in) != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;
    return out->Connect(in, type);
}

HRESULT FilterGraph::Disconnect(IPin* pin) {
    if (!pin) return E_POINTER;
    return pin->Disconnect();
}

HRESULT FilterGraph::Connect(IPin* out, IPin* in) {
    if (!out || !in) return E_POINTER;
    std::lock_guard lock(mutex_);
    HRESULT hr = ConnectDirect(out, in, nullptr);
    if (SUCCEEDED(hr) || hr == VFW_E_ALREADY_CONNECTED || hr == VFW_E_INVALID_DIRECTION ||
        hr == VFW_E_NOT_STOPPED)
        return hr;
    return ConnectVia(out, in, 0);
}

// Puts converters or decoders between out and in, as many as kMaxIntermediateDepth deep.
HRESULT FilterGraph::ConnectVia(IPin* out, IPin* in, int depth) {
    if (depth >= kMaxIntermediateDepth) return VFW_E_CANNOT_CONNECT;
    for (const auto& type : graph::IntermediateTypes()) {
        ComPtr<IBaseFilter> filter;
        if (FAILED(CoCreateInstance(type.clsid, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(filter.Put()))))
            continue;
        if (FAILED(AddFilter(filter.Get(), type.name))) continue;
        auto input = FindPinByIndex(filter.Get(), PINDIR_INPUT, 1);
        auto output = FindPinByIndex(filter.Get(), PINDIR_OUTPUT, 1);
        if (input && output && SUCCEEDED(out->Connect(input.Get(), nullptr))) {
            if (SUCCEEDED(output->Connect(in, nullptr)) ||
                SUCCEEDED(ConnectVia(output.Get(), in, depth + 1)))
                return S_OK;
        }
        RemoveFilter(filter.Get());
    }
    return VFW_E_CANNOT_CONNECT;
}

HRESULT FilterGraph::Render(IPin* out) {
    if (!out) return E_POINTER;
    if (DirectionOf(out) != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (Peer(out)) return VFW_E_ALREADY_CONNECTED;
    std::lock_guard lock(mutex_);
    GUID major = FirstMajorType(out);
    for (const auto& type : graph::RendererTypes()) {
        if (type.majorType != major) continue;
        ComPtr<IBaseFilter> renderer;
        if (FAILED(CoCreateInstance(type.clsid, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(renderer.Put()))))
            continue;
        if (FAILED(AddFilter(renderer.Get(), type.name))) continue;
        auto input = FindPinByIndex(renderer.Get(), PINDIR_INPUT, 1);
        if (input && SUCCEEDED(Connect(out, input.Get()))) return S_OK;
        RemoveFilter(renderer.Get());
    }
    // A pin no renderer takes may feed a parser or decoder whose outputs can be rendered.
    for (const auto& type : graph::IntermediateTypes()) {
        ComPtr<IBaseFilter> filter;
        if (FAILED(CoCreateInstance(type.clsid, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(filter.Put()))))
            continue;
        if (FAILED(AddFilter(filter.Get(), type.name))) continue;
        auto input = FindPinByIndex(filter.Get(), PINDIR_INPUT, 1);
        if (input && SUCCEEDED(out->Connect(input.Get(), nullptr))) {
            bool all = true;
            for (auto& pin : PinsOf(filter.Get()))
                if (DirectionOf(pin.Get()) == PINDIR_OUTPUT && FAILED(Render(pin.Get())))
                    all = false;
            if (all) return S_OK;
        }
        RemoveFilter(filter.Get());
    }
    return VFW_E_CANNOT_RENDER;
}

HRESULT FilterGraph::RenderFile(LPCWSTR file, LPCWSTR) {
    ComPtr<IBaseFilter> source;
    HRESULT hr = AddSourceFilter(file, nullptr, source.Put());
    if (FAILED(hr)) return hr;
    for (int n = 1;; ++n) {
        auto pin = FindPinByIndex(source.Get(), PINDIR_OUTPUT, n);
        if (!pin) return S_OK;
        hr = Render(pin.Get());
        if (FAILED(hr)) return hr;
    }
}

HRESULT FilterGraph::Abort() {
    std::lock_guard lock(abortMutex_);
    abortRequested_ = true;
    if (loading_) loading_->AbortOperation();
    return S_OK;
}

HRESULT FilterGraph::ShouldOperationContinue() {
    std::lock_guard lock(abortMutex_);
    return abortRequested_ ? S_FALSE : S_OK;
}

HRESULT FilterGraph::LoadSource(IBaseFilter* source, LPCWSTR file) {
    auto loader = QueryAs<IFileSourceFilter>(source);
    if (!loader) return E_NOINTERFACE;
    {
        std::lock_guard lock(abortMutex_);
        // An abort that came before the load started is the load's; it is used up here.
        if (std::exchange(abortRequested_, false)) return E_ABORT;
        loading_ = QueryAs<IAMOpenProgress>(source);
    }
    HRESULT hr = loader->Load(file, nullptr);
    std::lock_guard lock(abortMutex_);
    loading_ = nullptr;
    if (FAILED(hr) && abortRequested_) {
        abortRequested_ = false;
        hr = E_ABORT;
    }
    return hr;
}

HRESULT FilterGraph::AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter** filter) {
    if (!file || !filter) return E_POINTER;
    *filter = nullptr;
    std::string path = Narrow(file);
    std::vector<uint8_t> head;
    if (!IsUrl(path)) {
        if (HRESULT checked = CheckSourceFile(path); FAILED(checked)) return checked;
        std::ifstream in(path, std::ios::binary);
        if (!in) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        head.resize(4096);
        in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
        head.resize(static_cast<size_t>(in.gcount()));
    }
    HRESULT last = VFW_E_UNKNOWN_FILE_TYPE;
    for (const auto& type : graph::SourceTypes()) {
        if (!type.probe(path, head)) continue;
        ComPtr<IBaseFilter> source;
        HRESULT hr = CoCreateInstance(type.clsid, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_PPV_ARGS(source.Put()));
        if (FAILED(hr)) continue;
        hr = LoadSource(source.Get(), file);
        if (hr == E_ABORT) return hr;
        if (FAILED(hr)) {
            last = hr;
            continue;
        }
        hr = AddFilter(source.Get(), name ? name : file);
        if (FAILED(hr)) return hr;
        *filter = source.Detach();
        return S_OK;
    }
    return last;
}

HRESULT FilterGraph::SetDefaultSyncSource() {
    std::lock_guard lock(mutex_);
    ComPtr<IReferenceClock> chosen;
    for (auto& entry : entries_)
        if ((chosen = QueryAs<IReferenceClock>(entry.filter.Get()))) break;
    if (!chosen) chosen = MakeCom<SystemClock>();
    clock_ = chosen;
    clockChosen_ = true;
    for (auto& entry : entries_) entry.filter->SetSyncSource(clock_.Get());
    return S_OK;
}

std::vector<ComPtr<IBaseFilter>> FilterGraph::DownstreamFirst() {
    auto filters = Filters();
    std::map<IBaseFilter*, int> level;
    std::function<int(IBaseFilter*, int)> levelOf = [&](IBaseFilter* filter, int guard) {
        if (auto it = level.find(filter); it != level.end()) return it->second;
        int result = 0;
        if (guard < 64) {
            for (auto& pin : PinsOf(filter)) {
                if (DirectionOf(pin.Get()) != PINDIR_INPUT) continue;
                if (auto peer = Peer(pin.Get()))
                    if (auto upstream = PinFilter(peer.Get()))
                        result = std::max(result, 1 + levelOf(upstream.Get(), guard + 1));
            }
        }
        level[filter] = result;
        return result;
    };
    for (auto& filter : filters) levelOf(filter.Get(), 0);
    std::stable_sort(filters.begin(), filters.end(), [&](const auto& a, const auto& b) {
        return level[a.Get()] > level[b.Get()];
    });
    return filters;
}

HRESULT FilterGraph::StopFilters() {
    HRESULT result = S_OK;
    for (auto& filter : DownstreamFirst()) {
        HRESULT hr = filter->Stop();
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    return result;
}

HRESULT FilterGraph::Pause() {
    std::lock_guard lock(mutex_);
    if (state_ == State_Paused) return S_OK;
    if (!clockChosen_) SetDefaultSyncSource();
    if (state_ == State_Stopped) {
        {
            std::lock_guard events(eventMutex_);
            renderersRunning_ = 0;
            for (auto& filter : Filters())
                if (IsRendererWithInput(filter.Get())) ++renderersRunning_;
            completesSeen_ = 0;
            abortSeen_ = false;
        }
        pausedAt_ = 0;
        for (auto& filter : DownstreamFirst()) {
            HRESULT hr = filter->Pause();
            if (FAILED(hr)) {
                StopFilters();
                return hr;
            }
        }
    } else {
        REFERENCE_TIME now = 0;
        clock_->GetTime(&now);
        pausedAt_ = now - runStart_;
        for (auto& filter : DownstreamFirst()) filter->Pause();
    }
    state_ = State_Paused;
    return S_OK;
}

HRESULT FilterGraph::Run() {
    std::lock_guard lock(mutex_);
    if (state_ == State_Running) return S_OK;
    if (state_ == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    REFERENCE_TIME now = 0;
    clock_->GetTime(&now);
    runStart_ = now - pausedAt_;
    for (auto& filter : DownstreamFirst()) {
        HRESULT hr = filter->Run(runStart_);
        if (FAILED(hr)) {
            StopFilters();
            state_ = State_Stopped;
            return hr;
        }
    }
    state_ = State_Running;
    return S_OK;
}

HRESULT FilterGraph::Stop() {
    std::lock_guard lock(mutex_);
    HRESULT hr = StopFilters();
    state_ = State_Stopped;
    pausedAt_ = 0;
    return hr;
}

HRESULT FilterGraph::GetState(LONG, OAFilterState* state) {
    if (!state) return E_POINTER;
    std::lock_guard lock(mutex_);
    *state = state_;
    return S_OK;
}

// Events

void FilterGraph::QueueEvent(const Event& event) {
    events_.push_back(event);
    eventArrived_.notify_all();
    if (notifyWindow_ && notifyMessage_)
        PostMessage(notifyWindow_, static_cast<UINT>(notifyMessage_), 0, notifyInstance_);
}

HRESULT FilterGraph::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) {
    std::lock_guard lock(eventMutex_);
    if (code == EC_COMPLETE) {
        // One completion for the whole graph, and none after a failure: a stream that broke
        // must never read as a finished grab.
        if (abortSeen_) return S_OK;
        ++completesSeen_;
        if (completesSeen_ != std::max(renderersRunning_, 1)) return S_OK;
        QueueEvent({EC_COMPLETE, S_OK, 0});
        return S_OK;
    }
    if (code == EC_ERRORABORT) {
        if (abortSeen_) return S_OK;
        abortSeen_ = true;
    }
    QueueEvent({code, param1, param2});
    return S_OK;
}

HRESULT FilterGraph::GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) {
    if (!code || !param1 || !param2) return E_POINTER;
    std::unique_lock lock(eventMutex_);
    auto ready = [&] { return !events_.empty(); };
    if (timeoutMs < 0)
        eventArrived_.wait(lock, ready);
    else
        eventArrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (events_.empty()) {
        *code = 0;
        *param1 = *param2 = 0;
        return E_ABORT;
    }
    Event event = events_.front();
    events_.pop_front();
    *code = event.code;
    *param1 = event.param1;
    *param2 = event.param2;
    return S_OK;
}

HRESULT FilterGraph::WaitForCompletion(LONG timeoutMs, LONG* code) {
    if (!code) return E_POINTER;
    std::unique_lock lock(eventMutex_);
    auto ended = [&] {
        return std::any_of(events_.begin(), events_.end(), [](const Event& e) {
            return e.code == EC_COMPLETE || e.code == EC_ERRORABORT || e.code == EC_USERABORT;
        });
    };
    if (timeoutMs < 0)
        eventArrived_.wait(lock, ended);
    else
        eventArrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended);
    *code = 0;
    for (const auto& event : events_) {
        if (event.code == EC_COMPLETE || event.code == EC_ERRORABORT ||
            event.code == EC_USERABORT) {
            *code = event.code;
            return S_OK;
        }
    }
    return E_ABORT;
}

HRESULT FilterGraph::SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) {
    std::lock_guard lock(eventMutex_);
    notifyWindow_ = reinterpret_cast<HWND>(window);
    notifyMessage_ = message;
    notifyInstance_ = instance;
    // Events queued before registration are announced now.
    if (notifyWindow_ && notifyMessage_)
        for (size_t i = 0; i < events_.size(); ++i)
            PostMessage(notifyWindow_, static_cast<UINT>(notifyMessage_), 0, notifyInstance_);
    return S_OK;
}

HRESULT FilterGraph::SetNotifyFlags(LONG flags) {
    std::lock_guard lock(eventMutex_);
    notifyFlags_ = flags;
    return S_OK;
}

HRESULT FilterGraph::GetNotifyFlags(LONG* flags) {
    if (!flags) return E_POINTER;
    std::lock_guard lock(eventMutex_);
    *flags = notifyFlags_;
    return S_OK;
}

// Position and seeking

void FilterGraph::ResetPositionTracking() {
    REFERENCE_TIME now = 0;
    if (clock_) clock_->GetTime(&now);
    if (state_ == State_Running) runStart_ = now;
    pausedAt_ = 0;
}

REFERENCE_TIME FilterGraph::StreamPosition() {
    bool paced = false;
    REFERENCE_TIME latest = 0;
    for (auto& filter : Filters()) {
        auto sink = QueryAs<ISinkProgress>(filter.Get());
        if (sink && sink->IsPaced() == S_OK && IsRendererWithInput(filter.Get())) paced = true;
        // Only the last filters of each path count: what reached them is in the output.
        if (PassesMediaOn(filter.Get())) continue;
        for (auto& pin : PinsOf(filter.Get())) {
            auto progress = QueryAs<IStreamProgress>(pin.Get());
            REFERENCE_TIME time = 0;
            if (progress && SUCCEEDED(progress->GetLatestTime(&time))) latest = std::max(latest, time);
        }
    }
    if (!paced || !clock_) return latest;
    REFERENCE_TIME clockPosition = 0;
    if (state_ == State_Running) {
        REFERENCE_TIME now = 0;
        clock_->GetTime(&now);
        clockPosition = now - runStart_;
    } else if (state_ == State_Paused) {
        clockPosition = pausedAt_;
    }
    // Never ahead of what has actually arrived (a stalled stream stops the position).
    return std::clamp<REFERENCE_TIME>(clockPosition, 0, latest);
}

HRESULT FilterGraph::get_Duration(REFTIME* length) {
    if (!length) return E_POINTER;
    *length = 0;
    bool found = false;
    LONGLONG longest = 0;
    for (auto& filter : Filters()) {
        auto seeking = QueryAs<IMediaSeeking>(filter.Get());
        LONGLONG duration = 0;
        if (seeking && SUCCEEDED(seeking->GetDuration(&duration))) {
            found = true;
            longest = std::max(longest, duration);
        }
    }
    if (!found) return E_NOTIMPL;
    *length = longest / kUnitsPerSecond;
    return S_OK;
}

HRESULT FilterGraph::put_CurrentPosition(REFTIME time) {
    std::lock_guard lock(mutex_);
    LONGLONG position = static_cast<LONGLONG>(std::max(0.0, time) * kUnitsPerSecond);
    // A running graph pauses for the seek and runs again with stream time 0 at the new
    // position, so paced renderers keep their pace instead of rushing through the samples.
    bool running = state_ == State_Running;
    if (running)
        for (auto& filter : DownstreamFirst()) filter->Pause();
    bool found = false;
    HRESULT result = S_OK;
    for (auto& filter : Filters()) {
        auto seeking = QueryAs<IMediaSeeking>(filter.Get());
        if (!seeking) continue;
        found = true;
        HRESULT hr = seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                           AM_SEEKING_NoPositioning);
        if (FAILED(hr)) result = hr;
    }
    if (found && SUCCEEDED(result)) {
        segmentStart_ = position;
        ResetPositionTracking();
        std::lock_guard events(eventMutex_);
        completesSeen_ = 0;
    }
    if (running)
        for (auto& filter : DownstreamFirst()) filter->Run(runStart_);
    if (!found) return E_NOTIMPL;
    return result;
}

HRESULT FilterGraph::get_CurrentPosition(REFTIME* time) {
    if (!time) return E_POINTER;
    std::lock_guard lock(mutex_);
    REFERENCE_TIME position = segmentStart_ + StreamPosition();
    REFTIME duration = 0;
    *time = position / kUnitsPerSecond;
    if (SUCCEEDED(get_Duration(&duration)) && duration > 0) *time = std::min(*time, duration);
    return S_OK;
}

HRESULT FilterGraph::get_StopTime(REFTIME* time) { return get_Duration(time); }

HRESULT FilterGraph::get_PrerollTime(REFTIME* time) {
    if (!time) return E_POINTER;
    *time = 0;
    return S_OK;
}

HRESULT FilterGraph::put_Rate(double rate) {
    if (rate <= 0) return E_INVALIDARG;
    bool found = false;
    for (auto& filter : Filters()) {
        auto seeking = QueryAs<IMediaSeeking>(filter.Get());
        if (!seeking) continue;
        found = true;
        HRESULT hr = seeking->SetRate(rate);
        if (FAILED(hr)) return hr;
    }
    if (!found) return rate == 1.0 ? S_OK : E_NOTIMPL;
    return S_OK;
}

HRESULT FilterGraph::get_Rate(double* rate) {
    if (!rate) return E_POINTER;
    *rate = 1.0;
    for (auto& filter : Filters())
        if (auto seeking = QueryAs<IMediaSeeking>(filter.Get())) return seeking->GetRate(rate);
    return S_OK;
}

HRESULT FilterGraph::CanSeekForward(LONG* can) {
    if (!can) return E_POINTER;
    *can = 0;
    for (auto& filter : Filters())
        if (QueryAs<IMediaSeeking>(filter.Get())) *can = -1;
    return S_OK;
}

HRESULT FilterGraph::CanSeekBackward(LONG* can) { return CanSeekForward(can); }

// Site

HRESULT FilterGraph::SetSite(IUnknown* site) {
    std::lock_guard lock(mutex_);
    site_ = ComPtr<IUnknown>(site);
    return S_OK;
}

HRESULT FilterGraph::GetSite(REFIID iid, void** site) {
    if (!site) return E_POINTER;
    *site = nullptr;
    std::lock_guard lock(mutex_);
    if (!site_) return E_FAIL;
    return site_->QueryInterface(iid, site);
}

// Video window

template <class I>
ComPtr<I> FilterGraph::FindFilterInterface() {
    for (auto& filter : Filters())
        if (auto found = QueryAs<I>(filter.Get())) return found;
    return {};
}

#define QUIL_FORWARD(Interface, call)                 \
    auto target = FindFilterInterface<Interface>();   \
    if (!target) return E_NOINTERFACE;                \
    return target->call;

HRESULT FilterGraph::put_WindowStyle(LONG style) { QUIL_FORWARD(IVideoWindow, put_WindowStyle(style)) }
HRESULT FilterGraph::get_WindowStyle(LONG* style) { QUIL_FORWARD(IVideoWindow, get_WindowStyle(style)) }
HRESULT FilterGraph::put_WindowStyleEx(LONG style) { QUIL_FORWARD(IVideoWindow, put_WindowStyleEx(style)) }
HRESULT FilterGraph::get_WindowStyleEx(LONG* style) { QUIL_FORWARD(IVideoWindow, get_WindowStyleEx(style)) }
HRESULT FilterGraph::put_AutoShow(LONG autoShow) { QUIL_FORWARD(IVideoWindow, put_AutoShow(autoShow)) }
HRESULT FilterGraph::get_AutoShow(LONG* autoShow) { QUIL_FORWARD(IVideoWindow, get_AutoShow(autoShow)) }
HRESULT FilterGraph::put_WindowState(LONG state) { QUIL_FORWARD(IVideoWindow, put_WindowState(state)) }
HRESULT FilterGraph::get_WindowState(LONG* state) { QUIL_FORWARD(IVideoWindow, get_WindowState(state)) }
HRESULT FilterGraph::put_Visible(LONG visible) { QUIL_FORWARD(IVideoWindow, put_Visible(visible)) }
HRESULT FilterGraph::get_Visible(LONG* visible) { QUIL_FORWARD(IVideoWindow, get_Visible(visible)) }
HRESULT FilterGraph::put_Owner(OAHWND owner) { QUIL_FORWARD(IVideoWindow, put_Owner(owner)) }
HRESULT FilterGraph::get_Owner(OAHWND* owner) { QUIL_FORWARD(IVideoWindow, get_Owner(owner)) }
HRESULT FilterGraph::put_MessageDrain(OAHWND drain) { QUIL_FORWARD(IVideoWindow, put_MessageDrain(drain)) }
HRESULT FilterGraph::get_MessageDrain(OAHWND* drain) { QUIL_FORWARD(IVideoWindow, get_MessageDrain(drain)) }
HRESULT FilterGraph::SetWindowForeground(LONG focus) { QUIL_FORWARD(IVideoWindow, SetWindowForeground(focus)) }
HRESULT FilterGraph::SetWindowPosition(LONG left, LONG top, LONG width, LONG height) {
    QUIL_FORWARD(IVideoWindow, SetWindowPosition(left, top, width, height))
}
HRESULT FilterGraph::GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    QUIL_FORWARD(IVideoWindow, GetWindowPosition(left, top, width, height))
}
HRESULT FilterGraph::get_VideoWidth(LONG* width) { QUIL_FORWARD(IBasicVideo, get_VideoWidth(width)) }
HRESULT FilterGraph::get_VideoHeight(LONG* height) { QUIL_FORWARD(IBasicVideo, get_VideoHeight(height)) }

#undef QUIL_FORWARD

}  // namespace quil
