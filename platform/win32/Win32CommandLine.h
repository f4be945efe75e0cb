#pragma once
// The Windows program without its window: --help, --list and --apply-profile. The .exe stays a
// window program, so it writes to the console it was started from when there is one (or to the
// handles it was given, when its output is redirected), and every --list and --apply-profile run
// also appends its lines to HalvornController.log beside Profile.ini. That log is kept small: once
// it reaches 64 KiB it becomes HalvornController.old.log (replacing the one before) and a new one
// begins.
#include <string>
#include <vector>

#include "app/CommandLine.h"

class ProcessServices;
struct RunContext;

class LazyProfileStore;
namespace profile {
class PrivateProfile;
}

namespace win32 {

constexpr unsigned long kLogLimitBytes = 64 * 1024;

// Runs a command line that asks for no window (a command, or one that cannot be followed) and
// returns the exit status. profileFunctions: where the log finds the current directory, as the
// profile store does; profiles: the run's store, pointed at --profile's file when given.
int RunCommandLine(CommandLine line, const std::vector<std::wstring>& arguments, ProcessServices& services,
                   const RunContext& context, profile::PrivateProfile& profileFunctions, LazyProfileStore& profiles);

}  // namespace win32
