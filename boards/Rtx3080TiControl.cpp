#include "boards/Rtx3080TiControl.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <string>

#include "boards/PanelText.h"
#include "boards/Rtx3080TiRegisters.h"
#include "res/ControlIds.h"

namespace {

using namespace rtx3080ti;

// Texts are plain ASCII, so widening is a copy of each character.
std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring VoltageText(std::int32_t code) { return panel_text::VoltageCode(code); }

// Multiplied in 64 bits, so a wild profile value shows its true figure rather than a wrapped one.
std::wstring FrequencyText(std::int32_t frequency) {
    return panel_text::Format("%lld kHz", static_cast<long long>(frequency) * kKilohertzPerFrequencyUnit);
}

// How each setting appears in the panel. Sliders show value - base; lists select an index.
enum class Shown { Voltage, Frequency, Level, Ocp };

struct ItemView {
    PanelItem item;
    Shown shown;
    int control;  // slider or list
    int field;    // value field paired with a slider; 0 for lists
    int base;     // lowest value a slider shows; 0 for lists
    int top;      // highest value a slider shows; highest index of a list
};

constexpr ItemView kViews[] = {
    {PanelItem::Nvvdd, Shown::Voltage, ctl::kRow1Slider, ctl::kRow1Value, kNvvddBase, kNvvddTop},
    {PanelItem::Fbvdd, Shown::Voltage, ctl::kRow2Slider, ctl::kRow2Value, kFbvddBase, kFbvddTop},
    {PanelItem::Msvdd, Shown::Voltage, ctl::kRow3Slider, ctl::kRow3Value, kMsvddBase, kMsvddTop},
    {PanelItem::NvFrequency, Shown::Frequency, ctl::kRow4Slider, ctl::kRow4Value, kFrequencyBase, kFrequencyTop},
    {PanelItem::MsFrequency, Shown::Frequency, ctl::kRow5Slider, ctl::kRow5Value, kFrequencyBase, kFrequencyTop},
    {PanelItem::NvLoadline, Shown::Level, ctl::kList2Left, 0, 0, kLoadlineLevels - 1},
    {PanelItem::MsLoadline, Shown::Level, ctl::kList2Right, 0, 0, kLoadlineLevels - 1},
    {PanelItem::NvOcp, Shown::Ocp, ctl::kList3Left, 0, 0, kOcpStates - 1},
    {PanelItem::MsOcp, Shown::Ocp, ctl::kList3Right, 0, 0, kOcpStates - 1},
};

const ItemView* ViewOf(PanelItem item) {
    for (const ItemView& view : kViews)
        if (view.item == item) return &view;
    return nullptr;
}

bool IsSlider(const ItemView& view) { return view.shown == Shown::Voltage || view.shown == Shown::Frequency; }

std::wstring ValueText(const ItemView& view, std::int32_t value) {
    return view.shown == Shown::Voltage ? VoltageText(value) : FrequencyText(value);
}

// What Activate does to the panel, in order. The Sync box is only looked up, never changed, so it
// has no step here.
enum class ConfigKind { AutoBox, Label, Hide, Slider, Field, LevelList, OcpList };

struct ConfigStep {
    int id;
    ConfigKind step;
    const wchar_t* text;  // labels only
    int top;              // sliders only: the highest position
};

constexpr ConfigStep kConfiguration[] = {
    {ctl::kAuto, ConfigKind::AutoBox, nullptr, 0},
    {ctl::kRow1Label, ConfigKind::Label, L"NVVDD", 0},
    {ctl::kRow2Label, ConfigKind::Label, L"FBVDD", 0},
    {ctl::kRow3Label, ConfigKind::Label, L"MSVDD", 0},
    {ctl::kRow4Label, ConfigKind::Label, L"NV Freq.", 0},
    {ctl::kRow5Label, ConfigKind::Label, L"MS Freq.", 0},
    {ctl::kList1LeftLabel, ConfigKind::Hide, nullptr, 0},
    {ctl::kList2LeftLabel, ConfigKind::Label, L"NVVDD Loadline", 0},
    {ctl::kList3LeftLabel, ConfigKind::Label, L"NVVDD OCP", 0},
    {ctl::kList1RightLabel, ConfigKind::Hide, nullptr, 0},
    {ctl::kList2RightLabel, ConfigKind::Label, L"MSVDD Loadline", 0},
    {ctl::kList3RightLabel, ConfigKind::Label, L"MSVDD OCP", 0},
    {ctl::kRow1Slider, ConfigKind::Slider, nullptr, kNvvddTop - kNvvddBase},
    {ctl::kRow2Slider, ConfigKind::Slider, nullptr, kFbvddTop - kFbvddBase},
    {ctl::kRow3Slider, ConfigKind::Slider, nullptr, kMsvddTop - kMsvddBase},
    {ctl::kRow4Slider, ConfigKind::Slider, nullptr, kFrequencyTop - kFrequencyBase},
    {ctl::kRow5Slider, ConfigKind::Slider, nullptr, kFrequencyTop - kFrequencyBase},
    {ctl::kRow1Value, ConfigKind::Field, nullptr, 0},
    {ctl::kRow2Value, ConfigKind::Field, nullptr, 0},
    {ctl::kRow3Value, ConfigKind::Field, nullptr, 0},
    {ctl::kRow4Value, ConfigKind::Field, nullptr, 0},
    {ctl::kRow5Value, ConfigKind::Field, nullptr, 0},
    {ctl::kList1Left, ConfigKind::Hide, nullptr, 0},
    {ctl::kList2Left, ConfigKind::LevelList, nullptr, 0},
    {ctl::kList3Left, ConfigKind::OcpList, nullptr, 0},
    {ctl::kList1Right, ConfigKind::Hide, nullptr, 0},
    {ctl::kList2Right, ConfigKind::LevelList, nullptr, 0},
    {ctl::kList3Right, ConfigKind::OcpList, nullptr, 0},
};

// The order in which the panel is filled from the board, after Auto.
constexpr PanelItem kRefreshOrder[] = {PanelItem::Nvvdd,       PanelItem::Fbvdd,      PanelItem::Msvdd,
                                       PanelItem::NvFrequency, PanelItem::MsFrequency, PanelItem::NvLoadline,
                                       PanelItem::NvOcp,       PanelItem::MsLoadline, PanelItem::MsOcp};

// The profile: keys in the order they are saved, the value a missing key stands for, and the value
// saved when the board does not report the setting.
constexpr std::int32_t kAutoOn = 1;
constexpr std::int32_t kAutoOff = 0;

struct ProfileKey {
    const wchar_t* name;
    PanelItem item;
    std::uint32_t whenMissing;
    std::int32_t whenUnreadable;
};

constexpr ProfileKey kProfileKeys[] = {
    {L"AUTO", PanelItem::Auto, kAutoOn, kAutoOff},
    {L"NVVDD", PanelItem::Nvvdd, kFallbackRailVoltage, kFallbackRailVoltage},
    {L"FBVDD", PanelItem::Fbvdd, kDefaultFbvdd, kDefaultFbvdd},
    {L"MSVDD", PanelItem::Msvdd, kFallbackRailVoltage, kFallbackRailVoltage},
    {L"NVPWM", PanelItem::NvFrequency, kDefaultFrequency, kDefaultFrequency},
    {L"MSPWM", PanelItem::MsFrequency, kDefaultFrequency, kDefaultFrequency},
    {L"NVLL", PanelItem::NvLoadline, kDefaultLoadline, kDefaultLoadline},
    {L"MSLL", PanelItem::MsLoadline, kDefaultLoadline, kDefaultLoadline},
    {L"NVOCP", PanelItem::NvOcp, kDefaultOcp, kDefaultOcp},
    {L"MSOCP", PanelItem::MsOcp, kDefaultOcp, kDefaultOcp},
};
constexpr const wchar_t* kSyncKey = L"SYNC";

// Loading shows the items in this order, MSVDD before FBVDD unlike the saved order.
constexpr PanelItem kLoadOrder[] = {PanelItem::Auto,        PanelItem::Nvvdd,       PanelItem::Msvdd,
                                    PanelItem::Fbvdd,       PanelItem::NvFrequency, PanelItem::MsFrequency,
                                    PanelItem::NvLoadline,  PanelItem::MsLoadline,  PanelItem::NvOcp,
                                    PanelItem::MsOcp};

constexpr const ProfileKey* KeyOf(PanelItem item) {
    for (const ProfileKey& key : kProfileKeys)
        if (key.item == item) return &key;
    return nullptr;
}

constexpr bool LoadsEveryKeyOnce() {
    if (std::size(kLoadOrder) != std::size(kProfileKeys)) return false;
    for (std::size_t i = 0; i < std::size(kLoadOrder); ++i) {
        if (!KeyOf(kLoadOrder[i])) return false;
        for (std::size_t j = 0; j < i; ++j)
            if (kLoadOrder[j] == kLoadOrder[i]) return false;
    }
    return true;
}
static_assert(LoadsEveryKeyOnce(), "a profile key left out of the load order, or loaded twice");

std::wstring ProfileLine(const wchar_t* key, std::int32_t value) {
    return std::wstring(key) + L"=" + Widen(std::to_string(value)) + L"\r\n";
}

}  // namespace

