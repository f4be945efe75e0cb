#include "profile/PrivateProfileFile.h"

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
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
    }
    return lines;
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

// ---- The file's contents.

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

std::wstring LinesOf(const std::string& bytes, const std::wstring& section) {
    const Layout layout = Detect(bytes);
    if (layout.encoding == Encoding::Utf8) {
        return SectionLines(bytes.substr(layout.markSize), Encoded<std::string>(section));
    }
    return SectionLines(Utf16Units(bytes, layout.markSize, layout.encoding == Encoding::Utf16Be),
                        Encoded<std::u16string>(section));
}

// The file's new contents in its own encoding; false when it cannot be rewritten faithfully.
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

// A name that a header line could not give back is refused: no ']' or line break inside, no
// blanks at its edges.
bool IsWritableName(const std::wstring& name) {
    if (name.find_first_of(std::wstring(L"]\r\n\0", 4)) != std::wstring::npos) return false;
    return name.empty() || (!IsBlankCode(WideCode(name.front())) && !IsBlankCode(WideCode(name.back())));
}

enum class Load { Loaded, Missing, Failed };

#ifndef _WIN32
// ---- The file on a POSIX system.

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
    return fsync(fd.get()) == 0 || errno == EINVAL || errno == ENOTSUP;
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

// The file as the last save left it: its journal when a save in place was cut short.
Load LoadCurrent(const fs::path& path, std::string& bytes) {
    std::string file = path.native();
    if (!FollowLinks(file)) return Load::Failed;
    Descriptor fd(open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return errno == ENOENT ? Load::Missing : Load::Failed;
    struct stat status {};
    if (fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return Load::Failed;
    if (ReadJournal(file, status.st_uid, bytes)) return Load::Loaded;
    return ReadAll(fd.get(), bytes) ? Load::Loaded : Load::Failed;
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
        result = fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    if (result == 0) return Room::Reserved;
    return errno == EOPNOTSUPP || errno == ENOSYS ? Room::Unsupported : Room::Refused;
#else
    static_cast<void>(fd);
    return Room::Unsupported;
#endif
}

// The in-place overwrite, once the new contents are the journal. Where the room could not be
// reserved beforehand the file is grown to take it now, with the journal standing for it; should
// that fail, the old size goes back and the journal with it.
bool OverwriteInPlace(Descriptor& target, const std::string& file, const std::string& folder,
                      const std::string& out, off_t oldSize, Room room) {
    const int fd = target.get();
    if (!SyncFolder(folder)) {
        RemoveJournal(file);
        return false;
    }
    if (room == Room::Unsupported && !out.empty()) {
        int error = 0;
        do {
            error = posix_fallocate(fd, 0, static_cast<off_t>(out.size()));
        } while (error == EINTR);
        if (error != 0 || fsync(fd) != 0) {
            if (ftruncate(fd, oldSize) == 0 && fsync(fd) == 0) RemoveJournal(file);
            return false;
        }
    }
    bool ok = WriteAll(fd, out) && ftruncate(fd, static_cast<off_t>(out.size())) == 0 && fsync(fd) == 0;
    ok = target.Close() && ok;
    // A failed overwrite keeps the journal, which stands for the file until the next save.
    return ok && RemoveJournal(file) && SyncFolder(folder);
}

// Writes the file's new contents so that a kill or a power cut leaves the old contents or the
// new, never a mix; the header tells how.
template <typename Rewrite>
bool SaveFile(const fs::path& path, Rewrite rewrite) {
    std::string file = path.native();
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
    ok = ok && fsync(fd.get()) == 0;
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
        if (((room == Room::Reserved && fsync(target.get()) == 0) || room == Room::Unsupported) &&
            rename(staged.c_str(), JournalOf(file).c_str()) == 0) {
            return OverwriteInPlace(target, file, folder, out, current.st_size, room);
        }
    }
    unlink(staged.c_str());
    return false;
}

#else
// ---- The file on Windows, where the program itself uses the Windows profile functions: the new
// contents under a fresh name, renamed over the file.

Load LoadCurrent(const fs::path& file, std::string& bytes) {
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (status.type() == fs::file_type::not_found) return Load::Missing;
    if (error || status.type() != fs::file_type::regular) return Load::Failed;
    const std::uintmax_t size = fs::file_size(file, error);
    if (error) return Load::Failed;
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.bad() || bytes.size() != size ? Load::Failed : Load::Loaded;
}

template <typename Rewrite>
bool SaveFile(fs::path file, Rewrite rewrite) {
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(file, error))) file = fs::read_symlink(file, error);
    if (error) return false;
    std::string bytes;
    std::string out;
    if (LoadCurrent(file, bytes) == Load::Failed || !rewrite(bytes, out)) return false;
    std::random_device entropy;
    for (int attempt = 0; attempt < 64; ++attempt) {
        fs::path temporary = file;
        temporary += L"." + std::to_wstring(entropy()) + L".tmp";
        if (fs::symlink_status(temporary, error).type() != fs::file_type::not_found) continue;
        std::ofstream stream(temporary, std::ios::binary);
        stream.write(out.data(), static_cast<std::streamsize>(out.size()));
        stream.close();
        if (!stream.fail()) fs::rename(temporary, file, error);
        if (!stream.fail() && !error) return true;
        fs::remove(temporary, error);
        return false;
    }
    return false;
}
#endif

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
    if (path.empty() || LoadCurrent(FilePath(path), bytes) != Load::Loaded) return {};
    return LinesOf(bytes, section);
}

bool PrivateProfileFile::WriteSection(const std::wstring& section, const std::wstring& data,
                                      const std::wstring& path) {
    if (path.empty() || !IsWritableName(section)) return false;
    return SaveFile(FilePath(path), [&section, &data](const std::string& bytes, std::string& out) {
        return Rewritten(bytes, section, data, out);
    });
}

wchar_t PrivateProfileFile::PathSeparator() const { return static_cast<wchar_t>(fs::path::preferred_separator); }

}  // namespace profile
