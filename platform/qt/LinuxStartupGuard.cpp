#include "platform/qt/LinuxStartupGuard.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <ctime>
#include <fstream>

namespace qtfront {

namespace {

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }
std::wstring Cause(int error) { return Widen(std::strerror(error)); }

// Larger is not a guard of ours; reading stops there.
constexpr std::size_t kMaxGuardBytes = 4096;

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

std::uint64_t Clock(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}

}  // namespace

PosixGuardFile::PosixGuardFile(std::string directory, uid_t owner)
    : directory_(std::move(directory)), owner_(owner) {
    std::string name(startup_guard::kFileName, startup_guard::kFileName + std::wcslen(startup_guard::kFileName));
    path_ = directory_.empty() || directory_.back() == '/' ? directory_ + name : directory_ + "/" + name;
}

std::wstring PosixGuardFile::Path() const { return Widen(path_); }

// What the file's status says of it as a guard; Found::Read when it may be read.
PosixGuardFile::Found PosixGuardFile::Judge(const struct stat& status, std::wstring& why) const {
    if (!S_ISREG(status.st_mode)) return Found::NotRegular;
    if (status.st_uid != owner_) {
        why = L"owned by user " + std::to_wstring(status.st_uid) + L", not " + std::to_wstring(owner_);
        return Found::ForeignOwner;
    }
    return Found::Read;
}

PosixGuardFile::Found PosixGuardFile::Read(std::string& bytes, std::wstring& why) {
    struct stat status {};
    if (lstat(path_.c_str(), &status) != 0) {
        if (errno == ENOENT) return Found::None;
        why = Cause(errno);
        return Found::Unreadable;
    }
    if (const Found found = Judge(status, why); found != Found::Read) return found;
    // O_NOFOLLOW and a second look: the file checked is the file read.
    Descriptor fd(open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        why = Cause(errno);
        return errno == ELOOP ? Found::NotRegular : Found::Unreadable;
    }
    if (fstat(fd.get(), &status) != 0) {
        why = Cause(errno);
        return Found::Unreadable;
    }
    if (const Found found = Judge(status, why); found != Found::Read) return found;
    bytes.clear();
    char buffer[1024];
    for (;;) {
        const ssize_t got = read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            why = Cause(errno);
            return Found::Unreadable;
        }
        if (got == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(got));
        if (bytes.size() > kMaxGuardBytes) break;  // garbage to the parser
    }
    return Found::Read;
}

bool PosixGuardFile::Write(const std::string& bytes, std::wstring& why) {
    const std::string temporary = path_ + ".new";
    unlink(temporary.c_str());
    Descriptor fd(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid()) {
        why = Cause(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            why = Cause(wrote < 0 ? errno : ENOSPC);
            unlink(temporary.c_str());
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    // On the disk before it counts: a crash right after the apply must find it.
    if (fsync(fd.get()) != 0 || close(fd.release()) != 0) {
        why = Cause(errno);
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), path_.c_str()) != 0) {
        why = Cause(errno);
        unlink(temporary.c_str());
        return false;
    }
    Descriptor folder(open(directory_.empty() ? "." : directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid() || fsync(folder.get()) != 0) {
        why = Cause(errno);
        return false;
    }
    return true;
}

bool PosixGuardFile::Remove(std::wstring& why) {
    if (unlink(path_.c_str()) == 0 || errno == ENOENT) return true;
    why = Cause(errno);
    return false;
}

std::string LinuxBootClock::BootId() {
    std::ifstream in(bootIdFile_);
    std::string id;
    std::getline(in, id);
    return in || in.eof() ? id : std::string();
}

std::uint64_t LinuxBootClock::RunningMs() { return Clock(CLOCK_MONOTONIC); }
std::uint64_t LinuxBootClock::SinceBootMs() { return Clock(CLOCK_BOOTTIME); }

std::string LinuxBootClock::LocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[32] = {};
    if (!localtime_r(&now, &local) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) return {};
    return text;
}

namespace {

sigset_t Stops() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGHUP);
    return stops;
}

}  // namespace

void LinuxBootClock::HoldStops() {
    if (blocked_) return;
    const sigset_t stops = Stops();
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    blocked_ = true;
}

bool LinuxBootClock::Sleep(unsigned milliseconds) {
    const sigset_t stops = Stops();
    // Held back from the first step on, so a stop between two steps waits for the next one.
    HoldStops();
    timespec timeout{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000};
    for (;;) {
        if (sigtimedwait(&stops, nullptr, &timeout) >= 0) return false;
        if (errno == EAGAIN) return true;
        if (errno != EINTR) return true;
    }
}

}  // namespace qtfront
