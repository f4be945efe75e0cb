// The start-up guard of --apply-profile: the whole cycle on simulated boards, with the guard file,
// this boot's identity and the clocks in the test's hands. A "crash" is a run whose wait never
// comes; a new boot is a new boot identity.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "AppFixture.h"
#include "app/CommandLine.h"
#include "app/CommandLineRun.h"
#include "app/StartupGuard.h"
#include "profile/PrivateProfileFile.h"
#include "sim/Scenario.h"
#include "support/CommandLineCases.h"
#include "support/ScratchDirectory.h"

namespace app_test {
namespace {

// The command line as a front end hands it on for a run nobody watches: the guard's default filled in.
CommandLine Unattended(const std::vector<std::wstring>& arguments) {
    CommandLine line = ParseCommandLine(arguments);
    line.FillGuardDefault(false);
    return line;
}

using Lines = std::vector<std::string>;
using startup_guard::GuardFile;
using startup_guard::StartupGuard;
using startup_guard::WaitEnd;

// The guard file as a value; what reading it meets can be set.
class MemoryGuardFile final : public GuardFile {
public:
    Found Read(std::string& bytes, std::wstring& why) override {
        if (readAs != Found::Read) {
            why = L"as set";
            return readAs;
        }
        if (!content) return Found::None;
        bytes = *content;
        return Found::Read;
    }
    bool Write(const std::string& bytes, std::wstring& why) override {
        if (!writeError.empty()) {
            why = writeError;
            return false;
        }
        content = bytes;
        ++writes;
        return true;
    }
    bool Remove(std::wstring& why) override {
        if (!removeError.empty()) {
            why = removeError;
            return false;
        }
        content.reset();
        readAs = Found::Read;
        return true;
    }
    std::wstring Path() const override { return L"/home/u/HalvornController.guard"; }

    std::optional<std::string> content;
    Found readAs = Found::Read;  // anything else: what Read reports instead of the content
    std::wstring writeError;
    std::wstring removeError;
    int writes = 0;
};

// A machine's clocks that move only when the guard sleeps, and its boot identity.
class TestClock final : public startup_guard::BootClock {
public:
    std::string BootId() override { return bootId; }
    std::uint64_t RunningMs() override { return runningMs; }
    std::uint64_t SinceBootMs() override { return sinceBootMs; }
    std::string LocalTime() override { return "2024-05-01 21:04:11"; }
    bool Sleep(unsigned milliseconds) override {
        sleeps.push_back(milliseconds);
        if (stopAtMs && runningMs >= *stopAtMs) return false;
        runningMs += milliseconds;
        sinceBootMs += milliseconds;
        if (onSleep) onSleep();
        return true;
    }
    void HoldStops() override { ++holds; }
    int holds = 0;
    // A new boot: another identity, the clocks from zero.
    void Boot(std::string id) {
        bootId = std::move(id);
        runningMs = sinceBootMs = 0;
    }
    // The machine sleeps: only the clock that counts sleep moves.
    void Suspend(std::uint64_t ms) { sinceBootMs += ms; }

    std::string bootId = "boot-A";
    std::uint64_t runningMs = 30000;
    std::uint64_t sinceBootMs = 30000;
    std::optional<std::uint64_t> stopAtMs;
    std::function<void()> onSleep;
    std::vector<unsigned> sleeps;
};

const char* const kCrashWords =
    "HalvornController: the profile applied at 2024-05-01 21:04:11 was followed by a restart within 120 s, so it "
    "was not applied again; check it, then run `HalvornController --apply-profile --rearm`";

class StartupGuardTest : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        ASSERT_FALSE(scratch_.Path().empty());
        scratch_.Enter();
        std::ofstream(scratch_.Path() / "Profile.ini", std::ios::binary) << cli_cases::kProfileIni;
        PowerOn(machine);
    }
    void TearDown() override {
        SimFixture::TearDown();
        later_.clear();
    }

    void PowerOn(sim::SimMachine& target) {
        std::string error;
        ASSERT_TRUE(sim::LoadScenario(cli_cases::MixedMachine(), "test", target, error)) << error;
    }

    // The boards lose power: a fresh machine in their power-on state takes the runs from now on.
    void PowerOnAgain() {
        later_.push_back(std::make_unique<sim::SimMachine>());
        PowerOn(*later_.back());
        current = later_.back().get();
    }

