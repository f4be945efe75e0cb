// The HalvornController program started with --list and --apply-profile, as a script or a log-on
// unit starts it: a process without a display, its output and exit status read from outside.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ostream>
#include <string>
#include <vector>

#include "app/CommandLineRun.h"
#include "gpu/GpuList.h"
#include "gpu/NvApi.h"
#include "platform/qt/QtBusy.h"
#include "platform/qt/QtProcessServices.h"
#include "profile/PrivateProfileFile.h"
#include "profile/ProfileStore.h"
#include "sim/MachineSleeper.h"
#include "sim/Scenario.h"
#include "support/CommandLineCases.h"
#include "support/WindowLoadApply.h"

namespace qt_test {
namespace {

using Lines = std::vector<std::string>;

// A run's standard output as the one JSON document it should be; discarded when it is not one.
nlohmann::json Document(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return nlohmann::json::parse(text, nullptr, false);
}

Lines SplitLines(const QByteArray& bytes) {
    Lines lines;
    for (const QByteArray& line : bytes.split('\n'))
        if (!line.isEmpty()) lines.push_back(line.toStdString());
    return lines;
}

class ProgramRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(runtimeDir.isValid());
        ASSERT_TRUE(workDir.isValid());
        environment = QProcessEnvironment::systemEnvironment();
        // A run without the window must not need a display: with this platform and no display
        // a QApplication would abort.
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
        environment.insert(QStringLiteral("HALVORN_SIM_LOG"), Path("sim.log"));
    }
    void TearDown() override {
        if (window.state() == QProcess::NotRunning) return;
        window.kill();
        window.waitForFinished(10000);
    }

    QString Path(const char* name) const { return QDir(workDir.path()).filePath(QString::fromLatin1(name)); }
    void WriteFile(const char* name, const std::string& text) const {
        QFile file(Path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.data(), static_cast<qint64>(text.size()));
    }

    struct Result {
        int status = -1;
        Lines out;
        Lines errors;
    };
    // Runs not about the start-up guard go without it, so that none waits out its guard time.
    Result Run(QStringList arguments) {
        const bool guardGiven = std::any_of(arguments.begin(), arguments.end(), [](const QString& argument) {
            return argument.startsWith(QStringLiteral("--guard=")) || argument == QStringLiteral("--rearm");
        });
        if (arguments.contains(QStringLiteral("--apply-profile")) && !guardGiven)
            arguments.append(QStringLiteral("--guard=0"));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(workDir.path());
        program.start(QStringLiteral(HALVORN_CONTROLLER_PATH), arguments);
        Result result;
        EXPECT_TRUE(program.waitForFinished(30000)) << "still running";
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        result.status = program.exitCode();
        result.out = SplitLines(program.readAllStandardOutput());
        result.errors = SplitLines(program.readAllStandardError());
        return result;
    }
    Lines SimulatorLog() const {
        QFile file(Path("sim.log"));
        return file.open(QIODevice::ReadOnly) ? SplitLines(file.readAll()) : Lines{};
    }

    QTemporaryDir runtimeDir;
    QTemporaryDir workDir;
    QProcessEnvironment environment;
    QProcess window;
};

