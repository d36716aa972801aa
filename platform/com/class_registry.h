#pragma once

// Creating objects by class identifier. Classes come from two places: tables of classes built
// into the process (platform layers register theirs), and in-process servers: shared objects
// registered under HKEY_CLASSES_ROOT "CLSID\{...}\InprocServer32" and loaded with dlopen.

#include <new>
#include <span>
#include <string>

#include "platform/com/unknown.h"

using ClassCreateFn = HRESULT (*)(REFIID iid, void** out);

struct ClassEntry {
    CLSID clsid;
    const char* name;
    ClassCreateFn create;
};

// Every object created through CoCreateInstance comes back with one reference owned by the caller.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, UINT context, REFIID iid, void** out);

// Unloads in-process servers whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

HRESULT CoInitialize(void* reserved);
void CoUninitialize();

namespace quil {

// Adds built-in classes; a class id registered twice keeps its first entry.
void RegisterBuiltinClasses(std::span<const ClassEntry> classes);
bool IsBuiltinClass(REFCLSID clsid);

// Creates a ClassCreateFn for a default-constructible object T.
template <class T>
HRESULT CreateObject(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    T* object = new (std::nothrow) T();
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->NonDelegatingQueryInterface(iid, out);
    object->NonDelegatingRelease();
    return hr;
}

// Registration helpers for in-process servers (what DllRegisterServer writes and removes).
HRESULT RegisterInprocServer(REFCLSID clsid, const std::string& className,
                             const std::string& modulePath, const std::string& threadingModel);
HRESULT UnregisterInprocServer(REFCLSID clsid);
// Registers the module at modulePath (through its DllRegisterServer) unless the class is
// registered to it already, or modulePath is missing and the class is registered to a module
// that exists. On failure *why says what went wrong.
HRESULT EnsureInprocServerRegistered(REFCLSID clsid, const std::string& modulePath,
                                     std::string* why);

// Number of in-process server modules currently loaded (for tests).
int LoadedServerCount();

// Counts the live objects and server locks of one module, for its DllCanUnloadNow.
class ModuleLock {
public:
    explicit ModuleLock(std::atomic<long>& count) : count_(count) { ++count_; }
    ~ModuleLock() { --count_; }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;

private:
    std::atomic<long>& count_;
};

}  // namespace quil