    // One process's run: its own guard on the shared file and clock. Returns the guard, for its wait.
    std::unique_ptr<StartupGuard> Run(std::vector<std::wstring> arguments, int expectedStatus) {
        output = RecordedOutput{};
        arguments.push_back(L"--apply-profile");
        arguments.push_back(L"--json");
        auto guard = std::make_unique<StartupGuard>(file, clock);
        sim::MachineSleeper pauses(*current);
        profile::PrivateProfileFile files;  // a process of its own: its own store
        LazyProfileStore profiles(files);
        current->Log().Clear();
        EXPECT_EQ(RunCommand(Unattended(arguments), services, RunContext{*current, pauses, profiles}, output,
                             DetectBoard, nullptr, guard.get()),
                  expectedStatus)
            << ::testing::PrintToString(output.errors);
        std::string text;
        for (const std::string& line : output.lines) text += line + "\n";
        document = nlohmann::json::parse(text, nullptr, false);
        EXPECT_FALSE(document.is_discarded()) << text;
        EXPECT_EQ(document["exitStatus"], expectedStatus);
        EXPECT_FALSE(services.HoldsMachineLock()) << "the lock is let go before the wait";
        return guard;
    }
    // Register writes of the last run, the detection's MCU handshake left out.
    Lines SettingWrites() const {
        Lines writes;
        for (const sim::LogEntry& entry : current->Log().Writes()) {
            const std::string text = sim::TransferLog::Format(entry);
            if (text.find("5A:B2 [48 4C 56 4E A5]") == std::string::npos) writes.push_back(text);
        }
        return writes;
    }
    std::size_t Transfers() const { return current->Log().Entries().size(); }
    startup_guard::Record Guard() const {
        startup_guard::Record record;
        EXPECT_TRUE(file.content && startup_guard::Parse(*file.content, record)) << file.content.value_or("(none)");
        return record;
    }

    ScratchDirectory scratch_{"halvorn-guard"};
    std::vector<std::unique_ptr<sim::SimMachine>> later_;
    sim::SimMachine* current = &machine;
    FakeProcessServices services;
    RecordedOutput output;
    nlohmann::json document;
    MemoryGuardFile file;
    TestClock clock;
};

TEST_F(StartupGuardTest, ACrashWithinTheGuardTimeKeepsTheProfileBackAtTheNextBootUntilRearmed) {
    // Boot A: applied, guarded before the first write.
    clock.runningMs = 31000;
    auto first = Run({}, exit_status::kDone);
    EXPECT_FALSE(SettingWrites().empty());
    const startup_guard::Record armed = Guard();
    EXPECT_EQ(armed.bootId, "boot-A");
    EXPECT_EQ(armed.seconds, 120u);
    EXPECT_EQ(armed.runningMs, 31000u);
    EXPECT_EQ(armed.appliedAt, "2024-05-01 21:04:11");
    EXPECT_EQ(document["guard"]["state"], "armed");
    EXPECT_EQ(document["guard"]["seconds"], 120);
    // The machine dies within the guard time: the wait never comes.
    first.reset();

    // Boot B: nothing reaches the boards, not even NvAPI's start; the words say what to do.
    clock.Boot("boot-B");
    PowerOnAgain();
    auto refused = Run({}, exit_status::kGuarded);
    EXPECT_EQ(Transfers(), 0u);
    ASSERT_EQ(output.errors.size(), 1u);
    EXPECT_EQ(output.errors[0], kCrashWords);
    EXPECT_EQ(document["errors"][0], std::string(kCrashWords).substr(std::string("HalvornController: ").size()));
    EXPECT_EQ(document["guard"]["state"], "crash");
    EXPECT_EQ(document["guard"]["earlierApply"]["appliedAt"], "2024-05-01 21:04:11");
    EXPECT_EQ(document["guard"]["file"], "/home/u/HalvornController.guard");
    EXPECT_EQ(document["boards"].size(), 0u);
    EXPECT_EQ(refused->Wait(), WaitEnd::Passed);
    EXPECT_TRUE(file.content) << "a refused start leaves the guard for the next one";
    EXPECT_TRUE(clock.sleeps.empty());

    // Again in the same boot B: still refused, the guard is from boot A.
    Run({}, exit_status::kGuarded);
    EXPECT_EQ(Transfers(), 0u);

    // --rearm with a run that then writes nothing (--strict finds a problem): the guard stays, for
    // the next unattended start.
    std::ofstream(scratch_.Path() / "Profile.ini", std::ios::binary) << "[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=999\r\n";
    Run({L"--rearm", L"--strict"}, exit_status::kNoProfile);
    EXPECT_TRUE(SettingWrites().empty());
    EXPECT_EQ(Guard().bootId, "boot-A");
    std::ofstream(scratch_.Path() / "Profile.ini", std::ios::binary) << cli_cases::kProfileIni;

    // --rearm: the guard goes, the profile is applied, guarded again in this boot.
    clock.runningMs = clock.sinceBootMs = 50000;
    auto rearmed = Run({L"--rearm"}, exit_status::kDone);
    EXPECT_FALSE(SettingWrites().empty());
    EXPECT_EQ(Guard().bootId, "boot-B");
    EXPECT_EQ(document["guard"]["rearmed"], true);
    EXPECT_EQ(document["guard"]["state"], "armed");

    // The guard time passes: the wait sleeps to the apply plus 120 s of running, then removes it.
    EXPECT_EQ(rearmed->Wait(), WaitEnd::Passed);
    EXPECT_EQ(clock.runningMs, 50000u + 120000u);
    EXPECT_FALSE(file.content);
    for (unsigned step : clock.sleeps) EXPECT_LE(step, 1000u);

    // Boot C applies, on boards that lost what was written.
    clock.Boot("boot-C");
    PowerOnAgain();
    Run({}, exit_status::kDone);
    EXPECT_FALSE(SettingWrites().empty());
}

