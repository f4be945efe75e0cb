#pragma once
// What the HalvornController program does once Qt is up: chooses the NvAPI realization from the
// command line and runs the application on the Qt dialog framework.
//
// `--simulate` runs on the built-in simulated machine, `--simulate=FILE` on a scenario file; both
// are switches, so the application's own rule still finds `internalTest`. Without them the
// NVIDIA driver's I2C adapters are used (platform/linux), and what keeps the program from them
// (no driver, i2c-dev not loaded, no permission) is printed on stderr with its fix.
#include <QString>
#include <QStringList>

class ProcessServices;
class Sleeper;

namespace qtfront {

class BusyState;

// The run; needs a QApplication, or for a run without the window (CommandLineProgram.h) a
// QCoreApplication. Returns the process exit status: 0 after the window's run, which sets none of
// its own; that of --list or --apply-profile; 2 when the command line cannot be followed or the
// scenario cannot be loaded (the reason is on stderr). On the simulator, HALVORN_SIM_LOG receives the run's transfers (SimulatorLog.h).
// busy: the one the services and the sleeper were given, for the window's dialogs.
int RunController(const QStringList& arguments, ProcessServices& services, Sleeper& sleeper, BusyState& busy);

}  // namespace qtfront
