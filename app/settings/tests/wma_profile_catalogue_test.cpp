// The profile catalogue fed by the Windows Media profile manager, and the two-call protocol
// against grabbers that misbehave.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/settings/tests/wmf_profile_grabber.h"
#include "app/settings/wma_profile_catalogue.h"
#include "platform/wmf/profile_catalogue.h"

namespace quil::settings {
namespace {

using test::ProfileManagerGrabber;
using test::SystemVersion;

TEST(WmaProfileCatalogue, KeepsOnlyTheAudioOnlyProfilesOfEachVersionInOrder) {
    ProfileManagerGrabber grabber;
    WmaProfileCatalogue catalogue = WmaProfileCatalogue::BuildFrom(grabber);
    ASSERT_FALSE(catalogue.Empty());
    size_t kept = 0, offered = 0;
    for (int version : {4, 7, 8, 9}) {
        SCOPED_TRACE(version);
        std::vector<const wmf::ProfileDescription*> expected;
        for (const auto& profile : wmf::SystemProfiles(SystemVersion(version))) {
            ++offered;
            if (profile.streams.size() == 1 && profile.streams[0].majorType == WMMEDIATYPE_Audio)
                expected.push_back(&profile);
        }
        auto list = catalogue.List(version);
        ASSERT_EQ(list.size(), expected.size());
        for (size_t i = 0; i < list.size(); ++i) {
            EXPECT_TRUE(list[i].valid);
            EXPECT_EQ(list[i].name, Narrow(expected[i]->name));
            EXPECT_EQ(list[i].description, Narrow(expected[i]->description));
            EXPECT_EQ(list[i].nameLength, static_cast<int32_t>(list[i].name.size()));
            EXPECT_EQ(list[i].descriptionLength, static_cast<int32_t>(list[i].description.size()));
        }
        if (!list.empty()) {
            EXPECT_EQ(catalogue.LastName(version), list.back().name);
        }
        kept += list.size();
    }
    EXPECT_LT(kept, offered);  // the catalogue has video and two-stream profiles to skip
    // One sizing call per profile offered, a filling call only for the ones kept.
    EXPECT_EQ(grabber.sizingCalls, static_cast<int>(offered));
    EXPECT_EQ(grabber.filledCalls, static_cast<int>(kept));
    EXPECT_TRUE(catalogue.List(5).empty());
    EXPECT_EQ(catalogue.LastName(5), "");
}

TEST(WmaProfileCatalogue, FindsByExactName) {
    WmaProfileCatalogue catalogue;
    catalogue.Add(9, {true, 2, "Ab", 4, "desc"});
    ASSERT_NE(catalogue.Find(9, "Ab"), nullptr);
    EXPECT_EQ(catalogue.Find(9, "Ab")->description, "desc");
    EXPECT_EQ(catalogue.Find(9, "ab"), nullptr);
    EXPECT_EQ(catalogue.Find(9, "A"), nullptr);
    EXPECT_EQ(catalogue.Find(7, "Ab"), nullptr);
    catalogue.Add(3, {true, 1, "x", 0, ""});
    EXPECT_TRUE(catalogue.List(3).empty());
}

// A grabber whose answers are scripted per index.
struct ScriptedGrabber {
    enum Kind {
        kGood,
        kVideo,
        kLoadFails,
        kSecondCallFails,
        kNegativeLength,
        kLengthChanges,
        kHugeLength
    };
    std::vector<Kind> script;
    int count = 0;
    int countResult = 1;
    std::vector<std::pair<bool, bool>> buffersSeen;  // name, description non-null
    int calls = 0;

