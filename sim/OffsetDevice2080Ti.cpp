#include "sim/OffsetDevice2080Ti.h"

namespace sim {

namespace {

constexpr std::uint8_t kRail1v8 = 0x01;
constexpr std::uint8_t kRailPexvdd = 0x02;
// Sign-magnitude: bit 7 the sign, bits 0 to 6 the magnitude.
constexpr std::uint8_t kSignBit = 0x80;
constexpr std::uint8_t kMagnitudeBits = 0x7F;
constexpr std::uint8_t kPowerOnOffset = 0x00;

bool IsZero(std::uint8_t byte) { return (byte & kMagnitudeBits) == 0; }

}  // namespace

OffsetDevice2080Ti::OffsetDevice2080Ti() {
    Define(kRail1v8, {kPowerOnOffset});
    Define(kRailPexvdd, {kPowerOnOffset});
}

int OffsetDevice2080Ti::Offset(std::uint8_t reg) const {
    const std::vector<std::uint8_t> value = Value(reg);
    if (value.empty()) return 0;
    const int magnitude = value[0] & kMagnitudeBits;
    return (value[0] & kSignBit) != 0 ? -magnitude : magnitude;
}

bool OffsetDevice2080Ti::OnWrite(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) {
    if (length != 1) return false;
    const std::vector<std::uint8_t> stored = Value(reg);
    const std::uint8_t next = data[0];
    const bool signFlips = ((stored[0] ^ next) & kSignBit) != 0;
    if (signFlips && !(IsZero(stored[0]) && IsZero(next))) return false;
    return RegisterDevice::OnWrite(reg, data, length);
}

}  // namespace sim
