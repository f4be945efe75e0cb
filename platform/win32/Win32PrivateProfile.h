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
//   function would create it. A read-only file is refused and left alone; a read-only folder
//   refuses the copy, so the save fails and nothing changes.
// - Profile.ini is copied to "Profile.ini.<8 hex digits>.tmp" beside it (attributes included),
//   the Windows function replaces the section in the copy, so the new file holds exactly its bytes,
//   and the copy is flushed and given the old file's access list where that can be read.
// - The copy takes Profile.ini's place with MoveFileExW(MOVEFILE_REPLACE_EXISTING |
//   MOVEFILE_WRITE_THROUGH): one rename that is on disk when it returns, so Profile.ini is always
//   the old file or the new one. ReplaceFileW would keep more of the old file's identity, but it
//   is no single step (it can fail half way, the old file moved aside) and cannot write through.
// - A rename cannot keep a file's other hard links, nor its owner when that is another user; such
//   a file is saved in place, as on Linux: the flushed copy becomes the journal
//   "Profile.ini.saving", which reads go by while it exists; the file is grown to its new size and
//   flushed before the first byte changes, so a full disk fails with the file untouched; then it
//   is overwritten and flushed, and the journal removed.
// - A failed copy, write, flush or rename removes the copy and leaves the old file; our
//   temporary files a killed save left behind are removed by the next save.
#include <optional>
#include <string>

#include "profile/PrivateProfile.h"

namespace win32 {

class Win32PrivateProfile final : public profile::PrivateProfile {
public:
    std::wstring CurrentDirectory() override;
    std::wstring ReadSection(const std::wstring& section, const std::wstring& path) override;
    bool WriteSection(const std::wstring& section, const std::wstring& data, const std::wstring& path) override;
    wchar_t PathSeparator() const override { return L'\\'; }

private:
    struct Target {
        std::wstring path;  // the file itself, through any link
        bool keptByRename;  // a rename keeps all it has: one name, and our own
    };
    static std::optional<Target> FindTarget(const std::wstring& path, bool create);
    static void RemoveStaleTemporaries(const std::wstring& file);
    static std::wstring NewTemporary(const std::wstring& file);
    static bool Flush(const std::wstring& file);
    static void CopyPermissions(const std::wstring& from, const std::wstring& to);
    static bool SaveInPlace(const std::wstring& temporary, const std::wstring& file);
};

}  // namespace win32
