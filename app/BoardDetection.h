#pragma once
// The machine's supported boards, as the controller window lists them and every front end that
// must agree with it: each GPU in index order whose name can be read and whose board detection
// finds; the others are left out.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/RunContext.h"
#include "boards/BoardDetection.h"
#include "dialog/ControlPanel.h"
#include "window/IVgaControl.h"

template <typename Board>
struct ListedBoard {
    Board board;
    std::uint32_t gpuIndex;
    std::wstring name;  // the GPU's name: the board's device-list entry
    std::wstring busId;  // the GPU's PCI bus id, "0000:01:00.0"; empty when the platform cannot tell
};

// What find gives for each GPU whose name can be read, in index order; GPUs it gives none for are
// left out.
template <typename Board, typename Find>
std::vector<ListedBoard<Board>> ListBoards(const GpuList& gpus, Find&& find) {
    std::vector<ListedBoard<Board>> boards;
    for (std::uint32_t i = 0; i < gpus.Count(); ++i) {
        std::wstring name;
        if (!gpus.GetName(i, name)) continue;
        std::optional<Board> board = find(i);
        if (board) boards.push_back(ListedBoard<Board>{std::move(*board), i, std::move(name), gpus.BusId(i)});
    }
    return boards;
}

// The boards themselves, for the command line. detect: DetectBoard in the program.
using BoardDetector = std::function<std::optional<FoundBoard>(const GpuList& gpus, std::uint32_t gpuIndex)>;
using SupportedBoard = ListedBoard<FoundBoard>;
// onlyBusIds: when not empty, only the GPUs with these bus ids are looked at; the others are not
// touched, detection's handshake included.
std::vector<SupportedBoard> FindSupportedBoards(const GpuList& gpus, const BoardDetector& detect = DetectBoard,
                                                const std::vector<std::wstring>& onlyBusIds = {});

// The window's adapter of a found board.
std::unique_ptr<IVgaControl> MakeController(AnyBoard board, PanelSource& panels, Sleeper& sleeper,
                                            ProfileStore& profiles);

// The window's detection on one GPU: as the controllers take the run's profile store, the first
// call makes it, whatever the GPU carries.
std::optional<FoundBoard> DetectForWindow(const BoardServices& services, std::uint32_t gpuIndex);

// The controller of the board on one GPU, or none.
std::unique_ptr<IVgaControl> CreateBoardController(std::uint32_t gpuIndex, PanelSource& panels,
                                                  const BoardServices& services);

// Builds the controller of the board on one GPU, or none. CreateBoardController in the program.
using BoardFactory = std::function<std::unique_ptr<IVgaControl>(std::uint32_t gpuIndex, PanelSource& panels,
                                                                 const BoardServices& services)>;
using SupportedController = ListedBoard<std::unique_ptr<IVgaControl>>;
std::vector<SupportedController> FindControllers(const BoardServices& services, const BoardFactory& createBoard,
                                                 PanelSource& panels);
