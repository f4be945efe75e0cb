// What a save does to a Profile.ini that is protected, linked, owned by another user or half
// written, on real files: as root, and as an unprivileged user where the test can become one.
#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <functional>
#include <optional>
#include <string>

#include "ProfileDirFixture.h"
#include "profile/PrivateProfileFile.h"

namespace {

const std::string kOld = "[Other]\r\nX=1\r\n[S]\r\nA=1\r\n[Last]\r\nY=2\r\n";
const std::string kNew = "[Other]\r\nX=1\r\n[S]\r\nA=2\r\n[Last]\r\nY=2\r\n";
const std::wstring kData = std::wstring(L"A=2\r\n") + L'\0';
// Not a user of this machine: stands for "another user".
constexpr uid_t kStranger = 54321;

struct Saver {
    const char* name;
    uid_t uid;
    gid_t gid;
};

// The save, by `saver`: in a child that becomes that user, or in this process when it is one.
bool SaveAs(const Saver& saver, const fs::path& file, rlim_t sizeLimit = RLIM_INFINITY) {
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        if (sizeLimit != RLIM_INFINITY) {
            const rlimit limit{sizeLimit, sizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (saver.uid != geteuid() && (setgroups(0, nullptr) != 0 || setgid(saver.gid) != 0 || setuid(saver.uid) != 0)) {
            _exit(3);
        }
        profile::PrivateProfileFile files;
        _exit(files.WriteSection(L"S", kData, Wide(file.string())) ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1) << "the saving child failed to start";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Owner {
    uid_t uid;
    gid_t gid;
    mode_t mode;
};

Owner OwnerOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return {status.st_uid, status.st_gid, status.st_mode & 07777};
}

void Own(const fs::path& path, uid_t uid, gid_t gid, mode_t mode) {
    ASSERT_EQ(lchown(path.c_str(), uid, gid), 0) << path;
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

// One case: what is there before the save, whether it succeeds, what is there after.
struct Case {
    const char* what;
    std::function<void(const fs::path& dir, const Saver& saver)> before;
    bool saved;
    std::function<void(const fs::path& dir, const Saver& saver)> after;
    enum class Who { Both, Root, User } who = Who::Both;  // a case for one of the two savers
    rlim_t sizeLimit = RLIM_INFINITY;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.what; }

class ProfileFileProtectionTest : public ProfileDirFixture, public ::testing::WithParamInterface<Case> {
protected:
    void RunFor(const Saver& saver) {
        const Case& c = GetParam();
        SCOPED_TRACE(std::string(c.what) + ", saved by " + saver.name);
        const fs::path folder = dir / saver.name;
        fs::create_directory(folder);
        Own(folder, saver.uid, saver.gid, 0755);
        c.before(folder, saver);
        EXPECT_EQ(SaveAs(saver, folder / "Profile.ini", c.sizeLimit), c.saved);
        c.after(folder, saver);
        chmod(folder.c_str(), 0755);
    }
};

TEST_P(ProfileFileProtectionTest, AsRoot) {
    if (geteuid() != 0) GTEST_SKIP() << "not run as root";
    if (GetParam().who == Case::Who::User) GTEST_SKIP() << "an unprivileged user's case only";
    RunFor({"root", 0, 0});
}

TEST_P(ProfileFileProtectionTest, AsAnUnprivilegedUser) {
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || nobody == nullptr) GTEST_SKIP() << "needs root to become the user nobody";
    if (GetParam().who == Case::Who::Root) GTEST_SKIP() << "root's case only";
    chmod(dir.c_str(), 0755);
    RunFor({"nobody", nobody->pw_uid, nobody->pw_gid});
}

void Untouched(const fs::path& folder, const Saver&) {
    EXPECT_EQ(ReadBytes(folder / "Profile.ini"), kOld);
    EXPECT_EQ(Names(folder), (std::set<std::string>{"Profile.ini"}));
}

void MineWith(const fs::path& folder, const Saver& saver, mode_t mode) {
    WriteBytes(folder / "Profile.ini", kOld);
    Own(folder / "Profile.ini", saver.uid, saver.gid, mode);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileFileProtectionTest,
    ::testing::Values(
        Case{"read-only file",
             [](const fs::path& f, const Saver& s) { MineWith(f, s, 0444); }, false,
             [](const fs::path& f, const Saver& s) {
                 Untouched(f, s);
                 EXPECT_EQ(OwnerOf(f / "Profile.ini").mode, 0444u);
             }},
        Case{"read-only folder",
             [](const fs::path& f, const Saver& s) {
                 MineWith(f, s, 0644);
                 chmod(f.c_str(), 0555);
             },
             false, Untouched},
        Case{"writable file keeps its mode",
             [](const fs::path& f, const Saver& s) { MineWith(f, s, 0640); }, true,
             [](const fs::path& f, const Saver& s) {
                 EXPECT_EQ(ReadBytes(f / "Profile.ini"), kNew);
                 const Owner owner = OwnerOf(f / "Profile.ini");
                 EXPECT_EQ(owner.mode, 0640u);
                 EXPECT_EQ(owner.uid, s.uid);
                 EXPECT_EQ(Names(f), (std::set<std::string>{"Profile.ini"}));
             }},
        Case{"symbolic link to an existing file",
             [](const fs::path& f, const Saver& s) {
                 fs::create_directory(f / "real");
                 Own(f / "real", s.uid, s.gid, 0755);
                 MineWith(f / "real", s, 0600);
                 fs::create_symlink("real/Profile.ini", f / "Profile.ini");
             },
             true,
             [](const fs::path& f, const Saver&) {
                 EXPECT_TRUE(fs::is_symlink(fs::symlink_status(f / "Profile.ini")));
                 EXPECT_EQ(ReadBytes(f / "real" / "Profile.ini"), kNew);
                 EXPECT_EQ(OwnerOf(f / "real" / "Profile.ini").mode, 0600u);
                 EXPECT_EQ(Names(f / "real"), (std::set<std::string>{"Profile.ini"}));
             }},
        Case{"symbolic link to a missing file",
             [](const fs::path& f, const Saver& s) {
                 fs::create_directory(f / "real");
                 Own(f / "real", s.uid, s.gid, 0755);
                 fs::create_symlink(f / "real" / "Profile.ini", f / "Profile.ini");
             },
             true,
             [](const fs::path& f, const Saver& s) {
                 EXPECT_TRUE(fs::is_symlink(fs::symlink_status(f / "Profile.ini")));
                 EXPECT_EQ(ReadBytes(f / "real" / "Profile.ini"), "[S]\r\nA=2\r\n");
                 EXPECT_EQ(OwnerOf(f / "real" / "Profile.ini").uid, s.uid);
                 EXPECT_EQ(Names(f / "real"), (std::set<std::string>{"Profile.ini"}));
             }},
        Case{"hard link",
             [](const fs::path& f, const Saver& s) {
                 MineWith(f, s, 0644);
                 fs::create_directory(f / "other");
                 fs::create_hard_link(f / "Profile.ini", f / "other" / "Profile.ini");
             },
             true,
             [](const fs::path& f, const Saver&) {
                 EXPECT_EQ(ReadBytes(f / "Profile.ini"), kNew);
                 EXPECT_EQ(ReadBytes(f / "other" / "Profile.ini"), kNew);
                 EXPECT_EQ(fs::hard_link_count(f / "Profile.ini"), 2u);
                 EXPECT_EQ(Names(f), (std::set<std::string>{"Profile.ini", "other"}));
             }},
        Case{"hard link, the write fails part-way",
             [](const fs::path& f, const Saver& s) {
                 WriteBytes(f / "Profile.ini", kOld + std::string(3000, ';') + "\r\n");
                 Own(f / "Profile.ini", s.uid, s.gid, 0644);
                 fs::create_directory(f / "other");
                 fs::create_hard_link(f / "Profile.ini", f / "other" / "Profile.ini");
             },
             false,
             [](const fs::path& f, const Saver&) {
                 EXPECT_EQ(ReadBytes(f / "other" / "Profile.ini"), kOld + std::string(3000, ';') + "\r\n");
                 EXPECT_EQ(Names(f), (std::set<std::string>{"Profile.ini", "other"}));
             },
             Case::Who::Both, 2048},
        Case{"another user's file, not writable to the saver",
             [](const fs::path& f, const Saver&) {
                 WriteBytes(f / "Profile.ini", kOld);
                 Own(f / "Profile.ini", kStranger, kStranger, 0600);
             },
             false,
             [](const fs::path& f, const Saver& s) {
                 Untouched(f, s);
                 EXPECT_EQ(OwnerOf(f / "Profile.ini").uid, kStranger);
             },
             Case::Who::User},
        Case{"another user's file that root may write",
             [](const fs::path& f, const Saver&) {
                 WriteBytes(f / "Profile.ini", kOld);
                 Own(f / "Profile.ini", kStranger, kStranger, 0604);
             },
             true,
             [](const fs::path& f, const Saver&) {
                 EXPECT_EQ(ReadBytes(f / "Profile.ini"), kNew);
                 const Owner owner = OwnerOf(f / "Profile.ini");
                 EXPECT_EQ(owner.uid, kStranger);
                 EXPECT_EQ(owner.gid, kStranger);
                 EXPECT_EQ(owner.mode, 0604u);
                 EXPECT_EQ(Names(f), (std::set<std::string>{"Profile.ini"}));
             },
             Case::Who::Root},
        Case{"another user's file, writable to everyone",
             [](const fs::path& f, const Saver&) {
                 WriteBytes(f / "Profile.ini", kOld);
                 Own(f / "Profile.ini", kStranger, kStranger, 0666);
             },
             true,
             [](const fs::path& f, const Saver&) {
                 EXPECT_EQ(ReadBytes(f / "Profile.ini"), kNew);
                 const Owner owner = OwnerOf(f / "Profile.ini");
                 EXPECT_EQ(owner.uid, kStranger);
                 EXPECT_EQ(owner.gid, kStranger);
                 EXPECT_EQ(owner.mode, 0666u);
                 EXPECT_EQ(Names(f), (std::set<std::string>{"Profile.ini"}));
             }},
        Case{"full: the write stops part-way",
             [](const fs::path& f, const Saver& s) {
                 WriteBytes(f / "Profile.ini", kOld + std::string(3000, ';') + "\r\n");
                 Own(f / "Profile.ini", s.uid, s.gid, 0644);
             },
             false,
             [](const fs::path& f, const Saver&) {
                 EXPECT_EQ(ReadBytes(f / "Profile.ini"), kOld + std::string(3000, ';') + "\r\n");
                 EXPECT_EQ(Names(f), (std::set<std::string>{"Profile.ini"}));
             },
             Case::Who::Both, 2048},
        Case{"temporary files a killed save left",
             [](const fs::path& f, const Saver& s) {
                 MineWith(f, s, 0644);
                 for (const char* name : {"Profile.ini.0123abcd.tmp", "Profile.ini.backup.tmp", "Profile.ini.0123abcd.tmp.keep"}) {
                     WriteBytes(f / name, "x");
                     Own(f / name, s.uid, s.gid, 0600);
                 }
                 WriteBytes(f / "Profile.ini.fedcba98.tmp", "someone else's");
                 Own(f / "Profile.ini.fedcba98.tmp", kStranger, kStranger, 0600);
             },
             true,
             [](const fs::path& f, const Saver&) {
                 EXPECT_EQ(ReadBytes(f / "Profile.ini"), kNew);
                 EXPECT_EQ(Names(f), (std::set<std::string>{"Profile.ini", "Profile.ini.backup.tmp",
                                                             "Profile.ini.0123abcd.tmp.keep", "Profile.ini.fedcba98.tmp"}));
             },
             Case::Who::Root}),
    [](const ::testing::TestParamInfo<Case>& param) {
        std::string name;
        for (const char* c = param.param.what; *c != '\0'; ++c) {
            if (std::isalnum(static_cast<unsigned char>(*c))) name.push_back(*c);
        }
        return name;
    });

// A save in place that was cut short leaves its journal: the complete new contents beside a file
// that may be half written. Reads believe the journal; the next save finishes the job.
TEST_F(ProfileDirFixture, CutSaveInPlaceIsFinishedFromItsJournal) {
    const fs::path file = dir / "Profile.ini";
    fs::create_directory(dir / "other");
    WriteBytes(file, "[Other]\r\nX=1\r\n[S]\r\nA=2\r\n[La");  // torn
    fs::create_hard_link(file, dir / "other" / "Profile.ini");
    WriteBytes(dir / "Profile.ini.saving", kNew);

    profile::PrivateProfileFile files;
    EXPECT_EQ(files.ReadSection(L"Last", Wide(file.string())), std::wstring(L"Y=2") + L'\0');
    ASSERT_TRUE(files.WriteSection(L"S", std::wstring(L"A=3\r\n") + L'\0', Wide(file.string())));
    const std::string expected = "[Other]\r\nX=1\r\n[S]\r\nA=3\r\n[Last]\r\nY=2\r\n";
    EXPECT_EQ(ReadBytes(file), expected);
    EXPECT_EQ(ReadBytes(dir / "other" / "Profile.ini"), expected);
    EXPECT_EQ(Names(dir), (std::set<std::string>{"Profile.ini", "other"}));
}

// With one name only the same: the journal stays the newest contents until the file has them.
TEST_F(ProfileDirFixture, JournalOfASingleLinkedFileIsFinishedToo) {
    const fs::path file = dir / "Profile.ini";
    WriteBytes(file, "[Other]\r\nX=1\r\n[S]\r\nA=");  // torn
    WriteBytes(dir / "Profile.ini.saving", kNew);
    profile::PrivateProfileFile files;
    EXPECT_EQ(files.ReadSection(L"S", Wide(file.string())), std::wstring(L"A=2") + L'\0');
    ASSERT_TRUE(files.WriteSection(L"Last", std::wstring(L"Y=3\r\n") + L'\0', Wide(file.string())));
    EXPECT_EQ(ReadBytes(file), "[Other]\r\nX=1\r\n[S]\r\nA=2\r\n[Last]\r\nY=3\r\n");
    EXPECT_EQ(Names(dir), (std::set<std::string>{"Profile.ini"}));
}

// A journal whose file is gone is dropped by the save that makes the file anew.
TEST_F(ProfileDirFixture, JournalWithoutItsFileIsDropped) {
    const fs::path file = dir / "Profile.ini";
    WriteBytes(dir / "Profile.ini.saving", kNew);
    profile::PrivateProfileFile files;
    ASSERT_TRUE(files.WriteSection(L"S", std::wstring(L"A=5\r\n") + L'\0', Wide(file.string())));
    EXPECT_EQ(files.ReadSection(L"S", Wide(file.string())), std::wstring(L"A=5") + L'\0');
    EXPECT_EQ(Names(dir), (std::set<std::string>{"Profile.ini"}));
}

// A journal some other user put there is not believed.
TEST_F(ProfileDirFixture, StrangersJournalIsIgnored) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make another user's file";
    const fs::path file = dir / "Profile.ini";
    WriteBytes(file, kOld);
    WriteBytes(dir / "Profile.ini.saving", "[S]\r\nA=666\r\n");
    Own(dir / "Profile.ini.saving", kStranger, kStranger, 0644);
    profile::PrivateProfileFile files;
    EXPECT_EQ(files.ReadSection(L"S", Wide(file.string())), std::wstring(L"A=1") + L'\0');
}

}  // namespace
