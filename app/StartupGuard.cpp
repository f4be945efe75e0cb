#include "app/StartupGuard.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace startup_guard {

namespace {

constexpr const char* kHeader = "HalvornController start-up guard 1";
// The wait looks at the clocks this often: a sleep shows within a second of the resume.
constexpr unsigned kStepMs = 1000;
// Sleep counted and not counted drift apart by a tick or so while the machine runs.
constexpr std::uint64_t kSleptMs = 1000;
// After a resume the GPUs come back on their own time; the after-sleep task waits as long.
constexpr unsigned kResumeSettleMs = 5000;

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool Printable(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 0x20 && u < 0x7F;
    });
}

bool Number(const std::string& text, std::uint64_t limit, std::uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value <= limit;
}

bool Hex16(const std::string& text) {
    return text.size() == 16 && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    });
}

// "key=value" with exactly this key.
bool Field(const std::string& line, const char* key, std::string& value) {
    const std::string prefix = std::string(key) + "=";
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    value = line.substr(prefix.size());
    return true;
}

std::uint64_t SleptSoFar(BootClock& clock) {
    const std::uint64_t running = clock.RunningMs();
    const std::uint64_t since = clock.SinceBootMs();
    return since > running ? since - running : 0;
}

}  // namespace

std::string Format(const Record& record) {
    return std::string(kHeader) + "\nboot=" + record.bootId + "\nappliedAt=" + record.appliedAt +
           "\nrunningMs=" + std::to_string(record.runningMs) + "\nseconds=" + std::to_string(record.seconds) +
           "\nprofile=" + record.profileHash + "\n";
}

bool Parse(const std::string& bytes, Record& record) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t end = bytes.find('\n', at);
        if (end == std::string::npos) return false;  // a torn last line
        lines.push_back(bytes.substr(at, end - at));
        at = end + 1;
    }
    if (lines.size() != 6 || lines[0] != kHeader) return false;
    std::string running, seconds;
    Record parsed;
    if (!Field(lines[1], "boot", parsed.bootId) || !Field(lines[2], "appliedAt", parsed.appliedAt) ||
        !Field(lines[3], "runningMs", running) || !Field(lines[4], "seconds", seconds) ||
        !Field(lines[5], "profile", parsed.profileHash))
        return false;
    std::uint64_t guardSeconds = 0;
    if (!Printable(parsed.bootId) || !Printable(parsed.appliedAt) ||
        !Number(running, UINT64_MAX / 10, parsed.runningMs) || !Number(seconds, kMaxSeconds, guardSeconds) ||
        guardSeconds == 0 || !Hex16(parsed.profileHash))
        return false;
    parsed.seconds = static_cast<unsigned>(guardSeconds);
    record = parsed;
    return true;
}

