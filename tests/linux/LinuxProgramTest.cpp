// The whole program on "Linux hardware": the real board detection, controllers, window logic and
// Internal Test dialog on the headless dialog framework, NvAPI realized by the NVIDIA back end on
// a fake tree, the simulated boards behind the fake kernel.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "FakeLinux.h"
#include "app/CHalvornApp.h"
#include "diag/CDlgTest.h"
#include "headless/HeadlessDialogFramework.h"
#include "profile/ProfileStore.h"
#include "res/ControlIds.h"
#include "sim/Mcu3080Ti.h"
#include "support/BoardFixture.h"
#include "support/OnlyInstance.h"
#include "support/WritePolicy.h"

namespace linux_test {
namespace {

constexpr int kFbvddBase = 192;  // code of the RTX 3080 Ti's FBVDD slider position 0

class LinuxProgramTest : public LinuxMachine {
protected:
    void SetUp() override {
        LinuxMachine::SetUp();
        previous = fs::current_path();
        fs::current_path(tree.root);  // Profile.ini lands in the tree's folder
    }
    void TearDown() override {
        ProfileStore::Release();
        fs::current_path(previous);
        LinuxMachine::TearDown();
    }
    void Run(std::vector<std::wstring> arguments = {}) {
        sim::MachineSleeper sleeper(machine);
        CHalvornApp(framework, services, sleeper, std::move(arguments)).InitInstance();
    }
    std::vector<BusOp> OpsSince(std::size_t mark) const {
        return std::vector<BusOp>(kernel.ops.begin() + static_cast<std::ptrdiff_t>(mark), kernel.ops.end());
    }
    sim::Mcu3080Ti& Mcu() { return *dynamic_cast<sim::Mcu3080Ti*>(machine.Gpus()[0].Find(1, 0x5A)); }

