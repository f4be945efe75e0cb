#pragma once
// The lock on the boards on Linux: flock on a file in a directory every user shares, so that the
// window, a command-line run and the boot unit exclude each other whatever their session or user.
// The kernel drops a dead holder's flock, so nothing is ever stale.
#include <string>

namespace qtfront {

constexpr const char* kMachineLockFileName = "rtx-halvorn-controller-boards.lock";
// Overrides the directory; the tests give each run a directory of its own.
constexpr const char* kMachineLockDirVariable = "HALVORN_LOCK_DIR";

// HALVORN_LOCK_DIR when set, else /run/lock when every user may create files there (world-writable
// and sticky), else /tmp. Judged by the directory's mode, not by what this process may do: root and
// a user must come to the same answer.
std::string MachineLockDirectory();

class MachineLockFile {
public:
    explicit MachineLockFile(std::string path);
    ~MachineLockFile();
    MachineLockFile(const MachineLockFile&) = delete;
    MachineLockFile& operator=(const MachineLockFile&) = delete;

    enum class Result {
        Held,      // this object holds it (also when it already did)
        Busy,      // another holder has it
        Unusable,  // no lock can be had at this path; why says what failed
    };
    Result TryLock(std::string& why);
    void Unlock();
    bool IsHeld() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace qtfront
