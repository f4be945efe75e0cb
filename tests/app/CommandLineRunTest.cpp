// --list and --apply-profile in the core: the real detection and controllers on simulated boards.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "profile/PrivateProfileFile.h"
#include "profile/ProfileStore.h"
#include "AppFixture.h"
#include "app/CommandLine.h"
#include "app/CommandLineRun.h"
#include "sim/Scenario.h"
#include "support/CommandLineCases.h"
#include "support/ScratchDirectory.h"
#include "support/WindowLoadApply.h"

namespace app_test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The command line as both programs parse it: our own "--" switches strict, the window's rules
// for everything else.
struct ParseCase {
    const char* name;
    friend void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }
    std::vector<std::wstring> arguments;
    Command command;
    std::wstring usageError;  // empty: none
};

class ParseCommandLineTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseCommandLineTest, OurSwitchesAreStrictAndTheWindowsRulesHoldForTheRest) {
    const CommandLine line = ParseCommandLine(GetParam().arguments, FrontEndSwitches{true, true});
    EXPECT_EQ(line.usageError, GetParam().usageError);
    if (GetParam().usageError.empty()) {
        EXPECT_EQ(line.command, GetParam().command);
    }
    EXPECT_EQ(line.RunsWithoutWindow(), GetParam().command != Command::Window || !GetParam().usageError.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseCommandLineTest,
    ::testing::Values(
        ParseCase{"None", {}, Command::Window, L""},
        ParseCase{"InternalTestOnly", {L"internalTest"}, Command::Window, L""},
        ParseCase{"OtherSwitchesArePassedOver", {L"--simulate", L"/x", L"-platform", L"internalTest"}, Command::Window, L""},
        ParseCase{"List", {L"--simulate", L"--list"}, Command::List, L""},
        ParseCase{"ApplyAfterTheFileName", {L"internalTest", L"--apply-profile"}, Command::ApplyProfile, L""},
        ParseCase{"HelpWins", {L"--list", L"--help"}, Command::Help, L""},
        ParseCase{"VersionWinsOverHelp", {L"--help", L"--version"}, Command::Version, L""},
        ParseCase{"AllTheApplySwitches",
                  {L"--apply-profile", L"--dry-run", L"--json", L"--strict", L"--rearm", L"--guard=30",
                   L"--gpu=01:00.0,0000:02:00.0", L"--profile=rig.ini"},
                  Command::ApplyProfile, L""},
        ParseCase{"Typo", {L"--lsit"}, Command::Window, L"unknown switch --lsit; see --help"},
        ParseCase{"TypoOfTheCommand", {L"--apply-profle"}, Command::Window, L"unknown switch --apply-profle; see --help"},
        ParseCase{"SwitchesAreCaseSensitive", {L"--LIST"}, Command::Window, L"unknown switch --LIST; see --help"},
        ParseCase{"TypoBesideACommand", {L"--list", L"--jsn"}, Command::List, L"unknown switch --jsn; see --help"},
        ParseCase{"DryRunAlone", {L"--dry-run"}, Command::Window, L"--dry-run goes with --apply-profile; see --help"},
        ParseCase{"JsonAlone", {L"--json"}, Command::Window, L"--json goes with --list or --apply-profile; see --help"},
        ParseCase{"RearmAlone", {L"--rearm"}, Command::Window, L"--rearm goes with --apply-profile; see --help"},
        ParseCase{"GuardAlone", {L"--guard=5"}, Command::Window, L"--guard goes with --apply-profile; see --help"},
        ParseCase{"GuardWithList", {L"--list", L"--guard=5"}, Command::List,
                  L"--guard goes with --apply-profile; see --help"},
        ParseCase{"DryRunWithList", {L"--list", L"--dry-run"}, Command::List,
                  L"--dry-run goes with --apply-profile; see --help"},
        ParseCase{"GuardSpaced", {L"--apply-profile", L"--guard", L"30"}, Command::ApplyProfile,
                  L"--guard takes its value in the same argument: --guard=SECONDS; see --help"},
        ParseCase{"ProfileSpaced", {L"--apply-profile", L"--profile", L"rig.ini"}, Command::ApplyProfile,
                  L"--profile takes its value in the same argument: --profile=FILE; see --help"},
        ParseCase{"GuardNotANumber", {L"--apply-profile", L"--guard=1m"}, Command::ApplyProfile,
                  L"--guard= takes a whole number of seconds up to 3600; see --help"},
        ParseCase{"GuardTwice", {L"--apply-profile", L"--guard=1", L"--guard=2"}, Command::ApplyProfile,
                  L"--guard is given twice; see --help"},
        ParseCase{"ValueOnASwitchWithout", {L"--list=1"}, Command::List, L"--list takes no value; see --help"},
        ParseCase{"BadBusId", {L"--list", L"--gpu=1:0.0"}, Command::List,
                  L"--gpu= takes PCI bus ids such as 0000:01:00.0 or 01:00.0, not \"1:0.0\"; see --help"},
        ParseCase{"ScenarioSpacedInARun", {L"--simulate", L"machine.scenario", L"--list"}, Command::List,
                  L"--simulate takes its scenario file in the same argument: --simulate=FILE, not "
                  L"\"machine.scenario\"; see --help"},
        ParseCase{"AFileNameWithACommand", {L"--apply-profile", L"other.ini"}, Command::ApplyProfile,
                  L"\"other.ini\" means nothing to --list and --apply-profile, which take no file name (a profile "
                  L"file is named with --profile=FILE); see --help"},
        ParseCase{"InternalTestWithACommandIsHarmless", {L"internalTest", L"--list"}, Command::List, L""},
        ParseCase{"AFileNameWithTheWindow", {L"--simulate", L"machine.scenario"}, Command::Window, L""},
        ParseCase{"BothCommands", {L"--apply-profile", L"--help", L"--list"}, Command::Window,
                  L"--list and --apply-profile cannot be used together; see --help"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ParseCommandLineTest, TheFileNameAndTheValuesAsGiven) {
    const CommandLine window = ParseCommandLine({L"-x", L"/y", L"internalTest", L"other"});
    EXPECT_TRUE(window.InternalTest());
    EXPECT_FALSE(ParseCommandLine({L"other", L"internalTest"}).InternalTest());
    EXPECT_FALSE(ParseCommandLine({L"internaltest"}).InternalTest());

    const CommandLine run = ParseCommandLine({L"--apply-profile", L"--gpu=0A:00.0,0000:0B:00.0", L"--guard=0",
                                              L"--profile=/etc/rig.ini"});
    EXPECT_EQ(run.gpus, (std::vector<std::wstring>{L"0000:0a:00.0", L"0000:0b:00.0"}));
    ASSERT_TRUE(run.guardSeconds);
    EXPECT_EQ(*run.guardSeconds, 0u);
    EXPECT_EQ(run.profileFile, std::optional<std::wstring>(L"/etc/rig.ini"));
    // The guard time nobody gave: guarded unless a person waits at a terminal, who asked for it
    // with --rearm.
    const struct {
        std::vector<std::wstring> arguments;
        bool personWaiting;
        unsigned seconds;
    } defaults[] = {{{L"--apply-profile"}, false, 120},
                    {{L"--apply-profile"}, true, 0},
                    {{L"--apply-profile", L"--rearm"}, true, 120},
                    {{L"--apply-profile", L"--guard=30"}, false, 30},
                    {{L"--apply-profile", L"--guard=30"}, true, 30}};
    for (const auto& d : defaults) {
        CommandLine line = ParseCommandLine(d.arguments);
        line.FillGuardDefault(d.personWaiting);
        ASSERT_TRUE(line.guardSeconds);
        EXPECT_EQ(*line.guardSeconds, d.seconds);
    }

    // Past a mistake the rest still counts: a refusal asked for as JSON is a document, whatever the order.
    const CommandLine refused = ParseCommandLine({L"--list", L"--lsit", L"--json"});
    EXPECT_EQ(refused.usageError, L"unknown switch --lsit; see --help");
    EXPECT_TRUE(refused.json);
    EXPECT_EQ(refused.command, Command::List);
    EXPECT_TRUE(refused.RunsWithoutWindow());
    EXPECT_EQ(ParseCommandLine({L"--guard", L"--lsit"}).usageError,
              L"--guard takes its value in the same argument: --guard=SECONDS; see --help") << "the first mistake is told";

    // A front end without the simulator or --version does not know them.
    EXPECT_EQ(ParseCommandLine({L"--simulate"}).usageError, L"unknown switch --simulate; see --help");
    EXPECT_EQ(ParseCommandLine({L"--version"}).usageError, L"unknown switch --version; see --help");
    const CommandLine simulated = ParseCommandLine({L"--simulate=a b.scenario"}, FrontEndSwitches{true, true});
    EXPECT_TRUE(simulated.simulate);
    EXPECT_EQ(simulated.scenarioFile, std::optional<std::wstring>(L"a b.scenario"));
    EXPECT_EQ(ParseCommandLine({L"--simulate="}, FrontEndSwitches{true, true}).usageError,
              L"--simulate= names no scenario file");
}

// Each test in a temporary current directory, where Profile.ini is looked for.
class CommandLineRunTest : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        ASSERT_FALSE(scratch_.Path().empty());
        scratch_.Enter();
        dir = scratch_.Path();
    }
    void TearDown() override {
        profiles.Close();
        SimFixture::TearDown();
    }

    void UseScenario(const std::string& text) {
        std::string error;
        ASSERT_TRUE(sim::LoadScenario(text, "test", machine, error)) << error;
    }
    void WriteProfile(const std::string& text) { std::ofstream(dir / "Profile.ini", std::ios::binary) << text; }

    int Run(Command command, const BoardDetector& detect = DetectBoard) {
        switches.command = command;
        return RunCommand(switches, services, RunContext{machine, sleeper, profiles}, output, detect);
    }
    // A command line as the programs parse it.
    int Run(const std::vector<std::wstring>& arguments) {
        return RunCommand(ParseCommandLine(arguments), services, RunContext{machine, sleeper, profiles}, output);
    }
    CommandLine switches;
    Lines Traffic() const {
        Lines lines;
        for (const sim::LogEntry& entry : machine.Log().Entries()) lines.push_back(sim::TransferLog::Format(entry));
        return lines;
    }

    ScratchDirectory scratch_{"halvorn-cli"};
    fs::path dir;
    FakeMachineLock machineLock;
    FakeProcessServices services{machineLock};
    SimSleeper sleeper{machine};
    profile::PrivateProfileFile profileFiles;
    LazyProfileStore profiles{profileFiles};
    RecordedOutput output;
};

TEST_F(CommandLineRunTest, ListShowsEveryBoardOfTheBuiltInMachineInTheWindowsTexts) {
    sim::LoadDefaultScenario(machine);
    EXPECT_EQ(Run(Command::List), exit_status::kDone);
    EXPECT_EQ(output.lines, cli_cases::DefaultMachineListing());
    EXPECT_TRUE(output.errors.empty());
    // Besides the handshake every detection of the MCU makes, nothing is written.
    Lines writes;
    for (const sim::LogEntry& entry : machine.Log().Writes()) writes.push_back(sim::TransferLog::Format(entry));
    EXPECT_EQ(writes, Lines{"W gpu0 p1 5A:B2 [48 4C 56 4E A5] ok"});
}

TEST_F(CommandLineRunTest, ApplyProfileIsTheWindowsLoadAndApplyOnEveryBoardThatTakesAProfile) {
    const std::string scenario = cli_cases::MixedMachine();
    const Lines window =
        window_reference::LoadThenApply(scenario, cli_cases::kProfileIni, cli_cases::kProfileEntries, true);
    ASSERT_FALSE(window.empty());
    UseScenario(scenario);
    WriteProfile(cli_cases::kProfileIni);

    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kDone);

