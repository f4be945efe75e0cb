// The NVIDIA back end on a fake sysfs, procfs and /dev, the simulator's devices behind a fake
// kernel: which GPUs it lists, what it says about them, which adapter each transfer reaches and
// in which form, what it refuses, and what it tells a user who can mend the cause.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "FakeLinux.h"
#include "gpu/GpuBus.h"
#include "gpu/GpuList.h"
#include "platform/linux/NvidiaAdapterName.h"

namespace linux_test {
namespace {

using linuxnv::LinuxNvApi;
using linuxnv::PciAddress;

constexpr std::uint8_t kScratch = 0xA0;  // 8-bit form of 0x50

// One transfer on one GPU's port, as GpuBus makes it.
struct OneTransfer {
    std::uint32_t gpu;
    std::uint8_t address;
    std::uint8_t reg;
    std::uint8_t* data;
    std::uint32_t length;
    std::uint8_t port;
};

OneTransfer Transfer(std::uint32_t gpu, std::uint8_t address, std::uint8_t reg, std::uint8_t* data,
                     std::uint32_t length, std::uint8_t port) {
    return OneTransfer{gpu, address, reg, data, length, port};
}

bool Read(const GpuList& gpus, const OneTransfer& t) {
    return GpuBus(gpus, t.gpu, t.port).Read(t.address, t.reg, t.data, t.length);
}

bool Write(const GpuList& gpus, const OneTransfer& t) {
    return GpuBus(gpus, t.gpu, t.port).Write(t.address, t.reg, t.data, t.length);
}

bool Contains(const std::vector<std::string>& reports, const std::string& part) {
    for (const std::string& r : reports)
        if (r.find(part) != std::string::npos) return true;
    return false;
}

using LinuxNvApiTest = LinuxMachine;

TEST_F(LinuxNvApiTest, ListsTheNvidiaDisplayFunctionsInPciOrderByTheirModelNames) {
    GpuList& gpus = Gpus();
    ASSERT_TRUE(gpus.IsReady());
    ASSERT_EQ(gpus.Count(), 2u);  // not the Intel GPU, not the NVIDIA audio function
    std::wstring first, second;
    EXPECT_TRUE(gpus.GetName(0, first));
    EXPECT_TRUE(gpus.GetName(1, second));
    EXPECT_EQ(first, L"NVIDIA GeForce RTX 3080 Ti");
    EXPECT_EQ(second, L"NVIDIA GeForce RTX 2080 Ti");

    // The same GPUs get the same handles in another run.
    FakeKernel otherKernel(machine);
    LinuxNvApi again(tree.Roots(), otherKernel, noPause, nullptr);
    ASSERT_EQ(again.Initialize(), nvapi::NVAPI_OK);
    nvapi::NvPhysicalGpuHandle handles[nvapi::NVAPI_MAX_PHYSICAL_GPUS] = {};
    std::uint32_t count = 0;
    ASSERT_EQ(again.EnumPhysicalGPUs(handles, &count), nvapi::NVAPI_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(handles[0], gpus.Handle(0));
    EXPECT_EQ(handles[1], gpus.Handle(1));
}

TEST(LinuxHandleTest, AscendingHandlesAreAscendingPciAddresses) {
    const char* inPciOrder[] = {"0000:00:00.0", "0000:01:00.0", "0000:01:00.1", "0000:01:1f.0", "0000:0a:00.0",
                                "0000:65:00.0", "0000:ff:1f.7", "0001:00:00.0", "10000:01:00.0"};
    std::uintptr_t previous = 0;
    for (const char* text : inPciOrder) {
        const auto address = linuxnv::ParsePciAddress(text);
        ASSERT_TRUE(address) << text;
        const auto handle = reinterpret_cast<std::uintptr_t>(LinuxNvApi::HandleOf(*address));
        EXPECT_GT(handle, previous) << text;
        previous = handle;
    }
}

TEST_F(LinuxNvApiTest, IdentitiesComeFromSysfsAndTheDriversInformationFile) {
    nvapi::NvPhysicalGpuHandle handles[nvapi::NVAPI_MAX_PHYSICAL_GPUS] = {};
    std::uint32_t count = 0;
    ASSERT_EQ(api.Initialize(), nvapi::NVAPI_OK);
    ASSERT_EQ(api.EnumPhysicalGPUs(handles, &count), nvapi::NVAPI_OK);
    std::uint32_t device = 0, subsystem = 0, revision = 0, ext = 0;
    ASSERT_EQ(api.GPU_GetPCIIdentifiers(handles[1], &device, &subsystem, &revision, &ext), nvapi::NVAPI_OK);
    EXPECT_EQ(device, 0x1E0710DEu);
    EXPECT_EQ(subsystem, 0x12FA10DEu);
    EXPECT_EQ(revision, 0xA1u);
    char text[nvapi::NVAPI_SHORT_STRING_MAX] = {};
    ASSERT_EQ(api.GPU_GetVbiosVersionString(handles[1], text), nvapi::NVAPI_OK);
    EXPECT_STREQ(text, "90.02.17.40.88");

    // The 3080 Ti's information file has no "Video BIOS:" line.
    EXPECT_NE(api.GPU_GetVbiosVersionString(handles[0], text), nvapi::NVAPI_OK);
    ASSERT_EQ(api.GPU_GetPCIIdentifiers(handles[0], &device, &subsystem, &revision, &ext), nvapi::NVAPI_OK);
    EXPECT_EQ(subsystem, 0x39981B4Cu);

    // Sources that went missing.
    fs::remove(tree.root / "proc/driver/nvidia/gpus/0000:0a:00.0/information");
    EXPECT_NE(api.GPU_GetFullName(handles[0], text), nvapi::NVAPI_OK);
    fs::remove(tree.root / "sys/bus/pci/devices/0000:65:00.0/subsystem_device");
    EXPECT_NE(api.GPU_GetPCIIdentifiers(handles[1], &device, &subsystem, &revision, &ext), nvapi::NVAPI_OK);
    // A handle that was never enumerated.
    EXPECT_EQ(api.GPU_GetFullName(reinterpret_cast<nvapi::NvPhysicalGpuHandle>(std::uintptr_t{0xA00}), text),
              nvapi::NVAPI_INVALID_ARGUMENT);
}

TEST_F(LinuxNvApiTest, BusIdsAreThePciAddressesTheDriverKnowsTheGpusBy) {
    // Two more, without I2C adapters: in another PCI domain, and one whose device and function
    // are not 0, so that each field shows in its place.
    for (const char* address : {"0001:b3:00.0", "0002:04:1f.3"}) {
        tree.AddPci({address, 0x10DE, 0x2204, 0x030000, 0x1462, 0x3881, 0xA1});
        tree.AddInformation(address, "Model: \t\t NVIDIA GeForce RTX 3090\nVideo BIOS: \t 94.02.26.08.1C\n");
    }
    const GpuList& gpus = Gpus();
    ASSERT_EQ(gpus.Count(), 4u);
    EXPECT_EQ(gpus.BusId(0), L"0000:0a:00.0");
    EXPECT_EQ(gpus.BusId(1), L"0000:65:00.0");
    EXPECT_EQ(gpus.BusId(2), L"0001:b3:00.0");
    EXPECT_EQ(gpus.BusId(3), L"0002:04:1f.3");

    // NvAPI's two halves of it, and nothing for a handle that was never listed.
    std::uint32_t bus = 0, slot = 0, domain = 0, function = 0;
    ASSERT_EQ(api.GPU_GetBusId(gpus.Handle(3), &bus), nvapi::NVAPI_OK);
    ASSERT_EQ(api.GPU_GetBusSlotId(gpus.Handle(3), &slot), nvapi::NVAPI_OK);
    EXPECT_EQ(bus, 0x04u);
    EXPECT_EQ(slot, 0x1Fu);
    const auto unknown = reinterpret_cast<nvapi::NvPhysicalGpuHandle>(std::uintptr_t{0xA00});
    EXPECT_EQ(api.GPU_GetBusId(unknown, &bus), nvapi::NVAPI_INVALID_ARGUMENT);
    EXPECT_EQ(api.GPU_GetBusSlotId(unknown, &slot), nvapi::NVAPI_INVALID_ARGUMENT);
    EXPECT_EQ(api.PciDomainAndFunction(unknown, &domain, &function), nvapi::NVAPI_INVALID_ARGUMENT);
}

TEST(LinuxEnumerationTest, AtMostSixtyFourGpusTheFirstInPciOrder) {
    FakeTree tree;
    tree.LoadDriver();
    for (int bus = 70; bus > 0; --bus) {
        char address[16];
        std::snprintf(address, sizeof address, "0000:%02x:00.0", bus);
        tree.AddPci({address, 0x10DE, 0x2208, 0x030000, 0x1B4C, 0x3998, 0xA1});
    }
    linuxnv::KernelI2cDev kernel;
    LinuxNvApi api(tree.Roots(), kernel, noPause, nullptr);
    nvapi::NvPhysicalGpuHandle handles[nvapi::NVAPI_MAX_PHYSICAL_GPUS] = {};
    std::uint32_t count = 0;
    ASSERT_EQ(api.Initialize(), nvapi::NVAPI_OK);
    ASSERT_EQ(api.EnumPhysicalGPUs(handles, &count), nvapi::NVAPI_OK);
    ASSERT_EQ(count, 64u);
    EXPECT_EQ(handles[0], LinuxNvApi::HandleOf({0, 1, 0, 0}));
    EXPECT_EQ(handles[63], LinuxNvApi::HandleOf({0, 64, 0, 0}));
}

TEST(LinuxEnumerationTest, ADriverWithoutNvidiaDisplayDevicesListsNoneAndSaysSo) {
    FakeTree tree;
    tree.LoadDriver();
    tree.AddPci({"0000:00:02.0", 0x8086, 0x9BC5, 0x030000, 0x1028, 0x09E0, 0x05});
    tree.AddPci({"0000:0a:00.1", 0x10DE, 0x1AEF, 0x040300, 0x1B4C, 0x3998, 0xA1});
    std::vector<std::string> reports;
    linuxnv::KernelI2cDev kernel;
    LinuxNvApi api(tree.Roots(), kernel, noPause, [&](const std::string& cause) { reports.push_back(cause); });
    nvapi::NvPhysicalGpuHandle handles[nvapi::NVAPI_MAX_PHYSICAL_GPUS] = {};
    std::uint32_t count = 0;
    ASSERT_EQ(api.Initialize(), nvapi::NVAPI_OK);
    EXPECT_NE(api.EnumPhysicalGPUs(handles, &count), nvapi::NVAPI_OK);
    EXPECT_TRUE(Contains(reports, "no NVIDIA display device"));
}

// One GPU, one adapter: does a transfer on the port reach the adapter?
struct NameCase {
    const char* gpu;
    const char* adapterName;
    std::uint8_t port;
    bool reached;
};

void PrintTo(const NameCase& c, std::ostream* out) {
    *out << c.gpu << " port " << unsigned(c.port) << " \"";
    for (const char* p = c.adapterName; *p; ++p) *out << (*p == '\n' ? std::string("\\n") : std::string(1, *p));
    *out << "\"";
}

class AdapterNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(AdapterNameTest, TheTransferReachesTheAdapterNamedForTheGpuAndPortOnly) {
    const NameCase& c = GetParam();
    FakeTree tree;
    tree.LoadDriver();
    tree.AddPci({c.gpu, 0x10DE, 0x2208, 0x030000, 0x1B4C, 0x3998, 0xA1});
    tree.AddInformation(c.gpu, "Model: \t\t NVIDIA GeForce RTX 3080 Ti\n");
    sim::SimMachine machine;
    machine.AddGpu(1, "gpu");
    machine.Gpus()[0].Attach(c.port, kScratch, std::make_shared<app_test::ScratchDevice>());
    machine.Initialize();
    FakeKernel kernel(machine);
    const std::string device = tree.AddAdapter(3, c.adapterName);
    kernel.Serve(device, {1, c.port, true, 0});
    LinuxNvApi api(tree.Roots(), kernel, noPause, nullptr);

    std::uint8_t byte = 0x5C;
    const bool written = Write(GpuList(api), Transfer(0, kScratch, 0x10, &byte, 1, c.port));

    EXPECT_EQ(written, c.reached);
    EXPECT_EQ(kernel.opened, c.reached ? std::vector<std::string>{device} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Names, AdapterNameTest,
    ::testing::Values(
        NameCase{"0000:0a:00.0", "NVIDIA i2c adapter 1 at a:00.0", 1, true},
        NameCase{"0000:0a:00.0", "NVIDIA i2c adapter 1 at 0a:00.0", 1, true},
        NameCase{"0000:0a:00.0", "NVIDIA i2c adapter 1 at 10:00.0", 1, false},   // 10 is hexadecimal
        NameCase{"0000:0a:00.0", "NVIDIA i2c adapter 2 at a:00.0", 1, false},
        NameCase{"0000:0a:00.0", "NVIDIA i2c adapter 2 at a:00.0", 2, true},
        NameCase{"0000:65:00.0", "NVIDIA i2c adapter 1 at 65:00.0", 1, true},
        NameCase{"0000:65:00.0", "NVIDIA i2c adapter 1 at 101:00.0", 1, false},  // 0x65 in decimal
        NameCase{"0000:c8:00.0", "NVIDIA i2c adapter 1 at c8:00.0", 1, true},
        NameCase{"0000:c8:00.0", "NVIDIA i2c adapter 1 at C8:00.0", 1, true},
        NameCase{"0000:c8:00.0", "NVIDIA i2c adapter 1 at 200:00.0", 1, false},
        NameCase{"0000:01:00.1", "NVIDIA i2c adapter 1 at 1:00.1", 1, true},
        NameCase{"0000:01:00.1", "NVIDIA i2c adapter 1 at 1:00.0", 1, false},
        NameCase{"0000:01:00.0", "NVIDIA i2c adapter 1 at 1:00.1", 1, false},
        NameCase{"0000:01:02.0", "NVIDIA i2c adapter 1 at 1:02.0", 1, true},
        NameCase{"0000:01:02.0", "NVIDIA i2c adapter 1 at 1:00.0", 1, false},
        NameCase{"0000:01:00.0", "NVIDIA i2c adapter 12 at 1:00.0", 1, false},
        NameCase{"0000:01:00.0", "NVIDIA i2c adapter 12 at 1:00.0", 12, true},
        NameCase{"0000:01:00.0", "NVIDIA i2c adapter 1 at 1:00.0 ", 1, false},
        NameCase{"0000:01:00.0", "NVIDIA i2c adapter 1 at 1:00.0.0", 1, false},
        NameCase{"0000:01:00.0", "NVIDIA i2c adapter 1 at 1:00.0 (DDC)", 1, false},
        NameCase{"0000:01:00.0", "NVIDIA i2c adapter 1 at 0000:01:00.0", 1, false},
        NameCase{"0000:01:00.0", "NVIDIA i2c adapter  1 at 1:00.0", 1, false},
        NameCase{"0000:01:00.0", "NVIDIA i2c adapter 1 at 1:00", 1, false},
        NameCase{"0000:01:00.0", "NVIDIA i2c adapter 257 at 1:00.0", 1, false},
        NameCase{"0000:01:00.0", "nvidia i2c adapter 1 at 1:00.0", 1, false},
        NameCase{"0000:01:00.0", "NVIDIA I2C adapter 1 at 1:00.0", 1, false},
        NameCase{"0000:01:00.0", "NVIDIA i2c adapter 1 at 1:00.0\n", 1, false},  // a second line end
        NameCase{"0000:01:00.0", "i915 gmbus dpc", 1, false}));

TEST_F(LinuxNvApiTest, EachTransferHasTheFormItsPortOffers) {
    // Port 2 of the 3080 Ti offers SMBus; port 2 of the 2080 Ti plain I2C alone.
    machine.Gpus()[1].Attach(2, kScratch, std::make_shared<app_test::ScratchDevice>());
    GpuList& gpus = Gpus();
    std::uint8_t three[3] = {0x11, 0x22, 0x33};
    std::uint8_t two[2] = {};
    for (std::uint32_t gpu : {0u, 1u}) {
        ASSERT_TRUE(Write(gpus, Transfer(gpu, kScratch, 0x21, three, 3, 2)));
        ASSERT_TRUE(Read(gpus, Transfer(gpu, kScratch, 0x21, two, 2, 2)));
        EXPECT_EQ(two[0], 0x11);
        EXPECT_EQ(two[1], 0x22);
        ASSERT_TRUE(Write(gpus, Transfer(gpu, kScratch, 0x05, nullptr, 0, 2)));
    }
    const std::vector<BusOp> expected = {
        {rtx3080Port2, "smbus block write", 0x50, 0x21, {0x11, 0x22, 0x33}, 1},
        {rtx3080Port2, "smbus block read", 0x50, 0x21, {0x11, 0x22}, 1},
        {rtx3080Port2, "smbus byte write", 0x50, 0x05, {}, 1},
        {rtx2080Port2, "rdwr write", 0x50, 0x21, {0x11, 0x22, 0x33}, 1},
        {rtx2080Port2, "rdwr read", 0x50, 0x21, {0x11, 0x22}, 2},
        {rtx2080Port2, "rdwr write", 0x50, 0x05, {}, 1},
    };
    EXPECT_EQ(kernel.ops, expected);
}

TEST_F(LinuxNvApiTest, APortWithoutAdapterOrPortZeroOpensNothing) {
    GpuList& gpus = Gpus();
    std::uint8_t byte = 0;
    EXPECT_FALSE(Read(gpus, Transfer(0, kScratch, 0x10, &byte, 1, 4)));
    EXPECT_TRUE(Contains(reports, "no I2C adapter named \"NVIDIA i2c adapter 4 at a:00.0\""));
    // The driver's choice of port has no counterpart here.
    EXPECT_FALSE(Read(gpus, Transfer(0, kScratch, 0x10, &byte, 1, 0)));
    EXPECT_FALSE(Write(gpus, Transfer(0, kScratch, 0x10, &byte, 1, 0)));
    EXPECT_TRUE(kernel.opened.empty());
}

TEST_F(LinuxNvApiTest, AStructureTheDriverWouldRefuseIsRefusedBeforeAnythingIsOpened) {
    ASSERT_EQ(api.Initialize(), nvapi::NVAPI_OK);
    nvapi::NvPhysicalGpuHandle handles[nvapi::NVAPI_MAX_PHYSICAL_GPUS] = {};
    std::uint32_t count = 0;
    ASSERT_EQ(api.EnumPhysicalGPUs(handles, &count), nvapi::NVAPI_OK);
    std::uint8_t reg = 0x10;
    std::uint8_t data[40] = {};
    const auto Valid = [&] {
        nvapi::NV_I2C_INFO_V3 info{};
        info.version = nvapi::NV_I2C_INFO_VER3;
        info.i2cDevAddress = kScratch;
        info.pbI2cRegAddress = &reg;
        info.regAddrSize = 1;
        info.pbData = data;
        info.cbSize = 2;
        info.i2cSpeed = nvapi::NVAPI_I2C_SPEED_DEPRECATED;
        info.portId = 2;
        info.bIsPortIdSet = 1;
        return info;
    };
    std::uint32_t unknown = 0;
    nvapi::NV_I2C_INFO_V3 info = Valid();
    ASSERT_EQ(api.I2CReadEx(handles[0], &info, &unknown), nvapi::NVAPI_OK);
    ASSERT_EQ(kernel.opened.size(), 1u);

    using Change = void (*)(nvapi::NV_I2C_INFO_V3&);
    const Change changes[] = {
        [](nvapi::NV_I2C_INFO_V3& i) { i.version = (2u << 16) | sizeof(nvapi::NV_I2C_INFO_V3); },
        [](nvapi::NV_I2C_INFO_V3& i) { i.version = (3u << 16) | 40u; },
        [](nvapi::NV_I2C_INFO_V3& i) { i.regAddrSize = 2; },
        [](nvapi::NV_I2C_INFO_V3& i) { i.regAddrSize = 0; },
        [](nvapi::NV_I2C_INFO_V3& i) { i.pbI2cRegAddress = nullptr; },
        [](nvapi::NV_I2C_INFO_V3& i) { i.pbData = nullptr; },
        [](nvapi::NV_I2C_INFO_V3& i) { i.bIsDDCPort = 1; },
        [](nvapi::NV_I2C_INFO_V3& i) { i.cbSize = 33; },
        [](nvapi::NV_I2C_INFO_V3& i) { i.cbSize = 0; },  // a read of nothing
        [](nvapi::NV_I2C_INFO_V3& i) { i.bIsPortIdSet = 0; },
    };
    for (std::size_t n = 0; n < std::size(changes); ++n) {
        info = Valid();
        changes[n](info);
        EXPECT_EQ(api.I2CReadEx(handles[0], &info, &unknown), nvapi::NVAPI_INVALID_ARGUMENT) << "change " << n;
    }
    info = Valid();
    EXPECT_EQ(api.I2CReadEx(nullptr, &info, &unknown), nvapi::NVAPI_INVALID_ARGUMENT);
    EXPECT_EQ(api.I2CWriteEx(handles[0], nullptr, &unknown), nvapi::NVAPI_INVALID_ARGUMENT);
    EXPECT_EQ(kernel.opened.size(), 1u) << "a refused structure opened a device";
}

TEST_F(LinuxNvApiTest, GpusThatShareBusDeviceAndFunctionInTwoDomainsAreLeftAlone) {
    tree.AddPci({"0001:0a:00.0", 0x10DE, 0x2208, 0x030000, 0x1B4C, 0x3998, 0xA1});
    GpuList& gpus = Gpus();
    ASSERT_EQ(gpus.Count(), 3u);
    std::uint8_t byte = 0;
    // In PCI order: 0000:0a:00.0, 0000:65:00.0, 0001:0a:00.0.
    EXPECT_FALSE(Read(gpus, Transfer(0, kScratch, 0x10, &byte, 1, 2)));
    EXPECT_FALSE(Read(gpus, Transfer(2, kScratch, 0x10, &byte, 1, 2)));
    EXPECT_TRUE(Read(gpus, Transfer(1, 0x40, 0x21, &byte, 1, 1))) << "the 2080 Ti at 65:00.0 stays usable";
    EXPECT_EQ(Opened(), std::set<std::string>{rtx2080Port1});
    EXPECT_TRUE(Contains(reports, "a:00.0 in different PCI domains"));
}

TEST_F(LinuxNvApiTest, TwoAdaptersWithTheSameNameAreNeitherUsed) {
    tree.AddAdapter(11, "NVIDIA i2c adapter 2 at a:00.0");
    std::uint8_t byte = 0;
    EXPECT_FALSE(Read(Gpus(), Transfer(0, kScratch, 0x10, &byte, 1, 2)));
    EXPECT_TRUE(kernel.opened.empty());
}

// What a user can mend: reported once, with the fix, and the transfer fails.
TEST_F(LinuxNvApiTest, WithoutTheDriverInitializeFailsAndSaysWhy) {
    fs::remove_all(tree.root / "proc/driver");
    EXPECT_NE(api.Initialize(), nvapi::NVAPI_OK);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find((tree.root / "proc/driver/nvidia").string()), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find("--simulate"), std::string::npos) << reports[0];
    EXPECT_FALSE(Gpus().IsReady());
}

TEST_F(LinuxNvApiTest, WithoutI2cDevTheFixIsToLoadTheModule) {
    tree.RemoveDeviceNodes();
    GpuList& gpus = Gpus();
    std::uint8_t byte = 0;
    EXPECT_FALSE(Read(gpus, Transfer(0, kScratch, 0x10, &byte, 1, 2)));
    EXPECT_FALSE(Read(gpus, Transfer(1, 0x40, 0x21, &byte, 1, 1)));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("i2c-dev module is not loaded"), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find("sudo modprobe i2c-dev"), std::string::npos) << reports[0];
    EXPECT_TRUE(kernel.opened.empty());
}

TEST_F(LinuxNvApiTest, PermissionDeniedNamesTheGroupToJoin) {
    kernel.FailOpen(rtx3080Port2, EACCES);
    GpuList& gpus = Gpus();
    std::uint8_t byte = 0;
    EXPECT_FALSE(Read(gpus, Transfer(0, kScratch, 0x10, &byte, 1, 2)));
    EXPECT_FALSE(Read(gpus, Transfer(0, kScratch, 0x10, &byte, 1, 2)));
    ASSERT_EQ(reports.size(), 1u) << "said once";
    for (const char* part : {"permission denied on ", "NVIDIA i2c adapter 2 at a:00.0", "halvorn-i2c",
                             "sudo usermod -aG halvorn-i2c", "scripts/install-linux-access.sh"})
        EXPECT_NE(reports[0].find(part), std::string::npos) << part << " in " << reports[0];
    EXPECT_NE(reports[0].find(rtx3080Port2), std::string::npos) << reports[0];
}

TEST_F(LinuxNvApiTest, EachAdapterIsOpenedOnceAndHeldUntilTheRunEnds) {
    GpuList& gpus = Gpus();
    std::uint8_t byte = 0x5C;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(Write(gpus, Transfer(0, kScratch, 0x10, &byte, 1, 2)));
        ASSERT_TRUE(Read(gpus, Transfer(0, kScratch, 0x10, &byte, 1, 2)));
        ASSERT_TRUE(Read(gpus, Transfer(1, 0x40, 0x21, &byte, 1, 1)));
    }
    std::uint8_t id[6] = {};
    ASSERT_TRUE(Read(gpus, Transfer(0, 0x5A, 0xB1, id, 6, 1)));
    EXPECT_EQ(kernel.opened, (std::vector<std::string>{rtx3080Port2, rtx2080Port1, rtx3080Port1}));
    EXPECT_EQ(kernel.requests[I2C_FUNCS], 3);
    // The address is set again only where it changes: once on each SMBus port used.
    EXPECT_EQ(kernel.requests[I2C_SLAVE], 2);
    EXPECT_EQ(kernel.openNow(), 3u);
    EXPECT_EQ(kernel.closes, 0);

