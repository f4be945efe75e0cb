#include "platform/win32/Win32PrivateProfile.h"

#include <windows.h>

namespace win32 {

namespace {
constexpr DWORD kDirectoryBuffer = 260;
constexpr DWORD kSectionBuffer = 65536;
// Beyond this a section is not a settings profile any more; stop growing rather than exhaust memory.
constexpr DWORD kSectionLimit = 64u << 20;
}  // namespace

std::wstring Win32PrivateProfile::CurrentDirectory() {
    std::wstring directory(kDirectoryBuffer, L'\0');
    for (;;) {
        const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data());
        if (length == 0) return std::wstring();
        // Too small: the length needed, terminator included, comes back instead.
        if (length < directory.size()) {
            directory.resize(length);
            return directory;
        }
        directory.resize(length);
    }
}

std::wstring Win32PrivateProfile::ReadSection(const std::wstring& section, const std::wstring& path) {
    std::wstring buffer(kSectionBuffer, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD count = GetPrivateProfileSectionW(section.c_str(), buffer.data(), size, path.c_str());
        // A full buffer reports size - 2 and holds a cut section; read again with more room.
        if (count + 2 < size || size >= kSectionLimit) {
            buffer.resize(count);
            return buffer;
        }
        buffer.assign(static_cast<std::size_t>(size) * 2, L'\0');
    }
}

bool Win32PrivateProfile::WriteSection(const std::wstring& section, const std::wstring& data,
                                       const std::wstring& path) {
    return WritePrivateProfileSectionW(section.c_str(), data.c_str(), path.c_str()) != 0;
}

}  // namespace win32

// The Windows program's profile functions are Windows' own, from the first use on.
profile::PrivateProfile& profile::DefaultPrivateProfile() {
    static win32::Win32PrivateProfile functions;
    return functions;
}
