// What both RTX 3080 Ti controllers show alike: the panel they configure, how board values
// appear, the slider texts, the Auto box, and lists without a selection.
#include "Rtx3080TiFixture.h"
#include "boards/Rtx2080TiProtocol.h"
#include "sim/Boards.h"

namespace rtx3080ti_test {
namespace {

class Rtx3080TiPanelTest : public Rtx3080TiTest, public ::testing::WithParamInterface<BoardKind> {};

INSTANTIATE_TEST_SUITE_P(BothControllers, Rtx3080TiPanelTest, ::testing::ValuesIn(BothBoards()), KindName);

// The panel as either RTX 3080 Ti controller configures it, whatever ran before.
void ExpectConfiguredForTheBoard(const HeadlessPanel& panel) {
    struct LabelCase {
        int id;
        const wchar_t* text;  // null: hidden, text not looked at
    };
    const LabelCase labels[] = {
        {ctl::kRow1Label, L"NVVDD"},          {ctl::kRow2Label, L"FBVDD"},
        {ctl::kRow3Label, L"MSVDD"},          {ctl::kRow4Label, L"NV Freq."},
        {ctl::kRow5Label, L"MS Freq."},       {ctl::kList1LeftLabel, nullptr},
        {ctl::kList2LeftLabel, L"NVVDD Loadline"}, {ctl::kList3LeftLabel, L"NVVDD OCP"},
        {ctl::kList1RightLabel, nullptr},     {ctl::kList2RightLabel, L"MSVDD Loadline"},
        {ctl::kList3RightLabel, L"MSVDD OCP"},
    };
    for (const LabelCase& c : labels) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(panel.IsVisible(c.id), c.text != nullptr);
        if (c.text) {
            EXPECT_EQ(panel.Text(c.id), c.text);
        }
    }

    struct SliderCase {
        int slider, field, max;
    };
    const SliderCase sliders[] = {{ctl::kRow1Slider, ctl::kRow1Value, 128}, {ctl::kRow2Slider, ctl::kRow2Value, 56},
                                  {ctl::kRow3Slider, ctl::kRow3Value, 128}, {ctl::kRow4Slider, ctl::kRow4Value, 7},
                                  {ctl::kRow5Slider, ctl::kRow5Value, 7}};
    for (const SliderCase& c : sliders) {
        SCOPED_TRACE(c.slider);
        EXPECT_EQ(panel.Get(c.slider).min, 0);
        EXPECT_EQ(panel.Get(c.slider).max, c.max);
        EXPECT_TRUE(panel.IsVisible(c.slider));
        EXPECT_TRUE(panel.IsVisible(c.field));
    }

