#include "platform/win32/Win32PrivateProfile.h"

#include <windows.h>
#include <aclapi.h>

#include <cwchar>
#include <cwctype>
#include <vector>

namespace win32 {

namespace {
constexpr DWORD kDirectoryBuffer = 260;
constexpr DWORD kSectionBuffer = 65536;
// Beyond this a section is not a settings profile any more; stop growing rather than exhaust memory.
constexpr DWORD kSectionLimit = 64u << 20;

// The body as WritePrivateProfileSectionW defines it: one NUL-terminated string per line, then
// one more NUL. Handed lines with CR LF inside, Windows writes the same bytes, but a platform that
// keeps the parsed file in memory (Wine does) gives them back as one line until it reads the file
// again, and a Load after a Save in the same run would find only the first key.
std::wstring OneStringPerLine(const std::wstring& data) {
    std::wstring lines;
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= data.size(); ++i) {
        const wchar_t c = i < data.size() ? data[i] : L'\0';
        if (c != L'\r' && c != L'\n' && c != L'\0') continue;
        if (i > begin) {
            lines.append(data, begin, i - begin);
            lines.push_back(L'\0');
        }
        begin = i + 1;
        if (c == L'\0' && i + 1 < data.size() && data[i + 1] == L'\0') break;  // the list's end
    }
    return lines;  // its own terminator closes the list
}


std::wstring JournalOf(const std::wstring& file) { return file + L".saving"; }

// "\\?\C:\x" as "C:\x", and "\\?\UNC\server\share" as "\\server\share": the form every
// function used here takes.
std::wstring PlainPath(const std::wstring& path) {
    const std::wstring unc = L"\\\\?\\UNC\\";
    const std::wstring local = L"\\\\?\\";
    if (path.compare(0, unc.size(), unc) == 0) return L"\\\\" + path.substr(unc.size());
    if (path.compare(0, local.size(), local) == 0) return path.substr(local.size());
    return path;
}

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

using Sid = std::vector<unsigned char>;

Sid CopySid(PSID sid) {
    if (sid == nullptr || !IsValidSid(sid)) return {};
    const auto* bytes = static_cast<const unsigned char*>(sid);
    return Sid(bytes, bytes + GetLengthSid(sid));
}

// Empty when it cannot be read, as on a volume that keeps no owners.
Sid OwnerOf(HANDLE file) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return {};
    Sid sid = CopySid(owner);
    LocalFree(descriptor);
    return sid;
}

Sid SavingUser() {
    Sid sid;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        alignas(TOKEN_USER) char buffer[256];
        DWORD size = 0;
        if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size))
            sid = CopySid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
        CloseHandle(token);
    }
    return sid;
}

// Where owners cannot be told apart, a rename keeps what can be seen.
bool OwnedByUs(const Sid& owner) {
    const Sid us = SavingUser();
    return owner.empty() || us.empty() || owner == us;
}

bool ReadAll(HANDLE file, std::string& bytes) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > kSectionLimit * 4LL) return false;
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    return bytes.empty() ||
           (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size());
}