TEST_F(StartupGuardTest, AGuardOfThisSameBootIsNoCrash) {
    auto first = Run({}, exit_status::kDone);
    first.reset();  // killed, but the machine runs on
    clock.runningMs += 5000;
    auto second = Run({}, exit_status::kDone);
    EXPECT_EQ(Guard().runningMs, clock.runningMs);
    EXPECT_EQ(second->Wait(), WaitEnd::Passed);
    EXPECT_FALSE(file.content);
}

TEST_F(StartupGuardTest, AResumeWithinTheGuardTimeIsAppliedAgainAndTheEarlierWaitLeavesItsGuard) {
    auto atBoot = Run({}, exit_status::kDone);
    const std::string bootGuard = *file.content;

    // The machine sleeps 10 minutes while the first run waits; the boards forget everything.
    clock.Suspend(600000);
    clock.runningMs += 2000;
    PowerOnAgain();
    auto afterResume = Run({}, exit_status::kDone);
    EXPECT_FALSE(SettingWrites().empty()) << "the profile goes back onto the boards";
    EXPECT_NE(*file.content, bootGuard);

    // The first run notices the sleep, ends its wait and leaves the resume's guard alone.
    const std::uint64_t resumeApply = clock.runningMs;
    EXPECT_EQ(atBoot->Wait(), WaitEnd::Slept);
    EXPECT_EQ(clock.sleeps, std::vector<unsigned>{5000}) << "the GPUs' time to come back";
    ASSERT_TRUE(file.content);
    EXPECT_EQ(Guard().runningMs, resumeApply);

    EXPECT_EQ(afterResume->Wait(), WaitEnd::Passed);
    EXPECT_FALSE(file.content);
}

TEST_F(StartupGuardTest, ASleepDuringTheWaitEndsItAndTheProgramAppliesAgainGuarded) {
    auto run = Run({}, exit_status::kDone);
    clock.onSleep = [&] {
        if (clock.sleeps.size() == 3) clock.Suspend(60000);
    };
    EXPECT_EQ(run->Wait(), WaitEnd::Slept);
    EXPECT_EQ(clock.sleeps, (std::vector<unsigned>{1000, 1000, 1000, 5000}));
    EXPECT_FALSE(file.content);

    // As the program does then, since the start the resume makes is dropped while it still runs.
    clock.onSleep = nullptr;
    PowerOnAgain();
    auto again = Run({}, exit_status::kDone);
    EXPECT_FALSE(SettingWrites().empty());
    EXPECT_EQ(Guard().runningMs, clock.runningMs);
    EXPECT_EQ(again->Wait(), WaitEnd::Passed);
    EXPECT_FALSE(file.content);
}

