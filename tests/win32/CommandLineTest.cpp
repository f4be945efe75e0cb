// HalvornController.exe started with --list and --apply-profile, as a script or Task Scheduler
// starts it: its output redirected, its exit status read, its log beside Profile.ini.
#include <nlohmann/json.hpp>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "WineTest.h"
#include "app/CommandLineRun.h"
#include "support/CommandLineCases.h"
#include "support/WindowLoadApply.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

Lines SplitLines(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string ReadAll(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

class Win32CommandLine : public wine::WineTest {
protected:
    // Runs not about the start-up guard go without it, so that none waits out its guard time.
    wine::DriverRun RunProgram(std::vector<std::string> arguments, int timeoutMs = 60000) {
        bool apply = false, guardGiven = false;
        for (const std::string& argument : arguments) {
            apply = apply || argument == "--apply-profile";
            guardGiven = guardGiven || argument.rfind("--guard=", 0) == 0 || argument == "--rearm";
        }
        if (apply && !guardGiven) arguments.push_back("--guard=0");
        return WineTest::RunProgram(arguments, timeoutMs);
    }

    void WriteProfile(const std::string& text) { std::ofstream(Folder() + "/Profile.ini", std::ios::binary) << text; }
    std::string LogPath(const char* name = "HalvornController.log") const { return Folder() + "/" + name; }
    Lines Traffic() const {
        Lines lines;
        for (const wine::Transfer& t : Transfers()) lines.push_back(std::string(1, t.kind) + " gpu" + std::to_string(t.gpu) + " " + t.rest);
        return lines;
    }
};

TEST_F(Win32CommandLine, ListPrintsEveryBoardOfTheBuiltInMachineAndLogsIt) {
    const wine::DriverRun run = RunProgram({"--list"});
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, exit_status::kDone) << run.Transcript();
    EXPECT_EQ(run.lines, cli_cases::DefaultMachineListing());
    EXPECT_EQ(run.errors, "");

    // The log holds the same lines between a heading with the time and the exit status.
    Lines log = SplitLines(ReadAll(LogPath()));
    ASSERT_EQ(log.size(), cli_cases::DefaultMachineListing().size() + 2) << ReadAll(LogPath());
    EXPECT_EQ(log.front().rfind("-- ", 0), 0u);
    EXPECT_EQ(log.front().substr(log.front().size() - 7), " --list");
    EXPECT_EQ(log.back(), "-- exit status 0");
    EXPECT_EQ(Lines(log.begin() + 1, log.end() - 1), cli_cases::DefaultMachineListing());
}

TEST_F(Win32CommandLine, JsonAndADryRunWorkInTheWindowsProgramToo) {
    const wine::DriverRun list = RunProgram({"--list", "--json"});
    ASSERT_FALSE(list.timedOut);
    EXPECT_EQ(list.exitCode, exit_status::kDone) << list.Transcript();
    std::string text;
    for (const std::string& line : list.lines) text += line + "\n";
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << text;
    EXPECT_EQ(document["command"], "list");
    EXPECT_EQ(document["exitStatus"], 0);
    ASSERT_EQ(document["boards"].size(), 3u);
    EXPECT_EQ(document["boards"][1]["board"], "RTX 3080 Ti through its MCU");

    UseScenario(cli_cases::MixedMachine());
    WriteProfile(cli_cases::kProfileIni);
    const std::size_t before = Transfers().size();
    const wine::DriverRun dry = RunProgram({"--apply-profile", "--dry-run"});
    EXPECT_EQ(dry.exitCode, exit_status::kDone) << dry.Transcript();
    ASSERT_FALSE(dry.lines.empty());
    EXPECT_NE(dry.lines[0].find("would apply"), std::string::npos) << dry.Transcript();
    std::size_t writes = 0;
    const std::vector<wine::Transfer> transfers = Transfers();
    for (std::size_t i = before; i < transfers.size(); ++i) writes += transfers[i].kind == 'W' ? 1 : 0;
    EXPECT_EQ(writes, 1u) << "only the detection's handshake";
}

TEST_F(Win32CommandLine, ApplyProfileMakesTheWindowsLoadAndApplyTraffic) {
    // The program pauses for real and the test nvapi.dll logs transfers only.
    const Lines expected = window_reference::LoadThenApply(cli_cases::MixedMachine(), cli_cases::kProfileIni,
                                                           cli_cases::kProfileEntries, false);
    ASSERT_FALSE(expected.empty());
    UseScenario(cli_cases::MixedMachine());
    WriteProfile(cli_cases::kProfileIni);

    const wine::DriverRun run = RunProgram({"--apply-profile"});

    EXPECT_EQ(run.exitCode, exit_status::kDone) << run.Transcript();
    EXPECT_EQ(run.lines, cli_cases::MixedMachineApplied());
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(window_reference::ByGpu(Traffic()), window_reference::ByGpu(expected));
}

struct StatusCase {
    const char* name;
    friend void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }
    std::string scenario;
    const char* profileIni;  // null: no Profile.ini
    bool nvapiDll;
    const char* command;
    int status;
    const char* error;  // the start of the last line on standard error
};