    std::vector<std::wstring> levels;
    for (int i = 0; i <= 15; ++i) levels.push_back(L"Level " + std::to_wstring(i));
    const std::vector<std::wstring> ocp = {L"Disable", L"Enable"};
    for (int list : {ctl::kList2Left, ctl::kList2Right}) EXPECT_EQ(panel.Items(list), levels) << list;
    for (int list : {ctl::kList3Left, ctl::kList3Right}) EXPECT_EQ(panel.Items(list), ocp) << list;
    for (int list : {ctl::kList2Left, ctl::kList2Right, ctl::kList3Left, ctl::kList3Right})
        EXPECT_TRUE(panel.IsVisible(list)) << list;
    EXPECT_FALSE(panel.IsVisible(ctl::kList1Left));
    EXPECT_FALSE(panel.IsVisible(ctl::kList1Right));
    EXPECT_TRUE(panel.IsVisible(ctl::kAuto));
    // The Sync box belongs to the user.
    EXPECT_TRUE(panel.IsVisible(ctl::kSync));
    EXPECT_FALSE(panel.IsChecked(ctl::kSync));
}

TEST_P(Rtx3080TiPanelTest, ActivateConfiguresThePanelForTheBoard) {
    AddBoard(GetParam());
    Controller().Activate();
    ExpectConfiguredForTheBoard(panel);
}

// The template hides list row 1 at start; only an RTX 2080 Ti activated before shows the LN2 row,
// and the RTX 3080 Ti must take it away again.
TEST_P(Rtx3080TiPanelTest, ActivateAfterAnRtx2080TiLeavesOnlyThisBoardsPanel) {
    AddBoard(GetParam());
    sim::SimGpu& gpu2080 = machine.AddGpu(0x8000, "NVIDIA GeForce RTX 2080 Ti");
    gpu2080.subsystemId = 0x25891462;
    sim::AttachBoard(gpu2080, sim::BoardKind::Rtx2080Ti);
    Controller();  // the GPU list, before the RTX 2080 Ti controller needs it

    const std::unique_ptr<Rtx2080TiZyl> rtx2080ti = MakeController<Rtx2080TiFamily, Rtx2080TiProtocol>(1, panels, Services());
    rtx2080ti->Activate();
    ASSERT_TRUE(panel.IsVisible(ctl::kList1LeftLabel));
    ASSERT_EQ(panel.Text(ctl::kList1LeftLabel), L"LN2 VRM mode");
    ASSERT_TRUE(panel.IsVisible(ctl::kList1Left));
    ASSERT_EQ(panel.Text(ctl::kRow5Label), L"+1.8V");
    ASSERT_EQ(panel.Items(ctl::kList2Left).size(), 12u);

    Controller().Activate();
    ExpectConfiguredForTheBoard(panel);
}

// The board at power-on: both rails automatic at code 175, the defaults elsewhere.
const Snapshot kPowerOnPanel = {
    {"1017.checked", "1"}, {"1021.checked", "0"},
    {"1000.pos", "47"},    {"1000.enabled", "0"}, {"1001.text", "1.09375 V"},
    {"1002.pos", "28"},    {"1002.enabled", "1"}, {"1003.text", "1.37500 V"},
    {"1004.pos", "47"},    {"1004.enabled", "1"}, {"1005.text", "1.09375 V"},
    {"1010.pos", "1"},     {"1010.enabled", "1"}, {"1019.text", "400 kHz"},
    {"1006.pos", "1"},     {"1006.enabled", "1"}, {"1007.text", "400 kHz"},
    {"1049.sel", "1"},     {"1049.text", "Level 1"},
    {"1054.sel", "1"},     {"1054.text", "Level 1"},
    {"1050.sel", "1"},     {"1050.text", "Enable"},
    {"1055.sel", "1"},     {"1055.text", "Enable"},
};

TEST_P(Rtx3080TiPanelTest, ActivateShowsWhatTheBoardReports) {
    struct Case {
        const char* what;
        BoardState board;
        Snapshot shown;  // the keys that differ from the power-on panel
    };
    const Case cases[] = {
        {"power-on", BoardState{}, {}},
        {"NVVDD fixed at 1.2 V",
         [] { BoardState s; s.nvvdd = 192; return s; }(),
         {{"1017.checked", "0"}, {"1000.enabled", "1"}, {"1000.pos", "64"}, {"1001.text", "1.20000 V"}}},
        {"NVVDD above the slider",
         [] { BoardState s; s.nvvdd = 300; return s; }(),
         {{"1017.checked", "0"}, {"1000.enabled", "1"}, {"1000.pos", "128"}, {"1001.text", "1.87500 V"}}},
        {"NVVDD below the slider",
         [] { BoardState s; s.nvvdd = 100; return s; }(),
         {{"1017.checked", "0"}, {"1000.enabled", "1"}, {"1000.pos", "0"}, {"1001.text", "0.62500 V"}}},
        {"MSVDD fixed, FBVDD at both ends",
         [] { BoardState s; s.msvdd = 256; s.fbvdd = 248; return s; }(),
         {{"1004.pos", "128"}, {"1005.text", "1.60000 V"}, {"1002.pos", "56"}, {"1003.text", "1.55000 V"}}},
        {"FBVDD below its slider",
         [] { BoardState s; s.fbvdd = 100; return s; }(),
         {{"1002.pos", "0"}, {"1003.text", "0.62500 V"}}},
        {"frequencies at the ends",
         [] { BoardState s; s.nvFrequency = 10; s.msFrequency = 3; return s; }(),
         {{"1010.pos", "7"}, {"1019.text", "1000 kHz"}, {"1006.pos", "0"}, {"1007.text", "300 kHz"}}},
        {"frequency beyond the slider",
         [] { BoardState s; s.nvFrequency = 12; s.msFrequency = 1; return s; }(),
         {{"1010.pos", "7"}, {"1019.text", "1200 kHz"}, {"1006.pos", "0"}, {"1007.text", "100 kHz"}}},
        {"loadlines and OCP",
         [] { BoardState s; s.nvLoadline = 15; s.msLoadline = 0; s.nvOcp = 0; s.msOcp = 0; return s; }(),
         {{"1049.sel", "15"}, {"1049.text", "Level 15"}, {"1054.sel", "0"}, {"1054.text", "Level 0"},
          {"1050.sel", "0"}, {"1050.text", "Disable"}, {"1055.sel", "0"}, {"1055.text", "Disable"}}},
    };
    AddBoard(GetParam());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Board().Set(c.board);
        Controller().Activate();
        Snapshot wanted = kPowerOnPanel;
        for (const auto& [key, value] : c.shown) wanted[key] = value;
        EXPECT_EQ(Snap(panel), wanted);
        EXPECT_EQ(Controller().IsAuto(), wanted["1017.checked"] == "1");
    }
}

