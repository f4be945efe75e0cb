#pragma once
// The boards the simulator can put on a GPU, as the devices each carries on I2C port 1.
#include <optional>
#include <string>

#include "sim/SimMachine.h"

namespace sim {

enum class BoardKind {
    None,             // a GPU without a supported board: nothing answers on port 1
    Rtx3080TiMcu,     // RTX 3080 Ti driven through its MCU at 0x5A
    Rtx3080TiDirect,  // RTX 3080 Ti whose MCU stays silent; regulators 0x40, 0x44, 0x7C
    Rtx2080Ti,        // RTX 2080 Ti: regulators 0x40, 0x44 and the offset device 0x24
};

constexpr std::uint8_t kBoardPort = 1;

// Names as scenario files write them: none, rtx3080ti-mcu, rtx3080ti-direct, rtx2080ti.
std::optional<BoardKind> BoardKindFromName(const std::string& name);
const char* BoardKindName(BoardKind kind);

// Puts the board's devices, in their power-on state, on the GPU's board port.
void AttachBoard(SimGpu& gpu, BoardKind kind);

}  // namespace sim