    EXPECT_EQ(window_reference::ByGpu(Traffic()), window_reference::ByGpu(window));
    EXPECT_EQ(output.lines, cli_cases::MixedMachineApplied());
    EXPECT_TRUE(output.errors.empty()) << output.errors.front();
    // The MCU's pauses are taken through the sleeper.
    EXPECT_GT(machine.NowMs(), 0u);
    // The machine's lock on the boards, taken once and given back; the window's own lock is left alone.
    EXPECT_EQ(services.machineLockAttempts, 1);
    EXPECT_FALSE(services.HoldsMachineLock());
    EXPECT_TRUE(services.journal.empty());
}

TEST_F(CommandLineRunTest, TheLockIsHeldWhileTheBoardsAreWorkedOn) {
    sim::LoadDefaultScenario(machine);
    std::vector<bool> freeDuringDetection;
    FakeProcessServices& lock = services;
    const BoardDetector probe = [&](const GpuList& gpus, std::uint32_t gpu) {
        freeDuringDetection.push_back(!lock.HoldsMachineLock());
        return DetectBoard(gpus, gpu);
    };
    EXPECT_EQ(Run(Command::List, probe), exit_status::kDone);
    EXPECT_EQ(freeDuringDetection, (std::vector<bool>{false, false, false, false}));
    EXPECT_FALSE(lock.HoldsMachineLock());
}

