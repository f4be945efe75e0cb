#include "platform/win32/Win32ProcessServices.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include "platform/win32/Win32MessagePump.h"

namespace win32 {

Win32ProcessServices::~Win32ProcessServices() { ReleaseInstanceLock(); }

void Win32ProcessServices::InitCommonControls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;  // 8
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
}

bool Win32ProcessServices::AcquireInstanceLock(const std::wstring& name) {
    if (HANDLE running = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name.c_str())) {
        CloseHandle(running);
        return false;
    }
    HANDLE mutex = CreateMutexW(nullptr, TRUE, name.c_str());
    // Two starts at the same moment both find no mutex; the one that did not create it yields.
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    mutex_ = mutex;
    return true;
}

void Win32ProcessServices::ReleaseInstanceLock() {
    if (!mutex_) return;
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
    mutex_ = nullptr;
}

void Win32ProcessServices::RaiseRunningInstance(const std::wstring& windowTitle) {
    HWND window = FindWindowW(nullptr, windowTitle.c_str());
    if (!window) return;
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
}

std::wstring Win32ProcessServices::ApplicationName() const {
    // Paths may exceed MAX_PATH; the buffer grows until the whole path fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot != 0) name.resize(dot);
    return name;
}

void Win32Sleeper::Sleep(unsigned milliseconds) { PumpMessagesFor(milliseconds); }

std::vector<std::wstring> CommandLineArguments() {
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(argv[i]);
    LocalFree(argv);
    return arguments;
}

}  // namespace win32
