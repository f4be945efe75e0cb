#pragma once
// The byte order and voltage unit of register values, and the GPU's PCI subsystem ID by which a
// board is recognised. Transfers go through GpuBus.
#include <cstdint>
#include <optional>
#include <type_traits>

#include "gpu/GpuList.h"

namespace board_io {

// Two-byte register values travel low byte first.
template <typename Integer>
constexpr std::uint8_t LowByte(Integer value) {
    static_assert(std::is_integral_v<Integer>);
    return static_cast<std::uint8_t>(value & 0xFF);
}
template <typename Integer>
constexpr std::uint8_t HighByte(Integer value) {
    static_assert(std::is_integral_v<Integer>);
    return static_cast<std::uint8_t>((value >> 8) & 0xFF);
}
constexpr std::uint16_t Word(std::uint8_t low, std::uint8_t high) {
    return static_cast<std::uint16_t>(low | high << 8);
}

// Millivolts to voltage codes (6.25 mV steps), rounded down: 1200 mV and 1203 mV are both 192.
constexpr std::int32_t MillivoltsToCode(std::uint16_t millivolts) { return millivolts * 100 / 625; }

// The GPU's PCI subsystem ID, device in the upper half and vendor in the lower; nullopt when the
// list is not ready, the index lies beyond it or NvAPI does not answer.
std::optional<std::uint32_t> SubsystemId(const GpuList& gpus, std::uint32_t gpuIndex);
constexpr std::uint32_t SubsystemDevice(std::uint32_t subsystemId) { return subsystemId >> 16; }

}  // namespace board_io
