#pragma once
// Wide strings to and from what a profile file holds: UTF-16 with a byte-order mark (little or big
// endian) or else UTF-8, with or without its mark. Wide strings are UTF-16 where wchar_t has 16
// bits and UTF-32 elsewhere. Bytes that are not UTF-8 come through as U+DC80..U+DCFF and go back
// out as the same bytes.
#include <cstddef>
#include <string>
#include <type_traits>

namespace profile {

inline constexpr char32_t kReplacement = 0xFFFD;

inline char32_t WideCode(wchar_t c) { return static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(c)); }

// A unit of the file's text: a byte of UTF-8, or a 16-bit unit of UTF-16.
inline unsigned Code(char c) { return static_cast<unsigned char>(c); }
inline unsigned Code(char16_t c) { return c; }

// A surrogate without its partner goes out as U+FFFD in UTF-8 and as it is in UTF-16.
void AppendEncoded(std::string& out, const std::wstring& text);
// Always well-formed UTF-8, for documents that must be (JSON): the bytes a profile file carries as
// U+DC80..U+DCFF come out as U+FFFD like any other lone surrogate.
std::string Utf8(const std::wstring& text);
void AppendEncoded(std::u16string& out, const std::wstring& text);

template <typename Text>
Text Encoded(const std::wstring& text) {
    Text out;
    AppendEncoded(out, text);
    return out;
}

// The units in [begin, end) as a wide string.
std::wstring Decoded(const std::string& text, std::size_t begin, std::size_t end);
std::wstring Decoded(const std::u16string& text, std::size_t begin, std::size_t end);

template <typename Text>
Text Ascii(const char* text) {
    Text out;
    for (; *text != '\0'; ++text) out.push_back(static_cast<typename Text::value_type>(*text));
    return out;
}

// ---- The file's encoding, told by its byte-order mark.

enum class Encoding { Utf8, Utf16Le, Utf16Be };

struct Layout {
    Encoding encoding = Encoding::Utf8;
    std::size_t markSize = 0;
};

Layout Detect(const std::string& bytes);

// The 16-bit units from `begin` on; a dangling last byte is left out.
std::u16string Utf16Units(const std::string& bytes, std::size_t begin, bool bigEndian);
void AppendUtf16Bytes(std::string& out, const std::u16string& units, bool bigEndian);

}  // namespace profile
