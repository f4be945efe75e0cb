// A save in place that fails after it has begun: a file system without fallocate's KEEP_SIZE whose
// posix_fallocate then runs out of room, a folder that cannot be synced, a file whose overwrite
// cannot be synced. The save's calls to those are made to fail here; every failure must leave
// Profile.ini and any journal an earlier cut save left as they were, so reads give what they gave.
// And the same saves on a real file system without fallocate, where they go through.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "ProfileDirFixture.h"
#include "profile/DurableSave.h"
#include "profile/PrivateProfileFile.h"

namespace {

// The true contents, and what a save cut short during its overwrite left of them.
const std::string kTrue = "[Other]\r\nX=1\r\n[S]\r\nA=2\r\n[Last]\r\nY=2\r\n";
const std::string kTorn = "[Other]\r\nX=1\r\n[S]\r\nA=";

// Enough keys that the file must grow to take them.
std::wstring NewBody() {
    std::wstring body;
    for (int i = 0; i < 200; ++i) body += L"KEY" + std::to_wstring(i) + L"=" + std::to_wstring(i * 3) + L"\r\n";
    return body;
}

struct Faults {
    bool noKeepSize = false;      // fallocate with FALLOC_FL_KEEP_SIZE: EOPNOTSUPP, as on ramfs
    bool growthFails = false;     // posix_fallocate: ENOSPC after growing the file part of the way
    bool folderSyncFails = false; // every fsync of a folder: EIO
    bool overwriteSyncFails = false;  // fsync of a file that holds the new contents: EIO
};

Faults faults;
std::string newContents;

int FakeFallocate(int fd, int mode, off_t offset, off_t length) {
    if (faults.noKeepSize) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return profile::SystemDiskCalls().fallocate(fd, mode, offset, length);
}

int FakePosixFallocate(int fd, off_t offset, off_t length) {
    if (!faults.growthFails) return profile::SystemDiskCalls().posixFallocate(fd, offset, length);
    // As glibc's emulation does when the disk fills: the file has grown by some blocks.
    struct stat status {};
    if (fstat(fd, &status) != 0 || ftruncate(fd, std::max(status.st_size, (offset + length) / 2)) != 0) return EIO;
    return ENOSPC;
}

int FakeFsync(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0) return -1;
    if (S_ISDIR(status.st_mode) && faults.folderSyncFails) {
        errno = EIO;
        return -1;
    }
    if (S_ISREG(status.st_mode) && faults.overwriteSyncFails &&
        static_cast<std::size_t>(status.st_size) == newContents.size()) {
        std::string bytes(newContents.size(), '\0');
        if (pread(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()) && bytes == newContents) {
            errno = EIO;
            return -1;
        }
    }
    return profile::SystemDiskCalls().fsync(fd);
}

const profile::DiskCalls kFakeCalls{FakeFallocate, FakePosixFallocate, FakeFsync};

struct Case {
    const char* what;
    bool earlierJournal;  // a cut save left Profile.ini torn and its journal beside it
    Faults faults;
    bool saved;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.what; }

class ProfileSaveFailureTest : public ProfileDirFixture, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override {
        ProfileDirFixture::SetUp();
        profile::SetDiskCalls(&kFakeCalls);
    }
    void TearDown() override {
        profile::SetDiskCalls(nullptr);
        faults = Faults{};
        ProfileDirFixture::TearDown();
    }
};

TEST_P(ProfileSaveFailureTest, FailureLeavesTheFileAndItsJournal) {
    const Case& c = GetParam();
    const fs::path file = dir / "Profile.ini";
    const fs::path journal = dir / "Profile.ini.saving";
    // A second name makes the save go in place.
    fs::create_directory(dir / "other");
    WriteBytes(file, c.earlierJournal ? kTorn : kTrue);
    fs::create_hard_link(file, dir / "other" / "Profile.ini");
    if (c.earlierJournal) {
        WriteBytes(journal, kTrue);
        ASSERT_EQ(chmod(journal.c_str(), 0600), 0);
    }
    const std::set<std::string> namesBefore = Names(dir);
    const std::string fileBefore = ReadBytes(file);

    const std::wstring body = NewBody();
    const std::string expected = "[Other]\r\nX=1\r\n[S]\r\n" + std::string(body.begin(), body.end()) + "[Last]\r\nY=2\r\n";
    newContents = expected;
    faults = c.faults;

    profile::PrivateProfileFile files;
    const std::wstring path = Wide(file.string());
    EXPECT_EQ(files.WriteSection(L"S", body + L'\0', path), c.saved);
    faults = Faults{};

    if (c.saved) {
        EXPECT_EQ(ReadBytes(file), expected);
        EXPECT_EQ(ReadBytes(dir / "other" / "Profile.ini"), expected);
        EXPECT_EQ(Names(dir), (std::set<std::string>{"Profile.ini", "other"}));
        return;
    }
    EXPECT_EQ(files.ReadSection(L"S", path), std::wstring(L"A=2") + L'\0');
    EXPECT_EQ(files.ReadSection(L"Last", path), std::wstring(L"Y=2") + L'\0');
    EXPECT_EQ(Names(dir), namesBefore);
    if (c.earlierJournal) {
        EXPECT_EQ(ReadBytes(journal), kTrue) << "the earlier journal";
    }
    // Once the overwrite has begun the file's bytes cannot be what they were; the journal speaks.
    if (!c.faults.overwriteSyncFails) {
        EXPECT_EQ(ReadBytes(file), fileBefore);
        EXPECT_EQ(fs::hard_link_count(file), 2u);
    }

    // The next save, with the calls working, starts from the true contents.
    ASSERT_TRUE(files.WriteSection(L"S", std::wstring(L"A=3\r\n") + L'\0', path));
    EXPECT_EQ(ReadBytes(dir / "other" / "Profile.ini"), "[Other]\r\nX=1\r\n[S]\r\nA=3\r\n[Last]\r\nY=2\r\n");
    EXPECT_EQ(Names(dir), (std::set<std::string>{"Profile.ini", "other"}));
}

