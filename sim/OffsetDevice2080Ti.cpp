#include "sim/OffsetDevice2080Ti.h"

#include "boards/Rtx2080TiRegisters.h"

namespace sim {

namespace {
namespace ofs = rtx2080ti::offset;

bool IsZero(std::uint8_t byte) { return (byte & ofs::kMagnitudeMask) == 0; }
}  // namespace

OffsetDevice2080Ti::OffsetDevice2080Ti() {
    Define(ofs::kRail1v8, {ofs::kPositiveZero});
    Define(ofs::kRailPexvdd, {ofs::kPositiveZero});
}

int OffsetDevice2080Ti::Offset(std::uint8_t reg) const {
    const std::vector<std::uint8_t> value = Value(reg);
    if (value.empty()) return 0;
    const int magnitude = value[0] & ofs::kMagnitudeMask;
    return (value[0] & ofs::kNegative) != 0 ? -magnitude : magnitude;
}

bool OffsetDevice2080Ti::OnWrite(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) {
    if (length != 1) return false;
    const std::vector<std::uint8_t> stored = Value(reg);
    const std::uint8_t next = data[0];
    const bool signFlips = ((stored[0] ^ next) & ofs::kNegative) != 0;
    if (signFlips && !(IsZero(stored[0]) && IsZero(next))) return false;
    return RegisterDevice::OnWrite(reg, data, length);
}

}  // namespace sim
