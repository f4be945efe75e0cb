#include "platform/qt/ControllerProgram.h"

#include <QApplication>

#include <cstdio>
#include <string>
#include <vector>

#include "app/CHalvornApp.h"
#include "app/CommandLineRun.h"
#include "app/ProcessServices.h"
#include "gpu/Sleeper.h"
#include "gpu/NvApi.h"
#include "platform/linux/LinuxNvApi.h"
#include "platform/qt/AppIcon.h"
#include "platform/qt/CommandLineProgram.h"
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

// The NvAPI realization is chosen for the run and let go before it is destroyed.
class ChosenNvApi {
public:
    explicit ChosenNvApi(nvapi::NvApi& api) { nvapi::SetNvApi(&api); }
    ~ChosenNvApi() { nvapi::SetNvApi(nullptr); }
    ChosenNvApi(const ChosenNvApi&) = delete;
    ChosenNvApi& operator=(const ChosenNvApi&) = delete;
};

int RunApplication(const QStringList& arguments, ProcessServices& services, Sleeper& sleeper) {
    if (RunsWithoutWindow(arguments)) return RunCommandLine(arguments, services, sleeper);
    QApplication::setWindowIcon(AppIcon());
    QtDialogFramework framework;
    CHalvornApp application(framework, services, sleeper, WideArguments(arguments));
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

int RunController(const QStringList& arguments, ProcessServices& services, Sleeper& sleeper) {
    const SimulateSwitch simulate = FindSimulateSwitch(arguments);
    if (!simulate.present) {
        // The NVIDIA driver's I2C adapters. What keeps the program from the boards goes to stderr
        // with its fix; the window's own messages stay as they are.
        linuxnv::KernelI2cDev kernel;
        linuxnv::LinuxNvApi hardware(linuxnv::Roots{}, kernel, sleeper,
                                     [&services](const std::string& cause) { Complain(services, cause); });
        ChosenNvApi chosen(hardware);
        const int status = RunApplication(arguments, services, sleeper);
        // A board on a GPU that could not be started was never looked for: a script must not take
        // the run for complete.
        if (status == exit_status::kDone && RunsWithoutWindow(arguments) && hardware.GpusNotStarted() != 0) {
            Complain(services, std::to_string(hardware.GpusNotStarted()) +
                                   " GPU(s) could not be started, so their boards were left out");
            return exit_status::kBoardFailed;
        }
        return status;
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
    ChosenNvApi simulated(machine);
    const int status = RunApplication(arguments, services, sleeper);
    AppendSimulatorLog(machine.Log());
    return status;
}

}  // namespace qtfront
