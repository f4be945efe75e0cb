#pragma once
// A board family as data: what each item is (a flag, a range, a switch, a list of levels), its
// name, the values it takes and how they read, and the family's orders and defaults. The window
// lays its panel out from it; the command line describes settings with it.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/Settings.h"

struct ValueTraits {
    enum class Kind {
        Flag,    // on or off: Auto
        Range,   // base to top, shown as a figure
        Switch,  // "Disable" or "Enable": any value but 0 is on
        Levels,  // levels 0 to top; a level outside shows as the fallback
    };
    Kind kind = Kind::Range;
    const wchar_t* name = nullptr;
    std::int32_t base = 0, top = 0;
    std::int32_t fallback = 0;
    // Range: the value's figure; Switch and Levels: entry i.
    std::wstring (*text)(std::int32_t value) = nullptr;
    // For machine-readable output: the value in a unit, or nullopt where there is no such figure.
    const char* unit = "";
    std::optional<double> (*amount)(std::int32_t value) = nullptr;

    // The value as the setting holds it once taken in: a range clamps, a flag or a switch is 0 or
    // 1, a level outside the list falls back.
    std::int32_t Held(std::int32_t value) const {
        switch (kind) {
            case Kind::Flag:
            case Kind::Switch: return value != 0 ? 1 : 0;
            case Kind::Range: return std::clamp(value, base, top);
            case Kind::Levels: return value >= 0 && value <= top ? value : fallback;
        }
        return value;
    }
};

template <typename Item>
struct ItemTraits {
    Item item;
    ValueTraits value;
    std::optional<Item> disables;  // a flag: the item that takes no input while it is on
    const wchar_t* profileKey = nullptr;  // the key it is saved under, where the family has profiles
};

// What the defaults set, in order: a value, or none for a rail handed back to automatic control.
template <typename Item>
struct Default {
    Item item;
    std::optional<std::int32_t> value;
};

template <typename Item>
struct FamilyTable {
    // In the order the window shows them: the flag, the ranges, then the lists left before right.
    std::vector<ItemTraits<Item>> items;
    std::vector<Item> readOrder;   // how the board is read, item by item
    std::vector<Item> applyOrder;  // how Apply sets the items
    std::vector<Default<Item>> defaults;

    const ItemTraits<Item>& Of(Item item) const {
        return *std::find_if(items.begin(), items.end(), [item](const ItemTraits<Item>& t) { return t.item == item; });
    }
    // The settings as the items hold them once taken in; settings not read stay so.
    Settings<Item> Held(Settings<Item> settings) const {
        for (const ItemTraits<Item>& t : items)
            if (settings[t.item].read) settings[t.item].value = t.value.Held(settings[t.item].value);
        return settings;
    }
};

// A setting as the window would show it.
struct ShownSetting {
    const ValueTraits* traits;
    std::wstring label;
    std::wstring text;    // "1.25000 V", "Level 3", "on"; "not read" when it was not
    std::wstring detail;  // a range's slider position, its span and whether it takes input
    Setting setting;
    const wchar_t* key = nullptr;  // the profile key, where there is one
    bool heldByFlag = false;       // a flag that is on keeps it from input: Apply leaves it alone
};

// Every item of the family, in the window's order.
template <typename Item>
std::vector<ShownSetting> Describe(const FamilyTable<Item>& family, const Settings<Item>& settings) {
    // A flag that is on takes input from the item it disables.
    std::optional<Item> disabled;
    for (const ItemTraits<Item>& t : family.items)
        if (t.disables && settings[t.item].read && settings[t.item].value != 0) disabled = t.disables;

    std::vector<ShownSetting> shown;
    for (const ItemTraits<Item>& t : family.items) {
        const ValueTraits& v = t.value;
        const Setting& setting = settings[t.item];
        ShownSetting s{&v, v.name, L"not read", L"", setting, t.profileKey, disabled == t.item};
        if (setting.read) {
            const std::int32_t held = v.Held(setting.value);
            switch (v.kind) {
                case ValueTraits::Kind::Flag:
                    s.text = held != 0 ? L"on" : L"off";
                    break;
                case ValueTraits::Kind::Range:
                    s.text = v.text(setting.value);
                    s.detail = L"slider " + std::to_wstring(held - v.base) + L" in 0-" +
                               std::to_wstring(v.top - v.base) + (disabled == t.item ? L", disabled" : L"");
                    break;
                case ValueTraits::Kind::Switch:
                case ValueTraits::Kind::Levels:
                    s.text = v.text(held);
                    break;
            }
        }
        shown.push_back(std::move(s));
    }
    return shown;
}
