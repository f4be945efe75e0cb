// Each board's register protocol from a stated board to the plan it makes, without the simulator:
// what Apply, Default and Auto write, in order, with the pauses, and what they decide from the
// registers they read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <memory>

#include "boards/Rtx2080TiFamily.h"
#include "boards/Rtx2080TiProtocol.h"
#include "boards/Rtx3080TiMcuProtocol.h"
#include "boards/Rtx3080TiRegulatorProtocol.h"
#include "model/BoardJob.h"
#include "model/DryRunBus.h"
#include "support/StubBus.h"

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;
using rtx3080ti::Item;

class NoSleep final : public Sleeper {
public:
    void Sleep(unsigned) override {}
};

// An RTX 2080 Ti board whose transfers go to the stub.
std::unique_ptr<rtx2080ti::Board> Rtx2080TiOn(StubBus& stub) {
    auto bus = std::make_unique<BusOnto>(stub);
    auto protocol = std::make_unique<Rtx2080TiProtocol>(*bus);
    return std::make_unique<rtx2080ti::Board>(std::move(bus), std::move(protocol));
}

bool AnyWrite(const Lines& log) {
    for (const std::string& transfer : log)
        if (transfer.rfind("W ", 0) == 0) return true;
    return false;
}

// The plan run on a bus that writes nothing, as the dry run shows it.
Lines Planned(const Plan& plan, StubBus& board) {
    DryRunBus dry(board);
    NoSleep sleeper;
    return DescribeResults(RunPlan(plan, dry, sleeper).Results());
}

