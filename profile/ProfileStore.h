#pragma once
// Profile.ini in the current directory of the moment the store was created: one section read
// into a map of numbers, one section replaced by KEY=value lines. Knows nothing of boards.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "profile/PrivateProfile.h"
#include "profile/ProfileText.h"

// Keys ordered by plain code-unit comparison, each unit compared as an unsigned number.
struct CodeUnitLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

using ProfileSection = std::map<std::wstring, std::uint32_t, CodeUnitLess>;

// One line of a section as it was written, for telling its reader what became of it.
struct ProfileLine {
    std::wstring key;    // empty for a line without '='
    std::wstring value;  // the text after '=', or the whole line without one
    bool keyed = false;  // the line holds '='
    std::size_t line = 0;  // its number in the file, from 1; 0 when that cannot be told
};

enum class SectionFound { Found, NoFile, NoSection };

class ProfileStore {
public:
    // Fixes the path: Profile.ini in the platform's current directory of this moment.
    explicit ProfileStore(profile::PrivateProfile& platform);
    // The file at this path instead.
    ProfileStore(profile::PrivateProfile& platform, std::wstring path);

    // Empties the map, fills it from the named section; true when it holds an entry afterwards.
    bool ReadSection(const std::wstring& sectionName, ProfileSection& section) const;
    // The named section's lines in file order, as ReadSection reads them.
    SectionFound ReadLines(const std::wstring& sectionName, std::vector<ProfileLine>& lines) const;
    // Every section header of the file with its line; none without a file.
    std::vector<profile::SectionHeader> SectionHeaders() const;
    // A value as ReadSection takes it: wcstoul's reading, 0 without digits, the largest when too long.
    static std::uint32_t Number(const std::wstring& text);
    // The map ReadSection fills from such lines: the first line with a key wins.
    static ProfileSection SectionOf(const std::vector<ProfileLine>& lines);

    // Replaces the named section's body by `body` (KEY=value lines, each ending in CR LF).
    bool WriteSection(const std::wstring& sectionName, const std::wstring& body) const;

    const std::wstring& Path() const { return path_; }

    ProfileStore(const ProfileStore&) = delete;
    ProfileStore& operator=(const ProfileStore&) = delete;

private:
    profile::PrivateProfile& platform_;
    std::wstring path_;
};

// The run's store, made when first asked for, so that its path takes the current directory of
// that moment (the window's board detection; --apply-profile's read). The entry point owns it;
// the window closes it when it is destroyed, and a store asked for after that is made anew.
class LazyProfileStore {
public:
    explicit LazyProfileStore(profile::PrivateProfile& platform) : platform_(platform) {}

    ProfileStore& Get();
    void Close() { store_.reset(); }
    // From now on the store is made on this file instead of Profile.ini in the current directory.
    void UseFile(std::wstring path) {
        file_ = std::move(path);
        store_.reset();
    }

    LazyProfileStore(const LazyProfileStore&) = delete;
    LazyProfileStore& operator=(const LazyProfileStore&) = delete;

private:
    profile::PrivateProfile& platform_;
    std::optional<std::wstring> file_;
    std::optional<ProfileStore> store_;
};
