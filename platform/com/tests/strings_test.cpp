#include "platform/com/strings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// File names are bytes: whatever a name holds must come back unchanged from the wide form.
TEST(StringsTest, BytesThatAreNotUtf8SurviveTheWideForm) {
    const std::string names[] = {
        "caf\xE9.mp3",                         // Latin-1
        "\xFF\xFE\x80 end",                    // bytes that never start a character
        "cut \xE2\x82",                        // a sequence cut short
        "over\xC0\x80long",                    // an overlong NUL
        "surrogate \xED\xA0\x80",              // a UTF-16 surrogate written as UTF-8
        "past \xF4\x90\x80\x80",               // beyond U+10FFFF
        "\xC3\xA9t\xC3\xA9 \xF0\x9F\x8E\xB5",  // valid UTF-8 stays as it is
    };
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(quil::Narrow(quil::Widen(name)), name);
    }
    EXPECT_EQ(quil::Widen("\xC3\xA9t\xC3\xA9"), L"\u00E9t\u00E9");
    EXPECT_EQ(quil::Widen("caf\xE9").size(), 4u);
}

TEST(StringsTest, TellsUtf8FromOtherBytes) {
    EXPECT_TRUE(quil::IsUtf8(""));
    EXPECT_TRUE(quil::IsUtf8("plain"));
    EXPECT_TRUE(quil::IsUtf8("\xC3\xA9t\xC3\xA9 \xF0\x9F\x8E\xB5"));
    EXPECT_FALSE(quil::IsUtf8("caf\xE9"));
    EXPECT_FALSE(quil::IsUtf8("over\xC0\x80long"));
    EXPECT_FALSE(quil::IsUtf8("\xED\xA0\x80"));
    // A wide text holding an escaped byte narrows to that byte, which is not UTF-8.
    EXPECT_FALSE(quil::IsUtf8(quil::Narrow(std::wstring(1, wchar_t{0xDCE9}))));
}

}  // namespace
