#pragma once

#include <atomic>

#include "platform/graph/interfaces.h"

namespace quil::engine {

// The site the graph is given for the Windows Media writer. It lives inside its grabber and has
// a reference count of its own that starts at 0; reaching 0 again frees nothing. No certificate
// is needed here, so it offers no services.
class KeyProviderSite final : public IServiceProvider {
public:
    HRESULT QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IUnknown::kIid || iid == IServiceProvider::kIid) {
            *out = static_cast<IServiceProvider*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override { return --refs_; }
    HRESULT QueryService(REFGUID, REFIID, void** out) override {
        if (out) *out = nullptr;
        return E_NOINTERFACE;
    }

private:
    std::atomic<ULONG> refs_{0};
};

}  // namespace quil::engine
