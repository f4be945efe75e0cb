#pragma once
// The RTX 3080 Ti profile read into wanted settings, the one way both front ends take it: the
// window's Load and --apply-profile. What the section holds that cannot be taken as written (a
// value outside its item's range, one that is not a whole number, a key the section does not
// know, a key given twice) is used as Load always used it and told as a warning: the window shows
// no message, the command line prints them.
#include <cstddef>
#include <string>
#include <vector>

#include "boards/Rtx3080TiFamily.h"
#include "profile/ProfileStore.h"

struct ProfileWarning {
    std::wstring file;
    std::size_t line = 0;  // 0 when the file's text could not tell it
    std::wstring key;
    std::wstring value;
    std::wstring text;  // the whole warning: where, what, and what is used instead
};

struct Rtx3080TiProfile {
    std::wstring sectionName;
    SectionFound found = SectionFound::NoSection;
    ProfileSection section;           // as the store reads it
    rtx3080ti::BoardSettings stored;  // every key's value as the profile gives it, a missing key's default
    rtx3080ti::BoardSettings wanted;  // as Load leaves them for Apply: each value as its item holds it
    bool sync = false;
    std::vector<ProfileWarning> warnings;
};

Rtx3080TiProfile ReadRtx3080TiProfile(const ProfileStore& store, const std::wstring& sectionName);
