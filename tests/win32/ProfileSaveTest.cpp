// How the Windows program saves Profile.ini, under Wine: the file the save leaves holds exactly
// the bytes Windows' own function would write, a kill at any moment leaves the old file or the new
// one, the data is flushed before the new file takes the old one's place, a read right after a
// save sees it, and the journal of a save in place that was cut short is finished or ignored.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "WineTest.h"
#include "profile/PrivateProfileFile.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

std::string Bytes(const fs::path& path) {
    std::ostringstream raw;
    raw << std::ifstream(path, std::ios::binary).rdbuf();
    return raw.str();
}

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The section as the Linux build's reader sees the file.
std::wstring Section(const fs::path& file, const std::wstring& section) {
    profile::PrivateProfileFile reader;
    const std::wstring path = file.wstring();
    return reader.ReadSection(section, path);
}

std::wstring Keys(int keys, const std::string& value) {
    std::wstring lines;
    for (int i = 0; i < keys; ++i) {
        lines += L"KEY" + std::to_wstring(i) + L"=" + std::wstring(value.begin(), value.end());
        lines.push_back(L'\0');
    }
    return lines;
}

std::set<std::string> Temporaries(const fs::path& folder) {
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("Profile.ini.", 0) == 0 && name != "Profile.ini.saving") found.insert(name);
    }
    return found;
}

constexpr uid_t kStranger = 4321;  // a user who is neither the tests' nor Wine's

// What a journal beside Profile.ini is, and whether reads and saves go by it.
struct JournalCase {
    const char* what;
    void (*plant)(const fs::path& file, const fs::path& journal, const std::string& text);
    bool believed;
};

const std::string kFileText = "[RTX3080TiZYL]\r\nKEY0=1\r\n";
const std::string kJournalText = "[RTX3080TiZYL]\r\nKEY0=666\r\n[Planted]\r\nP=1\r\n";

// Ways a journal comes to lie beside Profile.ini.
void PlantFile(const fs::path&, const fs::path& journal, const std::string& text) { Write(journal, text); }

void PlantFolder(const fs::path&, const fs::path& journal, const std::string&) { fs::create_directory(journal); }

void PlantSecondName(const fs::path& file, const fs::path& journal, const std::string& text) {
    const fs::path elsewhere = file.parent_path() / "elsewhere.ini";
    Write(elsewhere, text);
    fs::create_hard_link(elsewhere, journal);
}

void PlantStrangers(const fs::path&, const fs::path& journal, const std::string& text) {
    Write(journal, text);
    ASSERT_EQ(chown(journal.c_str(), kStranger, kStranger), 0);
}

// The journal of another user's Profile.ini, made by that user's own save.
void PlantFileOwners(const fs::path& file, const fs::path& journal, const std::string& text) {
    Write(journal, text);
    ASSERT_EQ(chown(file.c_str(), kStranger, kStranger), 0);
    ASSERT_EQ(chown(journal.c_str(), kStranger, kStranger), 0);
}

class Win32ProfileSave : public wine::WineTest {
protected:
    std::string Saver() const { return BuildFolder() + "/test-saver/profile_saver.exe"; }
    wine::DriverRun Save(const std::string& how, const fs::path& file, const std::string& section, int keys,
                         const std::string& value) {
        return RunHelper(Saver(), {how, WindowsPath(file.string()), section, std::to_string(keys), value});
    }
    fs::path Here(const std::string& name) const { return fs::path(Folder()) / name; }
    // The section as the program reads it, one line each.
    Strings Read(const fs::path& file, const std::string& section) {
        const wine::DriverRun run = RunHelper(Saver(), {"read", WindowsPath(file.string()), section});
        EXPECT_TRUE(run.ok()) << run.Transcript();
        return run.lines;
    }
    // A folder of its own for one case of a table.
    fs::path CaseFolder(int n) const {
        const fs::path folder = Here("case" + std::to_string(n));
        fs::create_directories(folder);
        return folder;
    }

