#pragma once
// The RTX 3080 Ti board driven straight at its voltage regulators, on the panel: the shared
// RTX 3080 Ti controller on the regulators' protocol. It looks to the user exactly like the
// MCU-driven board.
#include "boards/Rtx3080TiControl.h"

class Rtx3080TiZyl final : public Rtx3080TiControl {
public:
    Rtx3080TiZyl(BoardLinks&& links, PanelSource& panels);

    // Detection: the GPU's PCI subsystem device ID marks the board. No I2C traffic.
    bool Probe();
};
