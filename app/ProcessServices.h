#pragma once
// What the application needs of the operating system at start-up and tear-down.
#include <string>

class ProcessServices {
public:
    virtual ~ProcessServices() = default;
    // Registers the window classes the dialogs use (common controls on Windows).
    virtual void InitCommonControls() = 0;
    // The system-wide named lock. Acquire returns false when another process holds it.
    virtual bool AcquireInstanceLock(const std::wstring& name) = 0;
    virtual void ReleaseInstanceLock() = 0;
    // Shows, restores and brings to the front the running instance's window with this title;
    // does nothing when there is none.
    virtual void RaiseRunningInstance(const std::wstring& windowTitle) = 0;
    // The executable's file name without extension: the caption of the framework's messages.
    virtual std::wstring ApplicationName() const = 0;
};
