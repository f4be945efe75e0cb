#include "boards/ValueText.h"

#include <cstdarg>
#include <cstdio>

namespace value_text {

std::wstring Format(const char* format, ...) {
    char narrow[128];
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(narrow, sizeof narrow, format, args);
    va_end(args);
    if (written < 0) return {};
    std::wstring wide;
    for (const char* c = narrow; *c != '\0'; ++c) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    return wide;
}

std::wstring VoltageCode(std::int32_t code) { return Format("%.5f V", static_cast<double>(code) * 6.25 / 1000); }

std::wstring Volts3(double volts) { return Format("%.03f V", volts); }

std::wstring Volts2(double volts) { return Format("%.02f V", volts); }

std::wstring Level(std::int32_t level) { return Format("Level %d", level); }

std::wstring Switch(std::int32_t on) { return on != 0 ? L"Enable" : L"Disable"; }

std::optional<double> Volts(std::int32_t code) { return code * 6.25 / 1000.0; }

}  // namespace value_text
