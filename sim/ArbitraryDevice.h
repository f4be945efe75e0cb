#pragma once
// A device whose replies are noise: every read succeeds with bytes from a seeded generator,
// every write is acknowledged (and passed on to the real device behind it, if any). Models a
// confused part or a bus shared with something else, so the program's handling of nonsense can
// be tested.
#include <cstdint>
#include <memory>
#include <random>

#include "sim/I2cDevice.h"

namespace sim {

class ArbitraryDevice final : public I2cDevice {
public:
    explicit ArbitraryDevice(std::uint32_t seed, std::shared_ptr<I2cDevice> behind = nullptr)
        : random_(seed), behind_(std::move(behind)) {}

    bool Read(std::uint8_t reg, std::uint8_t* data, std::uint32_t length) override {
        (void)reg;
        std::uniform_int_distribution<int> byte(0, 255);
        for (std::uint32_t i = 0; i < length; ++i) data[i] = static_cast<std::uint8_t>(byte(random_));
        return true;
    }

    bool Write(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) override {
        if (behind_) behind_->Write(reg, data, length);
        return true;
    }

private:
    std::mt19937 random_;
    std::shared_ptr<I2cDevice> behind_;
};

}  // namespace sim