TEST(McuPlanTest, EachSettingIsOneRegisterWriteFollowedByAPause) {
    StubBus board;
    Rtx3080TiMcuProtocol mcu(board);
    struct Case {
        Item item;
        std::int32_t value;
        Lines plan;
    };
    const Case cases[] = {
        {Item::Nvvdd, 200, {"write 0x5A reg 0x10: 03 01 C8 00", "pause 100 ms"}},
        {Item::Fbvdd, 248, {"write 0x5A reg 0x18: 03 01 F8 00", "pause 100 ms"}},
        {Item::Msvdd, 190, {"write 0x5A reg 0x14: 03 01 BE 00", "pause 100 ms"}},
        {Item::NvFrequency, 5, {"write 0x5A reg 0x13: 01 05", "pause 100 ms"}},
        {Item::MsFrequency, 6, {"write 0x5A reg 0x17: 01 06", "pause 100 ms"}},
        {Item::NvLoadline, 3, {"write 0x5A reg 0x11: 01 03", "pause 100 ms"}},
        {Item::MsLoadline, 4, {"write 0x5A reg 0x15: 01 04", "pause 100 ms"}},
        {Item::NvOcp, 0, {"write 0x5A reg 0x12: 01 00", "pause 100 ms"}},
        {Item::MsOcp, 1, {"write 0x5A reg 0x16: 01 01", "pause 100 ms"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Planned(mcu.SetPlan(c.item, c.value), board), c.plan) << int(c.item);
    EXPECT_TRUE(board.log.empty()) << "setting a value reads nothing";
    EXPECT_EQ(Planned(mcu.AfterDefaultsPlan(), board), Lines{"pause 200 ms"});
}

TEST(McuPlanTest, OnlyAFixedRailIsHandedBackAndWithoutAPause) {
    StubBus board;
    Rtx3080TiMcuProtocol mcu(board);
    // StatusBlock: byte 1 NVVDD mode, byte 4 MSVDD mode; 1 is fixed.
    board.Answer(0x5A, 0x19, {0x09, 0x01, 0xC8, 0x00, 0x00, 0xAF, 0x00, 0x01, 0xDC, 0x00});
    EXPECT_EQ(Planned(mcu.RestoreAutoPlan(rtx3080ti::Rail::Nvvdd), board), Lines{"write 0x5A reg 0x10: 03 00 00 00"});
    EXPECT_EQ(Planned(mcu.RestoreAutoPlan(rtx3080ti::Rail::Msvdd), board), Lines{});
}

TEST(RegulatorPlanTest, VoltagesRaiseTheLimitSetTheCodeThenFixTheMode) {
    StubBus board;
    Rtx3080TiRegulatorProtocol regulators(board);
    board.Answer(0x40, 0xE1, {0x02, 0x40});  // automatic
    EXPECT_EQ(Planned(regulators.SetPlan(Item::Nvvdd, 200), board),
              (Lines{"write 0x40 reg 0x24: 00 01", "write 0x40 reg 0x21: C8 00", "write 0x40 reg 0xE1: 12 60"}));
    // FBVDD: the mode bit only when it is clear, then the code.
    board.Answer(0x44, 0xE1, {0x12, 0x00});
    EXPECT_EQ(Planned(regulators.SetPlan(Item::Fbvdd, 230), board), (Lines{"write 0x44 reg 0x21: E6 00"}));
    board.Answer(0x44, 0xE1, {0x02, 0x00});
    EXPECT_EQ(Planned(regulators.SetPlan(Item::Fbvdd, 230), board),
              (Lines{"write 0x44 reg 0xE1: 12 00", "write 0x44 reg 0x21: E6 00"}));
    // Automatic control: always rewritten.
    board.Answer(0x7C, 0xE1, {0x12, 0x60});
    EXPECT_EQ(Planned(regulators.RestoreAutoPlan(rtx3080ti::Rail::Msvdd), board),
              (Lines{"write 0x7C reg 0xE1: 02 40", "write 0x7C reg 0x24: D0 00"}));
}

TEST(RegulatorPlanTest, FieldsOfARegisterKeepTheirNeighbours) {
    StubBus board;
    Rtx3080TiRegulatorProtocol regulators(board);
    board.Answer(0x40, 0x1E, {0xF5});
    // Bits 7, 6 and 4 stay, bit 5 clears, bits 0-3 take the level; then the step of level 9.
    EXPECT_EQ(Planned(regulators.SetPlan(Item::NvLoadline, 9), board),
              (Lines{"write 0x40 reg 0x1E: D9", "write 0x40 reg 0x06: 10"}));
    EXPECT_EQ(Planned(regulators.SetPlan(Item::NvFrequency, 5), board),
              (Lines{"write 0x40 reg 0xBD: 32 00", "write 0x40 reg 0x05: 00"}));
    board.Answer(0x7C, 0xEC, {0x41, 0xFF});
    board.Answer(0x7C, 0x44, {0x00, 0x08});
    board.Answer(0x7C, 0xEE, {0xFF, 0x01});
    EXPECT_EQ(Planned(regulators.SetPlan(Item::MsOcp, 0), board),
              (Lines{"write 0x7C reg 0xEC: 41 9F", "write 0x7C reg 0x44: 00 00", "write 0x7C reg 0xEE: 3F 01",
                     "write 0x7C reg 0x6A: A3 02"}));
}

TEST(Rtx2080TiPlanTest, AnOffsetNeverFlipsItsSignInOneWrite) {
    StubBus board;
    Rtx2080TiProtocol protocol(board);
    struct Case {
        std::uint8_t stored;
        std::int32_t offset;
        Lines plan;
    };
    const Case cases[] = {
        {0x02, -1, {"write 0x24 reg 0x02: 00", "write 0x24 reg 0x02: 80", "write 0x24 reg 0x02: 81"}},
        {0x83, 2, {"write 0x24 reg 0x02: 80", "write 0x24 reg 0x02: 00", "write 0x24 reg 0x02: 02"}},
        {0x01, 4, {"write 0x24 reg 0x02: 04"}},
        {0x81, -3, {"write 0x24 reg 0x02: 83"}},
    };
    for (const Case& c : cases) {
        board.Answer(0x24, 0x02, {c.stored});
        EXPECT_EQ(Planned(protocol.SetPlan(rtx2080ti::Item::Pexvdd, c.offset), board), c.plan) << int(c.stored);
    }
}

TEST(Rtx2080TiPlanTest, SequencesAsTheBoardWantsThem) {
    StubBus board;
    Rtx2080TiProtocol protocol(board);
    using rtx2080ti::Item;
    EXPECT_EQ(Planned(protocol.SetPlan(Item::Nvvdd, 200), board),
              (Lines{"write 0x40 reg 0x2A: 01 00", "write 0x40 reg 0x21: C0 00", "write 0x40 reg 0xE1: 98 E2",
                     "write 0x40 reg 0x24: 18 01", "write 0x40 reg 0x21: C8 00"}));
    // FBVDD's register holds the code less 4.
    board.Answer(0x44, 0xE1, {0x00, 0x33});
    EXPECT_EQ(Planned(protocol.SetPlan(Item::Fbvdd, 224), board),
              (Lines{"write 0x44 reg 0xE1: 10 33", "write 0x44 reg 0x21: DC 00"}));
    EXPECT_EQ(Planned(protocol.SetPlan(Item::Frequency, 5), board),
              (Lines{"write 0x40 reg 0xBD: 32 00", "write 0x40 reg 0x05: (register byte alone)"}));
    EXPECT_EQ(Planned(protocol.SetPlan(Item::Loadline, 6), board),
              (Lines{"write 0x40 reg 0x2B: 00", "write 0x40 reg 0x1E: 18", "write 0x40 reg 0x2A: 20 1A",
                     "write 0x40 reg 0x06: 10"}));
    EXPECT_EQ(Planned(protocol.SetPlan(Item::Loadline, 12), board), Lines{}) << "only levels 0 to 11";
    EXPECT_EQ(Planned(protocol.SetPlan(Item::Ln2, 1), board), Lines{"write 0x40 reg 0xEE: 1F 14"});
}

TEST(Rtx2080TiPlanTest, ASequenceStopsAtItsFirstFailedWrite) {
    StubBus board;
    board.FailAt(2);
    Rtx2080TiProtocol protocol(board);
    NoSleep sleeper;
    const PlanRun run = RunPlan(protocol.RestoreAutoPlan(), board, sleeper);
    EXPECT_EQ(board.log, (Lines{"W 40:2A 01 00", "W 40:21 C0 00 FAIL"}));
    EXPECT_FALSE(run.Completed());
}

// OCP's sequence writes LN2's register: a dry run of the whole Apply reads LN2 after that write as
// the board would, so LN2's own write shows although the untouched board already reads it on.
TEST(Rtx2080TiPlanTest, ADryRunOfApplyReadsLn2AfterTheOcpSequenceWroteItsRegister) {
    using rtx2080ti::Item;
    StubBus board;
    board.Answer(0x40, 0xEC, {0x41, 0x23});  // OCP enabled
    board.Answer(0x40, 0xEE, {0x1F, 0x14});  // LN2 on
    const std::unique_ptr<rtx2080ti::Board> rtx2080 = Rtx2080TiOn(board);
    rtx2080ti::BoardSettings wanted;
    wanted[Item::Ocp] = Setting::Of(0);
    wanted[Item::Ln2] = Setting::Of(1);
    DryRunBus dry(board);
    const auto job = rtx2080->Apply(wanted, dry);
    NoSleep sleeper;
    RunToEnd(*job, sleeper);
    EXPECT_EQ(DescribeResults(job->Results()),
              (Lines{"write 0x40 reg 0xEC: 41 03", "write 0x40 reg 0xEE: 14 1F", "write 0x40 reg 0x44: 0B 06",
                     "write 0x40 reg 0xEE: 1F 14"}));
    for (const std::string& transfer : board.log) EXPECT_EQ(transfer.rfind("W ", 0), std::string::npos) << transfer;
}

// Default and Auto are jobs like Apply, so a dry run shows them without writing: here OCP goes
// back on (which also writes LN2's register, so LN2 then reads off and needs nothing), NVVDD is
// handed back to the GPU, and the items the board does not answer are left alone.
TEST(Rtx2080TiPlanTest, DefaultAndAutoCanBeDryRun) {
    StubBus board;
    board.Answer(0x40, 0xEC, {0x41, 0x03});  // OCP disabled
    board.Answer(0x40, 0xEE, {0x14, 0x1F});
    const std::unique_ptr<rtx2080ti::Board> rtx2080 = Rtx2080TiOn(board);
    NoSleep sleeper;
    const Lines handBack = {"write 0x40 reg 0x2A: 01 00", "write 0x40 reg 0x21: C0 00", "write 0x40 reg 0x24: D0 00",
                            "write 0x40 reg 0xE1: 88 C2"};

    DryRunBus dry(board);
    const auto defaults = rtx2080->Defaults(dry);
    RunToEnd(*defaults, sleeper);
    Lines expected = {"write 0x40 reg 0xEC: 41 23", "write 0x40 reg 0xEE: 54 5F", "write 0x40 reg 0x44: 0B 0C"};
    expected.insert(expected.end(), handBack.begin(), handBack.end());
    EXPECT_EQ(DescribeResults(defaults->Results()), expected);
    EXPECT_EQ(defaults->Failures(), 5u) << "FBVDD, PEXVDD, +1.8V, frequency and loadline do not read";

    DryRunBus dryAuto(board);
    const auto automatic = rtx2080->Auto(dryAuto);
    RunToEnd(*automatic, sleeper);
    EXPECT_EQ(DescribeResults(automatic->Results()), handBack);
    EXPECT_FALSE(AnyWrite(board.log));
}

}  // namespace
