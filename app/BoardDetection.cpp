#include "app/BoardDetection.h"

#include "boards/Rtx2080TiZyl.h"
#include "boards/Rtx3080TiZyl.h"
#include "boards/Rtx3080TiZylMcu.h"

std::unique_ptr<IVgaControl> CreateBoardController(std::uint32_t gpuIndex, PanelSource& panels, Sleeper& sleeper) {
    // The order decides between the types: an RTX 3080 Ti whose MCU answers is driven through it,
    // even though it would pass the direct controller's PCI test as well.
    auto mcu = std::make_unique<Rtx3080TiZylMcu>(gpuIndex, panels, sleeper);
    mcu->Probe();
    if (mcu->IsDetected()) return mcu;
    mcu.reset();

    auto direct = std::make_unique<Rtx3080TiZyl>(gpuIndex, panels);
    direct->Probe();
    if (direct->IsDetected()) return direct;
    direct.reset();

    auto rtx2080 = std::make_unique<Rtx2080TiZyl>(gpuIndex, panels);  // probes while constructed
    if (rtx2080->IsDetected()) return rtx2080;
    return nullptr;
}
