#pragma once
// How the boards' chips put numbers into their registers: two-byte values low byte first, and
// output voltages in steps of 6.25 mV.
#include <cstdint>
#include <vector>

namespace sim {

inline std::uint8_t LowByte(unsigned value) { return static_cast<std::uint8_t>(value & 0xFFu); }
inline std::uint8_t HighByte(unsigned value) { return static_cast<std::uint8_t>((value >> 8) & 0xFFu); }
inline std::vector<std::uint8_t> WordBytes(unsigned value) { return {LowByte(value), HighByte(value)}; }

// The output a voltage code asks for, in whole millivolts, rounded down.
constexpr std::uint32_t CodeMillivolts(std::uint32_t code) { return code * 625u / 100u; }

}  // namespace sim
