#pragma once
// The RTX 3080 Ti board driven without its microcontroller: straight at its three voltage
// regulators, NVVDD (0x40), FBVDD (0x44) and MSVDD (0x7C). It looks to the user exactly like the
// MCU-driven board; nothing here pauses.
#include <cstdint>

#include "boards/Rtx3080TiControl.h"
#include "dialog/ControlPanel.h"

class Rtx3080TiZyl final : public Rtx3080TiControl {
public:
    Rtx3080TiZyl(std::uint32_t gpuIndex, PanelSource& panels);

    // Detection: the GPU's PCI subsystem device ID marks the board. No I2C traffic.
    bool Probe();

private:
    bool ReadItem(PanelItem item, std::int32_t& value) override;
    void WriteItem(PanelItem item, std::int32_t value) override;
    bool RestoreAuto(Rail rail) override;

    bool ReadVoltage(std::uint8_t device, std::int32_t& code) const;
    bool WriteVoltage(std::uint8_t device, std::int32_t code) const;
    bool WriteMemoryVoltage(std::int32_t code) const;
    bool RestoreAutoVoltage(std::uint8_t device);
    void WriteSwitchingFrequency(std::uint8_t device, std::int32_t frequency) const;
    void WriteLoadline(std::uint8_t device, std::int32_t level) const;
    bool WriteOcp(std::uint8_t device, std::int32_t enable) const;

    bool ReadWord(std::uint8_t device, std::uint8_t reg, std::uint8_t (&bytes)[2]) const;
    bool WriteWord(std::uint8_t device, std::uint8_t reg, const std::uint8_t (&bytes)[2]) const;
    bool WriteWordValue(std::uint8_t device, std::uint8_t reg, std::int32_t value) const;
    bool ReadByte(std::uint8_t device, std::uint8_t reg, std::uint8_t& byte) const;
    bool WriteByte(std::uint8_t device, std::uint8_t reg, std::uint8_t byte) const;
};