TEST_F(ProgramRun, ListPrintsEveryBoardOfTheBuiltInMachineInTheWindowsTexts) {
    const Result run = Run({QStringLiteral("--simulate"), QStringLiteral("--list")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, cli_cases::DefaultMachineListing());
    EXPECT_EQ(run.errors, Lines{});
}

TEST_F(ProgramRun, ApplyProfileMakesTheWindowsLoadAndApplyTraffic) {
    // The program pauses for real and logs no pauses; the transfers must be the window's.
    const Lines expected = window_reference::LoadThenApply(cli_cases::MixedMachine(), cli_cases::kProfileIni,
                                                           cli_cases::kProfileEntries, false);
    ASSERT_FALSE(expected.empty());
    WriteFile("mixed.scenario", cli_cases::MixedMachine());
    WriteFile("Profile.ini", cli_cases::kProfileIni);

    const Result run = Run({QStringLiteral("--apply-profile"), QStringLiteral("--simulate=mixed.scenario")});

    EXPECT_EQ(run.status, exit_status::kDone);
    EXPECT_EQ(run.out, cli_cases::MixedMachineApplied());
    EXPECT_EQ(run.errors, Lines{});
    EXPECT_EQ(window_reference::ByGpu(SimulatorLog()), window_reference::ByGpu(expected));
}

TEST_F(ProgramRun, ADryRunWritesNothingAndJsonIsOneDocument) {
    WriteFile("mixed.scenario", cli_cases::MixedMachine());
    WriteFile("Profile.ini", cli_cases::kProfileIni);

    const Result dry = Run({QStringLiteral("--apply-profile"), QStringLiteral("--dry-run"),
                            QStringLiteral("--simulate=mixed.scenario")});
    EXPECT_EQ(dry.status, exit_status::kDone);
    ASSERT_FALSE(dry.out.empty());
    EXPECT_NE(dry.out[0].find(": would apply "), std::string::npos) << dry.out[0];
    Lines writes;
    for (const std::string& line : SimulatorLog())
        if (line.rfind("W ", 0) == 0) writes.push_back(line);
    EXPECT_EQ(writes, Lines{"W gpu0 p1 5A:B2 [48 4C 56 4E A5] ok"}) << "only the detection's handshake";

    const Result json = Run({QStringLiteral("--list"), QStringLiteral("--json"), QStringLiteral("--simulate")});
    EXPECT_EQ(json.status, exit_status::kDone);
    const nlohmann::json document = Document(json.out);
    ASSERT_FALSE(document.is_discarded()) << ::testing::PrintToString(json.out);
    EXPECT_EQ(document["exitStatus"], 0);
    EXPECT_EQ(document["boards"].size(), 3u);
}

// Finding the boards writes the MCU's handshake on every start, a dry run's included: the help
// promises exactly that and no more.
TEST_F(ProgramRun, HelpSaysADryRunWritesNoSettingOnlyTheHandshake) {
    const Result run = Run({QStringLiteral("--help")});
    std::string text;
    for (const std::string& line : run.out) text += line + "\n";
    EXPECT_EQ(text.find("write nothing"), std::string::npos) << text;
    for (const char* part : {"writes no setting", "handshake", "register 0xB2"})
        EXPECT_NE(text.find(part), std::string::npos) << part << " in\n" << text;
}

TEST_F(ProgramRun, HelpNamesTheSimulatorSwitchesAndTheExitStatuses) {
    const Result run = Run({QStringLiteral("--help")});
    EXPECT_EQ(run.status, 0);
    std::string text;
    for (const std::string& line : run.out) text += line + "\n";
    for (const char* part : {"Usage: HalvornController", "--list", "--apply-profile", "--simulate=FILE",
                             "  0  done", "  6  the window"})
        EXPECT_NE(text.find(part), std::string::npos) << part << " in\n" << text;
}

// A mistaken switch of ours ends the program with status 2 and one line saying why, with no display
// needed: a window would abort here, since the environment names a display server and has none.
TEST_F(ProgramRun, AMistakenSwitchEndsWithStatusTwoInsteadOfOpeningTheWindow) {
    const struct {
        QStringList arguments;
        std::string error;
    } cases[] = {
        {{"--lsit"}, "HalvornController: unknown switch --lsit; see --help"},
        {{"--apply-profle"}, "HalvornController: unknown switch --apply-profle; see --help"},
        {{"--simulate", "--dry-run"}, "HalvornController: --dry-run goes with --apply-profile; see --help"},
        {{"--rearm"}, "HalvornController: --rearm goes with --apply-profile; see --help"},
        {{"--guard=5"}, "HalvornController: --guard goes with --apply-profile; see --help"},
        {{"--simulate", "--apply-profile", "--guard", "30"},
         "HalvornController: --guard takes its value in the same argument: --guard=SECONDS; see --help"},
        {{"--simulate", "machine.scenario", "--list"},
         "HalvornController: --simulate takes its scenario file in the same argument: --simulate=FILE, not "
         "\"machine.scenario\"; see --help"},
    };
    for (const auto& c : cases) {
        const Result run = Run(c.arguments);
        EXPECT_EQ(run.status, exit_status::kUsage) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(run.errors, Lines{c.error});
        EXPECT_EQ(run.out, Lines{});
    }
    // With --json the refusal is a document too, saying what the status says.
    const Result json = Run({QStringLiteral("--json")});
    EXPECT_EQ(json.status, exit_status::kUsage);
    const nlohmann::json document = Document(json.out);
    ASSERT_FALSE(document.is_discarded()) << ::testing::PrintToString(json.out);
    EXPECT_EQ(document["exitStatus"], 2);
    EXPECT_EQ(document["errors"], nlohmann::json::array({"--json goes with --list or --apply-profile; see --help"}));
    EXPECT_EQ(SimulatorLog(), Lines{}) << "nothing reached a board";

    // A scenario that cannot be loaded, likewise.
    const Result scenario = Run({QStringLiteral("--simulate=none.scenario"), QStringLiteral("--list"),
                                 QStringLiteral("--json")});
    EXPECT_EQ(scenario.status, exit_status::kUsage);
    const nlohmann::json refusal = Document(scenario.out);
    ASSERT_FALSE(refusal.is_discarded()) << ::testing::PrintToString(scenario.out);
    EXPECT_EQ(refusal["exitStatus"], 2);
    EXPECT_EQ(refusal["command"], "list");
    ASSERT_EQ(scenario.errors.size(), 1u);
    EXPECT_NE(scenario.errors[0].find("none.scenario"), std::string::npos) << scenario.errors[0];
}

TEST_F(ProgramRun, ProfileReadsTheFileItNamesAndTheGuardGoesBesideIt) {
    WriteFile("mixed.scenario", cli_cases::MixedMachine());
    ASSERT_TRUE(QDir(workDir.path()).mkdir(QStringLiteral("rig")));
    WriteFile("rig/cards.ini", cli_cases::kProfileIni);

    const Result run = Run({QStringLiteral("--apply-profile"), QStringLiteral("--simulate=mixed.scenario"),
                            QStringLiteral("--profile=rig/cards.ini"), QStringLiteral("--dry-run"),
                            QStringLiteral("--json")});
    EXPECT_EQ(run.status, exit_status::kDone) << ::testing::PrintToString(run.errors);
    const nlohmann::json document = Document(run.out);
    ASSERT_FALSE(document.is_discarded()) << ::testing::PrintToString(run.out);
    EXPECT_EQ(document["boards"][0]["result"], "planned");
    EXPECT_EQ(document["guard"]["file"], Path("rig/HalvornController.guard").toStdString());

    // A file that is not there: status 5, said once with its path.
    const Result missing = Run({QStringLiteral("--apply-profile"), QStringLiteral("--simulate=mixed.scenario"),
                                QStringLiteral("--profile=rig/none.ini")});
    EXPECT_EQ(missing.status, exit_status::kNoProfile);
    EXPECT_EQ(missing.errors, Lines{"HalvornController: no profile for GPU 0, GPU 3: " + Path("rig/none.ini").toStdString() +
                                    " does not exist or cannot be read; write one (see \"Writing Profile.ini by hand\" "
                                    "in the README)"});
}

// Unattended, the run waits out the guard time; its first word on standard error says so and what
// ends it, and the stop it names removes the guard.
TEST_F(ProgramRun, AnUnattendedRunSaysFirstThatItWaitsAndAStopEndsTheWait) {
    WriteFile("mixed.scenario", cli_cases::MixedMachine());
    WriteFile("Profile.ini", cli_cases::kProfileIni);
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(workDir.path());
    program.start(QStringLiteral(HALVORN_CONTROLLER_PATH),
                  {QStringLiteral("--apply-profile"), QStringLiteral("--simulate=mixed.scenario")});
    ASSERT_TRUE(program.waitForStarted(10000));
    QByteArray said;
    while (!said.contains('\n') && program.waitForReadyRead(30000)) said += program.readAllStandardError();
    EXPECT_EQ(SplitLines(said).front(),
              "HalvornController: the start-up guard is armed: after this run the program stays 120 s, quietly, so "
              "that a restart within that time (a crash) keeps the profile from being applied again; Ctrl-C (or "
              "stopping the unit) ends the wait and removes the guard");
    EXPECT_TRUE(QFile::exists(Path("HalvornController.guard")));
    // Asked to stop while the boards are still being written: the apply ends whole, then the wait
    // takes the stop and removes the guard.
    ::kill(static_cast<pid_t>(program.processId()), SIGINT);
    EXPECT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), exit_status::kDone);
    EXPECT_EQ(SplitLines(program.readAllStandardOutput()), cli_cases::MixedMachineApplied());
    EXPECT_FALSE(QFile::exists(Path("HalvornController.guard")));
}

