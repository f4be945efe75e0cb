#include "boards/Rtx2080TiZyl.h"

#include "boards/BoardIo.h"
#include "boards/PanelPresenter.h"
#include "boards/Rtx2080TiLayout.h"
#include "boards/Rtx2080TiRegisters.h"
#include "gpu/AnsiText.h"
#include "gpu/NvApi.h"
#include "res/ControlIds.h"

namespace rb = rtx2080ti;

namespace {

using rtx2080ti::BoardSettings;
using rtx2080ti::Item;
using rtx2080ti::Layout;

const PanelRow& RowFor(Item item) { return *RowOf(Layout(), static_cast<int>(item)); }

using FamilyRequest = IVgaControl::SettingsRequest<BoardSettings>;

}  // namespace

// links is taken by reference, so its bus is still there while the protocol is made.
Rtx2080TiZyl::Rtx2080TiZyl(BoardLinks&& links, PanelSource& panels)
    : gpus_(links.gpus),
      gpuIndex_(links.gpuIndex),
      bus_(std::move(links.bus)),
      sleeper_(links.sleeper),
      protocol_(*bus_),
      panels_(panels) {
    detected_ = Probe();
}

bool Rtx2080TiZyl::Probe() const {
    const std::optional<std::uint32_t> subsystem = board_io::SubsystemId(gpus_, gpuIndex_);
    if (!subsystem) return false;
    if (board_io::SubsystemDevice(*subsystem) == rb::kSubsystemDevice) return true;
    if (*subsystem != rb::kReferenceSubsystem) return false;

    char version[nvapi::NVAPI_SHORT_STRING_MAX] = {};
    if (gpus_.Api().GPU_GetVbiosVersionString(gpus_.Handle(gpuIndex_), version) != nvapi::NVAPI_OK) return false;
    version[sizeof version - 1] = '\0';  // a driver that fills all 64 bytes must not run us off the end
    return AnsiToWide(version) == rb::kReferenceVbios;
}

bool Rtx2080TiZyl::RestoreAutoVoltage() {
    if (!RunPlan(protocol_.RestoreAutoPlan(), *bus_, sleeper_).Completed()) return false;
    auto_ = true;
    return true;
}

// ---- Panel ----

void Rtx2080TiZyl::Activate() {
    ControlPanel* panel = panels_.ControllerPanel();
    if (!panel) return;
    panel_ = panel;
    Configure(*panel, Layout(), auto_);
    RefreshPanel();
}

BoardSettings Rtx2080TiZyl::ReadSettings() {
    BoardSettings settings;
    for (std::size_t i = 0; i < BoardSettings::kCount; ++i) {
        const auto item = static_cast<Item>(i);
        const std::optional<std::int32_t> value = protocol_.Read(item);
        settings[item] = value ? Setting::Of(*value) : Setting::NotRead("the board did not answer");
    }
    return settings;
}

void Rtx2080TiZyl::RefreshPanel() {
    lastRead_ = ReadSettings();
    // An unreadable mode shows as fixed: Auto off; an unreadable row keeps what it showed.
    const Setting& automatic = lastRead_[Item::Auto];
    auto_ = automatic.read && automatic.value != 0;
    Show(*panel_, RowFor(Item::Auto), auto_ ? 1 : 0);
    for (const PanelRow& row : Layout().rows) {
        const Setting& s = lastRead_[static_cast<Item>(row.item)];
        if (row.kind != PanelRow::Kind::Check && s.read) Show(*panel_, row, s.value);
    }
}

std::vector<ShownSetting> Rtx2080TiZyl::ReadShown() { return Describe(Layout(), ByItem(ReadSettings())); }

std::vector<int> Rtx2080TiZyl::UnreadControls() const { return ::UnreadControls(Layout(), lastRead_); }

bool Rtx2080TiZyl::ShowNvvdd() {
    const std::optional<std::int32_t> code = protocol_.Read(Item::Nvvdd);
    if (!code) return false;
    Show(*panel_, RowFor(Item::Nvvdd), *code);
    return true;
}

void Rtx2080TiZyl::OnSliderMoved(int controlId) {
    if (panel_) ShowSliderText(*panel_, Layout(), controlId);
}

// ---- Operations that write ----

BoardSettings Rtx2080TiZyl::Wanted() const { return TakeAll<Item>(*panel_, Layout(), auto_); }

std::unique_ptr<IVgaControl::Request> Rtx2080TiZyl::Requested() const {
    if (!panel_) return std::make_unique<Request>();
    return std::make_unique<FamilyRequest>(Wanted());
}

void Rtx2080TiZyl::Apply() {
    if (!panel_) return;
    ApplySettings(Wanted());
}

void Rtx2080TiZyl::ApplyRequest(const Request& request) {
    if (const auto* settings = dynamic_cast<const FamilyRequest*>(&request)) ApplySettings(settings->wanted);
    else Apply();
}

void Rtx2080TiZyl::ApplySettings(const BoardSettings& wanted) {
    if (!panel_) return;
    // The Auto flag is this board's own, as the panel shows it.
    BoardSettings asked = wanted;
    asked[Item::Auto] = Setting::Of(auto_ ? 1 : 0);
    RunToEnd(*ApplyJobOn<Item>(*bus_, ::ApplyOrder(asked, rtx2080ti::ApplyOrder()), protocol_), sleeper_);
    RefreshPanel();
}

void Rtx2080TiZyl::DefaultItem(Item item, std::int32_t value) {
    const std::optional<std::int32_t> current = protocol_.Read(item);
    if (current && *current != value) RunPlan(protocol_.SetPlan(item, value), *bus_, sleeper_);
}

void Rtx2080TiZyl::LoadDefaults() {
    if (!panel_) return;
    DefaultItem(Item::Ocp, rb::kDefaultOcp ? 1 : 0);
    DefaultItem(Item::Ln2, rb::kDefaultLn2 ? 1 : 0);
    RestoreAutoVoltage();
    DefaultItem(Item::Fbvdd, rb::kDefaultFbvdd);
    DefaultItem(Item::Pexvdd, rb::kDefaultPexvdd);
    DefaultItem(Item::Rail1v8, rb::kDefaultRail1v8);
    DefaultItem(Item::Frequency, rb::kDefaultFrequency);
    DefaultItem(Item::Loadline, rb::kDefaultLoadline);
    RefreshPanel();
}

void Rtx2080TiZyl::SetAuto(bool checked) {
    if (!panel_ || checked == auto_) return;
    auto_ = checked;
    panel_->Enable(ctl::kRow1Slider, !checked);
    // Unchecking writes nothing: the GPU keeps control until Apply sets a fixed voltage.
    if (!checked) return;
    RestoreAutoVoltage();
    ShowNvvdd();
}
