#pragma once
#include <string>

// NvAPI hands out texts in the calling thread's ANSI code page (Windows) or the C locale's
// multibyte encoding (elsewhere). An empty result means empty text or a failed conversion.
std::wstring AnsiToWide(const char* text);