Rtx3080TiControl::Rtx3080TiControl(BoardLinks&& links, PanelSource& panels, std::unique_ptr<Rtx3080TiProtocol> protocol)
    : profiles_(links.profiles),
      gpus_(links.gpus),
      gpuIndex_(links.gpuIndex),
      bus_(std::move(links.bus)),
      sleeper_(links.sleeper),
      protocol_(std::move(protocol)),
      panels_(panels) {}

void Rtx3080TiControl::RunPlan(Plan plan) const { ::RunPlan(std::move(plan), *bus_, sleeper_); }

bool Rtx3080TiControl::RestoreAuto(Rail rail) {
    if (!::RunPlan(protocol_->RestoreAutoPlan(rail), *bus_, sleeper_).Completed()) return false;
    auto_ = true;
    return true;
}

void Rtx3080TiControl::Activate() {
    ControlPanel* panel = panels_.ControllerPanel();
    if (!panel) return;
    panel_ = panel;

    for (const ConfigStep& s : kConfiguration) {
        if (!panel->HasControl(s.id)) continue;
        switch (s.step) {
            case ConfigKind::AutoBox:
                panel->SetCheck(s.id, auto_);
                break;
            case ConfigKind::Label:
                panel->SetText(s.id, s.text);
                break;
            case ConfigKind::Hide:
                panel->Show(s.id, false);
                continue;
            case ConfigKind::Slider:
                panel->SetRange(s.id, 0, s.top);
                break;
            case ConfigKind::Field:
                break;
            case ConfigKind::LevelList:
                panel->ClearList(s.id);
                for (int level = 0; level < kLoadlineLevels; ++level)
                    panel->InsertItem(s.id, level, panel_text::Level(level));
                break;
            case ConfigKind::OcpList:
                panel->ClearList(s.id);
                panel->InsertItem(s.id, 0, panel_text::Disable());
                panel->InsertItem(s.id, 1, panel_text::Enable());
                break;
        }
        panel->Show(s.id, true);
    }
    RefreshPanel();
}

