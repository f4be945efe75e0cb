// A transfer failing at each position of each operation: a failed read skips the step that
// needed it, a failed write ends its sequence, the rest goes on, and the closing refresh shows
// what the board then reports, leaving a row whose read failed as it was.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Rtx2080TiFixture.h"

namespace rtx2080ti_test {
namespace {

class Rtx2080TiFailureTest : public Rtx2080TiTest {
protected:
    // Before the operation, every row shows something no refresh would: a row left alone stays so.
    static void MarkRows(HeadlessPanel& p) {
        for (int field : {ctl::kRow1Value, ctl::kRow2Value, ctl::kRow3Value, ctl::kRow4Value, ctl::kRow5Value})
            p.SetText(field, L"untouched");
        for (int slider : {ctl::kRow1Slider, ctl::kRow2Slider, ctl::kRow3Slider, ctl::kRow4Slider, ctl::kRow5Slider})
            p.SetPos(slider, 2);
    }

    // Runs the scenario with transfer n failing (n = 0: none) and checks traffic and panel. The
    // closing refresh is what a fresh controller then reads from the board.
    void RunWithFailureAt(const Scenario& scenario, std::size_t n, bool activateFirst) {
        ResetBoard();
        SetBoard(scenario.board);
        ASSERT_TRUE(Probe());
        auto controller = Controller();
        if (activateFirst) {
            controller->Activate();
            scenario.user(panel);
        } else {
            MarkRows(panel);
        }
        std::map<Row, std::wstring> before;
        for (Row row : kRows) before[row] = RowState(panel, row);
        machine.Log().Clear();
        if (n != 0) machine.FailTransferAt(n);

        scenario.operation(*controller);
        machine.ClearTransferFaults();

        const sim::TransferLog logged = machine.Log();
        const Reference reference = ReadBack();
        ASSERT_EQ(reference.traffic.size(), kRefreshReads) << machine.Log().Dump();
        const Script script =
            traffic::Join({traffic::WithoutAnswers(scenario.steps), RefreshSteps(reference.traffic)});
        std::optional<Io> failed;
        const Ios expected = traffic::WithFault(script, n, &failed);
        ASSERT_EQ(traffic::Logged(logged, expected), traffic::Lines(expected));

        // The row the failed transfer would have filled, if any. Not an optional<Row>: GCC 12 at
        // -O3 warns that comparing one may read it uninitialised.
        const bool rowFailed = failed && failed->fills;
        const Row failedRow = rowFailed ? static_cast<Row>(*failed->fills) : Row{};
        for (Row row : kRows) {
            if (!rowFailed || row != failedRow) {
                EXPECT_EQ(RowState(panel, row), RowState(*reference.panel, row));
            } else if (row == Row::Auto) {
                EXPECT_EQ(RowState(panel, row), L"unchecked, slider enabled");
                EXPECT_FALSE(controller->IsAuto());
            } else {
                EXPECT_EQ(RowState(panel, row), before[row]);
            }
        }
    }

