#pragma once
// A plain I2C device for raw register access: every register holds what was last written to
// it; reading delivers its bytes, zeros beyond them.
#include <cstdint>
#include <map>
#include <vector>

#include "sim/I2cDevice.h"

namespace app_test {

class ScratchDevice final : public sim::I2cDevice {
public:
    bool Read(std::uint8_t reg, std::uint8_t* data, std::uint32_t length) override {
        const std::vector<std::uint8_t>& bytes = registers[reg];
        for (std::uint32_t i = 0; i < length; ++i) data[i] = i < bytes.size() ? bytes[i] : 0;
        return true;
    }
    bool Write(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) override {
        registers[reg].assign(data, data + length);
        return true;
    }

    std::map<std::uint8_t, std::vector<std::uint8_t>> registers;
};

}  // namespace app_test
