#pragma once
// The RTX 3080 Ti board's microcontroller (MCU, device 0x5A on port 1) as its controller sees it.
//
// How this model behaves where the board's own firmware decides:
// - Identification (0xB1, 6 bytes, read only): byte 0 counts the bytes after it (5), byte 1 is the
//   board revision (0x10), byte 2 the MCU's 7-bit address 0x2D, byte 3 the board code 0x03, bytes
//   4-5 the firmware version (1.7).
// - The MCU starts locked. It unlocks when the exact handshake arrives in 0xB2; a wrong handshake
//   is not acknowledged and changes nothing. While locked it acknowledges no setting write.
//   Reads always work.
// - Every read register starts with a count byte (its length minus one), then the values:
//   0x19 the status block (NVVDD mode and code, MSVDD mode and code, FBVDD mode and code),
//   0x1A loadline, 0x1B OCP, 0x1C switching frequency, each NVVDD then MSVDD.
// - A setting write (0x10 to 0x18) is acknowledged when it has the register's length and its
//   first byte counts the bytes after it; anything else is refused. Values are taken as given,
//   without range checks, as a firmware that passes them on to the regulators would.
// - A rail written with mode 1 holds the code written; any other mode is automatic control, and
//   the rail then reports the voltage the GPU asks for (SetAutomaticCode, 175 at power-on).
// - Power-on state: the board's defaults: NVVDD and MSVDD automatic, FBVDD fixed at 220,
//   400 kHz, loadline level 1 and OCP enabled on both rails.
// The registers hold the state: Poke into 0x19 to 0x1C sets what the MCU reports.
#include <cstddef>
#include <cstdint>

#include "sim/RegisterDevice.h"

namespace sim {

class Mcu3080Ti final : public RegisterDevice {
public:
    Mcu3080Ti();

    bool IsLocked() const { return locked_; }
    void SetLocked(bool locked) { locked_ = locked; }

    // The code an automatic rail reports; also applied at once to rails under automatic control.
    void SetAutomaticCode(std::uint16_t code);

    // Views of the status block and the settings registers.
    std::uint8_t NvvddMode() const;
    std::uint16_t NvvddCode() const;
    std::uint8_t MsvddMode() const;
    std::uint16_t MsvddCode() const;
    std::uint8_t FbvddMode() const;
    std::uint16_t FbvddCode() const;
    std::uint8_t NvLoadline() const;
    std::uint8_t MsLoadline() const;
    std::uint8_t NvOcp() const;
    std::uint8_t MsOcp() const;
    std::uint8_t NvFrequency() const;
    std::uint8_t MsFrequency() const;

    // Puts a rail in a mode with a code, as if the MCU had been told so.
    void SetNvvdd(std::uint8_t mode, std::uint16_t code);
    void SetMsvdd(std::uint8_t mode, std::uint16_t code);
    void SetFbvdd(std::uint16_t code);

protected:
    bool OnWrite(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) override;

private:
    // A rail's mode byte in the status block; its code follows in the next two bytes.
    void SetRail(std::size_t modeByte, std::uint8_t mode, std::uint16_t code);
    std::uint8_t StatusByte(std::size_t index) const;
    std::uint16_t StatusWord(std::size_t index) const;
    void SetPairByte(std::uint8_t reg, std::size_t index, std::uint8_t value);

    bool locked_ = true;
    std::uint16_t automaticCode_ = 175;
};

}  // namespace sim
