#pragma once
// How a board family's settings appear on the controller window's panel, as one table for every
// board. The rows put settings into the panel, take from it what the user asks, and describe
// settings in the panel's own texts for front ends that have no panel.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dialog/ControlPanel.h"
#include "model/Settings.h"

struct PanelRow {
    enum class Kind { Check, Slider, List };
    // How a list shows a value outside its items: a switch shows any value but 0 as its item 1,
    // a level list shows its fallback item.
    enum class Outside { Switch, Fallback };

    Kind kind = Kind::Slider;
    int item = 0;                   // the family's item
    int label = 0;                  // the label control; 0 for the check box
    const wchar_t* name = nullptr;  // the label's text; the check box's own text in descriptions
    int control = 0;                // the check box, the slider or the list
    int field = 0;                  // a slider's value field
    int base = 0, top = 0;          // slider: the values its positions cover; list: items 0 to top
    std::wstring (*text)(std::int32_t value) = nullptr;  // slider: the field's text; list: item i
    Outside outside = Outside::Switch;
    int fallback = 0;
    int disables = 0;               // check box: the slider it disables while checked
    // For machine-readable output: the value in a unit, or nullopt where there is no such figure.
    const char* unit = "";
    std::optional<double> (*amount)(std::int32_t value) = nullptr;
};

// The rows' builders.
PanelRow CheckRow(int item, const wchar_t* name, int box, int disables);
PanelRow SliderRow(int item, int label, const wchar_t* name, int slider, int field, int base, int top,
                   std::wstring (*text)(std::int32_t), const char* unit, std::optional<double> (*amount)(std::int32_t));
PanelRow ListRow(int item, int label, const wchar_t* name, int list, int items, std::wstring (*text)(std::int32_t),
                 PanelRow::Outside outside, int fallback);

// Texts and figures every board shows alike.
namespace row_text {
std::wstring VoltageCode(std::int32_t code);   // "1.25000 V"
std::wstring Level(std::int32_t level);        // "Level 3"
std::wstring Switch(std::int32_t on);          // "Enable", "Disable"
std::optional<double> Volts(std::int32_t code);  // a voltage code in volts
}  // namespace row_text

struct PanelLayout {
    // In the window's order, top to bottom: the check box, the slider rows, then the list rows
    // left before right.
    std::vector<PanelRow> rows;
    std::vector<int> hidden;  // labels and lists this board does not use
};

// Labels, slider ranges, list items and what is shown; the check box as given.
void Configure(ControlPanel& panel, const PanelLayout& layout, bool checked);
// One value on its row: a slider's field shows the true figure while its thumb stops at the end of
// its travel; a list selects the item for the value; the check box disables its slider.
void Show(ControlPanel& panel, const PanelRow& row, std::int32_t value);
// What the panel asks for the row: a slider's position within its range, a list's selected item;
// nullopt for a list without a choice or a control the panel lacks.
std::optional<std::int32_t> Take(const ControlPanel& panel, const PanelRow& row);
// A moved slider's field follows its thumb.
void ShowSliderText(ControlPanel& panel, const PanelLayout& layout, int slider);
// The value the panel holds once a value is shown and taken back: sliders clamp, lists map.
std::int32_t AsShown(const PanelRow& row, std::int32_t value);
const PanelRow* RowOf(const PanelLayout& layout, int item);

// A setting as the window would show it.
struct ShownSetting {
    const PanelRow* row;
    std::wstring label;
    std::wstring text;    // "1.25000 V", "Level 3", "on"; "not read" when it was not
    std::wstring detail;  // a slider's position, range and whether it takes input
    Setting setting;
};

// Every row of the layout, in its order, from the settings in item order.
std::vector<ShownSetting> Describe(const PanelLayout& layout, const std::vector<Setting>& byItem);

// What the panel asks for, item by item; the check box is the board's own flag, checked. A list
// without a choice or a control the window lacks gives an item not read, which Apply leaves alone.
template <typename Item>
Settings<Item> TakeAll(const ControlPanel& panel, const PanelLayout& layout, bool checked) {
    Settings<Item> wanted;
    for (const PanelRow& row : layout.rows) {
        const std::optional<std::int32_t> value =
            row.kind == PanelRow::Kind::Check ? std::optional<std::int32_t>(checked ? 1 : 0) : Take(panel, row);
        wanted[static_cast<Item>(row.item)] = value ? Setting::Of(*value) : Setting::NotRead("no choice on the panel");
    }
    return wanted;
}

// The value fields, lists and check box of the settings not read.
template <typename Item>
std::vector<int> UnreadControls(const PanelLayout& layout, const Settings<Item>& read) {
    std::vector<int> unread;
    for (const PanelRow& row : layout.rows)
        if (!read[static_cast<Item>(row.item)].read)
            unread.push_back(row.kind == PanelRow::Kind::Slider ? row.field : row.control);
    return unread;
}

template <typename Item>
std::vector<Setting> ByItem(const Settings<Item>& settings) {
    std::vector<Setting> items;
    for (std::size_t i = 0; i < Settings<Item>::kCount; ++i) items.push_back(settings[static_cast<Item>(i)]);
    return items;
}