struct StatusCase {
    const char* name;
    friend void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }
    std::string scenario;
    const char* profileIni;  // null: no Profile.ini
    bool windowOpen;
    std::vector<std::wstring> arguments;
    int status;
    Lines errors;
};

class ExitStatusTest : public CommandLineRunTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ExitStatusTest, EachOutcomeHasItsOwnStatusAndSaysWhyOnStandardError) {
    const StatusCase& c = GetParam();
    UseScenario(c.scenario);
    if (c.profileIni) WriteProfile(c.profileIni);
    // The window, or another run, of this machine holds the boards.
    FakeProcessServices window{machineLock};
    if (c.windowOpen) {
        ASSERT_TRUE(window.AcquireMachineLock());
    }

    EXPECT_EQ(Run(c.arguments), c.status);

    Lines expected;
    for (const std::string& error : c.errors) {
        std::string line = error;
        const std::size_t at = line.find("{dir}");
        if (at != std::string::npos) line.replace(at, 5, dir.string());
        expected.push_back(line);
    }
    EXPECT_EQ(output.errors, expected);
    EXPECT_FALSE(services.HoldsMachineLock()) << "the lock outlived the run";
    if (c.windowOpen) {
        EXPECT_EQ(machine.NvApiCalls(), 0u) << "nothing may touch NvAPI beside the window";
    }
}

const std::string kGpu0 = "HalvornController: GPU 0 NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti through its MCU]";
const std::string kGpu3 = "HalvornController: GPU 3 NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti at its regulators]";

