#pragma once
// The program's command line, the same on every platform: the arguments after the program's
// own path. An argument that begins with "-" or "/" is a switch; the first one that does not is
// the file name, which turns on internal-test mode when it is "internalTest" exactly.
#include <string>
#include <vector>

#include "app/StartupGuard.h"

// The file name, or null when every argument is a switch.
const std::wstring* CommandLineFileName(const std::vector<std::wstring>& arguments);

// What a start asks for. Switches the program does not know are passed over, as always.
enum class Command {
    Window,        // none of the switches below: the controller window
    Help,          // --help
    List,          // --list
    ApplyProfile,  // --apply-profile
    Conflicting,   // --list and --apply-profile together
};

Command FindCommand(const std::vector<std::wstring>& arguments);

// How --list and --apply-profile act and report.
struct RunSwitches {
    bool dryRun = false;  // --dry-run: read and plan; no setting written (detection's handshake still goes)
    bool json = false;    // --json: one JSON document on standard output
    // --guard=SECONDS: with --apply-profile, how long after the apply the machine must run before
    // the start-up guard is removed; 0 turns the guard off.
    unsigned guardSeconds = startup_guard::kDefaultSeconds;
    bool guardGiven = false;
    bool guardInvalid = false;  // --guard= without a whole number of seconds up to the limit
    bool rearm = false;         // --rearm: remove the guard, then apply guarded again
};

RunSwitches FindRunSwitches(const std::vector<std::wstring>& arguments);
