// A family's table (boards/) and its places on the panel (window/) are two lists of its items. The
// presenter looks each item up in both, so each must name every item of the family exactly once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>

#include "boards/Rtx2080TiFamily.h"
#include "boards/Rtx3080TiFamily.h"
#include "window/PanelMaps.h"

namespace {

template <typename Family>
void ExpectEveryItemOnceInTheTableTheReadOrderAndThePanel() {
    using Item = typename Family::Item;
    const FamilyTable<Item>& table = Family::Table();
    const PanelMap<Item>& map = PanelMapOf<Family>();
    for (std::size_t i = 0; i < static_cast<std::size_t>(Item::kCount); ++i) {
        const auto item = static_cast<Item>(i);
        SCOPED_TRACE(i);
        EXPECT_EQ(std::count_if(table.items.begin(), table.items.end(), [item](const auto& t) { return t.item == item; }), 1);
        EXPECT_EQ(std::count(table.readOrder.begin(), table.readOrder.end(), item), 1);
        EXPECT_EQ(std::count_if(map.places.begin(), map.places.end(), [item](const auto& p) { return p.item == item; }), 1);
    }
    EXPECT_EQ(table.items.size(), static_cast<std::size_t>(Item::kCount));
    EXPECT_EQ(map.places.size(), static_cast<std::size_t>(Item::kCount));
}

TEST(PanelMapTest, EachFamilyNamesEveryItemOnceInItsTableItsReadOrderAndOnThePanel) {
    ExpectEveryItemOnceInTheTableTheReadOrderAndThePanel<Rtx2080TiFamily>();
    ExpectEveryItemOnceInTheTableTheReadOrderAndThePanel<Rtx3080TiFamily>();
}

}  // namespace
