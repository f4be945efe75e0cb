#pragma once
// The RTX 2080 Ti board's trim device for the +1.8V rail (register 0x01) and the PEXVDD rail
// (register 0x02). Each register holds one signed offset step as a sign-magnitude byte: bit 7
// set is negative, bits 0 to 6 the magnitude; 0x80 is minus zero. Both start at 0x00.
//
// The part never flips a rail's sign in one step: a write that would change bit 7 is
// acknowledged only between the two zeros, 0x00 and 0x80. Anything else that changes the sign
// (0x02 to 0x83, 0x00 to 0x83, 0x81 to 0x00) is not acknowledged and leaves the register as it
// was, so a program must walk through 0x00 and 0x80 to cross zero. Writes of any other length
// than one byte, and of other registers, are not acknowledged either.
#include <cstdint>

#include "sim/RegisterDevice.h"

namespace sim {

class OffsetDevice2080Ti : public RegisterDevice {
public:
    OffsetDevice2080Ti();

    // The offset a register holds now, as a signed number of steps.
    int Offset(std::uint8_t reg) const;

protected:
    bool OnWrite(std::uint8_t reg, const std::uint8_t* data, std::uint32_t length) override;
};

}  // namespace sim
