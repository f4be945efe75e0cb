#pragma once
// The texts the panel shows for board values, formatted alike for every board. Printf formats
// give ASCII only, so the wide text is the narrow one widened character by character; that holds
// whether wchar_t is 16 bits (Windows) or 32.
#include <string>

namespace panel_text {

#if defined(__GNUC__)
#define HALVORN_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define HALVORN_PRINTF_FORMAT(f, a)
#endif

// printf-style formatting into a wide string. Meant for short texts; longer ones are cut at 127
// characters.
std::wstring Format(const char* format, ...) HALVORN_PRINTF_FORMAT(1, 2);

// "%.5f V" of code x 6.25 / 1000: a rail voltage given in 6.25 mV steps.
std::wstring VoltageCode(long long code);
// "%.03f V" and "%.02f V": voltages looked up in a board's tables.
std::wstring Volts3(double volts);
std::wstring Volts2(double volts);
// "%d kHz".
std::wstring Kilohertz(int kilohertz);
// "Level %d".
std::wstring Level(int level);

inline const wchar_t* Disable() { return L"Disable"; }
inline const wchar_t* Enable() { return L"Enable"; }

}  // namespace panel_text
