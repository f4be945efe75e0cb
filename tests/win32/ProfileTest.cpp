// Profile.ini between the Windows program (Windows' own private-profile functions, under Wine)
// and the Linux build (the profile store over the portable file realization): each reads what
// the other wrote.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "WineTest.h"
#include "profile/PrivateProfile.h"
#include "profile/PrivateProfileFile.h"
#include "profile/ProfileStore.h"

namespace {

namespace fs = std::filesystem;
using wine::DriverRun;
using Strings = std::vector<std::string>;

constexpr int kMcuGpu = 0;
constexpr int kDirectGpu = 1;
constexpr int kRtx2080Gpu = 2;
const std::wstring kSection = L"RTX3080TiZYL";

// The Linux build's store, made in `folder` as the program makes it in its current directory.
class LinuxStore {
public:
    explicit LinuxStore(const std::string& folder) : previous_(fs::current_path()) {
        fs::current_path(folder);
        store_ = &profiles_.Get();
    }
    ~LinuxStore() {
        profiles_.Close();
        fs::current_path(previous_);
    }
    LinuxStore(const LinuxStore&) = delete;
    LinuxStore& operator=(const LinuxStore&) = delete;
    ProfileStore* operator->() const { return store_; }

private:
    fs::path previous_;
    profile::PrivateProfileFile files_;
    LazyProfileStore profiles_{files_};
    ProfileStore* store_ = nullptr;
};

class Win32Profile : public wine::WineTest {
protected:
    DriverRun Act(const Strings& commands) {
        Strings all = {"use-main"};
        all.insert(all.end(), commands.begin(), commands.end());
        DriverRun run = Drive(all);
        EXPECT_TRUE(run.ok()) << run.Transcript();
        return run;
    }
};

TEST_F(Win32Profile, SaveWritesTheBoardsSettingsForTheLinuxBuildToRead) {
    const pid_t program = StartProgram();
    DriverRun run = Drive({"wait-main", "20000", "select", "1012", "1"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    // NVVDD fixed at 1.2 V and FBVDD at 1.55 V on the board; Sync checked; then moved sliders
    // that are not applied, which Save must not take.
    Act({"click", "1017", "slide", "1000", "64", "slide", "1002", "56", "click", "1013", "click", "1021", "slide",
         "1004", "100", "click", "1057"});
    CloseProgram(program);

    ProfileSection section;
    {
        LinuxStore store(Folder());
        ASSERT_TRUE(store->ReadSection(kSection, section));
    }
    const ProfileSection expected = {{L"AUTO", 0},  {L"NVVDD", 192}, {L"FBVDD", 248}, {L"MSVDD", 175},
                                     {L"NVPWM", 4}, {L"MSPWM", 4},   {L"NVLL", 1},    {L"MSLL", 1},
                                     {L"NVOCP", 1}, {L"MSOCP", 1},   {L"SYNC", 1}};
    EXPECT_EQ(section, expected);

    // Windows wrote the lines as given, in the controller's key order, with CR LF.
    std::ostringstream raw;
    raw << std::ifstream(Folder() + "/Profile.ini", std::ios::binary).rdbuf();
    EXPECT_NE(raw.str().find("[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=192\r\nFBVDD=248\r\nMSVDD=175\r\nNVPWM=4\r\n"
                             "MSPWM=4\r\nNVLL=1\r\nMSLL=1\r\nNVOCP=1\r\nMSOCP=1\r\nSYNC=1\r\n"),
              std::string::npos)
        << raw.str();
}

TEST_F(Win32Profile, ProfileWrittenByTheLinuxBuildLoadsAndAppliesWithSync) {
    const pid_t program = StartProgram();
    DriverRun run = Drive({"wait-main", "20000", "select", "1012", "1"});
    ASSERT_TRUE(run.ok()) << run.Transcript();

    // No Profile.ini yet: Load finds nothing and nothing is applied.
    MarkLog();
    Act({"click", "1056"});
    EXPECT_TRUE(TransfersSinceMark().empty());

    {
        LinuxStore store(Folder());
        ASSERT_TRUE(store->WriteSection(
            kSection, L"AUTO=0\r\nNVVDD=200\r\nFBVDD=230\r\nMSVDD=190\r\nNVPWM=5\r\nMSPWM=6\r\nNVLL=3\r\nMSLL=4\r\n"
                      L"NVOCP=0\r\nMSOCP=1\r\nSYNC=1\r\n"));
    }
    MarkLog();
    run = Act({"click", "1056", "check", "1021"});
    const std::vector<wine::Transfer> applied = TransfersSinceMark();
    // Apply's order: OCPs, NVVDD, FBVDD, MSVDD, frequencies, loadlines; MS OCP already matches.
    EXPECT_EQ(Writes(applied, kMcuGpu), (Strings{"p1 5A:12 [01 00] ok", "p1 5A:10 [03 01 C8 00] ok",
                                                 "p1 5A:18 [03 01 E6 00] ok", "p1 5A:14 [03 01 BE 00] ok",
                                                 "p1 5A:13 [01 05] ok", "p1 5A:17 [01 06] ok", "p1 5A:11 [01 03] ok",
                                                 "p1 5A:15 [01 04] ok"}));
    EXPECT_FALSE(Writes(applied, kDirectGpu).empty()) << "SYNC=1 took the profile to the other RTX 3080 Ti";
    EXPECT_EQ(Writes(applied, kRtx2080Gpu), Strings{});
    EXPECT_EQ(run.Answer("check 1021"), "1");

    run = Act({"select", "1012", "1", "text", "1001", "text", "1003", "text", "1005", "text", "1019", "text", "1007",
               "sel", "1049", "sel", "1054", "sel", "1050", "sel", "1055", "check", "1017"});
    EXPECT_EQ(run.Answer("text 1001"), "1.25000 V");
    EXPECT_EQ(run.Answer("text 1003"), "1.43750 V");
    EXPECT_EQ(run.Answer("text 1005"), "1.18750 V");
    EXPECT_EQ(run.Answer("text 1019"), "500 kHz");
    EXPECT_EQ(run.Answer("text 1007"), "600 kHz");
    EXPECT_EQ(run.Answer("sel 1049"), "3");
    EXPECT_EQ(run.Answer("sel 1054"), "4");
    EXPECT_EQ(run.Answer("sel 1050"), "0");
    EXPECT_EQ(run.Answer("sel 1055"), "1");
    EXPECT_EQ(run.Answer("check 1017"), "0");
    CloseProgram(program);
}

// Wine keeps the parsed file in memory and answers a later read from it; a body handed over as
// one string with line breaks inside came back as one line there, and the Load found AUTO only.
TEST_F(Win32Profile, SaveThenLoadInOneRunGivesTheSavedPanelBack) {
    const pid_t program = StartProgram();
    DriverRun run = Drive({"wait-main", "20000", "select", "1012", "1"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    // NVVDD fixed at 1.3 V and FBVDD at 1.55 V, neither a default; then Save.
    Act({"click", "1017", "slide", "1000", "80", "slide", "1002", "56", "click", "1013", "click", "1057"});

    std::ostringstream raw;
    raw << std::ifstream(Folder() + "/Profile.ini", std::ios::binary).rdbuf();
    EXPECT_EQ(raw.str(), "[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=208\r\nFBVDD=248\r\nMSVDD=175\r\nNVPWM=4\r\n"
                         "MSPWM=4\r\nNVLL=1\r\nMSLL=1\r\nNVOCP=1\r\nMSOCP=1\r\nSYNC=0\r\n");

    // Some seconds on, as a user would come back to it; then the panel moves away and Load.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    run = Act({"slide", "1000", "10", "slide", "1002", "5", "click", "1056", "text", "1001", "text", "1003", "check",
               "1017"});
    EXPECT_EQ(run.Answer("text 1001"), "1.30000 V");
    EXPECT_EQ(run.Answer("text 1003"), "1.55000 V");
    EXPECT_EQ(run.Answer("check 1017"), "0");
    CloseProgram(program);
}

// What the Windows profile functions do with a protected or linked Profile.ini, seen through the
// file the program leaves after Save. A pause before each case, so that the platform's cached copy
// of the file is not what it goes by.
TEST_F(Win32Profile, SaveLeavesAReadOnlyFileAloneAndWritesThroughLinks) {
    const fs::path file = fs::path(Folder()) / "Profile.ini";
    const std::string old = "[Other]\r\nX=1\r\n[RTX3080TiZYL]\r\nAUTO=1\r\n";
    auto bytes = [](const fs::path& path) {
        std::ostringstream raw;
        raw << std::ifstream(path, std::ios::binary).rdbuf();
        return raw.str();
    };
    auto write = [](const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    };
    const std::string saved = "NVVDD=175\r\nFBVDD=220\r\n";  // the board's values, as Save writes them
    write(file, old);
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    const pid_t program = StartProgram();
    DriverRun run = Drive({"wait-main", "20000", "select", "1012", "1"});
    ASSERT_TRUE(run.ok()) << run.Transcript();

    Act({"click", "1057"});
    EXPECT_EQ(bytes(file), old) << "a read-only Profile.ini is left as it was";

    fs::remove(file);
    fs::create_directory(fs::path(Folder()) / "real");
    fs::create_symlink("real/Profile.ini", file);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    Act({"click", "1057"});
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(file)));
    EXPECT_NE(bytes(fs::path(Folder()) / "real" / "Profile.ini").find(saved), std::string::npos)
        << "a link to a missing file is written through";

    fs::remove(file);
    write(file, old);
    fs::create_hard_link(file, fs::path(Folder()) / "real" / "Hard.ini");
    std::this_thread::sleep_for(std::chrono::seconds(3));
    Act({"click", "1057"});
    EXPECT_NE(bytes(fs::path(Folder()) / "real" / "Hard.ini").find(saved), std::string::npos)
        << "the other name of a hard-linked file sees the save";
    EXPECT_EQ(fs::hard_link_count(file), 2u);
    CloseProgram(program);
}

// A save in place of a hard-linked Profile.ini was cut short inside the profile's section, the
// whole file in its journal: one Save through the window keeps every section and the journal goes.
TEST_F(Win32Profile, SaveAfterACutSaveInPlaceKeepsTheSectionsAfterTheCut) {
    const fs::path file = fs::path(Folder()) / "Profile.ini", other = fs::path(Folder()) / "other" / "Profile.ini";
    const fs::path journal = fs::path(Folder()) / "Profile.ini.saving";
    std::ofstream(file, std::ios::binary) << "[Before]\r\nB=1\r\n[RTX3080TiZYL]\r\nAUTO=1\r\nNVV";
    std::ofstream(journal, std::ios::binary) << "[Before]\r\nB=1\r\n[RTX3080TiZYL]\r\nAUTO=1\r\nNVVDD=200\r\n[After]\r\nA=2\r\n";
    fs::create_directory(other.parent_path());
    fs::create_hard_link(file, other);

    const pid_t program = StartProgram();
    DriverRun run = Drive({"wait-main", "20000", "select", "1012", "1"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    Act({"click", "1057"});
    CloseProgram(program);

    EXPECT_FALSE(fs::exists(journal)) << "the journal outlived the save";
    ProfileSection section;
    {
        LinuxStore store(Folder());
        EXPECT_TRUE(store->ReadSection(L"After", section)) << "the section after the cut is lost";
        EXPECT_EQ(section, (ProfileSection{{L"A", 2}}));
        EXPECT_TRUE(store->ReadSection(L"Before", section));
        EXPECT_EQ(section, (ProfileSection{{L"B", 1}}));
        ASSERT_TRUE(store->ReadSection(kSection, section));
    }
    EXPECT_EQ(section.at(L"NVVDD"), 175u) << "the board's value, as Save writes it";
    std::ostringstream mine, theirs;
    mine << std::ifstream(file, std::ios::binary).rdbuf();
    theirs << std::ifstream(other, std::ios::binary).rdbuf();
    EXPECT_EQ(theirs.str(), mine.str()) << "the file's other name";
}

TEST_F(Win32Profile, SectionLongerThanWindowsUsualBufferIsReadWhole) {
    // Past 65,536 characters of other lines, the keys that matter: the Windows program must read
    // on until it has them all. Only NVVDD differs from the board at power-on.
    std::wstring body;
    for (int i = 0; i < 8000; ++i) body += L"PAD" + std::to_wstring(10000 + i) + L"=0\r\n";
    body += L"AUTO=0\r\nNVVDD=200\r\nFBVDD=220\r\nMSVDD=175\r\nNVPWM=4\r\nMSPWM=4\r\nNVLL=1\r\nMSLL=1\r\n"
            L"NVOCP=1\r\nMSOCP=1\r\nSYNC=0\r\n";
    ASSERT_GT(body.size(), 65536u);
    {
        LinuxStore store(Folder());
        ASSERT_TRUE(store->WriteSection(kSection, body));
    }

    const pid_t program = StartProgram();
    DriverRun run = Drive({"wait-main", "20000", "select", "1012", "1"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    MarkLog();
    run = Act({"click", "1056", "text", "1001"});
    EXPECT_EQ(Writes(TransfersSinceMark(), kMcuGpu), Strings{"p1 5A:10 [03 01 C8 00] ok"});
    EXPECT_EQ(run.Answer("text 1001"), "1.25000 V");
    CloseProgram(program);
}

}  // namespace
