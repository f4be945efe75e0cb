#include "boards/Rtx3080TiZylMcu.h"

// links is taken by reference, so its bus is still there while the protocol is made.
Rtx3080TiZylMcu::Rtx3080TiZylMcu(BoardLinks&& links, PanelSource& panels)
    : Rtx3080TiControl(std::move(links), panels, std::make_unique<Rtx3080TiMcuProtocol>(*links.bus)) {}

bool Rtx3080TiZylMcu::Probe() {
    if (static_cast<Rtx3080TiMcuProtocol&>(Protocol()).Probe()) SetDetected();
    return IsDetected();
}
