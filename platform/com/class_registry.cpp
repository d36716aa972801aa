#include "platform/com/class_registry.h"

#include <dlfcn.h>

#include <cstdio>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "platform/registry/registry.h"

void* CoTaskMemAlloc(size_t bytes) { return std::malloc(bytes ? bytes : 1); }
void CoTaskMemFree(void* block) { std::free(block); }

namespace quil {

namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT (*)();

struct LoadedServer {
    std::string path;
    void* handle = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    CanUnloadNowFn canUnloadNow = nullptr;
};

struct ClassTable {
    std::mutex mutex;
    std::unordered_map<GUID, ClassEntry> builtin;
    std::vector<LoadedServer> servers;
};

ClassTable& Table() {
    static ClassTable* table = new ClassTable();  // never destroyed: used until process exit
    return *table;
}

std::string ClassKeyPath(REFCLSID clsid) { return "CLSID\\" + GuidToString(clsid); }

// Finds or loads the server module at path; null when it cannot be loaded. Caller holds the lock.
LoadedServer* LoadServer(ClassTable& table, const std::string& path) {
    for (auto& server : table.servers)
        if (server.path == path) return &server;
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "Quillet: cannot load component %s: %s\n", path.c_str(), dlerror());
        return nullptr;
    }
    LoadedServer server;
    server.path = path;
    server.handle = handle;
    server.getClassObject =
        reinterpret_cast<GetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
    server.canUnloadNow = reinterpret_cast<CanUnloadNowFn>(dlsym(handle, "DllCanUnloadNow"));
    if (!server.getClassObject) {
        dlclose(handle);
        return nullptr;
    }
    table.servers.push_back(server);
    return &table.servers.back();
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
        if (auto it = table.builtin.find(clsid); it != table.builtin.end()) create = it->second.create;
    }
    if (create) return create(iid, out);

    auto server = registry::Key::Open(registry::Root::ClassesRoot,
                                      ClassKeyPath(clsid) + "\\InprocServer32");
    if (!server) return REGDB_E_CLASSNOTREG;
    auto path = server->ReadString("");
    if (!path || path->empty()) return REGDB_E_CLASSNOTREG;

    GetClassObjectFn getClassObject;
    {
        std::lock_guard lock(table.mutex);
        LoadedServer* loaded = LoadServer(table, *path);
        if (!loaded) return CO_E_DLLNOTFOUND;
        getClassObject = loaded->getClassObject;
    }
    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(clsid, IidOf<IClassFactory>(), reinterpret_cast<void**>(factory.Put()));
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, iid, out);
}

void CoFreeUnusedLibraries() {
    auto& table = quil::Table();
    std::lock_guard lock(table.mutex);
    for (auto it = table.servers.begin(); it != table.servers.end();) {
        if (it->canUnloadNow && it->canUnloadNow() == S_OK) {
            dlclose(it->handle);
            it = table.servers.erase(it);
        } else {
            ++it;
        }
    }
}

HRESULT CoInitialize(void*) { return S_OK; }
void CoUninitialize() { CoFreeUnusedLibraries(); }