TEST_F(StartupGuardTest, ACleanStopDuringTheWaitRemovesTheGuard) {
    auto run = Run({}, exit_status::kDone);
    clock.stopAtMs = clock.runningMs + 10000;
    EXPECT_EQ(run->Wait(), WaitEnd::Stopped);
    EXPECT_EQ(clock.runningMs, *clock.stopAtMs);
    EXPECT_FALSE(file.content);
}

TEST_F(StartupGuardTest, AGuardThatCannotBeRemovedAfterTheWaitIsSaid) {
    auto run = Run({}, exit_status::kDone);
    file.removeError = L"Permission denied";
    EXPECT_EQ(run->Wait(), WaitEnd::Passed);
    EXPECT_NE(Narrow(run->ClearError()).find("Permission denied"), std::string::npos);
    EXPECT_NE(Narrow(run->ClearError()).find("--rearm"), std::string::npos);
}

struct BadGuardCase {
    const char* name;
    friend void PrintTo(const BadGuardCase& c, std::ostream* os) { *os << c.name; }
    GuardFile::Found found;
    const char* content;  // when found is Read
    const char* said;
};

class BadGuardTest : public StartupGuardTest, public ::testing::WithParamInterface<BadGuardCase> {};

TEST_P(BadGuardTest, CountsAsACrashNamedByItsPathUntilRearmed) {
    const BadGuardCase& c = GetParam();
    clock.Boot("boot-B");
    file.readAs = c.found;
    if (c.content) file.content = c.content;
    Run({}, exit_status::kGuarded);
    EXPECT_EQ(Transfers(), 0u);
    ASSERT_EQ(output.errors.size(), 1u);
    EXPECT_NE(output.errors[0].find("/home/u/HalvornController.guard"), std::string::npos) << output.errors[0];
    EXPECT_NE(output.errors[0].find(c.said), std::string::npos) << output.errors[0];
    EXPECT_NE(output.errors[0].find("--apply-profile --rearm"), std::string::npos) << output.errors[0];
    EXPECT_EQ(document["guard"]["state"], "bad guard");

    Run({L"--rearm"}, exit_status::kDone);
    EXPECT_FALSE(SettingWrites().empty());
    EXPECT_EQ(Guard().bootId, "boot-B");
}

