// Plans, the apply job and side-by-side runs on a stated bus, without the simulator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/SettingsJob.h"
#include "model/BoardJob.h"
#include "model/DryRunBus.h"
#include "model/Plan.h"
#include "support/StubBus.h"

namespace {

using Lines = std::vector<std::string>;
using OnFailure = Step::OnFailure;

class RecordingSleeper final : public Sleeper {
public:
    void Sleep(unsigned ms) override { slept.push_back(ms); }
    std::vector<unsigned> slept;
};

// Sets bit 0 of the register read and writes it to register 0x20; nothing when it is set.
Step SetBitZero(OnFailure onRead, OnFailure onWrite) {
    return Step::ReadThenWrite(
        0x40, 0x10, 1,
        [](const std::vector<std::uint8_t>& read) -> std::vector<RegisterWrite> {
            if (read[0] & 1) return {};
            return {{0x40, 0x20, {static_cast<std::uint8_t>(read[0] | 1)}}};
        },
        onRead, onWrite);
}

struct RunCase {
    const char* name;
    std::vector<std::size_t> failing;  // transfers that fail
    Lines traffic;
    bool completed;
    std::size_t failures;
    friend void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }
};

// Write(End), ReadThenWrite(Continue on read, End on write), Write, Pause, Write.
class PlanRunTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(PlanRunTest, StepsRunInOrderAndAFailureEndsThePlanOnlyWhereItSaysSo) {
    const RunCase& c = GetParam();
    StubBus bus;
    bus.Answer(0x40, 0x10, {0x02});
    for (std::size_t n : c.failing) bus.FailAt(n);
    RecordingSleeper sleeper;
    const Plan plan = {Step::Write({0x40, 0x01, {0xAA}}, OnFailure::End), SetBitZero(OnFailure::Continue, OnFailure::End),
                       Step::Write({0x40, 0x05, {}}), Step::Pause(100), Step::Write({0x40, 0x02, {0xBB, 0xCC}})};

    const PlanRun run = RunPlan(plan, bus, sleeper);

