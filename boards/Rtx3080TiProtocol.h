#pragma once
// An RTX 3080 Ti board's register protocol, apart from any panel: how one item is read, and the
// plans that set one item, hand a rail back to automatic control and finish the defaults. The two
// boards (through the MCU, at the regulators) differ only here.
#include <cstdint>
#include <memory>
#include <optional>

#include "model/BoardBus.h"
#include "model/Plan.h"
#include "model/Rtx3080TiSettings.h"

class Rtx3080TiProtocol {
public:
    explicit Rtx3080TiProtocol(BoardBus& bus) : bus_(bus) {}
    virtual ~Rtx3080TiProtocol() = default;
    Rtx3080TiProtocol(const Rtx3080TiProtocol&) = delete;
    Rtx3080TiProtocol& operator=(const Rtx3080TiProtocol&) = delete;

    // One read of one item, as the board reports it; nullopt when the read failed.
    virtual std::optional<std::int32_t> Read(rtx3080ti::Item item) = 0;
    // Sets one item (never Auto) to a value within the family's range for it.
    virtual Plan SetPlan(rtx3080ti::Item item, std::int32_t value) const = 0;
    // Hands a rail back to automatic control; the plan completing is a hand-back that succeeded.
    virtual Plan RestoreAutoPlan(rtx3080ti::Rail rail) const = 0;
    // The same protocol on another bus.
    virtual std::unique_ptr<Rtx3080TiProtocol> On(BoardBus& bus) const = 0;
    // What follows the defaults, before the board is read again.
    virtual Plan AfterDefaultsPlan() const { return {}; }

    BoardBus& Bus() const { return bus_; }

private:
    BoardBus& bus_;
};
