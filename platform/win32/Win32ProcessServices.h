#pragma once
// Process services on Windows: common controls, the named single-instance mutex, raising the
// running instance's window by its title, the program's name, and real pauses.
#include <string>
#include <vector>

#include "app/ProcessServices.h"
#include "model/Sleeper.h"

namespace win32 {

class Win32ProcessServices final : public ProcessServices {
public:
    Win32ProcessServices() = default;
    ~Win32ProcessServices() override;
    Win32ProcessServices(const Win32ProcessServices&) = delete;
    Win32ProcessServices& operator=(const Win32ProcessServices&) = delete;

    void InitCommonControls() override;
    bool AcquireInstanceLock(const std::wstring& name) override;
    void ReleaseInstanceLock() override;
    void RaiseRunningInstance(const std::wstring& windowTitle) override;
    std::wstring ApplicationName() const override;

private:
    void* mutex_ = nullptr;  // HANDLE
};

// Pauses that keep the windows painting and answering the system (Win32MessagePump.h).
class Win32Sleeper final : public Sleeper {
public:
    void Sleep(unsigned milliseconds) override;
};

// The command line after the program's own path, split as CommandLineToArgvW splits it.
std::vector<std::wstring> CommandLineArguments();

}  // namespace win32
