#include "platform/com/class_registry.h"

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "platform/registry/registry.h"

void* CoTaskMemAlloc(size_t bytes) {
    return std::malloc(bytes ? bytes : 1);
}
void CoTaskMemFree(void* block) {
    std::free(block);
}

namespace quil {

namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT (*)();

struct LoadedServer {
    std::string path;
    void* handle = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    CanUnloadNowFn canUnloadNow = nullptr;
    // Creations running outside the lock; the module must stay loaded until they return, as
    // DllCanUnloadNow cannot yet count the object being made.
    int creating = 0;
};

struct ClassTable {
    std::mutex mutex;
    std::unordered_map<GUID, ClassEntry> builtin;
    std::vector<std::unique_ptr<LoadedServer>> servers;
};

ClassTable& Table() {
    static ClassTable* table = new ClassTable();  // never destroyed: used until process exit
    return *table;
}

std::string ClassKeyPath(REFCLSID clsid) {
    return "CLSID\\" + GuidToString(clsid);
}

// Finds or loads the server module at path. Caller holds the lock.
HRESULT LoadServer(ClassTable& table, const std::string& path, LoadedServer** out) {
    for (auto& server : table.servers) {
        if (server->path == path) {
            *out = server.get();
            return S_OK;
        }
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "Quillet: cannot load component %s: %s\n", path.c_str(), dlerror());
        return CO_E_DLLNOTFOUND;
    }
    auto server = std::make_unique<LoadedServer>();
    server->path = path;
    server->handle = handle;
    server->getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
    server->canUnloadNow = reinterpret_cast<CanUnloadNowFn>(dlsym(handle, "DllCanUnloadNow"));
    if (!server->getClassObject) {
        std::fprintf(stderr, "Quillet: component %s has no DllGetClassObject\n", path.c_str());
        dlclose(handle);
        return CO_E_ERRORINDLL;
    }
    *out = server.get();
    table.servers.push_back(std::move(server));
    return S_OK;
}

}  // namespace

void RegisterBuiltinClasses(std::span<const ClassEntry> classes) {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    for (const auto& entry : classes) table.builtin.emplace(entry.clsid, entry);
}

bool IsBuiltinClass(REFCLSID clsid) {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    return table.builtin.count(clsid) != 0;
}

HRESULT RegisterInprocServer(REFCLSID clsid, const std::string& className,
                             const std::string& modulePath, const std::string& threadingModel) {
    auto key = registry::Key::Create(registry::Root::ClassesRoot, ClassKeyPath(clsid));
    if (!key || !key->WriteString("", className)) return SELFREG_E_CLASS;
    auto server = key->CreateSubKey("InprocServer32");
    if (!server || !server->WriteString("", modulePath) ||
        !server->WriteString("ThreadingModel", threadingModel))
        return SELFREG_E_CLASS;
    return S_OK;
}

HRESULT UnregisterInprocServer(REFCLSID clsid) {
    auto root = registry::Key::Open(registry::Root::ClassesRoot, "CLSID");
    if (!root) return S_OK;
    root->DeleteSubKey(GuidToString(clsid));
    return S_OK;
}

int LoadedServerCount() {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    return static_cast<int>(table.servers.size());
}

HRESULT EnsureInprocServerRegistered(REFCLSID clsid, const std::string& modulePath,
                                     std::string* why) {
    auto server =
        registry::Key::Open(registry::Root::ClassesRoot, ClassKeyPath(clsid) + "\\InprocServer32");
    auto path = server ? server->ReadString("") : std::nullopt;
    std::error_code error;
    // A program uses the plug-in it came with: one that another build or an older install
    // registered may not match its libraries. Another module only stands in for a missing one.
    if (path && std::filesystem::exists(*path, error) &&
        (std::filesystem::equivalent(*path, modulePath, error) ||
         !std::filesystem::exists(modulePath, error)))
        return S_OK;
    void* handle = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (why) *why = modulePath + " cannot be loaded: " + dlerror();
        return E_FAIL;
    }
    auto entry = reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllRegisterServer"));
    const HRESULT hr = entry ? entry() : E_FAIL;
    dlclose(handle);
    if (FAILED(hr) && why) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
        *why = modulePath + " cannot be registered (" + code + ")";
    }
    return hr;
}

}  // namespace quil

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, UINT, REFIID iid, void** out) {
    using namespace quil;
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto& table = Table();
    ClassCreateFn create = nullptr;
    {
        std::lock_guard lock(table.mutex);
        if (auto it = table.builtin.find(clsid); it != table.builtin.end())
            create = it->second.create;
    }
    if (create) return create(iid, out);

    auto server =
        registry::Key::Open(registry::Root::ClassesRoot, ClassKeyPath(clsid) + "\\InprocServer32");
    if (!server) return REGDB_E_CLASSNOTREG;
    auto path = server->ReadString("");
    if (!path || path->empty()) return REGDB_E_CLASSNOTREG;

    LoadedServer* loaded = nullptr;
    {
        std::lock_guard lock(table.mutex);
        HRESULT hr = LoadServer(table, *path, &loaded);
        if (FAILED(hr)) return hr;
        ++loaded->creating;
    }
    HRESULT hr;
    {
        ComPtr<IClassFactory> factory;
        hr = loaded->getClassObject(clsid, IidOf<IClassFactory>(),
                                    reinterpret_cast<void**>(factory.Put()));
        if (SUCCEEDED(hr) && !factory) hr = E_UNEXPECTED;
        if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, iid, out);
    }
    std::lock_guard lock(table.mutex);
    --loaded->creating;
    return hr;
}

void CoFreeUnusedLibraries() {
    auto& table = quil::Table();
    std::lock_guard lock(table.mutex);
    for (auto it = table.servers.begin(); it != table.servers.end();) {
        quil::LoadedServer& server = **it;
        if (server.creating == 0 && server.canUnloadNow && server.canUnloadNow() == S_OK) {
            dlclose(server.handle);
            it = table.servers.erase(it);
        } else {
            ++it;
        }
    }
}

HRESULT CoInitialize(void*) {
    return S_OK;
}
void CoUninitialize() {
    CoFreeUnusedLibraries();
}
