#include "platform/qt/ControllerProgram.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/CHalvornApp.h"
#include "app/CommandLine.h"
#include "app/CommandLineRun.h"
#include "app/ProcessServices.h"
#include "app/RunContext.h"
#include "gpu/NvApi.h"
#include "profile/PrivateProfileFile.h"
#include "profile/ProfileStore.h"
#include "platform/linux/LinuxNvApi.h"
#include "platform/qt/AppIcon.h"
#include "platform/qt/CommandLineProgram.h"
#include "platform/qt/LinuxStartupGuard.h"
#include "platform/qt/QtDialogFramework.h"
#include "platform/qt/SimulatorLog.h"
#include "sim/Scenario.h"
#include "sim/SimMachine.h"

namespace qtfront {

namespace {

void Complain(const ProcessServices& services, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", QString::fromStdWString(services.ApplicationName()).toLocal8Bit().constData(),
                 what.c_str());
}

// What the hardware back end tells while a run without the window is at work: its causes go into
// the run's report, so the JSON document holds what standard error gets, and a GPU it could not
// start counts toward the exit status.
class HardwareFindings final : public PlatformFindings {
public:
    void Tell(const std::string& cause) { causes_.push_back(QString::fromStdString(cause).toStdWString()); }
    void Watch(const linuxnv::LinuxNvApi& hardware) { hardware_ = &hardware; }

    std::vector<std::wstring> TakeCauses() override { return std::exchange(causes_, {}); }
    Verdict Conclude() const override {
        if (!hardware_) return {};
        // A board on a GPU that could not be reached was never looked for: a script must not take
        // the run for complete. Each cause is named for what it is.
        std::wstring line;
        if (const std::size_t n = hardware_->GpusNotStarted())
            line = std::to_wstring(n) + L" GPU(s) could not be started";
        if (const std::size_t n = hardware_->GpusWithoutDeviceFiles())
            line += (line.empty() ? L"" : L" and ") + std::to_wstring(n) + L" GPU(s) had no I2C device files";
        if (line.empty()) return {};
        return {exit_status::kBoardFailed, line + L", so their boards were left out"};
    }

private:
    std::vector<std::wstring> causes_;
    const linuxnv::LinuxNvApi* hardware_ = nullptr;
};

// --profile's file as the store and the guard take it; none for Profile.ini in the current directory.
std::optional<QString> ProfileFile(const CommandLine& line) {
    if (!line.profileFile) return std::nullopt;
    return QFileInfo(QString::fromStdWString(*line.profileFile)).absoluteFilePath();
}

// The run on one NvAPI realization, with Profile.ini in the current directory or --profile's file.
int RunApplication(const CommandLine& line, ProcessServices& services,
                   nvapi::NvApi& api, Sleeper& sleeper, BusyState& busy, startup_guard::StartupGuard& guard,
                   PlatformFindings* findings = nullptr) {
    profile::PrivateProfileFile files;
    LazyProfileStore profiles(files);
    if (const std::optional<QString> file = ProfileFile(line)) profiles.UseFile(file->toStdWString());
    const RunContext context{api, sleeper, profiles};
    if (line.RunsWithoutWindow()) return RunCommandLine(line, services, context, findings, &guard);
    QApplication::setWindowIcon(AppIcon());
    QtDialogFramework framework(busy);
    CHalvornApp application(framework, services, context, line);
    application.InitInstance();
    return 0;
}

}  // namespace

namespace {

int RunOnChosenNvApi(const CommandLine& line, ProcessServices& services,
                     Sleeper& sleeper, BusyState& busy, startup_guard::StartupGuard& guard) {
    if (!line.simulate) {
        // The NVIDIA driver's I2C adapters. What keeps the program from the boards goes to stderr
        // with its fix; the window's own messages stay as they are.
        const bool withoutWindow = line.RunsWithoutWindow();
        HardwareFindings findings;
        linuxnv::KernelI2cDev kernel;
        linuxnv::LinuxNvApi hardware(linuxnv::Roots{}, kernel, sleeper,
                                     [&](const std::string& cause) {
                                         if (withoutWindow) findings.Tell(cause);
                                         else Complain(services, cause);
                                     });
        findings.Watch(hardware);
        return RunApplication(line, services, hardware, sleeper, busy, guard,
                              withoutWindow ? &findings : nullptr);
    }

    sim::SimMachine machine;
    if (!line.scenarioFile) {
        sim::LoadDefaultScenario(machine);
    } else {
        std::string error;
        if (!sim::LoadScenarioFile(QString::fromStdWString(*line.scenarioFile).toLocal8Bit().toStdString(), machine,
                                   error)) {
            // A run without the window says it as its report does, a document with --json.
            if (line.RunsWithoutWindow()) {
                CommandLine refused = line;
                refused.usageError = QString::fromStdString(error).toStdWString();
                return ReportUsage(refused, services);
            }
            Complain(services, error);
            return 2;
        }
    }
    const int status = RunApplication(line, services, machine, sleeper, busy, guard);
    AppendSimulatorLog(machine.Log());
    return status;
}

}  // namespace

int RunController(const QStringList& arguments, ProcessServices& services, Sleeper& sleeper, BusyState& busy) {
    CommandLine line = ParseCommandLine(WideArguments(arguments), kFrontEndSwitches);
    if (!line.usageError.empty()) return ReportUsage(line, services);
    line.FillGuardDefault(AtTerminal());
    // Beside the profile: Profile.ini in the current directory, or --profile's file.
    const std::optional<QString> profileFile = ProfileFile(line);
    PosixGuardFile guardFile((profileFile ? QFileInfo(*profileFile).absolutePath() : QDir::currentPath()).toStdString(),
                             geteuid());
    LinuxBootClock bootClock;
    for (;;) {
        startup_guard::StartupGuard guard(guardFile, bootClock);
        const int status = RunOnChosenNvApi(line, services, sleeper, busy, guard);
        // The lines are out, the lock and every GPU file let go: only the guard's wait is left.
        const startup_guard::WaitEnd end = guard.Wait();
        if (!guard.ClearError().empty())
            Complain(services, QString::fromStdWString(guard.ClearError()).toStdString());
        // The unit's start after a resume is dropped while this one still runs: it applies instead.
        if (end != startup_guard::WaitEnd::Slept) return status;
    }
}

}  // namespace qtfront