    // Reads go by a believed journal and the next save starts from it; a journal not believed is
    // neither read nor saved from, and the file saved past it is what the next read sees.
    void CheckJournals(const std::vector<JournalCase>& cases) {
        int n = 0;
        for (const JournalCase& c : cases) {
            SCOPED_TRACE(c.what);
            const fs::path folder = CaseFolder(n++);
            const fs::path file = folder / "Profile.ini", journal = folder / "Profile.ini.saving";
            Write(file, kFileText);
            c.plant(file, journal, kJournalText);
            if (HasFatalFailure()) return;
            EXPECT_EQ(Read(file, "RTX3080TiZYL"), Strings{c.believed ? "KEY0=666" : "KEY0=1"});

            ASSERT_TRUE(Save("ours", file, "RTX3080TiZYL", 1, "7").ok());
            EXPECT_EQ(Read(file, "RTX3080TiZYL"), Strings{"KEY0=7"});
            EXPECT_EQ(Bytes(file).find("[Planted]") != std::string::npos, c.believed)
                << (c.believed ? "the save started from the file, not the journal" : "the save went by the journal");
            if (c.believed) {
                EXPECT_FALSE(fs::exists(journal)) << "the journal outlived the save that finished it";
            }
        }
    }
};


TEST_F(Win32ProfileSave, TheSavedFileHoldsTheBytesWindowsOwnFunctionWrites) {
    const std::string cases[] = {
        "",
        "[Other]\r\nX=1\r\n",
        "[Other]\r\nX=1\r\n[RTX3080TiZYL]\r\nAUTO=1\r\nOLD=2\r\n[Last]\r\nY=2\r\n",
        "; a comment\r\n[rtx3080tizyl]\r\n  AUTO = 1 \r\n\r\n[Last]\r\n  Y = 2\r\nno equals sign\r\n",
        "[Other]\nX=1\n[RTX3080TiZYL]\nAUTO=1",
        "\xEF\xBB\xBF[Other]\r\nX=\xC3\xA9\r\n",
        std::string("\xFF\xFE[\0O\0]\0\r\0\n\0X\0=\0""1\0\r\0\n\0", 24),
    };
    int n = 0;
    for (const std::string& original : cases) {
        SCOPED_TRACE("case " + std::to_string(n++));
        const fs::path ours = Here("ours.ini"), windows = Here("windows.ini");
        Write(ours, original);
        Write(windows, original);
        ASSERT_TRUE(Save("ours", ours, "RTX3080TiZYL", 3, "7").ok());
        ASSERT_TRUE(Save("windows", windows, "RTX3080TiZYL", 3, "7").ok());
        EXPECT_EQ(Bytes(ours), Bytes(windows));
        EXPECT_TRUE(Temporaries(Folder()).empty());
        fs::remove(ours);
        fs::remove(windows);
    }
}

TEST_F(Win32ProfileSave, ReadsRightAfterTheSaveSeeIt) {
    const fs::path file = Here("Profile.ini");
    Write(file, "[Other]\r\nX=1\r\n[RTX3080TiZYL]\r\nKEY0=1\r\n");
    // The platform caches the file it read last; the save must not leave it reading the old one.
    const wine::DriverRun first = Save("save-read", file, "RTX3080TiZYL", 2, "3");
    ASSERT_TRUE(first.ok()) << first.Transcript();
    EXPECT_EQ(first.lines, (Strings{"KEY0=3", "KEY1=3"}));
    const wine::DriverRun second = Save("save-read", file, "RTX3080TiZYL", 2, "4");
    EXPECT_EQ(second.lines, (Strings{"KEY0=4", "KEY1=4"}));
    EXPECT_EQ(Section(file, L"Other"), std::wstring(L"X=1") + L'\0');
}

TEST_F(Win32ProfileSave, OnlyOurOwnStaleTemporariesAreRemoved) {
    const fs::path file = Here("Profile.ini");
    Write(file, "[Other]\r\nX=1\r\n");
    Write(Here("Profile.ini.0badf00d.tmp"), "left by a killed save");
    Write(Here("Profile.ini.not-ours.tmp"), "somebody else's");
    ASSERT_TRUE(Save("ours", file, "RTX3080TiZYL", 1, "5").ok());
    EXPECT_EQ(Temporaries(Folder()), std::set<std::string>{"Profile.ini.not-ours.tmp"});
}

