#include "platform/wmf/profile_manager.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/com/strings.h"
#include "platform/wmf/header_info.h"

namespace {

using quil::ComPtr;

constexpr WMT_VERSION kVersions[] = {WMT_VER_4_0, WMT_VER_7_0, WMT_VER_8_0, WMT_VER_9_0};

ComPtr<IWMProfileManager2> Manager() {
    ComPtr<IWMProfileManager> manager;
    EXPECT_EQ(WMCreateProfileManager(manager.Put()), S_OK);
    return manager.As<IWMProfileManager2>();
}

std::wstring Name(IWMProfile* profile) {
    DWORD length = 0;
    EXPECT_EQ(profile->GetName(nullptr, &length), S_OK);
    std::wstring name(length, L'?');
    EXPECT_EQ(profile->GetName(name.data(), &length), S_OK);
    EXPECT_EQ(name.back(), L'\0');
    name.pop_back();
    return name;
}

struct AudioInfo {
    GUID subtype;
    WAVEFORMATEX format;
    DWORD bitrate;
};

std::vector<GUID> StreamTypes(IWMProfile* profile) {
    DWORD count = 0;
    EXPECT_EQ(profile->GetStreamCount(&count), S_OK);
    std::vector<GUID> types;
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IWMStreamConfig> stream;
        EXPECT_EQ(profile->GetStream(i, stream.Put()), S_OK);
        GUID type{};
        EXPECT_EQ(stream->GetStreamType(&type), S_OK);
        types.push_back(type);
    }
    return types;
}

AudioInfo Audio(IWMProfile* profile) {
    ComPtr<IWMStreamConfig> stream;
    EXPECT_EQ(profile->GetStream(0, stream.Put()), S_OK);
    auto props = stream.As<IWMMediaProps>();
    EXPECT_TRUE(props);
    DWORD size = 0;
    EXPECT_EQ(props->GetMediaType(nullptr, &size), S_OK);
    std::vector<BYTE> buffer(size);
    auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
    EXPECT_EQ(props->GetMediaType(type, &size), S_OK);
    EXPECT_EQ(type->formattype, WMFORMAT_WaveFormatEx);
    EXPECT_GE(type->cbFormat, sizeof(WAVEFORMATEX));
    AudioInfo info{type->subtype, *reinterpret_cast<WAVEFORMATEX*>(type->pbFormat), 0};
    EXPECT_EQ(stream->GetBitrate(&info.bitrate), S_OK);
    return info;
}

TEST(ProfileManager, OffersBothInterfacesAndStartsAtVersion8) {
    auto manager = Manager();
    ASSERT_TRUE(manager);
    EXPECT_TRUE(quil::QueryAs<IWMProfileManager>(manager.Get()));
    WMT_VERSION version = 0;
    EXPECT_EQ(manager->GetSystemProfileVersion(&version), S_OK);
    EXPECT_EQ(version, WMT_VER_8_0);
}

TEST(ProfileManager, RefusedVersionKeepsTheOneSet) {
    auto manager = Manager();
    ASSERT_EQ(manager->SetSystemProfileVersion(WMT_VER_4_0), S_OK);
    for (WMT_VERSION wrong : {0x00050000u, 0u, 0x000A0000u, 4u}) {
        EXPECT_TRUE(FAILED(manager->SetSystemProfileVersion(wrong)));
        WMT_VERSION version = 0;
        manager->GetSystemProfileVersion(&version);
        EXPECT_EQ(version, WMT_VER_4_0);
    }
}

TEST(ProfileManager, EveryVersionHasAudioOnlyAndMixedProfiles) {
    auto manager = Manager();
    for (WMT_VERSION v : kVersions) {
        SCOPED_TRACE(v);
        ASSERT_EQ(manager->SetSystemProfileVersion(v), S_OK);
        DWORD count = 0;
        ASSERT_EQ(manager->GetSystemProfileCount(&count), S_OK);
        ASSERT_GT(count, 4u);
        int audioOnly = 0, video = 0, twoAudio = 0;
        std::set<std::wstring> names;
        DWORD lastBitrate = 0;
        for (DWORD i = 0; i < count; ++i) {
            ComPtr<IWMProfile> profile;
            ASSERT_EQ(manager->LoadSystemProfile(i, profile.Put()), S_OK);
            WMT_VERSION pv = 0;
            profile->GetVersion(&pv);
            EXPECT_EQ(pv, v);
            std::wstring name = Name(profile.Get());
            EXPECT_TRUE(names.insert(name).second) << quil::Narrow(name);
            auto types = StreamTypes(profile.Get());
            if (types.size() == 1 && types[0] == WMMEDIATYPE_Audio) {
                ++audioOnly;
                AudioInfo audio = Audio(profile.Get());
                EXPECT_EQ(audio.subtype,
                          v == WMT_VER_4_0 ? WMMEDIASUBTYPE_WMAudioV1 : WMMEDIASUBTYPE_WMAudioV2);
                EXPECT_GE(audio.bitrate, 24000u);
                EXPECT_GE(audio.bitrate, lastBitrate) << "low to high quality";
                lastBitrate = audio.bitrate;
                // The name tells the bit rate and channels.
                std::string text = quil::Narrow(name);
                EXPECT_NE(text.find(std::to_string(audio.bitrate / 1000) + " kbps"),
                          std::string::npos)
                    << text;
                EXPECT_NE(text.find(audio.format.nChannels == 1 ? "mono" : "stereo"),
                          std::string::npos)
                    << text;
            } else if (types.size() == 2 && types[1] == WMMEDIATYPE_Video) {
                ++video;
            } else if (types.size() == 2 && types[0] == WMMEDIATYPE_Audio &&
                       types[1] == WMMEDIATYPE_Audio) {
                ++twoAudio;
            }
        }
        EXPECT_GE(audioOnly, 5);
        EXPECT_GE(video, 1);
        EXPECT_GE(twoAudio, 1);
    }
}

