#include "platform/com/guid.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace {

constexpr GUID kSample = quil::Guid("{6BA57AC0-6D2A-11D3-8D3C-0050BA30C5F1}");

TEST(GuidTest, ParsesTheRegistryForm) {
    auto g = quil::ParseGuid("{6ba57ac0-6d2a-11d3-8d3c-0050ba30c5f1}");
    ASSERT_TRUE(g);
    EXPECT_EQ(g->Data1, 0x6BA57AC0u);
    EXPECT_EQ(g->Data2, 0x6D2Au);
    EXPECT_EQ(g->Data3, 0x11D3u);
    const uint8_t tail[8] = {0x8D, 0x3C, 0x00, 0x50, 0xBA, 0x30, 0xC5, 0xF1};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(g->Data4[i], tail[i]) << i;
    EXPECT_EQ(*g, kSample);
    EXPECT_EQ(quil::ParseGuid("6BA57AC0-6D2A-11D3-8D3C-0050BA30C5F1"), kSample);
}

TEST(GuidTest, RefusesMalformedText) {
    const char* bad[] = {
        "",
        "{}",
        "{6BA57AC0-6D2A-11D3-8D3C-0050BA30C5F1",    // no closing brace
        "6BA57AC0-6D2A-11D3-8D3C-0050BA30C5F1}",    // no opening brace
        "(6BA57AC0-6D2A-11D3-8D3C-0050BA30C5F1)",   // wrong brackets
        "{6BA57AC0-6D2A-11D3-8D3C-0050BA30C5F}",    // one digit short
        "{6BA57AC0-6D2A-11D3-8D3C-0050BA30C5F11}",  // one digit long
        "{6BA57AC0+6D2A-11D3-8D3C-0050BA30C5F1}",   // wrong separator
        "{6BA57AC06-D2A-11D3-8D3C-0050BA30C5F1}",   // dash moved
        "{6BA57AC0-6D2A-11D3-8D3C-0050BA30C5G1}",   // not hex
        "{ 6BA57AC0-6D2A-11D3-8D3C-0050BA30C5F}",
    };
    for (const char* text : bad) EXPECT_FALSE(quil::ParseGuid(text)) << text;
}

TEST(GuidTest, PrintsUpperCaseWithBracesAndRoundTrips) {
    EXPECT_EQ(quil::GuidToString(kSample), "{6BA57AC0-6D2A-11D3-8D3C-0050BA30C5F1}");
    EXPECT_EQ(quil::GuidToString(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");
    GUID high;
    high.Data1 = 0xFFFFFFFF;
    high.Data2 = 0xFFFF;
    high.Data3 = 0x0001;
    for (auto& b : high.Data4) b = 0xAB;
    EXPECT_EQ(quil::ParseGuid(quil::GuidToString(high)), high);
}

TEST(GuidTest, ComparesAndHashesEveryField) {
    std::unordered_set<GUID> seen{kSample};
    auto differing = [](int field) {
        GUID g = kSample;
        if (field == 0) g.Data1 ^= 1;
        if (field == 1) g.Data2 ^= 1;
        if (field == 2) g.Data3 ^= 1;
        if (field >= 3) g.Data4[field - 3] ^= 0x80;
        return g;
    };
    for (int field = 0; field < 11; ++field) {
        GUID other = differing(field);
        EXPECT_FALSE(other == kSample) << field;
        EXPECT_TRUE(seen.insert(other).second) << field;
    }
    EXPECT_FALSE(seen.insert(quil::Guid("{6BA57AC0-6D2A-11D3-8D3C-0050BA30C5F1}")).second);
    EXPECT_EQ(seen.size(), 12u);
    static_assert(quil::Guid("{00000000-0000-0000-C000-000000000046}").Data4[0] == 0xC0);
}

}  // namespace
