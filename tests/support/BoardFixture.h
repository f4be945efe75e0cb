#pragma once
// A simulated machine, the headless controller window's panel, and a sleeper whose pauses go
// into the machine's transfer log instead of taking time.
#include <cstdint>
#include <memory>

#include "app/RunContext.h"
#include "boards/FamilyBoard.h"
#include "gpu/GpuBus.h"
#include "dialog/ControlPanel.h"
#include "model/Sleeper.h"
#include "headless/HeadlessPanel.h"
#include "profile/PrivateProfileFile.h"
#include "profile/ProfileStore.h"
#include "sim/MachineSleeper.h"
#include "support/SimFixture.h"
#include "window/BoardController.h"

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

// The window's controller of a Family board driven by Protocol on the GPU's board port, made
// without detection's probe, as detection makes it once the probe found the board.
template <typename Family, typename Protocol>
std::unique_ptr<BoardController<Family>> MakeController(std::uint32_t gpuIndex, PanelSource& panels,
                                                       const BoardServices& services) {
    ProfileStore& profiles = services.profiles.Get();
    auto bus = std::make_unique<GpuBus>(services.gpus, gpuIndex, 1);
    auto protocol = std::make_unique<Protocol>(*bus);
    auto board = std::make_unique<FamilyBoard<Family>>(std::move(bus), std::move(protocol));
    return std::make_unique<BoardController<Family>>(std::move(board), panels, services.sleeper, profiles);
}

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
