#pragma once
// Which board a GPU carries: the board types as a table of {name, probe, make}, tried in order.
// An RTX 3080 Ti whose MCU answers is driven through it, even though it would pass the direct
// type's PCI test as well; the RTX 2080 Ti comes last.
#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "boards/Rtx2080TiFamily.h"
#include "boards/Rtx3080TiFamily.h"
#include "gpu/GpuList.h"
#include "model/BoardBus.h"

// A board of either family, typed.
using AnyBoard = std::variant<std::unique_ptr<rtx2080ti::Board>, std::unique_ptr<rtx3080ti::Board>>;

struct BoardType {
    // For people: "RTX 3080 Ti through its MCU", "RTX 3080 Ti at its regulators", "RTX 2080 Ti".
    const wchar_t* name;
    std::uint8_t port;  // of the GPU's I2C bus, where the board's devices answer
    // Whether the GPU carries this type; bus is the board's bus on that port.
    bool (*probe)(const GpuList& gpus, std::uint32_t gpuIndex, BoardBus& bus);
    AnyBoard (*make)(std::unique_ptr<BoardBus> bus);
};

// In the order detection tries them.
const std::vector<BoardType>& BoardTypes();

struct FoundBoard {
    const BoardType* type;
    AnyBoard board;
};

// Every setting of the board as it reads now, described in its family's terms.
std::vector<ShownSetting> ReadShown(const AnyBoard& board);

// The board on one GPU: the first type whose probe finds it, made on its own bus to the GPU; none
// when no type does.
std::optional<FoundBoard> DetectBoard(const GpuList& gpus, std::uint32_t gpuIndex);
