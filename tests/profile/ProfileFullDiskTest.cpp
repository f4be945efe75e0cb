// A save in place on a nearly full disk: a 64 KB tmpfs mounted in a mount namespace of a child
// process, so nothing outside the child sees it. A save that does not fit must fail before a byte
// of Profile.ini changes and leave no journal or temporary file; one that fits still goes in place.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "ProfileDirFixture.h"
#include "profile/PrivateProfileFile.h"

namespace {

// 64 bytes, with a section after the one being saved.
const std::string kOld = "[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=100\r\n[After]\r\nFAN=1\r\nLED=2\r\nOC=3\r\n";
constexpr uid_t kOwner = 65534;  // owns the file in the other user's case
constexpr uid_t kSaver = 65533;  // saves it there

// 400 keys, about 4.8 KB: more than the room left once the fresh file has taken its share.
std::string Body() {
    std::string body;
    for (int i = 0; i < 400; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "K%03d=%05d\r\n", i, i * 7);
        body += line;
    }
    return body;
}

struct Case {
    const char* what;
    bool otherUser;         // another user's writable file; else a file with a second hard link
    unsigned long freeKiB;  // room left once Profile.ini is there
    bool saved;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.what; }

// What the child tells the parent: its exit code, and a line of text through a pipe.
enum Outcome { kPassed = 0, kFailed = 1, kSkipped = 2 };

[[noreturn]] void Report(int channel, Outcome outcome, const std::string& text) {
    if (!text.empty() && write(channel, text.data(), text.size()) < 0) outcome = kFailed;
    _exit(outcome);
}

std::string Reason(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool Put(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return out.good();
}

bool WriteProcFile(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return close(fd) == 0 && written;
}

// A mount namespace of the child's own: root's, or one inside a new user namespace.
bool EnterMountNamespace(std::string& reason) {
    if (geteuid() == 0) {
        if (unshare(CLONE_NEWNS) == 0) return true;
        reason = Reason("unshare(CLONE_NEWNS)");
        return false;
    }
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        reason = Reason("not root, and no user namespace");
        return false;
    }
    if (!WriteProcFile("/proc/self/setgroups", "deny") ||
        !WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
        reason = Reason("mapping the user namespace");
        return false;
    }
    return true;
}

unsigned long long FreeBytes(const fs::path& folder) {
    struct statvfs status {};
    if (statvfs(folder.c_str(), &status) != 0) return 0;
    return static_cast<unsigned long long>(status.f_bavail) * status.f_frsize;
}

// The whole case, in the child. Never returns.
[[noreturn]] void RunInChild(const Case& c, const fs::path& folder, int channel) {
    std::string reason;
    if (!EnterMountNamespace(reason)) Report(channel, kSkipped, reason);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        Report(channel, kSkipped, Reason("making the mounts private"));
    }
    if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k,mode=0777") != 0) {
        Report(channel, kSkipped, Reason("mounting a tmpfs"));
    }

    const fs::path file = folder / "Profile.ini";
    const fs::path backup = folder / "backup.ini";
    if (!Put(file, kOld)) Report(channel, kFailed, "cannot write Profile.ini");
    std::set<std::string> names{"Profile.ini", "fill"};
    if (c.otherUser) {
        if (chown(file.c_str(), kOwner, kOwner) != 0 || chmod(file.c_str(), 0666) != 0) {
            Report(channel, kFailed, Reason("giving Profile.ini to another user"));
        }
    } else {
        if (link(file.c_str(), backup.c_str()) != 0) Report(channel, kFailed, Reason("linking backup.ini"));
        names.insert("backup.ini");
    }
    const unsigned long long room = c.freeKiB * 1024;
    const unsigned long long available = FreeBytes(folder);
    if (available < room || !Put(folder / "fill", std::string(available - room, 'x')) || FreeBytes(folder) != room) {
        Report(channel, kFailed,
               "cannot leave " + std::to_string(room) + " bytes free of " + std::to_string(available));
    }
    if (c.otherUser && (setgroups(0, nullptr) != 0 || setgid(kSaver) != 0 || setuid(kSaver) != 0)) {
        Report(channel, kFailed, Reason("becoming another user"));
    }

    const std::string body = Body();
    profile::PrivateProfileFile files;
    const bool saved = files.WriteSection(L"RTX3080TiZYL", std::wstring(body.begin(), body.end()) + L'\0',
                                          Wide(file.string()));

    std::string failures;
    if (saved != c.saved) failures += saved ? "the save succeeded; " : "the save failed; ";
    const std::string expected = c.saved ? "[RTX3080TiZYL]\r\n" + body + kOld.substr(kOld.find("[After]")) : kOld;
    const std::string now = ReadBytes(file);
    if (now != expected) {
        failures += "Profile.ini is " + std::to_string(now.size()) + " bytes, not " +
                    std::to_string(expected.size()) + " as expected; ";
    }
    if (!c.otherUser && ReadBytes(backup) != expected) failures += "backup.ini differs from what was expected; ";
    struct stat status {};
    if (stat(file.c_str(), &status) != 0 || status.st_uid != (c.otherUser ? kOwner : 0) ||
        status.st_nlink != (c.otherUser ? 1u : 2u)) {
        failures += "Profile.ini is no longer the same file; ";
    }
    const std::set<std::string> left = Names(folder);
    if (left != names) {
        failures += "the folder holds";
        for (const std::string& name : left) failures += " " + name;
        failures += "; ";
    }
    Report(channel, failures.empty() ? kPassed : kFailed, failures);
}

class ProfileFullDiskTest : public ProfileDirFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(ProfileFullDiskTest, SaveInPlaceFailsBeforeTheFileChanges) {
    const Case& c = GetParam();
    if (c.otherUser && geteuid() != 0) GTEST_SKIP() << "needs root to act as two other users";
    const fs::path folder = dir / "small";
    fs::create_directory(folder);
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);  // the other user passes through

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        RunInChild(c, folder, fds[1]);
    }
    close(fds[1]);
    std::string text;
    char chunk[512];
    for (ssize_t got; (got = read(fds[0], chunk, sizeof chunk)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        text.append(chunk, static_cast<std::size_t>(got));
    }
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died: " << text;
    if (WEXITSTATUS(status) == kSkipped) GTEST_SKIP() << text;
    EXPECT_EQ(WEXITSTATUS(status), kPassed) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileFullDiskTest,
    ::testing::Values(Case{"hard link, too little room", false, 8, false},
                      Case{"another user's writable file, too little room", true, 8, false},
                      Case{"hard link, room enough", false, 16, true},
                      Case{"another user's writable file, room enough", true, 16, true}),
    [](const ::testing::TestParamInfo<Case>& param) {
        std::string name;
        for (const char* c = param.param.what; *c != '\0'; ++c) {
            if (std::isalnum(static_cast<unsigned char>(*c))) name.push_back(*c);
        }
        return name;
    });

}  // namespace
