#include "platform/graph/capture_graph_builder.h"

#include <vector>

#include "platform/graph/base_filter.h"

namespace quil {

namespace {

bool PinMatches(IPin* pin, PIN_DIRECTION direction, const GUID* category, const GUID* type,
                bool unconnected) {
    PIN_DIRECTION d;
    if (FAILED(pin->QueryDirection(&d)) || d != direction) return false;
    if (unconnected) {
        ComPtr<IPin> peer;
        if (SUCCEEDED(pin->ConnectedTo(peer.Put()))) return false;
    }
    if (category && *category != GUID_NULL) {
        auto info = QueryAs<IPinCategory>(pin);
        GUID actual = GUID_NULL;
        if (!info || FAILED(info->GetCategory(&actual)) || actual != *category) return false;
    }
    if (type && *type != GUID_NULL) {
        ComPtr<IEnumMediaTypes> types;
        if (FAILED(pin->EnumMediaTypes(types.Put()))) return false;
        AM_MEDIA_TYPE* mt = nullptr;
        ULONG fetched = 0;
        bool found = false;
        while (!found && types->Next(1, &mt, &fetched) == S_OK && fetched == 1) {
            found = mt->majortype == *type;
            DeleteMediaType(mt);
        }
        if (!found) return false;
    }
    return true;
}

}  // namespace

HRESULT CaptureGraphBuilder::SetFiltergraph(IGraphBuilder* graph) {
    if (!graph) return E_POINTER;
    if (graph_) return E_UNEXPECTED;
    graph_ = ComPtr<IGraphBuilder>(graph);
    return S_OK;
}

HRESULT CaptureGraphBuilder::GetFiltergraph(IGraphBuilder** graph) {
    if (!graph) return E_POINTER;
    *graph = graph_.Get();
    if (!*graph) return E_UNEXPECTED;
    (*graph)->AddRef();
    return S_OK;
}

HRESULT CaptureGraphBuilder::FindPin(IUnknown* source, PIN_DIRECTION direction,
                                     const GUID* category, const GUID* type, BOOL unconnected,
                                     int index, IPin** pin) {
    if (!source || !pin) return E_POINTER;
    *pin = nullptr;
    auto filter = QueryAs<IBaseFilter>(source);
    if (!filter) return E_NOINTERFACE;
    int seen = 0;
    for (int n = 1;; ++n) {
        auto candidate = FindPinByIndex(filter.Get(), direction, n);
        if (!candidate) break;
        if (PinMatches(candidate.Get(), direction, category, type, unconnected != 0) &&
            seen++ == index) {
            *pin = candidate.Detach();
            return S_OK;
        }
    }
    return E_FAIL;
}

HRESULT CaptureGraphBuilder::FindInterface(const GUID* category, const GUID* type,
                                           IBaseFilter* filter, REFIID iid, void** out) {
    if (!filter || !out) return E_POINTER;
    *out = nullptr;
    if (category && *category != LOOK_UPSTREAM_ONLY && *category != LOOK_DOWNSTREAM_ONLY) {
        ComPtr<IPin> pin;
        if (SUCCEEDED(FindPin(filter, PINDIR_OUTPUT, category, type, FALSE, 0, pin.Put())))
            return pin->QueryInterface(iid, out);
        return E_NOINTERFACE;
    }
    if (SUCCEEDED(filter->QueryInterface(iid, out))) return S_OK;
    for (int n = 1;; ++n) {
        auto pin = FindPinByIndex(filter, PINDIR_OUTPUT, n);
        if (!pin) break;
        if (SUCCEEDED(pin->QueryInterface(iid, out))) return S_OK;
    }
    return E_NOINTERFACE;
}

}  // namespace quil
