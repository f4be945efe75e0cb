// Taking over the panel, and reading the board into it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "Rtx2080TiFixture.h"

namespace rtx2080ti_test {
namespace {

using Rtx2080TiPanelTest = Rtx2080TiTest;

const std::vector<std::wstring> kSwitchItems = {L"Disable", L"Enable"};
const std::vector<std::wstring> kLevelItems = {L"Level 0", L"Level 1", L"Level 2", L"Level 3",
                                               L"Level 4", L"Level 5", L"Level 6", L"Level 7",
                                               L"Level 8", L"Level 9", L"Level 10", L"Level 11"};

// What another board's controller might have left in the panel.
void LeaveOtherBoardsPanel(HeadlessPanel& p) {
    for (int id : {1014, 1047, 1015, 1018, 1016, 1044, 1043, 1045, 1046, 1051, 1052}) {
        p.SetText(id, L"other");
        p.Show(id, true);
    }
    for (int id : {1048, 1049, 1050, 1053, 1054, 1055}) {
        p.Show(id, true);
        for (int i = 0; i < 3; ++i) p.InsertItem(id, i, L"old " + std::to_wstring(i));
        p.SetSelection(id, 2);
    }
    for (int id : {1000, 1002, 1004, 1010, 1006}) {
        p.SetRange(id, 0, 500);
        p.SetPos(id, 300);
        p.Show(id, false);
    }
    p.Show(1017, false);
    p.SetCheck(1017, true);
    p.SetCheck(1021, true);
}

TEST_F(Rtx2080TiPanelTest, ActivateConfiguresThePanelForThisBoardOnly) {
    AddBoard();
    LeaveOtherBoardsPanel(panel);
    const HeadlessPanel::Control syncBefore = panel.Get(ctl::kSync);
    auto controller = Controller();

    controller->Activate();
    controller->Activate();  // twice: the lists are refilled, not appended to

    struct Label {
        int id;
        const wchar_t* text;
    };
    for (const Label& label : {Label{1014, L"NVVDD"}, Label{1047, L"FBVDD"}, Label{1015, L"PEXVDD"},
                               Label{1018, L"PWM Freq."}, Label{1016, L"+1.8V"}, Label{1044, L"LN2 VRM mode"},
                               Label{1043, L"NVVDD Loadline"}, Label{1045, L"NVVDD OCP"}}) {
        EXPECT_EQ(panel.Text(label.id), label.text) << label.id;
        EXPECT_TRUE(panel.IsVisible(label.id)) << label.id;
    }
    for (int id : {1046, 1051, 1052, 1053, 1054, 1055}) EXPECT_FALSE(panel.IsVisible(id)) << id;

    struct Slider {
        int id, max;
    };
    for (const Slider& s : {Slider{1000, 128}, Slider{1002, 88}, Slider{1004, 19}, Slider{1010, 7}, Slider{1006, 4}}) {
        EXPECT_EQ(panel.Get(s.id).min, 0) << s.id;
        EXPECT_EQ(panel.Get(s.id).max, s.max) << s.id;
        EXPECT_TRUE(panel.IsVisible(s.id)) << s.id;
    }
    for (int id : {1001, 1003, 1005, 1019, 1007}) EXPECT_TRUE(panel.IsVisible(id)) << id;

    EXPECT_EQ(panel.Items(1048), kSwitchItems);
    EXPECT_EQ(panel.Items(1049), kLevelItems);
    EXPECT_EQ(panel.Items(1050), kSwitchItems);
    for (int id : {1048, 1049, 1050}) EXPECT_TRUE(panel.IsVisible(id)) << id;
    EXPECT_TRUE(panel.IsVisible(1017));

    const HeadlessPanel::Control& sync = panel.Get(ctl::kSync);
    EXPECT_EQ(sync.checked, syncBefore.checked);
    EXPECT_EQ(sync.visible, syncBefore.visible);
    EXPECT_EQ(sync.text, syncBefore.text);
}

// The board at power-on: everything at its defaults, NVVDD under the GPU's control at 1000 mV.
TEST_F(Rtx2080TiPanelTest, ActivateReadsTheBoardAndShowsIt) {
    AddBoard();
    auto controller = Controller();

    controller->Activate();

    const Ios expected = {
        R(NV, 0xE1, {0x88, 0xC2}),  // Auto
        R(NV, 0xE1, {0x88, 0xC2}),  // NVVDD: automatic, so the measured voltage
        R(NV, 0x8B, {0xE8, 0x03}),
        R(FB, 0xE1, {0x88, 0x42}),  // FBVDD: automatic as well
        R(FB, 0x8B, {0x5F, 0x05}),
        R(OFS, 0x02, {0x00}),       // PEXVDD
        R(NV, 0xBD, {0x28, 0x00}),  // switching frequency
        R(OFS, 0x01, {0x00}),       // +1.8V
        R(NV, 0xEE, {0x5F, 0x54}),  // LN2 mode
        R(NV, 0x1E, {0x31}),        // loadline
        R(NV, 0xEC, {0x41, 0x23}),  // OCP
    };
    ExpectTraffic(expected);
    EXPECT_TRUE(controller->IsAuto());

    const std::vector<std::pair<Row, std::wstring>> shown = {
        {Row::Auto, L"checked, slider disabled"},
        {Row::Nvvdd, L"1.00000 V @32"},
        {Row::Fbvdd, L"1.37500 V @28"},
        {Row::Pexvdd, L"1.078 V @4"},
        {Row::Frequency, L"400 kHz @1"},
        {Row::Rail1v8, L"1.80 V @1"},
        {Row::Ln2, L"#0"},
        {Row::Loadline, L"#0"},
        {Row::Ocp, L"#1"},
    };
    for (const auto& [row, text] : shown) EXPECT_EQ(RowState(panel, row), text);
}

TEST_F(Rtx2080TiPanelTest, ActivateOnFixedRegulatorsReadsTheirFixedVoltages) {
    AddBoard();
    SetBoard({{{NV, 0xE1, {0x98, 0xE2}}, {NV, 0x21, {0xF0, 0x00}}, {FB, 0xE1, {0x98, 0x42}}, {FB, 0x21, {0xD8, 0x00}}}});
    auto controller = Controller();

    controller->Activate();

    const Ios expected = {
        R(NV, 0xE1, {0x98, 0xE2}), R(NV, 0xE1, {0x98, 0xE2}), R(NV, 0x21, {0xF0, 0x00}),
        R(FB, 0xE1, {0x98, 0x42}), R(FB, 0x21, {0xD8, 0x00}), R(OFS, 0x02, {0x00}),
        R(NV, 0xBD, {0x28, 0x00}), R(OFS, 0x01, {0x00}),      R(NV, 0xEE, {0x5F, 0x54}),
        R(NV, 0x1E, {0x31}),       R(NV, 0xEC, {0x41, 0x23}),
    };
    ExpectTraffic(expected);
    EXPECT_FALSE(controller->IsAuto());
    EXPECT_EQ(RowState(panel, Row::Auto), L"unchecked, slider enabled");
    EXPECT_EQ(RowState(panel, Row::Nvvdd), L"1.50000 V @112");
    EXPECT_EQ(RowState(panel, Row::Fbvdd), L"1.37500 V @28");
}

TEST_F(Rtx2080TiPanelTest, ActivateWithoutTheControllerWindowDoesNothing) {
    AddBoard();
    LeaveOtherBoardsPanel(panel);
    const std::wstring before = PanelDump(panel);
    panels.Set(nullptr);
    auto controller = Controller();

    controller->Activate();
    controller->Apply();
    controller->LoadDefaults();
    controller->SetAuto(true);
    controller->OnSliderMoved(ctl::kRow1Slider);

    EXPECT_EQ(machine.TransferCount(), 0u);
    EXPECT_EQ(PanelDump(panel), before);
}

TEST_F(Rtx2080TiPanelTest, ActivateWithoutTheWindowKeepsThePanelItHad) {
    AddBoard();
    auto controller = Controller();
    controller->Activate();
    panels.Set(nullptr);
    controller->Activate();
    EXPECT_EQ(machine.Log().Entries().size(), kRefreshReads);

    // Still working on the panel it took first.
    panel.UserSelectItem(ctl::kList3Left, 0);
    controller->Apply();
    EXPECT_EQ(nvvdd->Value(0xEC), (std::vector<std::uint8_t>{0x41, 0x03}));
    EXPECT_EQ(RowState(panel, Row::Ocp), L"#0");
}

TEST_F(Rtx2080TiPanelTest, ControlsTheWindowLacksAreSkipped) {
    AddBoard();
    for (int id : {1016, 1006, 1049, 1017, 1053}) panel.RemoveControl(id);
    auto controller = Controller();

    controller->Activate();

    EXPECT_EQ(panel.Text(1014), L"NVVDD");
    EXPECT_EQ(panel.Text(1044), L"LN2 VRM mode");
    EXPECT_EQ(panel.Items(1048), kSwitchItems);
    EXPECT_EQ(panel.Items(1050), kSwitchItems);
    EXPECT_FALSE(panel.IsVisible(1054));
    EXPECT_EQ(panel.Text(1007), L"1.80 V");
    EXPECT_FALSE(panel.HasControl(1006));

    // Apply leaves the settings without a control alone instead of reading position 0 or no choice.
    offsets->Poke(0x01, {0x03});
    nvvdd->Poke(0x1E, {0x17});
    machine.Log().Clear();
    controller->Apply();
    EXPECT_TRUE(machine.Log().Writes().empty()) << machine.Log().Dump();
    EXPECT_EQ(offsets->Value(0x01), (std::vector<std::uint8_t>{0x03}));
}

// One register of the board set before activation, and what the row then shows.
struct ReadCase {
    const char* name;
    BoardState board;
    Row row;
    const wchar_t* shown;
};

const ReadCase kReadCases[] = {
    // NVVDD under the GPU's control: register 0x8B in millivolts, rounded down to 6.25 mV steps.
    {"NvvddAuto1000", {{}, 1000}, Row::Nvvdd, L"1.00000 V @32"},
    {"NvvddAuto999", {{}, 999}, Row::Nvvdd, L"0.99375 V @31"},
    {"NvvddAuto0", {{}, 0}, Row::Nvvdd, L"0.00000 V @0"},
    {"NvvddAutoAll16Bits", {{}, 0xFFFF}, Row::Nvvdd, L"65.53125 V @128"},
    {"NvvddAutoOtherBitsIgnored", {{{NV, 0xE1, {0xEF, 0xFF}}}, 1200}, Row::Nvvdd, L"1.20000 V @64"},
    // NVVDD fixed: register 0x21 as it is; the slider holds at its ends.
    {"NvvddFixed200", {{{NV, 0xE1, {0x10, 0x00}}, {NV, 0x21, {0xC8, 0x00}}}}, Row::Nvvdd, L"1.25000 V @72"},
    {"NvvddFixed256", {{{NV, 0xE1, {0x98, 0xE2}}, {NV, 0x21, {0x00, 0x01}}}}, Row::Nvvdd, L"1.60000 V @128"},
    {"NvvddFixed300", {{{NV, 0xE1, {0x98, 0xE2}}, {NV, 0x21, {0x2C, 0x01}}}}, Row::Nvvdd, L"1.87500 V @128"},
    {"NvvddFixed127", {{{NV, 0xE1, {0x98, 0xE2}}, {NV, 0x21, {0x7F, 0x00}}}}, Row::Nvvdd, L"0.79375 V @0"},
    // FBVDD fixed: its register holds the code minus 4. Automatic: no such offset.
    {"FbvddFixed216", {{{FB, 0xE1, {0x98, 0x42}}, {FB, 0x21, {0xD8, 0x00}}}}, Row::Fbvdd, L"1.37500 V @28"},
    {"FbvddFixed296", {{{FB, 0xE1, {0x98, 0x42}}, {FB, 0x21, {0x28, 0x01}}}}, Row::Fbvdd, L"1.87500 V @88"},
    {"FbvddFixed188", {{{FB, 0xE1, {0x10, 0x00}}, {FB, 0x21, {0xBC, 0x00}}}}, Row::Fbvdd, L"1.20000 V @0"},
    {"FbvddFixed0", {{{FB, 0xE1, {0x98, 0x42}}, {FB, 0x21, {0x00, 0x00}}}}, Row::Fbvdd, L"0.02500 V @0"},
    {"FbvddAuto1375", {{}, 1000, 1375}, Row::Fbvdd, L"1.37500 V @28"},
    {"FbvddAuto1400", {{}, 1000, 1400}, Row::Fbvdd, L"1.40000 V @32"},
    {"FbvddAuto1100", {{}, 1000, 1100}, Row::Fbvdd, L"1.10000 V @0"},
    // PEXVDD: sign-magnitude offsets; the table covers -4 to 15.
    {"PexvddMinus4", {{{OFS, 0x02, {0x84}}}}, Row::Pexvdd, L"0.938 V @0"},
    {"PexvddMinus3", {{{OFS, 0x02, {0x83}}}}, Row::Pexvdd, L"0.970 V @1"},
    {"PexvddMinusZero", {{{OFS, 0x02, {0x80}}}}, Row::Pexvdd, L"1.078 V @4"},
    {"PexvddPlus5", {{{OFS, 0x02, {0x05}}}}, Row::Pexvdd, L"1.255 V @9"},
    {"PexvddPlus15", {{{OFS, 0x02, {0x0F}}}}, Row::Pexvdd, L"1.449 V @19"},
    {"PexvddPlus16", {{{OFS, 0x02, {0x10}}}}, Row::Pexvdd, L"offset +16 @19"},
    {"PexvddPlus127", {{{OFS, 0x02, {0x7F}}}}, Row::Pexvdd, L"offset +127 @19"},
    {"PexvddMinus5", {{{OFS, 0x02, {0x85}}}}, Row::Pexvdd, L"offset -5 @0"},
    // +1.8V: the table covers -1 to 3.
    {"Rail1v8Minus1", {{{OFS, 0x01, {0x81}}}}, Row::Rail1v8, L"1.67 V @0"},
    {"Rail1v8Plus2", {{{OFS, 0x01, {0x02}}}}, Row::Rail1v8, L"2.07 V @3"},
    {"Rail1v8Plus3", {{{OFS, 0x01, {0x03}}}}, Row::Rail1v8, L"2.20 V @4"},
    {"Rail1v8Plus4", {{{OFS, 0x01, {0x04}}}}, Row::Rail1v8, L"offset +4 @4"},
    {"Rail1v8Minus2", {{{OFS, 0x01, {0x82}}}}, Row::Rail1v8, L"offset -2 @0"},
    // Switching frequency: 10 kHz units on the wire, 100 kHz steps rounded down in the panel.
    {"Frequency45", {{{NV, 0xBD, {0x2D, 0x00}}}}, Row::Frequency, L"400 kHz @1"},
    {"Frequency59", {{{NV, 0xBD, {0x3B, 0x00}}}}, Row::Frequency, L"500 kHz @2"},
    {"Frequency30", {{{NV, 0xBD, {0x1E, 0x00}}}}, Row::Frequency, L"300 kHz @0"},
    {"Frequency100", {{{NV, 0xBD, {0x64, 0x00}}}}, Row::Frequency, L"1000 kHz @7"},
    {"Frequency29", {{{NV, 0xBD, {0x1D, 0x00}}}}, Row::Frequency, L"200 kHz @0"},
    {"Frequency0", {{{NV, 0xBD, {0x00, 0x00}}}}, Row::Frequency, L"0 kHz @0"},
    {"Frequency300", {{{NV, 0xBD, {0x2C, 0x01}}}}, Row::Frequency, L"3000 kHz @7"},
    // LN2 mode and OCP: one byte pattern each means on.
    {"Ln2On", {{{NV, 0xEE, {0x1F, 0x14}}}}, Row::Ln2, L"#1"},
    {"Ln2OcpPattern", {{{NV, 0xEE, {0x14, 0x1F}}}}, Row::Ln2, L"#0"},
    {"Ln2Almost", {{{NV, 0xEE, {0x1F, 0x15}}}}, Row::Ln2, L"#0"},
    {"OcpEnabled", {{{NV, 0xEC, {0x41, 0x23}}}}, Row::Ocp, L"#1"},
    {"OcpDisabled", {{{NV, 0xEC, {0x41, 0x03}}}}, Row::Ocp, L"#0"},
    {"OcpOtherFirstByte", {{{NV, 0xEC, {0x40, 0x23}}}}, Row::Ocp, L"#0"},
    {"OcpSwapped", {{{NV, 0xEC, {0x23, 0x41}}}}, Row::Ocp, L"#0"},
    // Loadline: the level whose code matches, else the first from level 1 that reaches as far in
    // the low four bits.
    {"Loadline31", {{{NV, 0x1E, {0x31}}}}, Row::Loadline, L"#0"},
    {"Loadline10", {{{NV, 0x1E, {0x10}}}}, Row::Loadline, L"#1"},
    {"Loadline12", {{{NV, 0x1E, {0x12}}}}, Row::Loadline, L"#2"},
    {"Loadline14", {{{NV, 0x1E, {0x14}}}}, Row::Loadline, L"#3"},
    {"Loadline16", {{{NV, 0x1E, {0x16}}}}, Row::Loadline, L"#4"},
    {"Loadline17", {{{NV, 0x1E, {0x17}}}}, Row::Loadline, L"#5"},
    {"Loadline18", {{{NV, 0x1E, {0x18}}}}, Row::Loadline, L"#6"},
    {"Loadline19", {{{NV, 0x1E, {0x19}}}}, Row::Loadline, L"#7"},
    {"Loadline1A", {{{NV, 0x1E, {0x1A}}}}, Row::Loadline, L"#8"},
    {"Loadline1B", {{{NV, 0x1E, {0x1B}}}}, Row::Loadline, L"#9"},
    {"Loadline1D", {{{NV, 0x1E, {0x1D}}}}, Row::Loadline, L"#10"},
    {"Loadline1F", {{{NV, 0x1E, {0x1F}}}}, Row::Loadline, L"#11"},
    {"Loadline15", {{{NV, 0x1E, {0x15}}}}, Row::Loadline, L"#4"},
    {"Loadline01", {{{NV, 0x1E, {0x01}}}}, Row::Loadline, L"#2"},
    {"Loadline00", {{{NV, 0x1E, {0x00}}}}, Row::Loadline, L"#1"},
    {"Loadline30", {{{NV, 0x1E, {0x30}}}}, Row::Loadline, L"#1"},
    {"Loadline21", {{{NV, 0x1E, {0x21}}}}, Row::Loadline, L"#2"},
    {"Loadline13", {{{NV, 0x1E, {0x13}}}}, Row::Loadline, L"#3"},
    {"Loadline1C", {{{NV, 0x1E, {0x1C}}}}, Row::Loadline, L"#10"},
    {"Loadline1E", {{{NV, 0x1E, {0x1E}}}}, Row::Loadline, L"#11"},
    {"Loadline0F", {{{NV, 0x1E, {0x0F}}}}, Row::Loadline, L"#11"},
    {"LoadlineFF", {{{NV, 0x1E, {0xFF}}}}, Row::Loadline, L"#11"},
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class Rtx2080TiRead : public Rtx2080TiTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(Rtx2080TiRead, ShowsTheBoardValue) {
    const ReadCase& c = GetParam();
    AddBoard();
    SetBoard(c.board);
    auto controller = Controller();

    controller->Activate();

    EXPECT_EQ(RowState(panel, c.row), c.shown);
    EXPECT_TRUE(machine.Log().Writes().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, Rtx2080TiRead, ::testing::ValuesIn(kReadCases),
                         [](const ::testing::TestParamInfo<ReadCase>& param) { return std::string(param.param.name); });

struct SliderCase {
    int slider, pos, field;
    const wchar_t* text;
};

TEST_F(Rtx2080TiPanelTest, SliderMovesRewriteOnlyTheirValueField) {
    const SliderCase cases[] = {
        {1000, 0, 1001, L"0.80000 V"}, {1000, 31, 1001, L"0.99375 V"}, {1000, 128, 1001, L"1.60000 V"},
        {1002, 0, 1003, L"1.20000 V"}, {1002, 28, 1003, L"1.37500 V"}, {1002, 88, 1003, L"1.75000 V"},
        {1004, 0, 1005, L"0.938 V"},   {1004, 4, 1005, L"1.078 V"},    {1004, 19, 1005, L"1.449 V"},
        {1010, 0, 1019, L"300 kHz"}, {1010, 7, 1019, L"1000 kHz"},
        {1006, 0, 1007, L"1.67 V"},    {1006, 1, 1007, L"1.80 V"},     {1006, 4, 1007, L"2.20 V"},
    };
    auto controller = Activated();
    for (const SliderCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.slider) + " at " + std::to_string(c.pos));
        panel.SetPos(c.slider, c.pos);
        HeadlessPanel expected = panel;
        expected.SetText(c.field, c.text);

        controller->OnSliderMoved(c.slider);

        EXPECT_EQ(PanelDump(panel), PanelDump(expected));
    }
    EXPECT_EQ(machine.TransferCount(), kRefreshReads);  // the activation's reads only
}

TEST_F(Rtx2080TiPanelTest, MovesOfOtherControlsAreIgnored) {
    auto controller = Activated();
    panel.SetText(1001, L"mark");
    const std::wstring before = PanelDump(panel);

    for (int id : {1001, 1012, 1048, 1017, 1021, 0, -1, 9999}) controller->OnSliderMoved(id);

    EXPECT_EQ(PanelDump(panel), before);
    EXPECT_TRUE(machine.Log().Entries().empty());
}

}  // namespace
}  // namespace rtx2080ti_test
