#pragma once
// The RTX 2080 Ti board's register protocol, apart from any panel: its NVVDD and FBVDD regulators
// (0x40, 0x44) and the offset device (0x24) that trims PEXVDD and +1.8V. Every write sequence goes
// on only while its writes succeed.
#include <cstdint>
#include <memory>
#include <optional>

#include "model/BoardBus.h"
#include "model/Plan.h"
#include "model/Rtx2080TiSettings.h"

class Rtx2080TiProtocol {
public:
    explicit Rtx2080TiProtocol(BoardBus& bus) : bus_(bus) {}
    // The same protocol on another bus.
    std::unique_ptr<Rtx2080TiProtocol> On(BoardBus& bus) const { return std::make_unique<Rtx2080TiProtocol>(bus); }

    // One read of one item, as the board reports it; nullopt when the read failed.
    std::optional<std::int32_t> Read(rtx2080ti::Item item);
    // Sets one item (never Auto) to a value within the family's range for it.
    Plan SetPlan(rtx2080ti::Item item, std::int32_t value) const;
    // Hands NVVDD back to automatic control; the plan completing is a hand-back that succeeded.
    Plan RestoreAutoPlan() const;

private:
    std::optional<bool> ReadFixedMode(std::uint8_t device);
    std::optional<std::int32_t> ReadVoltage(std::uint8_t device);
    std::optional<std::int32_t> ReadOffset(std::uint8_t reg);
    std::optional<std::int32_t> ReadWordItem(std::uint8_t reg, std::int32_t (*decode)(std::uint8_t, std::uint8_t));

    BoardBus& bus_;
};
