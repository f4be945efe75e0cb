#include "app/CommandLineRun.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <nlohmann/json.hpp>

#include "app/AppTitle.h"
#include "boards/ProfileReader.h"
#include "boards/ItemTraits.h"
#include "boards/Rtx3080TiFamily.h"
#include "gpu/GpuList.h"
#include "model/BoardJob.h"
#include "model/DryRunBus.h"
#include "profile/ProfileStore.h"
#include "profile/TextCodec.h"
#include "res/Version.h"

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
        if (locked_) services_.ReleaseMachineLock();
    }
    RunResources(const RunResources&) = delete;
    RunResources& operator=(const RunResources&) = delete;

    bool Lock() { return locked_ = services_.AcquireMachineLock(); }
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
    // On standard error and in the document's "warnings"; a warning alone sets no status.
    void Warning(const ProfileWarning& warning) {
        TakeFindings();
        output_.Error(programName_ + L": warning: " + warning.text);
        json entry = {{"file", Utf8(warning.file)},
                      {"key", Utf8(warning.key)},
                      {"value", Utf8(warning.value)},
                      {"text", Utf8(warning.text)}};
        entry["line"] = warning.line != 0 ? json(warning.line) : json(nullptr);
        warnings_.push_back(std::move(entry));
    }
    // A word for the person or the log, not an error.
    void Notice(const std::wstring& text) { output_.Error(programName_ + L": " + text); }

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
        json document = {{"schemaVersion", kJsonSchemaVersion},
                         {"version", res::kVersion},
                         {"command", command ? json(command) : json(nullptr)},
                         {"dryRun", dryRun},
                         {"exitStatus", status},
                         {"boards", boards_},
                         {"errors", errors_},
                         {"warnings", warnings_}};
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
    json warnings_ = json::array();
    json guard_;
};

// The profile belongs to the family, and only the RTX 3080 Ti boards have one.
rtx3080ti::Board* TakesProfiles(SupportedBoard& board) {
    const auto* typed = std::get_if<std::unique_ptr<rtx3080ti::Board>>(&board.board.board);
    return typed ? typed->get() : nullptr;
}

// The card as lspci names it, when the platform could tell.
std::wstring BusIdText(const SupportedBoard& board) { return board.busId.empty() ? L"" : L" (" + board.busId + L")"; }

std::wstring BoardTitle(const SupportedBoard& board) {
    return L"GPU " + std::to_wstring(board.gpuIndex) + BusIdText(board) + L" " + board.name + L" [" +
           board.board.type->name + L"]";
}

