#pragma once

// Interfaces of the test in-process server (test_plugin.cpp) and of the tests' built-in classes.

#include "platform/com/unknown.h"

struct ICounter : IUnknown {
    static constexpr GUID kIid = quil::Guid("{6C1E0B61-2F0A-4C39-9E51-3A8E1D1F0001}");
    using Base = IUnknown;
    virtual HRESULT Increment(LONG* value) = 0;

protected:
    ~ICounter() = default;
};

struct INamedCounter : ICounter {
    static constexpr GUID kIid = quil::Guid("{6C1E0B61-2F0A-4C39-9E51-3A8E1D1F0002}");
    using Base = ICounter;
    virtual HRESULT Name(const char** name) = 0;

protected:
    ~INamedCounter() = default;
};

struct IResettable : IUnknown {
    static constexpr GUID kIid = quil::Guid("{6C1E0B61-2F0A-4C39-9E51-3A8E1D1F0003}");
    using Base = IUnknown;
    virtual HRESULT Reset() = 0;

protected:
    ~IResettable() = default;
};

inline constexpr CLSID CLSID_TestPluginCounter =
    quil::Guid("{6C1E0B61-2F0A-4C39-9E51-3A8E1D1F1001}");
inline constexpr const char* kTestPluginClassName = "Test Plug-in Counter";
