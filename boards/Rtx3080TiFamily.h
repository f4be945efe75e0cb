#pragma once
// The RTX 3080 Ti family: its items, their ranges and texts, its orders and defaults, its profile
// in Profile.ini, and the board type that drives it through either protocol (its MCU, its
// regulators).
#include <optional>
#include <string>
#include <vector>

#include "boards/FamilyBoard.h"
#include "boards/ItemTraits.h"
#include "boards/Rtx3080TiProtocol.h"
#include "model/Rtx3080TiSettings.h"
#include "profile/ProfileStore.h"

struct Rtx3080TiFamily {
    using Item = rtx3080ti::Item;
    using Protocol = Rtx3080TiProtocol;
    // Sync reaches the boards of one family.
    static constexpr int kId = 2;

    static const FamilyTable<Item>& Table();
    // NVVDD or MSVDD handed back to automatic control.
    static Plan HandBack(const Protocol& protocol, Item rail);
    static Plan AfterDefaults(const Protocol& protocol) { return protocol.AfterDefaultsPlan(); }

    // The family's profile. Both boards' profiles live in this section of Profile.ini.
    static constexpr bool kHasProfile = true;
    static const wchar_t* ProfileSectionName() { return L"RTX3080TiZYL"; }
    // The profile as Load takes it: every key, or the value a missing key stands for, as stored.
    static rtx3080ti::BoardSettings FromProfile(const ProfileSection& section);
    // Whether the profile sets the Sync flag.
    static bool SyncOf(const ProfileSection& section);
    // The key an item is saved under; null for an item without one.
    static const wchar_t* ProfileKey(Item item);
    // The item a key sets; none for the Sync key and for keys the profile does not have.
    static std::optional<Item> ProfileItem(const std::wstring& key);
    static const wchar_t* SyncKey();
    // The items in the order Save reads and writes them.
    static const std::vector<Item>& ProfileOrder();
    // The section Save writes: the settings read, a setting not read as the value that stands in
    // for it (Auto off), and the Sync flag.
    static std::wstring ToProfile(const rtx3080ti::BoardSettings& read, bool sync);
};

namespace rtx3080ti {
using Board = FamilyBoard<Rtx3080TiFamily>;
}  // namespace rtx3080ti
