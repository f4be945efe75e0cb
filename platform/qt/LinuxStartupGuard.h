#pragma once
// The start-up guard's ports on Linux: the guard file beside Profile.ini, and this boot's identity
// (the kernel's random boot_id) with its clocks. The wait ends early on SIGTERM, SIGINT or SIGHUP:
// a shutdown in order, or the service stopped (the unit stops it before every sleep).
#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "app/StartupGuard.h"

namespace qtfront {

class PosixGuardFile final : public startup_guard::GuardFile {
public:
    // directory: where Profile.ini is; owner: whom the guard must belong to (this process's user).
    PosixGuardFile(std::string directory, uid_t owner);

    Found Read(std::string& bytes, std::wstring& why) override;
    bool Write(const std::string& bytes, std::wstring& why) override;
    bool Remove(std::wstring& why) override;
    std::wstring Path() const override;

private:
    Found Judge(const struct stat& status, std::wstring& why) const;
    std::string directory_;
    std::string path_;
    uid_t owner_;
};

class LinuxBootClock final : public startup_guard::BootClock {
public:
    explicit LinuxBootClock(std::string bootIdFile = "/proc/sys/kernel/random/boot_id")
        : bootIdFile_(std::move(bootIdFile)) {}

    std::string BootId() override;
    // CLOCK_MONOTONIC, which stands still while the machine sleeps.
    std::uint64_t RunningMs() override;
    // CLOCK_BOOTTIME, which does not.
    std::uint64_t SinceBootMs() override;
    std::string LocalTime() override;
    bool Sleep(unsigned milliseconds) override;
    // SIGTERM, SIGINT and SIGHUP blocked: pending until the wait's sigtimedwait takes them.
    void HoldStops() override;

private:
    std::string bootIdFile_;
    bool blocked_ = false;
};

}  // namespace qtfront
