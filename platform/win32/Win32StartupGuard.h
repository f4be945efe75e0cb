#pragma once
// The start-up guard's ports on Windows: the guard file beside Profile.ini, and this boot's
// identity (the boot time the system reports) with its clocks. The wait keeps a hidden window, so
// that the end of the session and a coming sleep end it in order: the boards lose what was
// written in a sleep, and the after-sleep task applies again with a guard of its own.
//
// HALVORN_BOOT_ID, when set, stands for the boot identity: the tests under Wine play a new boot
// with it. Only the guard reads it.
#include <string>

#include "app/StartupGuard.h"

namespace win32 {

// What can be checked on Windows: a file that is there is a plain file (no folder, no link), and
// readable. Ownership is left to the folder's access rights.
class Win32GuardFile final : public startup_guard::GuardFile {
public:
    explicit Win32GuardFile(std::wstring directory);

    Found Read(std::string& bytes, std::wstring& why) override;
    bool Write(const std::string& bytes, std::wstring& why) override;
    bool Remove(std::wstring& why) override;
    std::wstring Path() const override { return path_; }

private:
    std::wstring path_;
};

class Win32BootClock final : public startup_guard::BootClock {
public:
    Win32BootClock() = default;
    ~Win32BootClock() override;
    Win32BootClock(const Win32BootClock&) = delete;
    Win32BootClock& operator=(const Win32BootClock&) = delete;

    std::string BootId() override;
    // QueryUnbiasedInterruptTime, which stands still while the machine sleeps.
    std::uint64_t RunningMs() override;
    // GetTickCount64, which does not.
    std::uint64_t SinceBootMs() override;
    std::string LocalTime() override;
    bool Sleep(unsigned milliseconds) override;
    // Nothing to hold: the session's end is heard by the wait's own window, which the wait makes.
    void HoldStops() override {}

private:
    void* window_ = nullptr;  // HWND
    bool stop_ = false;       // the session ends, or the machine goes to sleep
};

}  // namespace win32