INSTANTIATE_TEST_SUITE_P(
    Cases, ExitStatusTest,
    ::testing::Values(
        StatusCase{"ATransferFails", cli_cases::MixedMachine(cli_cases::kSilentFbvdd), cli_cases::kProfileIni, false,
                   {L"--apply-profile"}, exit_status::kBoardFailed,
                   {kGpu3 + ": 2 transfers failed; the board may hold only part of the profile"}},
        // Said once for the run, naming the file and what it lacks.
        StatusCase{"NoProfileIni", cli_cases::MixedMachine(), nullptr, false, {L"--apply-profile"},
                   exit_status::kNoProfile,
                   {"HalvornController: no profile for GPU 0, GPU 3: {dir}/Profile.ini does not exist or cannot be read; save one in "
                    "the window first"}},
        StatusCase{"ProfileIniWithoutTheSection", cli_cases::MixedMachine(), "[Other]\r\nNVVDD=200\r\n", false,
                   {L"--apply-profile"}, exit_status::kNoProfile,
                   {"HalvornController: no profile for GPU 0, GPU 3: {dir}/Profile.ini holds no [RTX3080TiZYL] "
                    "section; save one in the window first"}},
        StatusCase{"NoSupportedBoardToList", cli_cases::kNoBoardMachine, nullptr, false, {L"--list"},
                   exit_status::kNoSupportedBoard, {"HalvornController: Device not support."}},
        StatusCase{"NoSupportedBoardToApply", cli_cases::kNoBoardMachine, cli_cases::kProfileIni, false,
                   {L"--apply-profile"}, exit_status::kNoSupportedBoard, {"HalvornController: Device not support."}},
        StatusCase{"OnlyABoardWithoutProfiles",
                   "gpu handle=0x2000 name=\"NVIDIA GeForce RTX 2080 Ti\" subsystem=0x25891B4C vbios=90.02.17.40.88 "
                   "board=rtx2080ti\n",
                   cli_cases::kProfileIni, false, {L"--apply-profile"}, exit_status::kNoSupportedBoard,
                   {"HalvornController: no board that takes a profile (RTX 3080 Ti)"}},
        StatusCase{"NvApiFails", cli_cases::kNvApiFailingMachine, cli_cases::kProfileIni, false, {L"--apply-profile"},
                   exit_status::kNvApiFailed, {"HalvornController: NV Control initialize failed!"}},
        StatusCase{"WindowOpen", cli_cases::MixedMachine(), cli_cases::kProfileIni, true, {L"--apply-profile"},
                   exit_status::kWindowOpen,
                   {"HalvornController: the RTX Halvorn Controller window is open, or another run is at work; close "
                    "it and try again"}},
        StatusCase{"BothSwitches", cli_cases::MixedMachine(), cli_cases::kProfileIni, false,
                   {L"--list", L"--apply-profile"}, exit_status::kUsage,
                   {"HalvornController: --list and --apply-profile cannot be used together; see --help"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(CommandLineRunTest, ABoardWithoutProfilesIsToldAboutEvenWhenNoBoardTakesOne) {
    UseScenario("gpu handle=0x2000 name=\"NVIDIA GeForce RTX 2080 Ti\" subsystem=0x25891B4C vbios=90.02.17.40.88 "
                "board=rtx2080ti\n");
    WriteProfile(cli_cases::kProfileIni);
    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kNoSupportedBoard);
    EXPECT_EQ(output.lines, Lines{"GPU 0 NVIDIA GeForce RTX 2080 Ti [RTX 2080 Ti]: skipped, this board type has no profiles"});
}

TEST_F(CommandLineRunTest, AFailedBoardDoesNotStopTheOthers) {
    UseScenario(cli_cases::MixedMachine(cli_cases::kSilentFbvdd));
    WriteProfile(cli_cases::kProfileIni);
    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kBoardFailed);
    ASSERT_EQ(output.lines.size(), 3u);
    EXPECT_EQ(output.lines[0], cli_cases::MixedMachineApplied()[0]);
    // The panel still shows the profile's FBVDD, since the controllers leave it alone when a read
    // fails; the line says it was not read instead of passing that off as the board's.
    const std::string& direct = output.lines[2];
    EXPECT_EQ(direct.rfind("GPU 3 NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti at its regulators]: tried to apply "
                           "Auto off, NVVDD 1.25000 V, FBVDD 1.43750 V, ",
                           0),
              0u)
        << direct;
    EXPECT_NE(direct.find("; read back Auto off, NVVDD 1.25000 V, FBVDD not read, MSVDD 1.18750 V"), std::string::npos)
        << direct;
}

// Boards whose reads fail: a value that was not read is never shown as the board's.
struct UnreadCase {
    const char* name;
    friend void PrintTo(const UnreadCase& c, std::ostream* os) { *os << c.name; }
    std::string extraScenario;
    Command command;
    int status;
    Lines boardLines;  // the direct board's lines (GPU 3, entry 2 of --list)
    Lines errors;
};

class UnreadBoardTest : public CommandLineRunTest, public ::testing::WithParamInterface<UnreadCase> {};

TEST_P(UnreadBoardTest, WhatWasNotReadIsSaidSo) {
    const UnreadCase& c = GetParam();
    UseScenario(cli_cases::MixedMachine(c.extraScenario));
    WriteProfile(cli_cases::kProfileIni);
    EXPECT_EQ(Run(c.command), c.status);
    Lines board;
    bool inBoard = false;
    for (const std::string& line : output.lines) {
        if (line.rfind("Entry ", 0) == 0 || line.rfind("GPU ", 0) == 0) inBoard = line.find("GPU 3 ") != std::string::npos;
        if (inBoard) board.push_back(line);
    }
    EXPECT_EQ(board, c.boardLines);
    EXPECT_EQ(output.errors, c.errors);
}

const std::string kDirect = "GPU 3 NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti at its regulators]";
const std::string kSilentRegulators =
    "device address=0x40 state=silent\ndevice address=0x44 state=silent\ndevice address=0x7C state=silent\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, UnreadBoardTest,
    ::testing::Values(
        UnreadCase{"ListNothingRead", kSilentRegulators, Command::List, exit_status::kBoardFailed,
                   {"Entry 2: " + kDirect, "  the board could not be read"},
                   {"HalvornController: " + kDirect + ": the board could not be read"}},
        UnreadCase{"ApplyNothingRead", kSilentRegulators, Command::ApplyProfile, exit_status::kBoardFailed,
                   {kDirect + ": tried to apply " + cli_cases::kProfileSettings +
                    "; nothing read back, the board could not be read"},
                   {"HalvornController: " + kDirect + ": 19 transfers failed; the board may hold only part of the profile"}}),
    [](const auto& p) { return std::string(p.param.name); });

// The MCU board's plan for the profile from its power-on state, in the window's order: every
// write with its bytes and the 100 ms after each; MSVDD OCP is already on and stays untouched.
const Lines kMcuPlan = {
    "  write 0x5A reg 0x12: 01 00", "  pause 100 ms", "  write 0x5A reg 0x10: 03 01 C8 00", "  pause 100 ms",
    "  write 0x5A reg 0x18: 03 01 E6 00", "  pause 100 ms", "  write 0x5A reg 0x14: 03 01 BE 00", "  pause 100 ms",
    "  write 0x5A reg 0x13: 01 05", "  pause 100 ms", "  write 0x5A reg 0x17: 01 06", "  pause 100 ms",
    "  write 0x5A reg 0x11: 01 03", "  pause 100 ms", "  write 0x5A reg 0x15: 01 04", "  pause 100 ms"};

TEST_F(CommandLineRunTest, ADryRunPrintsEachBoardsPlanReadsAndWritesNothing) {
    UseScenario(cli_cases::MixedMachine());
    WriteProfile(cli_cases::kProfileIni);
    switches.dryRun = true;

    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kDone);

    Lines writes;
    for (const sim::LogEntry& entry : machine.Log().Writes()) writes.push_back(sim::TransferLog::Format(entry));
    EXPECT_EQ(writes, Lines{"W gpu0 p1 5A:B2 [48 4C 56 4E A5] ok"}) << "only the detection's handshake";
    EXPECT_EQ(machine.NowMs(), 0u) << "a dry run waits out no pause";
    ASSERT_GE(output.lines.size(), 1 + kMcuPlan.size());
    EXPECT_EQ(output.lines[0], "GPU 0 NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti through its MCU]: would apply " +
                                   std::string(cli_cases::kProfileSettings) + "; the plan:");
    EXPECT_EQ(Lines(output.lines.begin() + 1, output.lines.begin() + 1 + static_cast<long>(kMcuPlan.size())),
              kMcuPlan);
    EXPECT_EQ(output.lines[1 + kMcuPlan.size()],
              "GPU 1 NVIDIA GeForce RTX 2080 Ti [RTX 2080 Ti]: skipped, this board type has no profiles");
    EXPECT_TRUE(output.errors.empty());

    // Run for real, the boards then hold the profile and a second dry run has nothing to write.
    switches.dryRun = false;
    output = RecordedOutput();
    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kDone);
    switches.dryRun = true;
    output = RecordedOutput();
    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kDone);
    EXPECT_EQ(output.lines[0], "GPU 0 NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti through its MCU]: would apply " +
                                   std::string(cli_cases::kProfileSettings) +
                                   "; nothing to write, the board holds it");
}

