// The RTX 3080 Ti board driven through its MCU: the probe, and the register traffic of Apply,
// Default and Auto, each also with a failure at every transfer.
#include "Rtx3080TiFixture.h"

#include "boards/McuHandshake.h"

namespace rtx3080ti_test {
namespace {

const BoardKind kMcuKind = BothBoards()[0];

// MCU reads: the status block is 10 bytes, the paired registers 3.
Io Rm(std::uint8_t reg) { return Rn(kMcu, reg, reg == 0x19 ? 10 : 3); }
Io Wm(std::uint8_t reg, std::vector<std::uint8_t> bytes) { return W(kMcu, reg, std::move(bytes)); }

// One setting that differs: read, write, pause.
Script Changes(std::uint8_t readReg, std::uint8_t writeReg, std::vector<std::uint8_t> bytes) {
    // The MCU needs the time whether or not it acknowledged.
    return {{Rm(readReg), Wm(writeReg, std::move(bytes)).OnFailSkips(0), P(100)}};
}
Script Same(std::uint8_t readReg) { return {{Rm(readReg)}}; }
// Handing a rail back: no pause follows.
Script Restores(std::uint8_t writeReg) { return {{Rm(0x19), Wm(writeReg, {0x03, 0x00, 0x00, 0x00})}}; }

Script Refresh() {
    return {{Rm(0x19).Fills(PanelItem::Auto)},        {Rm(0x19).Fills(PanelItem::Nvvdd)},
            {Rm(0x19).Fills(PanelItem::Fbvdd)},       {Rm(0x19).Fills(PanelItem::Msvdd)},
            {Rm(0x1C).Fills(PanelItem::NvFrequency)}, {Rm(0x1C).Fills(PanelItem::MsFrequency)},
            {Rm(0x1A).Fills(PanelItem::NvLoadline)},  {Rm(0x1B).Fills(PanelItem::NvOcp)},
            {Rm(0x1A).Fills(PanelItem::MsLoadline)},  {Rm(0x1B).Fills(PanelItem::MsOcp)}};
}

const Script kAllChangedApply = Join({
    Changes(0x1B, 0x12, {0x01, 0x00}),
    Changes(0x1B, 0x16, {0x01, 0x00}),
    Changes(0x19, 0x10, {0x03, 0x01, 0xC0, 0x00}),
    Changes(0x19, 0x18, {0x03, 0x01, 0xF8, 0x00}),
    Changes(0x19, 0x14, {0x03, 0x01, 0x80, 0x00}),
    Changes(0x1C, 0x13, {0x01, 0x0A}),
    Changes(0x1C, 0x17, {0x01, 0x03}),
    Changes(0x1A, 0x11, {0x01, 0x05}),
    Changes(0x1A, 0x15, {0x01, 0x0F}),
    Refresh(),
});

const BoardState kAwayFromDefaults = [] {
    BoardState s = Fixed(200, 180);
    s.fbvdd = 240;
    s.nvFrequency = 10;
    s.msFrequency = 3;
    s.nvLoadline = 5;
    s.msLoadline = 15;
    s.nvOcp = 0;
    s.msOcp = 0;
    return s;
}();
const Script kAllDefaultsWritten = Join({
    Changes(0x1B, 0x12, {0x01, 0x01}),
    Changes(0x1B, 0x16, {0x01, 0x01}),
    Restores(0x10),
    Changes(0x19, 0x18, {0x03, 0x01, 0xDC, 0x00}),
    Restores(0x14),
    Changes(0x1C, 0x13, {0x01, 0x04}),
    Changes(0x1C, 0x17, {0x01, 0x04}),
    Changes(0x1A, 0x11, {0x01, 0x01}),
    Changes(0x1A, 0x15, {0x01, 0x01}),
    {{P(200)}},
    Refresh(),
});

class Rtx3080TiMcuTest : public Rtx3080TiTest {};

TEST_F(Rtx3080TiMcuTest, ActivateReadsEverySettingWithItsOwnRead) {
    AddBoard(kMcuKind);
    Controller().Activate();
    ExpectTraffic(Refresh());
    ExpectTransportOf(0);
}

TEST_F(Rtx3080TiMcuTest, ApplyWritesWhatDiffersInItsOrderAndPausesAfterEachWrite) {
    struct Case {
        const char* what;
        BoardState board;
        std::vector<Choice> choices;
        Script script;
        BoardState after;
    };
    const BoardState fbAndMsChanged = [] {
        BoardState s;
        s.fbvdd = 192;
        s.msvdd = 192;
        return s;
    }();
    const BoardState ocpTwo = [] {
        BoardState s = Fixed(200);
        s.nvOcp = 2;
        return s;
    }();
    const Case cases[] = {
        {"panel equal to the board: reads only", Fixed(200), {},
         Join({Same(0x1B), Same(0x1B), Same(0x19), Same(0x19), Same(0x19), Same(0x1C), Same(0x1C), Same(0x1A),
               Same(0x1A), Refresh()}),
         Fixed(200)},
        {"everything differs", kAllChangedBoard, kAllChangedChoices, kAllChangedApply,
         [] {
             BoardState s = Fixed(192, 128);
             s.fbvdd = 248;
             s.nvFrequency = 10;
             s.msFrequency = 3;
             s.nvLoadline = 5;
             s.msLoadline = 15;
             s.nvOcp = 0;
             s.msOcp = 0;
             return s;
         }()},
        {"slider 1000 at 64 against a board at 1.25 V", Fixed(200), {{ctl::kRow1Slider, 64}},
         Join({Same(0x1B), Same(0x1B), Changes(0x19, 0x10, {0x03, 0x01, 0xC0, 0x00}), Same(0x19), Same(0x19),
               Same(0x1C), Same(0x1C), Same(0x1A), Same(0x1A), Refresh()}),
         Fixed(192)},
        {"Auto on: NVVDD is not even read, FBVDD and MSVDD are written", BoardState{},
         {{ctl::kRow2Slider, 0}, {ctl::kRow3Slider, 64}},
         Join({Same(0x1B), Same(0x1B), Changes(0x19, 0x18, {0x03, 0x01, 0xC0, 0x00}),
               Changes(0x19, 0x14, {0x03, 0x01, 0xC0, 0x00}), Same(0x1C), Same(0x1C), Same(0x1A), Same(0x1A),
               Refresh()}),
         fbAndMsChanged},
        {"an OCP state other than 1 differs from Enable", ocpTwo, {},
         Join({Changes(0x1B, 0x12, {0x01, 0x01}), Same(0x1B), Same(0x19), Same(0x19), Same(0x19), Same(0x1C),
               Same(0x1C), Same(0x1A), Same(0x1A), Refresh()}),
         Fixed(200)},
        {"lists without a selection are neither read nor written", Fixed(200),
         {{ctl::kList3Left, kTyped}, {ctl::kList3Right, kTyped}, {ctl::kList2Left, kTyped}, {ctl::kList2Right, kTyped}},
         Join({Same(0x19), Same(0x19), Same(0x19), Same(0x1C), Same(0x1C), Refresh()}), Fixed(200)},
    };
    AddBoard(kMcuKind);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectRun(c.board, c.choices, [](IVgaControl& controller) { controller.Apply(); }, c.script, c.after);
    }
}

TEST_F(Rtx3080TiMcuTest, LoadDefaultsWritesOnlyWhatIsNotAtItsDefault) {
    struct Case {
        const char* what;
        BoardState board;
        Script script;
    };
    const Case cases[] = {
        {"at the defaults with both rails automatic: only the final pause",
         BoardState{},
         Join({Same(0x1B), Same(0x1B), Same(0x19), Same(0x19), Same(0x19), Same(0x1C), Same(0x1C), Same(0x1A),
               Same(0x1A), {{P(200)}}, Refresh()})},
        {"everything away from the defaults: seven pauses, none after handing rails back", kAwayFromDefaults,
         kAllDefaultsWritten},
        // Enabled is the state byte 1 itself; any other non-zero byte is rewritten.
        {"NV OCP reported as 2, MS OCP as 1",
         [] { BoardState s; s.nvOcp = 2; return s; }(),
         {{Rn(0x5A, 0x1B, 3), W(0x5A, 0x12, {0x01, 0x01}), P(100), Rn(0x5A, 0x1B, 3), Rn(0x5A, 0x19, 10),
           Rn(0x5A, 0x19, 10), Rn(0x5A, 0x19, 10), Rn(0x5A, 0x1C, 3), Rn(0x5A, 0x1C, 3), Rn(0x5A, 0x1A, 3),
           Rn(0x5A, 0x1A, 3), P(200), Rn(0x5A, 0x19, 10), Rn(0x5A, 0x19, 10), Rn(0x5A, 0x19, 10), Rn(0x5A, 0x19, 10),
           Rn(0x5A, 0x1C, 3), Rn(0x5A, 0x1C, 3), Rn(0x5A, 0x1A, 3), Rn(0x5A, 0x1B, 3), Rn(0x5A, 0x1A, 3),
           Rn(0x5A, 0x1B, 3)}}},
        {"MS OCP reported as 2",
         [] { BoardState s; s.msOcp = 2; return s; }(),
         Join({Same(0x1B), {{Rn(0x5A, 0x1B, 3), W(0x5A, 0x16, {0x01, 0x01}), P(100)}}, Same(0x19), Same(0x19),
               Same(0x19), Same(0x1C), Same(0x1C), Same(0x1A), Same(0x1A), {{P(200)}}, Refresh()})},
    };
    AddBoard(kMcuKind);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectRun(c.board, {}, [](IVgaControl& controller) { controller.LoadDefaults(); }, c.script, BoardState{});
    }
}

