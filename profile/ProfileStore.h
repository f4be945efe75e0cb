#pragma once
// Profile.ini in the current directory of the moment the store was created: one section read
// into a map of numbers, one section replaced by KEY=value lines. Knows nothing of boards.
#include <cstdint>
#include <map>
#include <string>

// Keys ordered by plain code-unit comparison, each unit compared as an unsigned number.
struct CodeUnitLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

using ProfileSection = std::map<std::wstring, std::uint32_t, CodeUnitLess>;

class ProfileStore {
public:
    // Created on the first call, under the store lock; the path is fixed then.
    static ProfileStore* Instance();
    static void Release();

    // Empties the map, fills it from the named section; true when it holds an entry afterwards.
    bool ReadSection(const std::wstring& sectionName, ProfileSection& section) const;
    // Replaces the named section's body by `body` (KEY=value lines, each ending in CR LF).
    bool WriteSection(const std::wstring& sectionName, const std::wstring& body) const;

    const std::wstring& Path() const { return path_; }

    ProfileStore(const ProfileStore&) = delete;
    ProfileStore& operator=(const ProfileStore&) = delete;

private:
    explicit ProfileStore(std::wstring path) : path_(std::move(path)) {}
    ~ProfileStore() = default;

    std::wstring path_;
};