TEST_F(CommandLineRunTest, ADryRunEndsAsARealRunWould) {
    UseScenario(cli_cases::MixedMachine(cli_cases::kSilentFbvdd));
    WriteProfile(cli_cases::kProfileIni);
    switches.dryRun = true;
    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kBoardFailed);
    EXPECT_EQ(output.errors,
              Lines{"HalvornController: GPU 3 NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti at its regulators]: 1 transfer "
                    "failed; the plan may be incomplete"});
    output = RecordedOutput();
    EXPECT_EQ(Run({L"--list", L"--dry-run"}), exit_status::kUsage);
    EXPECT_EQ(output.errors, Lines{"HalvornController: --dry-run goes with --apply-profile; see --help"});
}

nlohmann::json Document(const Lines& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return nlohmann::json::parse(text);
}

TEST_F(CommandLineRunTest, JsonListsEveryBoardWithItsSettingsInUnits) {
    sim::LoadDefaultScenario(machine);
    switches.json = true;
    EXPECT_EQ(Run(Command::List), exit_status::kDone);
    const nlohmann::json doc = Document(output.lines);
    EXPECT_EQ(doc["command"], "list");
    EXPECT_EQ(doc["exitStatus"], 0);
    EXPECT_EQ(doc["dryRun"], false);
    EXPECT_TRUE(doc["errors"].empty());
    ASSERT_EQ(doc["boards"].size(), 3u);
    const nlohmann::json& first = doc["boards"][0];
    EXPECT_EQ(first["entry"], 0);
    EXPECT_EQ(first["gpuIndex"], 1);
    EXPECT_EQ(first["gpuName"], "NVIDIA GeForce RTX 3080 Ti");
    EXPECT_EQ(first["board"], "RTX 3080 Ti at its regulators");
    EXPECT_EQ(first["result"], "listed");
    // Each setting as the window shows it, with its figure in a unit.
    std::map<std::string, nlohmann::json> settings;
    for (const nlohmann::json& setting : first["settings"]) settings[setting["name"]] = setting;
    EXPECT_EQ(settings["Auto"]["value"], true);
    EXPECT_EQ(settings["FBVDD"]["text"], "1.37500 V");
    EXPECT_DOUBLE_EQ(settings["FBVDD"]["value"].get<double>(), 1.375);
    EXPECT_EQ(settings["FBVDD"]["unit"], "V");
    EXPECT_EQ(settings["FBVDD"]["code"], 220);
    EXPECT_DOUBLE_EQ(settings["NV Freq."]["value"].get<double>(), 400.0);
    EXPECT_EQ(settings["NV Freq."]["unit"], "kHz");
    EXPECT_EQ(settings["NVVDD Loadline"]["value"], 1);
    EXPECT_EQ(settings["NVVDD OCP"]["value"], true);
    EXPECT_EQ(settings["NVVDD OCP"]["text"], "Enable");
    EXPECT_EQ(settings.size(), 10u);
}

