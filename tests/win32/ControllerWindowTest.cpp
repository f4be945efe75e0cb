// The controller window of the Windows program under Wine, on the simulator's default machine:
// entry 0 is the direct RTX 3080 Ti (scenario GPU 1), entry 1 the MCU-driven RTX 3080 Ti
// (scenario GPU 0), entry 2 the RTX 2080 Ti (scenario GPU 2). What the boards received is read
// from the simulator's transfer log.
#include <algorithm>

#include "WineTest.h"

namespace {

using wine::DriverRun;
using wine::Transfer;
using Strings = std::vector<std::string>;

constexpr int kMcuGpu = 0;
constexpr int kDirectGpu = 1;
constexpr int kRtx2080Gpu = 2;

class Win32Window : public wine::WineTest {
protected:
    // Starts the program and selects the MCU-driven board.
    pid_t StartOnMcuBoard() {
        const pid_t program = StartProgram();
        const DriverRun run = Drive({"wait-main", "20000", "select", "1012", "1", "sel", "1012"});
        EXPECT_TRUE(run.ok()) << run.Transcript();
        EXPECT_EQ(run.Answer("sel 1012"), "1");
        return program;
    }

    DriverRun Act(const Strings& commands) {
        Strings all = {"use-main"};
        all.insert(all.end(), commands.begin(), commands.end());
        DriverRun run = Drive(all);
        EXPECT_TRUE(run.ok()) << run.Transcript();
        return run;
    }
};

TEST_F(Win32Window, SlidersChangeOnlyTheTextAndApplyWritesWhatDiffersToTheSelectedBoard) {
    const pid_t program = StartOnMcuBoard();
    MarkLog();

    // At power-on NVVDD is under automatic control: Auto checked, its slider blocked.
    DriverRun run = Act({"check", "1017", "enabled", "1000", "click", "1017", "check", "1017", "enabled", "1000",
                         "slide", "1000", "64", "slide", "1002", "56", "text", "1001", "text", "1003"});
    EXPECT_EQ(run.Answer("check 1017"), "1");
    EXPECT_EQ(run.Answer("enabled 1000"), "0");
    EXPECT_EQ(run.lines.at(2), "check 1017 0");
    EXPECT_EQ(run.lines.at(3), "enabled 1000 1");
    EXPECT_EQ(run.Answer("text 1001"), "1.20000 V");
    EXPECT_EQ(run.Answer("text 1003"), "1.55000 V");
    EXPECT_EQ(Writes(TransfersSinceMark(), kMcuGpu), Strings{}) << "sliders and unchecking Auto write nothing";

    run = Act({"click", "1013", "text", "1001", "text", "1003", "check", "1017", "pos", "1000"});
    const std::vector<Transfer> applied = TransfersSinceMark();
    EXPECT_EQ(Writes(applied, kMcuGpu), (Strings{"p1 5A:10 [03 01 C0 00] ok", "p1 5A:18 [03 01 F8 00] ok"}));
    EXPECT_EQ(Writes(applied, kDirectGpu), Strings{});
    EXPECT_EQ(Writes(applied, kRtx2080Gpu), Strings{});
    // Read back from the board: NVVDD now holds a fixed 1.2 V.
    EXPECT_EQ(run.Answer("text 1001"), "1.20000 V");
    EXPECT_EQ(run.Answer("text 1003"), "1.55000 V");
    EXPECT_EQ(run.Answer("check 1017"), "0");
    EXPECT_EQ(run.Answer("pos 1000"), "64");

    MarkLog();
    run = Act({"click", "1013"});
    EXPECT_EQ(Writes(TransfersSinceMark(), kMcuGpu), Strings{}) << "a second Apply finds nothing to change";

    // Default: NVVDD back to automatic control, FBVDD back to 1.375 V; the rest already is.
    MarkLog();
    run = Act({"click", "1011", "text", "1001", "text", "1003", "check", "1017", "enabled", "1000"});
    EXPECT_EQ(Writes(TransfersSinceMark(), kMcuGpu),
              (Strings{"p1 5A:10 [03 00 00 00] ok", "p1 5A:18 [03 01 DC 00] ok"}));
    EXPECT_EQ(run.Answer("text 1001"), "1.09375 V");
    EXPECT_EQ(run.Answer("text 1003"), "1.37500 V");
    EXPECT_EQ(run.Answer("check 1017"), "1");
    EXPECT_EQ(run.Answer("enabled 1000"), "0");
    CloseProgram(program);
}

TEST_F(Win32Window, CheckingAutoHandsAFixedRailBackToTheGpu) {
    const pid_t program = StartOnMcuBoard();
    Act({"click", "1017", "slide", "1000", "64", "click", "1013"});
    MarkLog();
    const DriverRun run = Act({"click", "1017", "check", "1017", "enabled", "1000", "text", "1001"});
    EXPECT_EQ(Writes(TransfersSinceMark(), kMcuGpu), Strings{"p1 5A:10 [03 00 00 00] ok"});
    EXPECT_EQ(run.Answer("check 1017"), "1");
    EXPECT_EQ(run.Answer("enabled 1000"), "0");
    // The voltage the GPU asks for again.
    EXPECT_EQ(run.Answer("text 1001"), "1.09375 V");
    CloseProgram(program);
}

TEST_F(Win32Window, SyncCarriesApplyAndDefaultToTheOtherBoardOfTheFamilyOnly) {
    const pid_t program = StartOnMcuBoard();
    DriverRun run = Act({"click", "1021", "check", "1021", "slide", "1002", "40"});
    EXPECT_EQ(run.Answer("check 1021"), "1");

    MarkLog();
    Act({"click", "1013"});
    std::vector<Transfer> applied = TransfersSinceMark();
    EXPECT_EQ(Writes(applied, kMcuGpu), Strings{"p1 5A:18 [03 01 E8 00] ok"});
    EXPECT_FALSE(Writes(applied, kDirectGpu).empty()) << "the direct RTX 3080 Ti follows the selected one";
    EXPECT_EQ(Writes(applied, kRtx2080Gpu), Strings{}) << "the RTX 2080 Ti is of another family";
    // The selected board first, then the other one.
    const auto firstOther = std::find_if(applied.begin(), applied.end(),
                                         [](const Transfer& t) { return t.gpu == kDirectGpu; });
    EXPECT_TRUE(std::none_of(firstOther, applied.end(), [](const Transfer& t) { return t.gpu == kMcuGpu; }));

    // The other board now holds the selected board's FBVDD, 232 (1.45 V).
    run = Act({"select", "1012", "0", "text", "1003"});
    EXPECT_EQ(run.Answer("text 1003"), "1.45000 V");

    MarkLog();
    run = Act({"click", "1011", "text", "1003", "select", "1012", "1", "text", "1003"});
    const std::vector<Transfer> defaults = TransfersSinceMark();
    EXPECT_FALSE(Writes(defaults, kDirectGpu).empty());
    EXPECT_EQ(Writes(defaults, kMcuGpu), Strings{"p1 5A:18 [03 01 DC 00] ok"});
    EXPECT_EQ(Writes(defaults, kRtx2080Gpu), Strings{});
    EXPECT_EQ(run.lines.at(0), "text 1003 1.37500 V");
    EXPECT_EQ(run.lines.at(1), "text 1003 1.37500 V");
    CloseProgram(program);
}

TEST_F(Win32Window, SelectingAnEntryPutsItsBoardIntoThePanel) {
    const pid_t program = StartProgram();
    DriverRun run = Drive({"wait-main", "20000", "select", "1012", "2", "text", "1015", "text", "1016", "visible",
                           "1048", "visible", "1054", "items", "1048"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    EXPECT_EQ(run.Answer("text 1015"), "PEXVDD");
    EXPECT_EQ(run.Answer("text 1016"), "+1.8V");
    EXPECT_EQ(run.Answer("visible 1048"), "1");
    EXPECT_EQ(run.Answer("visible 1054"), "0");
    EXPECT_EQ(run.Answer("items 1048"), "2 Disable|Enable");

    // Back to an RTX 3080 Ti: its own labels and lists, each list item once.
    run = Act({"select", "1012", "0", "text", "1015", "visible", "1048", "visible", "1054", "items", "1050"});
    EXPECT_EQ(run.Answer("text 1015"), "MSVDD");
    EXPECT_EQ(run.Answer("visible 1048"), "0");
    EXPECT_EQ(run.Answer("visible 1054"), "1");
    EXPECT_EQ(run.Answer("items 1050"), "2 Disable|Enable");
    CloseProgram(program);
}

}  // namespace
