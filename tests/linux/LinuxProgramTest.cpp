// The whole program on "Linux hardware": the real board detection, controllers, window logic and
// Internal Test dialog on the headless dialog framework, NvAPI realized by the NVIDIA back end on
// a fake tree, the simulated boards behind the fake kernel.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "profile/PrivateProfileFile.h"
#include "profile/ProfileStore.h"
#include "FakeLinux.h"
#include "app/CHalvornApp.h"
#include "app/CommandLineRun.h"
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
        profiles.Close();
        fs::current_path(previous);
        LinuxMachine::TearDown();
    }
    void Run(std::vector<std::wstring> arguments = {}) {
        sim::MachineSleeper sleeper(machine);
        CHalvornApp(framework, services, RunContext{api, sleeper, profiles}, ParseCommandLine(arguments)).InitInstance();
    }
    std::vector<BusOp> OpsSince(std::size_t mark) const {
        return std::vector<BusOp>(kernel.ops.begin() + static_cast<std::ptrdiff_t>(mark), kernel.ops.end());
    }
    sim::Mcu3080Ti& Mcu() { return *dynamic_cast<sim::Mcu3080Ti*>(machine.Gpus()[0].Find(1, 0x5A)); }

    fs::path previous;
    profile::PrivateProfileFile profileFiles;
    LazyProfileStore profiles{profileFiles};
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

class Recorded final : public CommandOutput {
public:
    void Line(const std::wstring& text) override { lines += std::string(text.begin(), text.end()) + "\n"; }
    void Error(const std::wstring& text) override { errors += std::string(text.begin(), text.end()) + "\n"; }
    std::string lines, errors;
};

// No transfer reaches the boards; the 3080 Ti is still found by its subsystem, at its regulators.
struct BlockedCase {
    const char* name;
    void (*block)(LinuxMachine& machine, FakeTree& tree, FakeKernel& kernel);
    Command command;
    int status;
    std::vector<std::string> printed, notPrinted;
    friend void PrintTo(const BlockedCase& c, std::ostream* out) { *out << c.name; }
};

class BlockedBoardsTest : public LinuxProgramTest, public ::testing::WithParamInterface<BlockedCase> {
protected:
    FakeTree& Tree() { return tree; }
    FakeKernel& Kernel() { return kernel; }
};

TEST_P(BlockedBoardsTest, NothingIsShownAsReadThatWasNotRead) {
    const BlockedCase& c = GetParam();
    c.block(*this, Tree(), Kernel());
    FakeTree::Write(tree.root / "Profile.ini",
                    "[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=200\r\nFBVDD=230\r\nMSVDD=190\r\nNVPWM=5\r\nMSPWM=6\r\nNVLL=3\r\n"
                    "MSLL=4\r\nNVOCP=0\r\nMSOCP=1\r\nSYNC=0\r\n");
    sim::MachineSleeper sleeper(machine);
    Recorded output;
    CommandLine line;
    line.command = c.command;
    EXPECT_EQ(RunCommand(line, services, RunContext{api, sleeper, profiles}, output), c.status) << output.lines << output.errors;
    std::string all = output.lines + output.errors;
    for (const std::string& cause : reports) all += cause + "\n";  // the program's causes, on stderr too
    for (const std::string& part : c.printed) EXPECT_NE(all.find(part), std::string::npos) << part << " in\n" << all;
    for (const std::string& part : c.notPrinted) EXPECT_EQ(all.find(part), std::string::npos) << part << " in\n" << all;
}

void WithoutI2cDev(LinuxMachine&, FakeTree& tree, FakeKernel&) { tree.RemoveDeviceNodes(); }
void WithoutPermission(LinuxMachine&, FakeTree&, FakeKernel& kernel) {
    for (int n : {2, 3, 4, 5}) kernel.FailOpen(kernel.DeviceOf(n), EACCES);
}
// The driver has not started the GPU and nothing can start it: no /dev/nvidia* files.
void NotStarted(LinuxMachine&, FakeTree& tree, FakeKernel&) {
    for (int n : {2, 3, 4, 5, 6}) tree.RemoveAdapter(n);
    tree.AddInformation("0000:0a:00.0", "Model: \t\t NVIDIA GeForce RTX 3080 Ti\nVideo BIOS: \t ??.??.??.??.??\n"
                                        "Device Minor: \t 0\n");
}

const std::string kDirect = "GPU 0 (0000:0a:00.0) NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti at its regulators]";

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockedBoardsTest,
    ::testing::Values(
        BlockedCase{"ListWithoutI2cDev", WithoutI2cDev, Command::List, exit_status::kBoardFailed,
                    {"Entry 0: " + kDirect + "\n  the board could not be read\n",
                     "Entry 1: GPU 1 (0000:65:00.0) NVIDIA GeForce RTX 2080 Ti [RTX 2080 Ti]\n  the board could not be read\n",
                     "i2c-dev module is not loaded"},
                    {"NVVDD"}},
        BlockedCase{"ApplyWithoutI2cDev", WithoutI2cDev, Command::ApplyProfile, exit_status::kBoardFailed,
                    {kDirect + ": tried to apply Auto off, NVVDD 1.25000 V,",
                     "; nothing read back, the board could not be read\n"},
                    {"read back Auto"}},
        BlockedCase{"ApplyWithoutPermission", WithoutPermission, Command::ApplyProfile, exit_status::kBoardFailed,
                    {"; nothing read back, the board could not be read\n", "permission denied on "},
                    {"read back Auto", ": applied "}},
        BlockedCase{"ListOfAGpuNotStarted", NotStarted, Command::List, exit_status::kBoardFailed,
                    {"Entry 0: " + kDirect + "\n  the board could not be read\n",
                     "the GPU at 0000:0a:00.0 is not started", "sudo nvidia-smi -pm 1"},
                    {"NVVDD"}}),
    [](const auto& p) { return std::string(p.param.name); });

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
        CHalvornApp(sessionFramework, services, RunContext{api, sleeper, profiles}, {}).InitInstance();
        profiles.Close();

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
