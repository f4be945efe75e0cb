#pragma once
// The RTX 3080 Ti profile read into wanted settings, the one way both front ends take it: the
// window's Load and --apply-profile. What the section holds that cannot be taken as written (a
// value outside its item's range, one that is not a whole number, a key the section does not
// know, a key given twice) is used as Load always used it and told as a warning: the window shows
// no message, the command line prints them.
#include <cstddef>
#include <optional>
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

// The sections of a file that hold one card's own profile: the family's section name, a space and
// the card's PCI bus id, in full or short form ("[RTX3080TiZYL 0000:01:00.0]", "[RTX3080TiZYL
// 01:00.0]"), either letter case. Sections that cannot serve as written are told as warnings: a
// card section naming no bus id or no GPU of the machine, one that holds no KEY=value line, and a
// section (the family's own included) given a second time, which reads never see.
class CardSections {
public:
    // machineBusIds: every GPU's bus id, the cards a section may name.
    CardSections(const ProfileStore& store, const std::wstring& familySection,
                 const std::vector<std::wstring>& machineBusIds);

    // The name the card's own section goes by in the file; none when it has none.
    std::optional<std::wstring> For(const std::wstring& busId) const;
    // A card section found with nothing in it, for the warning that its card takes the family's.
    void Empty(const std::wstring& sectionName);
    const std::vector<ProfileWarning>& Warnings() const { return warnings_; }

private:
    struct Card {
        std::wstring busId;
        std::wstring sectionName;
        std::size_t line;
    };
    std::wstring file_;
    std::wstring familySection_;
    std::vector<Card> cards_;
    std::vector<ProfileWarning> warnings_;
};
