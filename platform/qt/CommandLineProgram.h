#pragma once
// The Linux program without its window: --help, --list and --apply-profile on standard output
// and standard error. Such a run needs no display, so it works from scripts, log-on units and
// remote shells.
#include <QStringList>

#include <string>
#include <vector>

#include "app/CommandLine.h"

class PlatformFindings;
namespace startup_guard {
class StartupGuard;
}
class ProcessServices;
struct RunContext;

namespace qtfront {

// The switches of the Linux program beyond the common ones.
constexpr FrontEndSwitches kFrontEndSwitches{true, true};

// The arguments after the program's path, as the core takes them.
std::vector<std::wstring> WideArguments(const QStringList& arguments);
std::vector<std::wstring> WideArguments(int argc, char* argv[]);

// Whether standard input and standard error are a terminal: a person waits at it.
bool AtTerminal();

// The usage error on standard error (and as a document with --json); returns its status.
int ReportUsage(const CommandLine& line, const ProcessServices& services);

// The run on the NvAPI already chosen; returns the exit status. findings: what the NvAPI
// realization tells on its own, for the run's report; guard: --apply-profile's start-up guard,
// whose wait the caller runs once NvAPI is let go.
int RunCommandLine(const CommandLine& line, ProcessServices& services, const RunContext& context,
                   PlatformFindings* findings = nullptr, startup_guard::StartupGuard* guard = nullptr);

}  // namespace qtfront
