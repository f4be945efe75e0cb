#include "app/CommandLineRun.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <nlohmann/json.hpp>

#include "app/AppTitle.h"
#include "boards/ItemTraits.h"
#include "boards/Rtx3080TiFamily.h"
#include "gpu/GpuList.h"
#include "model/BoardJob.h"
#include "model/DryRunBus.h"
#include "profile/ProfileStore.h"
#include "profile/TextCodec.h"

namespace {

using nlohmann::json;

// A dry run's pauses are printed, not waited out.
class NoPause final : public Sleeper {
public:
    void Sleep(unsigned) override {}
};

// Everything a run took, given back however it ends.
class RunResources {
public:
    RunResources(ProcessServices& services, LazyProfileStore& profiles) : services_(services), profiles_(profiles) {}
    ~RunResources() {
        profiles_.Close();
        gpus_.reset();
        if (locked_) services_.ReleaseInstanceLock();
    }
    RunResources(const RunResources&) = delete;
    RunResources& operator=(const RunResources&) = delete;

    bool Lock() { return locked_ = services_.AcquireInstanceLock(kAppTitle); }
    // The run's GPU list, made once the lock is held.
    const GpuList& MakeGpus(nvapi::NvApi& api) { return gpus_.emplace(api); }

private:
    ProcessServices& services_;
    LazyProfileStore& profiles_;
    std::optional<GpuList> gpus_;
    bool locked_ = false;
};

using profile::Utf8;  // the JSON document must be well-formed UTF-8

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// When a run meets several statuses, the lowest non-zero one.
int Worse(int status, int other) {
    if (status == exit_status::kDone) return other;
    if (other == exit_status::kDone) return status;
    return std::min(status, other);
}

// Where the run's lines go: as they come, or gathered into the one JSON document at the end.
class Report {
public:
    Report(CommandOutput& output, const std::wstring& programName, bool asJson, PlatformFindings* findings)
        : output_(output), programName_(programName), json_(asJson), findings_(findings) {}

    void Line(const std::wstring& text) {
        TakeFindings();
        if (!json_) output_.Line(text);
    }
    // Errors go to standard error either way, and into the document.
    void Error(const std::wstring& text) {
        TakeFindings();
        Said(text);
    }
    void Board(json board) {
        TakeFindings();
        boards_.push_back(std::move(board));
    }
    void Guard(json guard) { guard_ = std::move(guard); }

    // The document's exit status is the one the process ends with, the platform's verdict included.
    int End(const char* command, bool dryRun, int status) {
        TakeFindings();
        if (findings_) {
            const PlatformFindings::Verdict verdict = findings_->Conclude();
            if (verdict.status != exit_status::kDone) {
                Said(verdict.line);
                status = Worse(status, verdict.status);
            }
        }
        if (!json_) return status;
        json document = {{"command", command ? json(command) : json(nullptr)},
                         {"dryRun", dryRun},
                         {"exitStatus", status},
                         {"boards", boards_},
                         {"errors", errors_}};
        if (!guard_.is_null()) document["guard"] = guard_;
        // ASCII with escapes: the same bytes whatever the console's code page.
        std::string text = document.dump(2, ' ', true);
        std::size_t at = 0;
        while (at <= text.size()) {
            const std::size_t end = std::min(text.find('\n', at), text.size());
            output_.Line(Widen(text.substr(at, end - at)));
            at = end + 1;
        }
        return status;
    }

private:
    void Said(const std::wstring& text) {
        output_.Error(programName_ + L": " + text);
        errors_.push_back(Utf8(text));
    }
    // As they come, in the order standard error gets them.
    void TakeFindings() {
        if (!findings_) return;
        for (const std::wstring& cause : findings_->TakeCauses()) Said(cause);
    }

