// The controller window of the Windows program under Wine, on the simulator's default machine:
// entry 0 is the direct RTX 3080 Ti (scenario GPU 1), entry 1 the MCU-driven RTX 3080 Ti
// (scenario GPU 0), entry 2 the RTX 2080 Ti (scenario GPU 2). The user's part is real keys and
// mouse buttons; what the boards received is read from the simulator's transfer log.
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
    // Starts the program and picks the MCU-driven board with the Down key in the device list.
    pid_t StartOnMcuBoard() {
        const pid_t program = StartProgram();
        const DriverRun run = Drive({"wait-main", "20000", "mouse-click", "1012", "key", "down", "sel", "1012"});
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
    // The NVVDD slider by keyboard: Home, Page Down and Right towards the maximum, Page Up and Up
    // towards the minimum, a page being a fifth of the 0..128 range; FBVDD with End.
    DriverRun run = Act({"check", "1017", "enabled", "1000", "mouse-click", "1017", "check", "1017", "enabled",
                         "1000", "click-thumb", "1000", "focus", "key", "home", "pos", "1000", "key", "pagedown", "3",
                         "pos", "1000", "key", "pageup", "pos", "1000", "key", "right", "15", "pos", "1000", "key",
                         "up", "pos", "1000", "click-thumb", "1002", "key", "end", "pos", "1002", "text", "1001",
                         "text", "1003"});
    EXPECT_EQ(run.Answer("check 1017"), "1");
    EXPECT_EQ(run.Answer("enabled 1000"), "0");
    EXPECT_EQ(run.lines.at(2), "check 1017 0");
    EXPECT_EQ(run.lines.at(3), "enabled 1000 1");
    EXPECT_EQ(run.Answer("focus"), "1000");
    EXPECT_EQ(run.lines.at(5), "pos 1000 0");
    EXPECT_EQ(run.lines.at(6), "pos 1000 75");
    EXPECT_EQ(run.lines.at(7), "pos 1000 50");
    EXPECT_EQ(run.lines.at(8), "pos 1000 65");
    EXPECT_EQ(run.lines.at(9), "pos 1000 64");
    EXPECT_EQ(run.Answer("pos 1002"), "56");
    EXPECT_EQ(run.Answer("text 1001"), "1.20000 V");
    EXPECT_EQ(run.Answer("text 1003"), "1.55000 V");
    EXPECT_EQ(Writes(TransfersSinceMark(), kMcuGpu), Strings{}) << "sliders and unchecking Auto write nothing";

    run = Act({"mouse-click", "1013", "text", "1001", "text", "1003", "check", "1017", "pos", "1000"});
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
    run = Act({"mouse-click", "1013"});
    EXPECT_EQ(Writes(TransfersSinceMark(), kMcuGpu), Strings{}) << "a second Apply finds nothing to change";

    // Default: NVVDD back to automatic control, FBVDD back to 1.375 V; the rest already is.
    MarkLog();
    run = Act({"mouse-click", "1011", "text", "1001", "text", "1003", "check", "1017", "enabled", "1000"});
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
    // A drag to the left end of the track, then two pages and 14 steps to the right: 64.
    DriverRun run = Act({"mouse-click", "1017", "drag-thumb", "1000", "-1000", "pos", "1000", "key", "pagedown", "2",
                         "key", "right", "14", "pos", "1000", "mouse-click", "1013"});
    EXPECT_EQ(run.lines.at(0), "pos 1000 0");
    EXPECT_EQ(run.lines.at(1), "pos 1000 64");
    MarkLog();
    run = Act({"mouse-click", "1017", "check", "1017", "enabled", "1000", "text", "1001"});
    EXPECT_EQ(Writes(TransfersSinceMark(), kMcuGpu), Strings{"p1 5A:10 [03 00 00 00] ok"});
    EXPECT_EQ(run.Answer("check 1017"), "1");
    EXPECT_EQ(run.Answer("enabled 1000"), "0");
    // The voltage the GPU asks for again.
    EXPECT_EQ(run.Answer("text 1001"), "1.09375 V");
    CloseProgram(program);
}

