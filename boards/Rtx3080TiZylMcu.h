#pragma once
// The RTX 3080 Ti board reached through its microcontroller (MCU, device 0x5A): every setting is one
// MCU register, and the MCU drives the regulators. It wants a pause of 100 ms after each setting
// written, and 200 ms once the defaults are in.
#include <cstddef>
#include <cstdint>

#include "boards/Rtx3080TiControl.h"
#include "dialog/ControlPanel.h"
#include "gpu/Sleeper.h"

class Rtx3080TiZylMcu final : public Rtx3080TiControl {
public:
    Rtx3080TiZylMcu(std::uint32_t gpuIndex, PanelSource& panels, Sleeper& sleeper);

    // Detection: the MCU identifies itself, then takes the handshake. True when both succeeded.
    bool Probe();

private:
    bool ReadItem(PanelItem item, std::int32_t& value) override;
    void WriteItem(PanelItem item, std::int32_t value) override;
    bool RestoreAuto(Rail rail) override;
    void AfterDefaults() override;

    // Hands one rail back to automatic control when it holds a fixed voltage.
    bool RestoreAutoRail(std::uint8_t reg, std::size_t modeByte);

    bool Read(std::uint8_t reg, std::uint8_t* data, std::uint32_t length) const;
    bool Write(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) const;

    Sleeper& sleeper_;
};
