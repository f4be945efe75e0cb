#pragma once
// The one transfer primitive board code sees: a register transfer with one device on the board's
// own bus. Which GPU and port that is, and how the driver is asked, is the realization's business.
#include <cstdint>

class BoardBus {
public:
    virtual ~BoardBus() = default;
    // Reads length bytes from register reg of the device (8-bit address form).
    virtual bool Read(std::uint8_t device, std::uint8_t reg, std::uint8_t* data, std::uint32_t length) = 0;
    // A length of 0 sends the register byte alone.
    virtual bool Write(std::uint8_t device, std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) = 0;
};