// A person at a terminal is not kept waiting: standard input and error on a pseudo-terminal.
TEST_F(ProgramRun, ARunAtATerminalDoesNotWaitUnasked) {
    WriteFile("mixed.scenario", cli_cases::MixedMachine());
    WriteFile("Profile.ini", cli_cases::kProfileIni);
    const std::string program = HALVORN_CONTROLLER_PATH;
    const std::string directory = workDir.path().toStdString();
    std::vector<std::string> environmentText;
    for (const QString& entry : environment.toStringList()) environmentText.push_back(entry.toStdString());

    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0) << "no pseudo-terminal: " << errno;
    if (child == 0) {
        if (chdir(directory.c_str()) != 0) _exit(120);
        std::vector<char*> env;
        for (std::string& entry : environmentText) env.push_back(entry.data());
        env.push_back(nullptr);
        char apply[] = "--apply-profile";
        char simulate[] = "--simulate=mixed.scenario";
        char json[] = "--json";
        char* argv[] = {const_cast<char*>(program.c_str()), apply, simulate, json, nullptr};
        execve(program.c_str(), argv, env.data());
        _exit(121);
    }
    // Drained as it comes, so the program never blocks on a full terminal.
    std::string said;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(terminal, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO once the program has closed its side
        said.append(buffer, static_cast<std::size_t>(n));
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(terminal);
    ASSERT_TRUE(WIFEXITED(status)) << said;
    EXPECT_EQ(WEXITSTATUS(status), exit_status::kDone) << said;
    EXPECT_NE(said.find("\"result\": \"applied\""), std::string::npos) << said;
    // The guard off, as --guard=0 would have it: nothing recorded, nothing to wait for.
    EXPECT_NE(said.find("\"state\": \"off\""), std::string::npos) << said;
    EXPECT_EQ(said.find("guard is armed"), std::string::npos) << said;
    EXPECT_FALSE(QFile::exists(Path("HalvornController.guard")));
}