TEST_F(Win32Window, SyncCarriesApplyAndDefaultToTheOtherBoardOfTheFamilyOnly) {
    const pid_t program = StartOnMcuBoard();
    // FBVDD dragged to the right end of its track: 56, 1.55 V.
    DriverRun run = Act({"mouse-click", "1021", "check", "1021", "drag-thumb", "1002", "1000", "pos", "1002"});
    EXPECT_EQ(run.Answer("check 1021"), "1");
    EXPECT_EQ(run.Answer("pos 1002"), "56");

    MarkLog();
    Act({"mouse-click", "1013"});
    std::vector<Transfer> applied = TransfersSinceMark();
    EXPECT_EQ(Writes(applied, kMcuGpu), Strings{"p1 5A:18 [03 01 F8 00] ok"});
    EXPECT_FALSE(Writes(applied, kDirectGpu).empty()) << "the direct RTX 3080 Ti follows the selected one";
    EXPECT_EQ(Writes(applied, kRtx2080Gpu), Strings{}) << "the RTX 2080 Ti is of another family";
    // The selected board first, then the other one.
    const auto firstOther = std::find_if(applied.begin(), applied.end(),
                                         [](const Transfer& t) { return t.gpu == kDirectGpu; });
    EXPECT_TRUE(std::none_of(firstOther, applied.end(), [](const Transfer& t) { return t.gpu == kMcuGpu; }));

    // The other board now holds the selected board's FBVDD, 248 (1.55 V).
    run = Act({"mouse-click", "1012", "key", "up", "sel", "1012", "text", "1003"});
    EXPECT_EQ(run.Answer("sel 1012"), "0");
    EXPECT_EQ(run.Answer("text 1003"), "1.55000 V");

    MarkLog();
    run = Act({"mouse-click", "1011", "text", "1003", "mouse-click", "1012", "key", "down", "text", "1003"});
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
    DriverRun run = Drive({"wait-main", "20000", "mouse-click", "1012", "key", "down", "2", "sel", "1012", "text",
                           "1015", "text", "1016", "visible", "1048", "visible", "1054", "items", "1048"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    EXPECT_EQ(run.Answer("sel 1012"), "2");
    EXPECT_EQ(run.Answer("text 1015"), "PEXVDD");
    EXPECT_EQ(run.Answer("text 1016"), "+1.8V");
    EXPECT_EQ(run.Answer("visible 1048"), "1");
    EXPECT_EQ(run.Answer("visible 1054"), "0");
    EXPECT_EQ(run.Answer("items 1048"), "2 Disable|Enable");

    // Back to an RTX 3080 Ti: its own labels and lists, each list item once.
    run = Act({"key", "up", "2", "text", "1015", "visible", "1048", "visible", "1054", "items", "1050"});
    EXPECT_EQ(run.Answer("text 1015"), "MSVDD");
    EXPECT_EQ(run.Answer("visible 1048"), "0");
    EXPECT_EQ(run.Answer("visible 1054"), "1");
    EXPECT_EQ(run.Answer("items 1050"), "2 Disable|Enable");

    // Esc in the device list closes the window, and the program ends.
    run = Act({"focus", "key", "esc"});
    EXPECT_EQ(run.Answer("focus"), "1012");
    EXPECT_TRUE(WaitForExit(program, 15000)) << "Esc closes the controller window";
    EXPECT_EQ(ExitStatus(program), 0);
}

// Text typed into a list's field picks no entry, and Apply writes nothing for that setting; an
// entry picked with the keyboard is written. A value field takes no typing. Enter closes.
TEST_F(Win32Window, TypedListTextWritesNothingAndEnterCloses) {
    const pid_t program = StartProgram();
    DriverRun run = Drive({"wait-main", "20000", "sel", "1012", "sel", "1054", "text", "1054"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    EXPECT_EQ(run.Answer("sel 1012"), "0");
    EXPECT_EQ(run.Answer("text 1054"), "Level 1");

    MarkLog();
    run = Act({"mouse-click", "1054", "key", "end", "key", "backspace", "7", "type", "Level 3", "text", "1054", "sel",
               "1054", "mouse-click", "1013"});
    EXPECT_EQ(run.Answer("text 1054"), "Level 3");
    EXPECT_EQ(run.Answer("sel 1054"), "-1");
    EXPECT_EQ(Writes(TransfersSinceMark(), kDirectGpu), Strings{}) << "a typed level is no level";

    MarkLog();
    run = Act({"mouse-click", "1054", "key", "down", "sel", "1054", "mouse-click", "1013"});
    EXPECT_NE(run.Answer("sel 1054"), "-1");
    EXPECT_NE(Writes(TransfersSinceMark(), kDirectGpu), Strings{}) << "a picked level is written";

    run = Act({"text", "1001", "mouse-click", "1001", "type", "9", "key", "backspace", "text", "1001", "key", "enter"});
    EXPECT_EQ(run.lines.at(1), run.lines.at(0)) << "the value field is read-only";
    EXPECT_TRUE(WaitForExit(program, 15000)) << "Enter closes the controller window";
    EXPECT_EQ(ExitStatus(program), 0);
}

}  // namespace
