// Apply, Default and Auto: what reaches the board, in which order, and what the panel shows
// afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Rtx2080TiFixture.h"

namespace rtx2080ti_test {
namespace {

using Rtx2080TiWriteTest = Rtx2080TiTest;

// The reads of Apply and Default on the power-on board, in their order: OCP and LN2, then the
// voltages, then the rest.
const Ios kSwitchReads = {R(NV, 0xEC, {0x41, 0x23}), R(NV, 0xEE, {0x5F, 0x54})};
const Ios kNvvddAutoReads = {R(NV, 0xE1, {0x88, 0xC2}), R(NV, 0x8B, {0xE8, 0x03})};
const Ios kFbvddAutoReads = {R(FB, 0xE1, {0x88, 0x42}), R(FB, 0x8B, {0x5F, 0x05})};
const Ios kRestReads = {R(OFS, 0x02, {0x00}), R(OFS, 0x01, {0x00}), R(NV, 0xBD, {0x28, 0x00}), R(NV, 0x1E, {0x31})};

// Apply on the power-on board with the panel as the refresh left it: reads only, NVVDD not at all
// while it is automatic.
const Ios kUnchangedApply = kSwitchReads + kFbvddAutoReads + kRestReads;

TEST_F(Rtx2080TiWriteTest, ApplyWithNothingChangedOnlyReads) {
    auto controller = Activated();

    controller->Apply();

    ExpectOperationThenRefresh(kUnchangedApply);
    EXPECT_TRUE(machine.Log().Writes().empty());
}

TEST_F(Rtx2080TiWriteTest, ApplyWritesEveryChangedSettingInOrder) {
    const Scenario s = ApplyEverythingChanged();
    AddBoard();
    SetBoard(s.board);
    auto controller = Activated();
    s.user(panel);

    controller->Apply();

    ExpectOperationThenRefresh(traffic::Flat(s.steps));
    const std::vector<std::pair<Row, std::wstring>> shown = {
        {Row::Auto, L"unchecked, slider enabled"},
        {Row::Nvvdd, L"1.50000 V @112"},
        {Row::Fbvdd, L"1.45000 V @40"},
        {Row::Pexvdd, L"0.970 V @1"},
        {Row::Frequency, L"700 kHz @4"},
        {Row::Rail1v8, L"2.07 V @3"},
        {Row::Ln2, L"#1"},
        {Row::Loadline, L"#5"},
        {Row::Ocp, L"#0"},
    };
    for (const auto& [row, text] : shown) EXPECT_EQ(RowState(panel, row), text);
    EXPECT_TRUE(fbvdd->IsFixed());
    EXPECT_EQ(nvvdd->ActiveFrequency(), 70);
}

TEST_F(Rtx2080TiWriteTest, LoadDefaultsPutsEverySettingBack) {
    const Scenario s = DefaultsFromEverythingChanged();
    AddBoard();
    SetBoard(s.board);
    auto controller = Activated();
    ASSERT_FALSE(controller->IsAuto());

    controller->LoadDefaults();

    ExpectOperationThenRefresh(traffic::Flat(s.steps));
    const std::vector<std::pair<Row, std::wstring>> shown = {
        {Row::Auto, L"checked, slider disabled"},
        {Row::Nvvdd, L"1.00000 V @32"},  // what the GPU asks for
        {Row::Fbvdd, L"1.37500 V @28"},
        {Row::Pexvdd, L"1.078 V @4"},
        {Row::Frequency, L"400 kHz @1"},
        {Row::Rail1v8, L"1.80 V @1"},
        {Row::Ln2, L"#0"},
        {Row::Loadline, L"#0"},
        {Row::Ocp, L"#1"},
    };
    for (const auto& [row, text] : shown) EXPECT_EQ(RowState(panel, row), text);
    EXPECT_TRUE(controller->IsAuto());
}

TEST_F(Rtx2080TiWriteTest, LoadDefaultsOnADefaultBoardOnlyHandsNvvddBack) {
    auto controller = Activated();

    controller->LoadDefaults();

    ExpectOperationThenRefresh(kSwitchReads + kHandBack + kFbvddAutoReads + kRestReads);
}

// Boards off their defaults in one respect, and what Default writes for it besides handing NVVDD
// back to the GPU.
struct DefaultsCase {
    const char* name;
    BoardState board;
    Ios writes;
};

TEST_F(Rtx2080TiWriteTest, LoadDefaultsWritesOnlyWhatIsOff) {
    const DefaultsCase cases[] = {
        {"LN2 on", {{{NV, 0xEE, {0x1F, 0x14}}}}, Ios{W(NV, 0xEE, {0x5F, 0x54})} + kHandBack},
        // Enabling OCP rewrites 0xEE, after which LN2 reads as off and is not written again.
        {"OCP off, LN2 on",
         {{{NV, 0xEC, {0x41, 0x03}}, {NV, 0xEE, {0x1F, 0x14}}}},
         Ios{W(NV, 0xEC, {0x41, 0x23}), W(NV, 0xEE, {0x54, 0x5F}), W(NV, 0x44, {0x0B, 0x0C})} + kHandBack},
        {"OCP off by an unknown pattern", {{{NV, 0xEC, {0x00, 0x00}}}},
         Ios{W(NV, 0xEC, {0x41, 0x23}), W(NV, 0xEE, {0x54, 0x5F}), W(NV, 0x44, {0x0B, 0x0C})} + kHandBack},
        {"FBVDD automatic at 1400 mV", {{}, 1000, 1400},
         kHandBack + Ios{W(FB, 0xE1, {0x98, 0x42}), W(FB, 0x21, {0xD8, 0x00})}},
        {"FBVDD automatic at 1375 mV is already the default", {{}, 1000, 1375}, kHandBack},
        {"FBVDD fixed at 220", {{{FB, 0xE1, {0x98, 0x42}}, {FB, 0x21, {0xD8, 0x00}}}}, kHandBack},
        {"PEXVDD minus zero is zero", {{{OFS, 0x02, {0x80}}}}, kHandBack},
        {"PEXVDD +7", {{{OFS, 0x02, {0x07}}}}, kHandBack + Ios{W(OFS, 0x02, {0x00})}},
        {"+1.8V -1", {{{OFS, 0x01, {0x81}}}},
         kHandBack + Ios{W(OFS, 0x01, {0x80}), W(OFS, 0x01, {0x00}), W(OFS, 0x01, {0x00})}},
        {"frequency 49 is step 4", {{{NV, 0xBD, {0x31, 0x00}}}}, kHandBack},
        {"frequency 39 is step 3", {{{NV, 0xBD, {0x27, 0x00}}}},
         kHandBack + Ios{W(NV, 0xBD, {0x28, 0x00}), W(NV, 0x05, {})}},
        {"loadline 0x21 reads as level 2", {{{NV, 0x1E, {0x21}}}},
         kHandBack + Ios{W(NV, 0x2B, {0x1F}), W(NV, 0x1E, {0x31}), W(NV, 0x2A, {0x20, 0x3A}),
                             W(NV, 0x06, {0x00})}},
    };
    AddBoard();
    for (const DefaultsCase& c : cases) {
        SCOPED_TRACE(c.name);
        ResetBoard();
        SetBoard(c.board);
        auto controller = Activated();

        controller->LoadDefaults();

        traffic::ExpectWrites(machine.Log(), c.writes);
    }
}

// The offset rails never flip sign in one write: they pass through 0x00 and 0x80.
struct OffsetCase {
    std::uint8_t reg;
    std::uint8_t board;
    int slider;
    std::vector<std::uint8_t> written;
    const wchar_t* shown;
};

TEST_F(Rtx2080TiWriteTest, ApplyWritesOffsetsThroughZero) {
    const OffsetCase cases[] = {
        {0x02, 0x02, 1, {0x00, 0x80, 0x83}, L"0.970 V @1"},   // +2 to -3
        {0x02, 0x83, 6, {0x80, 0x00, 0x02}, L"1.149 V @6"},   // -3 to +2
        {0x02, 0x02, 9, {0x05}, L"1.255 V @9"},               // +2 to +5
        {0x02, 0x00, 3, {0x00, 0x80, 0x81}, L"1.039 V @3"},   // 0 to -1
        {0x02, 0x80, 5, {0x80, 0x00, 0x01}, L"1.113 V @5"},   // -0 to +1
        {0x02, 0x80, 2, {0x82}, L"1.008 V @2"},               // -0 to -2
        {0x02, 0x80, 4, {}, L"1.078 V @4"},                   // -0 is 0
        {0x02, 0x84, 0, {}, L"0.938 V @0"},                   // -4 unchanged
        {0x02, 0x10, 19, {0x0F}, L"1.449 V @19"},             // +16, beyond the slider, comes back to +15
        {0x01, 0x81, 4, {0x80, 0x00, 0x03}, L"2.20 V @4"},    // -1 to +3
        {0x01, 0x03, 0, {0x00, 0x80, 0x81}, L"1.67 V @0"},    // +3 to -1
        {0x01, 0x02, 3, {}, L"2.07 V @3"},                    // +2 unchanged
    };
    AddBoard();
    for (const OffsetCase& c : cases) {
        SCOPED_TRACE("register " + std::to_string(c.reg) + " from " + std::to_string(c.board) + " to slider " +
                     std::to_string(c.slider));
        ResetBoard();
        SetBoard({{{OFS, c.reg, {c.board}}}});
        auto controller = Activated();
        const int slider = c.reg == 0x02 ? ctl::kRow3Slider : ctl::kRow5Slider;
        panel.UserMoveSlider(slider, c.slider);

        controller->Apply();

        Ios expected;
        for (std::uint8_t byte : c.written) expected.push_back(W(OFS, c.reg, {byte}));
        traffic::ExpectWrites(machine.Log(), expected);
        EXPECT_EQ(RowState(panel, c.reg == 0x02 ? Row::Pexvdd : Row::Rail1v8), c.shown);
    }
}

// OCP and LN2 share register 0xEE; the LN2 step reads it after the OCP write.
struct SwitchCase {
    const char* name;
    BoardState board;
    int ocp, ln2;  // the lists' selections
    Ios writes;
};

TEST_F(Rtx2080TiWriteTest, ApplyWritesOcpBeforeLn2) {
    const SwitchCase cases[] = {
        {"enable OCP and LN2",
         {{{NV, 0xEC, {0x41, 0x03}}, {NV, 0xEE, {0x14, 0x1F}}, {NV, 0x44, {0x0B, 0x06}}}},
         1, 1,
         {W(NV, 0xEC, {0x41, 0x23}), W(NV, 0xEE, {0x54, 0x5F}), W(NV, 0x44, {0x0B, 0x0C}),
          W(NV, 0xEE, {0x1F, 0x14})}},
        {"disable OCP, LN2 stays on",
         {{{NV, 0xEE, {0x1F, 0x14}}}},
         0, 1,
         {W(NV, 0xEC, {0x41, 0x03}), W(NV, 0xEE, {0x14, 0x1F}), W(NV, 0x44, {0x0B, 0x06}),
          W(NV, 0xEE, {0x1F, 0x14})}},
        {"disable OCP only", {}, 0, 0,
         {W(NV, 0xEC, {0x41, 0x03}), W(NV, 0xEE, {0x14, 0x1F}), W(NV, 0x44, {0x0B, 0x06})}},
        {"LN2 on only", {}, 1, 1, {W(NV, 0xEE, {0x1F, 0x14})}},
        {"LN2 off only", {{{NV, 0xEE, {0x1F, 0x14}}}}, 1, 0, {W(NV, 0xEE, {0x5F, 0x54})}},
        {"nothing to do", {}, 1, 0, {}},
    };
    AddBoard();
    for (const SwitchCase& c : cases) {
        SCOPED_TRACE(c.name);
        ResetBoard();
        SetBoard(c.board);
        auto controller = Activated();
        panel.UserSelectItem(ctl::kList3Left, c.ocp);
        panel.UserSelectItem(ctl::kList1Left, c.ln2);

        controller->Apply();

        traffic::ExpectWrites(machine.Log(), c.writes);
    }
}

TEST_F(Rtx2080TiWriteTest, ApplyWritesEachLoadlineLevelsCodes) {
    // Level: registers 0x2B, 0x1E, 0x2A (two bytes), 0x06.
    const std::vector<std::vector<std::uint8_t>> codes = {
        {0x1F, 0x31, 0x20, 0x3A, 0x00}, {0x00, 0x10, 0x20, 0x02, 0x00}, {0x00, 0x12, 0x20, 0x1A, 0x00},
        {0x00, 0x14, 0x20, 0x1A, 0x08}, {0x00, 0x16, 0x20, 0x1A, 0x08}, {0x00, 0x17, 0x20, 0x1A, 0x08},
        {0x00, 0x18, 0x20, 0x1A, 0x10}, {0x00, 0x19, 0x20, 0x1A, 0x10}, {0x00, 0x1A, 0x20, 0x1A, 0x10},
        {0x00, 0x1B, 0x20, 0x1A, 0x10}, {0x00, 0x1D, 0x20, 0x1A, 0x18}, {0x00, 0x1F, 0x20, 0x1A, 0x18},
    };
    auto controller = Activated();
    for (int level : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const std::vector<std::uint8_t>& c = codes[static_cast<std::size_t>(level)];
        machine.Log().Clear();
        ASSERT_TRUE(panel.UserSelectItem(ctl::kList2Left, level));

        controller->Apply();

        traffic::ExpectWrites(machine.Log(), {W(NV, 0x2B, {c[0]}), W(NV, 0x1E, {c[1]}), W(NV, 0x2A, {c[2], c[3]}),
                                              W(NV, 0x06, {c[4]})});
        EXPECT_EQ(RowState(panel, Row::Loadline), L"#" + std::to_wstring(level));
    }
}

TEST_F(Rtx2080TiWriteTest, ApplyWritesTheSwitchingFrequencyAndCommitsIt) {
    AddBoard();
    SetBoard({{{NV, 0xBD, {0x2D, 0x00}}}});  // 45: step 4, the slider's position 1
    auto controller = Activated();

    controller->Apply();
    EXPECT_TRUE(machine.Log().Writes().empty());

    machine.Log().Clear();
    panel.UserMoveSlider(ctl::kRow4Slider, 7);
    controller->Apply();

    traffic::ExpectWrites(machine.Log(), {W(NV, 0xBD, {0x64, 0x00}), W(NV, 0x05, {})});
    EXPECT_EQ(nvvdd->ActiveFrequency(), 100);
    EXPECT_EQ(RowState(panel, Row::Frequency), L"1000 kHz @7");
}

TEST_F(Rtx2080TiWriteTest, ApplyWritesFbvddAsCodeMinusFour) {
    AddBoard();
    SetBoard({{{FB, 0xE1, {0x98, 0x42}}, {FB, 0x21, {0xE2, 0x00}}}});  // fixed, code 230
    auto controller = Activated();
    panel.UserMoveSlider(ctl::kRow2Slider, 28);  // 220

    controller->Apply();

    // Already fixed: the control word is read, not written.
    ExpectOperationThenRefresh(kSwitchReads +
                               Ios{R(FB, 0xE1, {0x98, 0x42}), R(FB, 0x21, {0xE2, 0x00}), R(FB, 0xE1, {0x98, 0x42}),
                                   W(FB, 0x21, {0xD8, 0x00})} +
                               kRestReads);
    EXPECT_EQ(fbvdd->Word(0x21), 216u);
    EXPECT_EQ(RowState(panel, Row::Fbvdd), L"1.37500 V @28");
}

TEST_F(Rtx2080TiWriteTest, CheckingAutoWhenAlreadyAutoDoesNothing) {
    auto controller = Activated();
    ASSERT_TRUE(controller->IsAuto());
    const std::wstring before = PanelDump(panel);

    controller->SetAuto(true);

    EXPECT_TRUE(machine.Log().Entries().empty());
    EXPECT_EQ(PanelDump(panel), before);
}

TEST_F(Rtx2080TiWriteTest, CheckingAutoHandsNvvddBackAndShowsIt) {
    AddBoard();
    SetBoard({{{NV, 0xE1, {0x98, 0xE2}}, {NV, 0x21, {0xF0, 0x00}}}});
    auto controller = Activated();
    ASSERT_FALSE(controller->IsAuto());

    controller->SetAuto(panel.UserClickCheck(ctl::kAuto));

    ExpectTraffic(kHandBack + kNvvddAutoReads);
    EXPECT_TRUE(controller->IsAuto());
    EXPECT_EQ(RowState(panel, Row::Auto), L"checked, slider disabled");
    EXPECT_EQ(RowState(panel, Row::Nvvdd), L"1.00000 V @32");
}

TEST_F(Rtx2080TiWriteTest, UncheckingAutoWritesNothingUntilTheSliderMoves) {
    auto controller = Activated();

    controller->SetAuto(panel.UserClickCheck(ctl::kAuto));
    EXPECT_TRUE(machine.Log().Entries().empty());
    EXPECT_FALSE(controller->IsAuto());
    EXPECT_TRUE(panel.IsEnabled(ctl::kRow1Slider));

    // The slider still shows what the regulator reports: nothing to write, and the refresh finds
    // the regulator still under the GPU's control.
    controller->Apply();
    ExpectOperationThenRefresh(kSwitchReads + kNvvddAutoReads + kFbvddAutoReads + kRestReads);
    EXPECT_TRUE(machine.Log().Writes().empty());
    EXPECT_EQ(RowState(panel, Row::Auto), L"checked, slider disabled");

    // Unchecked again and the slider moved: the fixed-voltage sequence.
    controller->SetAuto(panel.UserClickCheck(ctl::kAuto));
    ASSERT_TRUE(panel.UserMoveSlider(ctl::kRow1Slider, 64));
    machine.Log().Clear();
    controller->Apply();
    traffic::ExpectWrites(machine.Log(), {W(NV, 0x2A, {0x01, 0x00}), W(NV, 0x21, {0xC0, 0x00}),
                                          W(NV, 0xE1, {0x98, 0xE2}), W(NV, 0x24, {0x18, 0x01}),
                                          W(NV, 0x21, {0xC0, 0x00})});
    EXPECT_EQ(RowState(panel, Row::Auto), L"unchecked, slider enabled");
    EXPECT_EQ(RowState(panel, Row::Nvvdd), L"1.20000 V @64");
    EXPECT_EQ(nvvdd->OutputMillivolts(), 1200);
}

TEST_F(Rtx2080TiWriteTest, ApplyLeavesAnAutomaticNvvddAlone) {
    auto controller = Activated();
    panel.SetPos(ctl::kRow1Slider, 120);  // disabled for the user, but whatever it shows

    controller->Apply();

    ExpectOperationThenRefresh(kUnchangedApply);
    EXPECT_TRUE(machine.Log().Writes().empty());
}

// A list whose field the user typed into has no selection: its setting is neither read nor
// written, and the refresh selects the board's value again.
TEST_F(Rtx2080TiWriteTest, ApplyLeavesSettingsOfListsWithoutSelectionAlone) {
    struct TypedCase {
        std::vector<int> lists;
        std::vector<std::uint8_t> unread;  // registers the Apply steps then do not read
    };
    const TypedCase cases[] = {
        {{ctl::kList3Left}, {0xEC}},
        {{ctl::kList1Left}, {0xEE}},
        {{ctl::kList2Left}, {0x1E}},
        {{ctl::kList1Left, ctl::kList2Left, ctl::kList3Left}, {0xEC, 0xEE, 0x1E}},
    };
    AddBoard();
    for (const TypedCase& c : cases) {
        ResetBoard();
        SetBoard({{{NV, 0x1E, {0x17}}}});
        auto controller = Activated();
        for (int list : c.lists) panel.UserTypeText(list, L"Level 3");

        controller->Apply();

        Ios expected;
        for (const Io& io : kUnchangedApply) {
            bool unread = false;
            for (std::uint8_t reg : c.unread) unread = unread || (io.entry.device == NV && io.entry.reg == reg);
            if (!unread) expected.push_back(io.entry.reg == 0x1E ? R(NV, 0x1E, {0x17}) : io);
        }
        ExpectOperationThenRefresh(expected);
        EXPECT_TRUE(machine.Log().Writes().empty());
        EXPECT_EQ(RowState(panel, Row::Ocp), L"#1");
        EXPECT_EQ(RowState(panel, Row::Ln2), L"#0");
        EXPECT_EQ(RowState(panel, Row::Loadline), L"#5");
    }
}

}  // namespace
}  // namespace rtx2080ti_test
