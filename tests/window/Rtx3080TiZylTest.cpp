// The RTX 3080 Ti board driven directly at its regulators: the PCI probe, the voltage readings,
// and the register traffic of Apply, Default and Auto, each also with a failure at every transfer.
#include "Rtx3080TiFixture.h"

namespace rtx3080ti_test {
namespace {

const BoardKind kDirectKind = BothBoards()[1];

Io Rv(std::uint8_t device, std::uint8_t reg) { return Rn(device, reg, reg == 0x1E ? 1 : 2); }

// ---- Register operations as traffic, each one step. A read that only prepares a write-back skips
// just that write when it fails; the operation goes on.

// ReadVoltage of a rail that holds a fixed voltage, or one under automatic control.
Script ReadsVoltage(std::uint8_t d, bool fixed) { return {{Rv(d, 0xE1), Rv(d, fixed ? 0x21 : 0x8B)}}; }
Script WritesVoltage(std::uint8_t d, std::uint16_t code, std::vector<std::uint8_t> control) {
    return {{W(d, 0x24, {0x00, 0x01}), W(d, 0x21, {std::uint8_t(code), std::uint8_t(code >> 8)}),
             Rv(d, 0xE1).OnFailSkips(1), W(d, 0xE1, std::move(control))}};
}
// WriteMemoryVoltage on a regulator already in fixed mode: its read finds nothing to change, so
// the code is written whether or not the read succeeds.
Script WritesMemoryVoltage(std::uint16_t code) {
    return {{Rv(kFb, 0xE1).OnFailSkips(0), W(kFb, 0x21, {std::uint8_t(code), std::uint8_t(code >> 8)})}};
}
Script RestoresAuto(std::uint8_t d, std::vector<std::uint8_t> control) {
    return {{Rv(d, 0xE1).OnFailSkips(1), W(d, 0xE1, std::move(control)), W(d, 0x24, {0xD0, 0x00})}};
}
Script WritesFrequency(std::uint8_t d, std::uint8_t wire) { return {{W(d, 0xBD, {wire, 0x00}), W(d, 0x05, {0x00})}}; }
Script WritesLoadline(std::uint8_t d, std::uint8_t loadline, std::uint8_t step) {
    return {{Rv(d, 0x1E).OnFailSkips(1), W(d, 0x1E, {loadline}), W(d, 0x06, {step})}};
}
Script WritesOcp(std::uint8_t d, bool enable) {
    return {{Rv(d, 0xEC).OnFailSkips(1), W(d, 0xEC, {0x00, std::uint8_t(enable ? 0x21 : 0x01)}),
             Rv(d, 0x44).OnFailSkips(1), W(d, 0x44, {0x00, std::uint8_t(enable ? 0x08 : 0x00)}),
             Rv(d, 0xEE).OnFailSkips(1), W(d, 0xEE, {std::uint8_t(enable ? 0x4A : 0x0A), 0x00}),
             enable ? W(d, 0x6A, {0x63, 0x01}) : W(d, 0x6A, {0xA3, 0x02})}};
}

// An Apply or Default step: its read(s), then the write sequence, as one step.
Script Step(const Script& reads, const Script& writes) { return {traffic::Flat(reads) + traffic::Flat(writes)}; }
Script Same(std::uint8_t d, std::uint8_t reg) { return {{Rv(d, reg)}}; }

Script Filled(Script script, PanelItem item) {
    for (traffic::Step& step : script)
        for (Io& io : step) io = io.Fills(item);
    return script;
}

Script Refresh(bool nvFixed, bool msFixed) {
    return Join({{{Rv(kNv, 0xE1).Fills(PanelItem::Auto)}},
                 Filled(ReadsVoltage(kNv, nvFixed), PanelItem::Nvvdd),
                 Filled(ReadsVoltage(kFb, true), PanelItem::Fbvdd),
                 Filled(ReadsVoltage(kMs, msFixed), PanelItem::Msvdd),
                 {{Rv(kNv, 0xBD).Fills(PanelItem::NvFrequency)}, {Rv(kMs, 0xBD).Fills(PanelItem::MsFrequency)},
                  {Rv(kNv, 0x1E).Fills(PanelItem::NvLoadline)}, {Rv(kNv, 0xEC).Fills(PanelItem::NvOcp)},
                  {Rv(kMs, 0x1E).Fills(PanelItem::MsLoadline)}, {Rv(kMs, 0xEC).Fills(PanelItem::MsOcp)}}});
}

// Voltage control of the NVVDD and MSVDD regulators with their power-on bits, fixed and automatic.
const std::vector<std::uint8_t> kFixedControl = {0x12, 0x60};
const std::vector<std::uint8_t> kAutoControl = {0x02, 0x40};

const Script kAllChangedApply = Join({
    Step(Same(kNv, 0xEC), WritesOcp(kNv, false)),
    Step(Same(kMs, 0xEC), WritesOcp(kMs, false)),
    Step(ReadsVoltage(kNv, true), WritesVoltage(kNv, 192, kFixedControl)),
    Step(ReadsVoltage(kFb, true), WritesMemoryVoltage(248)),
    Step(ReadsVoltage(kMs, true), WritesVoltage(kMs, 128, kFixedControl)),
    Step(Same(kNv, 0xBD), WritesFrequency(kNv, 100)),
    Step(Same(kMs, 0xBD), WritesFrequency(kMs, 30)),
    Step(Same(kNv, 0x1E), WritesLoadline(kNv, 0x45, 0x08)),
    Step(Same(kMs, 0x1E), WritesLoadline(kMs, 0x4F, 0x18)),
    Refresh(true, true),
});

// Away from the defaults everywhere but in the rails' mode.
const BoardState kAwayFromDefaults = [] {
    BoardState s;
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
    Step(Same(kNv, 0xEC), WritesOcp(kNv, true)),
    Step(Same(kMs, 0xEC), WritesOcp(kMs, true)),
    RestoresAuto(kNv, kAutoControl),
    Step(ReadsVoltage(kFb, true), WritesMemoryVoltage(220)),
    RestoresAuto(kMs, kAutoControl),
    Step(Same(kNv, 0xBD), WritesFrequency(kNv, 40)),
    Step(Same(kMs, 0xBD), WritesFrequency(kMs, 40)),
    Step(Same(kNv, 0x1E), WritesLoadline(kNv, 0x41, 0x00)),
    Step(Same(kMs, 0x1E), WritesLoadline(kMs, 0x41, 0x00)),
    Refresh(false, false),
});

class Rtx3080TiDirectTest : public Rtx3080TiTest {
protected:
    DirectBoard& Direct() { return static_cast<DirectBoard&>(Board()); }
};

TEST_F(Rtx3080TiDirectTest, ActivateReadsEverySettingWithItsOwnRead) {
    AddBoard(kDirectKind);
    Board().Set(Fixed(200));
    Controller().Activate();
    ExpectTraffic(Refresh(true, false));
    ExpectTransportOf(0);
}

TEST_F(Rtx3080TiDirectTest, ApplyWritesWhatDiffersInItsOrder) {
    struct Case {
        const char* what;
        BoardState board;
        std::function<void(DirectBoard&)> poke;
        std::vector<Choice> choices;
        Script script;
        BoardState after;
    };
    const Script readsOnlyTail = Join({Same(kNv, 0xBD), Same(kMs, 0xBD), Same(kNv, 0x1E), Same(kMs, 0x1E)});
    const Case cases[] = {
        {"panel equal to the board: reads only", Fixed(200, 200), nullptr, {},
         Join({Same(kNv, 0xEC), Same(kMs, 0xEC), ReadsVoltage(kNv, true), ReadsVoltage(kFb, true),
               ReadsVoltage(kMs, true), readsOnlyTail, Refresh(true, true)}),
         Fixed(200, 200)},
        {"everything differs", kAllChangedBoard, nullptr, kAllChangedChoices, kAllChangedApply,
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
        {"Auto on: regulator 0x40 keeps its voltage, MSVDD becomes fixed", Fixed(std::nullopt), nullptr,
         {{ctl::kRow3Slider, 64}},
         Join({Same(kNv, 0xEC), Same(kMs, 0xEC), ReadsVoltage(kFb, true),
               Step(ReadsVoltage(kMs, false), WritesVoltage(kMs, 192, kFixedControl)), readsOnlyTail,
               Refresh(false, true)}),
         Fixed(std::nullopt, 192)},
        {"loadline level 5 onto a register holding 0xFF", Fixed(200),
         [](DirectBoard& b) { b.nv->Poke(0x1E, {0xFF}); }, {{ctl::kList2Left, 5}},
         Join({Same(kNv, 0xEC), Same(kMs, 0xEC), ReadsVoltage(kNv, true), ReadsVoltage(kFb, true),
               ReadsVoltage(kMs, false), Same(kNv, 0xBD), Same(kMs, 0xBD),
               Step(Same(kNv, 0x1E), WritesLoadline(kNv, 0xD5, 0x08)), Same(kMs, 0x1E), Refresh(true, false)}),
         [] {
             BoardState s = Fixed(200);
             s.nvLoadline = 5;
             return s;
         }()},
        {"lists without a selection are neither read nor written", Fixed(200, 200), nullptr,
         {{ctl::kList3Left, kTyped}, {ctl::kList3Right, kTyped}, {ctl::kList2Left, kTyped}, {ctl::kList2Right, kTyped}},
         Join({ReadsVoltage(kNv, true), ReadsVoltage(kFb, true), ReadsVoltage(kMs, true), Same(kNv, 0xBD),
               Same(kMs, 0xBD), Refresh(true, true)}),
         Fixed(200, 200)},
    };
    AddBoard(kDirectKind);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rebuild(kDirectKind);
        ExpectRun(c.board, c.choices, [](IVgaControl& controller) { controller.Apply(); }, c.script, c.after,
                  [&] {
                      if (c.poke) c.poke(Direct());
                  });
    }
}

TEST_F(Rtx3080TiDirectTest, LoadDefaultsRewritesTheRailModesEveryTime) {
    struct Case {
        const char* what;
        BoardState board;
        Script script;
    };
    const Script tail = Join({Same(kNv, 0xBD), Same(kMs, 0xBD), Same(kNv, 0x1E), Same(kMs, 0x1E)});
    const Case cases[] = {
        {"at the defaults", BoardState{},
         Join({Same(kNv, 0xEC), Same(kMs, 0xEC), RestoresAuto(kNv, kAutoControl), ReadsVoltage(kFb, true),
               RestoresAuto(kMs, kAutoControl), tail, Refresh(false, false)})},
        {"fixed rails go back to automatic control", Fixed(200, 180),
         Join({Same(kNv, 0xEC), Same(kMs, 0xEC), RestoresAuto(kNv, kAutoControl), ReadsVoltage(kFb, true),
               RestoresAuto(kMs, kAutoControl), tail, Refresh(false, false)})},
        {"everything else away from the defaults", kAwayFromDefaults, kAllDefaultsWritten},
    };
    AddBoard(kDirectKind);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectRun(c.board, {}, [](IVgaControl& controller) { controller.LoadDefaults(); }, c.script, BoardState{});
    }
}