// The MCU's OCP state goes into the profile as the board reports it, not as the panel shows it.
TEST_F(Rtx3080TiMcuTest, SaveKeepsTheOcpStateBytesAsRead) {
    AddBoard(kMcuKind);
    BoardState board;
    board.nvOcp = 2;
    board.msOcp = 3;
    Board().Set(board);
    Rtx3080TiControl& controller = Controller();
    controller.Activate();
    ASSERT_EQ(panel.GetSelection(ctl::kList3Left), 1);
    controller.SaveProfile(panel.IsChecked(ctl::kSync));
    EXPECT_NE(ProfileText().find("[RTX3080TiZYL]\r\nAUTO=1\r\nNVVDD=175\r\nFBVDD=220\r\nMSVDD=175\r\n"
                                 "NVPWM=4\r\nMSPWM=4\r\nNVLL=1\r\nMSLL=1\r\nNVOCP=2\r\nMSOCP=3\r\nSYNC=0\r\n"),
              std::string::npos)
        << ProfileText();
}

TEST_F(Rtx3080TiMcuTest, SetAutoHandsTheRailBackOnlyWhenItIsFixed) {
    struct Case {
        const char* what;
        BoardState board;
        Script script;
    };
    const Case cases[] = {
        {"fixed rail", Fixed(200), {{Rm(0x19), Wm(0x10, {0x03, 0x00, 0x00, 0x00}), Rm(0x19)}}},
        {"rail already automatic", BoardState{}, {{Rm(0x19), Rm(0x19)}}},
    };
    AddBoard(kMcuKind);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Board().Set(c.board);
        Rtx3080TiControl& controller = Controller();
        controller.Activate();
        controller.SetAuto(false);  // the box was unchecked first
        ClearLog();
        controller.SetAuto(true);
        ExpectTraffic(c.script);
        EXPECT_TRUE(controller.IsAuto());
        EXPECT_FALSE(panel.IsEnabled(ctl::kRow1Slider));
        EXPECT_EQ(panel.Text(ctl::kRow1Value), L"1.09375 V");
        EXPECT_FALSE(Board().Get().nvvdd.has_value());
    }
}