    ReleaseGpus();
    held.reset();
    EXPECT_EQ(kernel.closes, 3);
}

TEST_F(LinuxNvApiTest, AnAdapterThatCannotBeOpenedIsTriedOncePerRun) {
    kernel.FailOpen(rtx3080Port2, ENXIO);
    GpuList& gpus = Gpus();
    std::uint8_t byte = 0;
    for (int n = 0; n < 4; ++n) EXPECT_FALSE(Read(gpus, Transfer(0, kScratch, 0x10, &byte, 1, 2)));
    EXPECT_EQ(kernel.opened, std::vector<std::string>{rtx3080Port2});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("cannot open " + rtx3080Port2), std::string::npos) << reports[0];
}

// A driver of the 515/520 series: SMBus without I2C-block on the SMBus-capable port.
TEST_F(LinuxNvApiTest, OlderDriversCarryOneAndTwoBytesAsRegisterTransfers) {
    kernel.Serve(rtx3080Port2, {kSim3080Ti, 2, true, 0, false});
    GpuList& gpus = Gpus();
    std::uint8_t one[1] = {0x5C}, two[2] = {0x11, 0x22}, three[3] = {0x33, 0x44, 0x55};
    ASSERT_TRUE(Write(gpus, Transfer(0, kScratch, 0x10, one, 1, 2)));
    ASSERT_TRUE(Write(gpus, Transfer(0, kScratch, 0x20, two, 2, 2)));
    ASSERT_TRUE(Write(gpus, Transfer(0, kScratch, 0x30, three, 3, 2)));
    ASSERT_TRUE(Write(gpus, Transfer(0, kScratch, 0x05, nullptr, 0, 2)));
    EXPECT_EQ(scratch->registers[0x10], (Bytes{0x5C}));
    EXPECT_EQ(scratch->registers[0x20], (Bytes{0x11, 0x22})) << "the word goes low byte first";
    EXPECT_EQ(scratch->registers[0x30], (Bytes{0x33, 0x44, 0x55}));
    std::uint8_t readOne[1] = {}, readTwo[2] = {}, readThree[3] = {};
    ASSERT_TRUE(Read(gpus, Transfer(0, kScratch, 0x10, readOne, 1, 2)));
    ASSERT_TRUE(Read(gpus, Transfer(0, kScratch, 0x20, readTwo, 2, 2)));
    ASSERT_TRUE(Read(gpus, Transfer(0, kScratch, 0x30, readThree, 3, 2)));
    EXPECT_EQ(Bytes(readOne, readOne + 1), (Bytes{0x5C}));
    EXPECT_EQ(Bytes(readTwo, readTwo + 2), (Bytes{0x11, 0x22}));
    EXPECT_EQ(Bytes(readThree, readThree + 3), (Bytes{0x33, 0x44, 0x55}));

    const std::vector<BusOp> expected = {
        {rtx3080Port2, "smbus byte-data write", 0x50, 0x10, {0x5C}, 1},
        {rtx3080Port2, "smbus word-data write", 0x50, 0x20, {0x11, 0x22}, 1},
        {rtx3080Port2, "rdwr write", 0x50, 0x30, {0x33, 0x44, 0x55}, 1},
        {rtx3080Port2, "smbus byte write", 0x50, 0x05, {}, 1},
        {rtx3080Port2, "smbus byte-data read", 0x50, 0x10, {0x5C}, 1},
        {rtx3080Port2, "smbus word-data read", 0x50, 0x20, {0x11, 0x22}, 1},
        // Only a read of more than two bytes is left to a register write, a stop and a read.
        {rtx3080Port2, "rdwr read", 0x50, 0x30, {0x33, 0x44, 0x55}, 2},
    };
    EXPECT_EQ(kernel.ops, expected);
}