Faults NoKeepSize(bool growthFails) {
    Faults f;
    f.noKeepSize = true;
    f.growthFails = growthFails;
    return f;
}

Faults FolderSyncFails(bool noKeepSize) {
    Faults f;
    f.noKeepSize = noKeepSize;
    f.folderSyncFails = true;
    return f;
}

Faults OverwriteSyncFails() {
    Faults f;
    f.overwriteSyncFails = true;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileSaveFailureTest,
    ::testing::Values(
        Case{"earlier journal, no KEEP_SIZE, growing the file fails", true, NoKeepSize(true), false},
        Case{"no journal, no KEEP_SIZE, growing the file fails", false, NoKeepSize(true), false},
        Case{"earlier journal, the folder sync fails", true, FolderSyncFails(false), false},
        Case{"earlier journal, no KEEP_SIZE, the folder sync fails", true, FolderSyncFails(true), false},
        Case{"no journal, the folder sync fails", false, FolderSyncFails(false), false},
        Case{"earlier journal, the sync of the overwritten file fails", true, OverwriteSyncFails(), false},
        Case{"earlier journal, no KEEP_SIZE, room enough", true, NoKeepSize(false), true},
        Case{"no journal, no KEEP_SIZE, room enough", false, NoKeepSize(false), true}),
    [](const ::testing::TestParamInfo<Case>& param) {
        std::string name;
        for (const char* c = param.param.what; *c != '\0'; ++c) {
            if (std::isalnum(static_cast<unsigned char>(*c))) name.push_back(*c);
        }
        return name;
    });

// ramfs has no fallocate at all, so posix_fallocate writes the file's new blocks itself.
TEST_F(ProfileDirFixture, SavesInPlaceOnAFileSystemWithoutFallocate) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a ramfs in a mount namespace of its own";
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        GTEST_SKIP() << "no mount namespace of its own: " << std::strerror(errno);
    }
    const fs::path folder = dir / "ramfs";
    fs::create_directory(folder);
    if (mount("ramfs", folder.c_str(), "ramfs", 0, nullptr) != 0) {
        GTEST_SKIP() << "cannot mount a ramfs: " << std::strerror(errno);
    }
    struct Unmount {
        const fs::path& folder;
        ~Unmount() { umount2(folder.c_str(), MNT_DETACH); }
    } unmount{folder};

    const fs::path file = folder / "Profile.ini";
    const fs::path journal = folder / "Profile.ini.saving";
    const std::wstring path = Wide(file.string());
    const std::wstring body = NewBody();
    const std::string expected = "[Other]\r\nX=1\r\n[S]\r\n" + std::string(body.begin(), body.end()) + "[Last]\r\nY=2\r\n";
    for (const bool earlierJournal : {false, true}) {
        SCOPED_TRACE(earlierJournal ? "with an earlier journal" : "without a journal");
        fs::remove_all(folder / "other");
        fs::remove(file);
        fs::create_directory(folder / "other");
        WriteBytes(file, earlierJournal ? kTorn : kTrue);
        fs::create_hard_link(file, folder / "other" / "Profile.ini");
        if (earlierJournal) {
            WriteBytes(journal, kTrue);
            ASSERT_EQ(chmod(journal.c_str(), 0600), 0);
        }
        const int fd = open(file.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const int reserved = fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, 4096);
        const int error = errno;
        close(fd);
        if (reserved == 0 || error != EOPNOTSUPP) GTEST_SKIP() << "this kernel's ramfs has fallocate";

        profile::PrivateProfileFile files;
        ASSERT_TRUE(files.WriteSection(L"S", body + L'\0', path));
        EXPECT_EQ(ReadBytes(folder / "other" / "Profile.ini"), expected);
        EXPECT_EQ(Names(folder), (std::set<std::string>{"Profile.ini", "other"}));
    }
}

}  // namespace