std::string HashProfile(const std::wstring& sectionLines) {
    // FNV-1a over the code units: only ever compared on the machine that wrote it.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (wchar_t unit : sectionLines) {
        auto value = static_cast<std::uint32_t>(unit);
        for (int i = 0; i < 4; ++i) {
            hash ^= value & 0xFF;
            hash *= 0x100000001b3ull;
            value >>= 8;
        }
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::wstring StartupGuard::RearmAdvice() const {
    return L"check it, then run `" + programName_ + L" --apply-profile --rearm`";
}

Decision StartupGuard::Check(bool rearm, bool dryRun) {
    std::string bytes;
    std::wstring why;
    const GuardFile::Found found = file_.Read(bytes, why);
    if (rearm) {
        rearmed_ = true;
        // Removed right before the first write, not now: a run that then writes nothing (no
        // profile, --strict) must leave the crash's guard for the next unattended start.
        rearmPending_ = found != GuardFile::Found::None && !dryRun;
        return Decision::Apply;
    }
    const std::wstring notApplied = L", so the profile was not applied (an unclear guard counts as a crash); ";
    switch (found) {
        case GuardFile::Found::None:
            return Decision::Apply;
        case GuardFile::Found::Unreadable:
            why_ = L"the guard " + file_.Path() + L" cannot be read (" + why + L")" + notApplied + RearmAdvice();
            return Decision::BadGuard;
        case GuardFile::Found::NotRegular:
            why_ = L"the guard " + file_.Path() + L" is not a regular file" + notApplied + RearmAdvice();
            return Decision::BadGuard;
        case GuardFile::Found::ForeignOwner:
            why_ = L"the guard " + file_.Path() + L" belongs to someone else (" + why + L")" + notApplied +
                   RearmAdvice();
            return Decision::BadGuard;
        case GuardFile::Found::Read:
            break;
    }
    if (!Parse(bytes, earlier_)) {
        why_ = L"the guard " + file_.Path() + L" is damaged, it holds no guard of this program" + notApplied +
               RearmAdvice();
        return Decision::BadGuard;
    }
    haveEarlier_ = true;
    const std::string boot = clock_.BootId();
    if (!boot.empty() && boot == earlier_.bootId) return Decision::Apply;  // a resume or a second run
    why_ = L"the profile applied at " + Widen(earlier_.appliedAt) + L" was followed by a restart within " +
           std::to_wstring(earlier_.seconds) + L" s";
    if (boot.empty()) why_ += L" or this boot cannot be told from that one";
    why_ += L", so it was not applied again; " + RearmAdvice();
    return Decision::Crash;
}

bool StartupGuard::Arm(unsigned seconds, const std::wstring& profileLines) {
    if (rearmPending_) {
        std::wstring why;
        if (!file_.Remove(why)) {
            why_ = L"--rearm cannot remove the guard " + file_.Path() + L": " + why +
                   L", so the profile was not applied";
            return false;
        }
        rearmPending_ = false;
    }
    if (seconds == 0) return true;
    Record record;
    record.bootId = clock_.BootId();
    if (!Printable(record.bootId)) {
        why_ = L"this boot's identity cannot be read, so the guard cannot be recorded and no setting was written; "
               L"--guard=0 applies without the guard";
        return false;
    }
    record.appliedAt = clock_.LocalTime();
    if (!Printable(record.appliedAt)) record.appliedAt = "an unknown time";
    record.runningMs = clock_.RunningMs();
    record.seconds = std::min(seconds, kMaxSeconds);
    record.profileHash = HashProfile(profileLines);
    const std::string bytes = Format(record);
    std::wstring why;
    if (!file_.Write(bytes, why)) {
        why_ = L"the guard cannot be recorded in " + file_.Path() + L" (" + why +
               L"), so no setting was written; free some space or make the folder writable, then run again";
        return false;
    }
    written_ = record;
    writtenBytes_ = bytes;
    sleptAtArmMs_ = SleptSoFar(clock_);
    armed_ = true;
    clock_.HoldStops();
    return true;
}

bool StartupGuard::RemoveIfOurs() {
    std::string bytes;
    std::wstring why;
    // A later run of this boot may have written its own guard meanwhile: that one stays.
    if (file_.Read(bytes, why) != GuardFile::Found::Read || bytes != writtenBytes_) return true;
    if (file_.Remove(why)) return true;
    clearError_ = L"the guard " + file_.Path() + L" cannot be removed (" + why +
                  L"); the next start will take it for a crash: run it with --rearm";
    return false;
}

WaitEnd StartupGuard::Wait() {
    if (!armed_) return WaitEnd::Passed;
    armed_ = false;
    const std::uint64_t until = written_.runningMs + std::uint64_t{written_.seconds} * 1000;
    for (;;) {
        if (SleptSoFar(clock_) >= sleptAtArmMs_ + kSleptMs) {
            RemoveIfOurs();
            if (!clock_.Sleep(kResumeSettleMs)) return WaitEnd::Stopped;
            return WaitEnd::Slept;
        }
        const std::uint64_t now = clock_.RunningMs();
        if (now >= until) break;
        if (!clock_.Sleep(static_cast<unsigned>(std::min<std::uint64_t>(until - now, kStepMs)))) {
            // A crash sends no stop: a shutdown in order says the machine ran well enough.
            RemoveIfOurs();
            return WaitEnd::Stopped;
        }
    }
    RemoveIfOurs();
    return WaitEnd::Passed;
}

}  // namespace startup_guard
