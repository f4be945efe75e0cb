#include "profile/PrivateProfileFile.h"

#include <filesystem>
#include <system_error>

#include "profile/DurableSave.h"
#include "profile/ProfileText.h"
#include "profile/TextCodec.h"

namespace profile {

namespace fs = std::filesystem;

std::wstring PrivateProfileFile::CurrentDirectory() {
    std::error_code error;
    const fs::path directory = fs::current_path(error);
    if (error) return {};
    return Decoded(directory.native(), 0, directory.native().size());
}

std::wstring PrivateProfileFile::ReadSection(const std::wstring& section, const std::wstring& path) {
    std::string bytes;
    if (path.empty() || LoadCurrent(Encoded<std::string>(path), bytes) != Load::Loaded) return {};
    return SectionLinesOf(bytes, section);
}

bool PrivateProfileFile::WriteSection(const std::wstring& section, const std::wstring& data,
                                      const std::wstring& path) {
    if (path.empty() || !IsWritableName(section)) return false;
    return SaveFile(Encoded<std::string>(path), [&section, &data](const std::string& bytes, std::string& out) {
        return Rewritten(bytes, section, data, out);
    });
}

std::optional<std::string> PrivateProfileFile::FileBytes(const std::wstring& path) {
    std::string bytes;
    if (path.empty() || LoadCurrent(Encoded<std::string>(path), bytes) != Load::Loaded) return std::nullopt;
    return bytes;
}

wchar_t PrivateProfileFile::PathSeparator() const { return static_cast<wchar_t>(fs::path::preferred_separator); }

}  // namespace profile
