#include "boards/Rtx3080TiLayout.h"

#include "boards/PanelText.h"
#include "boards/Rtx3080TiRegisters.h"
#include "res/ControlIds.h"

namespace rtx3080ti {

namespace {

// Multiplied in 64 bits, so a wild profile value shows its true figure rather than a wrapped one.
std::wstring FrequencyText(std::int32_t frequency) {
    return panel_text::Format("%lld kHz", static_cast<long long>(frequency) * kKilohertzPerFrequencyUnit);
}
std::optional<double> Kilohertz(std::int32_t frequency) {
    return static_cast<double>(frequency) * kKilohertzPerFrequencyUnit;
}

int Of(Item item) { return static_cast<int>(item); }

PanelLayout MakeLayout() {
    using row_text::Level;
    using row_text::Switch;
    using row_text::VoltageCode;
    using row_text::Volts;
    const auto fallback = PanelRow::Outside::Fallback;
    const auto onOff = PanelRow::Outside::Switch;
    PanelLayout layout;
    layout.rows = {
        // The Auto flag spares the NVVDD rail only.
        CheckRow(Of(Item::Auto), L"Auto", ctl::kAuto, ctl::kRow1Slider),
        SliderRow(Of(Item::Nvvdd), ctl::kRow1Label, L"NVVDD", ctl::kRow1Slider, ctl::kRow1Value, kNvvddBase, kNvvddTop,
                  &VoltageCode, "V", &Volts),
        SliderRow(Of(Item::Fbvdd), ctl::kRow2Label, L"FBVDD", ctl::kRow2Slider, ctl::kRow2Value, kFbvddBase, kFbvddTop,
                  &VoltageCode, "V", &Volts),
        SliderRow(Of(Item::Msvdd), ctl::kRow3Label, L"MSVDD", ctl::kRow3Slider, ctl::kRow3Value, kMsvddBase, kMsvddTop,
                  &VoltageCode, "V", &Volts),
        SliderRow(Of(Item::NvFrequency), ctl::kRow4Label, L"NV Freq.", ctl::kRow4Slider, ctl::kRow4Value,
                  kFrequencyBase, kFrequencyTop, &FrequencyText, "kHz", &Kilohertz),
        SliderRow(Of(Item::MsFrequency), ctl::kRow5Label, L"MS Freq.", ctl::kRow5Slider, ctl::kRow5Value,
                  kFrequencyBase, kFrequencyTop, &FrequencyText, "kHz", &Kilohertz),
        ListRow(Of(Item::NvLoadline), ctl::kList2LeftLabel, L"NVVDD Loadline", ctl::kList2Left, kLoadlineLevels, &Level,
                fallback, kFallbackLoadline),
        ListRow(Of(Item::MsLoadline), ctl::kList2RightLabel, L"MSVDD Loadline", ctl::kList2Right, kLoadlineLevels,
                &Level, fallback, kFallbackLoadline),
        ListRow(Of(Item::NvOcp), ctl::kList3LeftLabel, L"NVVDD OCP", ctl::kList3Left, kOcpStates, &Switch, onOff, 0),
        ListRow(Of(Item::MsOcp), ctl::kList3RightLabel, L"MSVDD OCP", ctl::kList3Right, kOcpStates, &Switch, onOff, 0),
    };
    layout.hidden = {ctl::kList1LeftLabel, ctl::kList1RightLabel, ctl::kList1Left, ctl::kList1Right};
    return layout;
}

// The profile: keys in the order they are saved, and the value a missing key stands for.
struct ProfileKey {
    const wchar_t* name;
    Item item;
    std::uint32_t whenMissing;
};

constexpr std::int32_t kAutoOn = 1;
constexpr std::int32_t kAutoOff = 0;

constexpr ProfileKey kProfileKeys[] = {
    {L"AUTO", Item::Auto, kAutoOn},
    {L"NVVDD", Item::Nvvdd, kFallbackRailVoltage},
    {L"FBVDD", Item::Fbvdd, kDefaultFbvdd},
    {L"MSVDD", Item::Msvdd, kFallbackRailVoltage},
    {L"NVPWM", Item::NvFrequency, kDefaultFrequency},
    {L"MSPWM", Item::MsFrequency, kDefaultFrequency},
    {L"NVLL", Item::NvLoadline, kDefaultLoadline},
    {L"MSLL", Item::MsLoadline, kDefaultLoadline},
    {L"NVOCP", Item::NvOcp, kDefaultOcp},
    {L"MSOCP", Item::MsOcp, kDefaultOcp},
};
constexpr const wchar_t* kSyncKey = L"SYNC";

}  // namespace

const PanelLayout& Layout() {
    static const PanelLayout layout = MakeLayout();
    return layout;
}

const std::vector<Item>& RefreshOrder() {
    static const std::vector<Item> order = {Item::Nvvdd,       Item::Fbvdd,      Item::Msvdd,
                                            Item::NvFrequency, Item::MsFrequency, Item::NvLoadline,
                                            Item::NvOcp,       Item::MsLoadline, Item::MsOcp};
    return order;
}

BoardSettings FromProfile(const ProfileSection& section) {
    BoardSettings settings;
    for (const ProfileKey& key : kProfileKeys) {
        const auto found = section.find(key.name);
        const std::uint32_t value = found != section.end() ? found->second : key.whenMissing;
        settings[key.item] = Setting::Of(static_cast<std::int32_t>(value));
    }
    return settings;
}

bool SyncOf(const ProfileSection& section) {
    const auto sync = section.find(kSyncKey);
    return sync != section.end() && sync->second != 0;
}

const std::vector<Item>& ProfileOrder() {
    static const std::vector<Item> order = [] {
        std::vector<Item> items;
        for (const ProfileKey& key : kProfileKeys) items.push_back(key.item);
        return items;
    }();
    return order;
}

std::wstring ToProfile(const BoardSettings& read, bool sync) {
    const auto line = [](const wchar_t* key, long long value) {
        const std::string number = std::to_string(value);
        return std::wstring(key) + L"=" + std::wstring(number.begin(), number.end()) + L"\r\n";
    };
    std::wstring body;
    for (const ProfileKey& key : kProfileKeys) {
        const Setting& s = read[key.item];
        const std::int32_t unreadable = key.item == Item::Auto ? kAutoOff : static_cast<std::int32_t>(key.whenMissing);
        body += line(key.name, s.read ? s.value : unreadable);
    }
    return body + line(kSyncKey, sync ? 1 : 0);
}

BoardSettings AsShown(const BoardSettings& settings) {
    BoardSettings shown = settings;
    for (const PanelRow& row : Layout().rows) {
        Setting& s = shown[static_cast<Item>(row.item)];
        if (s.read) s.value = ::AsShown(row, s.value);
    }
    return shown;
}

const std::vector<Item>& ApplyOrder() {
    static const std::vector<Item> order = {Item::NvOcp,       Item::MsOcp,       Item::Nvvdd,
                                            Item::Fbvdd,       Item::Msvdd,       Item::NvFrequency,
                                            Item::MsFrequency, Item::NvLoadline,  Item::MsLoadline};
    return order;
}

}  // namespace rtx3080ti
