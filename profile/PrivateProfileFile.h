#pragma once
// The private-profile functions on plain files, for every platform without the Win32 ones: the
// text rules in ProfileText.h, the encodings in TextCodec.h, the save in DurableSave.h.
//
// Paths are wide strings whose bytes go to the system as UTF-8, so a directory of bytes that are
// not UTF-8 still names itself. No size limits: a directory longer than 259 characters is used
// whole (a cut directory would name another place).
#include <string>

#include "profile/PrivateProfile.h"

namespace profile {

class PrivateProfileFile final : public PrivateProfile {
public:
    std::wstring CurrentDirectory() override;
    std::wstring ReadSection(const std::wstring& section, const std::wstring& path) override;
    bool WriteSection(const std::wstring& section, const std::wstring& data, const std::wstring& path) override;
    std::optional<std::string> FileBytes(const std::wstring& path) override;
    wchar_t PathSeparator() const override;
};

}  // namespace profile
