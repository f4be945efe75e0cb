#pragma once
// One of the RTX 3080 Ti board's voltage regulators (NVVDD at 0x40, FBVDD at 0x44, MSVDD at 0x7C on
// port 1), as the direct controller sees it.
//
// How this model behaves where the part itself decides:
// - Registers, two bytes little-endian unless noted: 0xE1 voltage control (byte 0 bit 4: the
//   output follows 0x21), 0x21 fixed voltage code, 0x8B measured millivolts (read only), 0x24
//   voltage limit code, 0xBD switching frequency in 10 kHz units, 0x05 (one byte, a commit the part
//   acknowledges), 0x1E loadline (one byte, bits 0-3 the level), 0x06 loadline step (one byte),
//   0xEC OCP (byte 1 bits 5-6), 0x44 and 0xEE and 0x6A OCP companions. Every register takes only
//   writes of its own width; the FBVDD regulator has only 0xE1, 0x21 and 0x8B and acknowledges
//   nothing else.
// - 0x8B is computed on every read: while the output is fixed, the fixed code times 6.25 mV
//   (truncated); otherwise the voltage the GPU asks for (SetAutomaticMillivolts, 1094 mV at power-on,
//   which reads back as code 175). Its top four bits carry the status bits set with
//   SetMeasurementStatus (none at power-on); poking 0x8B has no lasting effect.
// - Other register bits are stored as written and mean nothing here. Power-on values hold a few of
//   them set, so a controller that does not keep them is caught.
// - Power-on state: the board's defaults: NVVDD and MSVDD automatic, FBVDD fixed at code 220,
//   400 kHz, loadline level 1, OCP enabled.
#include <cstdint>

#include "sim/RegisterDevice.h"

namespace sim {

class Regulator3080Ti final : public RegisterDevice {
public:
    enum class Rail { Nvvdd, Fbvdd, Msvdd };

    explicit Regulator3080Ti(Rail rail);

    Rail GetRail() const { return rail_; }

    // The voltage the output takes while not fixed.
    void SetAutomaticMillivolts(std::uint16_t millivolts) { automaticMillivolts_ = millivolts; }
    // Status bits reported in the top four bits of the measurement.
    void SetMeasurementStatus(std::uint8_t bits) { status_ = static_cast<std::uint8_t>(bits & 0x0F); }

    bool IsFixed() const;
    std::uint16_t FixedCode() const;
    std::uint16_t MeasuredMillivolts() const;

    // Sets the output fixed at a code, or hands it to the GPU, as if the part had been told so.
    void SetFixed(std::uint16_t code);
    void SetAutomatic();

protected:
    void BeforeRead(std::uint8_t reg) override;

private:
    Rail rail_;
    std::uint16_t automaticMillivolts_ = 1094;
    std::uint8_t status_ = 0;
};

}  // namespace sim