TEST_P(Rtx3080TiPanelTest, ActivatingAgainRefillsTheListsInsteadOfAppending) {
    AddBoard(GetParam());
    // Another board type's items in the lists first.
    panel.InsertItem(ctl::kList2Left, 0, L"foreign");
    panel.InsertItem(ctl::kList3Right, 0, L"foreign");
    Controller().Activate();
    Controller().Activate();
    EXPECT_EQ(panel.Items(ctl::kList2Left).size(), 16u);
    EXPECT_EQ(panel.Items(ctl::kList2Right).size(), 16u);
    EXPECT_EQ(panel.Items(ctl::kList3Left).size(), 2u);
    EXPECT_EQ(panel.Items(ctl::kList3Right).size(), 2u);
    EXPECT_EQ(Snap(panel), kPowerOnPanel);
}

TEST_P(Rtx3080TiPanelTest, WithoutTheControllerWindowNothingHappens) {
    AddBoard(GetParam());
    panels.Set(nullptr);
    Rtx3080TiControl& controller = Controller();
    const Snapshot untouched = Snap(panel);
    controller.Activate();
    controller.OnSliderMoved(ctl::kRow1Slider);
    controller.Apply();
    controller.LoadDefaults();
    controller.SetAuto(true);
    controller.SaveProfile(panel.IsChecked(ctl::kSync));
    EXPECT_FALSE(controller.LoadProfile());
    EXPECT_TRUE(machine.Log().Entries().empty());
    EXPECT_EQ(Snap(panel), untouched);
    EXPECT_EQ(panel.Text(ctl::kRow4Label), L"PWM Freq.");  // the template's text stays
    EXPECT_TRUE(ProfileText().empty());
}

// A window panel that notes every operation on a control it does not have.
class StrictPanel final : public ControlPanel {
public:
    explicit StrictPanel(HeadlessPanel& inner) : inner_(inner) {}
    std::vector<int> strays;

    bool HasControl(int id) const override { return inner_.HasControl(id); }
    void SetText(int id, const std::wstring& text) override { Note(id); inner_.SetText(id, text); }
    void Show(int id, bool visible) override { Note(id); inner_.Show(id, visible); }
    void Enable(int id, bool enabled) override { Note(id); inner_.Enable(id, enabled); }
    void SetRange(int id, int min, int max) override { Note(id); inner_.SetRange(id, min, max); }
    void SetPos(int id, int pos) override { Note(id); inner_.SetPos(id, pos); }
    int GetPos(int id) const override { return inner_.GetPos(id); }
    void ClearList(int id) override { Note(id); inner_.ClearList(id); }
    void InsertItem(int id, int index, const std::wstring& text) override { Note(id); inner_.InsertItem(id, index, text); }
    void SetSelection(int id, int index) override { Note(id); inner_.SetSelection(id, index); }
    int GetSelection(int id) const override { return inner_.GetSelection(id); }
    void SetCheck(int id, bool checked) override { Note(id); inner_.SetCheck(id, checked); }
    bool IsChecked(int id) const override { return inner_.IsChecked(id); }

private:
    void Note(int id) {
        if (!inner_.HasControl(id)) strays.push_back(id);
    }
    HeadlessPanel& inner_;
};

