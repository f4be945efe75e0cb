#include "boards/Rtx2080TiLayout.h"

#include "boards/PanelText.h"
#include "boards/Rtx2080TiRegisters.h"
#include "res/ControlIds.h"

namespace rtx2080ti {

namespace {

constexpr int kSwitchItems = 2;  // "Disable", "Enable"

template <std::size_t N>
std::optional<double> OffsetVolts(std::int32_t offset, int lowest, const std::array<double, N>& volts) {
    const int index = offset - lowest;
    if (index < 0 || index >= static_cast<int>(N)) return std::nullopt;
    return volts[static_cast<std::size_t>(index)];
}

std::optional<double> PexvddVolts(std::int32_t offset) { return OffsetVolts(offset, kPexvddLowestOffset, kPexvddVolts); }
std::optional<double> Rail1v8Volts(std::int32_t offset) {
    return OffsetVolts(offset, kRail1v8LowestOffset, kRail1v8Volts);
}

std::wstring PexvddText(std::int32_t offset) {
    const std::optional<double> volts = PexvddVolts(offset);
    return volts ? panel_text::Volts3(*volts) : panel_text::Format("offset %+d", offset);
}
std::wstring Rail1v8Text(std::int32_t offset) {
    const std::optional<double> volts = Rail1v8Volts(offset);
    return volts ? panel_text::Volts2(*volts) : panel_text::Format("offset %+d", offset);
}
std::wstring VoltageText(std::int32_t code) { return panel_text::VoltageCode(code); }
std::wstring FrequencyText(std::int32_t step) { return panel_text::Kilohertz(step * kKilohertzPerStep); }
std::wstring LevelText(std::int32_t level) { return panel_text::Level(level); }
std::wstring SwitchText(std::int32_t on) { return on != 0 ? panel_text::Enable() : panel_text::Disable(); }

std::optional<double> Volts(std::int32_t code) { return code * 6.25 / 1000.0; }
std::optional<double> Kilohertz(std::int32_t step) { return static_cast<double>(step) * kKilohertzPerStep; }
std::optional<double> Number(std::int32_t value) { return value; }

PanelRow Slider(Item item, int label, const wchar_t* name, int slider, int field, int base, int top,
                std::wstring (*text)(std::int32_t), const char* unit, std::optional<double> (*amount)(std::int32_t)) {
    PanelRow row;
    row.kind = PanelRow::Kind::Slider;
    row.item = static_cast<int>(item);
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

PanelRow List(Item item, int label, const wchar_t* name, int list, int items, std::wstring (*text)(std::int32_t),
              PanelRow::Outside outside, const char* unit) {
    PanelRow row;
    row.kind = PanelRow::Kind::List;
    row.item = static_cast<int>(item);
    row.label = label;
    row.name = name;
    row.control = list;
    row.top = items - 1;
    row.text = text;
    row.outside = outside;
    row.fallback = kDefaultLoadline;
    row.unit = unit;
    row.amount = outside == PanelRow::Outside::Fallback ? &Number : nullptr;
    return row;
}

PanelLayout MakeLayout() {
    PanelLayout layout;
    PanelRow automatic;
    automatic.kind = PanelRow::Kind::Check;
    automatic.item = static_cast<int>(Item::Auto);
    automatic.name = L"Auto";
    automatic.control = ctl::kAuto;
    automatic.disables = ctl::kRow1Slider;
    layout.rows = {
        automatic,
        Slider(Item::Nvvdd, ctl::kRow1Label, L"NVVDD", ctl::kRow1Slider, ctl::kRow1Value, kNvvddBase, kNvvddTop,
               &VoltageText, "V", &Volts),
        Slider(Item::Fbvdd, ctl::kRow2Label, L"FBVDD", ctl::kRow2Slider, ctl::kRow2Value, kFbvddBase, kFbvddTop,
               &VoltageText, "V", &Volts),
        Slider(Item::Pexvdd, ctl::kRow3Label, L"PEXVDD", ctl::kRow3Slider, ctl::kRow3Value, kPexvddBase, kPexvddTop,
               &PexvddText, "V", &PexvddVolts),
        Slider(Item::Frequency, ctl::kRow4Label, L"PWM Freq.", ctl::kRow4Slider, ctl::kRow4Value, kFrequencyBase,
               kFrequencyTop, &FrequencyText, "kHz", &Kilohertz),
        Slider(Item::Rail1v8, ctl::kRow5Label, L"+1.8V", ctl::kRow5Slider, ctl::kRow5Value, kRail1v8Base, kRail1v8Top,
               &Rail1v8Text, "V", &Rail1v8Volts),
        List(Item::Ln2, ctl::kList1LeftLabel, L"LN2 VRM mode", ctl::kList1Left, kSwitchItems, &SwitchText,
             PanelRow::Outside::Switch, ""),
        List(Item::Loadline, ctl::kList2LeftLabel, L"NVVDD Loadline", ctl::kList2Left, kLoadlineLevels, &LevelText,
             PanelRow::Outside::Fallback, "level"),
        List(Item::Ocp, ctl::kList3LeftLabel, L"NVVDD OCP", ctl::kList3Left, kSwitchItems, &SwitchText,
             PanelRow::Outside::Switch, ""),
    };
    layout.hidden = {ctl::kList1RightLabel, ctl::kList2RightLabel, ctl::kList3RightLabel,
                     ctl::kList1Right,      ctl::kList2Right,      ctl::kList3Right};
    return layout;
}

}  // namespace

const PanelLayout& Layout() {
    static const PanelLayout layout = MakeLayout();
    return layout;
}

std::vector<ApplyJob::Want> ApplyOrder(const BoardSettings& wanted) {
    const bool automatic = wanted[Item::Auto].read && wanted[Item::Auto].value != 0;
    std::vector<ApplyJob::Want> order;
    // LN2 is read after the OCP write, which touches the same register.
    for (Item item : {Item::Ocp, Item::Ln2, Item::Nvvdd, Item::Fbvdd, Item::Pexvdd, Item::Rail1v8, Item::Frequency,
                      Item::Loadline}) {
        if (item == Item::Nvvdd && automatic) continue;
        if (wanted[item].read) order.push_back({static_cast<int>(item), wanted[item].value});
    }
    return order;
}

}  // namespace rtx2080ti