TEST_F(CommandLineRunTest, JsonSaysWhatWasNotReadAndHowEachBoardEnded) {
    UseScenario(cli_cases::MixedMachine(cli_cases::kSilentFbvdd));
    WriteProfile(cli_cases::kProfileIni);
    switches.json = true;
    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kBoardFailed);
    const nlohmann::json doc = Document(output.lines);
    EXPECT_EQ(doc["command"], "apply-profile");
    EXPECT_EQ(doc["exitStatus"], 1);
    ASSERT_EQ(doc["boards"].size(), 3u);
    EXPECT_EQ(doc["boards"][0]["result"], "applied");
    EXPECT_EQ(doc["boards"][0]["failedTransfers"], 0);
    EXPECT_EQ(doc["boards"][1]["result"], "skipped");
    const nlohmann::json& direct = doc["boards"][2];
    EXPECT_EQ(direct["result"], "tried");
    EXPECT_GT(direct["failedTransfers"].get<int>(), 0);
    nlohmann::json fbvdd;
    for (const nlohmann::json& setting : direct["readBack"])
        if (setting["name"] == "FBVDD") fbvdd = setting;
    EXPECT_EQ(fbvdd["read"], false);
    EXPECT_FALSE(fbvdd.contains("value"));
    EXPECT_FALSE(fbvdd["why"].get<std::string>().empty());
    EXPECT_EQ(doc["errors"].size(), 1u);
    // The errors still go to standard error for people and logs.
    EXPECT_EQ(output.errors.size(), 1u);
}

// The four kinds of problem a hand-written profile has, each told once with its file and line.
const char* kProblemProfile =
    "[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=99999\r\nNVPWM=abc\r\nNVDD=200\r\n; a comment\r\nNVVDD=1.25\r\n";

Lines ProblemWarnings(const fs::path& dir) {
    const std::string file = (dir / "Profile.ini").string();
    return {"HalvornController: warning: " + file +
                ":3: NVVDD=99999 lies outside 128 (0.80000 V) to 256 (1.60000 V); 256 (1.60000 V) is used",
            "HalvornController: warning: " + file + ":4: NVPWM=abc is not a whole number; 3 (300 kHz) is used",
            "HalvornController: warning: " + file +
                ":5: NVDD=200 sets nothing: [RTX3080TiZYL] has no key NVDD; the line is ignored",
            "HalvornController: warning: " + file +
                ":7: NVVDD=1.25 repeats NVVDD of line 3; the first, 99999, is used and this line ignored"};
}

TEST_F(CommandLineRunTest, AProblemInTheProfileIsToldAndAppliedAsTheWindowsLoadAppliesIt) {
    const std::string scenario = cli_cases::MixedMachine();
    const Lines window = window_reference::LoadThenApply(scenario, kProblemProfile, cli_cases::kProfileEntries, true);
    ASSERT_FALSE(window.empty());
    // The window's Load takes the slider's end for NVVDD and the frequency's lowest for "abc".
    EXPECT_NE(std::find(window.begin(), window.end(), "W gpu3 p1 40:21 [00 01] ok"), window.end());
    EXPECT_NE(std::find(window.begin(), window.end(), "W gpu3 p1 40:BD [1E 00] ok"), window.end());
    UseScenario(scenario);
    WriteProfile(kProblemProfile);

    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kDone) << "a warning alone sets no status";

    EXPECT_EQ(window_reference::ByGpu(Traffic()), window_reference::ByGpu(window));
    EXPECT_EQ(output.errors, ProblemWarnings(dir));
    // What was written is called applied; the profile's 99999 is not.
    ASSERT_EQ(output.lines.size(), 3u);
    EXPECT_EQ(output.lines[0].rfind("GPU 0 NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti through its MCU]: applied Auto off, "
                                    "NVVDD 1.60000 V, FBVDD 1.37500 V, MSVDD 1.20000 V, NV Freq. 300 kHz,",
                                    0),
              0u)
        << output.lines[0];
    EXPECT_EQ(output.lines[0].find("624.99375"), std::string::npos);
}

