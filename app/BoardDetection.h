#pragma once
// Decides which board controller drives one GPU: the first candidate that detects its board,
// in the order MCU-driven RTX 3080 Ti, direct RTX 3080 Ti, RTX 2080 Ti.
#include <cstdint>
#include <memory>

#include "boards/ControlPanel.h"
#include "boards/IVgaControl.h"
#include "gpu/Sleeper.h"

std::unique_ptr<IVgaControl> CreateBoardController(std::uint32_t gpuIndex, PanelSource& panels, Sleeper& sleeper);
