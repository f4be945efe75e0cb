#include <gtest/gtest.h>

#include <cwchar>
#include <optional>
#include <utility>

#include <clocale>
#include <cstdint>
#include <iterator>
#include <string>

#include "gpu/GpuBus.h"
#include "gpu/PciBusIdText.h"
#include "support/SimFixture.h"

namespace {

using GpuListTest = SimFixture;

TEST_F(GpuListTest, CreatesOnceAndSortsHandlesAscending) {
    machine.AddGpu(0x3000, "B");
    machine.AddGpu(0x1000, "A");
    machine.AddGpu(0x2000, "C");

    GpuList* first = &Gpus();
    GpuList* second = &Gpus();
    EXPECT_EQ(first, second);
    EXPECT_EQ(machine.InitializeCalls(), 1u);
    EXPECT_EQ(machine.EnumerateCalls(), 1u);
    ASSERT_TRUE(first->IsReady());
    ASSERT_EQ(first->Count(), 3u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first->Handle(0)), 0x1000u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first->Handle(1)), 0x2000u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first->Handle(2)), 0x3000u);

    std::wstring name;
    ASSERT_TRUE(first->GetName(0, name));
    EXPECT_EQ(name, L"A");
}

TEST_F(GpuListTest, HandlesSortAsUnsignedNumbers) {
    const std::uintptr_t topBit = std::uintptr_t{1} << (sizeof(std::uintptr_t) * 8 - 1);
    machine.AddGpu(topBit | 0x100, "high");
    machine.AddGpu(0x2000, "B");
    machine.AddGpu(0x1000, "A");

    ASSERT_EQ(Gpus().Count(), 3u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(Gpus().Handle(0)), 0x1000u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(Gpus().Handle(1)), 0x2000u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(Gpus().Handle(2)), topBit | 0x100);
    std::wstring name;
    ASSERT_TRUE(Gpus().GetName(2, name));
    EXPECT_EQ(name, L"high");
}

// Names arrive as multibyte text in the process's locale, as the program sets it from the
// environment; a UTF-8 locale stands in for a Windows ANSI code page here.
class GpuNameTest : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        previous_ = std::setlocale(LC_CTYPE, nullptr);
        ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    }
    void TearDown() override {
        std::setlocale(LC_CTYPE, previous_.c_str());
        SimFixture::TearDown();
    }

private:
    std::string previous_;
};

TEST_F(GpuNameTest, NonAsciiNamesAreConvertedThroughTheLocale) {
    struct Case {
        const char* bytes;
        const wchar_t* name;
    };
    const Case cases[] = {
        {"NVIDIA GeForce RTX 3080 Ti \xC3\xA9" "dition", L"NVIDIA GeForce RTX 3080 Ti \u00E9dition"},
        {"RTX \xE2\x80\x93 \xE6\x97\xA5\xE6\x9C\xAC", L"RTX \u2013 \u65E5\u672C"},
        // Not text in this encoding: the name converts to nothing, which is still a name.
        {"RTX \xFF\xFE", L""},
    };
    std::uintptr_t handle = 0x1000;
    for (const Case& c : cases) machine.AddGpu(handle += 0x100, c.bytes);
    for (std::uint32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(cases[i].bytes);
        std::wstring name = L"before";
        EXPECT_TRUE(Gpus().GetName(i, name));
        EXPECT_EQ(name, cases[i].name);
    }
}

TEST_F(GpuListTest, FailedInitializeLeavesAnEmptyListThatIsNeverRetried) {
    machine.AddGpu(0x1000, "A");
    machine.FailInitialize();

    GpuList& gpus = Gpus();
    EXPECT_FALSE(gpus.IsReady());
    EXPECT_EQ(gpus.Count(), 0u);
    EXPECT_EQ(machine.EnumerateCalls(), 0u);

    machine.FailInitialize(false);
    EXPECT_EQ(&Gpus(), &gpus);
    EXPECT_EQ(machine.InitializeCalls(), 1u);

    std::uint8_t byte = 0;
    std::wstring name = L"unchanged";
    EXPECT_FALSE(gpus.GetName(0, name));
    EXPECT_EQ(name, L"unchanged");
    EXPECT_FALSE(GpuBus(gpus, 0, 1).Read(0x5A, 0x19, &byte, 1));
    EXPECT_EQ(machine.Log().Entries().size(), 0u);
}

