#pragma once
// The text of a profile file, as the Windows private-profile functions read and write it. What
// the store relies on behaves as on Windows; where Windows leaves room, this is what the file gets:
//
// - Encoding (see TextCodec.h): a write keeps the file's encoding and mark; a new or empty file
//   becomes UTF-8 without a mark.
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
// - No size limits: a section longer than 65,534 characters is used whole (a cut section would
//   lose keys).
#include <cstddef>
#include <string>
#include <vector>

namespace profile {

// The section's lines as the private-profile read gives them: consecutive NUL-terminated
// strings; empty when the file holds no such section. lineNumbers, when given, receives the
// number in the file (from 1) of each line given, in order.
std::wstring SectionLinesOf(const std::string& bytes, const std::wstring& section,
                           std::vector<std::size_t>* lineNumbers = nullptr);

// Every section header of the file, in order, with its line number (from 1): the name as reads
// compare it (blanks around it left out), whatever its letter case.
struct SectionHeader {
    std::wstring name;
    std::size_t line;
};
std::vector<SectionHeader> SectionHeadersOf(const std::string& bytes);

// The file's new contents in its own encoding, the section's body replaced by `data` (strings,
// each NUL-terminated, an empty one closing the list); false when it cannot be rewritten
// faithfully.
bool Rewritten(const std::string& bytes, const std::wstring& section, const std::wstring& data, std::string& out);

// A name that a header line could not give back is refused: no ']' or line break inside, no
// blanks at its edges.
bool IsWritableName(const std::wstring& name);

}  // namespace profile