// The fix a message names follows how the program was installed.
struct AdviceCase {
    const char* name;
    std::vector<std::string> installed;
    std::vector<std::string> named, notNamed;
    friend void PrintTo(const AdviceCase& c, std::ostream* out) { *out << c.name; }
};

class AccessAdviceTest : public LinuxMachine, public ::testing::WithParamInterface<AdviceCase> {};

TEST_P(AccessAdviceTest, PermissionDeniedAndAMissingModuleNameWhatIsInstalled) {
    const AdviceCase& c = GetParam();
    for (const std::string& file : c.installed) tree.Install(file);
    kernel.FailOpen(rtx3080Port2, EACCES);
    GpuList& gpus = Gpus();
    std::uint8_t byte = 0;
    EXPECT_FALSE(Read(gpus, Transfer(0, kScratch, 0x10, &byte, 1, 2)));
    tree.RemoveDeviceNodes();
    EXPECT_FALSE(Read(gpus, Transfer(1, 0x40, 0x21, &byte, 1, 1)));
    ASSERT_EQ(reports.size(), 2u);
    const std::string said = reports[0] + "\n" + reports[1];
    for (const std::string& part : c.named) EXPECT_NE(said.find(part), std::string::npos) << part << " in " << said;
    for (const std::string& part : c.notNamed) EXPECT_EQ(said.find(part), std::string::npos) << part << " in " << said;
}

