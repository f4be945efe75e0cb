#pragma once
// The RTX 2080 Ti board: no microcontroller, the controller talks to the NVVDD regulator (which
// also holds switching frequency, loadline, OCP and LN2 mode), the FBVDD regulator and the
// PEXVDD/+1.8V offset device directly. Register map and tables: Rtx2080TiRegisters.h.
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
#include <optional>
#include <vector>

#include "boards/IVgaControl.h"
#include "dialog/ControlPanel.h"
#include "gpu/GpuList.h"

class Rtx2080TiZyl final : public IVgaControl {
public:
    // Runs the detection probe; it sends nothing over I2C.
    Rtx2080TiZyl(std::uint32_t gpuIndex, PanelSource& panels);

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
    std::vector<int> UnreadControls() const override { return unread_; }
    std::unique_ptr<Request> Requested() const override;
    void ApplyRequest(const Request& request) override;

    std::uint32_t GpuIndex() const { return gpuIndex_; }
    bool IsAuto() const { return auto_; }

private:
    bool Probe() const;
    void ConfigurePanel();

    // One transfer on this controller's GPU through the board's port.
    bool ReadRegister(std::uint8_t device, std::uint8_t reg, std::uint8_t* data, std::uint32_t length) const;
    bool WriteRegister(std::uint8_t device, std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) const;
    bool WriteByte(std::uint8_t device, std::uint8_t reg, std::uint8_t value) const;
    bool WritePair(std::uint8_t device, std::uint8_t reg, std::uint8_t first, std::uint8_t second) const;
    bool WriteWord(std::uint8_t device, std::uint8_t reg, unsigned value) const;  // low byte first

    // Reads of the board; nullopt when the read failed.
    std::optional<bool> ReadFixedMode(std::uint8_t device) const;
    std::optional<int> ReadVoltage(std::uint8_t device) const;
    std::optional<int> ReadOffset(std::uint8_t reg) const;
    std::optional<int> ReadFrequency() const;  // 100 kHz steps, rounded down
    std::optional<int> ReadLoadline() const;
    std::optional<int> ReadLn2Mode() const;
    std::optional<int> ReadOcp() const;

    // Write sequences; each write is made only when the one before it succeeded.
    bool RestoreAutoVoltage();
    bool WriteVoltage(int code) const;
    bool WriteMemoryVoltage(int code) const;
    bool WriteSwitchingFrequency(int step) const;
    bool WriteOffset(std::uint8_t reg, int offset) const;
    bool WriteLoadline(int level) const;
    bool WriteOcp(bool enable) const;
    bool WriteLn2Mode(bool on) const;

    struct Choices;
    void ApplyChoices(const Choices& wanted);
    void RefreshPanel();
    // false when the read failed
    bool ShowNvvdd();
    void ShowSlider(int slider, int value, int base, int top);

    // The panel's choices, in board terms; nullopt when a list holds no choice or the window lacks
    // the control.
    int SliderValue(int slider, int base, int top) const;
    std::optional<int> SliderChoice(int slider, int base, int top) const;
    std::optional<int> ListChoice(int list, int items) const;

    const GpuList& gpus_;
    std::uint32_t gpuIndex_;
    PanelSource& panels_;
    ControlPanel* panel_ = nullptr;
    bool detected_ = false;
    bool auto_ = false;
    std::vector<int> unread_;
};