TEST_F(CommandLineRunTest, TheJsonDocumentSaysWhatTheProfileSaidWhatWasAppliedAndWhatWasThereBefore) {
    UseScenario(cli_cases::MixedMachine());
    WriteProfile(kProblemProfile);
    switches.json = true;
    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kDone);
    const nlohmann::json doc = Document(output.lines);
    EXPECT_EQ(doc["schemaVersion"], 1);
    EXPECT_TRUE(doc["version"].is_string() && !doc["version"].get<std::string>().empty());
    ASSERT_EQ(doc["warnings"].size(), 4u);
    const nlohmann::json& first = doc["warnings"][0];
    EXPECT_EQ(first["line"], 3);
    EXPECT_EQ(first["key"], "NVVDD");
    EXPECT_EQ(first["value"], "99999");
    EXPECT_EQ(first["file"], (dir / "Profile.ini").string());
    EXPECT_EQ("HalvornController: warning: " + first["text"].get<std::string>(), ProblemWarnings(dir)[0]);

    const auto setting = [](const nlohmann::json& list, const std::string& key) {
        for (const nlohmann::json& s : list)
            if (s.contains("key") && s["key"] == key) return s;
        return nlohmann::json();
    };
    const nlohmann::json& mcu = doc["boards"][0];
    EXPECT_EQ(mcu["section"], "RTX3080TiZYL");
    EXPECT_EQ(setting(mcu["profile"], "NVVDD")["code"], 99999) << "the profile's value, as the profile's";
    EXPECT_EQ(setting(mcu["applied"], "NVVDD")["code"], 256) << "the one written";
    EXPECT_EQ(setting(mcu["readBack"], "NVVDD")["code"], 256);
    // The board as the read before the apply found it: at power-on, both rails at code 175.
    EXPECT_EQ(setting(mcu["before"], "NVVDD")["code"], 175);
    EXPECT_EQ(setting(mcu["before"], "AUTO")["value"], true);
    EXPECT_EQ(setting(mcu["before"], "NVPWM")["name"], "NV Freq.");
    EXPECT_EQ(setting(mcu["before"], "NVPWM")["code"], 4);
    EXPECT_EQ(mcu["before"].size(), 10u);
}

TEST_F(CommandLineRunTest, StrictTurnsAProblemIntoStatusFiveWithNothingWritten) {
    UseScenario(cli_cases::MixedMachine());
    WriteProfile(kProblemProfile);
    switches.strict = true;
    switches.json = true;
    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kNoProfile);
    Lines writes;
    for (const sim::LogEntry& entry : machine.Log().Writes()) writes.push_back(sim::TransferLog::Format(entry));
    EXPECT_EQ(writes, Lines{"W gpu0 p1 5A:B2 [48 4C 56 4E A5] ok"}) << "only the detection's handshake";
    Lines expected = ProblemWarnings(dir);
    expected.push_back("HalvornController: --strict: the profile has 4 problems (warned above); nothing was written");
    EXPECT_EQ(output.errors, expected);
    const nlohmann::json doc = Document(output.lines);
    EXPECT_EQ(doc["exitStatus"], 5);
    EXPECT_EQ(doc["boards"][0]["result"], "kept back");
    EXPECT_EQ(doc["boards"][2]["result"], "kept back");

    // A profile without problems goes through --strict as it is.
    WriteProfile(cli_cases::kProfileIni);
    output = RecordedOutput();
    switches.json = false;
    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kDone);
    EXPECT_EQ(output.lines, cli_cases::MixedMachineApplied());
}

// Two RTX 3080 Ti cards at known PCI addresses and an RTX 2080 Ti.
const char* kRig =
    "gpu handle=0x1000 name=\"NVIDIA GeForce RTX 3080 Ti\" subsystem=0x39961B4C vbios=94.02.42.40.91 "
    "bus=0000:01:00.0 board=rtx3080ti-mcu\n"
    "gpu handle=0x2000 name=\"NVIDIA GeForce RTX 2080 Ti\" subsystem=0x25891B4C vbios=90.02.17.40.88 "
    "bus=0000:02:00.0 board=rtx2080ti\n"
    "gpu handle=0x3000 name=\"NVIDIA GeForce RTX 3080 Ti\" subsystem=0x39981B4C vbios=94.02.42.40.91 "
    "bus=0000:0a:00.0 board=rtx3080ti-direct\n";

TEST_F(CommandLineRunTest, EachCardTakesItsOwnSectionWhereTheFileHasOneAndTheCommonOneOtherwise) {
    UseScenario(kRig);
    WriteProfile("[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=200\r\n[RTX3080TiZYL 0000:0a:00.0]\r\nAUTO=0\r\nNVVDD=210\r\n");
    switches.json = true;
    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kDone);
    const nlohmann::json doc = Document(output.lines);
    ASSERT_EQ(doc["boards"].size(), 3u);
    EXPECT_EQ(doc["boards"][0]["busId"], "0000:01:00.0");
    EXPECT_EQ(doc["boards"][0]["section"], "RTX3080TiZYL");
    EXPECT_EQ(doc["boards"][1]["busId"], "0000:02:00.0");
    EXPECT_EQ(doc["boards"][2]["section"], "RTX3080TiZYL 0000:0a:00.0");
    const auto nvvdd = [](const nlohmann::json& board) {
        for (const nlohmann::json& s : board["readBack"])
            if (s["name"] == "NVVDD") return s["code"].get<int>();
        return -1;
    };
    EXPECT_EQ(nvvdd(doc["boards"][0]), 200);
    EXPECT_EQ(nvvdd(doc["boards"][2]), 210);

    // Without the common section, a card without its own has no profile: said once, naming the file.
    WriteProfile("[RTX3080TiZYL 0000:0a:00.0]\r\nAUTO=0\r\nNVVDD=190\r\n");
    switches.json = false;
    output = RecordedOutput();
    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kNoProfile);
    EXPECT_EQ(output.errors, Lines{"HalvornController: no profile for GPU 0 (0000:01:00.0): " +
                                   (dir / "Profile.ini").string() +
                                   " holds no [RTX3080TiZYL] section; save one in the window first"});
    ASSERT_EQ(output.lines.size(), 2u);
    EXPECT_EQ(output.lines[0], "GPU 1 (0000:02:00.0) NVIDIA GeForce RTX 2080 Ti [RTX 2080 Ti]: skipped, this board type "
                               "has no profiles");
    EXPECT_EQ(output.lines[1].rfind("GPU 2 (0000:0a:00.0) NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti at its regulators]: "
                                    "applied Auto off, NVVDD 1.18750 V,",
                                    0),
              0u)
        << output.lines[1];
}

