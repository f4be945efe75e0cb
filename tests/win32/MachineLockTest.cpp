// The Windows window's lock on the boards, as another process of any user meets it: a mutex in
// the Global namespace that everyone may wait on and release, held from the window's start until
// it closes.
#include "WineTest.h"

namespace {

using wine::DriverRun;

constexpr const char* kBoardsMutex = "Global\\RTX Halvorn Controller boards";

class Win32MachineLock : public wine::WineTest {};

TEST_F(Win32MachineLock, TheWindowHoldsTheBoardsForEveryOtherProcessUntilItCloses) {
    const pid_t program = StartProgram();
    DriverRun run = Drive({"wait-main", "20000", "try-mutex", kBoardsMutex, "mutex-dacl", kBoardsMutex});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    EXPECT_EQ(run.Answer("try-mutex"), "held");
    // Everyone: SYNCHRONIZE and MUTEX_MODIFY_STATE, nothing more.
    EXPECT_EQ(run.Answer("mutex-dacl"), "D:(A;;0x100001;;;WD)");

    CloseProgram(program);

    run = Drive({"try-mutex", kBoardsMutex});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    EXPECT_EQ(run.Answer("try-mutex"), "none") << "the window's handle, the last one, went with it";
}

}  // namespace
