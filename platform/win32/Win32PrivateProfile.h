#pragma once
// The private-profile port on the Windows functions themselves: GetCurrentDirectoryW,
// GetPrivateProfileSectionW and WritePrivateProfileSectionW. Buffers grow past their usual sizes
// (260 and 65,536 characters), so a long directory or a long section is used whole, as the
// portable file realization does.
#include <string>

#include "profile/PrivateProfile.h"

namespace win32 {

class Win32PrivateProfile final : public profile::PrivateProfile {
public:
    std::wstring CurrentDirectory() override;
    std::wstring ReadSection(const std::wstring& section, const std::wstring& path) override;
    bool WriteSection(const std::wstring& section, const std::wstring& data, const std::wstring& path) override;
    wchar_t PathSeparator() const override { return L'\\'; }
};

}  // namespace win32
