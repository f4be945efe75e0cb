#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "AppFixture.h"
#include "diag/CDlgTest.h"

namespace app_test {
namespace {

using AppStartupTest = AppFixture;

struct CommandLineCase {
    const char* name;
    friend void PrintTo(const CommandLineCase& c, std::ostream* os) { *os << c.name; }
    std::vector<std::wstring> arguments;
    bool internalTest;
};

class CommandLineTest : public AppFixture, public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(CommandLineTest, OnlyTheFirstNonSwitchArgumentSpelledExactlyShowsTheTestButton) {
    machine.AddGpu(0x1000, "RTX A");
    boards[0] = {};
    framework.AddSession([](HeadlessDialog& window) {
        // Only a shown button can be clicked; the Internal Test dialog is the next one to open.
        window.Click(ctl::kTest);
        window.PressEsc();
    });

    EXPECT_FALSE(Run(GetParam().arguments));

    EXPECT_EQ(Window().Panel().IsVisible(ctl::kTest), GetParam().internalTest);
    ASSERT_EQ(framework.DialogCount(), GetParam().internalTest ? 2u : 1u);
    if (GetParam().internalTest) {
        EXPECT_EQ(framework.Dialog(1).TemplateId(), res::kTestDialogId);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineTest,
    ::testing::Values(CommandLineCase{"NoArguments", {}, false},
                      CommandLineCase{"InternalTestAlone", {L"internalTest"}, true},
                      CommandLineCase{"OtherCase", {L"internaltest"}, false},
                      CommandLineCase{"UpperCase", {L"INTERNALTEST"}, false},
                      CommandLineCase{"TrailingCharacters", {L"internalTest2"}, false},
                      CommandLineCase{"Prefix", {L"internalTes"}, false},
                      CommandLineCase{"SlashSwitch", {L"/internalTest"}, false},
                      CommandLineCase{"HyphenSwitch", {L"-internalTest"}, false},
                      CommandLineCase{"FileNameBefore", {L"settings.txt", L"internalTest"}, false},
                      CommandLineCase{"SwitchBefore", {L"/nologo", L"internalTest"}, true},
                      CommandLineCase{"SimulateSwitchBefore", {L"--simulate", L"internalTest"}, true},
                      CommandLineCase{"AfterTheFileName", {L"internalTest", L"extra"}, true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(AppStartupTest, SecondInstanceRaisesTheFirstAndDoesNothingElse) {
    machine.AddGpu(0x1000, "RTX A");
    boards[0] = {};
    services.heldByAnotherProcess = true;

    EXPECT_FALSE(Run({L"internalTest"}));

    EXPECT_EQ(services.journal, (std::vector<std::string>{"common controls", "acquire RTX Halvorn Controller",
                                                          "raise RTX Halvorn Controller"}));
    EXPECT_EQ(machine.NvApiCalls(), 0u);
    EXPECT_EQ(framework.DialogCount(), 0u);
    EXPECT_TRUE(framework.Messages().empty());
    EXPECT_TRUE(calls.empty());
}

TEST_F(AppStartupTest, NvApiFailureReleasesEverythingBeforeItsMessage) {
    machine.AddGpu(0x1000, "RTX A");
    boards[0] = {};
    machine.FailInitialize();
    bool lockHeldDuringMessage = true;
    std::uint32_t initializeCallsDuringMessage = 0;
    framework.OnMessageBox([&](const HeadlessMessage&) {
        lockHeldDuringMessage = services.held;
        // A released GPU list is built afresh, with a new NvAPI start.
        const GpuList again(machine);
        initializeCallsDuringMessage = machine.InitializeCalls();
    });

    EXPECT_FALSE(Run());

    ASSERT_EQ(framework.Messages().size(), 1u);
    const HeadlessMessage& message = framework.Messages()[0];
    EXPECT_EQ(message.text, L"NV Control initialize failed!");
    EXPECT_EQ(message.caption, L"HalvornController");
    EXPECT_EQ(message.icon, MessageIcon::Warning);
    EXPECT_EQ(message.ownerDialogId, 0);
    EXPECT_FALSE(lockHeldDuringMessage);
    EXPECT_EQ(initializeCallsDuringMessage, 2u);
    EXPECT_EQ(services.journal,
              (std::vector<std::string>{"common controls", "acquire RTX Halvorn Controller", "release"}));
    EXPECT_EQ(framework.DialogCount(), 0u);
    EXPECT_TRUE(calls.empty());
}

TEST_F(AppStartupTest, NormalRunTearsDownWindowThenGpuListThenLock) {
    machine.AddGpu(0x1000, "RTX A");
    boards[0] = {};
    bool lockHeldWhileRunning = false;
    framework.AddSession([&](HeadlessDialog& window) {
        lockHeldWhileRunning = services.held;
        window.CloseBox();
    });

    EXPECT_FALSE(Run());

    EXPECT_TRUE(lockHeldWhileRunning);
    EXPECT_EQ(services.journal,
              (std::vector<std::string>{"common controls", "acquire RTX Halvorn Controller", "release"}));
    EXPECT_EQ(Window().EndCode(), kIdCancel);
    EXPECT_TRUE(Window().HasAppIcon());
    EXPECT_EQ(Window().Panel().Text(ctl::kRow1Value), L"gpu 0");
    // The GPU list went with the run: asking for it again starts NvAPI again.
    EXPECT_EQ(machine.InitializeCalls(), 1u);
    const GpuList again(machine);
    EXPECT_EQ(machine.InitializeCalls(), 2u);
}

TEST_F(AppStartupTest, ControllersReachThePanelOnlyWhileTheControllerWindowIsTheMainWindow) {
    machine.AddGpu(0x1000, "RTX A");
    boards[0] = {};
    CHalvornApp app = MakeApp();
    EXPECT_EQ(app.ControllerPanel(), nullptr);
    ControlPanel* duringRun = nullptr;
    framework.AddSession([&](HeadlessDialog& window) {
        duringRun = app.ControllerPanel();
        window.PressEnter();
    });

    EXPECT_FALSE(app.InitInstance());

    ASSERT_NE(duringRun, nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"probe 0", "0:Activate", "0:Activate", "0:deleted"}));
    EXPECT_EQ(app.ControllerPanel(), nullptr);
}

TEST_F(AppStartupTest, NoSupportedBoardEndsTheRunAfterTheMessage) {
    machine.AddGpu(0x1000, "GTX without a board");
    framework.AddSession([](HeadlessDialog& window) { window.Click(ctl::kApply); });

    EXPECT_FALSE(Run());

    EXPECT_EQ(framework.DialogCount(), 1u);
    EXPECT_EQ(framework.PendingSessions(), 1u);  // the user never got to act
    EXPECT_EQ(services.journal,
              (std::vector<std::string>{"common controls", "acquire RTX Halvorn Controller", "release"}));
}

}  // namespace
}  // namespace app_test
