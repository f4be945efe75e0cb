#include "app/BoardDetection.h"

#include "boards/Rtx2080TiZyl.h"
#include "boards/Rtx2080TiRegisters.h"
#include "boards/Rtx3080TiRegisters.h"
#include "boards/Rtx3080TiZyl.h"
#include "boards/Rtx3080TiZylMcu.h"
#include "gpu/GpuList.h"

std::unique_ptr<IVgaControl> CreateBoardController(std::uint32_t gpuIndex, PanelSource& panels,
                                                  const BoardServices& services) {
    // The order decides between the types: an RTX 3080 Ti whose MCU answers is driven through it,
    // even though it would pass the direct controller's PCI test as well.
    auto mcu = std::make_unique<Rtx3080TiZylMcu>(ProgramLinks(services, gpuIndex, rtx3080ti::kPort), panels);
    mcu->Probe();
    if (mcu->IsDetected()) return mcu;
    mcu.reset();

    auto direct = std::make_unique<Rtx3080TiZyl>(ProgramLinks(services, gpuIndex, rtx3080ti::kPort), panels);
    direct->Probe();
    if (direct->IsDetected()) return direct;
    direct.reset();

    // Probes while constructed.
    auto rtx2080 = std::make_unique<Rtx2080TiZyl>(ProgramLinks(services, gpuIndex, rtx2080ti::kPort), panels);
    if (rtx2080->IsDetected()) return rtx2080;
    return nullptr;
}

std::vector<SupportedBoard> FindSupportedBoards(const BoardServices& services, const BoardFactory& createBoard,
                                                PanelSource& panels) {
    const GpuList& gpus = services.gpus;
    std::vector<SupportedBoard> boards;
    for (std::uint32_t i = 0; i < gpus.Count(); ++i) {
        std::wstring name;
        if (!gpus.GetName(i, name)) continue;
        std::unique_ptr<IVgaControl> controller = createBoard(i, panels, services);
        if (!controller) continue;
        boards.push_back(SupportedBoard{std::move(controller), i, std::move(name)});
    }
    return boards;
}

std::wstring BoardKindName(const IVgaControl& controller) {
    if (dynamic_cast<const Rtx3080TiZylMcu*>(&controller)) return L"RTX 3080 Ti through its MCU";
    if (dynamic_cast<const Rtx3080TiZyl*>(&controller)) return L"RTX 3080 Ti at its regulators";
    if (dynamic_cast<const Rtx2080TiZyl*>(&controller)) return L"RTX 2080 Ti";
    return L"unknown board";
}
