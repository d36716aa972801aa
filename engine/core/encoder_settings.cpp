#include "engine/core/encoder_settings.h"

#include <cstring>
#include <vector>

#include "platform/com/strings.h"
#include "platform/filters/encoder_interfaces.h"

namespace quil::engine {

bool ApplyMp3Settings(IBaseFilter* encoder, const Mp3EncoderOptions& options) {
    auto settings = QueryAs<IMp3EncoderSettings>(encoder);
    if (!settings) return false;
    // Slot order 6, 28, 24, 26, 4, 20, 14, 22.
    settings->put_Bitrate(static_cast<DWORD>(options.bitRate));
    settings->put_Copyright(static_cast<DWORD>(options.copyright));
    settings->put_Crc(static_cast<DWORD>(options.crc));
    settings->put_Original(static_cast<DWORD>(options.original));
    settings->put_PrivateBit(static_cast<DWORD>(options.privateBit));
    settings->put_SampleRate(static_cast<DWORD>(options.sampleRate));
    settings->put_Quality(static_cast<DWORD>(options.quality));
    settings->put_ChannelMode(static_cast<DWORD>(options.channelMode));
    return true;
}

void WriteOggQuality(IBaseFilter* encoder, float quality) {
    auto bag = QueryAs<IPropertyBag>(encoder);
    if (!bag) return;
    VARIANT value;
    VariantInit(&value);
    // The float's bits go into the 32-bit value field; the type tag stays empty.
    std::memcpy(&value.lVal, &quality, sizeof quality);
    bag->Write(L"Quality", &value);
}

std::string ProfileText(IWMProfile* profile, bool description) {
    DWORD length = 0;
    HRESULT hr = description ? profile->GetDescription(nullptr, &length)
                             : profile->GetName(nullptr, &length);
    if (FAILED(hr) || length == 0) return {};
    std::vector<WCHAR> text(length + 1, 0);
    hr = description ? profile->GetDescription(text.data(), &length)
                     : profile->GetName(text.data(), &length);
    if (FAILED(hr)) return {};
    return Narrow(text.data());
}

ComPtr<IWMProfile> FindSystemProfile(IWMProfileManager* manager, DWORD version, const char* name) {
    auto manager2 = QueryAs<IWMProfileManager2>(manager);
    if (!manager2 || !name) return {};
    manager2->SetSystemProfileVersion(version);
    WMT_VERSION actual = 0;
    if (FAILED(manager2->GetSystemProfileVersion(&actual)) || actual != version) return {};
    DWORD count = 0;
    if (FAILED(manager->GetSystemProfileCount(&count))) return {};
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IWMProfile> profile;
        if (FAILED(manager->LoadSystemProfile(i, profile.Put()))) continue;
        // Exactly, with case.
        if (ProfileText(profile.Get(), false) == name) return profile;
    }
    return {};
}

bool ConfigureAsfWriter(IBaseFilter* writer, IWMProfile* profile) {
    auto config = QueryAs<IConfigAsfWriter>(writer);
    if (!config || FAILED(config->ConfigureFilterUsingProfile(profile))) return false;
    config->SetIndexMode(TRUE);
    return true;
}

}  // namespace quil::engine
