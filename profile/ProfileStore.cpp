#include "profile/ProfileStore.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "profile/PrivateProfile.h"
#include "profile/ProfileText.h"

namespace {

using WideUnit = std::make_unsigned_t<wchar_t>;

std::wstring ProfilePath(profile::PrivateProfile& platform) {
    std::wstring path = platform.CurrentDirectory();
    // Without a current directory there is no place for the file; an empty path makes every read
    // and write fail instead of landing in the root of the drive.
    if (path.empty()) return path;
    const wchar_t separator = platform.PathSeparator();
    // A root directory already ends in one ("C:\", "/"); a second would name another path on POSIX.
    if (path.back() != separator) path.push_back(separator);
    path += L"Profile.ini";
    return path;
}

bool IsSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

}  // namespace

// wcstoul with base 10 on a 32-bit unsigned long, the same for every wchar_t width and locale.
std::uint32_t ProfileStore::Number(const std::wstring& text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    constexpr std::uint64_t largest = 0xFFFFFFFFu;
    std::uint64_t value = 0;
    bool digits = false;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        digits = true;
        const auto digit = static_cast<std::uint64_t>(text[i] - L'0');
        value = std::min(value * 10 + digit, largest + 1);
    }
    if (!digits) return 0;
    if (value > largest) return 0xFFFFFFFFu;
    const auto number = static_cast<std::uint32_t>(value);
    return negative ? 0u - number : number;
}

bool CodeUnitLess::operator()(const std::wstring& a, const std::wstring& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
        return static_cast<WideUnit>(x) < static_cast<WideUnit>(y);
    });
}

ProfileStore::ProfileStore(profile::PrivateProfile& platform) : platform_(platform), path_(ProfilePath(platform)) {}

ProfileStore::ProfileStore(profile::PrivateProfile& platform, std::wstring path)
    : platform_(platform), path_(std::move(path)) {}

ProfileStore& LazyProfileStore::Get() {
    if (!store_) {
        if (file_) store_.emplace(platform_, *file_);
        else store_.emplace(platform_);
    }
    return *store_;
}

namespace {

std::vector<ProfileLine> LinesOf(const std::wstring& text) {
    std::vector<ProfileLine> lines;
    // Two characters are at most one character and its NUL: nothing that holds a pair.
    if (text.size() <= 2) return lines;
    for (std::size_t offset = 0; offset < text.size();) {
        std::size_t end = text.find(L'\0', offset);
        if (end == std::wstring::npos) end = text.size();
        const std::size_t equals = text.find(L'=', offset);
        ProfileLine line;
        if (equals < end) {
            line.keyed = true;
            line.key.assign(text, offset, equals - offset);
            line.value.assign(text, equals + 1, end - equals - 1);
        } else {
            line.value.assign(text, offset, end - offset);
        }
        lines.push_back(std::move(line));
        offset = end + 1;
    }
    return lines;
}

}  // namespace

SectionFound ProfileStore::ReadLines(const std::wstring& sectionName, std::vector<ProfileLine>& lines) const {
    lines = LinesOf(path_.empty() ? std::wstring() : platform_.ReadSection(sectionName, path_));
    const std::optional<std::string> bytes = path_.empty() ? std::nullopt : platform_.FileBytes(path_);
    if (lines.empty()) return bytes ? SectionFound::NoSection : SectionFound::NoFile;
    // Where each line stands, when the file's text gives the same lines the read gave.
    if (bytes) {
        std::vector<std::size_t> numbers;
        profile::SectionLinesOf(*bytes, sectionName, &numbers);
        if (numbers.size() == lines.size())
            for (std::size_t i = 0; i < lines.size(); ++i) lines[i].line = numbers[i];
    }
    return SectionFound::Found;
}

std::vector<profile::SectionHeader> ProfileStore::SectionHeaders() const {
    const std::optional<std::string> bytes = path_.empty() ? std::nullopt : platform_.FileBytes(path_);
    return bytes ? profile::SectionHeadersOf(*bytes) : std::vector<profile::SectionHeader>{};
}

ProfileSection ProfileStore::SectionOf(const std::vector<ProfileLine>& lines) {
    ProfileSection section;
    // emplace keeps an existing key: the first line with a key wins.
    for (const ProfileLine& line : lines) section.emplace(line.key, Number(line.value));
    return section;
}

bool ProfileStore::ReadSection(const std::wstring& sectionName, ProfileSection& section) const {
    section = SectionOf(LinesOf(path_.empty() ? std::wstring() : platform_.ReadSection(sectionName, path_)));
    return !section.empty();
}

bool ProfileStore::WriteSection(const std::wstring& sectionName, const std::wstring& body) const {
    if (path_.empty()) return false;
    std::wstring data = body;
    data.push_back(L'\0');  // with the string's own terminator, the list ends in two NULs
    return platform_.WriteSection(sectionName, data, path_);
}
