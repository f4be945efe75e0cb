#include "app/PanelReport.h"

#include <algorithm>

#include "res/ControlIds.h"

namespace {

struct SliderRow {
    int label, slider, value;
};
struct ListRow {
    int label, list;
};

constexpr SliderRow kSliderRows[] = {
    {ctl::kRow1Label, ctl::kRow1Slider, ctl::kRow1Value}, {ctl::kRow2Label, ctl::kRow2Slider, ctl::kRow2Value},
    {ctl::kRow3Label, ctl::kRow3Slider, ctl::kRow3Value}, {ctl::kRow4Label, ctl::kRow4Slider, ctl::kRow4Value},
    {ctl::kRow5Label, ctl::kRow5Slider, ctl::kRow5Value},
};

constexpr ListRow kListRows[] = {
    {ctl::kList1LeftLabel, ctl::kList1Left}, {ctl::kList1RightLabel, ctl::kList1Right},
    {ctl::kList2LeftLabel, ctl::kList2Left}, {ctl::kList2RightLabel, ctl::kList2Right},
    {ctl::kList3LeftLabel, ctl::kList3Left}, {ctl::kList3RightLabel, ctl::kList3Right},
};

constexpr int kCheckBoxes[] = {ctl::kSync, ctl::kAuto};

bool Shown(const HeadlessPanel& panel, int id) { return panel.HasControl(id) && panel.IsVisible(id); }

std::wstring Label(const HeadlessPanel& panel, int id) { return panel.HasControl(id) ? panel.Text(id) : L""; }

}  // namespace

std::vector<PanelReading> ReadPanel(const HeadlessPanel& panel, const std::vector<int>& unread) {
    std::vector<PanelReading> readings;
    for (int id : kCheckBoxes) {
        if (!Shown(panel, id)) continue;
        readings.push_back({id, panel.Text(id), panel.IsChecked(id) ? L"on" : L"off", L""});
    }
    for (const SliderRow& row : kSliderRows) {
        if (!Shown(panel, row.value)) continue;
        std::wstring detail;
        if (Shown(panel, row.slider)) {
            const HeadlessPanel::Control& slider = panel.Get(row.slider);
            detail = L"slider " + std::to_wstring(slider.pos) + L" in " + std::to_wstring(slider.min) + L"-" +
                     std::to_wstring(slider.max) + (slider.enabled ? L"" : L", disabled");
        }
        readings.push_back({row.value, Label(panel, row.label), panel.Text(row.value), detail});
    }
    for (const ListRow& row : kListRows) {
        if (!Shown(panel, row.list)) continue;
        const HeadlessPanel::Control& list = panel.Get(row.list);
        const bool selected = list.selection >= 0 && static_cast<std::size_t>(list.selection) < list.items.size();
        readings.push_back({row.list, Label(panel, row.label),
                            selected ? list.items[static_cast<std::size_t>(list.selection)] : L"(none)", L""});
    }
    for (PanelReading& reading : readings) {
        if (std::find(unread.begin(), unread.end(), reading.id) == unread.end()) continue;
        reading.read = false;
        reading.value = L"not read";
        reading.detail.clear();
    }
    return readings;
}

bool IsBoardValue(const PanelReading& reading) { return reading.id != ctl::kSync; }

std::vector<std::wstring> PanelLines(const std::vector<PanelReading>& readings) {
    std::vector<std::wstring> lines;
    for (const PanelReading& reading : readings) {
        std::wstring line = reading.label + L": " + reading.value;
        if (!reading.detail.empty()) line += L"  (" + reading.detail + L")";
        lines.push_back(line);
    }
    return lines;
}

std::wstring BoardSettingsText(const std::vector<PanelReading>& readings) {
    std::wstring text;
    for (const PanelReading& reading : readings) {
        if (!IsBoardValue(reading)) continue;
        if (!text.empty()) text += L", ";
        text += reading.label + L" " + reading.value;
    }
    return text;
}
