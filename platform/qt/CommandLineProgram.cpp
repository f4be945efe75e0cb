#include "platform/qt/CommandLineProgram.h"

#include <QString>

#include <unistd.h>

#include <cstdio>

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

std::vector<std::wstring> WideArguments(int argc, char* argv[]) {
    std::vector<std::wstring> wide;
    for (int i = 1; i < argc; ++i) wide.push_back(QString::fromLocal8Bit(argv[i]).toStdWString());
    return wide;
}

bool AtTerminal() { return isatty(STDIN_FILENO) == 1 && isatty(STDERR_FILENO) == 1; }

int ReportUsage(const CommandLine& line, const ProcessServices& services) {
    StandardStreams output;
    return ReportUsageError(line, services.ApplicationName(), output);
}

int RunCommandLine(const CommandLine& line, ProcessServices& services, const RunContext& context,
                   PlatformFindings* findings, startup_guard::StartupGuard* guard) {
    StandardStreams output;
    if (line.usageError.empty() && line.command == Command::Help) {
        const std::vector<std::wstring> simulate = {
            L"  --simulate        run on the built-in simulated machine instead of the hardware",
            L"  --simulate=FILE   run on the simulated machine a scenario file describes",
            L"  --version         print the program's name and version, then end",
        };
        for (const std::wstring& text : HelpText(services.ApplicationName(), simulate)) output.Line(text);
        return exit_status::kDone;
    }
    return RunCommand(line, services, context, output, DetectBoard, findings, guard,
                      L"Ctrl-C (or stopping the unit)");
}

}  // namespace qtfront
