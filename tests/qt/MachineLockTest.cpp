// The machine lock on the boards on Linux: one holder whatever the session (runtime directory) or
// user, free again once its holder lets go or dies, and a lock directory that cannot hold it.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "ProcessChanges.h"
#include "platform/qt/QtBusy.h"
#include "platform/qt/QtProcessServices.h"

namespace qt_test {
namespace {

constexpr const char* kLockFileName = "rtx-halvorn-controller-boards.lock";

// A forked child of this process that runs `work` and reports to the parent over a pipe; the
// parent answers through another. The child must not allocate: other threads of the parent may
// have held the allocator's lock at the fork.
class Child {
public:
    explicit Child(const std::function<void(Child&)>& work) {
        if (pipe(toParent_) != 0 || pipe(toChild_) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(toParent_[0]);
            close(toChild_[1]);
            work(*this);
            _exit(0);
        }
        close(toParent_[1]);
        close(toChild_[0]);
    }
    ~Child() {
        close(toParent_[0]);
        close(toChild_[1]);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return pid_ > 0; }
    // The parent's side; 0 when the other side is gone.
    char Hear() { return Read(toParent_[0]); }
    void Tell(char what) { Write(toChild_[1], what); }
    void Kill() {
        kill(pid_, SIGKILL);
        Wait();
    }
    // Until it has ended, its files closed with it; its exit status, -1 when killed.
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The child's side.
    void Report(char what) { Write(toParent_[1], what); }
    char Await() { return Read(toChild_[0]); }

private:
    static char Read(int fd) {
        char byte = 0;
        return read(fd, &byte, 1) == 1 ? byte : 0;
    }
    static void Write(int fd, char byte) {
        if (write(fd, &byte, 1) != 1) _exit(3);
    }
    int toParent_[2] = {-1, -1};
    int toChild_[2] = {-1, -1};
    pid_t pid_ = -1;
};

char Outcome(bool acquired) { return acquired ? 'H' : 'B'; }

class MachineLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lockDir.isValid());
        ASSERT_TRUE(sessionA.isValid());
        ASSERT_TRUE(sessionB.isValid());
    }

    // Process services as a process of another session sees them; nullptr for a process without a
    // session (no XDG_RUNTIME_DIR, as the boot unit runs).
    std::unique_ptr<qtfront::QtProcessServices> Process(const QTemporaryDir* session) {
        ScopedVariable runtime("XDG_RUNTIME_DIR",
                               session ? std::optional<QByteArray>(QFile::encodeName(session->path())) : std::nullopt);
        return std::make_unique<qtfront::QtProcessServices>(busy, QString());
    }
    std::string LockPath() const { return QDir(lockDir.path()).filePath(QString::fromLatin1(kLockFileName)).toStdString(); }

    QTemporaryDir lockDir;
    ScopedVariable lockDirVariable{"HALVORN_LOCK_DIR", QFile::encodeName(lockDir.path())};
    QTemporaryDir sessionA;
    QTemporaryDir sessionB;
    qtfront::BusyState busy;
};

TEST_F(MachineLockTest, OneHolderAcrossSessionsAndWithoutOne) {
    const auto a = Process(&sessionA);
    const auto b = Process(&sessionB);
    const auto bootUnit = Process(nullptr);
    EXPECT_EQ(a->MachineLockPath(), LockPath());
    qtfront::QtProcessServices* processes[] = {a.get(), b.get(), bootUnit.get()};
    for (qtfront::QtProcessServices* holder : processes) {
        ASSERT_TRUE(holder->AcquireMachineLock());
        EXPECT_TRUE(holder->AcquireMachineLock()) << "the holder asking again still holds it";
        for (qtfront::QtProcessServices* other : processes) {
            if (other == holder) continue;
            EXPECT_FALSE(other->AcquireMachineLock());
        }
        holder->ReleaseMachineLock();
    }
    EXPECT_TRUE(b->AcquireMachineLock()) << "free after the last release";
    // The single-instance lock stays the session's: both sessions' windows may run.
    EXPECT_TRUE(a->AcquireInstanceLock(L"RTX Halvorn Controller"));
    const auto b2 = Process(&sessionB);
    EXPECT_TRUE(b2->AcquireInstanceLock(L"RTX Halvorn Controller"));
}

