// The program's run as main starts it: the NvAPI realization chosen from the command line.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "ProcessChanges.h"
#include "UserScript.h"
#include "gpu/GpuList.h"
#include "gpu/NvApi.h"
#include "platform/qt/ControllerProgram.h"
#include "platform/qt/QtBusy.h"
#include "platform/qt/QtProcessServices.h"
#include "profile/ProfileStore.h"
#include "res/ControlIds.h"
#include "res/DialogTemplates.h"
#include "support/BoardFixture.h"

namespace qt_test {
namespace {

class RecordingSleeper final : public Sleeper {
public:
    void Sleep(unsigned milliseconds) override { slept += milliseconds; }
    unsigned slept = 0;
};

class QtProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(currentDir.isValid());
        ASSERT_TRUE(lockDir.isValid());
        previousDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(currentDir.path()));
    }
    void TearDown() override { QDir::setCurrent(previousDir); }
    int Run(const QStringList& arguments) {
        script.Start();
        const int status = qtfront::RunController(arguments, services, sleeper, busy);
        EXPECT_TRUE(script.Done()) << "the script did not finish";
        return status;
    }

    QTemporaryDir currentDir;
    QTemporaryDir lockDir;
    QString previousDir;
    qtfront::BusyState busy;
    qtfront::QtProcessServices services{busy, lockDir.path()};
    RecordingSleeper sleeper;
    UserScript script;
};

TEST_F(QtProgramTest, WithoutTheSimulatorAMachineWithoutNvidiaHardwareSaysSo) {
    script.WhenMessageBox([&](QWidget* box) {
        auto* message = qobject_cast<QMessageBox*>(box);
        EXPECT_EQ(Text(message->text()), "NV Control initialize failed!");
        EXPECT_EQ(Text(message->windowTitle()), "qt_tests");
        EXPECT_EQ(message->icon(), QMessageBox::Warning);
        // The lock is already given back while the message is up.
        qtfront::QtProcessServices other(busy, lockDir.path());
        EXPECT_TRUE(other.AcquireInstanceLock(L"RTX Halvorn Controller"));
        ClickOk(box);
    });
    StderrCapture errors;
    EXPECT_EQ(Run({}), 0);
    // The cause and its fix, for the user who has the board but not the driver.
    const std::string said = errors.Text();
    EXPECT_NE(said.find("qt_tests: no NVIDIA driver: /proc/driver/nvidia is missing"), std::string::npos) << said;
    EXPECT_NE(said.find("--simulate"), std::string::npos) << said;
}

TEST(QtProgramProcessTest, TheProgramStartedWithoutTheSimulatorPrintsWhyOnThisMachine) {
    QTemporaryDir runtimeDir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setReadChannel(QProcess::StandardError);
    program.start(QStringLiteral(HALVORN_CONTROLLER_PATH), {});
    ASSERT_TRUE(program.waitForStarted(15000));
    QString errors;
    const QString cause = QStringLiteral("HalvornController: no NVIDIA driver: /proc/driver/nvidia is missing");
    while (!errors.contains(cause) && program.waitForReadyRead(15000))
        errors += QString::fromLocal8Bit(program.readAllStandardError());
    EXPECT_TRUE(errors.contains(cause)) << errors.toStdString();
    // It then waits for the user to close "NV Control initialize failed!", which nobody does here.
    program.kill();
    program.waitForFinished(10000);
}

TEST_F(QtProgramTest, SimulateRunsOnTheBuiltInMachineAndStillFindsInternalTest) {
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        EXPECT_EQ(ControlOf<QComboBox>(window, ctl::kDeviceList)->count(), 3);
        EXPECT_FALSE(ControlOf<QPushButton>(window, ctl::kTest)->isHidden());
        PressEsc(window);
    });
    EXPECT_EQ(Run({QStringLiteral("--simulate"), QStringLiteral("internalTest")}), 0);
}

TEST_F(QtProgramTest, AScenarioThatCannotBeLoadedEndsBeforeAnyWindow) {
    EXPECT_EQ(Run({QStringLiteral("--simulate=no-such.scenario")}), 2);
    EXPECT_EQ(Run({QStringLiteral("--simulate=")}), 2);
    EXPECT_TRUE(services.AcquireInstanceLock(L"RTX Halvorn Controller")) << "no run took the lock";
}

}  // namespace
}  // namespace qt_test
