// Recognising the RTX 2080 Ti board by the GPU's PCI subsystem ID and, for the reference
// subsystem, its VBIOS version; and the operations this board does not have.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "Rtx2080TiFixture.h"

namespace rtx2080ti_test {
namespace {

struct ProbeCase {
    const char* name;
    std::optional<std::uint32_t> subsystem;  // nullopt: the PCI query fails
    std::optional<std::string> vbios;        // nullopt: the VBIOS query fails
    bool detected;
    std::uint32_t nvapiCalls;                // made by the probe: 1 PCI query, 2 with the VBIOS query
};

const ProbeCase kProbeCases[] = {
    {"RetailBoard", 0x25891462, std::nullopt, true, 1},
    {"AnyVendorHalf", 0x2589FFFF, std::nullopt, true, 1},
    {"ZeroVendorHalf", 0x25890000, std::nullopt, true, 1},
    {"RetailBoardIgnoresVbios", 0x25891462, "00.00.00.00.00", true, 1},
    {"ReferenceWithItsVbios", 0x12FA10DE, "90.02.17.40.88", true, 2},
    {"ReferenceWithOtherVbios", 0x12FA10DE, "90.02.17.40.89", false, 2},
    {"ReferenceWithLongerVbios", 0x12FA10DE, "90.02.17.40.88 ", false, 2},
    {"ReferenceWithShorterVbios", 0x12FA10DE, "90.02.17.40.8", false, 2},
    {"ReferenceWithEmptyVbios", 0x12FA10DE, "", false, 2},
    {"ReferenceVbiosQueryFails", 0x12FA10DE, std::nullopt, false, 2},
    {"ReferenceDeviceOtherVendor", 0x12FA1462, "90.02.17.40.88", false, 1},
    {"ReferenceVendorOtherDevice", 0x12FB10DE, "90.02.17.40.88", false, 1},
    {"VendorHalfMatchesOnly", 0x14622589, std::nullopt, false, 1},
    {"NeighbourDevice", 0x258A1462, std::nullopt, false, 1},
    {"Rtx3080TiBoard", 0x39981462, std::nullopt, false, 1},
    {"ZeroSubsystem", 0x00000000, std::nullopt, false, 1},
    {"PciQueryFails", std::nullopt, "90.02.17.40.88", false, 1},
};

void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }

class Rtx2080TiProbe : public Rtx2080TiTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(Rtx2080TiProbe, DecidesFromSubsystemAndVbiosWithoutI2c) {
    const ProbeCase& c = GetParam();
    sim::SimGpu& gpu = AddBoard();
    gpu.subsystemId = c.subsystem;
    gpu.vbios = c.vbios;
    Gpus();
    const std::uint32_t before = machine.NvApiCalls();

    EXPECT_EQ(Probe(), c.detected);
    EXPECT_EQ(machine.NvApiCalls() - before, c.nvapiCalls);
    EXPECT_EQ(machine.TransferCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, Rtx2080TiProbe, ::testing::ValuesIn(kProbeCases),
                         [](const ::testing::TestParamInfo<ProbeCase>& param) { return std::string(param.param.name); });

TEST_F(Rtx2080TiTest, ProbeUsesTheGpuAtItsIndexInHandleOrder) {
    AddBoard(0x2000, 0x25891462);
    machine.AddGpu(0x1000, "other").subsystemId = 0x39981462;

    EXPECT_FALSE(Probe(0));
    EXPECT_TRUE(Probe(1));
}

TEST_F(Rtx2080TiTest, ProbeOfAnIndexBeyondTheListAsksNvApiNothing) {
    AddBoard();
    Gpus();
    const std::uint32_t before = machine.NvApiCalls();

    EXPECT_FALSE(Probe(1));
    EXPECT_EQ(machine.NvApiCalls(), before);
}

TEST_F(Rtx2080TiTest, ProbeWithoutNvApiIsNotDetected) {
    AddBoard();
    machine.FailInitialize();

    EXPECT_FALSE(Probe(0));
    EXPECT_EQ(machine.TransferCount(), 0u);
}

TEST_F(Rtx2080TiTest, FamilyOneWithoutProfilesOrTimerWork) {
    auto controller = Activated();
    const std::wstring before = PanelDump(panel);

    EXPECT_EQ(controller->GetFamily(), 1);
    EXPECT_FALSE(controller->LoadProfile());
    controller->SaveProfile(panel.IsChecked(ctl::kSync));
    controller->OnTimerTick();

    EXPECT_EQ(PanelDump(panel), before);
    EXPECT_EQ(machine.TransferCount(), kRefreshReads);  // the activation's reads, nothing since
    EXPECT_TRUE(machine.Log().Entries().empty());
}

}  // namespace
}  // namespace rtx2080ti_test
