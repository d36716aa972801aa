// A small in-process server with one class, exporting the four entry points as a real plug-in.

#include <dlfcn.h>

#include <atomic>
#include <new>

#include "platform/com/class_registry.h"
#include "platform/com/tests/test_plugin.h"

namespace {

std::atomic<long> g_moduleLocks{0};
std::atomic<long> g_liveObjects{0};

class Counter : public quil::ComImpl<INamedCounter, IResettable> {
public:
    Counter() { ++g_liveObjects; }
    ~Counter() override { --g_liveObjects; }

    HRESULT Increment(LONG* value) override {
        if (!value) return E_POINTER;
        *value = ++count_;
        return S_OK;
    }
    HRESULT Name(const char** name) override {
        if (!name) return E_POINTER;
        *name = kTestPluginClassName;
        return S_OK;
    }
    HRESULT Reset() override {
        count_ = 0;
        return S_OK;
    }

private:
    quil::ModuleLock lock_{g_moduleLocks};
    LONG count_ = 0;
};

class Factory : public quil::ComImpl<IClassFactory> {
public:
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return quil::CreateObject<Counter>(iid, out);
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock) {
            ++g_moduleLocks;
        } else {
            --g_moduleLocks;
        }
        return S_OK;
    }

private:
    quil::ModuleLock lock_{g_moduleLocks};
};

std::string ModulePath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&ModulePath), &info) || !info.dli_fname) return {};
    return info.dli_fname;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                                 void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!(clsid == CLSID_TestPluginCounter)) return CLASS_E_CLASSNOTAVAILABLE;
    return quil::CreateObject<Factory>(iid, out);
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return g_moduleLocks == 0 ? S_OK : S_FALSE;
}

__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
    return quil::RegisterInprocServer(CLSID_TestPluginCounter, kTestPluginClassName, ModulePath(),
                                      "Both");
}

__attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
    return quil::UnregisterInprocServer(CLSID_TestPluginCounter);
}

__attribute__((visibility("default"))) long TestPluginLiveObjects() {
    return g_liveObjects;
}

}  // extern "C"