TEST_P(Rtx3080TiPanelTest, ActivateSkipsControlsTheWindowLacks) {
    AddBoard(GetParam());
    // Controls only the configuration touches.
    for (int id : {ctl::kRow5Label, ctl::kList1Left, ctl::kList1LeftLabel, ctl::kList2RightLabel, ctl::kList1Right})
        panel.RemoveControl(id);
    StrictPanel strict(panel);
    panels.Set(&strict);
    Controller().Activate();
    EXPECT_EQ(strict.strays, std::vector<int>{});
    EXPECT_EQ(panel.Text(ctl::kRow4Label), L"NV Freq.");
    EXPECT_EQ(panel.Text(ctl::kList3RightLabel), L"MSVDD OCP");
    EXPECT_EQ(panel.Get(ctl::kRow5Slider).max, 7);
    EXPECT_EQ(panel.Text(ctl::kRow5Value), L"400 kHz");
    EXPECT_EQ(panel.GetSelection(ctl::kList3Right), 1);
}

TEST_P(Rtx3080TiPanelTest, MovingASliderRewritesOnlyItsValueField) {
    AddBoard(GetParam());
    Rtx3080TiControl& controller = Controller();
    controller.Activate();
    struct Case {
        int slider, position, field;
        const char* text;
    };
    const Case cases[] = {
        {ctl::kRow1Slider, 64, ctl::kRow1Value, "1.20000 V"}, {ctl::kRow1Slider, 0, ctl::kRow1Value, "0.80000 V"},
        {ctl::kRow2Slider, 56, ctl::kRow2Value, "1.55000 V"}, {ctl::kRow2Slider, 1, ctl::kRow2Value, "1.20625 V"},
        {ctl::kRow3Slider, 128, ctl::kRow3Value, "1.60000 V"}, {ctl::kRow4Slider, 7, ctl::kRow4Value, "1000 kHz"},
        {ctl::kRow5Slider, 0, ctl::kRow5Value, "300 kHz"},
    };
    ClearLog();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slider);
        panel.SetPos(c.slider, c.position);
        Snapshot wanted = Snap(panel);
        wanted[Key(c.field, "text")] = c.text;
        controller.OnSliderMoved(c.slider);
        EXPECT_EQ(Snap(panel), wanted);
    }
    // Controls that are not this board's sliders change nothing.
    for (int id : {ctl::kList2Left, ctl::kApply, 1008, 0, -1}) {
        const Snapshot before = Snap(panel);
        controller.OnSliderMoved(id);
        EXPECT_EQ(Snap(panel), before) << id;
    }
    EXPECT_TRUE(machine.Log().Entries().empty());
}

// Sync reaches the boards of one family: both RTX 3080 Ti boards are family 2.
TEST_P(Rtx3080TiPanelTest, EitherBoardIsOfFamilyTwo) {
    AddBoard(GetParam());
    EXPECT_EQ(Controller().GetFamily(), 2);
}

