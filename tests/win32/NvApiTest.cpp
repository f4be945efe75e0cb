// NvAPI as the Windows program reaches it: every function under the interface ID NVIDIA publishes
// for it, NV_I2C_INFO_V3 in the layout of the program's width, and NVIDIA's library of that width
// (nvapi.dll, nvapi64.dll) taken from the system directory and nowhere else. The IDs are written out
// here, so neither the program's loader nor the test nvapi.dll can drift from them unnoticed.
#include <filesystem>
#include <string>
#include <vector>

#include "WineTest.h"

namespace {

namespace fs = std::filesystem;
using wine::DriverRun;

// NVIDIA's interface IDs.
const std::string kInitialize = "0150E828", kEnumPhysicalGpus = "E5AC921F", kGetFullName = "CEEE8E9F",
                  kGetPciIdentifiers = "2DDFB66E", kGetVbiosVersionString = "A561FD7D", kI2cReadEx = "4D7B0709",
                  kI2cWriteEx = "283AC65A", kGetBusId = "1BE0B8E5", kGetBusSlotId = "2A0A350F";

const char* const kMark = "decoy-nvapi-loaded";

class Win32NvApi : public wine::WineTest {
protected:
    void SetUp() override {
        WineTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        library_ = Bits() == 64 ? "nvapi64.dll" : "nvapi.dll";
        probe_ = BuildFolder() + "/test-nvapi/halvorn_nvapi_probe.exe";
        listProbe_ = BuildFolder() + "/test-nvapi/halvorn_gpu_list_probe.exe";
        decoy_ = BuildFolder() + "/test-nvapi/decoy/" + library_;
        for (const std::string& helper : {probe_, listProbe_, decoy_})
            ASSERT_TRUE(fs::exists(helper)) << "missing " << helper << "; build the Windows program first";
    }

