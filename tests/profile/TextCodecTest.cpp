// The UTF-8 the JSON documents take: always well-formed, whatever the wide text carries.
#include <gtest/gtest.h>

#include <string>

#include "profile/TextCodec.h"

namespace {

TEST(TextCodecTest, Utf8IsWellFormedForEveryWideText) {
    struct Case {
        std::wstring text;
        std::string utf8;
    };
    const Case cases[] = {
        {L"NVVDD 1.25000 V", "NVVDD 1.25000 V"},
        {L"\u00B5s \u20AC", "\xC2\xB5s \xE2\x82\xAC"},
        {std::wstring(1, static_cast<wchar_t>(0xDC80)), "\xEF\xBF\xBD"},  // a byte a profile file carried
        {std::wstring(1, static_cast<wchar_t>(0xD800)) + L"x", "\xEF\xBF\xBD" "x"},  // a lone high surrogate
#if WCHAR_MAX > 0xFFFF
        {std::wstring(1, static_cast<wchar_t>(0x1F600)), "\xF0\x9F\x98\x80"},
#else
        {std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)}, "\xF0\x9F\x98\x80"},
#endif
    };
    for (const Case& c : cases) EXPECT_EQ(profile::Utf8(c.text), c.utf8);
    // A profile file's own encoder keeps such a byte as it was.
    EXPECT_EQ(profile::Encoded<std::string>(std::wstring(1, static_cast<wchar_t>(0xDC80))), "\x80");
}

}  // namespace