TEST(ProfileManager, VersionsAreKeptApart) {
    auto first = Manager();
    auto second = Manager();
    first->SetSystemProfileVersion(WMT_VER_4_0);
    second->SetSystemProfileVersion(WMT_VER_9_0);
    DWORD four = 0, nine = 0;
    first->GetSystemProfileCount(&four);
    second->GetSystemProfileCount(&nine);
    EXPECT_NE(four, nine);
    ComPtr<IWMProfile> profile;
    EXPECT_TRUE(FAILED(first->LoadSystemProfile(four, profile.Put())));
    EXPECT_FALSE(profile);
}

TEST(ProfileManager, TextsFollowTheTwoCallProtocol) {
    auto manager = Manager();
    manager->SetSystemProfileVersion(WMT_VER_7_0);
    ComPtr<IWMProfile> profile;
    ASSERT_EQ(manager->LoadSystemProfile(0, profile.Put()), S_OK);
    DWORD length = 0;
    ASSERT_EQ(profile->GetDescription(nullptr, &length), S_OK);
    ASSERT_GT(length, 10u);
    std::vector<WCHAR> small(length - 1, L'x');
    DWORD smallLength = length - 1;
    EXPECT_EQ(profile->GetDescription(small.data(), &smallLength), ASF_E_BUFFERTOOSMALL);
    EXPECT_EQ(smallLength, length);
    std::vector<WCHAR> text(length, L'x');
    ASSERT_EQ(profile->GetDescription(text.data(), &length), S_OK);
    EXPECT_EQ(text.back(), L'\0');
    EXPECT_EQ(std::wstring(text.data()).size() + 1, length);
    EXPECT_EQ(profile->GetName(nullptr, nullptr), E_POINTER);
}

TEST(ProfileManager, LoadedProfilesAreCopies) {
    auto manager = Manager();
    manager->SetSystemProfileVersion(WMT_VER_8_0);
    ComPtr<IWMProfile> a, b;
    ASSERT_EQ(manager->LoadSystemProfile(1, a.Put()), S_OK);
    ASSERT_EQ(manager->LoadSystemProfile(1, b.Put()), S_OK);
    std::wstring original = Name(b.Get());
    ASSERT_EQ(a->SetName(L"Changed"), S_OK);
    EXPECT_EQ(Name(a.Get()), L"Changed");
    EXPECT_EQ(Name(b.Get()), original);
    ComPtr<IWMStreamConfig> stream;
    EXPECT_TRUE(FAILED(a->GetStream(1, stream.Put())));
    EXPECT_EQ(a->GetStreamByNumber(1, stream.Put()), S_OK);
    WORD number = 0;
    stream->GetStreamNumber(&number);
    EXPECT_EQ(number, 1);
}

TEST(ProfileManager, MediaTypeNeedsTheWholeBuffer) {
    auto manager = Manager();
    manager->SetSystemProfileVersion(WMT_VER_9_0);
    ComPtr<IWMProfile> profile;
    ASSERT_EQ(manager->LoadSystemProfile(0, profile.Put()), S_OK);
    ComPtr<IWMStreamConfig> stream;
    ASSERT_EQ(profile->GetStream(0, stream.Put()), S_OK);
    auto props = stream.As<IWMMediaProps>();
    DWORD size = 0;
    ASSERT_EQ(props->GetMediaType(nullptr, &size), S_OK);
    std::vector<BYTE> buffer(size);
    DWORD tooSmall = size - 1;
    EXPECT_EQ(props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data()), &tooSmall),
              ASF_E_BUFFERTOOSMALL);
    EXPECT_EQ(tooSmall, size);
}

}  // namespace