TEST_F(Win32ProfileSave, TheDataIsFlushedBeforeTheNewFileTakesTheOldOnesPlace) {
    const fs::path file = Here("Profile.ini");
    Write(file, "[Other]\r\nX=1\r\n");
    SetWineDebug("+relay");
    const wine::DriverRun run = Save("ours", file, "RTX3080TiZYL", 1, "5");
    SetWineDebug("-all");
    ASSERT_TRUE(run.ok());
    // The calls the program made into kernel32, in order.
    std::vector<std::string> calls;
    std::istringstream relay(run.errors);
    for (std::string line; std::getline(relay, line);) {
        const std::size_t at = line.find("Call KERNEL32.");
        if (at == std::string::npos) continue;
        const std::string call = line.substr(at + 14, line.find('(', at) - at - 14);
        if (call == "FlushFileBuffers" || call == "MoveFileExW" || call == "WritePrivateProfileSectionW")
            calls.push_back(call + (call == "MoveFileExW" ? line.substr(line.rfind(',') + 1, 8) : ""));
    }
    // MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH is 9.
    EXPECT_EQ(calls, (Strings{"WritePrivateProfileSectionW", "FlushFileBuffers", "MoveFileExW00000009"}))
        << run.errors.substr(0, 2000);
}

// A save in place that was cut short left Profile.ini torn inside the profile's section and the
// whole file in its journal. The next save starts from the journal, so no section after the cut
// is lost, and leaves no journal to outrank the file it wrote.
TEST_F(Win32ProfileSave, ASaveAfterACutSaveInPlaceStartsFromItsJournal) {
    const std::string whole = "[Before]\r\nB=1\r\n[RTX3080TiZYL]\r\nKEY0=1\r\nKEY1=1\r\n[After]\r\nA=2\r\n";
    const std::string torn = "[Before]\r\nB=1\r\n[RTX3080TiZYL]\r\nKEY0=1\r\nKE";
    struct Case {
        const char* what;
        bool file;       // Profile.ini is there, torn
        bool otherName;  // and has a second name, so it is saved in place
    };
    const Case cases[] = {
        {"a hard-linked file", true, true},
        {"a file of one name", true, false},
        {"a journal without its file", false, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path folder = CaseFolder(n++);
        const fs::path file = folder / "Profile.ini", other = folder / "other" / "Profile.ini";
        const fs::path journal = folder / "Profile.ini.saving", expected = folder / "expected.ini";
        if (c.file) Write(file, torn);
        if (c.otherName) {
            fs::create_directory(other.parent_path());
            fs::create_hard_link(file, other);
        }
        Write(journal, whole);
        // What Windows' own function makes of the file the journal holds; of no file at all when
        // the journal speaks for nothing.
        if (c.file) Write(expected, whole);
        ASSERT_TRUE(Save("windows", expected, "RTX3080TiZYL", 2, "7").ok());

        ASSERT_TRUE(Save("ours", file, "RTX3080TiZYL", 2, "7").ok());
        EXPECT_EQ(Bytes(file), Bytes(expected));
        if (c.otherName) {
            EXPECT_EQ(Bytes(other), Bytes(expected)) << "the file's other name";
        }
        EXPECT_FALSE(fs::exists(journal)) << "the journal outlived the save that finished it";
        EXPECT_TRUE(Temporaries(folder).empty());
        EXPECT_EQ(Read(file, "RTX3080TiZYL"), (Strings{"KEY0=7", "KEY1=7"}));
        if (c.file) {
            EXPECT_EQ(Read(file, "After"), Strings{"A=2"});
        }
    }
}

TEST_F(Win32ProfileSave, AJournalIsBelievedOnlyWhenItIsAFileOfOneName) {
    CheckJournals({{"the saving user's own", PlantFile, true},
                   {"a folder", PlantFolder, false},
                   {"a second name of another file", PlantSecondName, false}});
}

// Wine shows a file of another Unix user as owned by the anonymous logon, one owner for every
// other user; it tells the saving user from the others, not the others apart.
TEST_F(Win32ProfileSave, AJournalIsBelievedOnlyWhenItIsTheSavingUsersOrTheFileOwners) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
    CheckJournals({{"another user's", PlantStrangers, false}, {"the file owner's, another user", PlantFileOwners, true}});
}

