#include "boards/Rtx3080TiFamily.h"

#include "boards/Rtx3080TiRegisters.h"
#include "boards/ValueText.h"

namespace rtx3080ti {
namespace {

// Multiplied in 64 bits, so a wild profile value shows its true figure rather than a wrapped one.
std::wstring FrequencyText(std::int32_t frequency) {
    return value_text::Format("%lld kHz", static_cast<long long>(frequency) * kKilohertzPerFrequencyUnit);
}
std::optional<double> Kilohertz(std::int32_t frequency) {
    return static_cast<double>(frequency) * kKilohertzPerFrequencyUnit;
}
std::optional<double> Number(std::int32_t value) { return value; }

using Kind = ValueTraits::Kind;

FamilyTable<Item> MakeTable() {
    using value_text::VoltageCode;
    using value_text::Volts;
    const ValueTraits loadline{Kind::Levels, nullptr, 0, kLoadlineLevels - 1, kFallbackLoadline, &value_text::Level,
                               "level", &Number};
    const ValueTraits ocp{Kind::Switch, nullptr, 0, kOcpStates - 1, 0, &value_text::Switch};
    const auto named = [](ValueTraits traits, const wchar_t* name) {
        traits.name = name;
        return traits;
    };
    FamilyTable<Item> t;
    t.items = {
        // The Auto flag spares the NVVDD rail only.
        {Item::Auto, {Kind::Flag, L"Auto"}, Item::Nvvdd},
        {Item::Nvvdd, {Kind::Range, L"NVVDD", kNvvddBase, kNvvddTop, 0, &VoltageCode, "V", &Volts}, {}},
        {Item::Fbvdd, {Kind::Range, L"FBVDD", kFbvddBase, kFbvddTop, 0, &VoltageCode, "V", &Volts}, {}},
        {Item::Msvdd, {Kind::Range, L"MSVDD", kMsvddBase, kMsvddTop, 0, &VoltageCode, "V", &Volts}, {}},
        {Item::NvFrequency,
         {Kind::Range, L"NV Freq.", kFrequencyBase, kFrequencyTop, 0, &FrequencyText, "kHz", &Kilohertz},
         {}},
        {Item::MsFrequency,
         {Kind::Range, L"MS Freq.", kFrequencyBase, kFrequencyTop, 0, &FrequencyText, "kHz", &Kilohertz},
         {}},
        {Item::NvLoadline, named(loadline, L"NVVDD Loadline"), {}},
        {Item::MsLoadline, named(loadline, L"MSVDD Loadline"), {}},
        {Item::NvOcp, named(ocp, L"NVVDD OCP"), {}},
        {Item::MsOcp, named(ocp, L"MSVDD OCP"), {}},
    };
    t.readOrder = {Item::Auto,        Item::Nvvdd,      Item::Fbvdd, Item::Msvdd,      Item::NvFrequency,
                   Item::MsFrequency, Item::NvLoadline, Item::NvOcp, Item::MsLoadline, Item::MsOcp};
    t.applyOrder = {Item::NvOcp,       Item::MsOcp,       Item::Nvvdd,      Item::Fbvdd,     Item::Msvdd,
                    Item::NvFrequency, Item::MsFrequency, Item::NvLoadline, Item::MsLoadline};
    t.defaults = {
        {Item::NvOcp, kDefaultOcp},
        {Item::MsOcp, kDefaultOcp},
        {Item::Nvvdd, std::nullopt},
        {Item::Fbvdd, kDefaultFbvdd},
        {Item::Msvdd, std::nullopt},
        {Item::NvFrequency, kDefaultFrequency},
        {Item::MsFrequency, kDefaultFrequency},
        {Item::NvLoadline, kDefaultLoadline},
        {Item::MsLoadline, kDefaultLoadline},
    };
    return t;
}

// The profile: keys in the order they are saved, and the value a missing key stands for.
struct KeyEntry {
    const wchar_t* name;
    Item item;
    std::uint32_t whenMissing;
};

constexpr std::int32_t kAutoOn = 1;
constexpr std::int32_t kAutoOff = 0;

constexpr KeyEntry kProfileKeys[] = {
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
}  // namespace rtx3080ti

using namespace rtx3080ti;

BoardSettings Rtx3080TiFamily::FromProfile(const ProfileSection& section) {
    BoardSettings settings;
    for (const KeyEntry& key : kProfileKeys) {
        const auto found = section.find(key.name);
        const std::uint32_t value = found != section.end() ? found->second : key.whenMissing;
        settings[key.item] = Setting::Of(static_cast<std::int32_t>(value));
    }
    return settings;
}

bool Rtx3080TiFamily::SyncOf(const ProfileSection& section) {
    const auto sync = section.find(kSyncKey);
    return sync != section.end() && sync->second != 0;
}

const wchar_t* Rtx3080TiFamily::ProfileKey(Item item) {
    for (const KeyEntry& key : kProfileKeys)
        if (key.item == item) return key.name;
    return nullptr;
}

std::optional<Item> Rtx3080TiFamily::ProfileItem(const std::wstring& name) {
    for (const KeyEntry& key : kProfileKeys)
        if (name == key.name) return key.item;
    return std::nullopt;
}

const wchar_t* Rtx3080TiFamily::SyncKey() { return kSyncKey; }

const std::vector<Item>& Rtx3080TiFamily::ProfileOrder() {
    static const std::vector<Item> order = [] {
        std::vector<Item> items;
        for (const KeyEntry& key : kProfileKeys) items.push_back(key.item);
        return items;
    }();
    return order;
}

std::wstring Rtx3080TiFamily::ToProfile(const BoardSettings& read, bool sync) {
    const auto line = [](const wchar_t* key, long long value) {
        const std::string number = std::to_string(value);
        return std::wstring(key) + L"=" + std::wstring(number.begin(), number.end()) + L"\r\n";
    };
    std::wstring body;
    for (const KeyEntry& key : kProfileKeys) {
        const Setting& s = read[key.item];
        const std::int32_t unreadable = key.item == Item::Auto ? kAutoOff : static_cast<std::int32_t>(key.whenMissing);
        body += line(key.name, s.read ? s.value : unreadable);
    }
    return body + line(kSyncKey, sync ? 1 : 0);
}

const FamilyTable<rtx3080ti::Item>& Rtx3080TiFamily::Table() {
    static const FamilyTable<Item> table = [] {
        FamilyTable<Item> t = rtx3080ti::MakeTable();
        for (ItemTraits<Item>& item : t.items) item.profileKey = ProfileKey(item.item);
        return t;
    }();
    return table;
}

// The two rails under automatic control; the table names no other.
Plan Rtx3080TiFamily::HandBack(const Protocol& protocol, Item rail) {
    return protocol.RestoreAutoPlan(rail == Item::Msvdd ? rtx3080ti::Rail::Msvdd : rtx3080ti::Rail::Nvvdd);
}