    std::string library_, probe_, listProbe_, decoy_;
};

TEST_F(Win32NvApi, TheTestLibraryHandsOutEachFunctionUnderItsPublishedId) {
    UseScenario("gpu handle=0x3100 name=\"NVIDIA GeForce RTX 2080 Ti\" subsystem=0x25891462 vbios=90.02.17.40.88 "
                "bus=0000:b3:1d.0 board=rtx2080ti\n");
    const std::vector<std::string> ids = {kInitialize,  kEnumPhysicalGpus, kGetFullName,  kGetPciIdentifiers,
                                          kGetVbiosVersionString, kI2cReadEx, kI2cWriteEx, kGetBusId,
                                          kGetBusSlotId};
    std::vector<std::string> commands = {"C:\\windows\\system32\\" + library_, "layout"};
    for (const std::string& id : ids) commands.insert(commands.end(), {"query", id});
    for (const char* other : {"00000000", "0150E829", "FFFFFFFF"}) commands.insert(commands.end(), {"query", other});
    // Each function called by its ID as NVIDIA declares it: a swapped ID shows as a wrong answer.
    commands.insert(commands.end(), {"initialize", kInitialize, "enum", kEnumPhysicalGpus, "name", kGetFullName, "0",
                                     "pci", kGetPciIdentifiers, "0", "vbios", kGetVbiosVersionString, "0", "read",
                                     kI2cReadEx, "0", "40", "E1", "2", "write", kI2cWriteEx, "0", "40", "06", "00",
                                     "bus", kGetBusId, "0", "slot", kGetBusSlotId, "0"});
    const DriverRun run = RunHelper(probe_, commands);
    ASSERT_TRUE(run.ok()) << run.Transcript();

    // Size, version word, and the offsets of both pointers, portId and bIsPortIdSet: the probe's own
    // declaration, checked here against NVIDIA's layout of each width. The reads and writes below
    // then show the test library takes a structure of that layout.
    EXPECT_EQ(run.Answer("layout"), Bits() == 64 ? "64 30040 16 32 52 56" : "44 3002C 12 20 36 40");

    for (const std::string& id : ids) EXPECT_EQ(run.Answer("query " + id), "found") << id;
    for (const char* other : {"00000000", "0150E829", "FFFFFFFF"})
        EXPECT_EQ(run.Answer(std::string("query ") + other), "null") << other;
    EXPECT_EQ(run.Answer("initialize"), "0");
    EXPECT_EQ(run.Answer("enum"), "0 1");
    EXPECT_EQ(run.Answer("name"), "0 NVIDIA GeForce RTX 2080 Ti");
    EXPECT_NE(run.Answer("pci").find(" 25891462 "), std::string::npos) << run.Answer("pci");
    EXPECT_EQ(run.Answer("pci").substr(0, 2), "0 ");
    EXPECT_EQ(run.Answer("vbios"), "0 90.02.17.40.88");
    // The regulator's voltage control register at power-on: automatic.
    EXPECT_EQ(run.Answer("read"), "0 88 C2");
    EXPECT_EQ(run.Answer("write"), "0");
    EXPECT_EQ(run.Answer("bus"), "0 B3");
    EXPECT_EQ(run.Answer("slot"), "0 1D");

    const std::vector<wine::Transfer> transfers = Transfers();
    ASSERT_EQ(transfers.size(), 2u) << run.Transcript();
    EXPECT_EQ(transfers[0].kind, 'R');
    EXPECT_EQ(transfers[0].rest.substr(0, 8), "p1 40:E1");
    EXPECT_EQ(transfers[1].kind, 'W');
    EXPECT_EQ(transfers[1].rest, "p1 40:06 [00] ok");
}

// The program's loader takes the bus and device from NvAPI; Windows names no PCI domain or
// function, so a GPU in another domain shows in domain 0000.
TEST_F(Win32NvApi, TheProgramsLoaderGivesEachGpuItsBusId) {
    UseScenario("gpu handle=0x100 bus=0000:01:00.0 board=none\n"
                "gpu handle=0x200 bus=b3:1d.0 board=none\n"
                "gpu handle=0x300 bus=0001:0a:00.0 board=none\n"
                "gpu handle=0x400 board=none\n");
    const DriverRun run = RunHelper(listProbe_, {});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    EXPECT_EQ(run.Answer("gpus"), "1 4");
    EXPECT_EQ(run.Answer("bus 0"), "0000:01:00.0");
    EXPECT_EQ(run.Answer("bus 1"), "0000:b3:1d.0");
    EXPECT_EQ(run.Answer("bus 2"), "0000:0a:00.0");
    EXPECT_EQ(run.Answer("bus 3"), "none") << "a GPU the driver gives no bus for";
}

// A driver whose nvapi_QueryInterface does not hand out GPU_GetBusId and GPU_GetBusSlotId: the
// GPUs have no bus id, and the program starts and finds its boards as before.
TEST_F(Win32NvApi, ADriverWithoutTheBusFunctionsLeavesOnlyTheBusIdsOut) {
    UseScenario("machine bus-functions=absent\n"
                "gpu handle=0x2100 name=\"NVIDIA GeForce RTX 3080 Ti\" bus=0000:21:00.0 board=rtx3080ti-mcu\n");
    const DriverRun raw = RunHelper(probe_, {"C:\\windows\\system32\\" + library_, "query", kGetBusId, "query",
                                             kGetBusSlotId, "query", kInitialize});
    ASSERT_TRUE(raw.ok()) << raw.Transcript();
    EXPECT_EQ(raw.Answer("query " + kGetBusId), "null");
    EXPECT_EQ(raw.Answer("query " + kGetBusSlotId), "null");
    EXPECT_EQ(raw.Answer("query " + kInitialize), "found");

    const DriverRun list = RunHelper(listProbe_, {});
    ASSERT_TRUE(list.ok()) << list.Transcript();
    EXPECT_EQ(list.Answer("gpus"), "1 1");
    EXPECT_EQ(list.Answer("bus 0"), "none");

    const pid_t program = StartProgram();
    const DriverRun window = Drive({"wait-main", "20000", "items", "1012"});
    ASSERT_TRUE(window.ok()) << window.Transcript();
    EXPECT_EQ(window.Answer("items 1012"), "1 NVIDIA GeForce RTX 3080 Ti");
    CloseProgram(program);
}

// NvAPI's texts are in the ANSI code page, Windows-1252 here: 0x96 is an en dash there (and a
// control character in Latin-1), 0xE9 an e with acute accent (and no character at all in UTF-8).
TEST_F(Win32NvApi, GpuNamesAreConvertedThroughTheAnsiCodePage) {
    UseScenario("gpu handle=0x2100 name=\"NVIDIA GeForce RTX 3080 Ti \x96 \xE9" "dition\" board=rtx3080ti-mcu\n");
    const pid_t program = StartProgram();
    const DriverRun run = Drive({"wait-main", "20000", "items", "1012"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    EXPECT_EQ(run.Answer("items 1012"), "1 NVIDIA GeForce RTX 3080 Ti \xE2\x80\x93 \xC3\xA9" "dition");
    CloseProgram(program);
}

TEST_F(Win32NvApi, APlantedNvApiBesideTheProgramOrInTheCurrentDirectoryIsNeverLoaded) {
    // The decoy shows where it was loaded: taken on purpose, it leaves its mark.
    const fs::path check = fs::path(Folder()) / "check";
    fs::create_directories(check);
    fs::copy_file(decoy_, check / library_);
    const DriverRun loaded = RunHelper(probe_, {WindowsPath((check / library_).string())});
    ASSERT_TRUE(loaded.ok()) << loaded.Transcript();
    ASSERT_TRUE(fs::exists(check / kMark));

    // A copy of the program with the decoy beside it, started in a folder that holds another.
    const fs::path programFolder = fs::path(Folder()) / "program";
    fs::create_directories(programFolder);
    fs::copy_file(ProgramPath(), programFolder / "HalvornController.exe");
    fs::copy_file(decoy_, programFolder / library_);
    fs::copy_file(decoy_, fs::path(Folder()) / library_);
    const std::string program = (programFolder / "HalvornController.exe").string();
    auto expectNoMark = [&] {
        EXPECT_FALSE(fs::exists(programFolder / kMark)) << "the " << library_ << " beside the program was loaded";
        EXPECT_FALSE(fs::exists(fs::path(Folder()) / kMark)) << "the " << library_ << " in the current directory was loaded";
    };

    // With the simulator in the system directory the program finds its boards there.
    {
        const pid_t running = StartProgramFrom(program);
        const DriverRun run = Drive({"wait-main", "20000", "items", "1012"});
        expectNoMark();
        ASSERT_TRUE(run.ok()) << run.Transcript();
        EXPECT_EQ(run.Answer("items 1012"),
                  "3 NVIDIA GeForce RTX 3080 Ti|NVIDIA GeForce RTX 3080 Ti|NVIDIA GeForce RTX 2080 Ti");
        CloseProgram(running);
        EXPECT_FALSE(Transfers().empty());
    }
    // Without it there is no NvAPI at all, rather than the one lying about.
    {
        InstallNvApi(false);
        const pid_t running = StartProgramFrom(program);
        const DriverRun run = Drive({"wait-message", "20000", "ok", "wait-gone", "10000"});
        expectNoMark();
        ASSERT_TRUE(run.ok()) << run.Transcript();
        EXPECT_NE(run.Answer("message").find("|NV Control initialize failed!|"), std::string::npos)
            << run.Transcript();
        EXPECT_TRUE(WaitForExit(running, 15000));
    }
}

}  // namespace
