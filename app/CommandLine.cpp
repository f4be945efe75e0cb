#include "app/CommandLine.h"


#include "app/StartupGuard.h"
#include "gpu/PciBusIdText.h"

namespace {

// Which command a switch of ours modifies.
enum class Needs { Nothing, AnyCommand, ApplyProfile };
enum class Takes { Nothing, Value, MaybeValue };

struct Rule {
    const wchar_t* name;
    Takes takes;
    Needs needs;
    const wchar_t* valueName;  // in "--guard=SECONDS"
};

constexpr Rule kRules[] = {
    {L"--help", Takes::Nothing, Needs::Nothing, nullptr},
    {L"--version", Takes::Nothing, Needs::Nothing, nullptr},
    {L"--list", Takes::Nothing, Needs::Nothing, nullptr},
    {L"--apply-profile", Takes::Nothing, Needs::Nothing, nullptr},
    {L"--simulate", Takes::MaybeValue, Needs::Nothing, L"FILE"},
    {L"--json", Takes::Nothing, Needs::AnyCommand, nullptr},
    {L"--gpu", Takes::Value, Needs::AnyCommand, L"ID[,ID...]"},
    {L"--dry-run", Takes::Nothing, Needs::ApplyProfile, nullptr},
    {L"--strict", Takes::Nothing, Needs::ApplyProfile, nullptr},
    {L"--rearm", Takes::Nothing, Needs::ApplyProfile, nullptr},
    {L"--guard", Takes::Value, Needs::ApplyProfile, L"SECONDS"},
    {L"--profile", Takes::Value, Needs::ApplyProfile, L"FILE"},
};

bool IsSwitch(const std::wstring& argument) {
    return !argument.empty() && (argument[0] == L'-' || argument[0] == L'/');
}
bool IsOurs(const std::wstring& argument) { return argument.compare(0, 2, L"--") == 0; }

bool Offered(const Rule& rule, FrontEndSwitches frontEnd) {
    const std::wstring name = rule.name;
    if (name == L"--simulate") return frontEnd.simulate;
    if (name == L"--version") return frontEnd.version;
    return true;
}

std::wstring SeeHelp(std::wstring text) { return text + L"; see --help"; }

// A whole number of seconds up to the guard's limit.
std::optional<unsigned> GuardSeconds(const std::wstring& digits) {
    if (digits.empty() || digits.size() > 6) return std::nullopt;
    unsigned long seconds = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9') return std::nullopt;
        seconds = seconds * 10 + static_cast<unsigned long>(c - L'0');
    }
    if (seconds > startup_guard::kMaxSeconds) return std::nullopt;
    return static_cast<unsigned>(seconds);
}

class Parser {
public:
    Parser(const std::vector<std::wstring>& arguments, FrontEndSwitches frontEnd)
        : arguments_(arguments), frontEnd_(frontEnd) {}