INSTANTIATE_TEST_SUITE_P(
    Installs, AccessAdviceTest,
    ::testing::Values(
        AdviceCase{"SourceBuild",
                   {},
                   {"sudo scripts/install-linux-access.sh", "sudo usermod -aG halvorn-i2c $USER", "log in again",
                    "sudo modprobe i2c-dev"},
                   {"rules.d", "modules-load.d"}},
        AdviceCase{"Package",
                   {"/usr/lib/udev/rules.d/70-halvorn-nvidia-i2c.rules", "/usr/lib/modules-load.d/halvorn-i2c-dev.conf"},
                   {"The rule /usr/lib/udev/rules.d/70-halvorn-nvidia-i2c.rules", "sudo usermod -aG halvorn-i2c $USER",
                    "log in again", "sudo modprobe i2c-dev", "/usr/lib/modules-load.d/halvorn-i2c-dev.conf"},
                   {"install-linux-access"}},
        AdviceCase{"AfterTheScript",
                   {"/etc/udev/rules.d/70-halvorn-nvidia-i2c.rules", "/etc/modules-load.d/halvorn-i2c-dev.conf"},
                   {"The rule /etc/udev/rules.d/70-halvorn-nvidia-i2c.rules", "sudo usermod -aG halvorn-i2c $USER",
                    "/etc/modules-load.d/halvorn-i2c-dev.conf"},
                   {"install-linux-access"}}),
    [](const auto& p) { return std::string(p.param.name); });

