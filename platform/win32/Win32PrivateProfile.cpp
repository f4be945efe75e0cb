#include "platform/win32/Win32PrivateProfile.h"

#include <windows.h>

namespace win32 {

namespace {
constexpr DWORD kDirectoryBuffer = 260;
constexpr DWORD kSectionBuffer = 65536;
// Beyond this a section is not a settings profile any more; stop growing rather than exhaust memory.
constexpr DWORD kSectionLimit = 64u << 20;

// The body as WritePrivateProfileSectionW defines it: one NUL-terminated string per line, then
// one more NUL. Handed lines with CR LF inside, Windows writes the same bytes, but a platform that
// keeps the parsed file in memory (Wine does) gives them back as one line until it reads the file
// again, and a Load after a Save in the same run would find only the first key.
std::wstring OneStringPerLine(const std::wstring& data) {
    std::wstring lines;
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= data.size(); ++i) {
        const wchar_t c = i < data.size() ? data[i] : L'\0';
        if (c != L'\r' && c != L'\n' && c != L'\0') continue;
        if (i > begin) {
            lines.append(data, begin, i - begin);
            lines.push_back(L'\0');
        }
        begin = i + 1;
        if (c == L'\0' && i + 1 < data.size() && data[i + 1] == L'\0') break;  // the list's end
    }
    return lines;  // its own terminator closes the list
}

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
    // Windows refuses to write a read-only file; Wine run as root writes it all the same.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) return false;
    const std::wstring lines = OneStringPerLine(data);
    return WritePrivateProfileSectionW(section.c_str(), lines.c_str(), path.c_str()) != 0;
}

}  // namespace win32

// The Windows program's profile functions are Windows' own, from the first use on.
profile::PrivateProfile& profile::DefaultPrivateProfile() {
    static win32::Win32PrivateProfile functions;
    return functions;
}
