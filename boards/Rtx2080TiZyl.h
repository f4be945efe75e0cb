#pragma once
// The RTX 2080 Ti board: no microcontroller, the controller talks to the NVVDD regulator (which
// also holds switching frequency, loadline, OCP and LN2 mode), the FBVDD regulator and the
// PEXVDD/+1.8V offset device directly. Its register protocol: Rtx2080TiProtocol.h; its panel
// rows: Rtx2080TiLayout.h.
//
// Choices of this controller:
// - A drop-down list with no selection (the user typed into its field, or the board did not
//   answer the refresh that would have selected an item) holds no choice: Apply leaves that
//   setting on the board as it is, without reading it, and the closing refresh shows the board's
//   value again. Only levels 0 to 11 are ever written as a loadline.
// - Slider positions are held within the slider's range before use, so nothing outside the
//   panel's ranges is written, whatever the toolkit reports. A setting whose slider or list the
//   window lacks is left alone by Apply, rather than read as position 0.
// - An offset read from the board outside its voltage table (PEXVDD outside -4..15, +1.8V outside
//   -1..3) has no voltage to show: its value field shows the offset itself, "offset +16", while
//   the slider stands at the nearest end.
// - Before the first Activate that found the controller window the controller has no panel;
//   every operation other than IsDetected and GetFamily then does nothing.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "boards/BoardLinks.h"
#include "boards/IVgaControl.h"
#include "boards/Rtx2080TiProtocol.h"
#include "dialog/ControlPanel.h"
#include "model/ApplyJob.h"
#include "model/Rtx2080TiSettings.h"

class Rtx2080TiZyl final : public IVgaControl {
public:
    // Runs the detection probe; it sends nothing over I2C.
    Rtx2080TiZyl(BoardLinks&& links, PanelSource& panels);

    bool IsDetected() const override { return detected_; }
    void Activate() override;
    void OnSliderMoved(int controlId) override;
    void Apply() override;
    void LoadDefaults() override;
    void OnTimerTick() override {}
    void SetAuto(bool checked) override;
    int GetFamily() const override { return family::kRtx2080Ti; }
    bool LoadProfile() override { return false; }
    void SaveProfile() override {}
    std::vector<int> UnreadControls() const override;
    std::vector<ShownSetting> ReadShown() override;
    std::unique_ptr<Request> Requested() const override;
    void ApplyRequest(const Request& request) override;

    std::uint32_t GpuIndex() const { return gpuIndex_; }
    bool IsAuto() const { return auto_; }

    // Every item as the board reports it now, read in the order the panel is filled.
    rtx2080ti::BoardSettings ReadSettings();

private:
    using Item = rtx2080ti::Item;

    bool Probe() const;
    // What the panel asks for; an item whose list holds no choice, or whose control the window
    // lacks, is not read and so left alone.
    rtx2080ti::BoardSettings Wanted() const;
    void ApplySettings(const rtx2080ti::BoardSettings& wanted);
    bool RestoreAutoVoltage();
    void DefaultItem(Item item, std::int32_t value);
    void RefreshPanel();
    // false when the read failed
    bool ShowNvvdd();

    const GpuList& gpus_;
    std::uint32_t gpuIndex_;
    std::unique_ptr<BoardBus> bus_;
    Sleeper& sleeper_;
    Rtx2080TiProtocol protocol_;
    PanelSource& panels_;
    ControlPanel* panel_ = nullptr;
    bool detected_ = false;
    bool auto_ = false;
    rtx2080ti::BoardSettings lastRead_;
};
