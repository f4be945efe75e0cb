#include "platform/qt/MachineLockFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace qtfront {

namespace {

bool SharedByEveryone(const char* directory) {
    struct stat status {};
    if (stat(directory, &status) != 0 || !S_ISDIR(status.st_mode)) return false;
    return (status.st_mode & S_IWOTH) != 0 && (status.st_mode & S_ISVTX) != 0;
}

std::string Explain(const char* what, int error) { return std::string(what) + ": " + std::strerror(error); }

}  // namespace

std::string MachineLockDirectory() {
    if (const char* chosen = std::getenv(kMachineLockDirVariable); chosen && *chosen) return chosen;
    return SharedByEveryone("/run/lock") ? "/run/lock" : "/tmp";
}

MachineLockFile::MachineLockFile(std::string path) : path_(std::move(path)) {}

MachineLockFile::~MachineLockFile() { Unlock(); }

MachineLockFile::Result MachineLockFile::TryLock(std::string& why) {
    if (fd_ >= 0) return Result::Held;
    // O_NONBLOCK: a FIFO put in the file's place must not hang the open.
    constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int fd = -1;
    // Once more when another process creates the file between our two opens.
    for (int attempt = 0; attempt < 2 && fd < 0; ++attempt) {
        // Another user's file is opened without O_CREAT: fs.protected_regular refuses O_CREAT opens
        // of it in a sticky world-writable directory, even when it exists.
        fd = open(path_.c_str(), kFlags);
        if (fd >= 0) break;
        if (errno != ENOENT) {
            why = Explain("cannot open it", errno);
            return Result::Unusable;
        }
        fd = open(path_.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
        if (fd >= 0) {
            // Readable for every user whatever our umask: flock needs only a read descriptor.
            fchmod(fd, 0644);
            break;
        }
        if (errno != EEXIST) {
            why = Explain("cannot create it", errno);
            return Result::Unusable;
        }
    }
    if (fd < 0) {
        why = "it appears and disappears";
        return Result::Unusable;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        why = "it is not a regular file";
        return Result::Unusable;
    }
    int locked;
    do locked = flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) return Result::Busy;
        why = Explain("cannot lock it", error);
        return Result::Unusable;
    }
    fd_ = fd;
    return Result::Held;
}

void MachineLockFile::Unlock() {
    if (fd_ < 0) return;
    // Closing the only descriptor of the open file drops the flock.
    close(fd_);
    fd_ = -1;
}

}  // namespace qtfront
