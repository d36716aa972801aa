#include <cwchar>
#include <mutex>

#include "platform/com/class_registry.h"
#include "platform/graph/capture_graph_builder.h"
#include "platform/graph/filter_graph.h"
#include "platform/graph/graph_registry.h"

void VariantInit(VARIANT* value) {
    if (value) *value = VARIANT{};
}

void VariantClear(VARIANT* value) {
    if (!value) return;
    if (value->vt == VT_BSTR) SysFreeString(value->bstrVal);
    *value = VARIANT{};
}

wchar_t* SysAllocString(const wchar_t* text) {
    if (!text) return nullptr;
    size_t length = std::wcslen(text) + 1;
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(length * sizeof(wchar_t)));
    if (copy) std::wmemcpy(copy, text, length);
    return copy;
}

void SysFreeString(wchar_t* text) { CoTaskMemFree(text); }

namespace quil::graph {

void RegisterGraphClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        static const ClassEntry classes[] = {
            {CLSID_FilterGraph, "Filter Graph", &CreateObject<FilterGraph>},
            {CLSID_CaptureGraphBuilder2, "Capture Graph Builder 2",
             &CreateObject<CaptureGraphBuilder>},
        };
        RegisterBuiltinClasses(classes);
    });
}

}  // namespace quil::graph
