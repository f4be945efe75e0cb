#pragma once
// The RTX 3080 Ti board reached through its microcontroller, on the panel: the shared RTX 3080 Ti
// controller on the MCU's protocol.
#include "boards/Rtx3080TiControl.h"
#include "boards/Rtx3080TiMcuProtocol.h"

class Rtx3080TiZylMcu final : public Rtx3080TiControl {
public:
    Rtx3080TiZylMcu(BoardLinks&& links, PanelSource& panels);

    // Detection: the MCU identifies itself, then takes the handshake. True when both succeeded.
    bool Probe();
};
