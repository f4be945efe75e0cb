#pragma once
// The one presenter of board settings on the controller window's panel: a family's items (from
// its table) placed on the panel's controls (from its panel map). It lays the panel out, shows
// settings on it and takes the user's input back as wanted settings.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "boards/ItemTraits.h"
#include "dialog/ControlPanel.h"
#include "model/Settings.h"

// Where an item sits: a flag's check box, a range's label, slider and value field, a list's label
// and list.
template <typename Item>
struct PanelPlace {
    Item item;
    int label = 0;  // 0 for the check box, whose text is its own
    int control = 0;
    int field = 0;  // a range's value field
};

template <typename Item>
struct PanelMap {
    std::vector<PanelPlace<Item>> places;
    std::vector<int> hidden;  // labels and lists the family does not use
};

template <typename Item>
class PanelPresenter {
public:
    // Both are kept by reference: the family's table and its map, which live as long as the program.
    PanelPresenter(const FamilyTable<Item>& family, const PanelMap<Item>& map) : family_(family), map_(map) {}
    PanelPresenter(FamilyTable<Item>&&, const PanelMap<Item>&) = delete;
    PanelPresenter(const FamilyTable<Item>&, PanelMap<Item>&&) = delete;

    // Labels, slider ranges, list items and what is shown; the check box as given. Lists are
    // cleared before they are filled, so a second layout leaves each item once.
    void Configure(ControlPanel& panel, bool checked) const {
        for (const Row& row : Rows(Kind::Flag)) {
            if (!panel.HasControl(row.place.control)) continue;
            panel.SetCheck(row.place.control, checked);
            panel.Show(row.place.control, true);
        }
        for (const Row& row : Rows()) {
            if (row.place.label == 0 || !panel.HasControl(row.place.label)) continue;
            panel.SetText(row.place.label, row.value.name);
            panel.Show(row.place.label, true);
        }
        for (const Row& row : Rows(Kind::Range)) {
            if (!panel.HasControl(row.place.control)) continue;
            panel.SetRange(row.place.control, 0, row.value.top - row.value.base);
            panel.Show(row.place.control, true);
        }
        for (const Row& row : Rows(Kind::Range))
            if (panel.HasControl(row.place.field)) panel.Show(row.place.field, true);
        for (const Row& row : Rows()) {
            if (!IsList(row.value) || !panel.HasControl(row.place.control)) continue;
            panel.ClearList(row.place.control);
            for (int i = 0; i <= row.value.top; ++i) panel.InsertItem(row.place.control, i, row.value.text(i));
            panel.Show(row.place.control, true);
        }
        for (int id : map_.hidden)
            if (panel.HasControl(id)) panel.Show(id, false);
    }

    // One value: a slider's field shows the true figure while its thumb stops at the end of its
    // travel; a list selects the item for the value; the check box disables its slider.
    void Show(ControlPanel& panel, Item item, std::int32_t value) const {
        const Row row = RowOf(item);
        const ValueTraits& v = row.value;
        switch (v.kind) {
            case Kind::Flag:
                panel.SetCheck(row.place.control, value != 0);
                if (const std::optional<Item> disables = family_.Of(item).disables)
                    panel.Enable(RowOf(*disables).place.control, value == 0);
                break;
            case Kind::Range:
                panel.SetText(row.place.field, v.text(value));
                panel.SetPos(row.place.control, v.Held(value) - v.base);
                break;
            case Kind::Switch:
            case Kind::Levels:
                panel.SetSelection(row.place.control, v.Held(value));
                break;
        }
    }

    // What the panel asks for: slider positions held within their ranges, the lists' choices, and
    // the flag as given (the board's own). A list without a choice, or an item whose control the
    // window lacks, is not read, so Apply leaves it alone.
    Settings<Item> Wanted(const ControlPanel& panel, bool checked) const {
        Settings<Item> wanted;
        for (const Row& row : Rows()) {
            const std::optional<std::int32_t> value =
                row.value.kind == Kind::Flag ? std::optional<std::int32_t>(checked ? 1 : 0) : Take(panel, row);
            wanted[row.place.item] = value ? Setting::Of(*value) : Setting::NotRead("no choice on the panel");
        }
        return wanted;
    }

    // Settings as the panel holds them once shown: held within what each item takes; an item
    // whose control the window lacks is not read.
    Settings<Item> AsHeld(const ControlPanel& panel, const Settings<Item>& settings) const {
        Settings<Item> held = family_.Held(settings);
        for (const Row& row : Rows())
            if (!panel.HasControl(row.place.control))
                held[row.place.item] = Setting::NotRead("no such control on the panel");
        return held;
    }

    // A moved slider's field follows its thumb; a control that is no slider of the family changes nothing.
    void ShowSliderText(ControlPanel& panel, int slider) const {
        for (const Row& row : Rows(Kind::Range))
            if (row.place.control == slider)
                if (const std::optional<std::int32_t> value = Take(panel, row))
                    panel.SetText(row.place.field, row.value.text(*value));
    }

    // The control that shows the item: a check box, a slider or a list.
    int ControlOf(Item item) const { return RowOf(item).place.control; }

private:
    using Kind = ValueTraits::Kind;
    struct Row {
        PanelPlace<Item> place;
        ValueTraits value;
    };

    static bool IsList(const ValueTraits& v) { return v.kind == Kind::Switch || v.kind == Kind::Levels; }

    // The places in the family's order, those of one kind only when asked.
    std::vector<Row> Rows(std::optional<Kind> only = std::nullopt) const {
        std::vector<Row> rows;
        for (const ItemTraits<Item>& t : family_.items)
            if (!only || t.value.kind == *only) rows.push_back(Row{PlaceOf(t.item), t.value});
        return rows;
    }
    Row RowOf(Item item) const { return Row{PlaceOf(item), family_.Of(item).value}; }
    PanelPlace<Item> PlaceOf(Item item) const {
        return *std::find_if(map_.places.begin(), map_.places.end(),
                             [item](const PanelPlace<Item>& s) { return s.item == item; });
    }

    static std::optional<std::int32_t> Take(const ControlPanel& panel, const Row& row) {
        const ValueTraits& v = row.value;
        if (!panel.HasControl(row.place.control)) return std::nullopt;
        switch (v.kind) {
            case Kind::Flag:
                return panel.IsChecked(row.place.control) ? 1 : 0;
            case Kind::Range:
                return std::clamp(panel.GetPos(row.place.control), 0, v.top - v.base) + v.base;
            case Kind::Switch:
            case Kind::Levels: {
                const int selection = panel.GetSelection(row.place.control);
                if (selection < 0 || selection > v.top) return std::nullopt;
                return selection;
            }
        }
        return std::nullopt;
    }

    const FamilyTable<Item>& family_;
    const PanelMap<Item>& map_;
};
