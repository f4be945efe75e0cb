#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "diag/HexText.h"

namespace {

struct ParseCase {
    std::wstring text;
    std::uint32_t value;
};

TEST(HexTextTest, ParsesLikeAThirtyTwoBitWcstoulOnEveryPlatform) {
    const ParseCase cases[] = {
        {L"5A", 0x5A},
        {L"  \t\n5a", 0x5A},
        {L"+5A", 0x5A},
        {L"0x5A", 0x5A},
        {L"0X5a", 0x5A},
        {L"5Ah", 0x5A},
        {L"0x", 0},
        {L"0xg", 0},
        {L"", 0},
        {L"  ", 0},
        {L"-", 0},
        {L"h", 0},
        {L"-1", 0xFFFFFFFFu},
        {L"-2", 0xFFFFFFFEu},
        {L"-0x10", 0xFFFFFFF0u},
        {L"FFFFFFFF", 0xFFFFFFFFu},
        {L"000000000000000012", 0x12},
        {L"100000000", 0xFFFFFFFFu},
        {L"-100000000", 0xFFFFFFFFu},
        {L"123456789ABCDEF", 0xFFFFFFFFu},
        {L"\x0661", 0},   // an Arabic-Indic digit is not a hexadecimal digit
        {L"\xFF11", 0},   // nor a full-width one
        {L"1\xFF11", 1},
    };
    for (const ParseCase& c : cases)
        EXPECT_EQ(diag::ParseHex(c.text), c.value) << std::string(c.text.begin(), c.text.end());
}

TEST(HexTextTest, FormatsWithoutLeadingZeros) {
    EXPECT_EQ(diag::FormatHex(0, true), L"0");
    EXPECT_EQ(diag::FormatHex(0x5A, true), L"5A");
    EXPECT_EQ(diag::FormatHex(0x5A, false), L"5a");
    EXPECT_EQ(diag::FormatHex(0xABCD, false), L"abcd");
    EXPECT_EQ(diag::FormatHex(0xFFFFFFFFu, true), L"FFFFFFFF");
    EXPECT_EQ(diag::FormatDecimal(0), L"0");
    EXPECT_EQ(diag::FormatDecimal(255), L"255");
}

}  // namespace