TEST_F(Rtx3080TiMcuTest, ALoadlineBeyondFifteenShowsLevelOne) {
    AddBoard(kMcuKind);
    BoardState s;
    s.nvLoadline = 20;
    s.msLoadline = 255;
    Board().Set(s);
    Controller().Activate();
    EXPECT_EQ(panel.GetSelection(ctl::kList2Left), 1);
    EXPECT_EQ(panel.GetSelection(ctl::kList2Right), 1);
}

TEST_F(Rtx3080TiMcuTest, AFailureAnywhereInApplySkipsOnlyItsOwnStep) {
    AddBoard(kMcuKind);
    RunSweep(kMcuKind, {kAllChangedBoard, kAllChangedChoices, nullptr,
                        [](IVgaControl& controller) { controller.Apply(); }, kAllChangedApply, {}, {}});
}

TEST_F(Rtx3080TiMcuTest, AFailureAnywhereInLoadDefaultsSkipsOnlyItsOwnStep) {
    AddBoard(kMcuKind);
    RunSweep(kMcuKind, {kAwayFromDefaults, {}, nullptr, [](IVgaControl& controller) { controller.LoadDefaults(); },
                        kAllDefaultsWritten, {}, {}});
}

TEST_F(Rtx3080TiMcuTest, AFailureAnywhereInSetAuto) {
    AddBoard(kMcuKind);
    RunSweep(kMcuKind, {Fixed(200), {}, nullptr, [](IVgaControl& controller) { controller.SetAuto(true); },
                        {{Rm(0x19), Wm(0x10, {0x03, 0x00, 0x00, 0x00})}, {Rm(0x19).Fills(PanelItem::Nvvdd)}},
                        {PanelItem::Nvvdd},
                        {{Key(ctl::kRow1Slider, "enabled"), "0"}}});
}

