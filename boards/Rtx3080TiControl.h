#pragma once
// What the two RTX 3080 Ti controllers share: the panel they configure, how a board value appears
// in it, the order in which Apply and Default visit the settings, and the profile. A board
// controller adds only its register protocol.
//
// A drop-down list whose text the user typed has no selection. Such a list holds no choice, so
// Apply leaves that setting on the board as it is (it does not even read it) and the closing
// refresh shows the board's value again. Slider positions are clamped into the slider's range
// before use, so nothing outside the panel's ranges is ever written.
//
// Before the first Activate that found the controller window the controller has no panel; every
// operation other than IsDetected and GetFamily then does nothing (LoadProfile returns false).
#include <cstdint>
#include <memory>
#include <vector>

#include "boards/BoardLinks.h"
#include "boards/IVgaControl.h"
#include "boards/Rtx3080TiProtocol.h"
#include "dialog/ControlPanel.h"
#include "model/ApplyJob.h"
#include "model/Rtx3080TiSettings.h"

namespace rtx3080ti {

using PanelItem = Item;

// Both controllers' profiles live in this section of Profile.ini.
inline const wchar_t* ProfileSectionName() { return L"RTX3080TiZYL"; }

}  // namespace rtx3080ti

class Rtx3080TiControl : public IVgaControl {
public:
    bool IsDetected() const override { return detected_; }
    void Activate() override;
    void OnSliderMoved(int controlId) override;
    void Apply() override;
    void LoadDefaults() override;
    void OnTimerTick() override {}
    void SetAuto(bool checked) override;
    int GetFamily() const override { return family::kRtx3080Ti; }
    bool LoadProfile() override;
    void SaveProfile() override;
    std::vector<int> UnreadControls() const override;
    std::vector<ShownSetting> ReadShown() override;
    std::unique_ptr<Request> Requested() const override;
    void ApplyRequest(const Request& request) override;

    std::uint32_t GpuIndex() const { return gpuIndex_; }
    bool IsAuto() const { return auto_; }

    // Every item as the board reports it now, read in the order the panel is filled.
    rtx3080ti::BoardSettings ReadSettings();
    // Apply as a job of its own, with these settings rather than the panel's, for a front end that
    // runs several boards side by side; the bus may be one that only pretends to write.
    std::unique_ptr<ApplyJob> MakeApplyJob(const rtx3080ti::BoardSettings& wanted, BoardBus& bus);
    BoardBus& Bus() const { return *bus_; }

protected:
    using PanelItem = rtx3080ti::Item;
    using Rail = rtx3080ti::Rail;

    Rtx3080TiControl(BoardLinks&& links, PanelSource& panels, std::unique_ptr<Rtx3080TiProtocol> protocol);

    void SetDetected() { detected_ = true; }
    const GpuList& Gpus() const { return gpus_; }
    Rtx3080TiProtocol& Protocol() const { return *protocol_; }

private:
    // What the panel asks for: its slider positions clamped into their ranges, its lists' choices
    // (a list without a choice: not read, so Apply leaves that item alone) and the Auto flag.
    rtx3080ti::BoardSettings Wanted() const;
    void ApplySettings(const rtx3080ti::BoardSettings& wanted);
    void RunPlan(Plan plan) const;
    // Hands a rail back to automatic control; a successful hand-back sets the Auto flag.
    bool RestoreAuto(Rail rail);
    void DefaultItem(PanelItem item, std::int32_t value);
    void RefreshPanel();
    void ShowValue(PanelItem item, std::int32_t value);

    ProfileStore& profiles_;
    const GpuList& gpus_;
    std::uint32_t gpuIndex_;
    std::unique_ptr<BoardBus> bus_;
    Sleeper& sleeper_;
    std::unique_ptr<Rtx3080TiProtocol> protocol_;
    PanelSource& panels_;
    ControlPanel* panel_ = nullptr;
    bool detected_ = false;
    bool auto_ = false;
    rtx3080ti::BoardSettings lastRead_;
};
