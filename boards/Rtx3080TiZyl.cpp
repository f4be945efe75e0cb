#include "boards/Rtx3080TiZyl.h"

#include "boards/BoardIo.h"
#include "boards/Rtx3080TiRegisters.h"
#include "boards/Rtx3080TiRegulatorProtocol.h"

// links is taken by reference, so its bus is still there while the protocol is made.
Rtx3080TiZyl::Rtx3080TiZyl(BoardLinks&& links, PanelSource& panels)
    : Rtx3080TiControl(std::move(links), panels, std::make_unique<Rtx3080TiRegulatorProtocol>(*links.bus)) {}

bool Rtx3080TiZyl::Probe() {
    const std::optional<std::uint32_t> subsystem = board_io::SubsystemId(Gpus(), GpuIndex());
    if (subsystem && board_io::SubsystemDevice(*subsystem) == rtx3080ti::kSubsystemDevice) SetDetected();
    return IsDetected();
}
