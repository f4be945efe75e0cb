// A process that saves Profile.ini in a loop, killed at random points: after every kill the file
// reads as the old section body or the new one, every other section intact, and the next save
// leaves no temporary file behind. HALVORN_PROFILE_KILLS sets how many kills for each way a save goes (100, 200 in all).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>

#include "ProfileDirFixture.h"
#include "profile/PrivateProfileFile.h"

namespace {

std::wstring Body(int value) { return L"AUTO=0\r\nNVVDD=" + std::to_wstring(value) + L"\r\nSYNC=1\r\n"; }
std::wstring Lines(int value) { return L"AUTO=0" + std::wstring(1, L'\0') + L"NVVDD=" + std::to_wstring(value) + L'\0' + L"SYNC=1" + L'\0'; }

class ProfileKillTest : public ProfileDirFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(ProfileKillTest, KilledSavesLeaveTheOldOrTheNewSection) {
    const bool hardLinked = GetParam();
    int kills = 100;  // for each of the two ways a save goes: 200 in all
    if (const char* text = std::getenv("HALVORN_PROFILE_KILLS")) kills = std::atoi(text);
    ASSERT_GT(kills, 0) << "HALVORN_PROFILE_KILLS must be a positive number";

    const fs::path file = dir / "Profile.ini";
    const std::wstring path = Wide(file.string());
    // Other sections on both sides of the one being saved, and enough of them for the write to
    // take a while; a hard link makes the save write in place.
    std::string padding;
    for (int i = 0; i < 400; ++i) padding += "PAD" + std::to_string(i) + "=" + std::to_string(i * 7) + "\r\n";
    const std::string head = "[Before]\r\n" + padding;
    const std::string tail = "[After]\r\n" + padding;
    WriteBytes(file, head + "[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=0\r\nSYNC=1\r\n" + tail);
    if (hardLinked) {
        fs::create_directory(dir / "other");
        fs::create_hard_link(file, dir / "other" / "Profile.ini");
    }
    profile::PrivateProfileFile files;
    const std::wstring before = files.ReadSection(L"Before", path);
    const std::wstring after = files.ReadSection(L"After", path);

    std::mt19937 random(hardLinked ? 9 : 8);
    int saved = 0;  // the section's NVVDD: the child saves saved + 1, saved + 2, ...
    for (int round = 0; round < kills; ++round) {
        const pid_t child = fork();
        if (child == 0) {
            for (int value = saved + 1;; ++value) files.WriteSection(L"RTX3080TiZYL", Body(value) + L'\0', path);
        }
        // A random point in the child's first few saves.
        const timespec pause{0, static_cast<long>(random() % 3000000)};
        nanosleep(&pause, nullptr);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);

        const std::wstring lines = files.ReadSection(L"RTX3080TiZYL", path);
        ASSERT_EQ(files.ReadSection(L"Before", path), before) << "kill " << round;
        ASSERT_EQ(files.ReadSection(L"After", path), after) << "kill " << round;
        // Old or new: a body the child wrote whole, from the last one we saw on.
        const std::size_t digits = lines.find(L"NVVDD=");
        ASSERT_NE(digits, std::wstring::npos) << "kill " << round;
        const int value = std::stoi(lines.substr(digits + 6));
        ASSERT_GE(value, saved) << "kill " << round;
        ASSERT_EQ(lines, Lines(value)) << "kill " << round;

        // Our own save afterwards clears whatever the killed one left.
        saved = value + 1;
        ASSERT_TRUE(files.WriteSection(L"RTX3080TiZYL", Body(saved) + L'\0', path));
        ASSERT_EQ(Names(dir), hardLinked ? (std::set<std::string>{"Profile.ini", "other"})
                                         : (std::set<std::string>{"Profile.ini"}))
            << "kill " << round;
        ASSERT_EQ(ReadBytes(file), head + "[RTX3080TiZYL]\r\nAUTO=0\r\nNVVDD=" + std::to_string(saved) + "\r\nSYNC=1\r\n" + tail);
        if (hardLinked) {
            ASSERT_EQ(ReadBytes(dir / "other" / "Profile.ini"), ReadBytes(file));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kill, ProfileKillTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return std::string(param.param ? "HardLinkedInPlace" : "Renamed");
                         });

}  // namespace
