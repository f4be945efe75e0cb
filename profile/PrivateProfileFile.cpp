#include "profile/PrivateProfileFile.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <type_traits>
#include <utility>

namespace profile {
namespace {

namespace fs = std::filesystem;

constexpr bool kWide16 = sizeof(wchar_t) == 2;
constexpr char32_t kReplacement = 0xFFFD;
// Bytes that are not UTF-8 travel as these lone low surrogates, so they go back out unchanged.
constexpr char32_t kEscapeBase = 0xDC00;

// ---- Wide strings as code points: UTF-16 where wchar_t has 16 bits, UTF-32 elsewhere.

char32_t WideCode(wchar_t c) { return static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(c)); }

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

char32_t JoinSurrogates(char32_t high, char32_t low) { return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00); }

// Calls `emit` with each code point; a surrogate without its partner comes through as it is.
template <typename Emit>
void ForEachCodePoint(const std::wstring& text, Emit emit) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = WideCode(text[i]);
        if (kWide16 && IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(WideCode(text[i + 1]))) {
            c = JoinSurrogates(c, WideCode(text[i + 1]));
            ++i;
        }
        emit(c);
    }
}

void AppendWide(std::wstring& out, char32_t c) {
    if (kWide16 && c > 0xFFFF) {
        c -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<wchar_t>(c));
    }
}

// ---- The file's units: bytes of UTF-8, or 16-bit units of UTF-16.

unsigned Code(char c) { return static_cast<unsigned char>(c); }
unsigned Code(char16_t c) { return c; }

void AppendEncoded(std::string& out, char32_t c) {
    if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) {
        out.push_back(static_cast<char>(c - kEscapeBase));
        return;
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void AppendEncoded(std::u16string& out, char32_t c) {
    if (c > 0x10FFFF) c = kReplacement;
    if (c > 0xFFFF) {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(c));
    }
}

template <typename Text>
void AppendEncoded(Text& out, const std::wstring& text) {
    ForEachCodePoint(text, [&out](char32_t c) { AppendEncoded(out, c); });
}

template <typename Text>
Text Encoded(const std::wstring& text) {
    Text out;
    AppendEncoded(out, text);
    return out;
}

std::wstring Decoded(const std::string& text, std::size_t begin, std::size_t end) {
    std::wstring out;
    std::size_t i = begin;
    while (i < end) {
        const unsigned lead = Code(text[i]);
        std::size_t length = 0;
        char32_t c = 0;
        unsigned secondLow = 0x80;
        unsigned secondHigh = 0xBF;
        if (lead < 0x80) {
            length = 1;
            c = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            c = lead & 0x0F;
            if (lead == 0xE0) secondLow = 0xA0;   // no overlong forms
            if (lead == 0xED) secondHigh = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            c = lead & 0x07;
            if (lead == 0xF0) secondLow = 0x90;
            if (lead == 0xF4) secondHigh = 0x8F;  // nothing beyond U+10FFFF
        }
        bool valid = length != 0 && length <= end - i;
        for (std::size_t k = 1; valid && k < length; ++k) {
            const unsigned next = Code(text[i + k]);
            valid = next >= (k == 1 ? secondLow : 0x80) && next <= (k == 1 ? secondHigh : 0xBF);
            c = (c << 6) | (next & 0x3F);
        }
        if (valid) {
            AppendWide(out, c);
            i += length;
        } else {
            AppendWide(out, kEscapeBase + lead);
            ++i;
        }
    }
    return out;
}

std::wstring Decoded(const std::u16string& text, std::size_t begin, std::size_t end) {
    std::wstring out;
    for (std::size_t i = begin; i < end; ++i) {
        char32_t c = text[i];
        if (!kWide16 && IsHighSurrogate(c) && i + 1 < end && IsLowSurrogate(text[i + 1])) {
            c = JoinSurrogates(c, text[i + 1]);
            ++i;
        }
        AppendWide(out, c);
    }
    return out;
}

template <typename Text>
Text Ascii(const char* text) {
    Text out;
    for (; *text != '\0'; ++text) out.push_back(static_cast<typename Text::value_type>(*text));
    return out;
}

// ---- Lines, headers, sections.

constexpr unsigned kLf = 0x0A;
constexpr unsigned kCr = 0x0D;

template <typename Unit>
bool IsBlank(Unit c) {
    return Code(c) == 0x20 || Code(c) == 0x09;
}

unsigned FoldAscii(unsigned c) { return c >= 'a' && c <= 'z' ? c - 0x20 : c; }

struct Line {
    std::size_t begin;  // first unit
    std::size_t end;    // past the text, before CR LF or LF
    std::size_t next;   // first unit of the following line
};

template <typename Text>
Line LineAt(const Text& text, std::size_t begin) {
    const std::size_t lf = text.find(static_cast<typename Text::value_type>(kLf), begin);
    Line line{begin, lf == Text::npos ? text.size() : lf, lf == Text::npos ? text.size() : lf + 1};
    if (line.end > line.begin && Code(text[line.end - 1]) == kCr) --line.end;
    return line;
}

