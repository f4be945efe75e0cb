#include "profile/ProfileText.h"

#include <cstddef>

#include "profile/TextCodec.h"

namespace profile {
namespace {

constexpr unsigned kLf = 0x0A;
constexpr unsigned kCr = 0x0D;

// What the Windows functions drop around keys, values and headers: besides space and tab, the
// vertical tab, form feed and Ctrl-Z (a DOS end of file).
bool IsBlankCode(unsigned c) { return c == 0x20 || c == 0x09 || c == 0x0B || c == 0x0C || c == 0x1A; }

template <typename Unit>
bool IsBlank(Unit c) {
    return IsBlankCode(Code(c));
}

unsigned FoldAscii(unsigned c) { return c >= 'a' && c <= 'z' ? c - 0x20 : c; }

struct Line {
    std::size_t begin;  // first unit
    std::size_t end;    // past the text, before CR LF or LF
    std::size_t next;   // first unit of the following line
};

// As the Windows functions read a file: LF, CR LF and a lone CR each end a line, so a stray CR
// inside CR LF lines ends one as well (the empty line after it is dropped as blank).
template <typename Text>
Line LineAt(const Text& text, std::size_t begin) {
    std::size_t end = begin;
    while (end < text.size() && Code(text[end]) != kLf && Code(text[end]) != kCr) ++end;
    std::size_t next = end;
    if (next < text.size()) {
        next += Code(text[next]) == kCr && next + 1 < text.size() && Code(text[next + 1]) == kLf ? 2u : 1u;
    }
    return Line{begin, end, next};
}

template <typename Text>
std::size_t SkipBlanks(const Text& text, std::size_t begin, std::size_t end) {
    while (begin < end && IsBlank(text[begin])) ++begin;
    return begin;
}

template <typename Text>
std::size_t TrimBlanks(const Text& text, std::size_t begin, std::size_t end) {
    while (end > begin && IsBlank(text[end - 1])) --end;
    return end;
}

// True for a header line, with the name's range (blanks around it left out). The name runs to
// the line's last ']', as with the Windows functions: "[A] [old]" names "A] [old", not "A".
template <typename Text>
bool HeaderName(const Text& text, const Line& line, std::size_t& nameBegin, std::size_t& nameEnd) {
    const std::size_t open = SkipBlanks(text, line.begin, line.end);
    if (open == line.end || Code(text[open]) != '[') return false;
    std::size_t close = line.end;
    while (close > open + 1 && Code(text[close - 1]) != ']') --close;
    if (close == open + 1) return false;
    nameBegin = SkipBlanks(text, open + 1, close - 1);
    nameEnd = TrimBlanks(text, nameBegin, close - 1);
    return true;
}

template <typename Text>
bool SameName(const Text& text, std::size_t begin, std::size_t end, const Text& name) {
    if (end - begin != name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (FoldAscii(Code(text[begin + i])) != FoldAscii(Code(name[i]))) return false;
    }
    return true;
}

struct Section {
    bool found = false;
    std::size_t bodyBegin = 0;  // the line after the header
    std::size_t bodyLine = 0;   // its number, from 1
    std::size_t bodyEnd = 0;    // the next header line, or the end of the text
};

// Each header line in order, with its number (from 1) and its name's range; stops when visit
// returns false.
template <typename Text, typename Visit>
void ForEachHeader(const Text& text, Visit&& visit) {
    std::size_t number = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const Line line = LineAt(text, pos);
        ++number;
        std::size_t nameBegin = 0;
        std::size_t nameEnd = 0;
        if (HeaderName(text, line, nameBegin, nameEnd) && !visit(line, number, nameBegin, nameEnd)) return;
        pos = line.next;
    }
}

// The first section of the name; later ones of the same name count as bodies' ends only.
template <typename Text>
Section FindSection(const Text& text, const Text& name) {
    Section section;
    section.bodyEnd = text.size();
    ForEachHeader(text, [&](const Line& line, std::size_t number, std::size_t nameBegin, std::size_t nameEnd) {
        if (section.found) {
            section.bodyEnd = line.begin;
            return false;
        }
        if (SameName(text, nameBegin, nameEnd, name)) {
            section.found = true;
            section.bodyBegin = line.next;
            section.bodyLine = number + 1;
        }
        return true;
    });
    return section;
}

template <typename Text>
std::wstring SectionLines(const Text& text, const Text& name, std::vector<std::size_t>* numbers) {
    std::wstring lines;
    const Section section = FindSection(text, name);
    if (!section.found) return lines;
    std::size_t number = section.bodyLine;
    for (std::size_t pos = section.bodyBegin; pos < section.bodyEnd; ++number) {
        const Line line = LineAt(text, pos);
        pos = line.next;
        // Blanks at the line's ends and around its first '=' are dropped, as the Windows
        // functions drop them: a hand-edited "NVVDD = 175" reads as NVVDD=175.
        const std::size_t first = SkipBlanks(text, line.begin, line.end);
        const std::size_t last = TrimBlanks(text, first, line.end);
        if (first == last || Code(text[first]) == ';') continue;
        std::size_t equals = first;
        while (equals < last && Code(text[equals]) != '=') ++equals;
        std::wstring decoded;
        if (equals < last) {
            decoded = Decoded(text, first, TrimBlanks(text, first, equals));
            decoded.push_back(L'=');
            decoded += Decoded(text, SkipBlanks(text, equals + 1, last), last);
        } else {
            decoded = Decoded(text, first, last);
        }
        for (wchar_t& c : decoded) {
            if (c == L'\0') c = static_cast<wchar_t>(kReplacement);
        }
        lines += decoded;
        lines.push_back(L'\0');
        if (numbers) numbers->push_back(number);
    }
    return lines;
}

template <typename Text>
std::vector<SectionHeader> Headers(const Text& text) {
    std::vector<SectionHeader> headers;
    ForEachHeader(text, [&](const Line&, std::size_t number, std::size_t nameBegin, std::size_t nameEnd) {
        headers.push_back({Decoded(text, nameBegin, nameEnd), number});
        return true;
    });
    return headers;
}

// Ends the text's last line, unless the text is empty or the line is ended already. A string of
// the new body that ends in CR gets its LF; the file's own lone CR already ends a line and stays.
enum class LoneCr { Completed, Kept };

template <typename Text>
void EndLine(Text& text, LoneCr loneCr) {
    if (text.empty() || Code(text.back()) == kLf) return;
    if (Code(text.back()) == kCr && loneCr == LoneCr::Kept) return;
    text += Ascii<Text>(Code(text.back()) == kCr ? "\n" : "\r\n");
}

template <typename Text>
Text Replaced(const Text& text, const Text& name, const std::wstring& data) {
    Text body;
    for (std::size_t pos = 0; pos < data.size();) {
        std::size_t end = data.find(L'\0', pos);
        if (end == std::wstring::npos) end = data.size();
        if (end == pos) break;  // an empty string closes the list
        AppendEncoded(body, data.substr(pos, end - pos));
        EndLine(body, LoneCr::Completed);
        pos = end + 1;
    }

    const Section section = FindSection(text, name);
    Text out;
    if (section.found) {
        out.assign(text, 0, section.bodyBegin);
        EndLine(out, LoneCr::Kept);  // a header on the last line without a line end
        out += body;
        out.append(text, section.bodyEnd, Text::npos);
    } else {
        out = text;
        EndLine(out, LoneCr::Kept);
        out += Ascii<Text>("[");
        out += name;
        out += Ascii<Text>("]\r\n");
        out += body;
    }
    return out;
}

}  // namespace

