// The controller window and the machine lock on the boards: it holds the lock from before its
// detection's first transfer until it is destroyed, and a window started while a command-line run
// holds it waits for the run, busy, instead of putting its transfers between the run's.
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "AppFixture.h"
#include "sim/Boards.h"

namespace app_test {
namespace {

// The pauses the window takes, each with what the machine looked like at that moment; a hook may
// act at a pause, as another process would meanwhile.
class WatchingSleeper final : public Sleeper {
public:
    struct Pause {
        unsigned ms;
        bool windowBusy;
        std::size_t transfers;  // reads and writes on the machine so far
    };

    WatchingSleeper(const sim::SimMachine& machine, const HeadlessDialogFramework& framework)
        : machine_(machine), framework_(framework) {}

    void Sleep(unsigned milliseconds) override {
        const bool busy = framework_.DialogCount() != 0 && framework_.Dialog(0).IsBusy();
        pauses.push_back(Pause{milliseconds, busy, Transfers()});
        if (onPause) onPause(pauses.size());
    }
    std::size_t Transfers() const {
        std::size_t count = 0;
        for (const sim::LogEntry& entry : machine_.Log().Entries())
            if (entry.kind != sim::LogEntry::Kind::Pause) ++count;
        return count;
    }

    std::vector<Pause> pauses;
    std::function<void(std::size_t pauseNumber)> onPause;

private:
    const sim::SimMachine& machine_;
    const HeadlessDialogFramework& framework_;
};

class WindowMachineLockTest : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        sim::AttachBoard(machine.AddGpu(0x1100, "NVIDIA GeForce RTX 3080 Ti"), sim::BoardKind::Rtx3080TiMcu);
    }

    // The program with the real detection, its process services on this test's machine lock.
    bool RunWindow(BoardFactory detect = CreateBoardController) {
        return CHalvornApp(framework, window, RunContext{machine, pauses, profiles}, {}, std::move(detect))
            .InitInstance();
    }

    FakeMachineLock machineLock;
    FakeProcessServices window{machineLock};
    FakeProcessServices run{machineLock};  // a command-line run of another session
    WatchingSleeper pauses{machine, framework};
};

TEST_F(WindowMachineLockTest, HeldFromBeforeTheFirstTransferUntilTheWindowIsGone) {
    std::vector<bool> heldAtProbe;
    std::size_t transfersBeforeFirstProbe = 99;
    const BoardFactory detect = [&](std::uint32_t gpu, PanelSource& panels, const BoardServices& boardServices) {
        if (heldAtProbe.empty()) transfersBeforeFirstProbe = pauses.Transfers();
        heldAtProbe.push_back(window.HoldsMachineLock());
        return CreateBoardController(gpu, panels, boardServices);
    };
    bool runRefusedWhileOpen = false;
    framework.AddSession([&](HeadlessDialog& shown) {
        runRefusedWhileOpen = !run.AcquireMachineLock();
        shown.CloseBox();
    });

    EXPECT_FALSE(RunWindow(detect));

    EXPECT_EQ(transfersBeforeFirstProbe, 0u);
    EXPECT_EQ(heldAtProbe, std::vector<bool>{true});
    EXPECT_TRUE(runRefusedWhileOpen);
    EXPECT_TRUE(pauses.pauses.empty()) << "a free lock is taken without a wait";
    EXPECT_FALSE(window.HoldsMachineLock());
    EXPECT_TRUE(run.AcquireMachineLock()) << "the closed window gave the lock back";
}

TEST_F(WindowMachineLockTest, StartedWhileARunHoldsTheBoardsItWaitsBusyThenDetects) {
    ASSERT_TRUE(run.AcquireMachineLock());
    // The run ends at the window's third pause.
    pauses.onPause = [&](std::size_t number) {
        if (number == 3) run.ReleaseMachineLock();
    };
    std::vector<std::wstring> entries;
    bool busyWhenShown = true;
    framework.AddSession([&](HeadlessDialog& shown) {
        entries = shown.Panel().Items(ctl::kDeviceList);
        busyWhenShown = shown.IsBusy();
        shown.CloseBox();
    });

    EXPECT_FALSE(RunWindow());

    ASSERT_GE(pauses.pauses.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(pauses.pauses[i].ms, 100u) << i;
        EXPECT_TRUE(pauses.pauses[i].windowBusy) << i;
        EXPECT_EQ(pauses.pauses[i].transfers, 0u) << "no transfer while the run holds the boards, pause " << i;
    }
    EXPECT_EQ(window.machineLockAttempts, 4);
    EXPECT_GT(pauses.Transfers(), 0u);
    EXPECT_EQ(entries, std::vector<std::wstring>{L"NVIDIA GeForce RTX 3080 Ti"});
    EXPECT_FALSE(busyWhenShown);
    EXPECT_TRUE(framework.Messages().empty());
    EXPECT_TRUE(run.AcquireMachineLock());
}

TEST_F(WindowMachineLockTest, AHolderThatDoesNotLetGoIsGivenUpOnAfterThirtySeconds) {
    ASSERT_TRUE(run.AcquireMachineLock());
    framework.AddSession([](HeadlessDialog& shown) { shown.Click(ctl::kApply); });

    EXPECT_FALSE(RunWindow());

    unsigned waited = 0;
    for (const WatchingSleeper::Pause& pause : pauses.pauses) waited += pause.ms;
    EXPECT_EQ(waited, 30000u);
    EXPECT_EQ(pauses.pauses.size(), 300u);
    EXPECT_EQ(pauses.Transfers(), 0u);
    ASSERT_EQ(framework.Messages().size(), 1u);
    EXPECT_EQ(framework.Messages()[0].text,
              L"Another RTX Halvorn Controller is at work on the boards: a window in another session, or a "
              L"command-line run. Close it and try again.");
    EXPECT_EQ(framework.Messages()[0].caption, L"RTX Halvorn Controller");
    EXPECT_EQ(framework.Messages()[0].icon, MessageIcon::Warning);
    EXPECT_EQ(framework.PendingSessions(), 1u) << "the window ended before the user could act";
    EXPECT_EQ(Window().EndCode(), kIdCancel);
    EXPECT_TRUE(run.HoldsMachineLock());
}

TEST_F(WindowMachineLockTest, WithoutASupportedBoardTheLockIsFreeWhileTheMessageShows) {
    sim::SimMachine bare;
    bare.AddGpu(0x2000, "GTX without a board");
    bool runCouldTakeIt = false;
    framework.OnMessageBox([&](const HeadlessMessage& message) {
        EXPECT_EQ(message.text, L"Device not support.");
        runCouldTakeIt = run.AcquireMachineLock();
    });

    EXPECT_FALSE(CHalvornApp(framework, window, RunContext{bare, pauses, profiles}, {}).InitInstance());

    EXPECT_TRUE(runCouldTakeIt);
}

TEST_F(WindowMachineLockTest, ASecondStartThatRaisesTheFirstLeavesTheBoardsLockAlone) {
    window.heldByAnotherProcess = true;  // the single-instance lock of this session

    EXPECT_FALSE(RunWindow());

    EXPECT_EQ(window.machineLockAttempts, 0);
    EXPECT_EQ(framework.DialogCount(), 0u);
}

}  // namespace
}  // namespace app_test