    void Sweep(const Scenario& scenario, bool activateFirst) {
        AddBoard();
        traffic::SweepFaults(traffic::TransferCount(traffic::Flat(scenario.steps)) + kRefreshReads,
                             [&](std::size_t n) { RunWithFailureAt(scenario, n, activateFirst); });
    }
};

TEST_F(Rtx2080TiFailureTest, Activate) {
    Scenario scenario = ApplyEverythingChanged();
    scenario.steps.clear();
    scenario.operation = [](Rtx2080TiZyl& c) { c.Activate(); };
    Sweep(scenario, false);
}

TEST_F(Rtx2080TiFailureTest, ActivateOnAFixedBoard) {
    Scenario scenario = DefaultsFromEverythingChanged();
    scenario.steps.clear();
    scenario.operation = [](Rtx2080TiZyl& c) { c.Activate(); };
    Sweep(scenario, false);
}

TEST_F(Rtx2080TiFailureTest, ApplyWithEverySettingChanged) { Sweep(ApplyEverythingChanged(), true); }

TEST_F(Rtx2080TiFailureTest, LoadDefaultsWithEverySettingAway) { Sweep(DefaultsFromEverythingChanged(), true); }

// SetAuto refreshes only the NVVDD row, and what it reads there depends on how far the hand-back
// came, so each case is written out.
struct SetAutoCase {
    std::size_t failAt;
    Ios traffic;
    const wchar_t* nvvddRow;
};

TEST_F(Rtx2080TiFailureTest, SetAutoHandBack) {
    const Ios& handBack = kHandBack;
    const Ios fixedAt200 = {R(NV, 0xE1, {0x98, 0xE2}), R(NV, 0x21, {0xC8, 0x00})};
    const Ios fixedAt192 = {R(NV, 0xE1, {0x98, 0xE2}), R(NV, 0x21, {0xC0, 0x00})};
    const SetAutoCase cases[] = {
        {0, handBack + Ios{R(NV, 0xE1, {0x88, 0xC2}), R(NV, 0x8B, {0xE8, 0x03})}, L"1.00000 V @32"},
        {1, Ios{handBack[0].Failing()} + fixedAt200, L"1.25000 V @72"},
        {2, Ios{handBack[0], handBack[1].Failing()} + fixedAt200, L"1.25000 V @72"},
        {3, Ios{handBack[0], handBack[1], handBack[2].Failing()} + fixedAt192, L"1.20000 V @64"},
        {4, Ios{handBack[0], handBack[1], handBack[2], handBack[3].Failing()} + fixedAt192, L"1.20000 V @64"},
        {5, handBack + Ios{R(NV, 0xE1, {0x88, 0xC2}).Failing()}, L"1.25000 V @72"},
        {6, handBack + Ios{R(NV, 0xE1, {0x88, 0xC2}), R(NV, 0x8B, {0xE8, 0x03}).Failing()}, L"1.25000 V @72"},
    };
    AddBoard();
    for (const SetAutoCase& c : cases) {
        SCOPED_TRACE("transfer " + std::to_string(c.failAt) + " fails");
        ResetBoard();
        SetBoard({{{NV, 0xE1, {0x98, 0xE2}}, {NV, 0x21, {0xC8, 0x00}}}});
        auto controller = Controller();
        controller->Activate();
        ASSERT_EQ(RowState(panel, Row::Nvvdd), L"1.25000 V @72");
        machine.Log().Clear();
        if (c.failAt != 0) machine.FailTransferAt(c.failAt);

        controller->SetAuto(panel.UserClickCheck(ctl::kAuto));

        ExpectTraffic(c.traffic);
        EXPECT_EQ(RowState(panel, Row::Nvvdd), c.nvvddRow);
        // The box stays as the user clicked it; the next refresh shows what the board did.
        EXPECT_EQ(RowState(panel, Row::Auto), L"checked, slider disabled");
        EXPECT_TRUE(controller->IsAuto());
    }
}

// A list the failed refresh left without a selection holds no choice: Apply does not write it.
TEST_F(Rtx2080TiFailureTest, ListsLeftEmptyByAFailedActivateAreNotWritten) {
    AddBoard();
    SetBoard({{{NV, 0xEC, {0x41, 0x03}}, {NV, 0xEE, {0x1F, 0x14}}, {NV, 0x1E, {0x17}}}});
    auto controller = Controller();
    machine.FailTransferAt(9);   // LN2
    machine.FailTransferAt(10);  // loadline
    machine.FailTransferAt(11);  // OCP
    controller->Activate();
    ASSERT_EQ(panel.GetSelection(ctl::kList1Left), -1);
    ASSERT_EQ(panel.GetSelection(ctl::kList2Left), -1);
    ASSERT_EQ(panel.GetSelection(ctl::kList3Left), -1);
    machine.Log().Clear();

    controller->Apply();

    EXPECT_TRUE(machine.Log().Writes().empty()) << machine.Log().Dump();
    EXPECT_EQ(panel.GetSelection(ctl::kList1Left), 1);
    EXPECT_EQ(panel.GetSelection(ctl::kList2Left), 5);
    EXPECT_EQ(panel.GetSelection(ctl::kList3Left), 0);
}

}  // namespace
}  // namespace rtx2080ti_test
