#pragma once
// The private-profile port on the Windows functions themselves: GetCurrentDirectoryW,
// GetPrivateProfileSectionW and WritePrivateProfileSectionW. Buffers grow past their usual sizes
// (260 and 65,536 characters), so a long directory or a long section is used whole, as the
// portable file realization does.
//
// WritePrivateProfileSectionW rewrites the file in place and does not flush it: a crash or power
// cut soon after a Save could leave Profile.ini torn, every section with it. So a save works on a
// copy:
// - The file a link names is the one saved; a missing file is created empty first, as the Windows
//   function would create it. A read-only file (its own attribute, not a link's) is refused before
//   anything is copied; a read-only folder refuses the copy, so the save fails and nothing changes.
// - Profile.ini is copied to "Profile.ini.<8 hex digits>.tmp" beside it (attributes included),
//   the Windows function replaces the section in the copy, so the new file holds exactly its bytes,
//   and the copy is flushed and given the old file's access list where that can be read, protected
//   from the folder's inheritable entries when the old one was.
// - The copy takes Profile.ini's place with MoveFileExW(MOVEFILE_REPLACE_EXISTING |
//   MOVEFILE_WRITE_THROUGH): one rename that is on disk when it returns, so Profile.ini is always
//   the old file or the new one. ReplaceFileW would keep more of the old file's identity, but it
//   is no single step (it can fail half way, the old file moved aside) and cannot write through.
// - A rename cannot keep a file's other hard links, nor its owner when that is another user; such
//   a file is saved in place, as on Linux: the flushed copy becomes the journal
//   "Profile.ini.saving", which reads go by while it exists; the file is grown to its new size and
//   flushed before the first byte changes, so a full disk fails with the file untouched; then it
//   is overwritten and flushed, and the journal removed.
// - A journal left by a save cut short stands for the file it may have torn: the next save starts
//   from the journal's contents, not the file's, and goes in place, so the journal stays the
//   newest contents until the file holds them. A journal whose file is missing speaks for nothing
//   and is removed by the save that creates the file.
// - Only a plain file of one name, owned by the saving user or by Profile.ini's owner, counts as a
//   journal, so nobody else can plant one; anything else is never read (a save in place puts its
//   own journal in its stead, or fails where it cannot).
// - A failed copy, write, flush or rename removes the copy and leaves the old file; our
//   temporary files a killed save left behind are removed by the next save, read-only or not.
#include <optional>
#include <string>

#include "profile/PrivateProfile.h"

namespace win32 {

class Win32PrivateProfile final : public profile::PrivateProfile {
public:
    std::wstring CurrentDirectory() override;
    std::wstring ReadSection(const std::wstring& section, const std::wstring& path) override;
    bool WriteSection(const std::wstring& section, const std::wstring& data, const std::wstring& path) override;
    std::optional<std::string> FileBytes(const std::wstring& path) override;
    wchar_t PathSeparator() const override { return L'\\'; }

private:
    struct Target {
        std::wstring path;          // the file itself, through any link
        bool created = false;       // missing until now, and made empty
        bool readOnly = false;      // the file's own attribute
        bool keptByRename = false;  // a rename keeps all it has: one name, and our own
        bool journaled = false;     // a believed journal stands for the file
        std::string journal;        // and holds this
    };
    static std::optional<Target> FindTarget(const std::wstring& path, bool create);
    static void RemoveStaleTemporaries(const std::wstring& file);
    static std::wstring NewTemporary(const std::wstring& file);
    static bool Flush(const std::wstring& file);
    static bool WriteAll(const std::wstring& file, const std::string& bytes);
    static void CopyPermissions(const std::wstring& from, const std::wstring& to);
    static bool SaveInPlace(const std::wstring& temporary, const std::wstring& file, bool journaled);
};

}  // namespace win32
