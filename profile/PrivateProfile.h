#pragma once
// What the profile store needs of the platform, in the shape of the Windows private-profile
// functions: the current directory, one section read as lines, one section replaced. Each entry
// point makes its realization and hands it down: on Windows a thin wrapper over
// GetCurrentDirectoryW, GetPrivateProfileSectionW and WritePrivateProfileSectionW, elsewhere
// PrivateProfileFile.
#include <optional>
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

    // The file's bytes as the reads take them (a cut-short save's journal where one stands for the
    // file): for telling a missing file from a missing section, and where each line stands. None
    // when there is no file or it cannot be read.
    virtual std::optional<std::string> FileBytes(const std::wstring& path) = 0;

    // Put between the directory and the file name.
    virtual wchar_t PathSeparator() const = 0;
};

}  // namespace profile