void Rtx3080TiControl::OnSliderMoved(int controlId) {
    if (!panel_) return;
    for (const ItemView& view : kViews) {
        if (!IsSlider(view) || view.control != controlId) continue;
        panel_->SetText(view.field, ValueText(view, panel_->GetPos(view.control) + view.base));
        return;
    }
}

void Rtx3080TiControl::Apply() {
    if (!panel_) return;
    ApplySettings(Wanted());
}

namespace {

struct SettingsRequest final : IVgaControl::Request {
    explicit SettingsRequest(BoardSettings asked) : wanted(std::move(asked)) {}
    BoardSettings wanted;
};

}  // namespace

std::unique_ptr<IVgaControl::Request> Rtx3080TiControl::Requested() const {
    if (!panel_) return std::make_unique<Request>();
    return std::make_unique<SettingsRequest>(Wanted());
}

void Rtx3080TiControl::ApplyRequest(const Request& request) {
    if (const auto* settings = dynamic_cast<const SettingsRequest*>(&request)) ApplySettings(settings->wanted);
    else Apply();
}

void Rtx3080TiControl::ApplySettings(const BoardSettings& wanted) {
    if (!panel_) return;
    ApplyItem(PanelItem::NvOcp, wanted);
    ApplyItem(PanelItem::MsOcp, wanted);
    if (!auto_) ApplyItem(PanelItem::Nvvdd, wanted);  // the Auto flag spares the NVVDD rail only
    ApplyItem(PanelItem::Fbvdd, wanted);
    ApplyItem(PanelItem::Msvdd, wanted);
    ApplyItem(PanelItem::NvFrequency, wanted);
    ApplyItem(PanelItem::MsFrequency, wanted);
    ApplyItem(PanelItem::NvLoadline, wanted);
    ApplyItem(PanelItem::MsLoadline, wanted);
    RefreshPanel();
}