TEST_F(Rtx3080TiDirectTest, SetAutoAlwaysRewritesTheModeThenShowsTheMeasurement) {
    struct Case {
        const char* what;
        BoardState board;
        Script script;
    };
    const Case cases[] = {
        {"fixed rail", Fixed(200), Join({RestoresAuto(kNv, kAutoControl), ReadsVoltage(kNv, false)})},
        {"rail already automatic", BoardState{}, Join({RestoresAuto(kNv, kAutoControl), ReadsVoltage(kNv, false)})},
    };
    AddBoard(kDirectKind);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Board().Set(c.board);
        Rtx3080TiControl& controller = Controller();
        controller.Activate();
        controller.SetAuto(false);
        ClearLog();
        controller.SetAuto(true);
        ExpectTraffic(c.script);
        EXPECT_TRUE(controller.IsAuto());
        EXPECT_FALSE(panel.IsEnabled(ctl::kRow1Slider));
        EXPECT_EQ(panel.Text(ctl::kRow1Value), L"1.09375 V");
        EXPECT_FALSE(Board().Get().nvvdd.has_value());
    }
}

TEST_F(Rtx3080TiDirectTest, VoltagesAndFrequenciesAsTheRegulatorsReportThem) {
    struct Case {
        const char* what;
        std::function<void(DirectBoard&)> poke;
        int field;
        const wchar_t* text;
    };
    const Case cases[] = {
        {"fixed: register 0x21", [](DirectBoard& b) { b.nv->Poke(0xE1, {0x10, 0x00}); b.nv->Poke(0x21, {0xC8, 0x00}); },
         ctl::kRow1Value, L"1.25000 V"},
        {"automatic: 1200 mV with status bits set",
         [](DirectBoard& b) { b.nv->SetAutomaticMillivolts(1200); b.nv->SetMeasurementStatus(0xF); },
         ctl::kRow1Value, L"1.20000 V"},
        {"1203 mV truncates to 192", [](DirectBoard& b) { b.ms->SetAutomaticMillivolts(1203); }, ctl::kRow3Value,
         L"1.20000 V"},
        {"1210 mV is 193", [](DirectBoard& b) { b.ms->SetAutomaticMillivolts(1210); }, ctl::kRow3Value, L"1.20625 V"},
        {"the largest 12-bit reading", [](DirectBoard& b) { b.nv->SetAutomaticMillivolts(4095); b.nv->SetMeasurementStatus(0x5); },
         ctl::kRow1Value, L"4.09375 V"},
        {"FBVDD under automatic control reads its measurement",
         [](DirectBoard& b) { b.fb->SetAutomatic(); b.fb->SetAutomaticMillivolts(1350); }, ctl::kRow2Value, L"1.35000 V"},
        {"0xBD holding 45 is 400 kHz", [](DirectBoard& b) { b.nv->Poke(0xBD, {45, 0}); }, ctl::kRow4Value, L"400 kHz"},
        {"0xBD holding 1000 is 10000 kHz", [](DirectBoard& b) { b.ms->Poke(0xBD, {0xE8, 0x03}); }, ctl::kRow5Value,
         L"10000 kHz"},
    };
    AddBoard(kDirectKind);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rebuild(kDirectKind);
        c.poke(Direct());
        Controller().Activate();
        EXPECT_EQ(panel.Text(c.field), c.text);
    }
}

