#pragma once
// The private-profile functions on plain files, for every platform
// without the Win32 ones. What the store relies on behaves as on Windows; where Windows leaves
// room, this is what the file gets:
//
// - Encoding: UTF-16 with a byte-order mark (little or big endian) or else UTF-8, with or without
//   its mark. A write keeps the file's encoding and mark; a new or empty file becomes UTF-8
//   without a mark. Bytes that are not UTF-8 come through as U+DC80..U+DCFF and go back out as
//   the same bytes.
// - LF, CR LF and a lone CR each end a line (so does a stray CR inside CR LF lines), as the
//   Windows functions read them; the last line may lack its line end.
// - A header is a line whose first non-blank character is '[' and which holds a ']' after it;
//   the name runs to the line's last ']' ("[A] [old]" is the section "A] [old"), blanks around it
//   ignored, compared without regard to ASCII letter case. A '[' line without ']' is no header
//   but an ordinary line.
// - A section's body runs from the line after its header up to the next header or the end.
//   With several sections of one name the first is read and replaced, the others left alone.
// - Blanks are what the Windows functions drop: space, tab, vertical tab, form feed and Ctrl-Z.
// - Reading drops blank lines and lines whose first non-blank character is ';'. Blanks at a
//   line's ends and around its first '=' are dropped, as the Windows functions drop them:
//   "  NVVDD = 175 " comes back as "NVVDD=175"; blanks inside the key or value stay. A NUL inside
//   a line would split it, so it comes back as U+FFFD.
// - Writing replaces the body and touches no byte outside it. Each string of the data goes in
//   unchanged and gets a CR LF after it unless it already ends in a line break, so the next
//   header keeps its own line. A missing section is appended, after a CR LF when the file's last
//   line has no line end.
// - No size limits: a directory longer than 259 characters and a section longer than 65,534 are
//   used whole (a cut directory would name another place; a cut section would lose keys).
//
// Saving on a POSIX system:
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
//   grows it now, under the journal's cover; if that fails, the old size is put back and the
//   journal removed. Only then is the file overwritten, truncated and synced, and the journal
//   removed.
//   The trade-off: a power cut or kill during the overwrite can leave Profile.ini itself half
//   written, and a program that reads it directly (another editor, the Windows build) sees that;
//   this store reads the journal instead as long as it is there, and its next save writes the
//   journal's contents back first. The journal is believed only when it is a regular file of
//   the saving user or the file's owner, so another user cannot plant one.
#include <string>

#include "profile/PrivateProfile.h"

namespace profile {

class PrivateProfileFile final : public PrivateProfile {
public:
    std::wstring CurrentDirectory() override;
    std::wstring ReadSection(const std::wstring& section, const std::wstring& path) override;
    bool WriteSection(const std::wstring& section, const std::wstring& data, const std::wstring& path) override;
    wchar_t PathSeparator() const override;
};

}  // namespace profile
