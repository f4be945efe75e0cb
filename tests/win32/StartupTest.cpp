// Start-up of the Windows program under Wine: NvAPI missing or failing, no supported board, the
// default machine, a second start.
#include "WineTest.h"

namespace {

using wine::DriverRun;

class Win32Startup : public wine::WineTest {};

// Only the message, captioned with the program's file name and a warning icon; no window.
// Wine does not let another process draw the program's icon, so "icon" only says there is one.
void ExpectNvApiFailureMessage(const DriverRun& run) {
    const std::string message = run.Answer("message");
    EXPECT_TRUE(message == "HalvornController|NV Control initialize failed!|exclamation" ||
                message == "HalvornController|NV Control initialize failed!|icon")
        << run.Transcript();
    EXPECT_EQ(run.Answer("windows"), "0 0 1") << run.Transcript();
}

TEST_F(Win32Startup, WithoutNvApiOnlyTheFailureMessageShowsAndTheProgramEnds) {
    InstallNvApi(false);
    const pid_t program = StartProgram();
    const DriverRun run = Drive({"wait-message", "20000", "windows", "ok", "wait-gone", "10000"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    ExpectNvApiFailureMessage(run);
    EXPECT_TRUE(WaitForExit(program, 15000));
}

TEST_F(Win32Startup, NvApiFailingToInitializeIsReportedTheSameWay) {
    // A scenario the simulator cannot read fails NvAPI_Initialize and says why in its log.
    UseScenario("gpu handle=0x100 name=\"NVIDIA GeForce RTX 3080 Ti\" board=no-such-board\n");
    const pid_t program = StartProgram();
    const DriverRun run = Drive({"wait-message", "20000", "windows", "ok", "wait-gone", "10000"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    ExpectNvApiFailureMessage(run);
    EXPECT_TRUE(WaitForExit(program, 15000));

    std::vector<std::string> errors;
    EXPECT_TRUE(Transfers(&errors).empty());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("scenario.txt"), std::string::npos) << errors[0];
}

TEST_F(Win32Startup, NoSupportedBoardSaysSoWithoutEverShowingTheWindow) {
    UseScenario("gpu handle=0x100 name=\"NVIDIA GeForce RTX 3060\" subsystem=0x38971462 vbios=94.06.14.00.5A "
                "board=none\n");
    const pid_t program = StartProgram();
    const DriverRun run =
        Drive({"wait-message", "20000", "windows", "use-main", "shown", "wait-message", "1000", "ok", "wait-gone",
               "10000"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    EXPECT_EQ(run.Answer("message"), "RTX Halvorn Controller|Device not support.|none");
    // The controller window exists behind the message but has not been shown.
    EXPECT_EQ(run.Answer("windows"), "1 0 1");
    EXPECT_EQ(run.Answer("shown"), "0");
    EXPECT_TRUE(WaitForExit(program, 15000));
}

TEST_F(Win32Startup, DefaultMachineListsEverySupportedBoardInGpuOrder) {
    const pid_t program = StartProgram();
    const DriverRun run = Drive({"wait-main", "20000", "title", "items", "1012", "sel", "1012", "visible", "1020",
                                 "windows", "text", "1014", "text", "1015", "text", "1001", "check", "1017"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    EXPECT_EQ(run.Answer("title"), "RTX Halvorn Controller");
    // Handles 0x0100 (no board), 0x1100 (direct 3080 Ti), 0x2100 (MCU 3080 Ti), 0x3100 (2080 Ti).
    EXPECT_EQ(run.Answer("items 1012"),
              "3 NVIDIA GeForce RTX 3080 Ti|NVIDIA GeForce RTX 3080 Ti|NVIDIA GeForce RTX 2080 Ti");
    EXPECT_EQ(run.Answer("sel 1012"), "0");
    EXPECT_EQ(run.Answer("visible 1020"), "0");
    EXPECT_EQ(run.Answer("windows"), "1 0 0");
    // The first entry's board is in the panel: an RTX 3080 Ti at power-on, NVVDD under automatic
    // control at 175 (1.09375 V).
    EXPECT_EQ(run.Answer("text 1014"), "NVVDD");
    EXPECT_EQ(run.Answer("text 1015"), "MSVDD");
    EXPECT_EQ(run.Answer("text 1001"), "1.09375 V");
    EXPECT_EQ(run.Answer("check 1017"), "1");
    CloseProgram(program);
}

TEST_F(Win32Startup, SecondStartRaisesTheRunningWindowAndEnds) {
    const pid_t first = StartProgram();
    DriverRun run = Drive({"wait-main", "20000", "minimize", "iconic"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    ASSERT_EQ(run.Answer("iconic"), "1");
    MarkLog();

    const pid_t second = StartProgram();
    EXPECT_TRUE(WaitForExit(second, 20000)) << "the second start did not end";
    run = Drive({"use-main", "iconic", "shown", "windows"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    EXPECT_EQ(run.Answer("iconic"), "0");
    EXPECT_EQ(run.Answer("shown"), "1");
    EXPECT_EQ(run.Answer("windows"), "1 0 0");
    // The second process never reached NvAPI: no board was probed again.
    EXPECT_TRUE(TransfersSinceMark().empty());
    EXPECT_TRUE(IsRunning(first));
    CloseProgram(first);
}

TEST_F(Win32Startup, EnterAndEscCloseTheWindowAndEndTheProgram) {
    for (const char* key : {"press-enter", "press-esc"}) {
        const pid_t program = StartProgram();
        const DriverRun run = Drive({"wait-main", "20000", key, "wait-gone", "10000"});
        EXPECT_TRUE(run.ok()) << key << "\n" << run.Transcript();
        EXPECT_TRUE(WaitForExit(program, 15000)) << key;
        EXPECT_EQ(ExitStatus(program), 0) << key;
    }
}

}  // namespace
