#include "boards/Rtx3080TiLayout.h"

#include "boards/PanelText.h"
#include "boards/Rtx3080TiRegisters.h"
#include "res/ControlIds.h"

namespace rtx3080ti {

namespace {

std::wstring VoltageText(std::int32_t code) { return panel_text::VoltageCode(code); }
// Multiplied in 64 bits, so a wild profile value shows its true figure rather than a wrapped one.
std::wstring FrequencyText(std::int32_t frequency) {
    return panel_text::Format("%lld kHz", static_cast<long long>(frequency) * kKilohertzPerFrequencyUnit);
}
std::wstring LevelText(std::int32_t level) { return panel_text::Level(level); }
std::wstring SwitchText(std::int32_t on) { return on != 0 ? panel_text::Enable() : panel_text::Disable(); }

std::optional<double> Volts(std::int32_t code) { return code * 6.25 / 1000.0; }
std::optional<double> Kilohertz(std::int32_t frequency) {
    return static_cast<double>(frequency) * kKilohertzPerFrequencyUnit;
}
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
    row.fallback = kFallbackLoadline;
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
    automatic.disables = ctl::kRow1Slider;  // the Auto flag spares the NVVDD rail only
    layout.rows = {
        automatic,
        Slider(Item::Nvvdd, ctl::kRow1Label, L"NVVDD", ctl::kRow1Slider, ctl::kRow1Value, kNvvddBase, kNvvddTop,
               &VoltageText, "V", &Volts),
        Slider(Item::Fbvdd, ctl::kRow2Label, L"FBVDD", ctl::kRow2Slider, ctl::kRow2Value, kFbvddBase, kFbvddTop,
               &VoltageText, "V", &Volts),
        Slider(Item::Msvdd, ctl::kRow3Label, L"MSVDD", ctl::kRow3Slider, ctl::kRow3Value, kMsvddBase, kMsvddTop,
               &VoltageText, "V", &Volts),
        Slider(Item::NvFrequency, ctl::kRow4Label, L"NV Freq.", ctl::kRow4Slider, ctl::kRow4Value, kFrequencyBase,
               kFrequencyTop, &FrequencyText, "kHz", &Kilohertz),
        Slider(Item::MsFrequency, ctl::kRow5Label, L"MS Freq.", ctl::kRow5Slider, ctl::kRow5Value, kFrequencyBase,
               kFrequencyTop, &FrequencyText, "kHz", &Kilohertz),
        List(Item::NvLoadline, ctl::kList2LeftLabel, L"NVVDD Loadline", ctl::kList2Left, kLoadlineLevels, &LevelText,
             PanelRow::Outside::Fallback, "level"),
        List(Item::MsLoadline, ctl::kList2RightLabel, L"MSVDD Loadline", ctl::kList2Right, kLoadlineLevels,
             &LevelText, PanelRow::Outside::Fallback, "level"),
        List(Item::NvOcp, ctl::kList3LeftLabel, L"NVVDD OCP", ctl::kList3Left, kOcpStates, &SwitchText,
             PanelRow::Outside::Switch, ""),
        List(Item::MsOcp, ctl::kList3RightLabel, L"MSVDD OCP", ctl::kList3Right, kOcpStates, &SwitchText,
             PanelRow::Outside::Switch, ""),
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

std::vector<ApplyJob::Want> ApplyOrder(const BoardSettings& wanted) {
    const bool automatic = wanted[Item::Auto].read && wanted[Item::Auto].value != 0;
    std::vector<ApplyJob::Want> order;
    for (Item item : {Item::NvOcp, Item::MsOcp, Item::Nvvdd, Item::Fbvdd, Item::Msvdd, Item::NvFrequency,
                      Item::MsFrequency, Item::NvLoadline, Item::MsLoadline}) {
        if (item == Item::Nvvdd && automatic) continue;
        if (wanted[item].read) order.push_back({static_cast<int>(item), wanted[item].value});
    }
    return order;
}

}  // namespace rtx3080ti
