#pragma once
// Number texts of the Internal Test dialog. Written by hand rather than with wcstoul and
// swprintf so the result is the same with a 16-bit wchar_t and a 32-bit long (Windows) as with a
// 32-bit wchar_t and a 64-bit long (Linux).
#include <cstdint>
#include <string>

namespace diag {

// Leading white space, an optional sign, an optional 0x/0X, then hexadecimal digits up to the
// first other character. No digits gives 0; a minus sign negates modulo 2^32; a value beyond
// 32 bits gives 0xFFFFFFFF.
std::uint32_t ParseHex(const std::wstring& text);

// The value in hexadecimal without leading zeros or prefix ("%X" / "%x").
std::wstring FormatHex(std::uint32_t value, bool upperCase);

// The port field: the first 63 characters, leading white space skipped, then decimal digits up
// to the first other character. False when there is no digit or the number exceeds 255.
bool ParsePort(const std::wstring& text, std::uint8_t& port);

std::wstring FormatDecimal(std::uint32_t value);

}  // namespace diag