// The 2080 Ti's GPU as the driver leaves it with no display and persistence mode off: unknown
// VBIOS, no adapters. Opening its /dev/nvidia1 starts it after startMs (never when nullopt).
struct StartCase {
    const char* name;
    std::optional<std::uint64_t> startMs;
    int openError;               // of /dev/nvidia1
    bool detected;               // the 2080 Ti reachable afterwards
    std::uint64_t waited;        // ms of the back end's wait
    std::vector<std::string> said;
    friend void PrintTo(const StartCase& c, std::ostream* out) { *out << c.name; }
};

class GpuStartTest : public LinuxMachine, public ::testing::WithParamInterface<StartCase> {
protected:
    static constexpr const char* kStarted =
        "Model: \t\t NVIDIA GeForce RTX 2080 Ti\nIRQ:   \t\t 141\nVideo BIOS: \t 90.02.17.40.88\nBus Type: \t PCIe\n"
        "Device Minor: \t 1\n";
    static constexpr const char* kNotStarted =
        "Model: \t\t NVIDIA GeForce RTX 2080 Ti\nIRQ:   \t\t 141\nVideo BIOS: \t ??.??.??.??.??\nBus Type: \t PCIe\n"
        "Device Minor: \t 1\n";

    void SetUp() override {
        LinuxMachine::SetUp();
        tree.RemoveAdapter(2);
        tree.RemoveAdapter(3);
        tree.AddInformation("0000:65:00.0", kNotStarted);
        FakeTree::Write(tree.root / "dev/nvidiactl", "");
        FakeTree::Write(tree.root / "dev/nvidia0", "");
        FakeTree::Write(tree.root / "dev/nvidia1", "");
        nvidia1 = (tree.root / "dev/nvidia1").string();
        FakeKernel::GpuDeviceFile file;
        file.delayMs = GetParam().startMs;
        file.start = [this] {
            tree.AddInformation("0000:65:00.0", kStarted);
            tree.AddAdapter(12, "NVIDIA i2c adapter 1 at 65:00.0");
            tree.AddAdapter(13, "NVIDIA i2c adapter 2 at 65:00.0");
        };
        file.stop = [this] {
            tree.RemoveAdapter(12);
            tree.RemoveAdapter(13);
            tree.AddInformation("0000:65:00.0", kNotStarted);
        };
        kernel.DriveGpu(nvidia1, file);
        kernel.Serve((tree.root / "dev/i2c-12").string(), {kSim2080Ti, 1, false, 0});
        if (GetParam().openError) kernel.FailOpen(nvidia1, GetParam().openError);
    }
    std::string nvidia1;
};

