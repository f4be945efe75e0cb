#include "gpu/AnsiText.h"

#include <cwchar>

std::wstring AnsiToWide(const char* text) {
    std::mbstate_t state{};
    const char* source = text;
    const std::size_t needed = std::mbsrtowcs(nullptr, &source, 0, &state);
    if (needed == static_cast<std::size_t>(-1) || needed == 0) return {};
    std::wstring wide(needed, L'\0');
    state = std::mbstate_t{};
    source = text;
    if (std::mbsrtowcs(wide.data(), &source, needed, &state) != needed) return {};
    return wide;
}