// Card sections written as people write them: the short id serves as the full one; a section that
// cannot serve is told, and counts under --strict.
TEST_F(CommandLineRunTest, CardSectionsThatCannotServeAreTold) {
    UseScenario(kRig);
    WriteProfile("[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=200\r\n"
                 "[rtx3080tizyl 0A:00.0]\r\nAUTO=0\r\nNVVDD=210\r\n"  // line 4: the short id, any case
                 "[RTX3080TiZYL 0000:05:00.0]\r\nNVVDD=190\r\n"        // line 7: no such card here
                 "[RTX3080TiZYL card two]\r\nNVVDD=190\r\n"            // line 9: no bus id
                 "[RTX3080TiZYL]\r\nNVVDD=180\r\n"                     // line 11: never read
                 "[RTX3080TiZYL 0000:01:00.0]\r\n; nothing yet\r\n");  // line 13: empty
    switches.json = true;
    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kDone);
    const nlohmann::json doc = Document(output.lines);
    EXPECT_EQ(doc["boards"][2]["section"], "rtx3080tizyl 0A:00.0");
    EXPECT_EQ(doc["boards"][0]["section"], "RTX3080TiZYL");
    const std::string file = (dir / "Profile.ini").string();
    EXPECT_EQ(output.errors,
              (Lines{"HalvornController: warning: " + file +
                         ":7: [RTX3080TiZYL 0000:05:00.0] names no GPU of this machine (its GPUs are 0000:01:00.0, "
                         "0000:02:00.0, 0000:0a:00.0); it is not used",
                     "HalvornController: warning: " + file +
                         ":9: [RTX3080TiZYL card two] names no PCI bus id such as 0000:01:00.0; it is not used",
                     "HalvornController: warning: " + file +
                         ":11: [RTX3080TiZYL] repeats the section of line 1; it is never read",
                     "HalvornController: warning: " + file +
                         ":13: [RTX3080TiZYL 0000:01:00.0] holds no KEY=value line; its card takes [RTX3080TiZYL]"}));
    EXPECT_EQ(doc["warnings"].size(), 4u);
    EXPECT_EQ(doc["warnings"][0]["line"], 7);

    output = RecordedOutput();
    switches.strict = true;
    switches.json = false;
    machine.Log().Clear();
    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kNoProfile);
    for (const sim::LogEntry& entry : machine.Log().Writes())
        EXPECT_NE(sim::TransferLog::Format(entry).find("5A:B2 [48 4C 56 4E A5]"), std::string::npos)
            << "only the detection's handshake: " << sim::TransferLog::Format(entry);
}

TEST_F(CommandLineRunTest, GpuPicksCardsByBusIdAndLeavesTheOthersUntouched) {
    UseScenario(kRig);
    WriteProfile(cli_cases::kProfileIni);
    switches.gpus = {L"0000:0a:00.0"};
    EXPECT_EQ(Run(Command::List), exit_status::kDone);
    ASSERT_FALSE(output.lines.empty());
    EXPECT_EQ(output.lines[0], "Entry 0: GPU 2 (0000:0a:00.0) NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti at its regulators]");
    for (const sim::LogEntry& entry : machine.Log().Entries())
        EXPECT_EQ(sim::TransferLog::Format(entry).rfind("R gpu2 ", 0), 0u) << sim::TransferLog::Format(entry);

    // A card that is not there ends the run before anything reaches a board, naming it.
    machine.Log().Clear();
    output = RecordedOutput();
    switches.gpus = {L"0000:01:00.0", L"0000:05:00.0"};
    EXPECT_EQ(Run(Command::ApplyProfile), exit_status::kUsage);
    EXPECT_EQ(output.errors, Lines{"HalvornController: --gpu: no GPU has the bus id 0000:05:00.0; the GPUs here are "
                                   "0000:01:00.0, 0000:02:00.0, 0000:0a:00.0"});
    EXPECT_TRUE(machine.Log().Entries().empty());
}

TEST(HelpTextTest, NamesEverySwitchAndExitStatus) {
    std::wstring text;
    for (const std::wstring& line : HelpText(L"HalvornController", {L"  --simulate  extra"})) text += line + L"\n";
    for (const wchar_t* part : {L"Usage: HalvornController", L"--list", L"--apply-profile", L"--help",
                                L"--simulate  extra", L"  0  done", L"  1  a transfer", L"  2  the command line",
                                L"  3  no supported board", L"  4  NvAPI", L"  5  the profile file", L"  6  the window",
                                L"--gpu=ID", L"--profile=FILE", L"--strict", L"Writing Profile.ini by hand"})
        EXPECT_NE(text.find(part), std::wstring::npos) << Narrow(part);
}

}  // namespace
}  // namespace app_test
