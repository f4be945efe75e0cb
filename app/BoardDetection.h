#pragma once
// Decides which board controller drives one GPU: the first candidate that detects its board,
// in the order MCU-driven RTX 3080 Ti, direct RTX 3080 Ti, RTX 2080 Ti. And the machine's
// supported boards as the controller window lists them.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "boards/BoardLinks.h"
#include "boards/IVgaControl.h"
#include "dialog/ControlPanel.h"

std::unique_ptr<IVgaControl> CreateBoardController(std::uint32_t gpuIndex, PanelSource& panels,
                                                  const BoardServices& services);

// Builds the controller of the board on one GPU, or none. CreateBoardController in the program.
using BoardFactory = std::function<std::unique_ptr<IVgaControl>(std::uint32_t gpuIndex, PanelSource& panels,
                                                                 const BoardServices& services)>;

struct SupportedBoard {
    std::unique_ptr<IVgaControl> controller;
    std::uint32_t gpuIndex;
    std::wstring name;  // the GPU's name: the board's device-list entry
};

// Every GPU in index order whose name can be read and whose board is detected; the others are
// left out. The device list, and every front end that must agree with it, is built from this.
std::vector<SupportedBoard> FindSupportedBoards(const BoardServices& services, const BoardFactory& createBoard,
                                                PanelSource& panels);

// The kind of board a controller drives, for people to read: "RTX 3080 Ti through its MCU",
// "RTX 3080 Ti at its regulators", "RTX 2080 Ti"; "unknown board" for a controller of none of these.
std::wstring BoardKindName(const IVgaControl& controller);