TEST_F(Rtx3080TiDirectTest, OcpIsEnabledByEitherBitAndLoadlineIsTheLowNibble) {
    AddBoard(kDirectKind);
    Direct().nv->Poke(0xEC, {0xFF, 0x40});
    Direct().ms->Poke(0xEC, {0xFF, 0x9F});
    Direct().nv->Poke(0x1E, {0xF7});
    Controller().Activate();
    EXPECT_EQ(panel.GetSelection(ctl::kList3Left), 1);
    EXPECT_EQ(panel.GetSelection(ctl::kList3Right), 0);
    EXPECT_EQ(panel.GetSelection(ctl::kList2Left), 7);
}

TEST_F(Rtx3080TiDirectTest, AFailureAnywhereInApplySkipsOnlyWhatItMust) {
    AddBoard(kDirectKind);
    RunSweep(kDirectKind, {kAllChangedBoard, kAllChangedChoices, nullptr,
                           [](IVgaControl& controller) { controller.Apply(); }, kAllChangedApply, {}, {}});
}

TEST_F(Rtx3080TiDirectTest, AFailureAnywhereInLoadDefaultsSkipsOnlyWhatItMust) {
    AddBoard(kDirectKind);
    RunSweep(kDirectKind, {kAwayFromDefaults, {}, nullptr, [](IVgaControl& controller) { controller.LoadDefaults(); },
                           kAllDefaultsWritten, {}, {}});
}

