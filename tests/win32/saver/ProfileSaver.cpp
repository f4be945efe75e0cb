// Saves Profile.ini sections the way the Windows program does, for the Wine tests: once, in a
// loop until killed, or with Windows' own function for comparison.
//
//   profile_saver ours FILE SECTION KEYS VALUE      the program's save: KEY0=VALUE ... KEY<n-1>=VALUE
//   profile_saver windows FILE SECTION KEYS VALUE   WritePrivateProfileSectionW on FILE itself
//   profile_saver loop FILE SECTION KEYS            ours, VALUE 1111 and 2222 in turn, until killed;
//                                                   prints "saved" after each save
//   profile_saver save-read FILE SECTION KEYS VALUE ours, then the section read back at once
//   profile_saver read FILE SECTION                 the section as the program reads it, a line each
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/Win32PrivateProfile.h"

namespace {

std::wstring Body(int keys, const std::wstring& value) {
    std::wstring body;
    for (int i = 0; i < keys; ++i) body += L"KEY" + std::to_wstring(i) + L"=" + value + L"\r\n";
    return body;
}

// The body as the Windows function takes it: one NUL-terminated string per line.
std::wstring Strings(int keys, const std::wstring& value) {
    std::wstring strings;
    for (int i = 0; i < keys; ++i) {
        strings += L"KEY" + std::to_wstring(i) + L"=" + value;
        strings.push_back(L'\0');
    }
    return strings;
}

void Print(const std::wstring& lines) {
    for (std::size_t at = 0; at < lines.size();) {
        const std::size_t end = lines.find(L'\0', at);
        std::printf("%ls\n", lines.substr(at, end - at).c_str());
        if (end == std::wstring::npos) break;
        at = end + 1;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    const std::wstring command = argv[1], file = argv[2], section = argv[3];
    win32::Win32PrivateProfile profile;
    if (command == L"read") {
        Print(profile.ReadSection(section, file));
        return 0;
    }
    if (argc < 5) return 2;
    const int keys = _wtoi(argv[4]);
    const std::wstring value = argc > 5 ? argv[5] : L"";
    if (command == L"ours") return profile.WriteSection(section, Body(keys, value), file) ? 0 : 1;
    if (command == L"windows") {
        const std::wstring strings = Strings(keys, value);
        return WritePrivateProfileSectionW(section.c_str(), strings.c_str(), file.c_str()) ? 0 : 1;
    }
    if (command == L"loop") {
        for (unsigned n = 0;; ++n) {
            if (!profile.WriteSection(section, Body(keys, n % 2 == 0 ? L"1111" : L"2222"), file)) return 1;
            std::printf("saved\n");
            std::fflush(stdout);
        }
    }
    if (command == L"save-read") {
        if (!profile.WriteSection(section, Body(keys, value), file)) return 1;
        Print(profile.ReadSection(section, file));
        return 0;
    }
    return 2;
}
