#pragma once
// The one path from a board to its GPU's I2C bus: one register transfer with one device, as one
// NvAPI call on one port of one GPU of the list. Neither retries, caches, splits nor merges.
#include <cstdint>

#include "gpu/GpuList.h"
#include "model/BoardBus.h"

class GpuBus final : public BoardBus {
public:
    static constexpr std::uint32_t kMaxWriteLength = 16;

    // port 0 leaves the port to the driver.
    GpuBus(const GpuList& gpus, std::uint32_t gpuIndex, std::uint8_t port)
        : gpus_(gpus), gpuIndex_(gpuIndex), port_(port) {}

    // The buffer is zeroed first, so a failed read leaves no stale bytes behind.
    bool Read(std::uint8_t device, std::uint8_t reg, std::uint8_t* data, std::uint32_t length) override;
    // A length of 0 sends the register byte alone. Longer than kMaxWriteLength: refused, nothing
    // sent.
    bool Write(std::uint8_t device, std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) override;

private:
    bool Transfer(std::uint8_t device, std::uint8_t reg, std::uint8_t* data, std::uint32_t length, bool write);

    const GpuList& gpus_;
    std::uint32_t gpuIndex_;
    std::uint8_t port_;
};