template <typename Text>
std::size_t SkipBlanks(const Text& text, std::size_t begin, std::size_t end) {
    while (begin < end && IsBlank(text[begin])) ++begin;
    return begin;
}

// True for a header line, with the name's range (blanks around it left out).
template <typename Text>
bool HeaderName(const Text& text, const Line& line, std::size_t& nameBegin, std::size_t& nameEnd) {
    const std::size_t open = SkipBlanks(text, line.begin, line.end);
    if (open == line.end || Code(text[open]) != '[') return false;
    std::size_t close = open + 1;
    while (close < line.end && Code(text[close]) != ']') ++close;
    if (close == line.end) return false;
    nameBegin = SkipBlanks(text, open + 1, close);
    nameEnd = close;
    while (nameEnd > nameBegin && IsBlank(text[nameEnd - 1])) --nameEnd;
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
    std::size_t bodyEnd = 0;    // the next header line, or the end of the text
};

// The first section of the name; later ones of the same name count as bodies' ends only.
template <typename Text>
Section FindSection(const Text& text, const Text& name) {
    Section section;
    for (std::size_t pos = 0; pos < text.size();) {
        const Line line = LineAt(text, pos);
        std::size_t nameBegin = 0;
        std::size_t nameEnd = 0;
        if (HeaderName(text, line, nameBegin, nameEnd)) {
            if (section.found) {
                section.bodyEnd = line.begin;
                return section;
            }
            if (SameName(text, nameBegin, nameEnd, name)) {
                section.found = true;
                section.bodyBegin = line.next;
            }
        }
        pos = line.next;
    }
    section.bodyEnd = text.size();
    return section;
}

template <typename Text>
std::wstring SectionLines(const Text& text, const Text& name) {
    std::wstring lines;
    const Section section = FindSection(text, name);
    if (!section.found) return lines;
    for (std::size_t pos = section.bodyBegin; pos < section.bodyEnd;) {
        const Line line = LineAt(text, pos);
        pos = line.next;
        const std::size_t first = SkipBlanks(text, line.begin, line.end);
        if (first == line.end || Code(text[first]) == ';') continue;
        std::wstring decoded = Decoded(text, line.begin, line.end);
        for (wchar_t& c : decoded) {
            if (c == L'\0') c = static_cast<wchar_t>(kReplacement);
        }
        lines += decoded;
        lines.push_back(L'\0');
    }
    return lines;
}

// Ends the text's last line, unless the text is empty or the line is ended already.
template <typename Text>
void EndLine(Text& text) {
    if (text.empty() || Code(text.back()) == kLf) return;
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
        EndLine(body);
        pos = end + 1;
    }

    const Section section = FindSection(text, name);
    Text out;
    if (section.found) {
        out.assign(text, 0, section.bodyBegin);
        EndLine(out);  // a header on the last line without a line end
        out += body;
        out.append(text, section.bodyEnd, Text::npos);
    } else {
        out = text;
        EndLine(out);
        out += Ascii<Text>("[");
        out += name;
        out += Ascii<Text>("]\r\n");
        out += body;
    }
    return out;
}

// ---- The file.

fs::path FilePath(const std::wstring& path) {
#ifdef _WIN32
    return fs::path(path);
#else
    return fs::path(Encoded<std::string>(path));
#endif
}

enum class Encoding { Utf8, Utf16Le, Utf16Be };

struct Layout {
    Encoding encoding = Encoding::Utf8;
    std::size_t markSize = 0;
};

Layout Detect(const std::string& bytes) {
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return {Encoding::Utf8, 3};
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) return {Encoding::Utf16Le, 2};
    if (bytes.compare(0, 2, "\xFE\xFF") == 0) return {Encoding::Utf16Be, 2};
    return {};
}

// A dangling last byte is left out.
std::u16string Utf16Units(const std::string& bytes, std::size_t begin, bool bigEndian) {
    std::u16string units;
    units.reserve((bytes.size() - begin) / 2);
    for (std::size_t i = begin; i + 1 < bytes.size(); i += 2) {
        const unsigned first = Code(bytes[i]);
        const unsigned second = Code(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first));
    }
    return units;
}

void AppendUtf16Bytes(std::string& out, const std::u16string& units, bool bigEndian) {
    for (const char16_t unit : units) {
        const auto high = static_cast<char>(unit >> 8);
        const auto low = static_cast<char>(unit & 0xFF);
        out.push_back(bigEndian ? high : low);
        out.push_back(bigEndian ? low : high);
    }
}

enum class Load { Loaded, Missing, Failed };

