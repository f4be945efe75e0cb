#include "profile/DurableSave.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <utility>

namespace profile {
namespace {

int SystemFallocate(int fd, int mode, off_t offset, off_t length) {
#ifdef __linux__
    return fallocate(fd, mode, offset, length);
#else
    static_cast<void>(fd);
    static_cast<void>(mode);
    static_cast<void>(offset);
    static_cast<void>(length);
    errno = EOPNOTSUPP;
    return -1;
#endif
}

const DiskCalls kSystemCalls{SystemFallocate, posix_fallocate, fsync};
const DiskCalls* calls = &kSystemCalls;

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // False when the close reports an error: on some file systems the data's last failure.
    bool Close() {
        if (fd_ < 0) return true;
        const bool closed = close(fd_) == 0;
        fd_ = -1;
        return closed;
    }

private:
    int fd_;
};

bool ReadAll(int fd, std::string& bytes) {
    char chunk[16384];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

std::string Folder(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

std::string BaseName(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? file : file.substr(slash + 1);
}

// Follows symbolic links to the file they end in, which need not exist yet: a save through a
// link to a missing file creates that file and keeps the link.
bool FollowLinks(std::string& file) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status {};
        if (lstat(file.c_str(), &status) != 0) return errno == ENOENT;
        if (!S_ISLNK(status.st_mode)) return true;
        std::string target(PATH_MAX, '\0');
        const ssize_t length = readlink(file.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return false;
        target.resize(static_cast<std::size_t>(length));
        file = target.front() == '/' ? target : Folder(file) + "/" + target;
    }
    return false;  // a loop of links
}

// Like Windows' read-only attribute, a file or folder without any write permission is read-only
// to every user, root included; otherwise the system's own access rules decide.
bool MayWrite(const std::string& path, const struct stat& status) {
    return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// Our temporary files are "<file>.<8 hex digits>.tmp" and nothing else.
bool IsTemporaryOf(const std::string& name, const std::string& base) {
    const std::size_t digits = 8;
    if (name.size() != base.size() + 1 + digits + 4 || name.compare(0, base.size(), base) != 0) return false;
    if (name[base.size()] != '.' || name.compare(name.size() - 4, 4, ".tmp") != 0) return false;
    for (std::size_t i = base.size() + 1; i < base.size() + 1 + digits; ++i) {
        if (std::string("0123456789abcdef").find(name[i]) == std::string::npos) return false;
    }
    return true;
}

// Temporary files a killed save left behind. Only this process's own user's regular files of our
// naming go; the program runs once per user, so none of them belongs to a save in progress.
void RemoveStaleTemporaries(const std::string& folder, const std::string& base) {
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) return;
    while (const dirent* entry = readdir(listing)) {
        if (!IsTemporaryOf(entry->d_name, base)) continue;
        struct stat status {};
        if (fstatat(dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode) &&
            status.st_uid == geteuid()) {
            unlinkat(dirfd(listing), entry->d_name, 0);
        }
    }
    closedir(listing);
}

// A fresh file of our naming, created exclusively and never through a link.
Descriptor CreateTemporary(const std::string& file, std::string& name) {
    static std::atomic<std::uint32_t> counter{0};
    std::random_device entropy;
    for (int attempt = 0; attempt < 64; ++attempt) {
        const std::uint32_t tag = entropy() ^ (counter.fetch_add(1) * 2654435761u);
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(tag));
        name = file + suffix;
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return Descriptor(fd);
    }
    return Descriptor();
}

bool SyncFolder(const std::string& folder) {
    Descriptor fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) return false;
    // Some file systems cannot sync a folder and say so; there is nothing more to do on them.
    return calls->fsync(fd.get()) == 0 || errno == EINVAL || errno == ENOTSUP;
}

std::string JournalOf(const std::string& file) { return file + ".saving"; }

