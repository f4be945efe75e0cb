// Whatever the user does and whatever the boards answer, the program writes only to the devices
// and registers its board controllers are meant to write, and only voltages from the sliders'
// ranges or the few fixed values the boards need. Randomised, bounded and seeded.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "profile/PrivateProfileFile.h"
#include "profile/ProfileStore.h"
#include "app/CHalvornApp.h"
#include "headless/HeadlessDialogFramework.h"
#include "sim/MachineSleeper.h"
#include "sim/Scenario.h"
#include "support/BoardFixture.h"
#include "support/OnlyInstance.h"
#include "support/ScratchDirectory.h"
#include "support/WritePolicy.h"

namespace {

namespace fs = std::filesystem;
using write_policy::Bytes;

class SafetyTest : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        ASSERT_FALSE(scratch_.Path().empty());
        scratch_.Enter();
    }

    void RunSession(std::uint32_t seed) {
        std::mt19937 random(seed);
        machine = sim::SimMachine();
        sim::LoadDefaultScenario(machine);
        // Some runs start with a board that answers nonsense or a transfer that fails at start-up.
        if (random() % 3 == 0) machine.FailTransferAt(1 + random() % 12);

        HeadlessDialogFramework framework;
        OnlyInstance services;
        sim::MachineSleeper sleeper(machine);
        const int steps = 40;
        framework.AddSession([&](HeadlessDialog& window) {
            write_policy::PlayRandomSession(window, random, machine, scratch_.Path(), steps);
        });
        profile::PrivateProfileFile files;
        LazyProfileStore profiles(files);
        CHalvornApp app(framework, services, RunContext{machine, sleeper, profiles}, {});
        app.InitInstance();
        write_policy::CheckWrites(machine, "seed " + std::to_string(seed));
    }

private:
    ScratchDirectory scratch_{"halvorn-safety"};
};

// The sessions to run: 300 from seed 1 unless HALVORN_SAFETY_SEED (the first seed) or
// HALVORN_SAFETY_SESSIONS (how many) say otherwise; the README shows a long run.
struct SeedRange {
    std::uint64_t first = 1;
    std::uint64_t count = 300;
};

// False, with the reason, for a value that is not a whole decimal number from `min` to `max`.
bool EnvironmentNumber(const char* name, std::uint64_t min, std::uint64_t max, std::uint64_t& value,
                       std::string& error) {
    const char* text = std::getenv(name);
    if (text == nullptr) return true;
    std::uint64_t number = 0;
    bool digits = false;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || number > (max - static_cast<std::uint64_t>(*c - '0')) / 10) {
            digits = false;
            break;
        }
        number = number * 10 + static_cast<std::uint64_t>(*c - '0');
        digits = true;
    }
    if (!digits || number < min) {
        error = std::string(name) + "=" + text + " is not a number from " + std::to_string(min) + " to " +
                std::to_string(max);
        return false;
    }
    value = number;
    return true;
}

TEST_F(SafetyTest, RandomSessionsWriteOnlyWhatTheBoardsAllow) {
    constexpr std::uint64_t kLastSeed = UINT32_MAX;
    SeedRange seeds;
    std::string error;
    ASSERT_TRUE(EnvironmentNumber("HALVORN_SAFETY_SEED", 0, kLastSeed, seeds.first, error)) << error;
    ASSERT_TRUE(EnvironmentNumber("HALVORN_SAFETY_SESSIONS", 1, kLastSeed - seeds.first + 1, seeds.count, error))
        << error;

    // Each failed check is one violation; a failing session still lets the rest run.
    const ::testing::TestResult& result = *::testing::UnitTest::GetInstance()->current_test_info()->result();
    const auto failedChecks = [&result] {
        std::size_t failed = 0;
        for (int i = 0; i < result.total_part_count(); ++i) failed += result.GetTestPartResult(i).failed() ? 1 : 0;
        return failed;
    };
    constexpr std::size_t kSeedsShown = 1000;
    std::size_t writes = 0;
    std::size_t violations = 0;
    std::vector<std::uint64_t> failingSeeds;
    for (std::uint64_t seed = seeds.first; seed < seeds.first + seeds.count; ++seed) {
        const std::size_t before = failedChecks();
        RunSession(static_cast<std::uint32_t>(seed));
        writes += machine.Log().Writes().size();
        const std::size_t found = failedChecks() - before;
        if (found == 0) continue;
        violations += found;
        // The first failing session's transfers; the later ones repeat with their seed.
        if (failingSeeds.empty()) ADD_FAILURE() << "first failing seed: " << seed << "\n" << machine.Log().Dump();
        failingSeeds.push_back(seed);
    }
    std::ostringstream summary;
    summary << seeds.count << " sessions from seed " << seeds.first << ": " << violations << " violations in "
            << failingSeeds.size() << " sessions";
    for (std::size_t i = 0; i < failingSeeds.size() && i < kSeedsShown; ++i)
        summary << (i == 0 ? "; failing seeds: " : ", ") << failingSeeds[i];
    if (failingSeeds.size() > kSeedsShown) summary << " and " << failingSeeds.size() - kSeedsShown << " more";
    std::cout << summary.str() << std::endl;
    EXPECT_TRUE(failingSeeds.empty()) << summary.str();
    // The sessions must have reached the boards, or the check above proves nothing.
    EXPECT_GT(writes, seeds.count);
}