Load LoadFile(const fs::path& file, std::string& bytes) {
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (status.type() == fs::file_type::not_found) return Load::Missing;
    if (error || status.type() != fs::file_type::regular) return Load::Failed;
    const std::uintmax_t size = fs::file_size(file, error);
    if (error) return Load::Failed;

    std::ifstream in(file, std::ios::binary);
    if (!in) return Load::Failed;
    char chunk[16384];
    for (;;) {
        in.read(chunk, sizeof chunk);
        const std::streamsize got = in.gcount();
        if (got > 0) bytes.append(chunk, static_cast<std::size_t>(got));
        if (!in) break;
    }
    // A stream takes a read error for the end of the file; a short read must not pass for the
    // whole file, or the rewrite would drop its tail.
    return in.bad() || bytes.size() != size ? Load::Failed : Load::Loaded;
}

// A link is followed to its file, so the rename below replaces the file and keeps the link.
bool FollowLink(fs::path& file) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(file, error))) return true;
    fs::path target = fs::weakly_canonical(file, error);
    if (error) return false;
    file = std::move(target);
    return true;
}

fs::path TemporaryBeside(const fs::path& file) {
    static std::atomic<std::uint32_t> counter{0};
    const auto ticks = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    fs::path candidate;
    for (int attempt = 0; attempt < 64; ++attempt) {
        const auto tag = static_cast<std::uint32_t>(ticks ^ (ticks >> 32)) + counter.fetch_add(1) * 2654435761u;
        std::string suffix = ".";
        for (int shift = 28; shift >= 0; shift -= 4) suffix.push_back("0123456789abcdef"[(tag >> shift) & 0xF]);
        suffix += ".tmp";
        candidate = file;
        candidate += suffix;
        std::error_code error;
        if (fs::symlink_status(candidate, error).type() == fs::file_type::not_found) break;
    }
    return candidate;
}

// Writes the new contents under another name in the same directory and renames it over the
// file: the rename either happens whole or not at all. Flushed, not synced: the standard library
// has no fsync, so a power cut right after the rename may still lose the file system's cache.
bool ReplaceFile(const fs::path& file, const std::string& bytes) {
    const fs::path temporary = TemporaryBeside(file);
    bool created = false;
    bool written = false;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        created = out.is_open();
        if (created) {
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            out.flush();
            written = !out.fail();
            out.close();
            written = written && !out.fail();
        }
    }
    std::error_code error;
    if (written) {
        // Keep the old file's permissions rather than the defaults of a new one.
        const fs::file_status old = fs::status(file, error);
        if (!error && old.type() == fs::file_type::regular) fs::permissions(temporary, old.permissions(), error);
        fs::rename(temporary, file, error);
        if (!error) return true;
    }
    if (created) fs::remove(temporary, error);
    return false;
}

// A name that a header line could not give back is refused: no ']' or line break inside, no
// blanks at its edges.
bool IsWritableName(const std::wstring& name) {
    if (name.find_first_of(std::wstring(L"]\r\n\0", 4)) != std::wstring::npos) return false;
    return name.empty() || (name.front() != L' ' && name.front() != L'\t' && name.back() != L' ' &&
                            name.back() != L'\t');
}

}  // namespace

std::wstring PrivateProfileFile::CurrentDirectory() {
    std::error_code error;
    const fs::path directory = fs::current_path(error);
    if (error) return {};
#ifdef _WIN32
    return directory.native();
#else
    return Decoded(directory.native(), 0, directory.native().size());
#endif
}

std::wstring PrivateProfileFile::ReadSection(const std::wstring& section, const std::wstring& path) {
    std::string bytes;
    if (path.empty() || LoadFile(FilePath(path), bytes) != Load::Loaded) return {};
    const Layout layout = Detect(bytes);
    if (layout.encoding == Encoding::Utf8) {
        return SectionLines(bytes.substr(layout.markSize), Encoded<std::string>(section));
    }
    return SectionLines(Utf16Units(bytes, layout.markSize, layout.encoding == Encoding::Utf16Be),
                        Encoded<std::u16string>(section));
}

bool PrivateProfileFile::WriteSection(const std::wstring& section, const std::wstring& data,
                                      const std::wstring& path) {
    if (path.empty() || !IsWritableName(section)) return false;
    fs::path file = FilePath(path);
    if (!FollowLink(file)) return false;
    std::string bytes;
    if (LoadFile(file, bytes) == Load::Failed) return false;

    const Layout layout = Detect(bytes);
    std::string out = bytes.substr(0, layout.markSize);
    if (layout.encoding == Encoding::Utf8) {
        out += Replaced(bytes.substr(layout.markSize), Encoded<std::string>(section), data);
    } else {
        // A dangling byte would shift every unit after it; better no write than a garbled file.
        if ((bytes.size() - layout.markSize) % 2 != 0) return false;
        const bool bigEndian = layout.encoding == Encoding::Utf16Be;
        AppendUtf16Bytes(out,
                         Replaced(Utf16Units(bytes, layout.markSize, bigEndian), Encoded<std::u16string>(section), data),
                         bigEndian);
    }
    return ReplaceFile(file, out);
}

wchar_t PrivateProfileFile::PathSeparator() const { return static_cast<wchar_t>(fs::path::preferred_separator); }

}  // namespace profile
