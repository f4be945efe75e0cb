#pragma once
// The Linux program without its window: --help, --list and --apply-profile on standard output
// and standard error. Such a run needs no display, so it works from scripts, log-on units and
// remote shells.
#include <QStringList>

#include <string>
#include <vector>

class PlatformFindings;
namespace startup_guard {
class StartupGuard;
}
class ProcessServices;
struct RunContext;

namespace qtfront {

// The arguments after the program's path, as the core takes them.
std::vector<std::wstring> WideArguments(const QStringList& arguments);

// Whether the arguments ask for a run without the window; the second form takes main's argv
// before any Qt application exists.
bool RunsWithoutWindow(const QStringList& arguments);
bool RunsWithoutWindow(int argc, char* argv[]);

// The run on the NvAPI already chosen; returns the exit status. findings: what the NvAPI
// realization tells on its own, for the run's report; guard: --apply-profile's start-up guard,
// whose wait the caller runs once NvAPI is let go.
int RunCommandLine(const QStringList& arguments, ProcessServices& services, const RunContext& context,
                   PlatformFindings* findings = nullptr, startup_guard::StartupGuard* guard = nullptr);

}  // namespace qtfront
