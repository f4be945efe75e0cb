#pragma once
// A simulated machine, the headless controller window's panel, and a sleeper whose pauses go
// into the machine's transfer log instead of taking time.
#include "boards/BoardLinks.h"
#include "dialog/ControlPanel.h"
#include "model/Sleeper.h"
#include "headless/HeadlessPanel.h"
#include "profile/PrivateProfileFile.h"
#include "profile/ProfileStore.h"
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

// Profile.ini in the current directory, the store made when a board first asks for it.
class BoardFixture : public SimFixture {
protected:
    void TearDown() override {
        profiles.Close();
        SimFixture::TearDown();
    }
    // What a run hands its boards: this test's GPU list, pauses and profile store.
    BoardServices Services() { return BoardServices{Gpus(), sleeper, profiles}; }

    HeadlessPanel panel;
    TestPanelSource panels{&panel};
    SimSleeper sleeper{machine};
    profile::PrivateProfileFile profileFiles;
    LazyProfileStore profiles{profileFiles};
};