TEST_P(Rtx3080TiPanelTest, AutoBoxActsOnlyOnAChange) {
    AddBoard(GetParam());
    BoardState fixed;
    fixed.nvvdd = 200;
    Board().Set(fixed);
    Rtx3080TiControl& controller = Controller();
    controller.Activate();

    ClearLog();
    controller.SetAuto(false);  // already off
    EXPECT_TRUE(machine.Log().Entries().empty());

    controller.SetAuto(true);
    EXPECT_FALSE(machine.Log().Writes().empty());
    EXPECT_FALSE(panel.IsEnabled(ctl::kRow1Slider));
    EXPECT_FALSE(Board().Get().nvvdd.has_value());
    EXPECT_EQ(panel.Text(ctl::kRow1Value), L"1.09375 V");

    ClearLog();
    controller.SetAuto(true);
    EXPECT_TRUE(machine.Log().Entries().empty());

    // Unchecking only frees the slider; the next Apply sets the voltage.
    controller.SetAuto(false);
    EXPECT_TRUE(machine.Log().Entries().empty());
    EXPECT_TRUE(panel.IsEnabled(ctl::kRow1Slider));
    EXPECT_FALSE(Board().Get().nvvdd.has_value());
    ASSERT_TRUE(panel.UserMoveSlider(ctl::kRow1Slider, 72));
    controller.Apply();
    EXPECT_EQ(Board().Get().nvvdd, std::optional<std::uint16_t>(200));
    EXPECT_EQ(panel.Text(ctl::kRow1Value), L"1.25000 V");
}

// A list whose text the user typed has no selection. Apply leaves those settings alone, still
// applies the rest, and shows the board's values in the lists again.
TEST_P(Rtx3080TiPanelTest, ApplyLeavesSettingsOfListsWithoutSelectionAlone) {
    AddBoard(GetParam());
    BoardState board;
    board.nvLoadline = 3;
    board.msLoadline = 9;
    board.nvOcp = 0;
    board.msOcp = 1;
    Board().Set(board);
    Rtx3080TiControl& controller = Controller();
    controller.Activate();
    Choose({{ctl::kList2Left, kTyped}, {ctl::kList2Right, kTyped}, {ctl::kList3Left, kTyped},
            {ctl::kList3Right, kTyped}, {ctl::kRow4Slider, 7}});
    ClearLog();
    controller.Apply();

    BoardState wanted = board;
    wanted.nvFrequency = 10;
    EXPECT_EQ(Board().Get(), wanted);
    for (const sim::LogEntry& e : machine.Log().Writes()) {
        // Nothing touches loadline or OCP registers, on either kind of board.
        const bool mcuList = e.device == kMcu && (e.reg == 0x11 || e.reg == 0x12 || e.reg == 0x15 || e.reg == 0x16);
        const bool vrList = e.device != kMcu && (e.reg == 0x1E || e.reg == 0x06 || e.reg == 0xEC || e.reg == 0x44 ||
                                                 e.reg == 0xEE || e.reg == 0x6A);
        EXPECT_FALSE(mcuList || vrList) << sim::TransferLog::Format(e);
    }
    EXPECT_EQ(panel.GetSelection(ctl::kList2Left), 3);
    EXPECT_EQ(panel.GetSelection(ctl::kList2Right), 9);
    EXPECT_EQ(panel.GetSelection(ctl::kList3Left), 0);
    EXPECT_EQ(panel.GetSelection(ctl::kList3Right), 1);
    EXPECT_EQ(panel.Text(ctl::kList2Left), L"Level 3");
    EXPECT_EQ(panel.Text(ctl::kRow4Value), L"1000 kHz");
}

TEST_P(Rtx3080TiPanelTest, ABoardThatDoesNotAnswerLeavesThePanelButShowsAutoOff) {
    AddBoard(GetParam());
    Rtx3080TiControl& controller = Controller();
    controller.Activate();
    Choose({{ctl::kRow2Slider, 40}, {ctl::kList2Left, 7}});
    controller.OnSliderMoved(ctl::kRow2Slider);
    Snapshot wanted = Snap(panel);
    wanted["1017.checked"] = "0";
    wanted["1000.enabled"] = "1";

    Board().SetSilent(true);
    controller.Apply();
    EXPECT_EQ(Snap(panel), wanted);
    EXPECT_FALSE(controller.IsAuto());
    controller.LoadDefaults();
    EXPECT_EQ(Snap(panel), wanted);
    for (const sim::LogEntry& e : machine.Log().Writes()) EXPECT_FALSE(e.ok()) << sim::TransferLog::Format(e);
}

}  // namespace
}  // namespace rtx3080ti_test
