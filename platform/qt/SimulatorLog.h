#pragma once
// The simulated machine's transfers for people and tests outside the process: with
// HALVORN_SIM_LOG naming a file, every transfer of the run is appended to it as one line, as
// sim::TransferLog::Format writes it (the simulated nvapi.dll of the Windows program does the same).
namespace sim {
class TransferLog;
}

namespace qtfront {

void AppendSimulatorLog(const sim::TransferLog& log);

}  // namespace qtfront
