#pragma once
// What the profile store needs of the platform, in the shape of the Windows private-profile
// functions: the current directory, one section read as lines, one section replaced. Chosen once
// at start-up; the Win32 realization is a thin wrapper over GetCurrentDirectoryW,
// GetPrivateProfileSectionW and WritePrivateProfileSectionW, the default elsewhere is
// PrivateProfileFile.
#include <string>

namespace profile {

class PrivateProfile {
public:
    virtual ~PrivateProfile() = default;

    // The process's current directory, whole and without a trailing NUL; empty when it cannot
    // be had.
    virtual std::wstring CurrentDirectory() = 0;

    // Every line of the section as consecutive NUL-terminated strings. The string's length is
    // the count GetPrivateProfileSectionW returns, its own terminator the list's closing NUL.
    // Empty when the file or the section does not exist.
    virtual std::wstring ReadSection(const std::wstring& section, const std::wstring& path) = 0;

    // `data` holds NUL-terminated strings; its own terminator closes the list, so data.c_str()
    // is what WritePrivateProfileSectionW takes. Each string becomes part of the section's body
    // unchanged; the file and the section (at the end) are created when missing and every other
    // section stays as it was. False when the file could not be written.
    virtual bool WriteSection(const std::wstring& section, const std::wstring& data,
                              const std::wstring& path) = 0;

    // Put between the directory and the file name.
    virtual wchar_t PathSeparator() const = 0;
};

// Chooses the realization once, before the first ProfileStore::Instance. Not owned; null goes
// back to the default.
void SetPrivateProfile(PrivateProfile* platform);
// The chosen realization, or the platform's default when none was chosen.
PrivateProfile& Platform();
// The platform's default: the portable file realization, PrivateProfileFile; on Windows the
// program defines it with the Win32 functions, so the file realization's iostreams and filesystem
// code stay out of the .exe.
PrivateProfile& DefaultPrivateProfile();

}  // namespace profile
