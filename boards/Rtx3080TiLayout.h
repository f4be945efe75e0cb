#pragma once
// The RTX 3080 Ti family on the panel and in Profile.ini: its rows of the panel table, and its
// profile as settings.
#include <vector>

#include "boards/PanelPresenter.h"
#include "model/ApplyJob.h"
#include "model/Rtx3080TiSettings.h"
#include "profile/ProfileStore.h"

namespace rtx3080ti {

const PanelLayout& Layout();

// The order in which the board is read to fill the panel, after Auto.
const std::vector<Item>& RefreshOrder();

// The profile as Load shows it: every key, or the value a missing key stands for; sliders keep
// their true figures, which the panel's texts show.
BoardSettings FromProfile(const ProfileSection& section);
// Whether the profile ticks the Sync box.
bool SyncOf(const ProfileSection& section);
// The items in the order Save reads and writes them.
const std::vector<Item>& ProfileOrder();
// The section Save writes: the settings read, a setting not read as the value that stands in for
// it (Auto off), and the Sync box.
std::wstring ToProfile(const BoardSettings& read, bool sync);
// The settings as the panel holds them once shown: sliders clamped into their ranges, lists mapped.
BoardSettings AsShown(const BoardSettings& settings);

// The order in which Apply sets the items.
const std::vector<Item>& ApplyOrder();

}  // namespace rtx3080ti
