#pragma once

// The system device enumerator and its monikers: how the program finds the audio capture
// devices. Each device of the audio input category is one recording device of the sound server
// (see recording_devices.h); binding its moniker gives the device's capture filter.

#include "platform/graph/interfaces.h"

struct IBindCtx;

constexpr CLSID CLSID_SystemDeviceEnum = quil::Guid("{62BE5D10-60EB-11D0-BD3B-00A0C911CE86}");
constexpr CLSID CLSID_AudioInputDeviceCategory =
    quil::Guid("{33D9A762-90C8-11D0-BD43-00A0C911CE86}");

// Only the binding and naming methods of a moniker.
struct IMoniker : IUnknown {
    static constexpr GUID kIid = quil::Guid("{0000000F-0000-0000-C000-000000000046}");
    using Base = IUnknown;
    virtual HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID iid, void** out) = 0;
    // IPropertyBag with "FriendlyName" (VT_BSTR) and "DevicePath" (the server's source name).
    virtual HRESULT BindToStorage(IBindCtx* context, IMoniker* left, REFIID iid, void** out) = 0;
    // The name is allocated with CoTaskMemAlloc.
    virtual HRESULT GetDisplayName(IBindCtx* context, IMoniker* left, LPWSTR* name) = 0;

protected:
    ~IMoniker() = default;
};

struct IEnumMoniker : IUnknown {
    static constexpr GUID kIid = quil::Guid("{00000102-0000-0000-C000-000000000046}");
    using Base = IUnknown;
    virtual HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMoniker** copy) = 0;

protected:
    ~IEnumMoniker() = default;
};

struct ICreateDevEnum : IUnknown {
    static constexpr GUID kIid = quil::Guid("{29840822-5B84-11D0-BD3B-00A0C911CE86}");
    using Base = IUnknown;
    // S_FALSE and no enumerator when the category is empty.
    virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** monikers,
                                          DWORD flags) = 0;

protected:
    ~ICreateDevEnum() = default;
};

namespace quil::audio {

// Registers the system device enumerator with the class registry; safe to call more than once.
void RegisterAudioClasses();

}  // namespace quil::audio