class Win32ExitStatus : public Win32CommandLine, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(Win32ExitStatus, EndsWithItsStatusAndSaysWhyInTheConsoleAndTheLog) {
    const StatusCase& c = GetParam();
    UseScenario(c.scenario);
    if (c.profileIni) WriteProfile(c.profileIni);
    InstallNvApi(c.nvapiDll);

    const wine::DriverRun run = RunProgram({c.command});

    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, c.status) << run.Transcript();
    const Lines errors = SplitLines(run.errors);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().rfind(c.error, 0), 0u) << errors.back();
    const Lines log = SplitLines(ReadAll(LogPath()));
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], errors.back());
    EXPECT_EQ(log.back(), "-- exit status " + std::to_string(c.status));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Win32ExitStatus,
    ::testing::Values(
        StatusCase{"ATransferFails", cli_cases::MixedMachine(cli_cases::kSilentFbvdd), cli_cases::kProfileIni, true,
                   "--apply-profile", exit_status::kBoardFailed,
                   "HalvornController: GPU 3 NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti at its regulators]: 2 transfers "
                   "failed"},
        StatusCase{"NoProfileIni", cli_cases::MixedMachine(), nullptr, true, "--apply-profile",
                   exit_status::kNoProfile, "HalvornController: no profile for GPU 0, GPU 3: Z:\\"},
        // A mistaken switch is told in the log as well, for the task that started it.
        StatusCase{"AMistakenSwitch", cli_cases::MixedMachine(), cli_cases::kProfileIni, true, "--apply-profle",
                   exit_status::kUsage, "HalvornController: unknown switch --apply-profle; see --help"},
        StatusCase{"NoSupportedBoard", cli_cases::kNoBoardMachine, cli_cases::kProfileIni, true, "--apply-profile",
                   exit_status::kNoSupportedBoard, "HalvornController: Device not support."},
        StatusCase{"NoNvApiDll", cli_cases::MixedMachine(), cli_cases::kProfileIni, false, "--list",
                   exit_status::kNvApiFailed, "HalvornController: NV Control initialize failed!"},
        StatusCase{"NvApiFails", cli_cases::kNvApiFailingMachine, cli_cases::kProfileIni, true, "--list",
                   exit_status::kNvApiFailed, "HalvornController: NV Control initialize failed!"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Win32CommandLine, WhileTheWindowIsOpenNothingIsDone) {
    WriteProfile(cli_cases::kProfileIni);
    const pid_t window = StartProgram();
    const wine::DriverRun started = Drive({"wait-main", "20000"});
    ASSERT_TRUE(started.ok()) << started.Transcript();
    MarkLog();

    const wine::DriverRun run = RunProgram({"--apply-profile"});

    EXPECT_EQ(run.exitCode, exit_status::kWindowOpen) << run.Transcript();
    EXPECT_EQ(run.lines, Lines{});
    EXPECT_EQ(run.errors,
              "HalvornController: the RTX Halvorn Controller window is open, or another run is at work; close it and "
              "try again");
    EXPECT_TRUE(TransfersSinceMark().empty()) << "the refused run touched no board";
    EXPECT_TRUE(IsRunning(window));
    CloseProgram(window);
}

TEST_F(Win32CommandLine, AFullLogMakesWayForANewOne) {
    const std::string old(70 * 1024, 'x');
    std::ofstream(LogPath(), std::ios::binary) << old;
    std::ofstream(LogPath("HalvornController.old.log"), std::ios::binary) << "older";

    EXPECT_EQ(RunProgram({"--list"}).exitCode, exit_status::kDone);
    EXPECT_EQ(ReadAll(LogPath("HalvornController.old.log")), old);
    const Lines log = SplitLines(ReadAll(LogPath()));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front().rfind("-- ", 0), 0u);
    EXPECT_EQ(log.back(), "-- exit status 0");

    // Below the limit the log grows.
    EXPECT_EQ(RunProgram({"--list"}).exitCode, exit_status::kDone);
    EXPECT_EQ(SplitLines(ReadAll(LogPath())).size(), 2 * log.size());
    EXPECT_EQ(ReadAll(LogPath("HalvornController.old.log")), old);
}

