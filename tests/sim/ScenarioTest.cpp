#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "gpu/GpuBus.h"
#include "sim/Boards.h"
#include "sim/RegisterDevice.h"
#include "sim/Scenario.h"
#include "support/SimFixture.h"

namespace {

using ScenarioTest = SimFixture;

TEST_F(ScenarioTest, DefaultMachineHasFourGpusEnumeratedOutOfHandleOrder) {
    sim::LoadDefaultScenario(machine);
    ASSERT_EQ(machine.Gpus().size(), 4u);
    GpuList& gpus = Gpus();
    ASSERT_EQ(gpus.Count(), 4u);
    // The list sorts by handle, which the scenario does not.
    std::wstring names[4];
    for (std::uint32_t i = 0; i < 4; ++i) ASSERT_TRUE(gpus.GetName(i, names[i]));
    EXPECT_EQ(names[0], L"NVIDIA GeForce RTX 3060");
    EXPECT_EQ(names[3], L"NVIDIA GeForce RTX 2080 Ti");
    EXPECT_NE(machine.Gpus()[0].handle, reinterpret_cast<std::uintptr_t>(gpus.Handle(0)));

    // The direct board's MCU is fitted but silent; the MCU board's answers its identification.
    std::uint8_t id[6] = {};
    const sim::SimGpu* mcuBoard = machine.GpuByHandle(0x2100);
    const sim::SimGpu* directBoard = machine.GpuByHandle(0x1100);
    ASSERT_TRUE(mcuBoard && directBoard);
    EXPECT_TRUE(mcuBoard->Find(1, 0x5A)->Read(0xB1, id, 6));
    EXPECT_EQ(id[2], 0x2D);
    EXPECT_EQ(id[3], 0x03);
    EXPECT_FALSE(directBoard->Find(1, 0x5A)->Read(0xB1, id, 6));
    EXPECT_EQ(*directBoard->subsystemId >> 16, 0x3998u);

    // Each GPU on a bus of its own, in the list's order as its handles are.
    EXPECT_EQ(gpus.BusId(0), L"0000:01:00.0");
    EXPECT_EQ(gpus.BusId(1), L"0000:11:00.0");
    EXPECT_EQ(gpus.BusId(2), L"0000:21:00.0");
    EXPECT_EQ(gpus.BusId(3), L"0000:31:00.0");
}

TEST_F(ScenarioTest, BusKeyGivesTheGpuItsBusId) {
    struct Case {
        const char* bus;  // the key's value, or null for a GPU without it
        const wchar_t* busId;
    };
    const Case cases[] = {
        {"0000:01:00.0", L"0000:01:00.0"},
        {"0a:00.0", L"0000:0a:00.0"},        // the short form is in domain 0000
        {"0001:B3:1F.7", L"0001:b3:1f.7"},   // upper case taken, written as lspci does
        {nullptr, L""},
    };
    std::string text;
    for (std::size_t i = 0; i < std::size(cases); ++i)
        text += "gpu handle=" + std::to_string(i + 1) + (cases[i].bus ? std::string(" bus=") + cases[i].bus : "") + "\n";
    std::string error;
    ASSERT_TRUE(sim::LoadScenario(text, "bus.txt", machine, error)) << error;
    ASSERT_EQ(Gpus().Count(), std::size(cases));
    for (std::uint32_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(Gpus().BusId(i), cases[i].busId) << text;
}

TEST_F(ScenarioTest, ADriverWithoutTheBusFunctionsGivesNoBusIds) {
    std::string error;
    ASSERT_TRUE(sim::LoadScenario("machine bus-functions=absent\ngpu handle=1 bus=01:00.0 board=rtx2080ti\n", "f",
                                  machine, error))
        << error;
    ASSERT_EQ(Gpus().Count(), 1u);
    EXPECT_EQ(Gpus().BusId(0), L"");
    std::uint32_t bus = 0;
    EXPECT_EQ(machine.GPU_GetBusId(Gpus().Handle(0), &bus), nvapi::NVAPI_NO_IMPLEMENTATION);
    std::uint8_t bytes[2] = {};
    EXPECT_TRUE(GpuBus(Gpus(), 0, 1).Read(0x40, 0xE1, bytes, 2)) << "the board is reached all the same";
}

TEST(ScenarioText, StatementsBuildTheMachineTheyDescribe) {
    sim::SimMachine machine;
    std::string error;
    const std::string text =
        "# two GPUs\n"
        "machine enumerate=ok initialize=ok\n"
        "gpu handle=0x20 name=\"Board A\" subsystem=0x25891458 vbios=90.02.17.40.88 board=rtx2080ti fail=vbios\r\n"
        "device address=0x24 state=silent\n"
        "register address=0x40 register=0x21 bytes=C8,00   # fixed code 200\n"
        "gpu handle=16 name=X board=none fail=name,pci\n"
        "fail-transfer n=3\n";
    ASSERT_TRUE(sim::LoadScenario(text, "two.txt", machine, error)) << error;
    ASSERT_EQ(machine.Gpus().size(), 2u);
    const sim::SimGpu& a = machine.Gpus()[0];
    EXPECT_EQ(a.handle, 0x20u);
    EXPECT_EQ(*a.name, "Board A");
    EXPECT_EQ(*a.subsystemId, 0x25891458u);
    EXPECT_FALSE(a.vbios.has_value());
    auto* offsets = dynamic_cast<sim::RegisterDevice*>(a.Find(1, 0x24));
    ASSERT_NE(offsets, nullptr);
    EXPECT_TRUE(offsets->IsSilent());
    auto* nvvdd = dynamic_cast<sim::RegisterDevice*>(a.Find(1, 0x40));
    ASSERT_NE(nvvdd, nullptr);
    EXPECT_EQ(nvvdd->Word(0x21), 200u);
    const sim::SimGpu& b = machine.Gpus()[1];
    EXPECT_EQ(b.handle, 16u);
    EXPECT_FALSE(b.name.has_value());
    EXPECT_FALSE(b.subsystemId.has_value());
    EXPECT_TRUE(b.devices.empty());
}

TEST(ScenarioText, ArbitraryAndAbsentDevices) {
    sim::SimMachine machine;
    std::string error;
    ASSERT_TRUE(sim::LoadScenario("gpu handle=1 board=rtx2080ti\n"
                                  "device address=0x40 state=arbitrary seed=7\n"
                                  "device address=0x44 state=absent\n",
                                  "f", machine, error))
        << error;
    const sim::SimGpu& gpu = machine.Gpus()[0];
    EXPECT_EQ(gpu.Find(1, 0x44), nullptr);
    std::uint8_t first[4] = {}, second[4] = {};
    ASSERT_TRUE(gpu.Find(1, 0x40)->Read(0xE1, first, 4));
    ASSERT_TRUE(gpu.Find(1, 0x40)->Read(0x77, second, 4));  // any register answers
}

struct BadScenario {
    const char* text;
    const char* expected;  // the whole message after the file name
};

class BadScenarioTest : public ::testing::TestWithParam<BadScenario> {};

TEST_P(BadScenarioTest, NamesFileLineAndProblemAndLeavesTheMachineAlone) {
    sim::SimMachine machine;
    machine.AddGpu(0x99, "kept");
    std::string error;
    EXPECT_FALSE(sim::LoadScenario(GetParam().text, "bad.txt", machine, error));
    EXPECT_EQ(error, std::string("bad.txt:") + GetParam().expected);
    ASSERT_EQ(machine.Gpus().size(), 1u);
    EXPECT_EQ(*machine.Gpus()[0].name, "kept");
}

INSTANTIATE_TEST_SUITE_P(
    Mistakes, BadScenarioTest,
    ::testing::Values(
        BadScenario{"gpu handle=1\nboad kind=rtx2080ti\n", "2: unknown statement \"boad\""},
        BadScenario{"\n\ngpu handle=1 board=rtx4090\n",
                    "3: unknown board rtx4090 (known: none, rtx3080ti-mcu, rtx3080ti-direct, rtx2080ti)"},
        BadScenario{"gpu name=A\n", "1: gpu needs handle="},
        BadScenario{"gpu handle=0x1G\n", "1: handle=0x1G is not a number from 0 to 18446744073709551615"},
        // Past 64 bits: refused, not wrapped round to handle 1 or to a small number.
        BadScenario{"gpu handle=0x10000000000000001\n",
                    "1: handle=0x10000000000000001 is not a number from 0 to 18446744073709551615"},
        BadScenario{"gpu handle=18446744073709551617\n",
                    "1: handle=18446744073709551617 is not a number from 0 to 18446744073709551615"},
        BadScenario{"gpu handle=1 subsystem=0x100000001\n", "1: subsystem=0x100000001 is not a number from 0 to 4294967295"},
        BadScenario{"gpu handle=1\ngpu handle=0x1\n", "2: a GPU with handle 0x1 exists already"},
        BadScenario{"gpu handle=1 name=\"RTX\n", "1: missing closing quote in the value of name"},
        BadScenario{"gpu handle=1 colour=red\n", "1: unknown key colour for gpu"},
        BadScenario{"device address=0x40 state=silent\n", "1: device before any gpu"},
        BadScenario{"gpu handle=1\ndevice address=0x40 state=silent\n", "2: no simulated device at 0x40 to make silent"},
        BadScenario{"gpu handle=1 board=rtx2080ti\nregister address=0x40 register=0x21 bytes=C8\n",
                    "2: register 0x21 holds 2 bytes, not 1"},
        BadScenario{"gpu handle=1 board=rtx2080ti\nregister address=0x40 register=0x21 bytes=C8,ZZ\n",
                    "2: bytes= takes hexadecimal bytes such as C8,00, not ZZ"},
        BadScenario{"machine initialize=maybe\n", "1: initialize must be ok or fail, not maybe"},
        BadScenario{"fail-transfer n=0\n", "1: n counts from 1"},
        BadScenario{"gpu handle=1 fail=name,fan\n", "1: fail= takes name, pci and vbios, not fan"},
        BadScenario{"gpu handle=1 board\n", "1: expected key=value, found \"board\""},
        BadScenario{"gpu handle=1 bus=0000:01:00.0\ngpu handle=2 bus=01:00.0\n",
                    "2: a GPU at 0000:01:00.0 exists already"},
        BadScenario{"machine bus-functions=no\n", "1: bus-functions must be present or absent, not no"}));

// A malformed bus= is named with its line; each of these is one field out of form or range.
class BadBusIdTest : public ::testing::TestWithParam<const char*> {};

TEST_P(BadBusIdTest, IsAScenarioErrorOnItsLine) {
    sim::SimMachine machine;
    std::string error;
    EXPECT_FALSE(sim::LoadScenario(std::string("gpu handle=1\n\ngpu handle=2 bus=") + GetParam() + " board=none\n",
                                   "bus.txt", machine, error));
    EXPECT_EQ(error, std::string("bus.txt:3: bus=") + GetParam() +
                         " is not a PCI bus id such as 0000:01:00.0 or 01:00.0 (hexadecimal; device 00 to 1f, function "
                         "0 to 7)");
    EXPECT_TRUE(machine.Gpus().empty());
}

INSTANTIATE_TEST_SUITE_P(Malformed, BadBusIdTest,
                         ::testing::Values("", "1:00.0", "001:00.0", "0000:01:00", "0000:01:00.", "0000:1:00.0",
                                           "000:01:00.0", "00000:01:00.0", "0000:01:20.0", "0000:01:00.8",
                                           "0000:0g:00.0", "0000-01:00.0", "0000:01-00.0", "0000:01:00:0",
                                           "01:00.0.0", "0x01:00.0", "-1:00.0"));

TEST(ScenarioFile, MissingFileIsNamed) {
    sim::SimMachine machine;
    std::string error;
    EXPECT_FALSE(sim::LoadScenarioFile("/nonexistent/scenario.txt", machine, error));
    EXPECT_EQ(error, "/nonexistent/scenario.txt: cannot open the scenario file");
}

TEST_F(ScenarioTest, MachineFaultsReachNvApi) {
    std::string error;
    ASSERT_TRUE(sim::LoadScenario("machine initialize=fail\ngpu handle=1 board=rtx2080ti\n", "f", machine, error));
    EXPECT_FALSE(Gpus().IsReady());
}

TEST_F(ScenarioTest, NthTransferFails) {
    std::string error;
    ASSERT_TRUE(sim::LoadScenario("gpu handle=1 board=rtx2080ti\nfail-transfer n=2\n", "f", machine, error));
    std::uint8_t bytes[2] = {};
    EXPECT_TRUE(GpuBus(Gpus(), 0, 1).Read(0x40, 0xE1, bytes, 2));
    EXPECT_FALSE(GpuBus(Gpus(), 0, 1).Read(0x40, 0xE1, bytes, 2));
    EXPECT_TRUE(GpuBus(Gpus(), 0, 1).Read(0x40, 0xE1, bytes, 2));
    const std::string dump = machine.Log().Dump();
    EXPECT_EQ(dump.substr(0, dump.find('\n')), "R gpu0 p1 40:E1 [88 C2] ok");
    ASSERT_EQ(machine.Log().Entries().size(), 3u);
    EXPECT_FALSE(machine.Log().Entries()[1].ok());
    EXPECT_NE(dump.find("R gpu0 p1 40:E1 [] len 2 FAIL"), std::string::npos) << dump;
    // Shown by length, a read reads the same whether or not it delivered.
    const auto& entries = machine.Log().Entries();
    EXPECT_EQ(sim::TransferLog::Format(entries[0], sim::TransferLog::ReadBytes::Length), "R gpu0 p1 40:E1 len 2 ok");
    EXPECT_EQ(sim::TransferLog::Format(entries[1], sim::TransferLog::ReadBytes::Length), "R gpu0 p1 40:E1 len 2 FAIL");
}

}  // namespace

TEST(ScenarioFile, LargestHandleIsTaken) {
    sim::SimMachine machine;
    std::string error;
    ASSERT_TRUE(sim::LoadScenario("gpu handle=0xFFFFFFFFFFFFFFFF board=none\n", "max.txt", machine, error)) << error;
    ASSERT_EQ(machine.Gpus().size(), 1u);
    EXPECT_EQ(machine.Gpus()[0].handle, UINTPTR_MAX);
}
