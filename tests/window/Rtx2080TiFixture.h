#pragma once
// An RTX 2080 Ti board on the simulated machine, its controller on the headless panel, and the
// board's operations as traffic tables for the shared toolkit.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "boards/BoardDetection.h"
#include "boards/Rtx2080TiProtocol.h"
#include "headless/HeadlessPanel.h"
#include "res/ControlIds.h"
#include "res/DialogTemplates.h"
#include "sim/OffsetDevice2080Ti.h"
#include "sim/Regulator2080Ti.h"
#include "support/BoardFixture.h"
#include "support/Traffic.h"

namespace rtx2080ti_test {

// Devices by their 8-bit address.
constexpr std::uint8_t NV = 0x40, FB = 0x44, OFS = 0x24;

using traffic::Io;
using traffic::Ios;
using traffic::R;
using traffic::Script;
using traffic::W;

// The panel's rows as this board uses them, for comparing what two panels show.
enum class Row { Auto, Nvvdd, Fbvdd, Pexvdd, Frequency, Rail1v8, Ln2, Loadline, Ocp };
constexpr Row kRows[] = {Row::Auto, Row::Nvvdd, Row::Fbvdd, Row::Pexvdd, Row::Frequency,
                         Row::Rail1v8, Row::Ln2, Row::Loadline, Row::Ocp};

inline std::wstring SliderRow(const HeadlessPanel& panel, int slider, int value) {
    return panel.Text(value) + L" @" + std::to_wstring(panel.GetPos(slider));
}

inline std::wstring RowState(const HeadlessPanel& panel, Row row) {
    switch (row) {
    case Row::Auto:
        return std::wstring(panel.IsChecked(ctl::kAuto) ? L"checked" : L"unchecked") +
               (panel.IsEnabled(ctl::kRow1Slider) ? L", slider enabled" : L", slider disabled");
    case Row::Nvvdd: return SliderRow(panel, ctl::kRow1Slider, ctl::kRow1Value);
    case Row::Fbvdd: return SliderRow(panel, ctl::kRow2Slider, ctl::kRow2Value);
    case Row::Pexvdd: return SliderRow(panel, ctl::kRow3Slider, ctl::kRow3Value);
    case Row::Frequency: return SliderRow(panel, ctl::kRow4Slider, ctl::kRow4Value);
    case Row::Rail1v8: return SliderRow(panel, ctl::kRow5Slider, ctl::kRow5Value);
    case Row::Ln2: return L"#" + std::to_wstring(panel.GetSelection(ctl::kList1Left));
    case Row::Loadline: return L"#" + std::to_wstring(panel.GetSelection(ctl::kList2Left));
    case Row::Ocp: return L"#" + std::to_wstring(panel.GetSelection(ctl::kList3Left));
    }
    return {};
}

// Everything every control of the controller window shows, one line per control.
inline std::wstring PanelDump(const HeadlessPanel& panel) {
    std::wstring dump;
    for (const res::ControlTemplate& t : res::ControllerDialog().controls) {
        if (t.id < 0 || !panel.HasControl(t.id)) continue;
        const HeadlessPanel::Control& c = panel.Get(t.id);
        dump += std::to_wstring(t.id) + L": '" + c.text + L"' " + (c.visible ? L"shown" : L"hidden") +
                (c.enabled ? L" enabled" : L" disabled") + L" range " + std::to_wstring(c.min) + L".." +
                std::to_wstring(c.max) + L" pos " + std::to_wstring(c.pos) + L" sel " +
                std::to_wstring(c.selection) + (c.checked ? L" checked" : L"") + L" items";
        for (const std::wstring& item : c.items) dump += L" '" + item + L"'";
        dump += L"\n";
    }
    return dump;
}

// A board register set behind the program's back, and a board's state before a test.
struct Poke {
    std::uint8_t device;
    std::uint8_t reg;
    std::vector<std::uint8_t> bytes;
};
struct BoardState {
    std::vector<Poke> pokes;
    std::uint16_t nvvddRequestMv = 1000;  // what the GPU asks for while a rail is automatic
    std::uint16_t fbvddRequestMv = 1375;
};

class Rtx2080TiTest : public BoardFixture {
protected:
    void SetBoard(const BoardState& state) {
        nvvdd->SetGpuRequest(state.nvvddRequestMv);
        fbvdd->SetGpuRequest(state.fbvddRequestMv);
        for (const Poke& poke : state.pokes) {
            sim::RegisterDevice* device = poke.device == NV ? static_cast<sim::RegisterDevice*>(nvvdd)
                                          : poke.device == FB ? static_cast<sim::RegisterDevice*>(fbvdd)
                                                              : static_cast<sim::RegisterDevice*>(offsets);
            device->Poke(poke.reg, poke.bytes);
        }
    }

