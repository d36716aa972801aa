#include "platform/audio/device_enum.h"

#include <algorithm>
#include <cwchar>
#include <mutex>
#include <vector>

#include "platform/audio/capture_filter.h"
#include "platform/audio/recording_devices.h"
#include "platform/com/class_registry.h"
#include "platform/com/strings.h"

namespace quil::audio {

namespace {

class DevicePropertyBag final : public ComImpl<IPropertyBag> {
public:
    explicit DevicePropertyBag(const RecordingDevice& device) : device_(device) {}

    HRESULT Read(LPCWSTR name, VARIANT* value, IUnknown*) override {
        if (!name || !value) return E_POINTER;
        std::wstring text;
        if (std::wcscmp(name, L"FriendlyName") == 0)
            text = Widen(device_.name);
        else if (std::wcscmp(name, L"DevicePath") == 0)
            text = Widen(device_.sourceName);
        else
            return E_INVALIDARG;
        if (value->vt != VT_EMPTY && value->vt != VT_BSTR) return E_INVALIDARG;
        VariantClear(value);
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString(text.c_str());
        return value->bstrVal ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT Write(LPCWSTR, VARIANT*) override { return E_ACCESSDENIED; }

private:
    RecordingDevice device_;
};

class DeviceMoniker final : public ComImpl<IMoniker> {
public:
    explicit DeviceMoniker(RecordingDevice device) : device_(std::move(device)) {}

    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        // The device as it is now: its lines may have changed since the listing.
        auto current = FindRecordingSource(device_.sourceName);
        if (!current) return VFW_E_NO_AUDIO_HARDWARE;
        current->name = device_.name;
        return CreateCaptureFilter(*current, iid, out);
    }
    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return MakeCom<DevicePropertyBag>(device_)->QueryInterface(iid, out);
    }
    HRESULT GetDisplayName(IBindCtx*, IMoniker*, LPWSTR* name) override {
        if (!name) return E_POINTER;
        std::wstring text = L"@device:pulse:" + Widen(device_.sourceName);
        *name = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
        if (!*name) return E_OUTOFMEMORY;
        std::wmemcpy(*name, text.c_str(), text.size() + 1);
        return S_OK;
    }

private:
    RecordingDevice device_;
};

class MonikerList final : public ComImpl<IEnumMoniker> {
public:
    MonikerList(std::vector<RecordingDevice> devices, size_t position = 0)
        : devices_(std::move(devices)), position_(position) {}

    HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) override {
        if (!monikers || (count > 1 && !fetched)) return E_POINTER;
        ULONG given = 0;
        for (; given < count && position_ < devices_.size(); ++given, ++position_)
            monikers[given] = MakeCom<DeviceMoniker>(devices_[position_]).Detach();
        if (fetched) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        size_t left = devices_.size() - position_;
        position_ += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumMoniker** copy) override {
        if (!copy) return E_POINTER;
        *copy = MakeCom<MonikerList>(devices_, position_).Detach();
        return S_OK;
    }

private:
    std::vector<RecordingDevice> devices_;
    size_t position_;
};

class SystemDeviceEnum final : public ComImpl<ICreateDevEnum> {
public:
    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** monikers, DWORD) override {
        if (!monikers) return E_POINTER;
        *monikers = nullptr;
        if (category != CLSID_AudioInputDeviceCategory) return S_FALSE;
        auto devices = RecordingDevices();
        if (devices.empty()) return S_FALSE;
        *monikers = MakeCom<MonikerList>(std::move(devices)).Detach();
        return S_OK;
    }
};

}  // namespace

void RegisterAudioClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        static const ClassEntry classes[] = {
            {CLSID_SystemDeviceEnum, "System Device Enumerator", &CreateObject<SystemDeviceEnum>},
        };
        RegisterBuiltinClasses(classes);
    });
}

}  // namespace quil::audio
