// The in-process server entry points of trackpump. The filter lives here; the property page is
// a Qt library next to this module, loaded only when a page is asked for, so a grab never pulls
// Qt into its process.

#include <dlfcn.h>

#include <filesystem>
#include <mutex>
#include <string>

#include "cdsource/cd_interfaces.h"
#include "cdsource/filter/track_source_filter.h"
#include "platform/com/class_registry.h"
#include "platform/graph/interfaces.h"
#include "platform/registry/registry.h"

namespace {

using quil::cdsource::g_moduleLocks;
using quil::registry::Key;
using quil::registry::Root;

constexpr char kPageModuleName[] = "trackpump_page.so";
// The category under which filters are listed with their merit and pins.
constexpr char kFilterCategoryKey[] = "CLSID\\{083863F1-70DE-11D0-BD40-00AA00B33700}\\Instance";
constexpr uint32_t kMeritNormal = 0x600000;

class FilterFactory : public quil::ComImpl<IClassFactory> {
public:
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return quil::cdsource::CreateCdTrackSourceFilter(iid, out);
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
    return std::filesystem::absolute(info.dli_fname).string();
}

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);

// The page module stays loaded once used: Qt cannot be unloaded safely.
GetClassObjectFn PageClassObject() {
    static std::mutex mutex;
    static GetClassObjectFn entry = nullptr;
    std::lock_guard lock(mutex);
    if (entry) return entry;
    std::string path =
        (std::filesystem::path(ModulePath()).parent_path() / kPageModuleName).string();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    entry = reinterpret_cast<GetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
    return entry;
}

HRESULT RegisterFilterWithMapper() {
    std::string clsid = quil::GuidToString(CLSID_CdTrackSource);
    auto filter = Key::Create(Root::ClassesRoot, std::string(kFilterCategoryKey) + "\\" + clsid);
    if (!filter || !filter->WriteString("CLSID", clsid) ||
        !filter->WriteString("FriendlyName", kCdTrackSourceName) ||
        !filter->WriteDword("Merit", kMeritNormal))
        return SELFREG_E_CLASS;
    auto pin = filter->CreateSubKey("Pins\\Wave Stream");
    if (!pin || !pin->WriteDword("Direction", PINDIR_OUTPUT) || !pin->WriteDword("IsRendered", 0) ||
        !pin->WriteDword("AllowedZero", 0) || !pin->WriteDword("AllowedMany", 0))
        return SELFREG_E_CLASS;
    auto type = pin->CreateSubKey("Types\\" + quil::GuidToString(MEDIATYPE_Audio) + "\\" +
                                  quil::GuidToString(MEDIASUBTYPE_NULL));
    return type ? S_OK : SELFREG_E_CLASS;
}

HRESULT UnregisterFilterFromMapper() {
    if (auto category = Key::Open(Root::ClassesRoot, kFilterCategoryKey))
        category->DeleteSubKey(quil::GuidToString(CLSID_CdTrackSource));
    return S_OK;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                                 void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (clsid == CLSID_CdTrackSource) return quil::CreateObject<FilterFactory>(iid, out);
    if (clsid == CLSID_CdTrackSourcePropertyPage) {
        GetClassObjectFn page = PageClassObject();
        return page ? page(clsid, iid, out) : CLASS_E_CLASSNOTAVAILABLE;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return g_moduleLocks == 0 ? S_OK : S_FALSE;
}

__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
    std::string path = ModulePath();
    if (path.empty()) return E_UNEXPECTED;
    HRESULT hr = quil::RegisterInprocServer(CLSID_CdTrackSource, kCdTrackSourceName, path, "Both");
    if (FAILED(hr)) return hr;
    hr = quil::RegisterInprocServer(CLSID_CdTrackSourcePropertyPage, kCdTrackSourcePageName, path,
                                    "Both");
    if (FAILED(hr)) return hr;
    return RegisterFilterWithMapper();
}

__attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
    HRESULT hr = quil::UnregisterInprocServer(CLSID_CdTrackSource);
    if (FAILED(hr)) return hr;
    hr = quil::UnregisterInprocServer(CLSID_CdTrackSourcePropertyPage);
    if (FAILED(hr)) return hr;
    return UnregisterFilterFromMapper();
}

}  // extern "C"
