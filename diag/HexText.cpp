#include "diag/HexText.h"

#include <cstddef>

namespace diag {

namespace {

// Only ASCII counts: a 16-bit and a 32-bit wchar_t must classify alike.
bool IsSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// The window text buffer the port is read through holds 64 characters with its terminator.
constexpr std::size_t kPortTextLimit = 63;

}  // namespace

std::uint32_t ParseHex(const std::wstring& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && IsSpace(text[i])) ++i;

    bool negative = false;
    if (i < n && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    // "0x" counts as a prefix only when a digit follows; otherwise the 0 is the number.
    if (i + 2 < n && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X') && HexDigit(text[i + 2]) >= 0)
        i += 2;

    std::uint32_t value = 0;
    bool overflow = false;
    for (; i < n; ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0) break;
        if (value > 0x0FFFFFFFu) overflow = true;
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    if (overflow) return 0xFFFFFFFFu;
    return negative ? 0u - value : value;
}

std::wstring FormatHex(std::uint32_t value, bool upperCase) {
    const wchar_t* digits = upperCase ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring reversed;
    do {
        reversed.push_back(digits[value & 0xFu]);
        value >>= 4;
    } while (value != 0);
    return std::wstring(reversed.rbegin(), reversed.rend());
}

bool ParsePort(const std::wstring& text, std::uint8_t& port) {
    const std::size_t n = text.size() < kPortTextLimit ? text.size() : kPortTextLimit;
    std::size_t i = 0;
    while (i < n && IsSpace(text[i])) ++i;
    if (i == n || text[i] < L'0' || text[i] > L'9') return false;
    std::uint32_t value = 0;
    for (; i < n && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + static_cast<std::uint32_t>(text[i] - L'0');
        if (value > 255) return false;
    }
    port = static_cast<std::uint8_t>(value);
    return true;
}

std::wstring FormatDecimal(std::uint32_t value) {
    std::wstring reversed;
    do {
        reversed.push_back(static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return std::wstring(reversed.rbegin(), reversed.rend());
}

}  // namespace diag