TEST_F(Rtx3080TiDirectTest, AFailureAnywhereInSetAuto) {
    AddBoard(kDirectKind);
    const Script script = Join({RestoresAuto(kNv, kAutoControl), Filled(ReadsVoltage(kNv, false), PanelItem::Nvvdd)});
    RunSweep(kDirectKind, {BoardState{}, {}, [](IVgaControl& controller) { controller.SetAuto(false); },
                           [](IVgaControl& controller) { controller.SetAuto(true); }, script, {PanelItem::Nvvdd},
                           {{Key(ctl::kRow1Slider, "enabled"), "0"}}});
}

// ---- Detection probe ----------------------------------------------------------------------------

class Rtx3080TiDirectProbeTest : public Rtx3080TiTest {};

TEST_F(Rtx3080TiDirectProbeTest, TheSubsystemDeviceIdDecidesAlone) {
    struct Case {
        std::optional<std::uint32_t> subsystem;  // none: the PCI query fails
        bool detected;
    };
    const Case cases[] = {
        {0x39980000, true}, {0x39981458, true}, {0x3998FFFF, true}, {0x39990000, false},
        {0x39970000, false}, {0x00003998, false}, {0xB9980000, false}, {std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.subsystem ? *c.subsystem : 0xFFFFFFFFu);
        sim::SimGpu& gpu = machine.AddGpu(0x1000, "NVIDIA GeForce RTX 3080 Ti");
        gpu.subsystemId = c.subsystem;
        Gpus();
        GpuBus bus(Gpus(), 0, 1);
        EXPECT_EQ(RegulatorsType().probe(Gpus(), 0, bus), c.detected);
        EXPECT_EQ(machine.TransferCount(), 0u);
        ReleaseGpus();
        machine.Gpus().clear();
    }
}

TEST_F(Rtx3080TiDirectProbeTest, NoQueryWithoutAReadyListOrBeyondIt) {
    machine.AddGpu(0x1000, "NVIDIA GeForce RTX 3080 Ti").subsystemId = kBoardSubsystem;
    Gpus();
    {
        const std::uint32_t calls = machine.NvApiCalls();
        GpuBus beyond(Gpus(), 1, 1);
        EXPECT_FALSE(RegulatorsType().probe(Gpus(), 1, beyond));
        EXPECT_EQ(machine.NvApiCalls(), calls);
    }

    ReleaseGpus();
    machine.FailInitialize();
    Gpus();
    const std::uint32_t notReadyCalls = machine.NvApiCalls();
    GpuBus notReady(Gpus(), 0, 1);
    EXPECT_FALSE(RegulatorsType().probe(Gpus(), 0, notReady));
    EXPECT_EQ(machine.NvApiCalls(), notReadyCalls);
}

}  // namespace
}  // namespace rtx3080ti_test