TEST_F(GpuListTest, ReleaseThenInstanceEnumeratesAgain) {
    machine.AddGpu(0x1000, "A");
    Gpus();
    ReleaseGpus();
    ReleaseGpus();  // a second release is harmless
    Gpus();
    EXPECT_EQ(machine.InitializeCalls(), 2u);
}

struct EmptyCase {
    const char* what;
    bool failEnumeration;
};

class EmptyEnumerationTest : public SimFixture, public ::testing::WithParamInterface<EmptyCase> {};

TEST_P(EmptyEnumerationTest, IsReadyButEmptyAndEveryAccessFails) {
    if (GetParam().failEnumeration) {
        machine.AddGpu(0x1000, "A");
        machine.FailEnumeration();
    }
    GpuList& gpus = Gpus();
    EXPECT_TRUE(gpus.IsReady());
    EXPECT_EQ(gpus.Count(), 0u);
    std::wstring name;
    std::uint8_t byte = 0;
    EXPECT_FALSE(gpus.GetName(0, name));
    EXPECT_FALSE(GpuBus(gpus, 0, 1).Read(0x5A, 0x19, &byte, 1));
    EXPECT_FALSE(GpuBus(gpus, 0, 1).Write(0x5A, 0x19, &byte, 1));
    EXPECT_TRUE(machine.Log().Entries().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, EmptyEnumerationTest,
                         ::testing::Values(EmptyCase{"no GPU", false}, EmptyCase{"enumeration fails", true}),
                         [](const auto& p) { return p.param.failEnumeration ? "Fails" : "NoGpu"; });

TEST_F(GpuListTest, NameThatCannotBeReadLeavesTheStringAlone) {
    machine.AddGpu(0x1000, "A").name.reset();
    machine.AddGpu(0x2000, "");
    std::wstring name = L"kept";
    EXPECT_FALSE(Gpus().GetName(0, name));
    EXPECT_EQ(name, L"kept");
    EXPECT_TRUE(Gpus().GetName(1, name));
    EXPECT_EQ(name, L"");
    EXPECT_FALSE(Gpus().GetName(2, name));
}

TEST_F(GpuListTest, TransferFillsTheVersion3StructureAsNvApiExpects) {
    struct Case {
        std::uint8_t port;
        std::uint8_t expectedPortId;
        std::uint32_t expectedPortSet;
    };
    machine.AddGpu(0x1000, "A");
    for (const Case& c : {Case{0, 0, 0}, Case{1, 1, 1}, Case{7, 7, 1}}) {
        std::uint8_t data[2] = {0x12, 0x34};
        GpuBus(Gpus(), 0, c.port).Write(0x5A, 0xB2, data, 2);
        const nvapi::NV_I2C_INFO_V3& info = machine.LastInfo();
        EXPECT_EQ(info.version, nvapi::NV_I2C_INFO_VER3);
        EXPECT_EQ(info.version >> 16, 3u);
        EXPECT_EQ(info.version & 0xFFFFu, sizeof(nvapi::NV_I2C_INFO_V3));
        EXPECT_EQ(info.displayMask, 0u);
        EXPECT_EQ(info.bIsDDCPort, 0u);
        EXPECT_EQ(info.i2cDevAddress, 0x5A);
        EXPECT_EQ(info.regAddrSize, 1u);
        EXPECT_EQ(info.pbData, data);
        EXPECT_EQ(info.cbSize, 2u);
        EXPECT_EQ(info.i2cSpeed, 0xFFFFu);
        EXPECT_EQ(info.i2cSpeedKhz, 0u);
        EXPECT_EQ(info.portId, c.expectedPortId);
        EXPECT_EQ(info.bIsPortIdSet, c.expectedPortSet);
        ASSERT_FALSE(machine.Log().Entries().empty());
        EXPECT_EQ(machine.Log().Entries().back().reg, 0xB2);
    }
}

TEST_F(GpuListTest, BusIdIsWrittenAsLspciWritesIt) {
    struct Case {
        sim::PciBusId where;
        const wchar_t* busId;
    };
    const Case cases[] = {
        {{0, 0x01, 0x00, 0}, L"0000:01:00.0"},
        {{0, 0x0a, 0x00, 0}, L"0000:0a:00.0"},          // hexadecimal, lower case, two digits
        {{0x0001, 0xb3, 0x1f, 7}, L"0001:b3:1f.7"},     // each field in its place
        {{0, 0xff, 0x02, 1}, L"0000:ff:02.1"},
        {{0x10000, 0x01, 0x00, 0}, L"10000:01:00.0"},   // a domain past four digits keeps them all
    };
    std::uintptr_t handle = 0x1000;
    for (const Case& c : cases) machine.AddGpu(handle += 0x100, "GPU").busId = c.where;
    ASSERT_EQ(Gpus().Count(), std::size(cases));
    for (std::uint32_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(Gpus().BusId(i), cases[i].busId) << i;
}

TEST_F(GpuListTest, AGpuWhoseBusCannotBeHadHasNoBusId) {
    machine.AddGpu(0x1000, "no bus id");
    machine.AddGpu(0x2000, "bus past PCI's").busId = sim::PciBusId{0, 0x100, 0, 0};
    machine.AddGpu(0x3000, "device past PCI's").busId = sim::PciBusId{0, 0x01, 0x20, 0};
    machine.AddGpu(0x4000, "function past PCI's").busId = sim::PciBusId{0, 0x01, 0x00, 8};
    machine.AddGpu(0x5000, "good").busId = sim::PciBusId{0, 0x01, 0x00, 0};
    for (std::uint32_t i = 0; i < 4; ++i) EXPECT_EQ(Gpus().BusId(i), L"") << i;
    EXPECT_EQ(Gpus().BusId(4), L"0000:01:00.0");
    EXPECT_EQ(Gpus().BusId(5), L"") << "past the list";

    // A driver without GPU_GetBusId and GPU_GetBusSlotId.
    machine.SetBusIdFunctions(false);
    EXPECT_EQ(Gpus().BusId(4), L"");
    std::wstring name;
    EXPECT_TRUE(Gpus().GetName(4, name)) << "the GPU is otherwise whole";

    // Nor from a list NvAPI could not start.
    machine.SetBusIdFunctions(true);
    ReleaseGpus();
    machine.FailInitialize();
    EXPECT_EQ(Gpus().BusId(0), L"");
}

// NvAPI as Windows offers it: the simulator's bus and device, and no word on domain or function.
class WithoutDomainAndFunction final : public nvapi::NvApi {
public:
    WithoutDomainAndFunction(sim::SimMachine& machine, nvapi::NvStatus answer) : machine_(machine), answer_(answer) {}
    nvapi::NvStatus Initialize() override { return machine_.Initialize(); }
    nvapi::NvStatus EnumPhysicalGPUs(nvapi::NvPhysicalGpuHandle handles[nvapi::NVAPI_MAX_PHYSICAL_GPUS],
                                     std::uint32_t* count) override {
        return machine_.EnumPhysicalGPUs(handles, count);
    }
    nvapi::NvStatus GPU_GetFullName(nvapi::NvPhysicalGpuHandle gpu, char name[nvapi::NVAPI_SHORT_STRING_MAX]) override {
        return machine_.GPU_GetFullName(gpu, name);
    }
    nvapi::NvStatus GPU_GetPCIIdentifiers(nvapi::NvPhysicalGpuHandle gpu, std::uint32_t* deviceId,
                                          std::uint32_t* subSystemId, std::uint32_t* revisionId,
                                          std::uint32_t* extDeviceId) override {
        return machine_.GPU_GetPCIIdentifiers(gpu, deviceId, subSystemId, revisionId, extDeviceId);
    }
    nvapi::NvStatus GPU_GetVbiosVersionString(nvapi::NvPhysicalGpuHandle gpu,
                                              char version[nvapi::NVAPI_SHORT_STRING_MAX]) override {
        return machine_.GPU_GetVbiosVersionString(gpu, version);
    }
    nvapi::NvStatus I2CReadEx(nvapi::NvPhysicalGpuHandle gpu, nvapi::NV_I2C_INFO_V3* info, std::uint32_t* unknown) override {
        return machine_.I2CReadEx(gpu, info, unknown);
    }
    nvapi::NvStatus I2CWriteEx(nvapi::NvPhysicalGpuHandle gpu, nvapi::NV_I2C_INFO_V3* info, std::uint32_t* unknown) override {
        return machine_.I2CWriteEx(gpu, info, unknown);
    }
    nvapi::NvStatus GPU_GetBusId(nvapi::NvPhysicalGpuHandle gpu, std::uint32_t* busId) override {
        return machine_.GPU_GetBusId(gpu, busId);
    }
    nvapi::NvStatus GPU_GetBusSlotId(nvapi::NvPhysicalGpuHandle gpu, std::uint32_t* slotId) override {
        return machine_.GPU_GetBusSlotId(gpu, slotId);
    }
    nvapi::NvStatus PciDomainAndFunction(nvapi::NvPhysicalGpuHandle, std::uint32_t* domain,
                                         std::uint32_t* function) override {
        *domain = 0x0007;  // what a careless list would print
        *function = 5;
        return answer_;
    }

private:
    sim::SimMachine& machine_;
    nvapi::NvStatus answer_;
};

TEST(GpuListBusIdTest, WhereThePlatformDoesNotSayTheDomainIs0000AndTheFunction0) {
    sim::SimMachine machine;
    machine.AddGpu(0x1000, "GPU").busId = sim::PciBusId{0x0001, 0xb3, 0x02, 3};
    {
        WithoutDomainAndFunction windows(machine, nvapi::NVAPI_NO_IMPLEMENTATION);
        const GpuList gpus(windows);
        EXPECT_EQ(gpus.BusId(0), L"0000:b3:02.0");
    }
    {
        // A platform that knows them but could not tell them now gives no id rather than a wrong one.
        WithoutDomainAndFunction failing(machine, nvapi::NVAPI_ERROR);
        const GpuList gpus(failing);
        EXPECT_EQ(gpus.BusId(0), L"");
    }
}

// Bus ids as people type them, in --gpu and in profile section names.
TEST(NormalizedPciBusIdTest, FullShortAndAnyCaseAsLspciWritesThem) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"0000:01:00.0", L"0000:01:00.0"}, {L"01:00.0", L"0000:01:00.0"},     {L"0000:0A:1f.7", L"0000:0a:1f.7"},
        {L"10000:e1:00.0", L"10000:e1:00.0"}, {L"0001:b3:00.0", L"0001:b3:00.0"}, {L"1:00.0", nullptr},
        {L"000:01:00.0", nullptr},          {L"0000:01:00.8", nullptr},        {L"0000:01:20.0", nullptr},
        {L"0000:01:00", nullptr},           {L"0000:01:00.0x", nullptr},       {L"g0:00.0", nullptr},
        {L"0000:0000:01:00.0", nullptr},    {L"", nullptr},                    {L"123456789:01:00.0", nullptr},
    };
    for (const auto& [text, expected] : cases) {
        const std::optional<std::wstring> id = NormalizedPciBusId(text);
        if (expected) {
            EXPECT_EQ(id, std::optional<std::wstring>(expected)) << std::string(text, text + std::wcslen(text));
        } else {
            EXPECT_FALSE(id) << std::string(text, text + std::wcslen(text));
        }
    }
}

TEST_F(GpuListTest, IndexAtCountMakesNoNvApiCall) {
    machine.AddGpu(0x1000, "A");
    GpuList& gpus = Gpus();
    const std::uint32_t before = machine.NvApiCalls();
    std::uint8_t byte = 0;
    EXPECT_FALSE(GpuBus(gpus, 1, 1).Read(0x40, 0xE1, &byte, 1));
    EXPECT_FALSE(GpuBus(gpus, 1, 1).Write(0x40, 0xE1, &byte, 1));
    EXPECT_EQ(machine.NvApiCalls(), before);
}

}  // namespace