// A link to a read-only Profile.ini: the file is refused, as a read-only Profile.ini is, before
// any copy is made; a copy would inherit the attribute and then could not be deleted.
TEST_F(Win32ProfileSave, AReadOnlyFileBehindALinkIsRefusedAndLeavesNoCopy) {
    const fs::path real = Here("real") / "Profile.ini", link = Here("Profile.ini");
    fs::create_directory(real.parent_path());
    Write(real, kFileText);
    fs::permissions(real, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::create_symlink("real/Profile.ini", link);
    EXPECT_FALSE(Save("ours", link, "RTX3080TiZYL", 1, "7").ok());
    EXPECT_EQ(Bytes(real), kFileText);
    EXPECT_TRUE(Temporaries(real.parent_path()).empty());
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
}

// Copies such saves left behind, read-only from their file, are removed by the next save all the same.
TEST_F(Win32ProfileSave, ReadOnlyTemporariesEarlierSavesLeftAreRemovedToo) {
    const fs::path file = Here("Profile.ini");
    Write(file, kFileText);
    for (const char* name : {"Profile.ini.0badf00d.tmp", "Profile.ini.1234abcd.tmp"}) {
        Write(Here(name), kFileText);
        fs::permissions(Here(name), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    ASSERT_TRUE(Save("ours", file, "RTX3080TiZYL", 1, "7").ok());
    EXPECT_TRUE(Temporaries(Folder()).empty());
}

// A save loop killed at random moments: after each kill the file reads as the old or the new
// profile with every other section intact, and the temporary files a kill leaves are gone once
// the next save has been made. HALVORN_WINE_PROFILE_KILLS sets how many kills (100).
TEST_F(Win32ProfileSave, AKillAtAnyMomentLeavesTheOldOrTheNewFile) {
    int kills = 100;
    if (const char* text = std::getenv("HALVORN_WINE_PROFILE_KILLS")) kills = std::atoi(text);
    ASSERT_GT(kills, 0);
    constexpr int kKeys = 40;
    const fs::path file = Here("Profile.ini");
    // About 240 KB of other settings, so that every save takes a while.
    std::string before = "[Before]\r\n", after = "[After]\r\n";
    for (int i = 0; i < 4000; ++i) {
        before += "PAD" + std::to_string(i) + "=" + std::to_string(i * 7) + "\r\n";
        after += "PAD" + std::to_string(i) + "=" + std::to_string(i * 11) + "\r\n";
    }
    std::string profile = "[RTX3080TiZYL]\r\n";
    for (int i = 0; i < kKeys; ++i) profile += "KEY" + std::to_string(i) + "=1111\r\n";
    Write(file, before + profile + after);
    const std::wstring expectedBefore = Section(file, L"Before"), expectedAfter = Section(file, L"After");
    const std::wstring first = Keys(kKeys, "1111"), second = Keys(kKeys, "2222");

    std::mt19937 random(20261211);
    std::set<std::string> leftByTheLastKill;
    int savesSeen = 0;
    for (int kill = 0; kill < kills; ++kill) {
        const pid_t saver = StartProgramFrom(Saver(), {"loop", WindowsPath(file.string()), "RTX3080TiZYL",
                                                       std::to_string(kKeys)});
        ASSERT_GT(saver, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(150 + random() % 450));
        ::kill(saver, SIGKILL);
        ASSERT_TRUE(WaitForExit(saver, 10000));

        SCOPED_TRACE("kill " + std::to_string(kill));
        const std::wstring now = Section(file, L"RTX3080TiZYL");
        EXPECT_TRUE(now == first || now == second) << "a torn profile section";
        EXPECT_EQ(Section(file, L"Before"), expectedBefore);
        EXPECT_EQ(Section(file, L"After"), expectedAfter);
        // The program's output: one "saved" per save made.
        const std::string out = Bytes(Folder() + "/program-" + std::to_string(kill + 1) + ".out");
        int saves = 0;
        for (std::size_t at = out.find("saved"); at != std::string::npos; at = out.find("saved", at + 1)) ++saves;
        savesSeen += saves;
        if (saves > 0) {
            for (const std::string& name : leftByTheLastKill)
                EXPECT_FALSE(fs::exists(Here(name))) << name << " outlived the next save";
        }
        leftByTheLastKill = Temporaries(Folder());
        if (HasFailure()) return;
    }
    EXPECT_GT(savesSeen, 0) << "no save ever finished before a kill";
    ASSERT_TRUE(Save("ours", file, "RTX3080TiZYL", kKeys, "1111").ok());
    EXPECT_TRUE(Temporaries(Folder()).empty());
}

}  // namespace
