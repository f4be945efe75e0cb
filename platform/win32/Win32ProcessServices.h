#pragma once
// Process services on Windows: common controls, the named single-instance mutex (local to the
// user's session), the machine-wide mutex on the boards, raising the running instance's window by
// its title, the program's name, and real pauses.
#include <string>
#include <vector>

#include "app/ProcessServices.h"
#include "model/Sleeper.h"

namespace win32 {

// The lock on the boards: in the Global namespace, so every session shares it, and open to every
// user for waiting and release. 32- and 64-bit programs meet at the same name.
constexpr const wchar_t* kMachineMutexName = L"Global\\RTX Halvorn Controller boards";

class Win32ProcessServices final : public ProcessServices {
public:
    Win32ProcessServices() = default;
    ~Win32ProcessServices() override;
    Win32ProcessServices(const Win32ProcessServices&) = delete;
    Win32ProcessServices& operator=(const Win32ProcessServices&) = delete;

    void InitCommonControls() override;
    bool AcquireInstanceLock(const std::wstring& name) override;
    void ReleaseInstanceLock() override;
    // Held already: true at once. A second wait would count as a second hold by the owning thread.
    bool AcquireMachineLock() override;
    void ReleaseMachineLock() override;
    void RaiseRunningInstance(const std::wstring& windowTitle) override;
    std::wstring ApplicationName() const override;

private:
    void* mutex_ = nullptr;         // HANDLE
    void* machineMutex_ = nullptr;  // HANDLE, while the machine lock is held
    bool machineLockProblemSaid_ = false;
};

// Pauses that keep the windows painting and answering the system (Win32MessagePump.h).
class Win32Sleeper final : public Sleeper {
public:
    void Sleep(unsigned milliseconds) override;
};

// The command line after the program's own path, split as CommandLineToArgvW splits it.
std::vector<std::wstring> CommandLineArguments();

}  // namespace win32
