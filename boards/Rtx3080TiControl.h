#pragma once
// What the two RTX 3080 Ti controllers share: the panel they configure, how a board value appears
// in it, the order in which Apply and Default visit the settings, and the profile. A board
// controller adds only the register traffic for one setting at a time.
//
// A drop-down list whose text the user typed has no selection. Such a list holds no choice, so
// Apply leaves that setting on the board as it is (it does not even read it) and the closing
// refresh shows the board's value again. Slider positions are clamped into the slider's range
// before use, so nothing outside the panel's ranges is ever written.
//
// Before the first Activate that found the controller window the controller has no panel; every
// operation other than IsDetected and GetFamily then does nothing (LoadProfile returns false).
#include <cstdint>
#include <string>
#include <vector>

#include "boards/IVgaControl.h"
#include "dialog/ControlPanel.h"
#include "gpu/GpuList.h"
#include "profile/ProfileStore.h"

namespace rtx3080ti {

// The ten settings the panel shows.
enum class PanelItem { Auto, Nvvdd, Fbvdd, Msvdd, NvFrequency, MsFrequency, NvLoadline, MsLoadline, NvOcp, MsOcp };

// The rails that can be handed back to automatic control.
enum class Rail { Nvvdd, Msvdd };

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
    std::vector<int> UnreadControls() const override { return unread_; }

    std::uint32_t GpuIndex() const { return gpuIndex_; }
    bool IsAuto() const { return auto_; }

protected:
    using PanelItem = rtx3080ti::PanelItem;
    using Rail = rtx3080ti::Rail;

    // Takes the profile store first, then the GPU list.
    Rtx3080TiControl(std::uint32_t gpuIndex, PanelSource& panels);

    // One read of one setting, as the board reports it; for Auto, non-zero means automatic
    // control. Leaves value alone when the read fails.
    virtual bool ReadItem(PanelItem item, std::int32_t& value) = 0;
    // Writes one setting (never Auto); value lies within the panel's range for the item.
    virtual void WriteItem(PanelItem item, std::int32_t value) = 0;
    // Hands a rail back to automatic control; a successful hand-back sets the Auto flag.
    virtual bool RestoreAuto(Rail rail) = 0;
    // Runs after the defaults are written, before the panel is refreshed.
    virtual void AfterDefaults() {}

    void SetDetected() { detected_ = true; }
    void SetAutoFlag() { auto_ = true; }
    const GpuList& Gpus() const { return gpus_; }

    // One transfer on this controller's GPU through the board's port. Reads zero the buffer first.
    bool ReadRegister(std::uint8_t device, std::uint8_t reg, std::uint8_t* data, std::uint32_t length) const;
    bool WriteRegister(std::uint8_t device, std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) const;

private:
    void RefreshPanel();
    void ShowValue(PanelItem item, std::int32_t value);
    // The panel's value for a setting; false when a list holds no choice.
    bool PanelValue(PanelItem item, std::int32_t& value) const;
    void ApplyItem(PanelItem item);
    void DefaultItem(PanelItem item, std::int32_t value);

    ProfileStore& profiles_;
    const GpuList& gpus_;
    std::uint32_t gpuIndex_;
    PanelSource& panels_;
    ControlPanel* panel_ = nullptr;
    bool detected_ = false;
    bool auto_ = false;
    std::vector<int> unread_;
};
