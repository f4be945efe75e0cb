#pragma once
// A voltage regulator of the RTX 2080 Ti board, as the board's controller sees it over I2C.
//
// Both rails answer:
// - 0xE1, 2 bytes, control word. Byte 0 bit 4 set: the output follows register 0x21 (fixed);
//   clear: the GPU chooses the output voltage (automatic). Every other bit is stored, not
//   interpreted.
// - 0x21, 2 bytes, fixed output voltage in 6.25 mV steps. The FBVDD part counts from 4 steps
//   up: its output is (value + 4) x 6.25 mV.
// - 0x8B, 2 bytes, read only: the measured output in millivolts, rounded down. When fixed it
//   follows register 0x21; when automatic it is whatever the GPU asks for (SetGpuRequest).
// The NVVDD part also holds:
// - 0x24, 2 bytes, the highest output code a fixed setting may reach; a higher setting in 0x21
//   is held at this limit.
// - 0x2A, 2 bytes, a trim word written by the voltage sequences and the loadline; stored.
// - 0xBD, 2 bytes, switching frequency in 10 kHz units. A new value takes effect only with a
//   register-only write (no data) of 0x05; until then the part keeps switching at the old one.
// - 0x1E, 0x2B, 0x06, 1 byte each, loadline settings; 0xEC, 0xEE and 0x44, 2 bytes each, OCP and
//   LN2 settings. Stored as written, not interpreted.
// Writes of any other length than a register's width, writes of registers the part lacks and
// writes of 0x8B are not acknowledged.
//
// Power-on state is the board's default: NVVDD automatic (control 0x88 0xC2, limit 208, 0x21 at
// 192) with the GPU asking for 1000 mV; FBVDD automatic (control 0x88 0x42, 0x21 at 216) with the
// memory asking for 1375 mV, code 220; 400 kHz; loadline level 0 (0x1E 0x31, 0x2B 0x1F, 0x06
// 0x00, 0x2A 0x20 0x3A); OCP enabled (0xEC 0x41 0x23, 0xEE 0x5F 0x54 which is LN2 off, 0x44 0x0B
// 0x0C).
#include <cstdint>

#include "sim/RegisterDevice.h"

namespace sim {

class Regulator2080Ti : public RegisterDevice {
public:
    enum class Rail { Nvvdd, Fbvdd };

    explicit Regulator2080Ti(Rail rail);

    Rail GetRail() const { return rail_; }
    bool IsFixed() const;
    // The voltage the GPU asks for while the output is automatic.
    void SetGpuRequest(std::uint16_t millivolts) { gpuRequestMv_ = millivolts; }
    std::uint16_t OutputMillivolts() const;
    // The switching frequency in effect, 10 kHz units (NVVDD only).
    std::uint16_t ActiveFrequency() const { return activeFrequency_; }

protected:
    void BeforeRead(std::uint8_t reg) override;
    bool OnWrite(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) override;

private:
    Rail rail_;
    std::uint16_t gpuRequestMv_;
    std::uint16_t activeFrequency_ = 0;
};

}  // namespace sim
