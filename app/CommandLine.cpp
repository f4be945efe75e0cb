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
    return {Has(arguments, L"--dry-run"), Has(arguments, L"--json")};
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
