#pragma once

// The profile listing of a grabber, done as the grabbers do it over the Windows Media profile
// manager; counts the calls so tests can check the two-call protocol.

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/grabber_types.h"
#include "platform/com/strings.h"
#include "platform/wmf/profile_manager.h"

namespace quil::settings::test {

inline std::string Text(IWMProfile* profile, bool description) {
    DWORD length = 0;
    if (description ? FAILED(profile->GetDescription(nullptr, &length))
                    : FAILED(profile->GetName(nullptr, &length)))
        return {};
    std::vector<WCHAR> text(length + 1, 0);
    if (description) {
        profile->GetDescription(text.data(), &length);
    } else {
        profile->GetName(text.data(), &length);
    }
    return Narrow(text.data());
}

inline DWORD SystemVersion(int version) {
    switch (version) {
        case 4:
            return WMT_VER_4_0;
        case 8:
            return WMT_VER_8_0;
        case 9:
            return WMT_VER_9_0;
        default:
            return WMT_VER_7_0;
    }
}

class ProfileManagerGrabber {
public:
    ProfileManagerGrabber() { WMCreateProfileManager(manager_.Put()); }

    int GetProfileCount(int version, int* count) {
        auto manager2 = QueryAs<IWMProfileManager2>(manager_.Get());
        if (!manager2 || !count) return 0;
        manager2->SetSystemProfileVersion(SystemVersion(version));
        DWORD profiles = 0;
        if (FAILED(manager_->GetSystemProfileCount(&profiles))) return 0;
        *count = static_cast<int>(profiles);
        return 1;
    }

    int GetProfileInfo(int version, int index, engine::WmaProfileInfo* info) {
        auto manager2 = QueryAs<IWMProfileManager2>(manager_.Get());
        if (!manager2 || !info) return 0;
        (info->name ? filledCalls : sizingCalls)++;
        manager2->SetSystemProfileVersion(SystemVersion(version));
        ComPtr<IWMProfile> profile;
        if (FAILED(manager_->LoadSystemProfile(static_cast<DWORD>(index), profile.Put()))) return 0;
        DWORD streams = 0;
        profile->GetStreamCount(&streams);
        GUID type = GUID_NULL;
        ComPtr<IWMStreamConfig> stream;
        if (streams == 1 && SUCCEEDED(profile->GetStream(0, stream.Put())))
            stream->GetStreamType(&type);
        if (streams != 1 || type != WMMEDIATYPE_Audio) {
            info->audioOnly = 0;
            return 1;
        }
        std::string name = Text(profile.Get(), false), description = Text(profile.Get(), true);
        info->audioOnly = 1;
        info->nameLength = static_cast<int32_t>(name.size());
        info->descriptionLength = static_cast<int32_t>(description.size());
        if (info->name) std::memcpy(info->name, name.c_str(), name.size() + 1);
        if (info->description)
            std::memcpy(info->description, description.c_str(), description.size() + 1);
        return 1;
    }

    int sizingCalls = 0;
    int filledCalls = 0;

private:
    ComPtr<IWMProfileManager> manager_;
};

}  // namespace quil::settings::test