// The complete new contents of a save that writes the file in place, left behind when that save
// was cut short. Only a regular file of the saving user's or the file owner's is believed.
bool ReadJournal(const std::string& file, uid_t owner, std::string& bytes) {
    Descriptor fd(open(JournalOf(file).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (!fd.valid() || fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1) return false;
    if (status.st_uid != geteuid() && status.st_uid != owner) return false;
    std::string journal;
    if (!ReadAll(fd.get(), journal)) return false;
    bytes = std::move(journal);
    return true;
}

bool RemoveJournal(const std::string& file) {
    return unlink(JournalOf(file).c_str()) == 0 || errno == ENOENT;
}

// Mode bits a file created now gets.
mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

enum class Room { Reserved, Unsupported, Refused };

// Disk room for the file's first `size` bytes without changing its size or contents, so that a
// full disk refuses the save before the file is touched.
Room ReserveKeepingSize(int fd, std::size_t size) {
    if (size == 0) return Room::Reserved;
#ifdef __linux__
    int result = 0;
    do {
        result = calls->fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    if (result == 0) return Room::Reserved;
    return errno == EOPNOTSUPP || errno == ENOSYS ? Room::Unsupported : Room::Refused;
#else
    static_cast<void>(fd);
    return Room::Unsupported;
#endif
}

// A synced copy of an earlier journal under a fresh name, so that it can take the journal's name
// back should the save that replaces it fail.
bool KeepJournal(const std::string& file, const std::string& contents, std::string& keeper) {
    Descriptor fd = CreateTemporary(file, keeper);
    if (!fd.valid()) {
        keeper.clear();  // a name it tried, not a file it made
        return false;
    }
    bool ok = WriteAll(fd.get(), contents) && calls->fsync(fd.get()) == 0;
    ok = fd.Close() && ok;
    if (!ok) {
        unlink(keeper.c_str());
        keeper.clear();
    }
    return ok;
}

// What a failed save puts back once its journal has the name: the earlier journal, or none.
void PutBackJournal(const std::string& file, const std::string& folder, const std::string& keeper) {
    const bool back = keeper.empty() ? RemoveJournal(file) : rename(keeper.c_str(), JournalOf(file).c_str()) == 0;
    if (back) SyncFolder(folder);
}

// The in-place overwrite, once the new contents are the journal. Where the room could not be
// reserved beforehand the file is grown to take it now, with the journal standing for it. A failure
// puts back what the journal's name held before the save (`keeper`: a copy of an earlier journal,
// or empty for none); only a failed overwrite without an earlier journal keeps the new one, which
// stands for the torn file until the next save.
bool OverwriteInPlace(Descriptor& target, const std::string& file, const std::string& folder,
                      const std::string& out, off_t oldSize, Room room, const std::string& keeper) {
    const int fd = target.get();
    if (!SyncFolder(folder)) {
        PutBackJournal(file, folder, keeper);
        return false;
    }
    if (room == Room::Unsupported && !out.empty()) {
        int error = 0;
        do {
            error = calls->posixFallocate(fd, 0, static_cast<off_t>(out.size()));
        } while (error == EINTR);
        if (error != 0 || calls->fsync(fd) != 0) {
            // The new journal stands for a grown file until its old size is back; an earlier one
            // stands for it either way.
            const bool shrunk = ftruncate(fd, oldSize) == 0 && calls->fsync(fd) == 0;
            if (shrunk || !keeper.empty()) PutBackJournal(file, folder, keeper);
            return false;
        }
    }
    bool ok = WriteAll(fd, out) && ftruncate(fd, static_cast<off_t>(out.size())) == 0 && calls->fsync(fd) == 0;
    ok = target.Close() && ok;
    if (!ok) {
        if (!keeper.empty()) PutBackJournal(file, folder, keeper);
        return false;
    }
    const bool done = RemoveJournal(file);
    if (!keeper.empty()) unlink(keeper.c_str());
    return done && SyncFolder(folder);
}

}  // namespace

Load LoadCurrent(std::string file, std::string& bytes) {
    if (!FollowLinks(file)) return Load::Failed;
    Descriptor fd(open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return errno == ENOENT ? Load::Missing : Load::Failed;
    struct stat status {};
    if (fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return Load::Failed;
    if (ReadJournal(file, status.st_uid, bytes)) return Load::Loaded;
    return ReadAll(fd.get(), bytes) ? Load::Loaded : Load::Failed;
}

bool SaveFile(std::string file, const Rewrite& rewrite) {
    if (!FollowLinks(file)) return false;
    const std::string folder = Folder(file);
    struct stat folderStatus {};
    if (stat(folder.c_str(), &folderStatus) != 0 || !S_ISDIR(folderStatus.st_mode) || !MayWrite(folder, folderStatus)) {
        return false;
    }
    RemoveStaleTemporaries(folder, BaseName(file));

    Descriptor old(open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!old.valid() && errno != ENOENT) return false;
    struct stat status {};
    std::string bytes;
    bool journaled = false;
    if (old.valid()) {
        if (fstat(old.get(), &status) != 0 || !S_ISREG(status.st_mode) || !MayWrite(file, status)) return false;
        journaled = ReadJournal(file, status.st_uid, bytes);
        if (!journaled && !ReadAll(old.get(), bytes)) return false;
        old.Close();
    }
    std::string out;
    if (!rewrite(bytes, out)) return false;

    std::string staged;
    Descriptor fd = CreateTemporary(file, staged);
    if (!fd.valid()) return false;
    bool ok = WriteAll(fd.get(), out);
    // The fresh file takes the old one's place only when it can be the same file in all but its
    // contents: one name, the same owner, group and mode. With a journal there, the journal must
    // stay the newest contents until the file holds them, so that save goes in place as well.
    bool replace = false;
    if (ok && status.st_nlink == 0) {
        // A journal without its file speaks for nothing; left there, it would outrank the new file.
        replace = fchmod(fd.get(), NewFileMode()) == 0 && RemoveJournal(file);
        ok = replace;
    } else if (ok && status.st_nlink == 1 && !journaled) {
        replace = fchown(fd.get(), status.st_uid, status.st_gid) == 0 && fchmod(fd.get(), status.st_mode & 07777) == 0;
    }
    ok = ok && calls->fsync(fd.get()) == 0;
    ok = fd.Close() && ok;
    if (ok && replace) {
        if (rename(staged.c_str(), file.c_str()) == 0) return SyncFolder(folder);
    } else if (ok) {
        // In place. The room comes first, while a refusal still leaves everything as it was (an
        // earlier journal included); then the new contents are on disk as the journal before the
        // file is overwritten. Read access as well, for posix_fallocate's emulation.
        Descriptor target(open(file.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
        struct stat current {};
        Room room = Room::Refused;
        if (target.valid() && fstat(target.get(), &current) == 0) room = ReserveKeepingSize(target.get(), out.size());
        // An earlier journal holds the true contents until this save is done, so a copy of it
        // stays until then.
        std::string keeper;
        const bool ready = ((room == Room::Reserved && calls->fsync(target.get()) == 0) || room == Room::Unsupported) &&
                           (!journaled || KeepJournal(file, bytes, keeper));
        if (ready && rename(staged.c_str(), JournalOf(file).c_str()) == 0) {
            return OverwriteInPlace(target, file, folder, out, current.st_size, room, keeper);
        }
        if (!keeper.empty()) unlink(keeper.c_str());
    }
    unlink(staged.c_str());
    return false;
}

const DiskCalls& SystemDiskCalls() { return kSystemCalls; }

void SetDiskCalls(const DiskCalls* chosen) { calls = chosen != nullptr ? chosen : &kSystemCalls; }

}  // namespace profile
