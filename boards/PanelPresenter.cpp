#include "boards/PanelPresenter.h"

#include <algorithm>

#include "boards/PanelText.h"

namespace {

void ConfigureRow(ControlPanel& panel, const PanelRow& row) {
    if (row.label != 0 && panel.HasControl(row.label)) {
        panel.SetText(row.label, row.name);
        panel.Show(row.label, true);
    }
}

}  // namespace

PanelRow CheckRow(int item, const wchar_t* name, int box, int disables) {
    PanelRow row;
    row.kind = PanelRow::Kind::Check;
    row.item = item;
    row.name = name;
    row.control = box;
    row.disables = disables;
    return row;
}

PanelRow SliderRow(int item, int label, const wchar_t* name, int slider, int field, int base, int top,
                   std::wstring (*text)(std::int32_t), const char* unit,
                   std::optional<double> (*amount)(std::int32_t)) {
    PanelRow row;
    row.kind = PanelRow::Kind::Slider;
    row.item = item;
    row.label = label;
    row.name = name;
    row.control = slider;
    row.field = field;
    row.base = base;
    row.top = top;
    row.text = text;
    row.unit = unit;
    row.amount = amount;
    return row;
}

namespace {
std::optional<double> Number(std::int32_t value) { return value; }
}  // namespace

PanelRow ListRow(int item, int label, const wchar_t* name, int list, int items, std::wstring (*text)(std::int32_t),
                 PanelRow::Outside outside, int fallback) {
    PanelRow row;
    row.kind = PanelRow::Kind::List;
    row.item = item;
    row.label = label;
    row.name = name;
    row.control = list;
    row.top = items - 1;
    row.text = text;
    row.outside = outside;
    row.fallback = fallback;
    // A level is a number; a switch is on or off and has none.
    if (outside == PanelRow::Outside::Fallback) {
        row.unit = "level";
        row.amount = &Number;
    }
    return row;
}

namespace row_text {
std::wstring VoltageCode(std::int32_t code) { return panel_text::VoltageCode(code); }
std::wstring Level(std::int32_t level) { return panel_text::Level(level); }
std::wstring Switch(std::int32_t on) { return on != 0 ? panel_text::Enable() : panel_text::Disable(); }
std::optional<double> Volts(std::int32_t code) { return code * 6.25 / 1000.0; }
}  // namespace row_text

void Configure(ControlPanel& panel, const PanelLayout& layout, bool checked) {
    for (const PanelRow& row : layout.rows) {
        if (row.kind != PanelRow::Kind::Check || !panel.HasControl(row.control)) continue;
        panel.SetCheck(row.control, checked);
        panel.Show(row.control, true);
    }
    for (const PanelRow& row : layout.rows) ConfigureRow(panel, row);
    for (const PanelRow& row : layout.rows) {
        if (row.kind != PanelRow::Kind::Slider || !panel.HasControl(row.control)) continue;
        panel.SetRange(row.control, 0, row.top - row.base);
        panel.Show(row.control, true);
    }
    for (const PanelRow& row : layout.rows)
        if (row.kind == PanelRow::Kind::Slider && panel.HasControl(row.field)) panel.Show(row.field, true);
    for (const PanelRow& row : layout.rows) {
        if (row.kind != PanelRow::Kind::List || !panel.HasControl(row.control)) continue;
        panel.ClearList(row.control);
        for (int i = 0; i <= row.top; ++i) panel.InsertItem(row.control, i, row.text(i));
        panel.Show(row.control, true);
    }
    for (int id : layout.hidden)
        if (panel.HasControl(id)) panel.Show(id, false);
}

std::int32_t AsShown(const PanelRow& row, std::int32_t value) {
    switch (row.kind) {
        case PanelRow::Kind::Check:
            return value != 0 ? 1 : 0;
        case PanelRow::Kind::Slider:
            return std::clamp(value, row.base, row.top);
        case PanelRow::Kind::List:
            if (row.outside == PanelRow::Outside::Switch) return value != 0 ? 1 : 0;
            return value >= 0 && value <= row.top ? value : row.fallback;
    }
    return value;
}

void Show(ControlPanel& panel, const PanelRow& row, std::int32_t value) {
    switch (row.kind) {
        case PanelRow::Kind::Check:
            panel.SetCheck(row.control, value != 0);
            if (row.disables != 0) panel.Enable(row.disables, value == 0);
            break;
        case PanelRow::Kind::Slider:
            panel.SetText(row.field, row.text(value));
            panel.SetPos(row.control, AsShown(row, value) - row.base);
            break;
        case PanelRow::Kind::List:
            panel.SetSelection(row.control, AsShown(row, value));
            break;
    }
}

std::optional<std::int32_t> Take(const ControlPanel& panel, const PanelRow& row) {
    if (!panel.HasControl(row.control)) return std::nullopt;
    switch (row.kind) {
        case PanelRow::Kind::Check:
            return panel.IsChecked(row.control) ? 1 : 0;
        case PanelRow::Kind::Slider:
            return std::clamp(panel.GetPos(row.control), 0, row.top - row.base) + row.base;
        case PanelRow::Kind::List: {
            const int selection = panel.GetSelection(row.control);
            if (selection < 0 || selection > row.top) return std::nullopt;
            return selection;
        }
    }
    return std::nullopt;
}

void ShowSliderText(ControlPanel& panel, const PanelLayout& layout, int slider) {
    for (const PanelRow& row : layout.rows)
        if (row.kind == PanelRow::Kind::Slider && row.control == slider)
            if (const std::optional<std::int32_t> value = Take(panel, row)) panel.SetText(row.field, row.text(*value));
}

const PanelRow* RowOf(const PanelLayout& layout, int item) {
    for (const PanelRow& row : layout.rows)
        if (row.item == item) return &row;
    return nullptr;
}

std::vector<ShownSetting> Describe(const PanelLayout& layout, const std::vector<Setting>& byItem) {
    // The check box's slider takes no input while the box is checked.
    int disabled = 0;
    for (const PanelRow& row : layout.rows)
        if (row.kind == PanelRow::Kind::Check && byItem[static_cast<std::size_t>(row.item)].read &&
            byItem[static_cast<std::size_t>(row.item)].value != 0)
            disabled = row.disables;

    std::vector<ShownSetting> shown;
    for (const PanelRow& row : layout.rows) {
        const Setting& setting = byItem[static_cast<std::size_t>(row.item)];
        ShownSetting s{&row, row.name, L"not read", L"", setting};
        if (setting.read) {
            const std::int32_t value = AsShown(row, setting.value);
            switch (row.kind) {
                case PanelRow::Kind::Check:
                    s.text = value != 0 ? L"on" : L"off";
                    break;
                case PanelRow::Kind::Slider:
                    s.text = row.text(setting.value);
                    s.detail = L"slider " + std::to_wstring(value - row.base) + L" in 0-" +
                               std::to_wstring(row.top - row.base) + (row.control == disabled ? L", disabled" : L"");
                    break;
                case PanelRow::Kind::List:
                    s.text = row.text(value);
                    break;
            }
        }
        shown.push_back(std::move(s));
    }
    return shown;
}