// The journal of a save in place that was cut short: the file's complete new contents. Believed
// only when it is a plain file of one name, the saving user's or the file owner's, so nobody else
// can plant one; one that is not is left where it is and never read.
bool ReadJournal(const std::wstring& file, const Sid& fileOwner, std::string& bytes) {
    const Handle journal(CreateFileW(JournalOf(file).c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!journal.valid() || GetFileType(journal.get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(journal.get(), &info) || info.nNumberOfLinks != 1 ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return false;
    const Sid owner = OwnerOf(journal.get());
    // A volume that keeps no owners shows none for either.
    const bool trusted = owner.empty() ? fileOwner.empty() : owner == SavingUser() || owner == fileOwner;
    return trusted && ReadAll(journal.get(), bytes);
}

// Clears the read-only attribute first: a copy can inherit it, and Windows deletes no read-only file.
bool Remove(const std::wstring& file) {
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        SetFileAttributesW(file.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    return DeleteFileW(file.c_str()) != 0;
}

}  // namespace

std::optional<Win32PrivateProfile::Target> Win32PrivateProfile::FindTarget(const std::wstring& path, bool create) {
    const Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const bool created = create && file.valid() && GetLastError() != ERROR_ALREADY_EXISTS;
    if (!file.valid()) return std::nullopt;
    std::wstring final(32768, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(file.get(), final.data(), static_cast<DWORD>(final.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    BY_HANDLE_FILE_INFORMATION info{};
    if (length == 0 || length >= final.size() || !GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
    final.resize(length);
    Target target;
    target.path = PlainPath(final);
    target.created = created;
    // The file's own attribute: a link's says nothing of the file it names.
    target.readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    const Sid owner = OwnerOf(file.get());
    // A rename would part the file's other names from it, or give it to the saving user.
    target.keptByRename = info.nNumberOfLinks <= 1 && OwnedByUs(owner);
    target.journaled = ReadJournal(target.path, owner, target.journal);
    return target;
}

namespace {

// Our temporary files: "<file>.<8 hex digits>.tmp".
bool IsOurTemporary(const std::wstring& name, const std::wstring& file) {
    if (name.size() != file.size() + 13 || name.compare(0, file.size(), file) != 0) return false;
    if (name[file.size()] != L'.' || name.compare(file.size() + 9, 4, L".tmp") != 0) return false;
    for (std::size_t i = file.size() + 1; i < file.size() + 9; ++i)
        if (!iswxdigit(name[i])) return false;
    return true;
}

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

}  // namespace

// Files a killed save left behind; the program runs once per user, so none is a save in progress.
void Win32PrivateProfile::RemoveStaleTemporaries(const std::wstring& file) {
    const std::wstring folder = FolderOf(file);
    const std::wstring name = file.substr(folder.size());
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((file + L".*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (IsOurTemporary(found.cFileName, name)) Remove(folder + found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::wstring Win32PrivateProfile::NewTemporary(const std::wstring& file) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const unsigned value =
            static_cast<unsigned>(GetTickCount64()) * 2654435761u ^ GetCurrentProcessId() << 8 ^ ++counter;
        wchar_t suffix[16];
        swprintf(suffix, 16, L".%08x.tmp", value);
        const std::wstring name = file + suffix;
        const HANDLE created =
            CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created != INVALID_HANDLE_VALUE) {
            CloseHandle(created);
            return name;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
}

// The profile function closes the file without flushing it; the data must reach the disk before
// the file takes Profile.ini's place.
bool Win32PrivateProfile::Flush(const std::wstring& file) {
    const Handle handle(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    return handle.valid() && FlushFileBuffers(handle.get()) != 0;
}

bool Win32PrivateProfile::WriteAll(const std::wstring& file, const std::string& bytes) {
    const Handle handle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
    DWORD written = 0;
    return handle.valid() && (bytes.empty() || (WriteFile(handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                                          &written, nullptr) &&
                                                written == bytes.size()));
}

// The copy has the old file's attributes already; its access list too, where it can be had, so the
// rename keeps what the user set on Profile.ini. Where it cannot, the folder's inherited one stays.
void Win32PrivateProfile::CopyPermissions(const std::wstring& from, const std::wstring& to) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(from.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (GetSecurityDescriptorControl(descriptor, &control, &revision)) {
        // Set without saying, a list takes the folder's inheritable entries in: a file that
        // inherits nothing would start to.
        const SECURITY_INFORMATION protection = (control & SE_DACL_PROTECTED) != 0
                                                    ? PROTECTED_DACL_SECURITY_INFORMATION
                                                    : UNPROTECTED_DACL_SECURITY_INFORMATION;
        SetNamedSecurityInfoW(const_cast<wchar_t*>(to.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | protection,
                              nullptr, nullptr, dacl, nullptr);
    }
    LocalFree(descriptor);
}

// For a file a rename would change: the complete new contents first go to the journal, which the
// next read believes; the disk space is taken before the first byte of the file changes; then the
// file is overwritten, and the journal goes. An earlier journal stands for the file until the new
// one replaces it, so a failure before that leaves it as it was.
bool Win32PrivateProfile::SaveInPlace(const std::wstring& temporary, const std::wstring& file, bool journaled) {
    const std::wstring journal = JournalOf(file);
    std::string bytes;
    bool read = false;
    {
        const Handle source(CreateFileW(temporary.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        read = source.valid() && ReadAll(source.get(), bytes);
    }
    const Handle target(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER oldSize{}, newSize{};
    newSize.QuadPart = static_cast<LONGLONG>(bytes.size());
    if (!read || !target.valid() || !GetFileSizeEx(target.get(), &oldSize)) {
        Remove(temporary);
        return false;
    }
    // Grown to its new size and flushed, so that a full disk fails the save before it writes. Without an
    // earlier journal the file grows under the new one's cover.
    const auto reserve = [&] {
        return newSize.QuadPart <= oldSize.QuadPart || (SetFilePointerEx(target.get(), newSize, nullptr, FILE_BEGIN) &&
                                                        SetEndOfFile(target.get()) && FlushFileBuffers(target.get()));
    };
    const auto shrinkBack = [&] {
        if (newSize.QuadPart > oldSize.QuadPart && SetFilePointerEx(target.get(), oldSize, nullptr, FILE_BEGIN))
            SetEndOfFile(target.get());
    };
    if (journaled && !reserve()) {
        shrinkBack();
        Remove(temporary);
        return false;
    }
    if (!MoveFileExW(temporary.c_str(), journal.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        if (journaled) shrinkBack();
        Remove(temporary);
        return false;
    }
    if (!journaled && !reserve()) {
        shrinkBack();
        DeleteFileW(journal.c_str());
        return false;
    }
    LARGE_INTEGER start{};
    DWORD written = 0;
    const bool ok = SetFilePointerEx(target.get(), start, nullptr, FILE_BEGIN) &&
                    (bytes.empty() || (WriteFile(target.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                                 nullptr) && written == bytes.size())) &&
                    SetEndOfFile(target.get()) && FlushFileBuffers(target.get());
    // A failure now leaves the journal, which the next read and save go by.
    return ok && DeleteFileW(journal.c_str());
}

std::wstring Win32PrivateProfile::CurrentDirectory() {
    std::wstring directory(kDirectoryBuffer, L'\0');
    for (;;) {
        const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data());
        if (length == 0) return std::wstring();
        // Too small: the length needed, terminator included, comes back instead.
        if (length < directory.size()) {
            directory.resize(length);
            return directory;
        }
        directory.resize(length);
    }
}

std::wstring Win32PrivateProfile::ReadSection(const std::wstring& section, const std::wstring& path) {
    // A save in place that was cut short left the complete new contents in its journal.
    std::wstring source = path;
    if (const std::optional<Target> target = FindTarget(path, false); target && target->journaled)
        source = JournalOf(target->path);
    std::wstring buffer(kSectionBuffer, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD count = GetPrivateProfileSectionW(section.c_str(), buffer.data(), size, source.c_str());
        // A full buffer reports size - 2 and holds a cut section; read again with more room.
        if (count + 2 < size || size >= kSectionLimit) {
            buffer.resize(count);
            return buffer;
        }
        buffer.assign(static_cast<std::size_t>(size) * 2, L'\0');
    }
}

std::optional<std::string> Win32PrivateProfile::FileBytes(const std::wstring& path) {
    const std::optional<Target> target = FindTarget(path, false);
    if (!target) return std::nullopt;
    // What ReadSection reads: a journal stands for the file it may have torn.
    if (target->journaled) return target->journal;
    const Handle file(CreateFileW(target->path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    if (!file.valid() || !ReadAll(file.get(), bytes)) return std::nullopt;
    return bytes;
}

bool Win32PrivateProfile::WriteSection(const std::wstring& section, const std::wstring& data,
                                       const std::wstring& path) {
    // Through a link to the file it names, created empty when missing as the Windows function
    // would create it: there is nothing to lose then.
    const std::optional<Target> target = FindTarget(path, true);
    if (!target) return false;
    // Windows refuses to write a read-only file; Wine run as root writes it all the same. Refused
    // before any copy, which would inherit the attribute.
    if (target->readOnly) return false;
    RemoveStaleTemporaries(target->path);
    // A journal without its file speaks for nothing; left there, it would outrank the new file.
    const bool journaled = target->journaled && !target->created;
    if (target->journaled && target->created && !Remove(JournalOf(target->path))) return false;

    // The Windows function itself edits a copy, so the new file holds exactly its bytes. The copy
    // starts from the file as the last save left it: a journal stands for a file it may have torn.
    const std::wstring temporary = NewTemporary(target->path);
    if (temporary.empty()) return false;
    const std::wstring lines = OneStringPerLine(data);
    bool ok = (journaled ? WriteAll(temporary, target->journal)
                         : CopyFileW(target->path.c_str(), temporary.c_str(), FALSE) != 0) &&
              WritePrivateProfileSectionW(section.c_str(), lines.c_str(), temporary.c_str()) != 0 && Flush(temporary);
    if (ok) CopyPermissions(target->path, temporary);
    // A journal stays the newest contents until the file holds them, so that save goes in place too.
    if (ok && (!target->keptByRename || journaled)) return SaveInPlace(temporary, target->path, journaled);
    // One rename that has reached the disk when it returns: the file is the old one or the new.
    ok = ok && MoveFileExW(temporary.c_str(), target->path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) Remove(temporary);
    return ok;
}

}  // namespace win32
