#pragma once
// A simulated machine, the headless controller window's panel, and a sleeper whose pauses go
// into the machine's transfer log instead of taking time.
#include "dialog/ControlPanel.h"
#include "gpu/Sleeper.h"
#include "headless/HeadlessPanel.h"
#include "sim/MachineSleeper.h"
#include "support/SimFixture.h"

using SimSleeper = sim::MachineSleeper;

// The application's main window: the controller window's panel, or none.
class TestPanelSource final : public PanelSource {
public:
    explicit TestPanelSource(ControlPanel* panel) : panel_(panel) {}
    ControlPanel* ControllerPanel() override { return panel_; }
    void Set(ControlPanel* panel) { panel_ = panel; }

private:
    ControlPanel* panel_;
};

class BoardFixture : public SimFixture {
protected:
    HeadlessPanel panel;
    TestPanelSource panels{&panel};
    SimSleeper sleeper{machine};
};
