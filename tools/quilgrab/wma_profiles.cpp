#include "tools/quilgrab/wma_profiles.h"

#include "platform/com/strings.h"
#include "platform/wmf/profile_manager.h"

namespace quil::grab {

std::vector<std::pair<std::string, std::string>> AudioProfiles(int version) {
    std::vector<std::pair<std::string, std::string>> list;
    ComPtr<IWMProfileManager> manager;
    if (FAILED(WMCreateProfileManager(manager.Put()))) return list;
    auto manager2 = QueryAs<IWMProfileManager2>(manager.Get());
    WMT_VERSION wanted = version == 4   ? WMT_VER_4_0
                         : version == 8 ? WMT_VER_8_0
                         : version == 9 ? WMT_VER_9_0
                                        : WMT_VER_7_0;
    if (!manager2 || FAILED(manager2->SetSystemProfileVersion(wanted))) return list;
    DWORD count = 0;
    manager->GetSystemProfileCount(&count);
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IWMProfile> profile;
        if (FAILED(manager->LoadSystemProfile(i, profile.Put()))) continue;
        DWORD streams = 0;
        profile->GetStreamCount(&streams);
        ComPtr<IWMStreamConfig> stream;
        GUID type = GUID_NULL;
        if (streams != 1 || FAILED(profile->GetStream(0, stream.Put()))) continue;
        stream->GetStreamType(&type);
        if (type != MEDIATYPE_Audio) continue;
        auto text = [&](bool description) {
            DWORD length = 0;
            if (description)
                profile->GetDescription(nullptr, &length);
            else
                profile->GetName(nullptr, &length);
            std::vector<WCHAR> buffer(length + 1, 0);
            if (description)
                profile->GetDescription(buffer.data(), &length);
            else
                profile->GetName(buffer.data(), &length);
            return Narrow(buffer.data());
        };
        list.emplace_back(text(false), text(true));
    }
    return list;
}

std::string LastAudioProfile(int version) {
    auto profiles = AudioProfiles(version);
    return profiles.empty() ? std::string() : profiles.back().first;
}

}  // namespace quil::grab
