#pragma once
#include <cstdint>

// One I2C transaction on one GPU's bus: a one-byte register address, then the data.
struct I2cTransfer {
    std::uint32_t gpuIndex = 0;
    std::uint8_t deviceAddress = 0;  // 8-bit form: the 7-bit address shifted left by one
    std::uint8_t registerAddress = 0;
    std::uint8_t* data = nullptr;    // may be null when length is 0
    std::uint32_t length = 0;
    std::uint8_t port = 0;           // 0 leaves the port to the driver
};