    EXPECT_EQ(bus.log, c.traffic);
    EXPECT_EQ(run.Completed(), c.completed);
    EXPECT_EQ(run.Failures(), c.failures);
    EXPECT_EQ(sleeper.slept, c.completed ? std::vector<unsigned>{100} : std::vector<unsigned>{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlanRunTest,
    ::testing::Values(
        RunCase{"AllSucceed", {}, {"W 40:01 AA", "R 40:10", "W 40:20 03", "W 40:05", "W 40:02 BB CC"}, true, 0},
        RunCase{"FirstWriteEndsIt", {1}, {"W 40:01 AA FAIL"}, false, 1},
        RunCase{"AnUnreadRegisterIsPassedOver", {2}, {"W 40:01 AA", "R 40:10 FAIL", "W 40:05", "W 40:02 BB CC"}, true, 1},
        RunCase{"ADecidedWriteThatFailsEndsIt", {3}, {"W 40:01 AA", "R 40:10", "W 40:20 03 FAIL"}, false, 1},
        RunCase{"AWriteThatMayFailDoesNotEndIt", {4}, {"W 40:01 AA", "R 40:10", "W 40:20 03", "W 40:05 FAIL",
                                                        "W 40:02 BB CC"}, true, 1}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(PlanTest, ADecisionsWritesStopAtTheFirstThatFailsAndAnUnreadRegisterCanEndThePlan) {
    const Step flip = Step::ReadThenWrite(
        0x24, 0x02, 1,
        [](const std::vector<std::uint8_t>&) -> std::vector<RegisterWrite> {
            return {{0x24, 0x02, {0x00}}, {0x24, 0x02, {0x80}}, {0x24, 0x02, {0x81}}};
        },
        OnFailure::End, OnFailure::End);
    RecordingSleeper sleeper;
    {
        StubBus bus;
        bus.Answer(0x24, 0x02, {0x02});
        bus.FailAt(3);
        const PlanRun run = RunPlan({flip, Step::Write({0x24, 0x01, {0x01}})}, bus, sleeper);
        EXPECT_EQ(bus.log, (Lines{"R 24:02", "W 24:02 00", "W 24:02 80 FAIL"}));
        EXPECT_FALSE(run.Completed());
    }
    {
        StubBus bus;  // nothing answers
        const PlanRun run = RunPlan({flip, Step::Write({0x24, 0x01, {0x01}})}, bus, sleeper);
        EXPECT_EQ(bus.log, (Lines{"R 24:02 FAIL"}));
        EXPECT_FALSE(run.Completed());
    }
}

TEST(PlanTest, ADryRunReadsTheBoardAndWritesNothingButDescribesEveryWriteAndPause) {
    StubBus board;
    board.Answer(0x40, 0x10, {0x02});
    DryRunBus dry(board);
    RecordingSleeper sleeper;
    const PlanRun run = RunPlan({SetBitZero(OnFailure::Continue, OnFailure::End), Step::Pause(100),
                                 Step::Write({0x40, 0x05, {}})},
                                dry, sleeper);
    EXPECT_EQ(board.log, (Lines{"R 40:10"}));
    EXPECT_EQ(DescribeResults(run.Results()),
              (Lines{"write 0x40 reg 0x20: 03", "pause 100 ms", "write 0x40 reg 0x05: (register byte alone)"}));
}

// Two items that share a register: the second step reads what the first wrote. A dry run shows
// the second as it would run after the first, not as the untouched board would make it.
TEST(PlanTest, ADryRunReadsBackWhatItsPlanWrote) {
    StubBus board;
    board.Answer(0x40, 0x10, {0x02, 0x7F});
    DryRunBus dry(board);
    RecordingSleeper sleeper;
    // Sets bit 0 of register 0x10 then, from what 0x10 then holds, bit 7 of its first byte.
    const auto setBit = [](std::uint8_t bit) {
        return Step::ReadThenWrite(
            0x40, 0x10, 2,
            [bit](const std::vector<std::uint8_t>& read) -> std::vector<RegisterWrite> {
                if (read[0] & bit) return {};
                return {{0x40, 0x10, {static_cast<std::uint8_t>(read[0] | bit), read[1]}}};
            },
            OnFailure::Continue, OnFailure::End);
    };
    const PlanRun run = RunPlan({setBit(0x01), setBit(0x80), setBit(0x01)}, dry, sleeper);
    EXPECT_EQ(DescribeResults(run.Results()), (Lines{"write 0x40 reg 0x10: 03 7F", "write 0x40 reg 0x10: 83 7F"}));
    EXPECT_EQ(board.log, (Lines{"R 40:10"})) << "the board is read once and never written";

    // A longer read than the plan wrote takes the rest from the board; a shorter one what was written.
    std::uint8_t three[3] = {};
    board.Answer(0x40, 0x11, {0xA0, 0xA1, 0xA2});
    const std::uint8_t one = 0x55;
    ASSERT_TRUE(dry.Write(0x40, 0x11, &one, 1));
    ASSERT_TRUE(dry.Read(0x40, 0x11, three, 3));
    EXPECT_EQ(std::vector<std::uint8_t>(three, three + 3), (std::vector<std::uint8_t>{0x55, 0xA1, 0xA2}));
    std::uint8_t first = 0;
    board.FailAt(board.log.size() + 1);
    EXPECT_TRUE(dry.Read(0x40, 0x10, &first, 1)) << "what the plan wrote needs no board";
    EXPECT_EQ(first, 0x83);
}

// Items numbered as the registers that hold them: items 1 and 2 stated on the bus as registers
// 0x01 and 0x02; each item's plan writes its value to register 0x10 + item and pauses 100 ms.
enum class TestItem : std::uint8_t {};

class SettingsJobTest : public ::testing::Test {
protected:
    using Job = SettingsJob<TestItem>;
    static JobStep<TestItem> Set(int item, std::int32_t value) {
        return JobStep<TestItem>::Set(static_cast<TestItem>(item), value);
    }
    std::unique_ptr<Job> MakeJob(std::vector<JobStep<TestItem>> steps) {
        return std::make_unique<Job>(
            bus, std::move(steps),
            [this](TestItem item) -> std::optional<std::int32_t> {
                std::uint8_t byte = 0;
                if (!bus.Read(0x40, static_cast<std::uint8_t>(item), &byte, 1)) return std::nullopt;
                return byte;
            },
            [](TestItem item, std::int32_t value) {
                return Plan{Step::Write({0x40, static_cast<std::uint8_t>(0x10 + static_cast<int>(item)),
                                         {static_cast<std::uint8_t>(value)}}),
                            Step::Pause(100)};
            });
    }
    StubBus bus;
};

TEST_F(SettingsJobTest, ReadsEachItemWritesOnlyWhatDiffersAndStopsAtEachPause) {
    bus.Answer(0x40, 0x01, {5});
    bus.Answer(0x40, 0x02, {7});
    auto job = MakeJob({Set(1, 5), Set(2, 9), Set(3, 1)});
    EXPECT_EQ(job->Advance(), 100u);
    EXPECT_EQ(bus.log, (Lines{"R 40:01", "R 40:02", "W 40:12 09"}));
    EXPECT_FALSE(job->Done());
    EXPECT_EQ(job->Advance(), 0u);  // item 3 does not read: left alone
    EXPECT_TRUE(job->Done());
    EXPECT_EQ(bus.log, (Lines{"R 40:01", "R 40:02", "W 40:12 09", "R 40:03 FAIL"}));
    EXPECT_EQ(job->Failures(), 1u);
    EXPECT_EQ(DescribeResults(job->Results()), (Lines{"write 0x40 reg 0x12: 09", "pause 100 ms"}));
}

// A plan step runs as it stands, between the items, with no read of its own.
TEST_F(SettingsJobTest, APlanStepRunsWithoutARead) {
    bus.Answer(0x40, 0x01, {5});
    auto job = MakeJob({JobStep<TestItem>::Run({Step::Write({0x40, 0x30, {0x01}})}), Set(1, 6)});
    EXPECT_EQ(job->Advance(), 100u);
    EXPECT_EQ(job->Advance(), 0u);
    EXPECT_EQ(bus.log, (Lines{"W 40:30 01", "R 40:01", "W 40:11 06"}));
    EXPECT_EQ(job->Failures(), 0u);
}

// A job of stated pauses that notes when each of its steps ran.
class PausingJob final : public BoardJob {
public:
    PausingJob(std::vector<std::uint32_t> pauses, const std::uint64_t& clock, std::vector<std::string>& trace, char name)
        : pauses_(std::move(pauses)), clock_(clock), trace_(trace), name_(name) {}
    bool Done() const override { return next_ > pauses_.size(); }
    std::uint32_t Advance() override {
        trace_.push_back(std::string(1, name_) + std::to_string(next_) + "@" + std::to_string(clock_));
        return next_ < pauses_.size() ? pauses_[next_++] : (++next_, 0u);
    }

private:
    std::vector<std::uint32_t> pauses_;
    const std::uint64_t& clock_;
    std::vector<std::string>& trace_;
    char name_;
    std::size_t next_ = 0;
};

class ClockSleeper final : public Sleeper {
public:
    void Sleep(unsigned ms) override { now += ms; }
    std::uint64_t now = 0;
};

TEST(SideBySideTest, WhileOneBoardWaitsTheNextOnesTransfersGoAndEachKeepsItsPauses) {
    ClockSleeper clock;
    std::vector<std::string> trace;
    PausingJob a({100, 100, 100}, clock.now, trace, 'a');
    PausingJob b({100, 100, 100}, clock.now, trace, 'b');
    PausingJob c({50}, clock.now, trace, 'c');
    RunSideBySide({&a, &b, &c}, clock);
    EXPECT_EQ(trace, (std::vector<std::string>{"a0@0", "b0@0", "c0@0", "c1@50", "a1@100", "b1@100", "a2@200",
                                               "b2@200", "a3@300", "b3@300"}));
    // Three boards of 300 ms each take 300 ms, not 650.
    EXPECT_EQ(clock.now, 300u);
}

TEST(SideBySideTest, OneJobRunsAsItWouldAlone) {
    ClockSleeper clock;
    std::vector<std::string> trace;
    PausingJob a({100, 200}, clock.now, trace, 'a');
    RunSideBySide({&a}, clock);
    EXPECT_EQ(trace, (std::vector<std::string>{"a0@0", "a1@100", "a2@300"}));
    ClockSleeper alone;
    std::vector<std::string> aloneTrace;
    PausingJob b({100, 200}, alone.now, aloneTrace, 'a');
    RunToEnd(b, alone);
    EXPECT_EQ(aloneTrace, trace);
}

}  // namespace
