#pragma once
// What the application needs of the operating system at start-up and tear-down.
#include <string>

class ProcessServices {
public:
    virtual ~ProcessServices() = default;
    // Registers the window classes the dialogs use (common controls on Windows).
    virtual void InitCommonControls() = 0;
    // The window's single-instance lock, one per user session. Acquire returns false when another
    // process holds it.
    virtual bool AcquireInstanceLock(const std::wstring& name) = 0;
    virtual void ReleaseInstanceLock() = 0;
    // The lock on the boards: one holder on the whole machine, whatever its session, user or
    // program (window, command-line run, the boot unit; 32- and 64-bit Windows programs alike).
    // Does not wait. True when this process may now touch the boards: it holds the lock, or no
    // lock can be made on this machine, which it has said on standard error. A dead holder's lock
    // is free.
    virtual bool AcquireMachineLock() = 0;
    // Gives the lock back, when held.
    virtual void ReleaseMachineLock() = 0;
    // Shows, restores and brings to the front the running instance's window with this title;
    // does nothing when there is none.
    virtual void RaiseRunningInstance(const std::wstring& windowTitle) = 0;
    // The executable's file name without extension: the caption of the framework's messages.
    virtual std::wstring ApplicationName() const = 0;
};
