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

std::optional<double> PexvddVolts(std::int32_t offset) {
    return OffsetVolts(offset, kPexvddLowestOffset, kPexvddVolts);
}
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
std::wstring FrequencyText(std::int32_t step) { return panel_text::Kilohertz(step * kKilohertzPerStep); }
std::optional<double> Kilohertz(std::int32_t step) { return static_cast<double>(step) * kKilohertzPerStep; }

int Of(Item item) { return static_cast<int>(item); }

PanelLayout MakeLayout() {
    using row_text::Level;
    using row_text::Switch;
    using row_text::VoltageCode;
    using row_text::Volts;
    const auto onOff = PanelRow::Outside::Switch;
    PanelLayout layout;
    layout.rows = {
        CheckRow(Of(Item::Auto), L"Auto", ctl::kAuto, ctl::kRow1Slider),
        SliderRow(Of(Item::Nvvdd), ctl::kRow1Label, L"NVVDD", ctl::kRow1Slider, ctl::kRow1Value, kNvvddBase, kNvvddTop,
                  &VoltageCode, "V", &Volts),
        SliderRow(Of(Item::Fbvdd), ctl::kRow2Label, L"FBVDD", ctl::kRow2Slider, ctl::kRow2Value, kFbvddBase, kFbvddTop,
                  &VoltageCode, "V", &Volts),
        SliderRow(Of(Item::Pexvdd), ctl::kRow3Label, L"PEXVDD", ctl::kRow3Slider, ctl::kRow3Value, kPexvddBase,
                  kPexvddTop, &PexvddText, "V", &PexvddVolts),
        SliderRow(Of(Item::Frequency), ctl::kRow4Label, L"PWM Freq.", ctl::kRow4Slider, ctl::kRow4Value,
                  kFrequencyBase, kFrequencyTop, &FrequencyText, "kHz", &Kilohertz),
        SliderRow(Of(Item::Rail1v8), ctl::kRow5Label, L"+1.8V", ctl::kRow5Slider, ctl::kRow5Value, kRail1v8Base,
                  kRail1v8Top, &Rail1v8Text, "V", &Rail1v8Volts),
        ListRow(Of(Item::Ln2), ctl::kList1LeftLabel, L"LN2 VRM mode", ctl::kList1Left, kSwitchItems, &Switch, onOff,
                0),
        ListRow(Of(Item::Loadline), ctl::kList2LeftLabel, L"NVVDD Loadline", ctl::kList2Left, kLoadlineLevels, &Level,
                PanelRow::Outside::Fallback, kDefaultLoadline),
        ListRow(Of(Item::Ocp), ctl::kList3LeftLabel, L"NVVDD OCP", ctl::kList3Left, kSwitchItems, &Switch, onOff, 0),
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

const std::vector<Item>& ApplyOrder() {
    // LN2 is read after the OCP write, which touches the same register.
    static const std::vector<Item> order = {Item::Ocp,    Item::Ln2,     Item::Nvvdd,     Item::Fbvdd,
                                            Item::Pexvdd, Item::Rail1v8, Item::Frequency, Item::Loadline};
    return order;
}

}  // namespace rtx2080ti
