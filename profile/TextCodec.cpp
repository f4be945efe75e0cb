#include "profile/TextCodec.h"

namespace profile {
namespace {

constexpr bool kWide16 = sizeof(wchar_t) == 2;
// Bytes that are not UTF-8 travel as these lone low surrogates, so they go back out unchanged.
constexpr char32_t kEscapeBase = 0xDC00;

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

char32_t JoinSurrogates(char32_t high, char32_t low) { return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00); }

// Calls `emit` with each code point; a surrogate without its partner comes through as it is.
template <typename Emit>
void ForEachCodePoint(const std::wstring& text, Emit emit) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = WideCode(text[i]);
        if (kWide16 && IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(WideCode(text[i + 1]))) {
            c = JoinSurrogates(c, WideCode(text[i + 1]));
            ++i;
        }
        emit(c);
    }
}

void AppendWide(std::wstring& out, char32_t c) {
    if (kWide16 && c > 0xFFFF) {
        c -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<wchar_t>(c));
    }
}

bool IsEscapedByte(char32_t c) { return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF; }

void AppendCodePoint(std::string& out, char32_t c) {
    if (IsEscapedByte(c)) {
        out.push_back(static_cast<char>(c - kEscapeBase));
        return;
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void AppendCodePoint(std::u16string& out, char32_t c) {
    if (c > 0x10FFFF) c = kReplacement;
    if (c > 0xFFFF) {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(c));
    }
}

}  // namespace

void AppendEncoded(std::string& out, const std::wstring& text) {
    ForEachCodePoint(text, [&out](char32_t c) { AppendCodePoint(out, c); });
}

std::string Utf8(const std::wstring& text) {
    std::string out;
    ForEachCodePoint(text, [&out](char32_t c) { AppendCodePoint(out, IsEscapedByte(c) ? kReplacement : c); });
    return out;
}

void AppendEncoded(std::u16string& out, const std::wstring& text) {
    ForEachCodePoint(text, [&out](char32_t c) { AppendCodePoint(out, c); });
}

std::wstring Decoded(const std::string& text, std::size_t begin, std::size_t end) {
    std::wstring out;
    std::size_t i = begin;
    while (i < end) {
        const unsigned lead = Code(text[i]);
        std::size_t length = 0;
        char32_t c = 0;
        unsigned secondLow = 0x80;
        unsigned secondHigh = 0xBF;
        if (lead < 0x80) {
            length = 1;
            c = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            c = lead & 0x0F;
            if (lead == 0xE0) secondLow = 0xA0;   // no overlong forms
            if (lead == 0xED) secondHigh = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            c = lead & 0x07;
            if (lead == 0xF0) secondLow = 0x90;
            if (lead == 0xF4) secondHigh = 0x8F;  // nothing beyond U+10FFFF
        }
        bool valid = length != 0 && length <= end - i;
        for (std::size_t k = 1; valid && k < length; ++k) {
            const unsigned next = Code(text[i + k]);
            valid = next >= (k == 1 ? secondLow : 0x80) && next <= (k == 1 ? secondHigh : 0xBF);
            c = (c << 6) | (next & 0x3F);
        }
        if (valid) {
            AppendWide(out, c);
            i += length;
        } else {
            AppendWide(out, kEscapeBase + lead);
            ++i;
        }
    }
    return out;
}

std::wstring Decoded(const std::u16string& text, std::size_t begin, std::size_t end) {
    std::wstring out;
    for (std::size_t i = begin; i < end; ++i) {
        char32_t c = text[i];
        if (!kWide16 && IsHighSurrogate(c) && i + 1 < end && IsLowSurrogate(text[i + 1])) {
            c = JoinSurrogates(c, text[i + 1]);
            ++i;
        }
        AppendWide(out, c);
    }
    return out;
}

Layout Detect(const std::string& bytes) {
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return {Encoding::Utf8, 3};
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) return {Encoding::Utf16Le, 2};
    if (bytes.compare(0, 2, "\xFE\xFF") == 0) return {Encoding::Utf16Be, 2};
    return {};
}

std::u16string Utf16Units(const std::string& bytes, std::size_t begin, bool bigEndian) {
    std::u16string units;
    units.reserve((bytes.size() - begin) / 2);
    for (std::size_t i = begin; i + 1 < bytes.size(); i += 2) {
        const unsigned first = Code(bytes[i]);
        const unsigned second = Code(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first));
    }
    return units;
}

void AppendUtf16Bytes(std::string& out, const std::u16string& units, bool bigEndian) {
    for (const char16_t unit : units) {
        const auto high = static_cast<char>(unit >> 8);
        const auto low = static_cast<char>(unit & 0xFF);
        out.push_back(bigEndian ? high : low);
        out.push_back(bigEndian ? low : high);
    }
}

}  // namespace profile