struct StatusCase {
    const char* name;
    friend void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }
    std::string scenario;
    const char* profileIni;  // null: no Profile.ini
    const char* command;
    int status;
    const char* error;  // the start of the last line on standard error
};

class ProgramExitStatus : public ProgramRun, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ProgramExitStatus, EndsWithItsStatusAndSaysWhy) {
    const StatusCase& c = GetParam();
    WriteFile("machine.scenario", c.scenario);
    if (c.profileIni) WriteFile("Profile.ini", c.profileIni);
    QStringList arguments = {QStringLiteral("--simulate=machine.scenario"), QString::fromLatin1(c.command)};
    if (c.status == exit_status::kUsage) arguments.append(QStringLiteral("--list"));

    const Result run = Run(arguments);

    EXPECT_EQ(run.status, c.status);
    ASSERT_FALSE(run.errors.empty());
    EXPECT_EQ(run.errors.back().rfind(c.error, 0), 0u) << run.errors.back();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgramExitStatus,
    ::testing::Values(
        StatusCase{"ATransferFails", cli_cases::MixedMachine(cli_cases::kSilentFbvdd), cli_cases::kProfileIni,
                   "--apply-profile", exit_status::kBoardFailed,
                   "HalvornController: GPU 3 NVIDIA GeForce RTX 3080 Ti [RTX 3080 Ti at its regulators]: 2 transfers "
                   "failed"},
        StatusCase{"NoProfileIni", cli_cases::MixedMachine(), nullptr, "--apply-profile", exit_status::kNoProfile,
                   "HalvornController: no profile for GPU 0, GPU 3: "},
        StatusCase{"NoSupportedBoard", cli_cases::kNoBoardMachine, cli_cases::kProfileIni, "--list",
                   exit_status::kNoSupportedBoard, "HalvornController: Device not support."},
        StatusCase{"NvApiFails", cli_cases::kNvApiFailingMachine, cli_cases::kProfileIni, "--apply-profile",
                   exit_status::kNvApiFailed, "HalvornController: NV Control initialize failed!"},
        StatusCase{"BothSwitches", cli_cases::MixedMachine(), cli_cases::kProfileIni, "--apply-profile",
                   exit_status::kUsage, "HalvornController: --list and --apply-profile cannot be used together"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ProgramRun, WhileTheWindowIsOpenNothingIsDone) {
    QProcessEnvironment withDisplay = environment;
    withDisplay.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    withDisplay.insert(QStringLiteral("HALVORN_TRACE_RAISE"), QStringLiteral("1"));
    window.setProcessEnvironment(withDisplay);
    window.setWorkingDirectory(workDir.path());
    window.setReadChannel(QProcess::StandardError);
    window.start(QStringLiteral(HALVORN_CONTROLLER_PATH), {QStringLiteral("--simulate")});
    ASSERT_TRUE(window.waitForStarted(15000));
    QString seen;
    while (!seen.contains(QStringLiteral("instance listening"))) {
        ASSERT_TRUE(window.waitForReadyRead(15000)) << seen.toStdString();
        seen += QString::fromLocal8Bit(window.readAllStandardError());
    }
    // A second start asks the window to come up, which it answers once it is on screen: by then it
    // holds the boards.
    QProcess second;
    second.setProcessEnvironment(withDisplay);
    second.setWorkingDirectory(workDir.path());
    second.start(QStringLiteral(HALVORN_CONTROLLER_PATH), {QStringLiteral("--simulate")});
    ASSERT_TRUE(second.waitForFinished(15000));
    while (!seen.contains(QStringLiteral(": raised"))) {
        ASSERT_TRUE(window.waitForReadyRead(15000)) << seen.toStdString();
        seen += QString::fromLocal8Bit(window.readAllStandardError());
    }
    WriteFile("Profile.ini", cli_cases::kProfileIni);

    const Result run = Run({QStringLiteral("--simulate"), QStringLiteral("--apply-profile")});

    EXPECT_EQ(run.status, exit_status::kWindowOpen);
    EXPECT_EQ(run.out, Lines{});
    EXPECT_EQ(run.errors, (Lines{"HalvornController: the RTX Halvorn Controller window is open, or another run is at "
                                 "work; close it and try again"}));
    EXPECT_EQ(SimulatorLog(), Lines{}) << "the refused run touched no board";
    EXPECT_EQ(window.state(), QProcess::Running);
}

// The run holds the machine's lock on the boards, which the window takes too before its first transfer.
TEST(CommandLineLockTest, TheMachinesLockIsHeldWhileBoardsAreWorkedOn) {
    QTemporaryDir lockDir;
    ASSERT_TRUE(lockDir.isValid());
    sim::SimMachine machine;
    sim::LoadDefaultScenario(machine);
    sim::MachineSleeper sleeper(machine);
    profile::PrivateProfileFile files;
    LazyProfileStore profiles(files);
    qtfront::BusyState busy;
    qtfront::QtProcessServices services(busy, lockDir.path());
    std::vector<bool> windowCouldStart;
    const BoardDetector probe = [&](const GpuList& gpus, std::uint32_t gpu) {
        qtfront::QtProcessServices window(busy, lockDir.path());
        windowCouldStart.push_back(window.AcquireMachineLock());
        if (windowCouldStart.back()) window.ReleaseMachineLock();
        return DetectBoard(gpus, gpu);
    };
    class Discard final : public CommandOutput {
        void Line(const std::wstring&) override {}
        void Error(const std::wstring&) override {}
    } output;

    CommandLine list;
    list.command = Command::List;
    EXPECT_EQ(RunCommand(list, services, RunContext{machine, sleeper, profiles}, output, probe), exit_status::kDone);

    EXPECT_EQ(windowCouldStart, (std::vector<bool>{false, false, false, false}));
    qtfront::QtProcessServices afterwards(busy, lockDir.path());
    EXPECT_TRUE(afterwards.AcquireMachineLock()) << "the run gave the lock back";
}

}  // namespace
}  // namespace qt_test
