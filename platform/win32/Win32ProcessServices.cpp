#include "platform/win32/Win32ProcessServices.h"

#include <windows.h>

#include <commctrl.h>
#include <sddl.h>
#include <shellapi.h>

#include <cstdio>

#include "platform/win32/Win32MessagePump.h"

namespace win32 {

namespace {

// Everyone may wait on the mutex and release it (SYNCHRONIZE | MUTEX_MODIFY_STATE), and nothing
// more: not change its security nor take it over for good.
constexpr const wchar_t* kEveryoneMayTakeIt = L"D:(A;;0x00100001;;;WD)";
constexpr DWORD kTakeAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

}  // namespace

Win32ProcessServices::~Win32ProcessServices() {
    ReleaseInstanceLock();
    ReleaseMachineLock();
}

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

bool Win32ProcessServices::AcquireMachineLock() {
    if (machineMutex_) return true;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    HANDLE mutex = nullptr;
    DWORD error = ERROR_SUCCESS;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kEveryoneMayTakeIt, SDDL_REVISION_1, &descriptor,
                                                             nullptr)) {
        SECURITY_ATTRIBUTES attributes{};
        attributes.nLength = sizeof attributes;
        attributes.lpSecurityDescriptor = descriptor;
        // Opens the one another user made with no more access than its security grants everyone.
        mutex = CreateMutexExW(&attributes, kMachineMutexName, 0, kTakeAccess);
        if (!mutex) error = GetLastError();
        LocalFree(descriptor);
    } else {
        error = GetLastError();
    }
    if (mutex) {
        switch (WaitForSingleObject(mutex, 0)) {
            case WAIT_OBJECT_0:
            case WAIT_ABANDONED:  // its holder died holding it: the boards are free
                machineMutex_ = mutex;
                return true;
            case WAIT_TIMEOUT:
                CloseHandle(mutex);
                return false;
            default:
                error = GetLastError();
                CloseHandle(mutex);
                break;
        }
    }
    // A name taken by something else, or a system without the Global namespace: going on as the
    // Linux program does, rather than keeping the boards from every program for good.
    if (!machineLockProblemSaid_) {
        std::fwprintf(stderr, L"%ls: cannot use the lock on the boards %ls (error %lu); going on without it\n",
                      ApplicationName().c_str(), kMachineMutexName, static_cast<unsigned long>(error));
        machineLockProblemSaid_ = true;
    }
    return true;
}

void Win32ProcessServices::ReleaseMachineLock() {
    if (!machineMutex_) return;
    ReleaseMutex(machineMutex_);
    CloseHandle(machineMutex_);
    machineMutex_ = nullptr;
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