// A whole guard, to take apart.
const char* const kWhole =
    "HalvornController start-up guard 1\nboot=boot-A\nappliedAt=2024-05-01 21:04:11\nrunningMs=31000\n"
    "seconds=120\nprofile=0123456789abcdef\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, BadGuardTest,
    ::testing::Values(
        BadGuardCase{"Unreadable", GuardFile::Found::Unreadable, nullptr, "cannot be read"},
        BadGuardCase{"NotARegularFile", GuardFile::Found::NotRegular, nullptr, "is not a regular file"},
        BadGuardCase{"SomeoneElses", GuardFile::Found::ForeignOwner, nullptr, "belongs to someone else"},
        BadGuardCase{"Garbage", GuardFile::Found::Read, "\x7f" "ELF\x01\x01 not a guard", "is damaged"},
        BadGuardCase{"Empty", GuardFile::Found::Read, "", "is damaged"},
        BadGuardCase{"TornLastLine", GuardFile::Found::Read,
                     "HalvornController start-up guard 1\nboot=boot-A\nappliedAt=2024-05-01 21:04:11\n"
                     "runningMs=31000\nseconds=120\nprofile=0123456789ab",
                     "is damaged"},
        BadGuardCase{"ZeroSeconds", GuardFile::Found::Read,
                     "HalvornController start-up guard 1\nboot=boot-A\nappliedAt=2024-05-01 21:04:11\n"
                     "runningMs=31000\nseconds=0\nprofile=0123456789abcdef\n",
                     "is damaged"},
        BadGuardCase{"ThisBootButDamaged", GuardFile::Found::Read,
                     "HalvornController start-up guard 1\nboot=boot-B\nappliedAt=2024-05-01 21:04:11\n"
                     "runningMs=x\nseconds=120\nprofile=0123456789abcdef\n",
                     "is damaged"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(StartupGuardTest, AWholeGuardReadsBack) {
    startup_guard::Record record;
    ASSERT_TRUE(startup_guard::Parse(kWhole, record));
    EXPECT_EQ(startup_guard::Format(record), kWhole);
    EXPECT_EQ(record.seconds, 120u);
    EXPECT_EQ(record.bootId, "boot-A");
}

TEST_F(StartupGuardTest, AGuardThatCannotBeRecordedMeansNoSettingWritten) {
    for (const wchar_t* why : {L"No space left on device", L"Read-only file system"}) {
        SCOPED_TRACE(Narrow(why));
        file.writeError = why;
        auto run = Run({}, exit_status::kGuarded);
        EXPECT_EQ(SettingWrites(), Lines{});
        ASSERT_EQ(output.errors.size(), 1u);
        EXPECT_NE(output.errors[0].find(Narrow(why)), std::string::npos) << output.errors[0];
        EXPECT_NE(output.errors[0].find("no setting was written"), std::string::npos) << output.errors[0];
        EXPECT_EQ(document["guard"]["state"], "not recorded");
        EXPECT_EQ(run->Wait(), WaitEnd::Passed);
        EXPECT_TRUE(clock.sleeps.empty());
    }
}

TEST_F(StartupGuardTest, WithoutABootIdentityNothingIsWrittenUnlessTheGuardIsOff) {
    clock.bootId.clear();
    Run({}, exit_status::kGuarded);
    EXPECT_EQ(SettingWrites(), Lines{});
    ASSERT_EQ(output.errors.size(), 1u);
    EXPECT_NE(output.errors[0].find("boot's identity cannot be read"), std::string::npos);
    Run({L"--guard=0"}, exit_status::kDone);
    EXPECT_FALSE(SettingWrites().empty());
}

TEST_F(StartupGuardTest, GuardZeroAndADryRunRecordNothingAndWaitForNothing) {
    auto off = Run({L"--guard=0"}, exit_status::kDone);
    EXPECT_EQ(file.writes, 0);
    EXPECT_EQ(document["guard"]["state"], "off");
    EXPECT_EQ(off->Wait(), WaitEnd::Passed);

    auto dry = Run({L"--dry-run"}, exit_status::kDone);
    EXPECT_EQ(file.writes, 0);
    EXPECT_EQ(document["guard"]["state"], "dry run");
    EXPECT_EQ(dry->Wait(), WaitEnd::Passed);
    EXPECT_TRUE(clock.sleeps.empty());

    // A dry run after a crash ends as the real run would, and --rearm --dry-run removes nothing.
    file.content = kWhole;
    clock.Boot("boot-B");
    Run({L"--dry-run"}, exit_status::kGuarded);
    EXPECT_EQ(Transfers(), 0u);
    Run({L"--dry-run", L"--rearm"}, exit_status::kDone);
    EXPECT_EQ(file.content, std::string(kWhole));
}

TEST_F(StartupGuardTest, TheGuardTimeIsTheOneGiven) {
    auto run = Run({L"--guard=5"}, exit_status::kDone);
    EXPECT_EQ(Guard().seconds, 5u);
    const std::uint64_t applied = clock.runningMs;
    EXPECT_EQ(run->Wait(), WaitEnd::Passed);
    EXPECT_EQ(clock.runningMs, applied + 5000);
}

struct SwitchCase {
    const char* name;
    friend void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.name; }
    std::vector<std::wstring> arguments;
};

class GuardSwitchTest : public StartupGuardTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(GuardSwitchTest, AMistakenGuardSwitchIsAUsageError) {
    const std::vector<std::wstring>& arguments = GetParam().arguments;
    auto guard = std::make_unique<StartupGuard>(file, clock);
    sim::MachineSleeper pauses(machine);
    profile::PrivateProfileFile files;
    LazyProfileStore profiles(files);
    EXPECT_EQ(RunCommand(Unattended(arguments), services, RunContext{machine, pauses, profiles}, output,
                         DetectBoard, nullptr, guard.get()),
              exit_status::kUsage);
    EXPECT_EQ(Transfers(), 0u);
    EXPECT_EQ(file.writes, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GuardSwitchTest,
    ::testing::Values(SwitchCase{"NotANumber", {L"--apply-profile", L"--guard=two"}},
                      SwitchCase{"Empty", {L"--apply-profile", L"--guard="}},
                      SwitchCase{"Negative", {L"--apply-profile", L"--guard=-5"}},
                      SwitchCase{"BeyondAnHour", {L"--apply-profile", L"--guard=3601"}},
                      SwitchCase{"GuardWithList", {L"--list", L"--guard=5"}},
                      SwitchCase{"RearmWithList", {L"--list", L"--rearm"}}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace app_test