    CommandLine Parse() {
        bool help = false, version = false, list = false, apply = false;
        // On past a mistake, so that the switches after it count (--json, for the refusal's document).
        for (std::size_t i = 0; i < arguments_.size(); ++i) {
            const std::wstring& argument = arguments_[i];
            if (!IsSwitch(argument)) {
                if (!line_.fileName) line_.fileName = argument;
                if (argument != L"internalTest" && !stray_) stray_ = i;
                continue;
            }
            if (!IsOurs(argument)) continue;  // the window's rule: other switches are passed over
            const std::size_t equals = argument.find(L'=');
            const std::wstring name = argument.substr(0, equals);
            const Rule* rule = Find(name);
            if (!rule) {
                Fail(SeeHelp(L"unknown switch " + name));
                continue;
            }
            const bool hasValue = equals != std::wstring::npos;
            const std::wstring value = hasValue ? argument.substr(equals + 1) : std::wstring();
            if (hasValue && rule->takes == Takes::Nothing) {
                Fail(SeeHelp(name + L" takes no value"));
                continue;
            }
            if (!hasValue && rule->takes == Takes::Value) {
                // "--guard 30" would otherwise leave 30 to the window's file name unseen.
                Fail(SeeHelp(name + L" takes its value in the same argument: " + name + L"=" + rule->valueName));
                continue;
            }
            if (rule->takes != Takes::Nothing && Given(name)) {
                Fail(SeeHelp(name + L" is given twice"));
                continue;
            }
            seen_.push_back(rule);
            if (name == L"--help") help = true;
            else if (name == L"--version") version = true;
            else if (name == L"--list") list = true;
            else if (name == L"--apply-profile") apply = true;
            else if (name == L"--json") line_.json = true;
            else if (name == L"--dry-run") line_.dryRun = true;
            else if (name == L"--strict") line_.strict = true;
            else if (name == L"--rearm") line_.rearm = true;
            else if (name == L"--guard") TakeGuard(value);
            else if (name == L"--gpu") TakeGpus(value);
            else if (name == L"--profile") TakeProfile(value);
            else if (name == L"--simulate") TakeSimulate(hasValue, value);
        }
        if (!line_.usageError.empty()) {
            // The command it was meant for, for the refusal's document.
            if (list != apply) line_.command = list ? Command::List : Command::ApplyProfile;
            return line_;
        }

        if (list && apply) return Fail(SeeHelp(L"--list and --apply-profile cannot be used together"));
        if (version) return Command(Command::Version);
        if (help) return Command(Command::Help);
        line_.command = list ? Command::List : apply ? Command::ApplyProfile : Command::Window;
        for (const Rule* rule : seen_) {
            if (rule->needs == Needs::AnyCommand && !list && !apply)
                return Fail(SeeHelp(std::wstring(rule->name) + L" goes with --list or --apply-profile"));
            if (rule->needs == Needs::ApplyProfile && !apply)
                return Fail(SeeHelp(std::wstring(rule->name) + L" goes with --apply-profile"));
        }
        // Without the window a file name means nothing: "--apply-profile other.ini" must not apply
        // Profile.ini unseen, nor "--simulate FILE" run on the built-in machine.
        if (line_.command != Command::Window && stray_) {
            const std::wstring& stray = arguments_[*stray_];
            if (*stray_ > 0 && arguments_[*stray_ - 1] == L"--simulate")
                return Fail(SeeHelp(L"--simulate takes its scenario file in the same argument: --simulate=FILE, not \"" +
                                    stray + L"\""));
            return Fail(SeeHelp(L"\"" + stray + L"\" means nothing to --list and --apply-profile, which take no file "
                                L"name (a profile file is named with --profile=FILE)"));
        }
        return line_;
    }

private:
    const Rule* Find(const std::wstring& name) const {
        for (const Rule& rule : kRules)
            if (name == rule.name && Offered(rule, frontEnd_)) return &rule;
        return nullptr;
    }
    bool Given(const std::wstring& name) const {
        for (const Rule* rule : seen_)
            if (name == rule->name) return true;
        return false;
    }
    CommandLine Fail(std::wstring why) {
        if (line_.usageError.empty()) line_.usageError = std::move(why);
        return line_;
    }
    CommandLine Command(::Command command) {
        line_.command = command;
        return line_;
    }

    void TakeGuard(const std::wstring& value) {
        line_.guardSeconds = GuardSeconds(value);
        if (!line_.guardSeconds)
            Fail(SeeHelp(L"--guard= takes a whole number of seconds up to " +
                         std::to_wstring(startup_guard::kMaxSeconds)));
    }
    void TakeGpus(const std::wstring& value) {
        std::size_t at = 0;
        for (;;) {
            const std::size_t comma = value.find(L',', at);
            const std::wstring id = value.substr(at, comma == std::wstring::npos ? std::wstring::npos : comma - at);
            const std::optional<std::wstring> full = NormalizedPciBusId(id);
            if (!full) {
                Fail(SeeHelp(L"--gpu= takes PCI bus ids such as 0000:01:00.0 or 01:00.0, not \"" + id + L"\""));
                return;
            }
            line_.gpus.push_back(*full);
            if (comma == std::wstring::npos) return;
            at = comma + 1;
        }
    }
    void TakeProfile(const std::wstring& value) {
        if (value.empty()) Fail(SeeHelp(L"--profile= names no file"));
        else line_.profileFile = value;
    }
    void TakeSimulate(bool hasValue, const std::wstring& value) {
        line_.simulate = true;
        if (hasValue && value.empty()) Fail(L"--simulate= names no scenario file");
        else if (hasValue) line_.scenarioFile = value;
    }

    const std::vector<std::wstring>& arguments_;
    FrontEndSwitches frontEnd_;
    CommandLine line_;
    std::vector<const Rule*> seen_;
    std::optional<std::size_t> stray_;  // the first argument that is neither a switch nor internalTest
};

}  // namespace

void CommandLine::FillGuardDefault(bool personWaiting) {
    if (command != Command::ApplyProfile || guardSeconds) return;
    guardSeconds = personWaiting && !rearm ? 0u : startup_guard::kDefaultSeconds;
}

CommandLine ParseCommandLine(const std::vector<std::wstring>& arguments, FrontEndSwitches frontEnd) {
    return Parser(arguments, frontEnd).Parse();
}