    fs::path previous;
    HeadlessDialogFramework framework;
    OnlyInstance services;
};

TEST_F(LinuxProgramTest, DetectionFindsBothBoardsOnTheirOwnAdaptersOnly) {
    std::wstring labelAtStart, labelOf2080Ti;
    framework.AddSession([&](HeadlessDialog& window) {
        labelAtStart = window.Text(ctl::kRow3Label);
        window.SelectItem(ctl::kDeviceList, 1);
        labelOf2080Ti = window.Text(ctl::kRow3Label);
        window.PressEsc();
    });

    Run();

    EXPECT_EQ(framework.Dialog(0).Panel().Items(ctl::kDeviceList),
              (std::vector<std::wstring>{L"NVIDIA GeForce RTX 3080 Ti", L"NVIDIA GeForce RTX 2080 Ti"}));
    EXPECT_EQ(labelAtStart, L"MSVDD");
    EXPECT_EQ(labelOf2080Ti, L"PEXVDD");
    EXPECT_TRUE(framework.Messages().empty());
    EXPECT_EQ(Opened(), (std::set<std::string>{rtx3080Port1, rtx2080Port1}));
    EXPECT_TRUE(reports.empty()) << reports.front();

    // The MCU's identification and handshake, as register transfers of the SMBus-capable port.
    ASSERT_GE(kernel.ops.size(), 2u);
    EXPECT_EQ(kernel.ops[0].device, rtx3080Port1);
    EXPECT_EQ(kernel.ops[0].kind, "smbus block read");
    EXPECT_EQ(kernel.ops[0].address, 0x2D);
    EXPECT_EQ(kernel.ops[0].reg, 0xB1);
    EXPECT_EQ(kernel.ops[0].bytes.size(), 6u);
    EXPECT_EQ(kernel.ops[1].kind, "smbus block write");
    EXPECT_EQ(kernel.ops[1].reg, 0xB2);
    EXPECT_EQ(kernel.ops[1].bytes.size(), 5u);
    // The 2080 Ti's port offers plain I2C alone: every transfer there is message by message.
    for (const BusOp& op : kernel.ops) {
        if (op.device == rtx2080Port1) {
            EXPECT_EQ(op.kind.compare(0, 4, "rdwr"), 0) << op;
        }
    }
}

TEST_F(LinuxProgramTest, ApplyWritesTheChangedSettingToTheBoardItBelongsTo) {
    std::size_t mark = 0;
    int frequencyPosition = -1;
    framework.AddSession([&](HeadlessDialog& window) {
        window.MoveSlider(ctl::kRow2Slider, 236 - kFbvddBase);
        mark = kernel.ops.size();
        window.Click(ctl::kApply);
        const std::vector<BusOp> apply = OpsSince(mark);
        const BusOp fbvdd{rtx3080Port1, "smbus block write", 0x2D, 0x18, {0x03, 0x01, 236, 0x00}, 1};
        EXPECT_NE(std::find(apply.begin(), apply.end(), fbvdd), apply.end());
        for (const BusOp& op : apply) EXPECT_EQ(op.device, rtx3080Port1) << op;

        // The 2080 Ti's switching frequency: register 0xBD, then the register-only write of 0x05.
        window.SelectItem(ctl::kDeviceList, 1);
        frequencyPosition = window.Panel().GetPos(ctl::kRow4Slider) == 2 ? 4 : 2;
        window.MoveSlider(ctl::kRow4Slider, frequencyPosition);
        mark = kernel.ops.size();
        window.Click(ctl::kApply);
        window.PressEsc();
    });

    Run();

    EXPECT_EQ(Mcu().FbvddCode(), 236);
    const std::vector<BusOp> apply = OpsSince(mark);
    const std::uint8_t tenKhz = static_cast<std::uint8_t>((frequencyPosition + 3) * 10);
    const BusOp frequency{rtx2080Port1, "rdwr write", 0x20, 0xBD, {tenKhz, 0x00}, 1};
    const BusOp clear{rtx2080Port1, "rdwr write", 0x20, 0x05, {}, 1};
    auto at = std::find(apply.begin(), apply.end(), frequency);
    ASSERT_NE(at, apply.end());
    ASSERT_NE(at + 1, apply.end());
    EXPECT_EQ(*(at + 1), clear);
    for (const BusOp& op : apply) EXPECT_EQ(op.device, rtx2080Port1) << op;
}

TEST_F(LinuxProgramTest, SaveAndLoadPutTheProfileBackOnTheBoard) {
    framework.AddSession([&](HeadlessDialog& window) {
        window.MoveSlider(ctl::kRow2Slider, 200 - kFbvddBase);
        window.Click(ctl::kApply);
        window.Click(ctl::kSave);
        window.MoveSlider(ctl::kRow2Slider, 240 - kFbvddBase);
        window.Click(ctl::kApply);
        EXPECT_EQ(Mcu().FbvddCode(), 240);
        const std::size_t mark = kernel.ops.size();
        window.Click(ctl::kLoad);
        const std::vector<BusOp> load = OpsSince(mark);
        const BusOp fbvdd{rtx3080Port1, "smbus block write", 0x2D, 0x18, {0x03, 0x01, 200, 0x00}, 1};
        EXPECT_NE(std::find(load.begin(), load.end(), fbvdd), load.end());
        EXPECT_EQ(window.Panel().GetPos(ctl::kRow2Slider), 200 - kFbvddBase);
        window.PressEsc();
    });

    Run();

    EXPECT_TRUE(fs::exists(tree.root / "Profile.ini"));
    EXPECT_EQ(Mcu().FbvddCode(), 200);
}

TEST_F(LinuxProgramTest, TheInternalTestDialogReachesThePortTheUserNames) {
    std::size_t mark = 0;
    framework.AddSession([&](HeadlessDialog& window) {
        mark = kernel.ops.size();
        window.Click(ctl::kTest);
        window.PressEsc();
    });
    std::wstring readBack, readResult, portZeroResult;
    framework.AddSession([&](HeadlessDialog& dialog) {
        dialog.TypeText(testdlg::kPort, L"2");
        dialog.TypeText(testdlg::kAddress, L"A0");
        dialog.TypeText(testdlg::kRegister, L"10");
        dialog.TypeText(testdlg::kData, L"5C");
        dialog.Click(testdlg::kWrite);
        dialog.TypeText(testdlg::kData, L"00");
        dialog.Click(testdlg::kRead);
        readBack = dialog.Text(testdlg::kData);
        readResult = dialog.Text(testdlg::kResult);
        // Port 0, the driver's choice on Windows, names no adapter here.
        dialog.TypeText(testdlg::kPort, L"0");
        dialog.Click(testdlg::kRead);
        portZeroResult = dialog.Text(testdlg::kResult);
        dialog.PressEsc();
    });

    Run({L"internalTest"});

    EXPECT_EQ(readBack, L"5c");
    EXPECT_EQ(readResult, L"OK");
    EXPECT_EQ(portZeroResult, L"NG");
    EXPECT_EQ(OpsSince(mark), (std::vector<BusOp>{{rtx3080Port2, "smbus block write", 0x50, 0x10, {0x5C}, 1},
                                                  {rtx3080Port2, "smbus block read", 0x50, 0x10, {0x5C}, 1}}));
    EXPECT_EQ(scratch->registers[0x10], Bytes{0x5C});
}

TEST_F(LinuxProgramTest, RandomSessionsWriteOnlyWhatTheBoardsAllowAndOnlyOnTheirPorts) {
    constexpr std::uint32_t kSeeds = 60;
    std::size_t writes = 0;
    for (std::uint32_t seed = 1; seed <= kSeeds; ++seed) {
        BuildBoards();
        kernel.opened.clear();
        std::mt19937 random(seed);
        if (random() % 3 == 0) machine.FailTransferAt(1 + random() % 12);
        HeadlessDialogFramework sessionFramework;
        sessionFramework.AddSession([&](HeadlessDialog& window) {
            write_policy::PlayRandomSession(window, random, machine, tree.root, 40);
        });
        sim::MachineSleeper sleeper(machine);
        CHalvornApp(sessionFramework, services, sleeper, {}).InitInstance();
        ProfileStore::Release();

        write_policy::CheckWrites(machine, "seed " + std::to_string(seed));
        for (const std::string& device : kernel.opened) {
            EXPECT_TRUE(device == rtx3080Port1 || device == rtx2080Port1) << "seed " << seed << " opened " << device;
        }
        writes += machine.Log().Writes().size();
        if (HasFailure()) {
            ADD_FAILURE() << "first failing seed: " << seed << "\n" << machine.Log().Dump();
            return;
        }
    }
    EXPECT_GT(writes, kSeeds) << "the sessions never reached the boards";
}

}  // namespace
}  // namespace linux_test