json BoardJson(const SupportedBoard& board, std::size_t entry) {
    return {{"entry", entry},
            {"gpuIndex", board.gpuIndex},
            {"busId", board.busId.empty() ? json(nullptr) : json(Utf8(board.busId))},
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
        if (s.key) setting["key"] = Utf8(s.key);
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

// One RTX 3080 Ti board's apply in a run: its profile, its job and the bus it writes on.
struct BoardApply {
    rtx3080ti::Board* board = nullptr;
    const Rtx3080TiProfile* profile = nullptr;  // none: the file holds no section for it
    rtx3080ti::BoardSettings before;
    std::unique_ptr<DryRunBus> dryBus;
    std::unique_ptr<rtx3080ti::Board::Job> job;
};

// The sections as the guard fingerprints them: the common one alone as its lines, card sections
// each under its header.
std::wstring ProfileLines(const std::vector<const Rtx3080TiProfile*>& used) {
    std::wstring lines;
    for (const Rtx3080TiProfile* profile : used) {
        if (used.size() > 1 || profile->sectionName != Rtx3080TiFamily::ProfileSectionName())
            lines += L"[" + profile->sectionName + L"]\n";
        for (const auto& [key, value] : profile->section) lines += key + L"=" + std::to_wstring(value) + L"\n";
    }
    return lines;
}

// The profiles a run reads, each section once: a card's own section where the file has one, the
// common section otherwise.
class RunProfiles {
public:
    RunProfiles(const ProfileStore& store, const std::vector<std::wstring>& machineBusIds)
        : store_(store), cards_(store, Rtx3080TiFamily::ProfileSectionName(), machineBusIds) {}

    const Rtx3080TiProfile& For(const SupportedBoard& board) {
        if (const std::optional<std::wstring> name = board.busId.empty() ? std::nullopt : cards_.For(board.busId)) {
            const Rtx3080TiProfile& own = Read(*name);
            if (own.found == SectionFound::Found) return own;
            cards_.Empty(*name);
        }
        return Common();
    }
    const Rtx3080TiProfile& Common() { return Read(Rtx3080TiFamily::ProfileSectionName()); }
    // In the order they were first read.
    const std::vector<const Rtx3080TiProfile*>& Read() const { return order_; }
    // What the file holds that cannot be taken as written: its sections first, then their lines.
    std::vector<ProfileWarning> Warnings() const {
        std::vector<ProfileWarning> warnings = cards_.Warnings();
        for (const Rtx3080TiProfile* profile : order_)
            warnings.insert(warnings.end(), profile->warnings.begin(), profile->warnings.end());
        return warnings;
    }

private:
    const Rtx3080TiProfile& Read(const std::wstring& name) {
        auto found = profiles_.find(name);
        if (found == profiles_.end()) {
            found = profiles_.emplace(name, ReadRtx3080TiProfile(store_, name)).first;
            order_.push_back(&found->second);
        }
        return found->second;
    }

    const ProfileStore& store_;
    CardSections cards_;
    std::map<std::wstring, Rtx3080TiProfile> profiles_;
    std::vector<const Rtx3080TiProfile*> order_;
};

// "GPU 1 (0000:01:00.0)" for each board, joined.
std::wstring Cards(const std::vector<const SupportedBoard*>& boards) {
    std::wstring text;
    for (const SupportedBoard* board : boards)
        text += (text.empty() ? L"" : L", ") + (L"GPU " + std::to_wstring(board->gpuIndex) + BusIdText(*board));
    return text;
}

// machineBusIds: every GPU's, for the card sections of the file.
int ApplyProfile(std::vector<SupportedBoard>& boards, const std::vector<std::wstring>& machineBusIds, Sleeper& sleeper,
                 ProfileStore& store, const CommandLine& line, Report& report, startup_guard::StartupGuard* guard,
                 const std::wstring& howToEndWait) {
    const bool dryRun = line.dryRun;
    const FamilyTable<rtx3080ti::Item>& family = Rtx3080TiFamily::Table();

    int status = exit_status::kDone;
    RunProfiles profiles(store, machineBusIds);
    std::vector<BoardApply> applies;
    std::vector<const SupportedBoard*> withoutProfile;
    for (SupportedBoard& found : boards) {
        rtx3080ti::Board* board = TakesProfiles(found);
        if (!board) continue;
        const Rtx3080TiProfile& profile = profiles.For(found);
        BoardApply apply;
        apply.board = board;
        if (profile.found == SectionFound::Found) apply.profile = &profile;
        else withoutProfile.push_back(&found);
        applies.push_back(std::move(apply));
    }
    if (applies.empty()) {
        for (const SupportedBoard& board : boards) {
            report.Line(BoardTitle(board) + L": skipped, this board type has no profiles");
            json document = BoardJson(board, static_cast<std::size_t>(&board - boards.data()));
            document["result"] = "skipped";
            report.Board(std::move(document));
        }
        report.Error(L"no board that takes a profile (RTX 3080 Ti)");
        return exit_status::kNoSupportedBoard;
    }
    const std::vector<ProfileWarning> problems = profiles.Warnings();
    const std::size_t warnings = problems.size();
    const auto tellWarnings = [&] {
        for (const ProfileWarning& warning : problems) report.Warning(warning);
    };
    // Nothing reaches the boards' settings, nor their reads, when the profile is not as written.
    const bool keptBack = line.strict && warnings != 0;
    if (keptBack) {
        tellWarnings();
        report.Error(L"--strict: the profile has " + std::to_wstring(warnings) +
                     (warnings == 1 ? L" problem" : L" problems") + L" (warned above); nothing was written");
        status = Worse(status, exit_status::kNoProfile);
    }

    if (!keptBack) {
        for (BoardApply& apply : applies) {
            // The board's reads as the window makes them when the user picks the board, before Load:
            // the same transfers from either front end, and what the apply changes from.
            apply.before = apply.board->ReadAll();
            if (!apply.profile) continue;
            BoardBus* bus = &apply.board->Bus();
            if (dryRun) {
                apply.dryBus = std::make_unique<DryRunBus>(apply.board->Bus());
                bus = apply.dryBus.get();
            }
            apply.job = apply.board->Apply(apply.profile->wanted, *bus);
        }
    }
    std::vector<BoardJob*> jobs;
    std::vector<const Rtx3080TiProfile*> used;
    for (BoardApply& apply : applies) {
        if (!apply.job) continue;
        jobs.push_back(apply.job.get());
        if (std::find(used.begin(), used.end(), apply.profile) == used.end()) used.push_back(apply.profile);
    }
    // The guard goes down before the first setting does; without it, none goes.
    if (guard && !dryRun && !jobs.empty()) {
        if (!guard->Arm(*line.guardSeconds, ProfileLines(used))) {
            report.Error(guard->Why());
            return exit_status::kGuarded;
        }
        if (guard->Armed()) report.Notice(GuardWaitNotice(*line.guardSeconds, howToEndWait));
    }
    // After the guard's word, which comes first on standard error when the program is to wait.
    if (!keptBack) tellWarnings();
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
        BoardApply& apply = *next++;
        if (apply.profile) document["section"] = Utf8(apply.profile->sectionName);
        if (!apply.profile) {
            document["result"] = "no profile";
            report.Board(std::move(document));
            continue;
        }
        // The profile's values as the profile gives them; what the apply sets, as the items hold
        // them. An item a flag holds (NVVDD under Auto) is left alone, so it is not called applied.
        std::vector<ShownSetting> applied = Describe(family, apply.profile->wanted);
        applied.erase(std::remove_if(applied.begin(), applied.end(), [](const ShownSetting& s) { return s.heldByFlag; }),
                      applied.end());
        document["profile"] = SettingsJson(Describe(family, apply.profile->stored));
        document["applied"] = SettingsJson(applied);
        if (keptBack) {
            report.Line(BoardTitle(board) + L": kept back, the profile has problems and --strict was given");
            document["result"] = "kept back";
            report.Board(std::move(document));
            continue;
        }
        document["before"] = SettingsJson(Describe(family, apply.before));
        std::size_t failed = apply.job->Failures();
        if (dryRun) {
            const std::vector<std::string> plan = DescribeResults(apply.job->Results());
            report.Line(BoardTitle(board) + L": would apply " + SettingsText(applied) +
                        (plan.empty() ? L"; nothing to write, the board holds it" : L"; the plan:"));
            for (const std::string& step : plan) report.Line(L"  " + Widen(step));
            document["plan"] = plan;
            document["result"] = failed == 0 ? "planned" : "planned in part";
        } else {
            const std::vector<ShownSetting> readBack = Describe(family, apply.board->ReadAll());
            failed += UnreadCount(readBack);
            // What failed is not called applied, and what was not read is not called read back.
            report.Line(BoardTitle(board) + (failed == 0 ? L": applied " : L": tried to apply ") +
                        SettingsText(applied) +
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
    // Said once for the run, after the boards' lines, naming the file.
    if (!withoutProfile.empty()) {
        const Rtx3080TiProfile& common = profiles.Common();
        const std::wstring why = common.found == SectionFound::NoFile
                                     ? store.Path() + L" does not exist or cannot be read"
                                     : store.Path() + L" holds no [" + common.sectionName + L"] section";
        // The window saves Profile.ini in its own current directory, not --profile's file.
        const std::wstring advice = line.profileFile ? L"write one (see \"Writing Profile.ini by hand\" in the README)"
                                                     : L"save one in the window first";
        report.Error(L"no profile for " + Cards(withoutProfile) + L": " + why + L"; " + advice);
        status = Worse(status, exit_status::kNoProfile);
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
        L"                    with the profile in Profile.ini of the current directory, then end: each",
        L"                    card gets its own section [RTX3080TiZYL BUSID] where the file has one, the",
        L"                    common [RTX3080TiZYL] otherwise; an RTX 2080 Ti has no profiles and is skipped",
        L"  --gpu=ID[,ID...]  with --list or --apply-profile: only the cards with these PCI bus ids",
        L"                    (0000:01:00.0, or 01:00.0); the others are not touched",
        L"  --profile=FILE    with --apply-profile: read FILE instead of Profile.ini; the guard goes beside it",
        L"  --strict          with --apply-profile: a problem in the profile (a value out of range or not",
        L"                    a whole number, an unknown or repeated key, a card section that cannot serve)",
        L"                    writes nothing and ends with status 5; without it, each is a warning",
        L"  --dry-run         with --apply-profile: read the boards and print every write and pause",
        L"                    the profile would make; it writes no setting, only the handshake that",
        L"                    finding the boards sends to an RTX 3080 Ti MCU (5 bytes to register 0xB2)",
        L"  --guard=SECONDS   with --apply-profile: before the first write, record a guard beside",
        L"                    the profile; after the run's lines, stay quietly (holding nothing) until the",
        L"                    machine has run SECONDS after the apply, then remove it. A start that finds",
        L"                    a guard from an earlier boot (a crash, a reset) writes nothing and ends with",
        L"                    status 7. Default 120 for unattended runs (the unit, a task, a script) and 0",
        L"                    when standard input and error are a terminal, unless --rearm is given;",
        L"                    0 turns the guard off",
        L"  --rearm           with --apply-profile: apply although a guard from an earlier boot is there;",
        L"                    it is removed right before the first write (a run that writes nothing",
        L"                    leaves it), and the apply is guarded again",
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
        L"  2  the command line cannot be followed: an unknown switch, one without its command, --gpu",
        L"     naming a card that is not there",
        L"  3  no supported board (for --apply-profile: no RTX 3080 Ti board)",
        L"  4  NvAPI could not be started",
        L"  5  the profile file is missing or holds no RTX 3080 Ti profile for some card, or --strict",
        L"     found a problem in it",
        L"  6  the window is open, or another run is at work: nothing was done",
        L"  7  the start-up guard kept the profile back: the last apply was followed by a restart",
        L"     within the guard time, the guard is unclear, or it cannot be recorded; nothing was written",
        L"When several apply, the lowest non-zero one is returned.",
        L"",
        L"Profile.ini's keys, units and ranges, and a file for several cards: README, \"Writing Profile.ini by hand\".",
    });
    return lines;
}

namespace {

// The document's "guard": what the guard did in this run.
json GuardJson(const startup_guard::StartupGuard& guard, const CommandLine& line, const char* state) {
    json document = {{"file", Utf8(guard.Path())},
                     {"seconds", *line.guardSeconds},
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

std::wstring GuardWaitNotice(unsigned seconds, const std::wstring& howToEndWait) {
    return L"the start-up guard is armed: after this run the program stays " + std::to_wstring(seconds) +
           L" s, quietly, so that a restart within that time (a crash) keeps the profile from being applied "
           L"again; " + howToEndWait + L" ends the wait and removes the guard";
}

namespace {

const char* CommandName(const CommandLine& line) {
    switch (line.command) {
        case Command::List: return "list";
        case Command::ApplyProfile: return "apply-profile";
        default: return nullptr;
    }
}

}  // namespace

int ReportUsageError(const CommandLine& line, const std::wstring& programName, CommandOutput& output) {
    Report report(output, programName, line.json, nullptr);
    report.Error(line.usageError);
    return report.End(CommandName(line), line.dryRun, exit_status::kUsage);
}

int RunCommand(const CommandLine& line, ProcessServices& services, const RunContext& context, CommandOutput& output,
               const BoardDetector& detect, PlatformFindings* findings, startup_guard::StartupGuard* guard,
               const std::wstring& howToEndWait) {
    const std::wstring programName = services.ApplicationName();
    if (!line.usageError.empty() || (line.command != Command::List && line.command != Command::ApplyProfile)) {
        CommandLine refused = line;
        if (refused.usageError.empty()) refused.usageError = L"nothing to run without the window; see --help";
        return ReportUsageError(refused, programName, output);
    }
    const char* name = CommandName(line);
    Report report(output, programName, line.json, findings);
    if (line.command != Command::ApplyProfile || !line.guardSeconds) guard = nullptr;
    if (guard) guard->SetProgramName(programName);

    RunResources resources(services, context.profiles);
    // Two programs on one bus would interleave their transfers.
    if (!resources.Lock()) {
        report.Error(std::wstring(L"the ") + kAppTitle +
                     L" window is open, or another run is at work; close it and try again");
        return report.End(name, line.dryRun, exit_status::kWindowOpen);
    }
    // Before anything reaches the boards, NvAPI's start included.
    if (guard) {
        const startup_guard::Decision decision = guard->Check(line.rearm, line.dryRun);
        if (decision != startup_guard::Decision::Apply) {
            report.Error(guard->Why());
            report.Guard(GuardJson(*guard, line, RefusalState(decision)));
            return report.End(name, line.dryRun, exit_status::kGuarded);
        }
    }
    // What the guard did, in the document, however the run ends from here on.
    const auto end = [&](int status) {
        if (guard) {
            const char* state = guard->Armed()                    ? "armed"
                                : status == exit_status::kGuarded ? "not recorded"
                                : line.dryRun                     ? "dry run"
                                : *line.guardSeconds == 0         ? "off"
                                                                  : "not needed";
            report.Guard(GuardJson(*guard, line, state));
        }
        return report.End(name, line.dryRun, status);
    };
    const GpuList& gpus = resources.MakeGpus(context.nvapi);
    if (!gpus.IsReady()) {
        report.Error(L"NV Control initialize failed!");
        return end(exit_status::kNvApiFailed);
    }
    std::vector<std::wstring> busIds;
    for (std::uint32_t i = 0; i < gpus.Count(); ++i) busIds.push_back(gpus.BusId(i));
    // A card asked for by id that is not there: a script names the rig's cards, and a moved card
    // must not pass as done.
    std::wstring missing;
    for (const std::wstring& id : line.gpus)
        if (std::find(busIds.begin(), busIds.end(), id) == busIds.end()) missing += (missing.empty() ? L"" : L", ") + id;
    if (!missing.empty()) {
        std::wstring present;
        for (const std::wstring& id : busIds)
            if (!id.empty()) present += (present.empty() ? L"" : L", ") + id;
        report.Error(L"--gpu: no GPU has the bus id " + missing +
                     (present.empty() ? L"" : L"; the GPUs here are " + present));
        return end(exit_status::kUsage);
    }
    std::vector<SupportedBoard> boards = FindSupportedBoards(gpus, detect, line.gpus);
    if (boards.empty()) {
        report.Error(L"Device not support.");
        return end(exit_status::kNoSupportedBoard);
    }
    const int status = line.command == Command::List ? List(boards, report)
                                                     : ApplyProfile(boards, busIds, context.sleeper, context.profiles.Get(),
                                                                    line, report, guard, howToEndWait);
    return end(status);
}
