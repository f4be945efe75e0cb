#pragma once
// Profile.ini on a POSIX system: read as the last save left it, saved so that a kill or a power
// cut leaves the old contents or the new, never a mix.
//
// - Refused (false, nothing changed): a file or folder without any write permission, for root as
//   well, as Windows refuses a read-only file to everyone; a file or folder the user may not write.
// - A symbolic link is followed to its file, which is created when it does not exist yet; the
//   link stays.
// - The new contents go to a fresh file beside the old one, "Profile.ini.<8 hex digits>.tmp",
//   created exclusively and never through a link; when no fresh name can be had the save fails.
//   Such files a killed save left behind are removed by the next save (only the user's own; the
//   program runs once per user, so none belongs to a save in progress).
// - The usual way: the fresh file is synced, given the old file's owner, group and mode, renamed
//   over the old file, and the folder is synced before the save reports success. A kill or a power
//   cut at any point leaves the old file or the new one.
// - In place, when the fresh file cannot take the old one's place without changing what the user
//   set up: a file with other hard links (a rename would part them, the other names keeping the
//   old text), or one whose owner or group the saving user cannot give a new file (another user's
//   writable file). Then room for the new contents is first reserved in the file and synced, with
//   fallocate keeping its size, so that a full disk fails the save while nothing has changed (an
//   earlier journal stays). Next the synced fresh file is renamed to "Profile.ini.saving" and the
//   folder synced: the complete new contents are on disk under a name the next read and save
//   look for. Where the file system cannot reserve without growing the file, posix_fallocate
//   grows it now, under the journal's cover. Only then is the file overwritten, truncated and
//   synced, and the journal removed.
//   The trade-off: a power cut or kill during the overwrite can leave Profile.ini itself half
//   written, and a program that reads it directly (another editor, the Windows build) sees that;
//   this store reads the journal instead as long as it is there, and its next save writes the
//   journal's contents back first. The journal is believed only when it is a regular file of
//   the saving user or the file's owner, so another user cannot plant one.
// - A failure in place leaves Profile.ini and any earlier journal as they were: the old size goes
//   back, and the journal's name gets back what it held, nothing or the earlier journal, whose
//   synced copy waits under a fresh temporary name until the save is done. Once the overwrite has
//   begun the file cannot be as it was; then the earlier journal, or else the new one, stands for
//   it until the next save.
#include <sys/types.h>

#include <functional>
#include <string>

namespace profile {

enum class Load { Loaded, Missing, Failed };

// The file's bytes as the last save left them: its journal when a save in place was cut short.
Load LoadCurrent(std::string file, std::string& bytes);

// Gives the file's current bytes (empty for a missing file) to `rewrite` and saves what it makes
// of them; false, with nothing saved, when `rewrite` refuses.
using Rewrite = std::function<bool(const std::string& bytes, std::string& out)>;
bool SaveFile(std::string file, const Rewrite& rewrite);

// The calls of a save whose failures no ordinary file system brings about on demand: reserving
// room, growing the file and syncing. Every save makes them through this table, the system's own
// calls unless a test has put others in.
struct DiskCalls {
    int (*fallocate)(int fd, int mode, off_t offset, off_t length);  // -1 and errno on failure
    int (*posixFallocate)(int fd, off_t offset, off_t length);      // the error number
    int (*fsync)(int fd);                                            // of files and folders
};
const DiskCalls& SystemDiskCalls();
// Null puts the system's calls back. Not while a save runs.
void SetDiskCalls(const DiskCalls* calls);

}  // namespace profile
