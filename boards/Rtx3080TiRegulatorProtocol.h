#pragma once
// The RTX 3080 Ti board driven without its microcontroller: straight at its three voltage
// regulators, NVVDD (0x40), FBVDD (0x44) and MSVDD (0x7C). Nothing here pauses. Many settings are
// a bit or a field of a register: the plan reads it and writes it back changed.
#include "boards/Rtx3080TiProtocol.h"

class Rtx3080TiRegulatorProtocol final : public Rtx3080TiProtocol {
public:
    using Rtx3080TiProtocol::Rtx3080TiProtocol;

    std::optional<std::int32_t> Read(rtx3080ti::Item item) override;
    Plan SetPlan(rtx3080ti::Item item, std::int32_t value) const override;
    Plan RestoreAutoPlan(rtx3080ti::Rail rail) const override;
    std::unique_ptr<Rtx3080TiProtocol> On(BoardBus& bus) const override {
        return std::make_unique<Rtx3080TiRegulatorProtocol>(bus);
    }

private:
    std::optional<std::int32_t> ReadVoltage(std::uint8_t device);
    bool ReadWord(std::uint8_t device, std::uint8_t reg, std::uint8_t (&bytes)[2]);
};
