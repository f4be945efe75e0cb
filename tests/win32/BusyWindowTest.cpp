// The controller window of the Windows program during a long operation: six MCU-driven RTX 3080 Ti
// boards, Sync on, every setting changed, Apply clicked. The board's pauses after each write add
// up to seconds; the window must answer the system throughout, take no second click meanwhile and
// be usable again afterwards.
#include <cstdio>
#include <string>
#include <vector>

#include "WineTest.h"

namespace {

using wine::DriverRun;
using wine::Transfer;
using Strings = std::vector<std::string>;

constexpr int kBoards = 6;

std::string SixMcuBoards() {
    std::string text;
    for (int i = 0; i < kBoards; ++i)
        text += "gpu handle=0x" + std::to_string(i + 1) +
                "100 name=\"NVIDIA GeForce RTX 3080 Ti\" subsystem=0x39961B4C vbios=94.02.42.40.91 "
                "board=rtx3080ti-mcu\n";
    return text;
}

class Win32BusyWindow : public wine::WineTest {};

TEST_F(Win32BusyWindow, ASixBoardSyncApplyKeepsTheWindowAnsweringAndTakesNoSecondClick) {
    UseScenario(SixMcuBoards());
    const pid_t program = StartProgram();
    // Every setting away from the board's: Auto off, the five sliders, the four lists; then Sync.
    DriverRun run = Drive({"wait-main", "20000", "click", "1017", "slide", "1000", "64", "slide", "1002", "40",
                           "slide", "1004", "70", "slide", "1010", "5", "slide", "1006", "6", "select", "1049", "3",
                           "select", "1054", "4", "select", "1050", "0", "select", "1055", "0", "click", "1021",
                           "check", "1021"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    ASSERT_EQ(run.Answer("check 1021"), "1");

    MarkLog();
    // A second click on Apply 400 ms into the run.
    run = Drive({"use-main", "answer-watch", "1013", "30000", "400"}, 90000);
    ASSERT_TRUE(run.ok()) << run.Transcript();
    const std::string watch = run.Answer("answer-watch");
    int asked = 0, unanswered = 0, longest = 0, ended = 0;
    ASSERT_EQ(std::sscanf(watch.c_str(), "%d %d %d %d", &asked, &unanswered, &longest, &ended), 4) << watch;
    std::printf("six-board Sync Apply: %d questions, %d unanswered, longest silence %d ms\n", asked, unanswered,
                longest);
    EXPECT_EQ(ended, 1) << "Apply never came back: " << watch;
    EXPECT_EQ(unanswered, 0) << watch;
    EXPECT_GE(asked, 40) << "the run lasts seconds; the window was asked every 100 ms: " << watch;

    // One pass: every board once, in list order, each with what differs from its own settings.
    const std::vector<Transfer> applied = TransfersSinceMark();
    std::vector<int> order;
    for (const Transfer& t : applied)
        if (t.kind == 'W' && (order.empty() || order.back() != t.gpu)) order.push_back(t.gpu);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    const Strings selected = {"p1 5A:12 [01 00] ok",       "p1 5A:16 [01 00] ok",       "p1 5A:10 [03 01 C0 00] ok",
                              "p1 5A:18 [03 01 E8 00] ok", "p1 5A:14 [03 01 C6 00] ok", "p1 5A:13 [01 08] ok",
                              "p1 5A:17 [01 09] ok",       "p1 5A:11 [01 03] ok",       "p1 5A:15 [01 04] ok"};
    EXPECT_EQ(Writes(applied, 0), selected);
    // The others keep NVVDD under the GPU's control: their Auto is on.
    Strings others = selected;
    others.erase(others.begin() + 2);
    for (int gpu = 1; gpu < kBoards; ++gpu) EXPECT_EQ(Writes(applied, gpu), others) << "board " << gpu;

    // Usable again: the buttons take clicks.
    run = Drive({"use-main", "enabled", "1013", "enabled", "1011", "enabled", "1012", "enabled", "1056", "click",
                 "1021", "check", "1021"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    EXPECT_EQ(run.Answer("enabled 1013"), "1");
    EXPECT_EQ(run.Answer("enabled 1011"), "1");
    EXPECT_EQ(run.Answer("enabled 1012"), "1");
    EXPECT_EQ(run.Answer("enabled 1056"), "1");
    EXPECT_EQ(run.Answer("check 1021"), "0");
    EXPECT_EQ(TransfersSinceMark().size(), applied.size()) << "nothing ran after the operation";
    CloseProgram(program);
}

}  // namespace
