// The program's run as main starts it: the NvAPI realization chosen from the command line.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>

#include "UserScript.h"
#include "boards/ControlIds.h"
#include "gpu/GpuList.h"
#include "gpu/NvApi.h"
#include "platform/qt/ControllerProgram.h"
#include "platform/qt/QtProcessServices.h"
#include "profile/ProfileStore.h"
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
        nvapi::SetNvApi(nullptr);  // the program's own choice
    }
    void TearDown() override {
        GpuList::Release();
        ProfileStore::Release();
        QDir::setCurrent(previousDir);
    }
    int Run(const QStringList& arguments) {
        script.Start();
        const int status = qtfront::RunController(arguments, services, sleeper);
        EXPECT_TRUE(script.Done()) << "the script did not finish";
        return status;
    }

    QTemporaryDir currentDir;
    QTemporaryDir lockDir;
    QString previousDir;
    qtfront::QtProcessServices services{lockDir.path()};
    RecordingSleeper sleeper;
    UserScript script;
};

TEST(SimulateSwitchTest, FoundAmongTheArgumentsAsASwitch) {
    using qtfront::FindSimulateSwitch;
    EXPECT_FALSE(FindSimulateSwitch({}).present);
    EXPECT_FALSE(FindSimulateSwitch({QStringLiteral("internalTest"), QStringLiteral("--simulated")}).present);
    const auto builtIn = FindSimulateSwitch({QStringLiteral("internalTest"), QStringLiteral("--simulate")});
    EXPECT_TRUE(builtIn.present);
    EXPECT_TRUE(builtIn.scenarioFile.isEmpty());
    EXPECT_FALSE(builtIn.missingFile);
    const auto file = FindSimulateSwitch({QStringLiteral("--simulate=/tmp/a b.scenario")});
    EXPECT_EQ(file.scenarioFile.toStdString(), "/tmp/a b.scenario");
    EXPECT_TRUE(FindSimulateSwitch({QStringLiteral("--simulate=")}).missingFile);
}

TEST_F(QtProgramTest, WithoutTheSimulatorAMachineWithoutNvidiaHardwareSaysSo) {
    script.WhenMessageBox([&](QWidget* box) {
        auto* message = qobject_cast<QMessageBox*>(box);
        EXPECT_EQ(Text(message->text()), "NV Control initialize failed!");
        EXPECT_EQ(Text(message->windowTitle()), "qt_tests");
        EXPECT_EQ(message->icon(), QMessageBox::Warning);
        // The lock is already given back while the message is up.
        qtfront::QtProcessServices other(lockDir.path());
        EXPECT_TRUE(other.AcquireInstanceLock(L"RTX Halvorn Controller"));
        ClickOk(box);
    });
    EXPECT_EQ(Run({}), 0);
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