TEST_P(GpuStartTest, AGpuNotStartedIsStartedByHoldingItsDeviceFileForTheRun) {
    const StartCase& c = GetParam();
    GpuList& gpus = Gpus();
    ASSERT_EQ(gpus.Count(), 2u);
    std::uint8_t byte = 0;
    EXPECT_EQ(Read(gpus, Transfer(1, 0x40, 0x21, &byte, 1, 1)), c.detected);
    EXPECT_EQ(driverSleeper.slept, c.waited);
    // Only the 2080 Ti's GPU needed starting.
    EXPECT_EQ(std::count(kernel.opened.begin(), kernel.opened.end(), (tree.root / "dev/nvidia0").string()), 0);
    EXPECT_EQ(std::count(kernel.opened.begin(), kernel.opened.end(), nvidia1), 1);
    std::string all;
    for (const std::string& r : reports) all += r + "\n";
    for (const std::string& part : c.said) EXPECT_NE(all.find(part), std::string::npos) << part << " in " << all;
    if (c.said.empty()) {
        EXPECT_TRUE(reports.empty()) << all;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GpuStartTest,
    ::testing::Values(
        StartCase{"AtOnce", 0, 0, true, 0, {}},
        StartCase{"AfterTwoSeconds", 2000, 0, true, 2000, {}},
        StartCase{"Never", std::nullopt, 0, false, 5000,
                  {"the GPU at 0000:65:00.0 is not started", "did not register its I2C adapters within 5 s",
                   "sudo nvidia-smi -pm 1", "nvidia-persistenced"}},
        StartCase{"NoPermission", 0, EACCES, false, 0,
                  {"the GPU at 0000:65:00.0 is not started", "/dev/nvidia1 cannot be opened (Permission denied)",
                   "sudo nvidia-smi -pm 1", "nvidia-persistenced"}}),
    [](const auto& p) { return std::string(p.param.name); });

// The 2080 Ti's GPU in a state other than started, its device files there to open but starting
// nothing: what the back end waits for, opens and says, and whether it counts as not started.
struct StateCase {
    const char* name;
    const char* vbios;
    bool adapters;     // its adapters in sysfs
    bool deviceFiles;  // /dev/i2c-2 and -3 for them
    std::uint64_t waited;
    bool opened;  // /dev/nvidia1
    std::size_t notStarted, withoutDeviceFiles;
    std::vector<std::string> said, notSaid;
    friend void PrintTo(const StateCase& c, std::ostream* out) { *out << c.name; }
};

class GpuStateTest : public LinuxMachine, public ::testing::WithParamInterface<StateCase> {};

TEST_P(GpuStateTest, EachStateIsWaitedForAndToldAsItIs) {
    const StateCase& c = GetParam();
    if (!c.adapters) {
        tree.RemoveAdapter(2);
        tree.RemoveAdapter(3);
    } else if (!c.deviceFiles) {
        fs::remove(tree.root / "dev/i2c-2");
        fs::remove(tree.root / "dev/i2c-3");
    }
    tree.AddInformation("0000:65:00.0", std::string("Model: \t\t NVIDIA GeForce RTX 2080 Ti\nVideo BIOS: \t ") +
                                            c.vbios + "\nDevice Minor: \t 1\n");
    FakeTree::Write(tree.root / "dev/nvidiactl", "");
    FakeTree::Write(tree.root / "dev/nvidia1", "");
    GpuList& gpus = Gpus();
    ASSERT_EQ(gpus.Count(), 2u);
    std::uint8_t id[6] = {};
    EXPECT_TRUE(Read(gpus, Transfer(0, 0x5A, 0xB1, id, 6, 1))) << "the board beside it is reached";
    EXPECT_EQ(driverSleeper.slept, c.waited);
    EXPECT_EQ(Opened().count((tree.root / "dev/nvidia1").string()), c.opened ? 1u : 0u);
    EXPECT_EQ(api.GpusNotStarted(), c.notStarted);
    EXPECT_EQ(api.GpusWithoutDeviceFiles(), c.withoutDeviceFiles);
    std::string all;
    for (const std::string& r : reports) all += r + "\n";
    if (c.said.empty()) {
        EXPECT_TRUE(reports.empty()) << all;
    }
    for (const std::string& part : c.said) EXPECT_NE(all.find(part), std::string::npos) << part << " in " << all;
    for (const std::string& part : c.notSaid) EXPECT_EQ(all.find(part), std::string::npos) << part << " in " << all;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GpuStateTest,
    ::testing::Values(
        // A started GPU without any I2C adapter (a compute card beside the boards): no GPU to start.
        StateCase{"StartedWithoutI2c", "90.02.17.40.88", false, false, 0, false, 0, 0, {}, {}},
        // Told by the one cause seen, not a list of possible ones.
        StateCase{"NotStarted", "??.??.??.??.??", false, false, 5000, true, 1, 0,
                  {"the GPU at 0000:65:00.0 is not started: its Video BIOS reads ??.??.??.??.??, and it did not "
                   "register its I2C adapters within 5 s of being opened",
                   "sudo nvidia-smi -pm 1"},
                  {"adapters are not registered", "device files"}},
        // Started, its adapters registered, their device files not made: a wait, and no word of
        // persistence mode, which would not help.
        StateCase{"WithoutDeviceFiles", "90.02.17.40.88", true, false, 5000, false, 0, 1,
                  {"the GPU at 0000:65:00.0 is not ready: its I2C adapters have no device files in /dev, and none "
                   "appeared within 5 s",
                   "ls -l /dev/i2c-*"},
                  {"nvidia-smi", "not started"}}),
    [](const auto& p) { return std::string(p.param.name); });

// The device file is held: a GPU we started stays started while the run lasts, however long.
TEST_F(LinuxNvApiTest, AStartedGpuStaysStartedUntilTheRunEnds) {
    tree.RemoveAdapter(4);
    tree.RemoveAdapter(5);
    tree.RemoveAdapter(6);
    tree.AddInformation("0000:0a:00.0", "Model: \t\t NVIDIA GeForce RTX 3080 Ti\nVideo BIOS: \t ??.??.??.??.??\n"
                                        "Device Minor: \t 0\n");
    FakeTree::Write(tree.root / "dev/nvidiactl", "");
    FakeTree::Write(tree.root / "dev/nvidia0", "");
    FakeKernel::GpuDeviceFile file;
    file.start = [this] { tree.AddAdapter(4, "NVIDIA i2c adapter 1 at a:00.0"); };
    file.stop = [this] { tree.RemoveAdapter(4); };
    kernel.DriveGpu((tree.root / "dev/nvidia0").string(), file);
    GpuList& gpus = Gpus();
    std::uint8_t id[6] = {};
    machine.Pause(60000);
    EXPECT_TRUE(Read(gpus, Transfer(0, 0x5A, 0xB1, id, 6, 1)));
    EXPECT_TRUE(fs::exists(tree.root / "dev/i2c-4"));
    ReleaseGpus();
    held.reset();
    EXPECT_FALSE(fs::exists(tree.root / "dev/i2c-4")) << "the driver stops the GPU once the run lets it go";
}

// The real open and ioctl on device files that are no I2C adapters.
class RealKernelTest : public LinuxMachine {
protected:
    void SetUp() override {
        LinuxMachine::SetUp();
        Use(realApi);
    }
    bool ReadPort1() {
        std::uint8_t byte = 0;
        return Read(Gpus(), Transfer(0, 0x5A, 0xB1, &byte, 1, 1));
    }
    linuxnv::KernelI2cDev realKernel;
    linuxnv::LinuxNvApi realApi{tree.Roots(), realKernel, driverSleeper, [this](const std::string& cause) { reports.push_back(cause); }};
};

TEST_F(RealKernelTest, ARegularFileIsNoAdapter) {
    EXPECT_FALSE(ReadPort1());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(rtx3080Port1 + " is not an I2C adapter"), std::string::npos) << reports[0];
}

