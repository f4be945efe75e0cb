#pragma once
// The RTX 2080 Ti family: its items, their ranges and texts, its orders and defaults, and the
// board type that drives it.
#include "boards/FamilyBoard.h"
#include "boards/ItemTraits.h"
#include "boards/Rtx2080TiProtocol.h"
#include "model/Rtx2080TiSettings.h"

struct Rtx2080TiFamily {
    using Item = rtx2080ti::Item;
    using Protocol = Rtx2080TiProtocol;
    // Sync reaches the boards of one family.
    static constexpr int kId = 1;

    static const FamilyTable<Item>& Table();
    static Plan HandBack(const Protocol& protocol, Item rail);
    static Plan AfterDefaults(const Protocol&) { return {}; }
    static constexpr bool kHasProfile = false;
};

namespace rtx2080ti {
using Board = FamilyBoard<Rtx2080TiFamily>;
}  // namespace rtx2080ti
