#include "platform/qt/ControllerProgram.h"

#include <QApplication>
#include <QDir>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/CHalvornApp.h"
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

const QString kSimulate = QStringLiteral("--simulate");

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

// The run on one NvAPI realization, with Profile.ini in the current directory.
int RunApplication(const QStringList& arguments, ProcessServices& services, nvapi::NvApi& api, Sleeper& sleeper,
                   BusyState& busy, startup_guard::StartupGuard& guard, PlatformFindings* findings = nullptr) {
    profile::PrivateProfileFile files;
    LazyProfileStore profiles(files);
    const RunContext context{api, sleeper, profiles};
    if (RunsWithoutWindow(arguments)) return RunCommandLine(arguments, services, context, findings, &guard);
    QApplication::setWindowIcon(AppIcon());
    QtDialogFramework framework(busy);
    CHalvornApp application(framework, services, context, WideArguments(arguments));
    application.InitInstance();
    return 0;
}

}  // namespace

SimulateSwitch FindSimulateSwitch(const QStringList& arguments) {
    SimulateSwitch found;
    for (const QString& argument : arguments) {
        if (argument == kSimulate) {
            found.present = true;
            return found;
        }
        if (argument.startsWith(kSimulate + QLatin1Char('='))) {
            found.present = true;
            found.scenarioFile = argument.mid(kSimulate.size() + 1);
            found.missingFile = found.scenarioFile.isEmpty();
            return found;
        }
    }
    return found;
}

namespace {

int RunOnChosenNvApi(const QStringList& arguments, ProcessServices& services, Sleeper& sleeper, BusyState& busy,
                     startup_guard::StartupGuard& guard) {
    const SimulateSwitch simulate = FindSimulateSwitch(arguments);
    if (!simulate.present) {
        // The NVIDIA driver's I2C adapters. What keeps the program from the boards goes to stderr
        // with its fix; the window's own messages stay as they are.
        const bool withoutWindow = RunsWithoutWindow(arguments);
        HardwareFindings findings;
        linuxnv::KernelI2cDev kernel;
        linuxnv::LinuxNvApi hardware(linuxnv::Roots{}, kernel, sleeper,
                                     [&](const std::string& cause) {
                                         if (withoutWindow) findings.Tell(cause);
                                         else Complain(services, cause);
                                     });
        findings.Watch(hardware);
        return RunApplication(arguments, services, hardware, sleeper, busy, guard, withoutWindow ? &findings : nullptr);
    }

    if (simulate.missingFile) {
        Complain(services, "--simulate= names no scenario file");
        return 2;
    }
    sim::SimMachine machine;
    if (simulate.scenarioFile.isEmpty()) {
        sim::LoadDefaultScenario(machine);
    } else {
        std::string error;
        if (!sim::LoadScenarioFile(simulate.scenarioFile.toLocal8Bit().toStdString(), machine, error)) {
            Complain(services, error);
            return 2;
        }
    }
    const int status = RunApplication(arguments, services, machine, sleeper, busy, guard);
    AppendSimulatorLog(machine.Log());
    return status;
}

}  // namespace

int RunController(const QStringList& arguments, ProcessServices& services, Sleeper& sleeper, BusyState& busy) {
    // Beside Profile.ini, which the profile store looks for in the current directory.
    PosixGuardFile guardFile(QDir::currentPath().toStdString(), geteuid());
    LinuxBootClock bootClock;
    for (;;) {
        startup_guard::StartupGuard guard(guardFile, bootClock);
        const int status = RunOnChosenNvApi(arguments, services, sleeper, busy, guard);
        // The lines are out, the lock and every GPU file let go: only the guard's wait is left.
        const startup_guard::WaitEnd end = guard.Wait();
        if (!guard.ClearError().empty())
            Complain(services, QString::fromStdWString(guard.ClearError()).toStdString());
        // The unit's start after a resume is dropped while this one still runs: it applies instead.
        if (end != startup_guard::WaitEnd::Slept) return status;
    }
}

}  // namespace qtfront
