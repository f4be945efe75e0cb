#include "platform/win32/Win32StartupGuard.h"

#include <windows.h>

#include <cstdio>

namespace win32 {

namespace {

constexpr DWORD kMaxGuardBytes = 4096;
const wchar_t* const kWaitClass = L"HalvornControllerGuardWait";

std::wstring Cause(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring cause = length ? std::wstring(text, length) : L"error " + std::to_wstring(error);
    if (text) LocalFree(text);
    while (!cause.empty() && (cause.back() == L'\n' || cause.back() == L'\r' || cause.back() == L' ' ||
                              cause.back() == L'.'))
        cause.pop_back();
    return cause;
}

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~Handle() {
        if (handle_) CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool Close() {
        const bool ok = CloseHandle(handle_) != 0;
        handle_ = nullptr;
        return ok;
    }

private:
    HANDLE handle_;
};

// The window's user data points at the wait's stop flag.
LRESULT CALLBACK WaitWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE)
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    bool dummy = false;
    bool& stopAsked = GetWindowLongPtrW(window, GWLP_USERDATA)
                          ? *reinterpret_cast<bool*>(GetWindowLongPtrW(window, GWLP_USERDATA))
                          : dummy;
    switch (message) {
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wParam) stopAsked = true;
            return 0;
        case WM_POWERBROADCAST:
            if (wParam == PBT_APMSUSPEND) stopAsked = true;
            return TRUE;
        case WM_CLOSE:
            stopAsked = true;
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

Win32GuardFile::Win32GuardFile(std::wstring directory) : path_(std::move(directory)) {
    if (!path_.empty() && path_.back() != L'\\' && path_.back() != L'/') path_ += L'\\';
    path_ += startup_guard::kFileName;
}

Win32GuardFile::Found Win32GuardFile::Read(std::string& bytes, std::wstring& why) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return Found::None;
        why = Cause(error);
        return Found::Unreadable;
    }
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
        return Found::NotRegular;
    Handle file(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.get()) {
        why = Cause(GetLastError());
        return Found::Unreadable;
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) return Found::NotRegular;
    bytes.clear();
    char buffer[1024];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
            why = Cause(GetLastError());
            return Found::Unreadable;
        }
        if (got == 0) break;
        bytes.append(buffer, got);
        if (bytes.size() > kMaxGuardBytes) break;  // garbage to the parser
    }
    return Found::Read;
}

bool Win32GuardFile::Write(const std::string& bytes, std::wstring& why) {
    const std::wstring temporary = path_ + L".new";
    Handle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!file.get()) {
        why = Cause(GetLastError());
        return false;
    }
    DWORD wrote = 0;
    // On the disk before it counts: a crash right after the apply must find it.
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) ||
        wrote != bytes.size() || !FlushFileBuffers(file.get())) {
        why = Cause(GetLastError());
        file.Close();
        DeleteFileW(temporary.c_str());
        return false;
    }
    file.Close();
    if (!MoveFileExW(temporary.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        why = Cause(GetLastError());
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

bool Win32GuardFile::Remove(std::wstring& why) {
    if (DeleteFileW(path_.c_str())) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return true;
    // A folder in its place.
    if (RemoveDirectoryW(path_.c_str())) return true;
    why = Cause(error);
    return false;
}

Win32BootClock::~Win32BootClock() {
    if (window_) DestroyWindow(static_cast<HWND>(window_));
}

std::string Win32BootClock::BootId() {
    char value[128] = {};
    const DWORD length = GetEnvironmentVariableA("HALVORN_BOOT_ID", value, sizeof value);
    if (length > 0 && length < sizeof value) return value;
    // The system's boot time, as NtQuerySystemInformation's time-of-day class reports it.
    struct TimeOfDay {
        LARGE_INTEGER bootTime;
        LARGE_INTEGER currentTime;
        LARGE_INTEGER timeZoneBias;
        ULONG timeZoneId;
        ULONG reserved;
        ULONGLONG bootTimeBias;
        ULONGLONG sleepTimeBias;
    } timeOfDay{};
    using Query = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto query = ntdll ? reinterpret_cast<Query>(
                                   reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")))
                             : nullptr;
    ULONG returned = 0;
    constexpr int kSystemTimeOfDayInformation = 3;
    if (!query || query(kSystemTimeOfDayInformation, &timeOfDay, sizeof timeOfDay, &returned) < 0 ||
        timeOfDay.bootTime.QuadPart == 0)
        return {};
    // Whole seconds: the reported time may be refined by a tick between two asks.
    return "boot-time-" + std::to_string(timeOfDay.bootTime.QuadPart / 10000000);
}

std::uint64_t Win32BootClock::RunningMs() {
    ULONGLONG unbiased = 0;
    QueryUnbiasedInterruptTime(&unbiased);
    return unbiased / 10000;
}

std::uint64_t Win32BootClock::SinceBootMs() { return GetTickCount64(); }

std::string Win32BootClock::LocalTime() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char text[32] = {};
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return text;
}

bool Win32BootClock::Sleep(unsigned milliseconds) {
    if (!window_) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = WaitWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kWaitClass;
        RegisterClassW(&windowClass);
        // Top-level and never shown: only such a window hears of the session's end and of a sleep.
        window_ = CreateWindowExW(0, kWaitClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  windowClass.hInstance, &stop_);
    }
    const ULONGLONG until = GetTickCount64() + milliseconds;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) stop_ = true;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (stop_) return false;
        const ULONGLONG now = GetTickCount64();
        if (now >= until) return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(until - now), QS_ALLINPUT);
    }
}

}  // namespace win32