    CommandOutput& output_;
    std::wstring programName_;
    bool json_;
    PlatformFindings* findings_;
    json boards_ = json::array();
    std::vector<std::string> errors_;
    json guard_;
};

// The profile belongs to the family, and only the RTX 3080 Ti boards have one.
rtx3080ti::Board* TakesProfiles(SupportedBoard& board) {
    const auto* typed = std::get_if<std::unique_ptr<rtx3080ti::Board>>(&board.board.board);
    return typed ? typed->get() : nullptr;
}

std::wstring BoardTitle(const SupportedBoard& board) {
    return L"GPU " + std::to_wstring(board.gpuIndex) + L" " + board.name + L" [" + board.board.type->name + L"]";
}

json BoardJson(const SupportedBoard& board, std::size_t entry) {
    return {{"entry", entry},
            {"gpuIndex", board.gpuIndex},
            {"gpuName", Utf8(board.name)},
            {"board", Utf8(board.board.type->name)}};
}

std::size_t UnreadCount(const std::vector<ShownSetting>& shown) {
    return static_cast<std::size_t>(
        std::count_if(shown.begin(), shown.end(), [](const ShownSetting& s) { return !s.setting.read; }));
}

bool NothingRead(const std::vector<ShownSetting>& shown) { return UnreadCount(shown) == shown.size(); }

// "NVVDD 1.20000 V, FBVDD not read, ..., Auto on".
std::wstring SettingsText(const std::vector<ShownSetting>& shown) {
    std::wstring text;
    for (const ShownSetting& s : shown) {
        if (!text.empty()) text += L", ";
        text += s.label + L" " + s.text;
    }
    return text;
}

json SettingsJson(const std::vector<ShownSetting>& shown) {
    json settings = json::array();
    for (const ShownSetting& s : shown) {
        json setting = {{"name", Utf8(s.label)}, {"read", s.setting.read}};
        if (!s.setting.read) {
            setting["why"] = s.setting.why;
        } else {
            const ValueTraits& traits = *s.traits;
            setting["text"] = Utf8(s.text);
            setting["code"] = s.setting.value;
            if (traits.amount) {
                if (const std::optional<double> amount = traits.amount(s.setting.value)) setting["value"] = *amount;
                if (*traits.unit) setting["unit"] = traits.unit;
            } else {
                setting["value"] = traits.Held(s.setting.value) != 0;  // a flag or a switch
            }
        }
        settings.push_back(std::move(setting));
    }
    return settings;
}

int List(std::vector<SupportedBoard>& boards, Report& report) {
    int status = exit_status::kDone;
    for (std::size_t entry = 0; entry < boards.size(); ++entry) {
        const SupportedBoard& board = boards[entry];
        const std::vector<ShownSetting> shown = ReadShown(board.board.board);
        json document = BoardJson(board, entry);
        document["settings"] = SettingsJson(shown);
        report.Line(L"Entry " + std::to_wstring(entry) + L": " + BoardTitle(board));
        const std::size_t unread = UnreadCount(shown);
        document["result"] = unread == 0 ? "listed" : NothingRead(shown) ? "unreadable" : "listed in part";
        report.Board(std::move(document));
        if (NothingRead(shown)) {
            report.Line(L"  the board could not be read");
            report.Error(BoardTitle(board) + L": the board could not be read");
            status = Worse(status, exit_status::kBoardFailed);
            continue;
        }
        // The window's own check box, as the window starts.
        report.Line(L"  Sync: off");
        for (const ShownSetting& s : shown)
            report.Line(L"  " + s.label + L": " + s.text + (s.detail.empty() ? L"" : L"  (" + s.detail + L")"));
        if (unread != 0) {
            report.Error(BoardTitle(board) + L": " + std::to_wstring(unread) +
                         (unread == 1 ? L" setting" : L" settings") + L" could not be read");
            status = Worse(status, exit_status::kBoardFailed);
        }
    }
    return status;
}

// One RTX 3080 Ti board's apply in a run: its job and the bus it writes on.
struct BoardApply {
    rtx3080ti::Board* board;
    std::unique_ptr<DryRunBus> dryBus;
    std::unique_ptr<rtx3080ti::Board::Job> job;
};

// The section as the guard fingerprints it.
std::wstring ProfileLines(const ProfileSection& section) {
    std::wstring lines;
    for (const auto& [key, value] : section) lines += key + L"=" + std::to_wstring(value) + L"\n";
    return lines;
}

int ApplyProfile(std::vector<SupportedBoard>& boards, Sleeper& sleeper, ProfileStore& profiles, RunSwitches switches,
                 Report& report, startup_guard::StartupGuard* guard) {
    const bool dryRun = switches.dryRun;
    ProfileSection section;
    const FamilyTable<rtx3080ti::Item>& family = Rtx3080TiFamily::Table();
    const bool haveProfile = profiles.ReadSection(Rtx3080TiFamily::ProfileSectionName(), section);
    const rtx3080ti::BoardSettings loaded = Rtx3080TiFamily::FromProfile(section);
    // As Load leaves them for Apply: each value as its item holds it.
    const rtx3080ti::BoardSettings wanted = family.Held(loaded);
    const std::vector<ShownSetting> profileShown = Describe(family, loaded);

    int status = exit_status::kDone;
    std::vector<BoardApply> applies;
    bool anyTakesProfiles = false;
    for (SupportedBoard& found : boards) {
        rtx3080ti::Board* board = TakesProfiles(found);
        if (!board) continue;
        anyTakesProfiles = true;
        // The board's reads as the window makes them when the user picks the board, before Load:
        // the same transfers from either front end.
        board->ReadAll();
        if (!haveProfile) continue;
        BoardApply apply{board, nullptr, nullptr};
        BoardBus* bus = &board->Bus();
        if (dryRun) {
            apply.dryBus = std::make_unique<DryRunBus>(board->Bus());
            bus = apply.dryBus.get();
        }
        apply.job = board->Apply(wanted, *bus);
        applies.push_back(std::move(apply));
    }
    // The guard goes down before the first setting does; without it, none goes.
    if (guard && !dryRun && !applies.empty() && !guard->Arm(switches.guardSeconds, ProfileLines(section))) {
        report.Error(guard->Why());
        return exit_status::kGuarded;
    }
    std::vector<BoardJob*> jobs;
    for (BoardApply& apply : applies) jobs.push_back(apply.job.get());
    NoPause noPause;
    RunSideBySide(jobs, dryRun ? static_cast<Sleeper&>(noPause) : sleeper);

    auto next = applies.begin();
    for (std::size_t entry = 0; entry < boards.size(); ++entry) {
        SupportedBoard& board = boards[entry];
        json document = BoardJson(board, entry);
        if (!TakesProfiles(board)) {
            report.Line(BoardTitle(board) + L": skipped, this board type has no profiles");
            document["result"] = "skipped";
            report.Board(std::move(document));
            continue;
        }
        if (!haveProfile) {
            report.Error(BoardTitle(board) + L": no profile in " + profiles.Path() +
                         L"; save one in the window first");
            document["result"] = "no profile";
            report.Board(std::move(document));
            status = Worse(status, exit_status::kNoProfile);
            continue;
        }
        BoardApply& apply = *next++;
        std::size_t failed = apply.job->Failures();
        document["profile"] = SettingsJson(profileShown);
        if (dryRun) {
            const std::vector<std::string> plan = DescribeResults(apply.job->Results());
            report.Line(BoardTitle(board) + L": would apply " + SettingsText(profileShown) +
                        (plan.empty() ? L"; nothing to write, the board holds it" : L"; the plan:"));
            for (const std::string& step : plan) report.Line(L"  " + Widen(step));
            document["plan"] = plan;
            document["result"] = failed == 0 ? "planned" : "planned in part";
        } else {
            const std::vector<ShownSetting> readBack = Describe(family, apply.board->ReadAll());
            failed += UnreadCount(readBack);
            // What failed is not called applied, and what was not read is not called read back.
            report.Line(BoardTitle(board) + (failed == 0 ? L": applied " : L": tried to apply ") +
                        SettingsText(profileShown) +
                        (NothingRead(readBack) ? L"; nothing read back, the board could not be read"
                                               : L"; read back " + SettingsText(readBack)));
            document["readBack"] = SettingsJson(readBack);
            document["result"] = failed == 0 ? "applied" : "tried";
        }
        document["failedTransfers"] = failed;
        report.Board(std::move(document));
        if (failed != 0) {
            report.Error(BoardTitle(board) + L": " + std::to_wstring(failed) +
                         (failed == 1 ? L" transfer" : L" transfers") +
                         (dryRun ? L" failed; the plan may be incomplete"
                                 : L" failed; the board may hold only part of the profile"));
            status = Worse(status, exit_status::kBoardFailed);
        }
    }
    // After the boards' lines, as each board is told about in its turn.
    if (!anyTakesProfiles) {
        report.Error(L"no board that takes a profile (RTX 3080 Ti)");
        return exit_status::kNoSupportedBoard;
    }
    return status;
}

}  // namespace

