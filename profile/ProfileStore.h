#pragma once
// Profile.ini in the current directory of the moment the store was created: one section read
// into a map of numbers, one section replaced by KEY=value lines. Knows nothing of boards.
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "profile/PrivateProfile.h"

// Keys ordered by plain code-unit comparison, each unit compared as an unsigned number.
struct CodeUnitLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

using ProfileSection = std::map<std::wstring, std::uint32_t, CodeUnitLess>;

class ProfileStore {
public:
    // Fixes the path: Profile.ini in the platform's current directory of this moment.
    explicit ProfileStore(profile::PrivateProfile& platform);

    // Empties the map, fills it from the named section; true when it holds an entry afterwards.
    bool ReadSection(const std::wstring& sectionName, ProfileSection& section) const;
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

    LazyProfileStore(const LazyProfileStore&) = delete;
    LazyProfileStore& operator=(const LazyProfileStore&) = delete;

private:
    profile::PrivateProfile& platform_;
    std::optional<ProfileStore> store_;
};