TEST_F(Win32CommandLine, HelpNamesTheSwitchesAndExitStatuses) {
    const wine::DriverRun run = RunProgram({"--help"});
    EXPECT_EQ(run.exitCode, 0) << run.Transcript();
    std::string text;
    for (const std::string& line : run.lines) text += line + "\n";
    for (const char* part : {"Usage: HalvornController", "--list", "--apply-profile", "  5  the profile file",
                             "--gpu=ID", "--profile=FILE", "--strict", "HalvornController.log"})
        EXPECT_NE(text.find(part), std::string::npos) << part << " in\n" << text;
    EXPECT_EQ(text.find("--simulate"), std::string::npos) << "the Windows program has no simulator switch";
    EXPECT_FALSE(fs::exists(LogPath())) << "help is no run to log";
}

// A mistyped or misplaced switch of ours ends the program with status 2 and says why: no window
// opens for a script to wait on.
TEST_F(Win32CommandLine, AMistakenSwitchIsRefusedWithoutAWindow) {
    const struct {
        std::vector<std::string> arguments;
        std::string error;
    } cases[] = {
        {{"--lsit"}, "HalvornController: unknown switch --lsit; see --help"},
        {{"--apply-profle"}, "HalvornController: unknown switch --apply-profle; see --help"},
        {{"--dry-run"}, "HalvornController: --dry-run goes with --apply-profile; see --help"},
        {{"--guard=5"}, "HalvornController: --guard goes with --apply-profile; see --help"},
        {{"--apply-profile", "--guard", "30"},
         "HalvornController: --guard takes its value in the same argument: --guard=SECONDS; see --help"},
        {{"--simulate", "--list"}, "HalvornController: unknown switch --simulate; see --help"},
    };
    for (const auto& c : cases) {
        const wine::DriverRun run = WineTest::RunProgram(c.arguments, 30000);
        ASSERT_FALSE(run.timedOut) << c.arguments.front() << ": a window opened";
        EXPECT_EQ(run.exitCode, exit_status::kUsage) << run.Transcript();
        EXPECT_EQ(SplitLines(run.errors), Lines{c.error});
        EXPECT_TRUE(run.lines.empty()) << run.Transcript();
        EXPECT_EQ(Transfers().size(), 0u) << "nothing reaches the boards";
    }
}

// Cards named by their PCI bus id, which the simulated NvAPI library gives as the driver does.
TEST_F(Win32CommandLine, CardsArePickedByTheirBusId) {
    const wine::DriverRun run = RunProgram({"--list", "--gpu=21:00.0", "--json"});
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, exit_status::kDone) << run.Transcript();
    std::string text;
    for (const std::string& line : run.lines) text += line + "\n";
    const nlohmann::json doc = nlohmann::json::parse(text);
    ASSERT_EQ(doc["boards"].size(), 1u) << text;
    EXPECT_EQ(doc["boards"][0]["busId"], "0000:21:00.0");
    EXPECT_EQ(doc["boards"][0]["board"], "RTX 3080 Ti through its MCU");
    EXPECT_EQ(doc["schemaVersion"], 1);

    const wine::DriverRun missing = RunProgram({"--list", "--gpu=0000:99:00.0"});
    EXPECT_EQ(missing.exitCode, exit_status::kUsage) << missing.Transcript();
    EXPECT_NE(missing.errors.find("--gpu: no GPU has the bus id 0000:99:00.0"), std::string::npos) << missing.errors;
}

}  // namespace

