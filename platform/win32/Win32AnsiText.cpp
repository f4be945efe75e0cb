#include "gpu/AnsiText.h"

#include <windows.h>

std::wstring AnsiToWide(const char* text) {
    const int needed = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, nullptr, 0);
    if (needed <= 1) return {};
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, wide.data(), needed) != needed) return {};
    wide.resize(static_cast<std::size_t>(needed - 1));
    return wide;
}