void Rtx3080TiControl::ApplyItem(PanelItem item, const BoardSettings& wanted) {
    if (!wanted[item].read) return;
    const std::optional<std::int32_t> current = ReadItem(item);
    if (current && *current != wanted[item].value) RunPlan(protocol_->SetPlan(item, wanted[item].value));
}

BoardSettings Rtx3080TiControl::Wanted() const {
    BoardSettings wanted;
    wanted[PanelItem::Auto] = Setting::Of(auto_ ? kAutoOn : kAutoOff);
    for (const ItemView& view : kViews) {
        std::int32_t value = 0;
        wanted[view.item] = PanelValue(view.item, value) ? Setting::Of(value) : Setting::NotRead("no choice in the list");
    }
    return wanted;
}

void Rtx3080TiControl::LoadDefaults() {
    if (!panel_) return;
    DefaultItem(PanelItem::NvOcp, kDefaultOcp);
    DefaultItem(PanelItem::MsOcp, kDefaultOcp);
    RestoreAuto(Rail::Nvvdd);
    DefaultItem(PanelItem::Fbvdd, kDefaultFbvdd);
    RestoreAuto(Rail::Msvdd);
    DefaultItem(PanelItem::NvFrequency, kDefaultFrequency);
    DefaultItem(PanelItem::MsFrequency, kDefaultFrequency);
    DefaultItem(PanelItem::NvLoadline, kDefaultLoadline);
    DefaultItem(PanelItem::MsLoadline, kDefaultLoadline);
    RunPlan(protocol_->AfterDefaultsPlan());
    RefreshPanel();
}

void Rtx3080TiControl::DefaultItem(PanelItem item, std::int32_t value) {
    const std::optional<std::int32_t> current = ReadItem(item);
    if (current && *current != value) RunPlan(protocol_->SetPlan(item, value));
}

void Rtx3080TiControl::SetAuto(bool checked) {
    if (!panel_ || checked == auto_) return;
    auto_ = checked;
    panel_->Enable(ctl::kRow1Slider, !checked);
    if (!checked) return;  // a fixed voltage is set by the next Apply
    RestoreAuto(Rail::Nvvdd);
    if (const std::optional<std::int32_t> code = ReadItem(PanelItem::Nvvdd)) ShowValue(PanelItem::Nvvdd, *code);
}

