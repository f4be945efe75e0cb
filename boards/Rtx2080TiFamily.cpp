#include "boards/Rtx2080TiFamily.h"

#include <array>

#include "boards/Rtx2080TiRegisters.h"
#include "boards/ValueText.h"

namespace rtx2080ti {
namespace {

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

// An offset outside the voltage table has no voltage to show: the offset itself, "offset +16".
std::wstring PexvddText(std::int32_t offset) {
    const std::optional<double> volts = PexvddVolts(offset);
    return volts ? value_text::Volts3(*volts) : value_text::Format("offset %+d", offset);
}
std::wstring Rail1v8Text(std::int32_t offset) {
    const std::optional<double> volts = Rail1v8Volts(offset);
    return volts ? value_text::Volts2(*volts) : value_text::Format("offset %+d", offset);
}
std::wstring FrequencyText(std::int32_t step) { return value_text::Format("%d kHz", step * kKilohertzPerStep); }
std::optional<double> Kilohertz(std::int32_t step) { return static_cast<double>(step) * kKilohertzPerStep; }
std::optional<double> Number(std::int32_t value) { return value; }

using Kind = ValueTraits::Kind;

FamilyTable<Item> MakeTable() {
    using value_text::VoltageCode;
    using value_text::Volts;
    FamilyTable<Item> t;
    t.items = {
        {Item::Auto, {Kind::Flag, L"Auto"}, Item::Nvvdd},
        {Item::Nvvdd, {Kind::Range, L"NVVDD", kNvvddBase, kNvvddTop, 0, &VoltageCode, "V", &Volts}, {}},
        {Item::Fbvdd, {Kind::Range, L"FBVDD", kFbvddBase, kFbvddTop, 0, &VoltageCode, "V", &Volts}, {}},
        {Item::Pexvdd, {Kind::Range, L"PEXVDD", kPexvddBase, kPexvddTop, 0, &PexvddText, "V", &PexvddVolts}, {}},
        {Item::Frequency,
         {Kind::Range, L"PWM Freq.", kFrequencyBase, kFrequencyTop, 0, &FrequencyText, "kHz", &Kilohertz},
         {}},
        {Item::Rail1v8, {Kind::Range, L"+1.8V", kRail1v8Base, kRail1v8Top, 0, &Rail1v8Text, "V", &Rail1v8Volts}, {}},
        {Item::Ln2, {Kind::Switch, L"LN2 VRM mode", 0, 1, 0, &value_text::Switch}, {}},
        {Item::Loadline,
         {Kind::Levels, L"NVVDD Loadline", 0, kLoadlineLevels - 1, kDefaultLoadline, &value_text::Level, "level",
          &Number},
         {}},
        {Item::Ocp, {Kind::Switch, L"NVVDD OCP", 0, 1, 0, &value_text::Switch}, {}},
    };
    t.readOrder = {Item::Auto,      Item::Nvvdd,   Item::Fbvdd, Item::Pexvdd,  Item::Frequency,
                   Item::Rail1v8,   Item::Ln2,     Item::Loadline, Item::Ocp};
    // LN2 is read after the OCP write, which touches the same register.
    t.applyOrder = {Item::Ocp,    Item::Ln2,     Item::Nvvdd,     Item::Fbvdd,
                    Item::Pexvdd, Item::Rail1v8, Item::Frequency, Item::Loadline};
    t.defaults = {
        {Item::Ocp, kDefaultOcp ? 1 : 0},
        {Item::Ln2, kDefaultLn2 ? 1 : 0},
        {Item::Nvvdd, std::nullopt},
        {Item::Fbvdd, kDefaultFbvdd},
        {Item::Pexvdd, kDefaultPexvdd},
        {Item::Rail1v8, kDefaultRail1v8},
        {Item::Frequency, kDefaultFrequency},
        {Item::Loadline, kDefaultLoadline},
    };
    return t;
}

}  // namespace
}  // namespace rtx2080ti

const FamilyTable<rtx2080ti::Item>& Rtx2080TiFamily::Table() {
    static const FamilyTable<Item> table = rtx2080ti::MakeTable();
    return table;
}

// The board has one rail under automatic control, NVVDD.
Plan Rtx2080TiFamily::HandBack(const Protocol& protocol, Item) { return protocol.RestoreAutoPlan(); }