    // Fresh devices in power-on state on the first GPU, a fresh panel, no faults, an empty log.
    void ResetBoard() {
        Wire(machine.Gpus().at(0));
        panel = HeadlessPanel();
        machine.ClearTransferFaults();
        machine.Log().Clear();
    }

    // The board, with the GPU identity of a retail 2080 Ti board. The devices are those of the
    // first board added.
    sim::SimGpu& AddBoard(std::uintptr_t handle = 0x1000, std::uint32_t subsystem = 0x25891462) {
        sim::SimGpu& gpu = AddBoardGpu(sim::BoardKind::None, handle, "NVIDIA GeForce RTX 2080 Ti", subsystem);
        if (!nvvdd) {
            Wire(gpu);
        } else {
            gpu.Attach(sim::kBoardPort, NV, first_.at(0));
            gpu.Attach(sim::kBoardPort, FB, first_.at(1));
            gpu.Attach(sim::kBoardPort, OFS, first_.at(2));
        }
        return gpu;
    }

    // Detection's probe of the RTX 2080 Ti on the GPU of this index.
    bool Probe(std::uint32_t index = 0) {
        for (const BoardType& type : BoardTypes()) {
            if (std::wstring(type.name) != L"RTX 2080 Ti") continue;
            GpuBus bus(Gpus(), index, type.port);
            return type.probe(Gpus(), index, bus);
        }
        return false;
    }

    std::unique_ptr<Rtx2080TiZyl> Controller(std::uint32_t index = 0) {
        return MakeController<Rtx2080TiFamily, Rtx2080TiProtocol>(index, panels, Services());
    }

    // A detected, activated controller on the board, with the log cleared.
    std::unique_ptr<Rtx2080TiZyl> Activated() {
        if (machine.Gpus().empty()) AddBoard();
        EXPECT_TRUE(Probe());
        auto controller = Controller();
        controller->Activate();
        machine.Log().Clear();
        return controller;
    }

    void ExpectTraffic(const Ios& expected) const { traffic::ExpectTraffic(machine.Log(), expected); }

    // What a fresh controller reads from the board as it stands: the refresh traffic and the panel
    // it fills. Adds to the log.
    struct Reference {
        Ios traffic;
        std::unique_ptr<HeadlessPanel> panel;
    };
    Reference ReadBack() {
        Reference reference;
        reference.panel = std::make_unique<HeadlessPanel>();
        TestPanelSource source(reference.panel.get());
        const std::unique_ptr<Rtx2080TiZyl> reader = MakeController<Rtx2080TiFamily, Rtx2080TiProtocol>(0, source, Services());
        Rtx2080TiZyl& controller = *reader;
        const std::size_t mark = machine.Log().Entries().size();
        controller.Activate();
        const auto& entries = machine.Log().Entries();
        for (std::size_t i = mark; i < entries.size(); ++i) reference.traffic.push_back(traffic::FromLog(entries[i]));
        return reference;
    }

    // The transfers of one operation, then a refresh that reads what the board holds.
    void ExpectOperationThenRefresh(const Ios& operation) {
        const sim::TransferLog logged = machine.Log();
        const Reference reference = ReadBack();
        traffic::ExpectTraffic(logged, operation + reference.traffic);
        for (Row row : kRows) EXPECT_EQ(RowState(panel, row), RowState(*reference.panel, row));
    }

