#pragma once
// How board values read for people, alike for every board and every front end. Printf formats give
// ASCII only, so the wide text is the narrow one widened character by character; that holds
// whether wchar_t is 16 bits (Windows) or 32.
#include <cstdint>
#include <optional>
#include <string>

namespace value_text {

#if defined(__GNUC__)
#define HALVORN_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define HALVORN_PRINTF_FORMAT(f, a)
#endif

// printf-style formatting into a wide string. Meant for short texts; longer ones are cut at 127
// characters.
std::wstring Format(const char* format, ...) HALVORN_PRINTF_FORMAT(1, 2);

// "%.5f V" of code x 6.25 / 1000: a rail voltage given in 6.25 mV steps.
std::wstring VoltageCode(std::int32_t code);
// "%.03f V" and "%.02f V": voltages looked up in a board's tables.
std::wstring Volts3(double volts);
std::wstring Volts2(double volts);
// "Level %d".
std::wstring Level(std::int32_t level);
// "Enable" for any value but 0, "Disable".
std::wstring Switch(std::int32_t on);

// A voltage code in volts.
std::optional<double> Volts(std::int32_t code);

}  // namespace value_text
