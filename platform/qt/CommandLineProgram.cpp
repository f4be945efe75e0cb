#include "platform/qt/CommandLineProgram.h"

#include <QString>

#include <cstdio>

#include "app/CommandLine.h"
#include "app/CommandLineRun.h"
#include "app/ProcessServices.h"

namespace qtfront {

namespace {

void Print(std::FILE* stream, const std::wstring& text) {
    std::fputs(QString::fromStdWString(text).toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

class StandardStreams final : public CommandOutput {
public:
    void Line(const std::wstring& text) override { Print(stdout, text); }
    void Error(const std::wstring& text) override { Print(stderr, text); }
};

}  // namespace

std::vector<std::wstring> WideArguments(const QStringList& arguments) {
    std::vector<std::wstring> wide;
    wide.reserve(static_cast<std::size_t>(arguments.size()));
    for (const QString& argument : arguments) wide.push_back(argument.toStdWString());
    return wide;
}

bool RunsWithoutWindow(const QStringList& arguments) {
    return FindCommand(WideArguments(arguments)) != Command::Window;
}

bool RunsWithoutWindow(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    return RunsWithoutWindow(arguments);
}

int RunCommandLine(const QStringList& arguments, ProcessServices& services, const RunContext& context,
                   PlatformFindings* findings, startup_guard::StartupGuard* guard) {
    StandardStreams output;
    const Command command = FindCommand(WideArguments(arguments));
    if (command == Command::Help) {
        const std::vector<std::wstring> simulate = {
            L"  --simulate        run on the built-in simulated machine instead of the hardware",
            L"  --simulate=FILE   run on the simulated machine a scenario file describes",
            L"  --version         print the program's name and version, then end",
        };
        for (const std::wstring& line : HelpText(services.ApplicationName(), simulate)) output.Line(line);
        return exit_status::kDone;
    }
    return RunCommand(command, FindRunSwitches(WideArguments(arguments)), services, context, output,
                      DetectBoard, findings, guard);
}

}  // namespace qtfront
