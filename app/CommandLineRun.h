#pragma once
// The program without its window: --list and --apply-profile. The boards are found as the
// controller window finds them; their settings are read as values and shown in the window's own
// texts, and applying a profile runs, per board, the transfers and pauses of the window's Load
// followed by its Apply. The boards' applies run side by side on this thread: while one board
// waits out a pause, the next one's transfers go.
#include <string>
#include <vector>

#include "app/BoardDetection.h"
#include "app/CommandLine.h"
#include "app/ProcessServices.h"
#include "app/RunContext.h"
#include "app/StartupGuard.h"

// What a run ends with, for scripts and schedulers. When a run meets several of these, the
// lowest non-zero one is returned.
namespace exit_status {
constexpr int kDone = 0;              // listed, or the profile applied to every board that takes one
constexpr int kBoardFailed = 1;       // a transfer of some board's Load or Apply failed, or a value was not read
constexpr int kUsage = 2;             // the command line cannot be followed
constexpr int kNoSupportedBoard = 3;  // no supported board; for --apply-profile none that takes a profile
constexpr int kNvApiFailed = 4;       // NvAPI could not be started
constexpr int kNoProfile = 5;         // Profile.ini is missing or holds no RTX 3080 Ti profile
constexpr int kWindowOpen = 6;        // the window, or another such run, holds the single-instance lock
constexpr int kGuarded = 7;           // the start-up guard kept the profile back: an earlier apply was
                                      // followed by a restart, the guard is unclear, or it cannot be recorded
}  // namespace exit_status

// Where the lines go: standard output and standard error, or what stands for them.
class CommandOutput {
public:
    virtual ~CommandOutput() = default;
    virtual void Line(const std::wstring& text) = 0;
    virtual void Error(const std::wstring& text) = 0;
};

// What the platform finds on its own while a run reaches the boards (on Linux: GPUs it could not
// start, adapters it may not open). Its causes become the run's error lines, on standard error and
// in the JSON document alike, and its verdict counts toward the exit status.
class PlatformFindings {
public:
    virtual ~PlatformFindings() = default;
    // The causes found since the last call, as error lines without the program's name.
    virtual std::vector<std::wstring> TakeCauses() = 0;
    // At the run's end: the exit status the findings call for (kDone when none) and, with any
    // other, the line that says why.
    struct Verdict {
        int status = 0;
        std::wstring line;
    };
    virtual Verdict Conclude() const = 0;
};

// The --help text. platformSwitches: lines for switches only this front end has.
std::vector<std::wstring> HelpText(const std::wstring& programName, const std::vector<std::wstring>& platformSwitches);

// What the JSON document's names mean; raised when one changes its meaning or goes.
constexpr int kJsonSchemaVersion = 1;

// Runs --list or --apply-profile, or reports the command line's usage error, and returns the exit
// status. Holds the machine's board lock for the whole run, so neither the window nor another run
// touches the boards meanwhile; makes the run's GPU list from the context's NvAPI once it holds
// it, and destroys the list and closes the profile store at the end. The profile is the context's
// store: the front end points it at --profile's file.
//
// guard: the start-up guard of --apply-profile (null: none). The run checks it before anything
// reaches the boards and arms it before the first setting is written, for line.guardSeconds (the
// front end fills in its default); the caller then lets go of NvAPI and calls guard->Wait(), after
// the run's output is out. guardNotice: what ends that wait, in this front end's words.
int RunCommand(const CommandLine& line, ProcessServices& services, const RunContext& context, CommandOutput& output,
               const BoardDetector& detect = DetectBoard, PlatformFindings* findings = nullptr,
               startup_guard::StartupGuard* guard = nullptr, const std::wstring& howToEndWait = L"Ctrl-C");

// The line a run that waits out the guard says first on standard error: how long, why, and what ends it.
std::wstring GuardWaitNotice(unsigned seconds, const std::wstring& howToEndWait);

// The usage error of a command line, on the front end's output and, with --json, as a document.
int ReportUsageError(const CommandLine& line, const std::wstring& programName, CommandOutput& output);
