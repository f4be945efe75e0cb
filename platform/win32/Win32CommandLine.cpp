#include "platform/win32/Win32CommandLine.h"

#include <windows.h>

#include <cwchar>

#include "app/CommandLineRun.h"
#include "app/ProcessServices.h"
#include "platform/win32/Win32StartupGuard.h"
#include "profile/PrivateProfile.h"
#include "profile/ProfileStore.h"

namespace win32 {

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

HANDLE Usable(HANDLE handle) {
    return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN ? handle : nullptr;
}

void WriteLine(HANDLE handle, const std::wstring& text) {
    if (!handle) return;
    const std::wstring line = text + L"\r\n";
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    const std::string bytes = Utf8(line);
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Standard output and error: the handles the program was given when its output is redirected,
// else the console of the process that started it, when that has one.
class Console {
public:
    Console() {
        out_ = Usable(GetStdHandle(STD_OUTPUT_HANDLE));
        err_ = Usable(GetStdHandle(STD_ERROR_HANDLE));
        if (out_ && err_) return;
        if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
        console_ = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (console_ == INVALID_HANDLE_VALUE) {
            console_ = nullptr;
            return;
        }
        // The shell has shown its prompt already, since it does not wait for a window program.
        WriteLine(console_, L"");
        if (!out_) out_ = console_;
        if (!err_) err_ = console_;
    }
    ~Console() {
        if (console_) CloseHandle(console_);
    }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    bool HasOutput() const { return out_ != nullptr; }
    // Started from a console window whose errors go to it, not from a task or a redirection.
    bool AtConsole() const { return console_ != nullptr && err_ == console_; }
    void Out(const std::wstring& text) const { WriteLine(out_, text); }
    void Err(const std::wstring& text) const { WriteLine(err_, text); }

private:
    HANDLE out_ = nullptr;
    HANDLE err_ = nullptr;
    HANDLE console_ = nullptr;
};

// HalvornController.log beside Profile.ini, opened for appending after the size check.
class LogFile {
public:
    explicit LogFile(const std::wstring& directory) {
        if (directory.empty()) return;
        std::wstring stem = directory;
        if (stem.back() != L'\\' && stem.back() != L'/') stem += L'\\';
        stem += L"HalvornController";
        const std::wstring path = stem + L".log";
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
            (data.nFileSizeHigh != 0 || data.nFileSizeLow >= kLogLimitBytes))
            MoveFileExW(path.c_str(), (stem + L".old.log").c_str(), MOVEFILE_REPLACE_EXISTING);
        file_ = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file_ == INVALID_HANDLE_VALUE) file_ = nullptr;
    }
    ~LogFile() {
        if (file_) CloseHandle(file_);
    }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    bool IsOpen() const { return file_ != nullptr; }
    void Write(const std::wstring& text) const { WriteLine(file_, text); }

private:
    HANDLE file_ = nullptr;
};

class ConsoleAndLog final : public CommandOutput {
public:
    ConsoleAndLog(const Console& console, const LogFile& log) : console_(console), log_(log) {}
    void Line(const std::wstring& text) override {
        console_.Out(text);
        log_.Write(text);
    }
    void Error(const std::wstring& text) override {
        console_.Err(text);
        log_.Write(text);
    }

private:
    const Console& console_;
    const LogFile& log_;
};

std::wstring RunHeader(const std::vector<std::wstring>& arguments) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t stamp[32] = {};
    std::swprintf(stamp, sizeof stamp / sizeof stamp[0], L"%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    std::wstring header = L"-- ";
    header += stamp;
    for (const std::wstring& argument : arguments) header += L" " + argument;
    return header;
}

}  // namespace

namespace {

// A path as the profile store and the guard take it: whole, from the current directory.
std::wstring FullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return path;
    full.resize(length);
    return full;
}

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

int RunAndLog(CommandLine& line, const std::vector<std::wstring>& arguments, ProcessServices& services,
              const RunContext& context, const std::wstring& directory, startup_guard::StartupGuard& guard) {
    const Console console;
    if (line.usageError.empty() && line.command == Command::Help) {
        std::wstring text;
        const std::vector<std::wstring> logNote = {
            L"",
            L"Every --list and --apply-profile run also appends its lines to HalvornController.log",
            L"beside Profile.ini (or --profile's file); from 64 KiB on, it becomes HalvornController.old.log",
            L"and a new one begins.",
        };
        for (const std::wstring& helpLine : HelpText(services.ApplicationName(), logNote)) {
            console.Out(helpLine);
            text += helpLine + L"\n";
        }
        // Started from a shortcut there is nowhere else the text would show.
        if (!console.HasOutput())
            MessageBoxW(nullptr, text.c_str(), services.ApplicationName().c_str(), MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    const LogFile log(directory);
    if (!log.IsOpen()) console.Err(services.ApplicationName() + L": cannot write HalvornController.log");
    log.Write(RunHeader(arguments));
    ConsoleAndLog output(console, log);
    line.FillGuardDefault(console.AtConsole());
    const int status = RunCommand(line, services, context, output, DetectBoard, nullptr, &guard,
                                  L"ending the session (log off, shut down)");
    log.Write(L"-- exit status " + std::to_wstring(status));
    return status;
}

}  // namespace

int RunCommandLine(CommandLine line, const std::vector<std::wstring>& arguments, ProcessServices& services,
                   const RunContext& context, profile::PrivateProfile& profileFunctions, LazyProfileStore& profiles) {
    // Beside the profile: Profile.ini in the current directory, or --profile's file.
    std::wstring directory = profileFunctions.CurrentDirectory();
    if (line.profileFile) {
        const std::wstring file = FullPath(*line.profileFile);
        profiles.UseFile(file);
        directory = FolderOf(file);
    }
    Win32GuardFile guardFile(directory);
    Win32BootClock bootClock;
    for (;;) {
        startup_guard::StartupGuard guard(guardFile, bootClock);
        const int status = RunAndLog(line, arguments, services, context, directory, guard);
        // The lines are out, the lock, the log and the console let go: only the guard's wait is left.
        const startup_guard::WaitEnd end = guard.Wait();
        if (!guard.ClearError().empty()) {
            const Console console;
            const LogFile log(directory);
            const std::wstring said = services.ApplicationName() + L": " + guard.ClearError();
            console.Err(said);
            log.Write(said);
        }
        // Task Scheduler drops the after-sleep task's start while this one still runs: it applies instead.
        if (end != startup_guard::WaitEnd::Slept) return status;
    }
}

}  // namespace win32
