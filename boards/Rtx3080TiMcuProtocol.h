#pragma once
// The RTX 3080 Ti board reached through its microcontroller (MCU, device 0x5A): every setting is one
// MCU register, and the MCU drives the regulators. It wants a pause of 100 ms after each setting
// written, acknowledged or not, and 200 ms once the defaults are in.
#include "boards/Rtx3080TiProtocol.h"

class Rtx3080TiMcuProtocol final : public Rtx3080TiProtocol {
public:
    using Rtx3080TiProtocol::Rtx3080TiProtocol;

    // Detection: the MCU identifies itself, then takes the handshake. True when both succeeded.
    bool Probe();

    std::optional<std::int32_t> Read(rtx3080ti::Item item) override;
    Plan SetPlan(rtx3080ti::Item item, std::int32_t value) const override;
    Plan RestoreAutoPlan(rtx3080ti::Rail rail) const override;
    std::unique_ptr<Rtx3080TiProtocol> On(BoardBus& bus) const override {
        return std::make_unique<Rtx3080TiMcuProtocol>(bus);
    }
    Plan AfterDefaultsPlan() const override;
};