    int GetProfileCount(int version, int* out) {
        *out = version == 7 ? count : 0;
        return countResult;
    }
    int GetProfileInfo(int version, int index, engine::WmaProfileInfo* info) {
        EXPECT_EQ(version, 7);
        ++calls;
        buffersSeen.emplace_back(info->name != nullptr, info->description != nullptr);
        Kind kind = static_cast<size_t>(index) < script.size() ? script[index] : kGood;
        bool filling = info->name != nullptr;
        std::string name = "Profile " + std::to_string(index), description = "About it";
        switch (kind) {
            case kVideo:
                info->audioOnly = 0;
                return 1;
            case kLoadFails:
                return 0;
            case kSecondCallFails:
                if (filling) return 0;
                break;
            case kNegativeLength:
                info->audioOnly = 1;
                info->nameLength = -4;
                info->descriptionLength = 3;
                return 1;
            case kLengthChanges:
                if (filling) name += " and more";
                break;
            case kHugeLength:
                info->audioOnly = 1;
                info->nameLength = 0x7FFFFFFF;
                info->descriptionLength = 1;
                return 1;
            case kGood:
                break;
        }
        info->audioOnly = 1;
        info->nameLength = static_cast<int32_t>(name.size());
        info->descriptionLength = static_cast<int32_t>(description.size());
        // Writes only while what it found fits, as a careful grabber would.
        if (filling && kind != kLengthChanges) {
            std::memcpy(info->name, name.c_str(), name.size() + 1);
            std::memcpy(info->description, description.c_str(), description.size() + 1);
        }
        return 1;
    }
};

TEST(WmaProfileCatalogue, TwoCallsPerProfileWithBuffersOnlyTheSecondTime) {
    ScriptedGrabber grabber;
    grabber.count = 2;
    WmaProfileCatalogue catalogue = WmaProfileCatalogue::BuildFrom(grabber);
    ASSERT_EQ(catalogue.List(7).size(), 2u);
    EXPECT_EQ(catalogue.List(7)[1].name, "Profile 1");
    EXPECT_EQ(catalogue.List(7)[1].description, "About it");
    ASSERT_EQ(grabber.buffersSeen.size(), 4u);
    EXPECT_EQ(grabber.buffersSeen[0], std::make_pair(false, false));
    EXPECT_EQ(grabber.buffersSeen[1], std::make_pair(true, true));
    EXPECT_EQ(grabber.buffersSeen[2], std::make_pair(false, false));
    EXPECT_EQ(grabber.buffersSeen[3], std::make_pair(true, true));
}

TEST(WmaProfileCatalogue, DropsProfilesTheGrabberRefusesOrReportsBadly) {
    ScriptedGrabber grabber;
    grabber.script = {ScriptedGrabber::kVideo,          ScriptedGrabber::kGood,
                      ScriptedGrabber::kLoadFails,      ScriptedGrabber::kSecondCallFails,
                      ScriptedGrabber::kNegativeLength, ScriptedGrabber::kLengthChanges,
                      ScriptedGrabber::kHugeLength,     ScriptedGrabber::kGood};
    grabber.count = 8;
    WmaProfileCatalogue catalogue = WmaProfileCatalogue::BuildFrom(grabber);
    auto list = catalogue.List(7);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "Profile 1");
    EXPECT_EQ(list[1].name, "Profile 7");
    EXPECT_EQ(catalogue.LastName(7), "Profile 7");
}

TEST(WmaProfileCatalogue, FailedOrAbsurdCountsGiveNoEndlessWalk) {
    ScriptedGrabber failing;
    failing.count = 3;
    failing.countResult = 0;
    EXPECT_TRUE(WmaProfileCatalogue::BuildFrom(failing).Empty());
    EXPECT_EQ(failing.calls, 0);

    ScriptedGrabber negative;
    negative.count = -5;
    EXPECT_TRUE(WmaProfileCatalogue::BuildFrom(negative).Empty());

    ScriptedGrabber huge;
    huge.count = 0x7FFFFFFF;
    huge.script.assign(1, ScriptedGrabber::kVideo);
    WmaProfileCatalogue catalogue = WmaProfileCatalogue::BuildFrom(huge);
    EXPECT_LE(catalogue.List(7).size(), 1024u);
}

}  // namespace
}  // namespace quil::settings
