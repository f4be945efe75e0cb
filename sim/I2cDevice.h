#pragma once
// A device on a simulated GPU's I2C bus, seen as registers behind a one-byte address.
#include <cstdint>

namespace sim {

class I2cDevice {
public:
    virtual ~I2cDevice() = default;
    // False is a missing acknowledge: the transfer fails and, for a read, nothing is delivered.
    virtual bool Read(std::uint8_t reg, std::uint8_t* data, std::uint32_t length) = 0;
    virtual bool Write(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) = 0;
};

}  // namespace sim
