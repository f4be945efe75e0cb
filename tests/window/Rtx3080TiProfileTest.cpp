// RTX 3080 Ti profiles: what Save writes to Profile.ini, what Load puts into the panel, and that a
// profile saved through either controller loads into the other.
#include "Rtx3080TiFixture.h"

namespace rtx3080ti_test {
namespace {

class Rtx3080TiProfileTest : public Rtx3080TiTest, public ::testing::WithParamInterface<BoardKind> {
protected:
    void WriteSection(const std::string& body) { WriteProfileText("[RTX3080TiZYL]\r\n" + body); }
};

// What a profile without any setting key puts into the panel: Auto on, 1.2 V, 1.375 V, 400 kHz,
// Level 1, Enable, and the Sync box clear.
const Snapshot kDefaultsPanel = {
    {"1017.checked", "1"}, {"1021.checked", "0"},
    {"1000.pos", "64"},    {"1000.enabled", "0"}, {"1001.text", "1.20000 V"},
    {"1002.pos", "28"},    {"1002.enabled", "1"}, {"1003.text", "1.37500 V"},
    {"1004.pos", "64"},    {"1004.enabled", "1"}, {"1005.text", "1.20000 V"},
    {"1010.pos", "1"},     {"1010.enabled", "1"}, {"1019.text", "400 kHz"},
    {"1006.pos", "1"},     {"1006.enabled", "1"}, {"1007.text", "400 kHz"},
    {"1049.sel", "1"},     {"1049.text", "Level 1"},
    {"1054.sel", "1"},     {"1054.text", "Level 1"},
    {"1050.sel", "1"},     {"1050.text", "Enable"},
    {"1055.sel", "1"},     {"1055.text", "Enable"},
};

INSTANTIATE_TEST_SUITE_P(BothControllers, Rtx3080TiProfileTest, ::testing::ValuesIn(BothBoards()), KindName);

TEST_P(Rtx3080TiProfileTest, SaveWritesElevenLinesInKeyOrderFromOneReadEach) {
    AddBoard(GetParam());
    Rtx3080TiControl& controller = Controller();
    controller.Activate();
    ClearLog();
    controller.SaveProfile(panel.IsChecked(ctl::kSync));

    EXPECT_NE(ProfileText().find("[RTX3080TiZYL]"), std::string::npos);
    EXPECT_NE(ProfileText().find("AUTO=1\r\nNVVDD=175\r\nFBVDD=220\r\nMSVDD=175\r\nNVPWM=4\r\nMSPWM=4\r\n"
                                 "NVLL=1\r\nMSLL=1\r\nNVOCP=1\r\nMSOCP=1\r\nSYNC=0\r\n"),
              std::string::npos)
        << ProfileText();

    const std::map<std::string, Ios> reads = {
        {"Mcu", {Rn(kMcu, 0x19, 10), Rn(kMcu, 0x19, 10), Rn(kMcu, 0x19, 10), Rn(kMcu, 0x19, 10), Rn(kMcu, 0x1C, 3),
                       Rn(kMcu, 0x1C, 3), Rn(kMcu, 0x1A, 3), Rn(kMcu, 0x1A, 3), Rn(kMcu, 0x1B, 3), Rn(kMcu, 0x1B, 3)}},
        {"Direct", {Rn(kNv, 0xE1, 2), Rn(kNv, 0xE1, 2), Rn(kNv, 0x8B, 2), Rn(kFb, 0xE1, 2), Rn(kFb, 0x21, 2),
                          Rn(kMs, 0xE1, 2), Rn(kMs, 0x8B, 2), Rn(kNv, 0xBD, 2), Rn(kMs, 0xBD, 2), Rn(kNv, 0x1E, 1),
                          Rn(kMs, 0x1E, 1), Rn(kNv, 0xEC, 2), Rn(kMs, 0xEC, 2)}},
    };
    ExpectTraffic(reads.at(GetParam().name));
}

TEST_P(Rtx3080TiProfileTest, SaveFromABoardThatDoesNotAnswerWritesTheFallbacks) {
    AddBoard(GetParam());
    Rtx3080TiControl& controller = Controller();
    controller.Activate();
    panel.UserClickCheck(ctl::kSync);
    Board().SetSilent(true);
    controller.SaveProfile(panel.IsChecked(ctl::kSync));
    EXPECT_NE(ProfileText().find("AUTO=0\r\nNVVDD=192\r\nFBVDD=220\r\nMSVDD=192\r\nNVPWM=4\r\nMSPWM=4\r\n"
                                 "NVLL=1\r\nMSLL=1\r\nNVOCP=1\r\nMSOCP=1\r\nSYNC=1\r\n"),
              std::string::npos)
        << ProfileText();
}

// A saved profile loads into either controller and sets that board to the same settings.
struct RoundTrip {
    BoardKind from, to;
};

void PrintTo(const RoundTrip& trip, std::ostream* out) { *out << trip.from.name << " to " << trip.to.name; }

class Rtx3080TiProfileRoundTripTest : public Rtx3080TiTest, public ::testing::WithParamInterface<RoundTrip> {};

INSTANTIATE_TEST_SUITE_P(AllPairs, Rtx3080TiProfileRoundTripTest,
                         ::testing::Values(RoundTrip{BothBoards()[0], BothBoards()[1]},
                                           RoundTrip{BothBoards()[1], BothBoards()[0]},
                                           RoundTrip{BothBoards()[0], BothBoards()[0]},
                                           RoundTrip{BothBoards()[1], BothBoards()[1]}),
                         [](const ::testing::TestParamInfo<RoundTrip>& p) {
                             return std::string(p.param.from.name) + "To" + p.param.to.name;
                         });

TEST_P(Rtx3080TiProfileRoundTripTest, SavedThroughOneControllerLoadsIntoTheOther) {
    BoardState saved;
    saved.nvvdd = 200;
    saved.fbvdd = 240;
    saved.msvdd = 180;
    saved.nvFrequency = 5;
    saved.msFrequency = 6;
    saved.nvLoadline = 3;
    saved.msLoadline = 7;
    saved.nvOcp = 0;
    saved.msOcp = 1;
    AddBoard(GetParam().from).Set(saved);
    AddBoard(GetParam().to);

    Rtx3080TiControl& source = Controller(0);
    Rtx3080TiControl& target = Controller(1);
    source.Activate();
    const Snapshot shownBySource = Snap(panel);
    panel.UserClickCheck(ctl::kSync);
    source.SaveProfile(panel.IsChecked(ctl::kSync));

    target.Activate();
    panel.UserClickCheck(ctl::kSync);  // cleared again; the profile checks it
    ClearLog();
    ASSERT_TRUE(Load(target));
    EXPECT_TRUE(machine.Log().Entries().empty()) << "loading does not touch the board";
    Snapshot wanted = shownBySource;
    wanted[Key(ctl::kSync, "checked")] = "1";
    EXPECT_EQ(Snap(panel), wanted);
    EXPECT_FALSE(target.IsAuto());

    target.Apply();
    EXPECT_EQ(Board(1).Get(), saved);

    // Loading onto the unchanged source board leads to an Apply that writes nothing.
    source.Activate();
    ASSERT_TRUE(Load(source));
    ClearLog();
    source.Apply();
    EXPECT_TRUE(machine.Log().Writes().empty()) << machine.Log().Dump();
}

TEST_P(Rtx3080TiProfileTest, MissingKeysTakeTheirDefaults) {
    AddBoard(GetParam());
    BoardState board;
    board.nvvdd = 240;
    board.nvLoadline = 9;
    board.nvOcp = 0;
    Board().Set(board);
    Rtx3080TiControl& controller = Controller();
    controller.Activate();
    WriteSection("SYNC=1\r\n");
    ClearLog();
    ASSERT_TRUE(Load(controller));
    EXPECT_TRUE(machine.Log().Entries().empty());
    Snapshot wanted = kDefaultsPanel;
    wanted["1021.checked"] = "1";
    EXPECT_EQ(Snap(panel), wanted);
    EXPECT_TRUE(controller.IsAuto());
}

TEST_P(Rtx3080TiProfileTest, ValuesOutOfRangeOrNotNumbersAppearAsShowValueMakesThem) {
    struct Case {
        const char* body;
        Snapshot shown;
    };
    const Case cases[] = {
        {"AUTO=0\r\nNVVDD=300\r\n", {{"1017.checked", "0"}, {"1000.enabled", "1"}, {"1000.pos", "128"},
                                     {"1001.text", "1.87500 V"}}},
        {"NVVDD=-1\r\n", {{"1000.pos", "0"}, {"1001.text", "-0.00625 V"}}},
        {"NVVDD=4294967295\r\n", {{"1000.pos", "0"}, {"1001.text", "-0.00625 V"}}},
        {"NVVDD=abc\r\n", {{"1000.pos", "0"}, {"1001.text", "0.00000 V"}}},
        {"FBVDD=100\r\nMSVDD=9000\r\n", {{"1002.pos", "0"}, {"1003.text", "0.62500 V"}, {"1004.pos", "128"},
                                        {"1005.text", "56.25000 V"}}},
        {"NVPWM=0\r\nMSPWM=12\r\n", {{"1010.pos", "0"}, {"1019.text", "0 kHz"}, {"1006.pos", "7"},
                                     {"1007.text", "1200 kHz"}}},
        {"NVPWM=2000000000\r\n", {{"1010.pos", "7"}, {"1019.text", "200000000000 kHz"}}},
        {"NVLL=16\r\nMSLL=0\r\n", {{"1049.sel", "1"}, {"1049.text", "Level 1"}, {"1054.sel", "0"},
                                   {"1054.text", "Level 0"}}},
        {"NVOCP=7\r\nMSOCP=0\r\n", {{"1050.sel", "1"}, {"1050.text", "Enable"}, {"1055.sel", "0"},
                                    {"1055.text", "Disable"}}},
        {"AUTO=abc\r\n", {{"1017.checked", "0"}, {"1000.enabled", "1"}}},
        {"nvvdd=200\r\n", {}},
        // A hand edit: blanks around "=" are dropped, as the Windows build reads it.
        {"NVVDD = 200 \r\n", {{"1000.pos", "72"}, {"1001.text", "1.25000 V"}}},
    };
    AddBoard(GetParam());
    Rtx3080TiControl& controller = Controller();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        controller.Activate();
        WriteSection(c.body);
        ASSERT_TRUE(Load(controller));
        // Everything the profile leaves out is at its default: Auto on, 1.2 V, 1.375 V, 400 kHz,
        // Level 1, Enable.
        Snapshot wanted = kDefaultsPanel;
        for (const auto& [key, value] : c.shown) wanted[key] = value;
        EXPECT_EQ(Snap(panel), wanted);
    }
}

TEST_P(Rtx3080TiProfileTest, TheApplyAfterALoadWritesTheClampedValues) {
    struct Case {
        const char* body;
        BoardState after;
    };
    BoardState board;
    board.nvvdd = 200;
    board.nvFrequency = 5;
    const Case cases[] = {
        // NVVDD beyond the slider goes on as 1.6 V; a frequency of 0 as 300 kHz.
        {"AUTO=0\r\nNVVDD=300\r\nNVPWM=0\r\nMSVDD=192\r\n",
         [] { BoardState s; s.nvvdd = 256; s.msvdd = 192; s.nvFrequency = 3; return s; }()},
        // With Auto on, the Apply leaves NVVDD alone.
        {"AUTO=1\r\nNVVDD=300\r\nNVPWM=4\r\nMSVDD=192\r\n", [] { BoardState s; s.nvvdd = 200; s.msvdd = 192; return s; }()},
        {"NVVDD=300\r\nNVPWM=4\r\nMSVDD=192\r\n", [] { BoardState s; s.nvvdd = 200; s.msvdd = 192; return s; }()},
    };
    AddBoard(GetParam());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        Board().Set(board);
        Rtx3080TiControl& controller = Controller();
        controller.Activate();
        WriteSection(c.body);
        ASSERT_TRUE(Load(controller));
        controller.Apply();
        EXPECT_EQ(Board().Get(), c.after);
    }
}

