#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "AppFixture.h"
#include "ScratchDevice.h"
#include "diag/CDlgTest.h"

namespace app_test {
namespace {

using TestButtonTest = AppFixture;

TEST_F(TestButtonTest, ControllerWindowIsDisabledWhileTheDialogRunsButItsTimerTicks) {
    machine.AddGpu(0x1000, "RTX A");
    boards[0] = {};
    std::size_t mark = 0;
    bool applyTaken = true, tickTaken = false, enabledDuring = true;
    framework.AddSession([&](HeadlessDialog& window) {
        mark = calls.size();
        window.Click(ctl::kTest);
        EXPECT_TRUE(window.IsEnabled());
        window.Click(ctl::kApply);
        window.PressEsc();
    });
    framework.AddSession([&](HeadlessDialog& dialog) {
        HeadlessDialog& owner = *dialog.Owner();
        enabledDuring = owner.IsEnabled();
        applyTaken = owner.Click(ctl::kApply);
        tickTaken = owner.Tick(6281);
        dialog.PressEsc();
    });

    Run({L"internalTest"});

    EXPECT_FALSE(enabledDuring);
    EXPECT_FALSE(applyTaken);
    EXPECT_TRUE(tickTaken);
    EXPECT_EQ(CallsSince(mark), (std::vector<std::string>{"0:OnTimerTick", "0:Apply", "0:deleted"}));
    ASSERT_EQ(framework.DialogCount(), 2u);
    EXPECT_EQ(framework.Dialog(1).TemplateId(), res::kTestDialogId);
    EXPECT_EQ(framework.Dialog(1).Owner(), &framework.Dialog(0));
    EXPECT_EQ(framework.Dialog(1).EndCode(), kIdCancel);
}

struct GpuIndexCase {
    const char* name;
    friend void PrintTo(const GpuIndexCase& c, std::ostream* os) { *os << c.name; }
    bool firstNameReadable;
    bool firstHasBoard;
};

class TestButtonGpuTest : public AppFixture, public ::testing::WithParamInterface<GpuIndexCase> {};

// The Test dialog must reach the selected board's GPU, not the GPU whose index equals the entry's
// position: with GPU 0 left out of the device list the two differ.
TEST_P(TestButtonGpuTest, DialogWorksOnTheGpuOfTheSelectedBoard) {
    auto first = std::make_shared<ScratchDevice>();
    auto second = std::make_shared<ScratchDevice>();
    first->registers[0x10] = {0x11};
    second->registers[0x10] = {0x22};
    {
        sim::SimGpu& gpu0 = machine.AddGpu(0x1000, "GTX without a board");
        gpu0.Attach(1, 0x5A, first);
        if (!GetParam().firstNameReadable) gpu0.name.reset();
    }
    machine.AddGpu(0x2000, "RTX with a board").Attach(1, 0x5A, second);
    if (GetParam().firstHasBoard) boards[0] = {};
    boards[1] = {};
    framework.AddSession([](HeadlessDialog& window) {
        window.Click(ctl::kTest);
        window.PressEsc();
    });
    framework.AddSession([](HeadlessDialog& dialog) {
        dialog.TypeText(testdlg::kAddress, L"5A");
        dialog.TypeText(testdlg::kRegister, L"10");
        dialog.Click(testdlg::kRead);
        EXPECT_EQ(dialog.Text(testdlg::kData), L"22");
        dialog.TypeText(testdlg::kData, L"77");
        dialog.Click(testdlg::kWrite);
        EXPECT_EQ(dialog.Text(testdlg::kResult), L"OK");
        dialog.PressEsc();
    });

    Run({L"internalTest"});

    ASSERT_EQ(Entries(), std::vector<std::wstring>{L"RTX with a board"});
    ASSERT_EQ(machine.Log().Entries().size(), 2u);
    for (const sim::LogEntry& entry : machine.Log().Entries()) {
        EXPECT_EQ(entry.gpu, 1u);
        EXPECT_EQ(entry.handle, 0x2000u);
    }
    EXPECT_EQ(first->registers[0x10], std::vector<std::uint8_t>{0x11});
    EXPECT_EQ(second->registers[0x10], std::vector<std::uint8_t>{0x77});
}

INSTANTIATE_TEST_SUITE_P(Cases, TestButtonGpuTest,
                         ::testing::Values(GpuIndexCase{"NoBoardOnGpu0", true, false},
                                           GpuIndexCase{"UnreadableNameOnGpu0", false, true}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace app_test
