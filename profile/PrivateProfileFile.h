#pragma once
// The private-profile functions on plain files with the standard library, for every platform
// without the Win32 ones. What the store relies on behaves as on Windows; where Windows leaves
// room, this is what the file gets:
//
// - Encoding: UTF-16 with a byte-order mark (little or big endian) or else UTF-8, with or without
//   its mark. A write keeps the file's encoding and mark; a new or empty file becomes UTF-8
//   without a mark. Bytes that are not UTF-8 come through as U+DC80..U+DCFF and go back out as
//   the same bytes.
// - Lines end in LF or CR LF; the last one may lack its line end.
// - A header is a line whose first non-blank character is '[' and which holds a ']' after it;
//   the name is what lies between, blanks around it ignored, compared without regard to ASCII
//   letter case. A '[' line without ']' is no header but an ordinary line.
// - A section's body runs from the line after its header up to the next header or the end.
//   With several sections of one name the first is read and replaced, the others left alone.
// - Reading drops blank lines and lines whose first non-blank character is ';'; every other
//   line comes back exactly as written, without its line end. A NUL inside a line would split
//   it, so it comes back as U+FFFD.
// - Writing replaces the body and touches no byte outside it. Each string of the data goes in
//   unchanged and gets a CR LF after it unless it already ends in a line break, so the next
//   header keeps its own line. A missing section is appended after a CR LF when the file does
//   not end in one.
// - The new file is written beside the old one under another name and renamed over it, so
//   Profile.ini is either the old file or the new one, never half of each; a failed write leaves
//   the old file and no other. A symbolic link is written through, not replaced.
// - No size limits: a directory longer than 259 characters and a section longer than 65,534 are
//   used whole (a cut directory would name another place; a cut section would lose keys).
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