TEST_P(Rtx3080TiProfileTest, TheSyncBoxFollowsTheProfile) {
    struct Case {
        const char* body;
        bool checkedBefore;
        bool checkedAfter;
    };
    const Case cases[] = {
        {"SYNC=0\r\n", true, false},   {"SYNC=1\r\n", false, true},     {"SYNC=7\r\n", false, true},
        {"AUTO=1\r\n", true, false},   {"SYNC=x\r\n", true, false},
    };
    AddBoard(GetParam());
    Rtx3080TiControl& controller = Controller();
    controller.Activate();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        panel.SetCheck(ctl::kSync, c.checkedBefore);
        WriteSection(c.body);
        ASSERT_TRUE(Load(controller));
        EXPECT_EQ(panel.IsChecked(ctl::kSync), c.checkedAfter);
    }
}

TEST_P(Rtx3080TiProfileTest, WithoutAProfileLoadChangesNothing) {
    struct Case {
        const char* what;
        const char* file;  // null: no file
    };
    const Case cases[] = {
        {"no file", nullptr},
        {"another section only", "[Other]\r\nAUTO=0\r\nNVVDD=300\r\n"},
        {"an empty section", "[RTX3080TiZYL]\r\n[Other]\r\nAUTO=0\r\n"},
    };
    AddBoard(GetParam());
    Rtx3080TiControl& controller = Controller();
    controller.Activate();
    Choose({{ctl::kRow2Slider, 3}, {ctl::kList3Left, 0}});
    panel.SetCheck(ctl::kSync, true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove("Profile.ini");
        if (c.file) WriteProfileText(c.file);
        const Snapshot before = Snap(panel);
        const bool wasAuto = controller.IsAuto();
        ClearLog();
        EXPECT_FALSE(Load(controller));
        EXPECT_EQ(Snap(panel), before);
        EXPECT_EQ(controller.IsAuto(), wasAuto);
        EXPECT_TRUE(machine.Log().Entries().empty());
    }
}

}  // namespace
}  // namespace rtx3080ti_test