BoardSettings Rtx3080TiControl::ReadSettings() {
    BoardSettings settings;
    const auto read = [this, &settings](PanelItem item) {
        const std::optional<std::int32_t> value = ReadItem(item);
        settings[item] = value ? Setting::Of(*value) : Setting::NotRead("the board did not answer");
    };
    read(PanelItem::Auto);
    for (PanelItem item : kRefreshOrder) read(item);
    return settings;
}

void Rtx3080TiControl::RefreshPanel() {
    lastRead_ = ReadSettings();
    // An unreadable Auto state shows as off; an unreadable row keeps what it showed.
    ShowValue(PanelItem::Auto, lastRead_[PanelItem::Auto].read ? lastRead_[PanelItem::Auto].value : kAutoOff);
    for (PanelItem item : kRefreshOrder)
        if (lastRead_[item].read) ShowValue(item, lastRead_[item].value);
}

std::vector<int> Rtx3080TiControl::UnreadControls() const {
    std::vector<int> unread;
    if (!lastRead_[PanelItem::Auto].read) unread.push_back(ctl::kAuto);
    for (PanelItem item : kRefreshOrder) {
        if (lastRead_[item].read) continue;
        const ItemView& view = *ViewOf(item);
        unread.push_back(IsSlider(view) ? view.field : view.control);
    }
    return unread;
}

void Rtx3080TiControl::ShowValue(PanelItem item, std::int32_t value) {
    if (item == PanelItem::Auto) {
        auto_ = value != 0;
        panel_->SetCheck(ctl::kAuto, auto_);
        panel_->Enable(ctl::kRow1Slider, !auto_);
        return;
    }
    const ItemView* view = ViewOf(item);
    if (!view) return;
    switch (view->shown) {
        case Shown::Voltage:
        case Shown::Frequency:
            // The text shows the true figure, the slider stops at the end of its travel.
            panel_->SetText(view->field, ValueText(*view, value));
            panel_->SetPos(view->control, std::min(std::max(value, view->base), view->top) - view->base);
            break;
        case Shown::Level:
            panel_->SetSelection(view->control, value >= 0 && value <= view->top ? value : kFallbackLoadline);
            break;
        case Shown::Ocp:
            panel_->SetSelection(view->control, value != 0 ? 1 : 0);
            break;
    }
}

bool Rtx3080TiControl::PanelValue(PanelItem item, std::int32_t& value) const {
    const ItemView* view = ViewOf(item);
    if (!view) return false;
    if (IsSlider(*view)) {
        value = std::min(std::max(panel_->GetPos(view->control), 0), view->top - view->base) + view->base;
        return true;
    }
    const int selection = panel_->GetSelection(view->control);
    if (selection < 0 || selection > view->top) return false;
    value = selection;
    return true;
}

bool Rtx3080TiControl::LoadProfile() {
    if (!panel_) return false;
    ProfileSection section;
    if (!profiles_.ReadSection(ProfileSectionName(), section)) return false;

    for (PanelItem item : kLoadOrder) {
        const ProfileKey& key = *KeyOf(item);
        const auto found = section.find(key.name);
        const std::uint32_t value = found != section.end() ? found->second : key.whenMissing;
        ShowValue(key.item, static_cast<std::int32_t>(value));
    }
    const auto sync = section.find(kSyncKey);
    panel_->SetCheck(ctl::kSync, sync != section.end() && sync->second != 0);
    return true;
}

void Rtx3080TiControl::SaveProfile() {
    if (!panel_) return;
    std::wstring body;
    for (const ProfileKey& key : kProfileKeys) {
        const std::optional<std::int32_t> value = ReadItem(key.item);
        body += ProfileLine(key.name, value.value_or(key.whenUnreadable));
    }
    body += ProfileLine(kSyncKey, panel_->IsChecked(ctl::kSync) ? 1 : 0);
    // A file that cannot be written is not reported.
    profiles_.WriteSection(ProfileSectionName(), body);
}
