#include "boards/Rtx3080TiControl.h"

#include "boards/PanelPresenter.h"
#include "boards/Rtx3080TiLayout.h"
#include "boards/Rtx3080TiRegisters.h"
#include "res/ControlIds.h"

namespace {

using namespace rtx3080ti;

constexpr std::int32_t kAutoOn = 1;
constexpr std::int32_t kAutoOff = 0;

const PanelRow& RowFor(PanelItem item) { return *RowOf(Layout(), static_cast<int>(item)); }

using FamilyRequest = IVgaControl::SettingsRequest<BoardSettings>;

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
    Configure(*panel, Layout(), auto_);
    RefreshPanel();
}

void Rtx3080TiControl::OnSliderMoved(int controlId) {
    if (panel_) ShowSliderText(*panel_, Layout(), controlId);
}

void Rtx3080TiControl::Apply() {
    if (!panel_) return;
    ApplySettings(Wanted());
}

std::unique_ptr<IVgaControl::Request> Rtx3080TiControl::Requested() const {
    if (!panel_) return std::make_unique<Request>();
    return std::make_unique<FamilyRequest>(Wanted());
}

void Rtx3080TiControl::ApplyRequest(const Request& request) {
    if (const auto* settings = dynamic_cast<const FamilyRequest*>(&request)) ApplySettings(settings->wanted);
    else Apply();
}

void Rtx3080TiControl::ApplySettings(const BoardSettings& wanted) {
    if (!panel_) return;
    // The Auto flag is this board's own, as the panel shows it.
    BoardSettings asked = wanted;
    asked[PanelItem::Auto] = Setting::Of(auto_ ? kAutoOn : kAutoOff);
    RunToEnd(*MakeApplyJob(asked, *bus_), sleeper_);
    RefreshPanel();
}

std::unique_ptr<ApplyJob> Rtx3080TiControl::MakeApplyJob(const BoardSettings& wanted, BoardBus& bus) {
    return ApplyJobOn<PanelItem>(bus, ::ApplyOrder(wanted, rtx3080ti::ApplyOrder()), *protocol_);
}

BoardSettings Rtx3080TiControl::Wanted() const { return TakeAll<PanelItem>(*panel_, Layout(), auto_); }

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
    const std::optional<std::int32_t> current = protocol_->Read(item);
    if (current && *current != value) RunPlan(protocol_->SetPlan(item, value));
}

void Rtx3080TiControl::SetAuto(bool checked) {
    if (!panel_ || checked == auto_) return;
    auto_ = checked;
    panel_->Enable(ctl::kRow1Slider, !checked);
    if (!checked) return;  // a fixed voltage is set by the next Apply
    RestoreAuto(Rail::Nvvdd);
    if (const std::optional<std::int32_t> code = protocol_->Read(PanelItem::Nvvdd)) ShowValue(PanelItem::Nvvdd, *code);
}

BoardSettings Rtx3080TiControl::ReadSettings() {
    BoardSettings settings;
    const auto read = [this, &settings](PanelItem item) {
        const std::optional<std::int32_t> value = protocol_->Read(item);
        settings[item] = value ? Setting::Of(*value) : Setting::NotRead("the board did not answer");
    };
    read(PanelItem::Auto);
    for (PanelItem item : RefreshOrder()) read(item);
    return settings;
}

void Rtx3080TiControl::RefreshPanel() {
    lastRead_ = ReadSettings();
    // An unreadable Auto state shows as off; an unreadable row keeps what it showed.
    ShowValue(PanelItem::Auto, lastRead_[PanelItem::Auto].read ? lastRead_[PanelItem::Auto].value : kAutoOff);
    for (PanelItem item : RefreshOrder())
        if (lastRead_[item].read) ShowValue(item, lastRead_[item].value);
}

std::vector<ShownSetting> Rtx3080TiControl::ReadShown() { return Describe(Layout(), ByItem(ReadSettings())); }

std::vector<int> Rtx3080TiControl::UnreadControls() const { return ::UnreadControls(Layout(), lastRead_); }

void Rtx3080TiControl::ShowValue(PanelItem item, std::int32_t value) {
    if (item == PanelItem::Auto) auto_ = value != 0;
    Show(*panel_, RowFor(item), value);
}

bool Rtx3080TiControl::LoadProfile() {
    if (!panel_) return false;
    ProfileSection section;
    if (!profiles_.ReadSection(ProfileSectionName(), section)) return false;
    const BoardSettings loaded = FromProfile(section);
    for (const PanelRow& row : Layout().rows) {
        const auto item = static_cast<PanelItem>(row.item);
        ShowValue(item, loaded[item].value);
    }
    panel_->SetCheck(ctl::kSync, SyncOf(section));
    return true;
}

void Rtx3080TiControl::SaveProfile() {
    if (!panel_) return;
    BoardSettings read;
    for (PanelItem item : ProfileOrder()) {
        const std::optional<std::int32_t> value = protocol_->Read(item);
        if (value) read[item] = Setting::Of(*value);
    }
    // A file that cannot be written is not reported.
    profiles_.WriteSection(ProfileSectionName(), ToProfile(read, panel_->IsChecked(ctl::kSync)));
}
