#include "app/BoardDetection.h"

#include <algorithm>

#include "window/BoardController.h"

std::vector<SupportedBoard> FindSupportedBoards(const GpuList& gpus, const BoardDetector& detect,
                                                const std::vector<std::wstring>& onlyBusIds) {
    return ListBoards<FoundBoard>(gpus, [&](std::uint32_t i) -> std::optional<FoundBoard> {
        if (!onlyBusIds.empty() &&
            std::find(onlyBusIds.begin(), onlyBusIds.end(), gpus.BusId(i)) == onlyBusIds.end())
            return std::nullopt;
        return detect(gpus, i);
    });
}

std::unique_ptr<IVgaControl> MakeController(AnyBoard board, PanelSource& panels, Sleeper& sleeper,
                                            ProfileStore& profiles) {
    return std::visit(
        [&](auto& typed) -> std::unique_ptr<IVgaControl> {
            using Family = typename std::decay_t<decltype(*typed)>::FamilyType;
            return std::make_unique<BoardController<Family>>(std::move(typed), panels, sleeper, profiles);
        },
        board);
}

std::optional<FoundBoard> DetectForWindow(const BoardServices& services, std::uint32_t gpuIndex) {
    services.profiles.Get();
    return DetectBoard(services.gpus, gpuIndex);
}

std::unique_ptr<IVgaControl> CreateBoardController(std::uint32_t gpuIndex, PanelSource& panels,
                                                  const BoardServices& services) {
    std::optional<FoundBoard> found = DetectForWindow(services, gpuIndex);
    if (!found) return nullptr;
    return MakeController(std::move(found->board), panels, services.sleeper, services.profiles.Get());
}

std::vector<SupportedController> FindControllers(const BoardServices& services, const BoardFactory& createBoard,
                                                 PanelSource& panels) {
    return ListBoards<std::unique_ptr<IVgaControl>>(
        services.gpus, [&](std::uint32_t i) -> std::optional<std::unique_ptr<IVgaControl>> {
            std::unique_ptr<IVgaControl> controller = createBoard(i, panels, services);
            if (!controller) return std::nullopt;
            return controller;
        });
}
