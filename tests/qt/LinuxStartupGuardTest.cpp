// The Linux guard file: what it refuses to trust and how a write that cannot be made is told.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/qt/LinuxStartupGuard.h"
#include "support/ScratchDirectory.h"

namespace qt_test {
namespace {

using Found = startup_guard::GuardFile::Found;

class PosixGuardFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(scratch.Path().empty()); }
    std::string Dir() const { return scratch.Path().string(); }
    std::string GuardPath() const { return Dir() + "/HalvornController.guard"; }

    ScratchDirectory scratch{"halvorn-guardfile"};
    std::string bytes;
    std::wstring why;
};

TEST_F(PosixGuardFileTest, WrittenWholeReadBackAndRemoved) {
    qtfront::PosixGuardFile file(Dir(), geteuid());
    EXPECT_EQ(file.Read(bytes, why), Found::None);
    ASSERT_TRUE(file.Write("guard text\n", why)) << std::string(why.begin(), why.end());
    EXPECT_FALSE(std::filesystem::exists(GuardPath() + ".new"));
    EXPECT_EQ(file.Read(bytes, why), Found::Read);
    EXPECT_EQ(bytes, "guard text\n");
    EXPECT_TRUE(file.Remove(why));
    EXPECT_EQ(file.Read(bytes, why), Found::None);
}

TEST_F(PosixGuardFileTest, AFolderALinkAndAFifoAreNoGuard) {
    qtfront::PosixGuardFile file(Dir(), geteuid());
    std::ofstream(Dir() + "/elsewhere") << "HalvornController start-up guard 1\n";
    std::filesystem::create_directory(GuardPath());
    EXPECT_EQ(file.Read(bytes, why), Found::NotRegular);
    std::filesystem::remove(GuardPath());
    std::filesystem::create_symlink(Dir() + "/elsewhere", GuardPath());
    EXPECT_EQ(file.Read(bytes, why), Found::NotRegular);
    std::filesystem::remove(GuardPath());
    ASSERT_EQ(mkfifo(GuardPath().c_str(), 0600), 0);
    EXPECT_EQ(file.Read(bytes, why), Found::NotRegular);
}

TEST_F(PosixGuardFileTest, AGuardOfAnotherUserIsNotTrusted) {
    std::ofstream(GuardPath()) << "HalvornController start-up guard 1\n";
    // The file is this process's: a guard file that expects another owner finds it foreign.
    qtfront::PosixGuardFile file(Dir(), geteuid() + 1);
    EXPECT_EQ(file.Read(bytes, why), Found::ForeignOwner);
    EXPECT_NE(why.find(L"owned by user " + std::to_wstring(geteuid())), std::wstring::npos);
}

TEST_F(PosixGuardFileTest, AWriteThatCannotBeMadeSaysWhy) {
    qtfront::PosixGuardFile file(Dir() + "/gone", geteuid());
    EXPECT_FALSE(file.Write("guard text\n", why));
    EXPECT_EQ(std::string(why.begin(), why.end()), "No such file or directory");
}

}  // namespace
}  // namespace qt_test