std::wstring SectionLinesOf(const std::string& bytes, const std::wstring& section,
                           std::vector<std::size_t>* lineNumbers) {
    const Layout layout = Detect(bytes);
    if (layout.encoding == Encoding::Utf8) {
        return SectionLines(bytes.substr(layout.markSize), Encoded<std::string>(section), lineNumbers);
    }
    return SectionLines(Utf16Units(bytes, layout.markSize, layout.encoding == Encoding::Utf16Be),
                        Encoded<std::u16string>(section), lineNumbers);
}

std::vector<SectionHeader> SectionHeadersOf(const std::string& bytes) {
    const Layout layout = Detect(bytes);
    if (layout.encoding == Encoding::Utf8) return Headers(bytes.substr(layout.markSize));
    return Headers(Utf16Units(bytes, layout.markSize, layout.encoding == Encoding::Utf16Be));
}

bool Rewritten(const std::string& bytes, const std::wstring& section, const std::wstring& data, std::string& out) {
    const Layout layout = Detect(bytes);
    out = bytes.substr(0, layout.markSize);
    if (layout.encoding == Encoding::Utf8) {
        out += Replaced(bytes.substr(layout.markSize), Encoded<std::string>(section), data);
        return true;
    }
    // A dangling byte would shift every unit after it; better no write than a garbled file.
    if ((bytes.size() - layout.markSize) % 2 != 0) return false;
    const bool bigEndian = layout.encoding == Encoding::Utf16Be;
    AppendUtf16Bytes(out, Replaced(Utf16Units(bytes, layout.markSize, bigEndian), Encoded<std::u16string>(section), data),
                     bigEndian);
    return true;
}

bool IsWritableName(const std::wstring& name) {
    if (name.find_first_of(std::wstring(L"]\r\n\0", 4)) != std::wstring::npos) return false;
    return name.empty() || (!IsBlankCode(WideCode(name.front())) && !IsBlankCode(WideCode(name.back())));
}

}  // namespace profile
