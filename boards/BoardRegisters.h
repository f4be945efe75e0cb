#pragma once
// One register transfer of a board controller on its GPU: the board's port, a zeroed buffer
// for every read, and a copy of the caller's bytes for every write, since the transport takes
// a mutable buffer.
#include <cstdint>

#include "gpu/GpuList.h"

namespace board_registers {

constexpr std::uint32_t kMaxWriteLength = 16;

bool Read(const GpuList& gpus, std::uint32_t gpuIndex, std::uint8_t port, std::uint8_t device, std::uint8_t reg,
          std::uint8_t* data, std::uint32_t length);
// A length of 0 sends the register byte alone. Longer than kMaxWriteLength: refused, nothing sent.
bool Write(const GpuList& gpus, std::uint32_t gpuIndex, std::uint8_t port, std::uint8_t device, std::uint8_t reg,
           const std::uint8_t* data, std::uint32_t length);

}  // namespace board_registers