std::vector<std::wstring> HelpText(const std::wstring& programName, const std::vector<std::wstring>& platformSwitches) {
    std::vector<std::wstring> lines = {
        L"Usage: " + programName + L" [switches] [internalTest]",
        L"",
        L"Without --list or --apply-profile the controller window opens.",
        L"",
        L"  --list            print every supported board with what the window shows for it, then end",
        L"  --apply-profile   on every RTX 3080 Ti board do what Load and then Apply do in the window,",
        L"                    with the profile in Profile.ini of the current directory, then end;",
        L"                    an RTX 2080 Ti has no profiles and is skipped",
        L"  --dry-run         with --apply-profile: read the boards and print every write and pause",
        L"                    the profile would make; it writes no setting, only the handshake that",
        L"                    finding the boards sends to an RTX 3080 Ti MCU (5 bytes to register 0xB2)",
        L"  --guard=SECONDS   with --apply-profile: before the first write, record a guard beside",
        L"                    Profile.ini; after the run's lines, stay quietly (holding nothing) until the",
        L"                    machine has run SECONDS after the apply, then remove it. A start that finds",
        L"                    a guard from an earlier boot (a crash, a reset) writes nothing and ends with",
        L"                    status 7. Default 120; 0 turns the guard off",
        L"  --rearm           with --apply-profile: remove the guard, then apply, guarded again",
        L"  --json            with --list or --apply-profile: print one JSON document instead of lines",
        L"  internalTest      with the window: show the Test button for raw I2C register reads and writes",
        L"  --help            print this text",
    };
    lines.insert(lines.end(), platformSwitches.begin(), platformSwitches.end());
    lines.insert(lines.end(), {
        L"",
        L"Exit status of --list and --apply-profile:",
        L"  0  done: listed, or the profile applied to every RTX 3080 Ti board",
        L"  1  a transfer of some board's Load or Apply failed, or --list could not read a setting",
        L"  2  the command line cannot be followed",
        L"  3  no supported board (for --apply-profile: no RTX 3080 Ti board)",
        L"  4  NvAPI could not be started",
        L"  5  Profile.ini is missing or holds no RTX 3080 Ti profile",
        L"  6  the window is open, or another run is at work: nothing was done",
        L"  7  the start-up guard kept the profile back: the last apply was followed by a restart",
        L"     within the guard time, the guard is unclear, or it cannot be recorded; nothing was written",
        L"When several apply, the lowest non-zero one is returned.",
    });
    return lines;
}