// ---- Detection probe ----------------------------------------------------------------------------

class Rtx3080TiMcuProbeTest : public Rtx3080TiTest {};

TEST_F(Rtx3080TiMcuProbeTest, DetectsOnlyAnIdentifiedMcuThatTakesTheHandshake) {
    const std::array<std::uint8_t, 5> handshake = mcu::HandshakeBytes();
    const std::vector<std::uint8_t> handshakeBytes(handshake.begin(), handshake.end());
    const Io identify = Rn(kMcu, 0xB1, 6);
    const Io shake = W(kMcu, 0xB2, handshakeBytes);

    struct Case {
        const char* what;
        std::optional<std::vector<std::uint8_t>> identification;  // none: no MCU on the bus
        std::uint64_t failAt;                                     // 0: no injected failure
        bool detected;
        Ios traffic;
    };
    const Case cases[] = {
        {"its own identification", std::vector<std::uint8_t>{0x05, 0x10, 0x2D, 0x03, 0x01, 0x07}, 0, true,
         {identify, shake}},
        {"bytes other than 2 and 3 are not looked at", std::vector<std::uint8_t>{0xFF, 0x00, 0x2D, 0x03, 0xEE, 0x99},
         0, true, {identify, shake}},
        {"byte 2 differs", std::vector<std::uint8_t>{0x05, 0x10, 0x2C, 0x03, 0x01, 0x07}, 0, false, {identify}},
        {"byte 3 differs", std::vector<std::uint8_t>{0x05, 0x10, 0x2D, 0x04, 0x01, 0x07}, 0, false, {identify}},
        {"identification read fails", std::vector<std::uint8_t>{0x05, 0x10, 0x2D, 0x03, 0x01, 0x07}, 1, false,
         {identify.Failing()}},
        {"handshake not acknowledged", std::vector<std::uint8_t>{0x05, 0x10, 0x2D, 0x03, 0x01, 0x07}, 2, false,
         {identify, shake.Failing()}},
        {"no MCU on the bus", std::nullopt, 0, false, {identify.Failing()}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        sim::SimGpu& gpu =
            AddBoardGpu(c.identification ? sim::BoardKind::Rtx3080TiMcu : sim::BoardKind::None, 0x1000 + i,
                        "NVIDIA GeForce RTX 3080 Ti", kBoardSubsystem);
        sim::Mcu3080Ti* device = c.identification ? &DeviceOn<sim::Mcu3080Ti>(gpu, kMcu) : nullptr;
        if (device) device->Poke(0xB1, *c.identification);
        Gpus();
        ClearLog();
        if (c.failAt) machine.FailTransferAt(c.failAt);
        GpuBus bus(Gpus(), 0, 1);
        EXPECT_EQ(McuType().probe(Gpus(), 0, bus), c.detected);
        ExpectTraffic(c.traffic);
        ExpectTransportOf(0);
        if (device) {
            EXPECT_EQ(device->IsLocked(), !c.detected);
        }
        machine.ClearTransferFaults();
        ReleaseGpus();
        machine.Gpus().clear();
    }
}

TEST_F(Rtx3080TiMcuProbeTest, AGpuIndexBeyondTheListProbesNothing) {
    AddBoard(kMcuKind);
    Gpus();
    GpuBus bus(Gpus(), 1, 1);
    EXPECT_FALSE(McuType().probe(Gpus(), 1, bus));
    EXPECT_TRUE(machine.Log().Entries().empty());
}

}  // namespace
}  // namespace rtx3080ti_test