TEST_F(RealKernelTest, DevNullIsNoAdapter) {
    fs::remove(rtx3080Port1);
    fs::create_symlink("/dev/null", rtx3080Port1);
    EXPECT_FALSE(ReadPort1());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("is not an I2C adapter"), std::string::npos) << reports[0];
}

TEST_F(RealKernelTest, AFileWithoutPermissionIsReportedAsSuch) {
    fs::permissions(rtx3080Port1, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(tree.root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
    if (geteuid() != 0) {
        EXPECT_FALSE(ReadPort1());
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_NE(reports[0].find("permission denied on " + rtx3080Port1), std::string::npos) << reports[0];
        return;
    }
    // Root opens any file: the run goes to a child that has given up root for nobody.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        std::string said;
        linuxnv::KernelI2cDev kernelOfNobody;
        LinuxNvApi nobody(tree.Roots(), kernelOfNobody, noPause, [&](const std::string& cause) { said += cause; });
        nvapi::NvPhysicalGpuHandle handles[nvapi::NVAPI_MAX_PHYSICAL_GPUS] = {};
        std::uint32_t count = 0;
        std::uint8_t reg = 0xB1, byte = 0;
        nvapi::NV_I2C_INFO_V3 info{};
        info.version = nvapi::NV_I2C_INFO_VER3;
        info.i2cDevAddress = 0x5A;
        info.pbI2cRegAddress = &reg;
        info.regAddrSize = 1;
        info.pbData = &byte;
        info.cbSize = 1;
        info.portId = 1;
        info.bIsPortIdSet = 1;
        std::uint32_t unknown = 0;
        if (nobody.Initialize() != nvapi::NVAPI_OK || nobody.EnumPhysicalGPUs(handles, &count) != nvapi::NVAPI_OK) _exit(3);
        if (nobody.I2CReadEx(handles[0], &info, &unknown) == nvapi::NVAPI_OK) _exit(4);
        _exit(said.find("permission denied on " + rtx3080Port1) == 0 ? 0 : 5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: cannot drop root, 3: no GPUs, 4: the read succeeded, 5: not reported";
}

}  // namespace
}  // namespace linux_test