namespace {

// The document's "guard": what the guard did in this run.
json GuardJson(const startup_guard::StartupGuard& guard, RunSwitches switches, const char* state) {
    json document = {{"file", Utf8(guard.Path())},
                     {"seconds", switches.guardSeconds},
                     {"rearmed", guard.Rearmed()},
                     {"state", state}};
    if (const startup_guard::Record* earlier = guard.Earlier())
        document["earlierApply"] = {{"appliedAt", earlier->appliedAt},
                                    {"seconds", earlier->seconds},
                                    {"boot", earlier->bootId}};
    if (const startup_guard::Record* written = guard.Written())
        document["applied"] = {{"appliedAt", written->appliedAt},
                               {"boot", written->bootId},
                               {"profile", written->profileHash}};
    if (!guard.Why().empty()) document["reason"] = Utf8(guard.Why());
    return document;
}

const char* RefusalState(startup_guard::Decision decision) {
    switch (decision) {
        case startup_guard::Decision::Crash: return "crash";
        case startup_guard::Decision::BadGuard: return "bad guard";
        default: return "not recorded";
    }
}

}  // namespace

int RunCommand(Command command, RunSwitches switches, ProcessServices& services, const RunContext& context,
               CommandOutput& output, const BoardDetector& detect, PlatformFindings* findings,
               startup_guard::StartupGuard* guard) {
    const std::wstring programName = services.ApplicationName();
    const char* name = command == Command::List ? "list" : "apply-profile";
    Report report(output, programName, switches.json, findings);
    if (command != Command::List && command != Command::ApplyProfile) {
        report.Error(L"--list and --apply-profile cannot be used together; see --help");
        return report.End(nullptr, false, exit_status::kUsage);
    }
    if (switches.dryRun && command != Command::ApplyProfile) {
        report.Error(L"--dry-run goes with --apply-profile; see --help");
        return report.End(name, true, exit_status::kUsage);
    }
    if (switches.guardInvalid) {
        report.Error(L"--guard= takes a whole number of seconds up to " +
                     std::to_wstring(startup_guard::kMaxSeconds) + L"; see --help");
        return report.End(name, switches.dryRun, exit_status::kUsage);
    }
    if ((switches.guardGiven || switches.rearm) && command != Command::ApplyProfile) {
        report.Error(L"--guard and --rearm go with --apply-profile; see --help");
        return report.End(name, false, exit_status::kUsage);
    }
    if (command != Command::ApplyProfile) guard = nullptr;
    if (guard) guard->SetProgramName(programName);

    RunResources resources(services, context.profiles);
    // Two programs on one bus would interleave their transfers.
    if (!resources.Lock()) {
        report.Error(std::wstring(L"the ") + kAppTitle +
                     L" window is open, or another run is at work; close it and try again");
        return report.End(name, switches.dryRun, exit_status::kWindowOpen);
    }
    // Before anything reaches the boards, NvAPI's start included.
    if (guard) {
        const startup_guard::Decision decision = guard->Check(switches.rearm, switches.dryRun);
        if (decision != startup_guard::Decision::Apply) {
            report.Error(guard->Why());
            report.Guard(GuardJson(*guard, switches, RefusalState(decision)));
            return report.End(name, switches.dryRun, exit_status::kGuarded);
        }
    }
    // What the guard did, in the document, however the run ends from here on.
    const auto end = [&](int status) {
        if (guard) {
            const char* state = guard->Armed()                    ? "armed"
                                : status == exit_status::kGuarded ? "not recorded"
                                : switches.dryRun                 ? "dry run"
                                : switches.guardSeconds == 0      ? "off"
                                                                  : "not needed";
            report.Guard(GuardJson(*guard, switches, state));
        }
        return report.End(name, switches.dryRun, status);
    };
    const GpuList& gpus = resources.MakeGpus(context.nvapi);
    if (!gpus.IsReady()) {
        report.Error(L"NV Control initialize failed!");
        return end(exit_status::kNvApiFailed);
    }
    std::vector<SupportedBoard> boards = FindSupportedBoards(gpus, detect);
    if (boards.empty()) {
        report.Error(L"Device not support.");
        return end(exit_status::kNoSupportedBoard);
    }
    const int status = command == Command::List ? List(boards, report)
                                                : ApplyProfile(boards, context.sleeper, context.profiles.Get(),
                                                               switches, report, guard);
    return end(status);
}