TEST_F(MachineLockTest, ADeadHoldersLockIsFree) {
    const auto holder = Process(&sessionA);
    const auto other = Process(&sessionB);
    Child child([&](Child& self) {
        self.Report(Outcome(holder->AcquireMachineLock()));
        self.Await();  // until killed
    });
    ASSERT_TRUE(child.Started());
    ASSERT_EQ(child.Hear(), 'H');
    EXPECT_FALSE(other->AcquireMachineLock());

    child.Kill();

    EXPECT_TRUE(other->AcquireMachineLock());
}

TEST_F(MachineLockTest, AnotherUserTakesItAfterTheFirstMadeTheFile) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a child as another user";
    constexpr uid_t kNobody = 65534;
    // A shared directory as /tmp and /run/lock are, and a creator whose umask keeps the file to
    // itself.
    ASSERT_EQ(chmod(QFile::encodeName(lockDir.path()).constData(), 01777), 0);
    const mode_t umaskBefore = umask(077);
    const auto root = Process(&sessionA);
    const bool rootTookIt = root->AcquireMachineLock();
    umask(umaskBefore);
    ASSERT_TRUE(rootTookIt);
    struct stat file {};
    ASSERT_EQ(stat(LockPath().c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 07777, 0644u);

    const auto user = Process(&sessionB);
    StderrCapture errors;  // a child that could not open the file would say so here
    Child child([&](Child& self) {
        // Only the fork's copy of root's descriptor goes; root's own still holds the lock.
        root->ReleaseMachineLock();
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0) self.Report('X');
        self.Report(Outcome(user->AcquireMachineLock()));  // root holds it
        self.Await();
        self.Report(Outcome(user->AcquireMachineLock()));  // root gave it back
        self.Await();
    });
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Hear(), 'B');
    root->ReleaseMachineLock();
    child.Tell('g');
    EXPECT_EQ(child.Hear(), 'H');
    EXPECT_FALSE(root->AcquireMachineLock()) << "the other user holds it";
    child.Tell('q');
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_TRUE(root->AcquireMachineLock());
    EXPECT_EQ(errors.Text(), "");
}

struct Unusable {
    const char* name;
    std::function<bool(const std::string& path)> make;  // puts it in the lock file's place
    friend void PrintTo(const Unusable& u, std::ostream* os) { *os << u.name; }
};

class UnusableLockTest : public MachineLockTest, public ::testing::WithParamInterface<Unusable> {};

// Nothing to hold: the process goes on, says so once, and holds nothing.
TEST_P(UnusableLockTest, GoesOnAndSaysSoOnce) {
    const std::string path = LockPath();
    ASSERT_TRUE(GetParam().make(path));
    const auto process = Process(&sessionA);
    StderrCapture errors;

    EXPECT_TRUE(process->AcquireMachineLock());
    EXPECT_TRUE(process->AcquireMachineLock());

    const std::string said = errors.Text();
    const std::string expected = "qt_tests: cannot use the lock on the boards " + process->MachineLockPath() + ": ";
    EXPECT_EQ(said.rfind(expected, 0), 0u) << said;
    EXPECT_NE(said.find("; going on without it (HALVORN_LOCK_DIR names another directory)\n"), std::string::npos)
        << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line: " << said;
    process->ReleaseMachineLock();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnusableLockTest,
    ::testing::Values(
        Unusable{"Directory", [](const std::string& path) { return mkdir(path.c_str(), 0755) == 0; }},
        // Followed, it would lock a file of the link maker's choice.
        Unusable{"SymbolicLink",
                 [](const std::string& path) {
                     const std::string target = path + ".target";
                     QFile file(QString::fromStdString(target));
                     return file.open(QIODevice::WriteOnly) && symlink(target.c_str(), path.c_str()) == 0;
                 }},
        // Opened without care it would never return.
        Unusable{"Fifo", [](const std::string& path) { return mkfifo(path.c_str(), 0644) == 0; }},
        Unusable{"MissingDirectory",
                 [](const std::string& path) {
                     qputenv("HALVORN_LOCK_DIR", QFile::encodeName(QString::fromStdString(path + "/missing")));
                     return true;
                 }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(MachineLockTest, TheDirectoryVariableIsReadWhenTheServicesAreMade) {
    const QString other = QDir(lockDir.path()).filePath(QStringLiteral("other"));
    ASSERT_TRUE(QDir().mkpath(other));
    ScopedVariable variable("HALVORN_LOCK_DIR", QFile::encodeName(other));
    const auto process = Process(&sessionA);
    EXPECT_EQ(process->MachineLockPath(), QDir(other).filePath(QString::fromLatin1(kLockFileName)).toStdString());
    EXPECT_TRUE(process->AcquireMachineLock());
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(process->MachineLockPath())));
}

}  // namespace
}  // namespace qt_test
