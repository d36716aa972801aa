#pragma once

// Helpers for tests that build graphs from the stock filters.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/com/strings.h"
#include "platform/filters/stock_filters.h"
#include "platform/graph/base_filter.h"
#include "platform/graph/interfaces.h"

#define EXPECT_FAILED_HR(expr) EXPECT_TRUE(FAILED(expr))

namespace quil::test {

inline ComPtr<IGraphBuilder> NewGraph() {
    filters::RegisterStockFilters();
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(graph.Put())),
              S_OK);
    return graph;
}

inline ComPtr<IBaseFilter> AddFilter(IGraphBuilder* graph, const CLSID& clsid,
                                     const wchar_t* name) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(filter.Put())),
              S_OK);
    if (filter) { EXPECT_TRUE(SUCCEEDED(graph->AddFilter(filter.Get(), name))); }
    return filter;
}

inline ComPtr<IBaseFilter> AddSource(IGraphBuilder* graph, const std::string& path) {
    ComPtr<IBaseFilter> source;
    EXPECT_EQ(graph->AddSourceFilter(Widen(path).c_str(), nullptr, source.Put()), S_OK);
    return source;
}

inline ComPtr<IBaseFilter> AddFileWriter(IGraphBuilder* graph, const CLSID& clsid,
                                         const wchar_t* name, const std::string& path) {
    auto filter = AddFilter(graph, clsid, name);
    auto sink = QueryAs<IFileSinkFilter2>(filter.Get());
    if (sink) sink->SetMode(AM_FILE_OVERWRITE);
    auto plain = QueryAs<IFileSinkFilter>(filter.Get());
    EXPECT_TRUE(plain);
    if (plain) { EXPECT_EQ(plain->SetFileName(Widen(path).c_str(), nullptr), S_OK); }
    return filter;
}

inline HRESULT ConnectPins(IGraphBuilder* graph, IBaseFilter* from, IBaseFilter* to,
                           int outIndex = 1, int inIndex = 1) {
    auto out = FindPinByIndex(from, PINDIR_OUTPUT, outIndex);
    auto in = FindPinByIndex(to, PINDIR_INPUT, inIndex);
    if (!out || !in) return VFW_E_NOT_FOUND;
    return graph->Connect(out.Get(), in.Get());
}

struct Ending {
    LONG code = 0;
    LONG_PTR param1 = 0;
};

// Waits for the first completion or error event.
inline Ending WaitForEnd(IGraphBuilder* graph, int timeoutMs = 30000) {
    auto events = QueryAs<IMediaEventEx>(graph);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        LONG code;
        LONG_PTR p1, p2;
        if (events->GetEvent(&code, &p1, &p2, 100) == S_OK &&
            (code == EC_COMPLETE || code == EC_ERRORABORT))
            return {code, p1};
    }
    return {};
}

inline std::vector<std::wstring> FilterNames(IGraphBuilder* graph) {
    std::vector<std::wstring> names;
    ComPtr<IEnumFilters> list;
    graph->EnumFilters(list.Put());
    IBaseFilter* filter = nullptr;
    ULONG fetched = 0;
    while (list->Next(1, &filter, &fetched) == S_OK && fetched == 1) {
        names.push_back(FilterName(filter));
        filter->Release();
    }
    return names;
}

}  // namespace quil::test
