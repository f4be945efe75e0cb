// The single-instance guard on Linux: the lock, the request to raise the running window, and two
// starts of the real HalvornController program.
#include <gtest/gtest.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <string>

#include "UserScript.h"
#include "platform/qt/QtBusy.h"
#include "platform/qt/QtProcessServices.h"

namespace qt_test {
namespace {

const std::wstring kName = L"RTX Halvorn Controller";
const QString kTitle = QStringLiteral("RTX Halvorn Controller");

class QtProcessServicesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(lockDir.isValid()); }

    // Runs the event loop until the window is no longer minimised, or fails after a long while.
    static bool WaitUntilRestored(QWidget& window) {
        QEventLoop loop;
        QObject::connect(window.windowHandle(), &QWindow::windowStateChanged, &loop, [&](Qt::WindowState state) {
            if (!(state & Qt::WindowMinimized)) loop.quit();
        });
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        if (window.isMinimized()) loop.exec();
        return !window.isMinimized();
    }

    QTemporaryDir lockDir;
    qtfront::BusyState busy;
};

TEST_F(QtProcessServicesTest, OneHolderAtATimeAndTheLockComesBack) {
    qtfront::QtProcessServices first(busy, lockDir.path());
    qtfront::QtProcessServices second(busy, lockDir.path());
    ASSERT_TRUE(first.AcquireInstanceLock(kName));
    EXPECT_TRUE(QFile::exists(first.LockFilePath(kName)));
    EXPECT_EQ(QFileInfo(first.LockFilePath(kName)).fileName().toStdString(), "RTX-Halvorn-Controller.lock");
    EXPECT_FALSE(second.AcquireInstanceLock(kName));
    first.ReleaseInstanceLock();
    EXPECT_FALSE(QFile::exists(first.LockFilePath(kName)));
    EXPECT_FALSE(QFile::exists(first.SocketPath(kName)));
    EXPECT_TRUE(second.AcquireInstanceLock(kName));
}

TEST_F(QtProcessServicesTest, ASecondStartRestoresAndRaisesTheMinimisedWindow) {
    qtfront::QtProcessServices running(busy, lockDir.path());
    qtfront::QtProcessServices starting(busy, lockDir.path());
    ASSERT_TRUE(running.AcquireInstanceLock(kName));
    ASSERT_FALSE(starting.AcquireInstanceLock(kName));

    QWidget other;
    other.setWindowTitle(QStringLiteral("Another window"));
    other.show();
    QWidget window;
    window.setWindowTitle(kTitle);
    window.showMinimized();
    ASSERT_TRUE(window.isMinimized());

    starting.RaiseRunningInstance(kName);
    EXPECT_TRUE(WaitUntilRestored(window));
    EXPECT_TRUE(window.isVisible());
}

TEST_F(QtProcessServicesTest, ARaiseWithoutAHolderOrWithoutTheWindowDoesNothing) {
    qtfront::QtProcessServices starting(busy, lockDir.path());
    starting.RaiseRunningInstance(kName);  // nobody listens: returns at once

    EXPECT_FALSE(qtfront::RaiseWindowTitled(kTitle));
    QWidget hidden;
    hidden.setWindowTitle(kTitle);
    EXPECT_FALSE(qtfront::RaiseWindowTitled(kTitle)) << "a window not on screen is not shown early";
}

TEST_F(QtProcessServicesTest, ASocketLeftByADeadHolderIsTakenOver) {
    qtfront::QtProcessServices services(busy, lockDir.path());
    {
        QFile stale(services.SocketPath(kName));
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(services.AcquireInstanceLock(kName));
    QLocalSocket socket;
    socket.connectToServer(services.SocketPath(kName));
    EXPECT_TRUE(socket.waitForConnected(5000)) << socket.errorString().toStdString();
}

TEST_F(QtProcessServicesTest, ApplicationNameIsTheExecutablesFileName) {
    qtfront::QtProcessServices services(busy, lockDir.path());
    EXPECT_EQ(services.ApplicationName(), L"qt_tests");
}

// The program as users start it, twice.
class SecondStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(runtimeDir.isValid());
        ASSERT_TRUE(workDir.isValid());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
        environment.insert(QStringLiteral("HALVORN_TRACE_RAISE"), QStringLiteral("1"));
        for (QProcess* process : {&first, &second}) {
            process->setProcessEnvironment(environment);
            process->setWorkingDirectory(workDir.path());
        }
    }
    void TearDown() override {
        for (QProcess* process : {&first, &second}) {
            if (process->state() == QProcess::NotRunning) continue;
            process->kill();
            process->waitForFinished(10000);
        }
    }

    // Reads the process's stderr until a line holds the text, or the process ends.
    static bool WaitForLine(QProcess& process, QString& seen, const QString& text) {
        while (!seen.contains(text)) {
            if (!process.waitForReadyRead(15000)) return false;
            seen += QString::fromLocal8Bit(process.readAllStandardError());
        }
        return true;
    }

    QTemporaryDir runtimeDir;
    QTemporaryDir workDir;
    QProcess first;
    QProcess second;
};

TEST_F(SecondStartTest, TheSecondStartEndsAtOnceAndTheFirstRaisesItsWindow) {
    first.setReadChannel(QProcess::StandardError);
    first.start(QStringLiteral(HALVORN_CONTROLLER_PATH), {QStringLiteral("--simulate")});
    ASSERT_TRUE(first.waitForStarted(15000));
    QString firstErrors;
    ASSERT_TRUE(WaitForLine(first, firstErrors, QStringLiteral("instance listening"))) << firstErrors.toStdString();

    second.start(QStringLiteral(HALVORN_CONTROLLER_PATH), {QStringLiteral("--simulate")});
    // A second start that opened its window would wait for a user who never comes.
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    const QString secondErrors = QString::fromLocal8Bit(second.readAllStandardError());
    EXPECT_FALSE(secondErrors.contains(QStringLiteral("instance listening"))) << "it did not take the lock";

    EXPECT_TRUE(WaitForLine(first, firstErrors, QStringLiteral("raise requested: RTX Halvorn Controller: raised")))
        << firstErrors.toStdString();
    EXPECT_EQ(first.state(), QProcess::Running) << "the first instance runs on";
}

TEST_F(SecondStartTest, AScenarioWithAMistakeIsReportedWithFileAndLine) {
    QFile scenario(QDir(workDir.path()).filePath(QStringLiteral("broken.scenario")));
    ASSERT_TRUE(scenario.open(QIODevice::WriteOnly));
    scenario.write("# two boards\ngpu handle=0x100 name=\"A\" subsystem=0 vbios=1 board=rtx9090\n");
    scenario.close();

    first.start(QStringLiteral(HALVORN_CONTROLLER_PATH), {QStringLiteral("--simulate=broken.scenario")});
    ASSERT_TRUE(first.waitForFinished(15000));
    EXPECT_NE(first.exitCode(), 0);
    const QString errors = QString::fromLocal8Bit(first.readAllStandardError());
    EXPECT_TRUE(errors.contains(QStringLiteral("broken.scenario:2:"))) << errors.toStdString();
    EXPECT_TRUE(errors.contains(QStringLiteral("rtx9090"))) << errors.toStdString();
    EXPECT_FALSE(errors.contains(QStringLiteral("instance listening"))) << "no run started";
}

}  // namespace
}  // namespace qt_test
