#pragma once
// The program's command line, the same on every platform: the arguments after the program's own
// path, parsed once into one value. Switches that begin with "--" are this program's own and
// strict: an unknown one, one without the command it modifies, or a value given in a form that
// is not "--switch=VALUE" makes a usage error. Everything else keeps the window's start-up rules:
// an argument that begins with "-" or "/" is passed over, and the first one that does not is the
// file name, which turns on internal-test mode when it is "internalTest" exactly.
#include <optional>
#include <string>
#include <vector>

// What a start asks for.
enum class Command {
    Window,        // none of the commands below: the controller window
    Help,          // --help
    Version,       // --version, where the front end has it
    List,          // --list
    ApplyProfile,  // --apply-profile
};

// Switches only some front ends have.
struct FrontEndSwitches {
    bool simulate = false;  // --simulate, --simulate=FILE
    bool version = false;   // --version
};

struct CommandLine {
    Command command = Command::Window;
    // Why the command line cannot be followed (status 2); empty when it can.
    std::wstring usageError;

    // The window's: the first argument that is not a switch.
    std::optional<std::wstring> fileName;

    // --list and --apply-profile.
    bool json = false;                     // --json: one JSON document on standard output
    std::vector<std::wstring> gpus;        // --gpu=ID[,ID...]: only these cards, by PCI bus id
    // --apply-profile.
    bool dryRun = false;                   // --dry-run: read and plan; no setting written
    bool strict = false;                   // --strict: a problem in the profile writes nothing
    bool rearm = false;                    // --rearm: remove the guard, then apply guarded again
    std::optional<unsigned> guardSeconds;  // --guard=SECONDS, when given
    std::optional<std::wstring> profileFile;  // --profile=FILE, instead of Profile.ini

    // --simulate: on the simulated machine, a scenario file's when scenarioFile is set.
    bool simulate = false;
    std::optional<std::wstring> scenarioFile;

    bool RunsWithoutWindow() const { return command != Command::Window || !usageError.empty(); }
    // The guard time when --guard was not given: the guard serves unattended starts (the unit, a
    // task, a script), so a person waiting at a terminal is not kept waiting, unless --rearm asks
    // for the guard again.
    void FillGuardDefault(bool personWaiting);
    bool InternalTest() const { return fileName && *fileName == L"internalTest"; }
};

CommandLine ParseCommandLine(const std::vector<std::wstring>& arguments, FrontEndSwitches frontEnd = {});