namespace {

// The start-up guard's cycle in the Windows program: a crash (the waiting program killed), the next
// boot (another HALVORN_BOOT_ID) writing nothing, --rearm applying and removing its guard in time.
TEST_F(Win32CommandLine, AfterACrashTheNextBootWritesNothingUntilRearmed) {
    UseScenario(cli_cases::MixedMachine());
    WriteProfile(cli_cases::kProfileIni);
    const std::string guardPath = Folder() + "/HalvornController.guard";

    SetBootId("boot-A");
    const pid_t applying = StartProgram({"--apply-profile"});
    ASSERT_GT(applying, 0);
    // The run's lines and its status go to the log before the wait begins.
    bool waiting = false;
    for (int i = 0; i < 600 && !waiting; ++i) {
        waiting = ReadAll(LogPath()).find("-- exit status 0") != std::string::npos;
        if (!waiting) {
            ASSERT_FALSE(WaitForExit(applying, 100)) << "the program ended instead of waiting";
        }
    }
    ASSERT_TRUE(waiting) << ReadAll(LogPath());
    EXPECT_TRUE(IsRunning(applying));
    EXPECT_NE(ReadAll(guardPath).find("\nboot=boot-A\n"), std::string::npos) << ReadAll(guardPath);
    kill(applying, SIGKILL);
    WaitForExit(applying, 10000);
    ASSERT_TRUE(fs::exists(guardPath));

    SetBootId("boot-B");
    MarkLog();
    const wine::DriverRun refused = RunProgram({"--apply-profile"});
    EXPECT_EQ(refused.exitCode, exit_status::kGuarded) << refused.Transcript();
    EXPECT_TRUE(TransfersSinceMark().empty()) << "nothing reaches the boards";
    EXPECT_NE(refused.errors.find("was followed by a restart within 120 s, so it was not applied again; check it, "
                                  "then run `HalvornController --apply-profile --rearm`"),
              std::string::npos)
        << refused.Transcript();
    const Lines log = SplitLines(ReadAll(LogPath()));
    ASSERT_GE(log.size(), 2u);
    EXPECT_NE(log[log.size() - 2].find("was followed by a restart"), std::string::npos);
    EXPECT_EQ(log.back(), "-- exit status 7");

    const wine::DriverRun json = RunProgram({"--apply-profile", "--json"});
    EXPECT_EQ(json.exitCode, exit_status::kGuarded);
    std::string text;
    for (const std::string& line : json.lines) text += line + "\n";
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << text;
    EXPECT_EQ(document["exitStatus"], 7);
    EXPECT_EQ(document["guard"]["state"], "crash");
    EXPECT_TRUE(TransfersSinceMark().empty());

    // --rearm: applied, guarded in boot B, and the guard gone once its second has passed.
    const wine::DriverRun rearmed = RunProgram({"--apply-profile", "--rearm", "--guard=1"});
    EXPECT_EQ(rearmed.exitCode, exit_status::kDone) << rearmed.Transcript();
    EXPECT_EQ(rearmed.lines, cli_cases::MixedMachineApplied());
    std::size_t writes = 0;
    for (const wine::Transfer& t : TransfersSinceMark()) writes += t.kind == 'W' ? 1 : 0;
    EXPECT_GT(writes, 2u);
    EXPECT_FALSE(fs::exists(guardPath));

    // Boot C applies.
    SetBootId("boot-C");
    EXPECT_EQ(RunProgram({"--apply-profile", "--guard=1"}).exitCode, exit_status::kDone);
}

}  // namespace
