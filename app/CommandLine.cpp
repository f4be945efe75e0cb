#include "app/CommandLine.h"

#include <algorithm>

namespace {

bool IsSwitch(const std::wstring& argument) {
    return !argument.empty() && (argument[0] == L'-' || argument[0] == L'/');
}

bool Has(const std::vector<std::wstring>& arguments, const wchar_t* name) {
    return std::find(arguments.begin(), arguments.end(), name) != arguments.end();
}

}  // namespace

const std::wstring* CommandLineFileName(const std::vector<std::wstring>& arguments) {
    for (const std::wstring& argument : arguments) {
        if (IsSwitch(argument)) continue;
        return &argument;
    }
    return nullptr;
}

RunSwitches FindRunSwitches(const std::vector<std::wstring>& arguments) {
    RunSwitches switches;
    switches.dryRun = Has(arguments, L"--dry-run");
    switches.json = Has(arguments, L"--json");
    switches.rearm = Has(arguments, L"--rearm");
    const std::wstring guard = L"--guard=";
    for (const std::wstring& argument : arguments) {
        if (argument.compare(0, guard.size(), guard) != 0) continue;
        switches.guardGiven = true;
        const std::wstring digits = argument.substr(guard.size());
        unsigned long seconds = 0;
        bool valid = !digits.empty() && digits.size() <= 6;
        for (wchar_t c : digits) {
            if (c < L'0' || c > L'9') valid = false;
            else seconds = seconds * 10 + static_cast<unsigned long>(c - L'0');
        }
        if (!valid || seconds > startup_guard::kMaxSeconds) {
            switches.guardInvalid = true;
        } else {
            switches.guardSeconds = static_cast<unsigned>(seconds);
        }
    }
    return switches;
}

Command FindCommand(const std::vector<std::wstring>& arguments) {
    const bool list = Has(arguments, L"--list");
    const bool apply = Has(arguments, L"--apply-profile");
    if (list && apply) return Command::Conflicting;
    if (Has(arguments, L"--help")) return Command::Help;
    if (list) return Command::List;
    if (apply) return Command::ApplyProfile;
    return Command::Window;
}