// The checker itself: hand-made traffic of the direct RTX 3080 Ti controller on GPU 0, each case
// with the number of writes it must object to.
using write_policy::Transfer;
sim::LogEntry Rd(std::uint8_t device, std::uint8_t reg, Bytes bytes) {
    return Transfer(sim::LogEntry::Kind::Read, device, reg, std::move(bytes));
}
sim::LogEntry Wr(std::uint8_t device, std::uint8_t reg, Bytes bytes) {
    return Transfer(sim::LogEntry::Kind::Write, device, reg, std::move(bytes));
}

TEST(SafetyCheckTest, ObjectsToWritesTheDirectControllerCannotMake) {
    struct Case {
        const char* what;
        std::vector<sim::LogEntry> log;
        std::size_t violations;
    };
    // OCP enabled and disabled on regulators whose other bits are all set.
    const std::vector<sim::LogEntry> enable = {
        Rd(0x40, 0xEC, {0xFF, 0xFF}), Wr(0x40, 0xEC, {0xFF, 0xBF}), Rd(0x40, 0x44, {0xF0, 0xF0}),
        Wr(0x40, 0x44, {0xF0, 0xF8}), Rd(0x40, 0xEE, {0xFF, 0xFF}), Wr(0x40, 0xEE, {0x7F, 0xFF}),
        Wr(0x40, 0x6A, {0x63, 0x01})};
    const std::vector<sim::LogEntry> disable = {
        Rd(0x7C, 0xEC, {0xFF, 0xFF}), Wr(0x7C, 0xEC, {0xFF, 0x9F}), Rd(0x7C, 0x44, {0xFF, 0xFF}),
        Wr(0x7C, 0x44, {0xFF, 0xF7}), Rd(0x7C, 0xEE, {0xFF, 0xFF}), Wr(0x7C, 0xEE, {0x3F, 0xFF}),
        Wr(0x7C, 0x6A, {0xA3, 0x02})};
    auto with = [](std::vector<sim::LogEntry> log, std::size_t at, sim::LogEntry replacement) {
        log.at(at) = std::move(replacement);
        return log;
    };
    const Case cases[] = {
        {"OCP enabled", enable, 0},
        {"OCP disabled", disable, 0},
        {"OCP of a typed list: 0xEC and 0xEE off, 0x44 and 0x6A on",
         {Rd(0x40, 0xEC, {0x00, 0x21}), Wr(0x40, 0xEC, {0x00, 0x01}), Rd(0x40, 0x44, {0x00, 0x00}),
          Wr(0x40, 0x44, {0x00, 0x08}), Rd(0x40, 0xEE, {0x4A, 0x00}), Wr(0x40, 0xEE, {0x0A, 0x00}),
          Wr(0x40, 0x6A, {0x63, 0x01})},
         0},
        {"OCP enabled with the limit of a disabled one", with(enable, 6, Wr(0x40, 0x6A, {0xA3, 0x02})), 1},
        {"OCP disabled but the companion bit set", with(disable, 3, Wr(0x7C, 0x44, {0xFF, 0xFF})), 1},
        {"OCP enabled with both bits of 0x60", with(enable, 1, Wr(0x40, 0xEC, {0xFF, 0xFF})), 1},
        {"OCP byte 0 of 0xEC changed", with(enable, 1, Wr(0x40, 0xEC, {0x00, 0xBF})), 1},
        {"0xEE bits 6-7 as 10", with(enable, 5, Wr(0x40, 0xEE, {0xBF, 0xFF})), 1},
        {"OCP write without its read", {Wr(0x40, 0xEC, {0x00, 0x21})}, 1},
        {"loadline 5 on 0xFF", {Rd(0x40, 0x1E, {0xFF}), Wr(0x40, 0x1E, {0xD5}), Wr(0x40, 0x06, {0x08})}, 0},
        {"loadline keeping bit 5", {Rd(0x40, 0x1E, {0xFF}), Wr(0x40, 0x1E, {0xF5}), Wr(0x40, 0x06, {0x08})}, 1},
        {"loadline losing bit 6", {Rd(0x7C, 0x1E, {0x40}), Wr(0x7C, 0x1E, {0x05}), Wr(0x7C, 0x06, {0x08})}, 1},
        {"loadline step of another level", {Rd(0x40, 0x1E, {0x41}), Wr(0x40, 0x1E, {0x4C}), Wr(0x40, 0x06, {0x08})}, 1},
        {"loadline step after a failed read", {Wr(0x40, 0x06, {0x10})}, 0},
        {"fixed voltage: both bits", {Rd(0x40, 0xE1, {0x00, 0x00}), Wr(0x40, 0xE1, {0x10, 0x20})}, 0},
        {"fixed voltage: byte 1 bit forgotten", {Rd(0x7C, 0xE1, {0x00, 0x00}), Wr(0x7C, 0xE1, {0x10, 0x00})}, 1},
        {"automatic: both cleared", {Rd(0x40, 0xE1, {0xFF, 0xFF}), Wr(0x40, 0xE1, {0xEF, 0xDF})}, 0},
        {"memory rail fixed, byte 1 kept", {Rd(0x44, 0xE1, {0x08, 0x42}), Wr(0x44, 0xE1, {0x18, 0x42})}, 0},
        {"memory rail with the core rails' byte 1 bit", {Rd(0x44, 0xE1, {0x08, 0x42}), Wr(0x44, 0xE1, {0x18, 0x62})}, 1},
        {"memory rail rewritten although already fixed", {Rd(0x44, 0xE1, {0x18, 0x42}), Wr(0x44, 0xE1, {0x18, 0x42})}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::string> found = write_policy::Violations(c.log, {{0, write_policy::Controller::Direct}});
        EXPECT_EQ(found.size(), c.violations) << ::testing::PrintToString(found);
    }
}

}  // namespace
