#pragma once
// The guard around an --apply-profile run at start-up: a profile that crashes or hangs the machine
// must not be applied again at every start. Before its first setting is written, a run records a
// guard file beside Profile.ini (this boot's identity, when, which profile); it then waits, holding
// nothing, until the machine has run for the guard time after the apply, and removes the guard. A
// start that finds a guard from an earlier boot writes nothing: that boot ended within the guard
// time. A guard of this same boot is no crash (a resume, a second run).
//
// The guard is a file of its own, never a part of Profile.ini: a torn Profile.ini save cannot lose
// it, and a damaged guard cannot make Profile.ini unreadable.
#include <cstdint>
#include <string>

namespace startup_guard {

constexpr unsigned kDefaultSeconds = 120;
constexpr unsigned kMaxSeconds = 3600;
constexpr const wchar_t* kFileName = L"HalvornController.guard";

// The guard file's storage, beside Profile.ini.
class GuardFile {
public:
    virtual ~GuardFile() = default;

    enum class Found {
        None,          // there is no guard
        Read,          // bytes hold the file
        Unreadable,    // why says what failed
        NotRegular,    // a folder, a link, a device...
        ForeignOwner,  // why names the owner
    };
    virtual Found Read(std::string& bytes, std::wstring& why) = 0;
    // Durably: the whole text or nothing (a temporary file renamed over the guard, flushed first).
    virtual bool Write(const std::string& bytes, std::wstring& why) = 0;
    // Removes whatever is there, when it can be removed.
    virtual bool Remove(std::wstring& why) = 0;
    // The path, for the messages.
    virtual std::wstring Path() const = 0;
};

// What the machine tells about its boot and its time, and the wait.
class BootClock {
public:
    virtual ~BootClock() = default;
    // An identity that differs from boot to boot; empty when it cannot be had.
    virtual std::string BootId() = 0;
    // How long the machine has run since boot, sleep not counted.
    virtual std::uint64_t RunningMs() = 0;
    // How long since boot, sleep counted: it runs ahead of RunningMs after every sleep.
    virtual std::uint64_t SinceBootMs() = 0;
    // The local date and time, "2024-05-01 21:04:11", for people.
    virtual std::string LocalTime() = 0;
    // Sleeps up to milliseconds without using the processor; false when the process is asked to
    // stop meanwhile (a shutdown, the service stopped), true otherwise.
    virtual bool Sleep(unsigned milliseconds) = 0;
    // From the guard's recording on: a stop asked for before the wait is held until the wait takes
    // it, so that it ends the apply's run whole and still removes the guard.
    virtual void HoldStops() = 0;
};

// A guard as the file holds it.
struct Record {
    std::string bootId;
    std::string appliedAt;      // local time, for the messages
    std::uint64_t runningMs = 0;  // the machine's running time at the apply
    unsigned seconds = 0;         // the guard time
    std::string profileHash;      // of the applied section, 16 hex digits
};

std::string Format(const Record& record);
// False for anything that is not a whole guard of this format.
bool Parse(const std::string& bytes, Record& record);
// A short fingerprint of the profile section's lines.
std::string HashProfile(const std::wstring& sectionLines);

// What a start decided.
enum class Decision {
    Apply,          // no guard, or one of this boot
    Crash,          // a guard from an earlier boot: it ended within the guard time
    BadGuard,       // a guard that cannot be trusted: unreadable, not a file, someone else's, garbage
    CannotRecord,   // the guard could not be written: no setting may go without it
};

// How the wait after an apply ended.
enum class WaitEnd {
    Passed,   // the guard time passed; the guard was removed
    Stopped,  // a clean stop (shutdown, service stopped); the guard was removed
    Slept,    // the machine slept and is back: the boards lost the settings, so the caller applies
              // again (a start the resume makes meanwhile may be dropped while this one still runs)
};

class StartupGuard {
public:
    StartupGuard(GuardFile& file, BootClock& clock) : file_(file), clock_(clock) {}

    // Before anything reaches the boards. rearm: the guard, whatever it is, does not keep the profile
    // back; it is removed by Arm, so a run that writes nothing leaves it. A dry run removes nothing
    // but decides as the real run would.
    Decision Check(bool rearm, bool dryRun);
    // Right before the first setting is written, --rearm's removal first; false (CannotRecord) when
    // the guard could not be removed or recorded durably.
    bool Arm(unsigned seconds, const std::wstring& profileLines);
    bool Armed() const { return armed_; }

    // With nothing held: sleeps until the machine has run for the guard time after the apply, then
    // removes the guard if it is still the one this run wrote. Returns at once when nothing is armed.
    WaitEnd Wait();

    // For the report: why the run was refused, in words a user acts on (empty when applied), and
    // the earlier apply's record when the guard was one.
    const std::wstring& Why() const { return why_; }
    const Record* Earlier() const { return haveEarlier_ ? &earlier_ : nullptr; }
    const Record* Written() const { return armed_ ? &written_ : nullptr; }
    bool Rearmed() const { return rearmed_; }
    std::wstring Path() const { return file_.Path(); }
    // The line that tells how to go on, named after the program.
    void SetProgramName(std::wstring name) { programName_ = std::move(name); }
    // Why the guard could not be removed after the wait (empty when it was, or was not ours).
    const std::wstring& ClearError() const { return clearError_; }

private:
    std::wstring RearmAdvice() const;
    bool RemoveIfOurs();

    GuardFile& file_;
    BootClock& clock_;
    std::wstring programName_ = L"HalvornController";
    std::wstring why_;
    std::wstring clearError_;
    Record earlier_;
    bool haveEarlier_ = false;
    Record written_;
    std::string writtenBytes_;
    std::uint64_t sleptAtArmMs_ = 0;
    bool armed_ = false;
    bool rearmed_ = false;
    bool rearmPending_ = false;  // --rearm found a guard, to be removed before the first write
};

}  // namespace startup_guard