    sim::Regulator2080Ti* nvvdd = nullptr;
    sim::Regulator2080Ti* fbvdd = nullptr;
    sim::OffsetDevice2080Ti* offsets = nullptr;

private:
    // Puts the board's devices in their power-on state on the GPU.
    void Wire(sim::SimGpu& gpu) {
        sim::AttachBoard(gpu, sim::BoardKind::Rtx2080Ti);
        nvvdd = &DeviceOn<sim::Regulator2080Ti>(gpu, NV);
        fbvdd = &DeviceOn<sim::Regulator2080Ti>(gpu, FB);
        offsets = &DeviceOn<sim::OffsetDevice2080Ti>(gpu, OFS);
        first_ = {gpu.devices.at({sim::kBoardPort, NV}), gpu.devices.at({sim::kBoardPort, FB}),
                  gpu.devices.at({sim::kBoardPort, OFS})};
    }
    std::vector<std::shared_ptr<sim::I2cDevice>> first_;
};

// Handing NVVDD back to the GPU.
inline const Ios kHandBack = {W(NV, 0x2A, {0x01, 0x00}), W(NV, 0x21, {0xC0, 0x00}), W(NV, 0x24, {0xD0, 0x00}),
                              W(NV, 0xE1, {0x88, 0xC2})};

// The refresh that ends Activate, Apply and LoadDefaults reads eleven times; which row each read
// fills. The first read of each voltage (NVVDD, FBVDD) decides the second, which a failure skips.
constexpr Row kRefreshRows[] = {Row::Auto,    Row::Nvvdd,     Row::Nvvdd,   Row::Fbvdd, Row::Fbvdd, Row::Pexvdd,
                                Row::Frequency, Row::Rail1v8, Row::Ln2,     Row::Loadline, Row::Ocp};
constexpr std::size_t kRefreshReads = sizeof kRefreshRows / sizeof kRefreshRows[0];

// A refresh's eleven reads as steps, one per row, each read marked with the row it fills.
inline Script RefreshSteps(const Ios& reads) {
    Script steps;
    for (std::size_t i = 0; i < reads.size() && i < kRefreshReads; ++i) {
        if (i == 0 || kRefreshRows[i] != kRefreshRows[i - 1]) steps.emplace_back();
        steps.back().push_back(reads[i].Fills(kRefreshRows[i]));
    }
    return steps;
}

// An operation on a prepared board: the board before, what the user does in the panel after
// activation, the operation, and its traffic before the closing refresh.
struct Scenario {
    BoardState board;
    std::function<void(HeadlessPanel&)> user;
    std::function<void(Rtx2080TiZyl&)> operation;
    Script steps;  // one per setting
};

// Apply with every setting changed: NVVDD fixed at 200 to 240, FBVDD automatic (1375 mV) to 232,
// PEXVDD +2 to -3, +1.8V -1 to +2, 400 kHz to 700 kHz, loadline 0 to 5, OCP enabled to disabled,
// LN2 off to on.
inline Scenario ApplyEverythingChanged() {
    Scenario s;
    s.board.pokes = {{NV, 0xE1, {0x98, 0xE2}}, {NV, 0x21, {0xC8, 0x00}}, {OFS, 0x02, {0x02}},
                     {OFS, 0x01, {0x81}},      {NV, 0xBD, {0x2D, 0x00}}};
    s.user = [](HeadlessPanel& p) {
        p.UserSelectItem(ctl::kList3Left, 0);
        p.UserSelectItem(ctl::kList1Left, 1);
        p.UserMoveSlider(ctl::kRow1Slider, 112);
        p.UserMoveSlider(ctl::kRow2Slider, 40);
        p.UserMoveSlider(ctl::kRow3Slider, 1);
        p.UserMoveSlider(ctl::kRow5Slider, 3);
        p.UserMoveSlider(ctl::kRow4Slider, 4);
        p.UserSelectItem(ctl::kList2Left, 5);
    };
    s.operation = [](Rtx2080TiZyl& c) { c.Apply(); };
    s.steps = {
        // OCP
        {R(NV, 0xEC, {0x41, 0x23}), W(NV, 0xEC, {0x41, 0x03}), W(NV, 0xEE, {0x14, 0x1F}), W(NV, 0x44, {0x0B, 0x06})},
        // LN2
        {R(NV, 0xEE, {0x14, 0x1F}), W(NV, 0xEE, {0x1F, 0x14})},
        // NVVDD
        {R(NV, 0xE1, {0x98, 0xE2}), R(NV, 0x21, {0xC8, 0x00}), W(NV, 0x2A, {0x01, 0x00}), W(NV, 0x21, {0xC0, 0x00}),
         W(NV, 0xE1, {0x98, 0xE2}), W(NV, 0x24, {0x18, 0x01}), W(NV, 0x21, {0xF0, 0x00})},
        // FBVDD: an unreadable control word only skips the mode change.
        {R(FB, 0xE1, {0x88, 0x42}), R(FB, 0x8B, {0x5F, 0x05}), R(FB, 0xE1, {0x88, 0x42}).OnFailSkips(1),
         W(FB, 0xE1, {0x98, 0x42}), W(FB, 0x21, {0xE4, 0x00})},
        // PEXVDD
        {R(OFS, 0x02, {0x02}), R(OFS, 0x02, {0x02}), W(OFS, 0x02, {0x00}), W(OFS, 0x02, {0x80}), W(OFS, 0x02, {0x83})},
        // +1.8V
        {R(OFS, 0x01, {0x81}), R(OFS, 0x01, {0x81}), W(OFS, 0x01, {0x80}), W(OFS, 0x01, {0x00}), W(OFS, 0x01, {0x02})},
        // frequency
        {R(NV, 0xBD, {0x2D, 0x00}), W(NV, 0xBD, {0x46, 0x00}), W(NV, 0x05, {})},
        // loadline
        {R(NV, 0x1E, {0x31}), W(NV, 0x2B, {0x00}), W(NV, 0x1E, {0x17}), W(NV, 0x2A, {0x20, 0x1A}), W(NV, 0x06, {0x08})},
    };
    return s;
}

// Default on a board that is away from its defaults everywhere: OCP disabled, NVVDD fixed at
// 240, FBVDD fixed at 240, PEXVDD -3, +1.8V +2, 700 kHz, loadline 5.
inline Scenario DefaultsFromEverythingChanged() {
    Scenario s;
    s.board.pokes = {{NV, 0xEC, {0x41, 0x03}}, {NV, 0xEE, {0x14, 0x1F}}, {NV, 0x44, {0x0B, 0x06}},
                     {NV, 0xE1, {0x98, 0xE2}}, {NV, 0x21, {0xF0, 0x00}}, {NV, 0x24, {0x18, 0x01}},
                     {FB, 0xE1, {0x98, 0x42}}, {FB, 0x21, {0xEC, 0x00}}, {OFS, 0x02, {0x83}},
                     {OFS, 0x01, {0x02}},      {NV, 0xBD, {0x46, 0x00}}, {NV, 0x1E, {0x17}},
                     {NV, 0x2B, {0x00}},       {NV, 0x06, {0x08}},       {NV, 0x2A, {0x20, 0x1A}}};
    s.user = [](HeadlessPanel&) {};
    s.operation = [](Rtx2080TiZyl& c) { c.LoadDefaults(); };
    s.steps = {
        // OCP
        {R(NV, 0xEC, {0x41, 0x03}), W(NV, 0xEC, {0x41, 0x23}), W(NV, 0xEE, {0x54, 0x5F}), W(NV, 0x44, {0x0B, 0x0C})},
        // LN2: the OCP write leaves 0xEE reading as LN2 off, as does a failed one.
        {R(NV, 0xEE, {0x54, 0x5F})},
        // NVVDD
        {W(NV, 0x2A, {0x01, 0x00}), W(NV, 0x21, {0xC0, 0x00}), W(NV, 0x24, {0xD0, 0x00}), W(NV, 0xE1, {0x88, 0xC2})},
        // FBVDD: an unreadable control word does not stop the code write.
        {R(FB, 0xE1, {0x98, 0x42}), R(FB, 0x21, {0xEC, 0x00}), R(FB, 0xE1, {0x98, 0x42}).OnFailSkips(0),
         W(FB, 0x21, {0xD8, 0x00})},
        // PEXVDD
        {R(OFS, 0x02, {0x83}), R(OFS, 0x02, {0x83}), W(OFS, 0x02, {0x80}), W(OFS, 0x02, {0x00}), W(OFS, 0x02, {0x00})},
        // +1.8V
        {R(OFS, 0x01, {0x02}), R(OFS, 0x01, {0x02}), W(OFS, 0x01, {0x00})},
        // frequency
        {R(NV, 0xBD, {0x46, 0x00}), W(NV, 0xBD, {0x28, 0x00}), W(NV, 0x05, {})},
        // loadline
        {R(NV, 0x1E, {0x17}), W(NV, 0x2B, {0x1F}), W(NV, 0x1E, {0x31}), W(NV, 0x2A, {0x20, 0x3A}), W(NV, 0x06, {0x00})},
    };
    return s;
}

}  // namespace rtx2080ti_test
