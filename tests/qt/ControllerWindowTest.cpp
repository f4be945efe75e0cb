// The controller window on the simulated default machine, worked through its Qt widgets: what the
// widgets show and what the simulated boards receive.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

#include "ControllerFixture.h"
#include "diag/CDlgTest.h"
#include "res/ControlIds.h"
#include "res/DialogTemplates.h"

namespace qt_test {
namespace {

using QtControllerWindowTest = ControllerFixture;

std::string FieldText(QWidget* window, int id) { return Text(ControlOf<QLineEdit>(window, id)->text()); }
std::string LabelText(QWidget* window, int id) { return Text(ControlOf<QLabel>(window, id)->text()); }

TEST_F(QtControllerWindowTest, ListsEveryBoardAndShowsTheFirst) {
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        EXPECT_EQ(Text(window->windowTitle()), "RTX Halvorn Controller");
        EXPECT_FALSE(window->windowIcon().isNull());
        auto* devices = ControlOf<QComboBox>(window, ctl::kDeviceList);
        ASSERT_EQ(devices->count(), 3);
        EXPECT_EQ(Text(devices->itemText(0)), "NVIDIA GeForce RTX 3080 Ti");
        EXPECT_EQ(Text(devices->itemText(1)), "NVIDIA GeForce RTX 3080 Ti");
        EXPECT_EQ(Text(devices->itemText(2)), "NVIDIA GeForce RTX 2080 Ti");
        EXPECT_EQ(devices->currentIndex(), 0);
        EXPECT_EQ(window->focusWidget(), devices);

        // The direct RTX 3080 Ti at power-on: NVVDD under the GPU's control, FBVDD at 1.375 V.
        EXPECT_EQ(LabelText(window, ctl::kRow3Label), "MSVDD");
        EXPECT_TRUE(ControlOf<QCheckBox>(window, ctl::kAuto)->isChecked());
        EXPECT_FALSE(ControlOf<QCheckBox>(window, ctl::kAuto)->isHidden());
        EXPECT_FALSE(ControlOf<QSlider>(window, ctl::kRow1Slider)->isEnabled());
        EXPECT_EQ(FieldText(window, ctl::kRow1Value), "1.09375 V");
        EXPECT_EQ(FieldText(window, ctl::kRow2Value), "1.37500 V");
        EXPECT_EQ(FieldText(window, ctl::kRow4Value), "400 kHz");
        EXPECT_EQ(ControlOf<QSlider>(window, ctl::kRow2Slider)->value(), 220 - 192);
        EXPECT_EQ(Text(ControlOf<QComboBox>(window, ctl::kList2Left)->currentText()), "Level 1");
        EXPECT_EQ(Text(ControlOf<QComboBox>(window, ctl::kList3Left)->currentText()), "Enable");
        EXPECT_TRUE(ControlOf<QPushButton>(window, ctl::kTest)->isHidden());
        PressKey(window, Qt::Key_Return);
    });
    Run();
    EXPECT_EQ(framework.RunningDialog(), nullptr);
    // The run gave the lock back.
    EXPECT_TRUE(services.AcquireInstanceLock(L"RTX Halvorn Controller"));
    services.ReleaseInstanceLock();
}

TEST_F(QtControllerWindowTest, PickingADeviceShowsItsBoard) {
    Mcu().SetFbvdd(230);
    std::size_t mark = 0;
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        auto* devices = ControlOf<QComboBox>(window, ctl::kDeviceList);
        mark = LogMark();
        Pick(devices, 1);
        EXPECT_EQ(FieldText(window, ctl::kRow2Value), "1.43750 V");
        EXPECT_EQ(Text(devices->currentText()), "NVIDIA GeForce RTX 3080 Ti");
        for (std::size_t i = mark; i < machine.Log().Entries().size(); ++i)
            EXPECT_EQ(machine.Log().Entries()[i].handle, kMcu3080Ti);

        Pick(devices, 2);
        EXPECT_EQ(LabelText(window, ctl::kRow3Label), "PEXVDD");
        EXPECT_EQ(LabelText(window, ctl::kRow5Label), "+1.8V");
        EXPECT_FALSE(ControlOf<QLabel>(window, ctl::kRow5Label)->isHidden());
        EXPECT_EQ(Text(devices->currentText()), "NVIDIA GeForce RTX 2080 Ti");

        Pick(devices, 0);
        EXPECT_EQ(LabelText(window, ctl::kRow3Label), "MSVDD");
        EXPECT_EQ(FieldText(window, ctl::kRow2Value), "1.37500 V");
        PressEsc(window);
    });
    Run();
    EXPECT_TRUE(WritesSince(mark).empty()) << "picking a board only reads it";
}

TEST_F(QtControllerWindowTest, MovingASliderShowsTheValueAndApplyWritesIt) {
    std::vector<std::string> writesBeforeApply{"none taken"};
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        const std::size_t mark = LogMark();
        auto* slider = ControlOf<QSlider>(window, ctl::kRow2Slider);
        PressKey(slider, Qt::Key_End);
        EXPECT_EQ(FieldText(window, ctl::kRow2Value), "1.55000 V");
        PressKey(slider, Qt::Key_Left);
        EXPECT_EQ(FieldText(window, ctl::kRow2Value), "1.54375 V");
        writesBeforeApply = WritesSince(mark);

        Click(ControlOf<QPushButton>(window, ctl::kApply));
        EXPECT_EQ(DirectRegulator(0x44).FixedCode(), 247);
        EXPECT_TRUE(DirectRegulator(0x44).IsFixed());
        EXPECT_EQ(WrittenHandlesSince(mark), (std::vector<std::uintptr_t>{kDirect3080Ti}));
        EXPECT_EQ(FieldText(window, ctl::kRow2Value), "1.54375 V");
        EXPECT_EQ(slider->value(), 247 - 192);
        PressEsc(window);
    });
    Run();
    EXPECT_TRUE(writesBeforeApply.empty()) << "a slider alone does not touch the board";
}

TEST_F(QtControllerWindowTest, DraggingASliderToTheEndAndApplyWritesTheTopValue) {
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        auto* slider = ControlOf<QSlider>(window, ctl::kRow2Slider);
        Drag(slider, slider->width());
        EXPECT_EQ(slider->value(), 56);
        EXPECT_EQ(FieldText(window, ctl::kRow2Value), "1.55000 V");
        Click(ControlOf<QPushButton>(window, ctl::kApply));
        EXPECT_EQ(DirectRegulator(0x44).FixedCode(), 248);
        Drag(slider, -slider->width());
        EXPECT_EQ(slider->value(), 0);
        PressEsc(window);
    });
    Run();
}

// Text typed over a list's entry picks none, and Apply writes nothing for it.
TEST_F(QtControllerWindowTest, TypedListTextIsNoLevelAndApplyWritesNothing) {
    std::vector<std::string> typedWrites{"none taken"};
    std::vector<std::string> pickedWrites;
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        auto* list = ControlOf<QComboBox>(window, ctl::kList2Right);
        EXPECT_EQ(Text(list->currentText()), "Level 1");
        std::size_t mark = LogMark();
        list->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(list, QStringLiteral("Level 3"));
        EXPECT_EQ(Text(list->currentText()), "Level 3");
        Click(ControlOf<QPushButton>(window, ctl::kApply));
        typedWrites = WritesSince(mark);

        mark = LogMark();
        PressKey(list, Qt::Key_Down);
        Click(ControlOf<QPushButton>(window, ctl::kApply));
        pickedWrites = WritesSince(mark);
        PressEsc(window);
    });
    Run();
    EXPECT_EQ(typedWrites, std::vector<std::string>{});
    EXPECT_NE(pickedWrites, std::vector<std::string>{}) << "a picked level is written";
}

TEST_F(QtControllerWindowTest, DefaultPutsTheBoardBack) {
    DirectRegulator(0x44).SetFixed(240);
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        EXPECT_EQ(FieldText(window, ctl::kRow2Value), "1.50000 V");
        Click(ControlOf<QPushButton>(window, ctl::kDefault));
        EXPECT_EQ(DirectRegulator(0x44).FixedCode(), 220);
        EXPECT_EQ(FieldText(window, ctl::kRow2Value), "1.37500 V");
        PressEsc(window);
    });
    Run();
}

TEST_F(QtControllerWindowTest, AutoHandsNvvddToTheUserAndBack) {
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        auto* autoBox = ControlOf<QCheckBox>(window, ctl::kAuto);
        auto* slider = ControlOf<QSlider>(window, ctl::kRow1Slider);
        Click(autoBox);
        EXPECT_FALSE(autoBox->isChecked());
        EXPECT_TRUE(slider->isEnabled());
        EXPECT_FALSE(DirectRegulator(0x40).IsFixed()) << "a fixed voltage waits for Apply";

        PressKey(slider, Qt::Key_Home);
        EXPECT_EQ(FieldText(window, ctl::kRow1Value), "0.80000 V");
        Click(ControlOf<QPushButton>(window, ctl::kApply));
        EXPECT_TRUE(DirectRegulator(0x40).IsFixed());
        EXPECT_EQ(DirectRegulator(0x40).FixedCode(), 128);
        EXPECT_FALSE(autoBox->isChecked());

        Click(autoBox);
        EXPECT_TRUE(autoBox->isChecked());
        EXPECT_FALSE(DirectRegulator(0x40).IsFixed());
        EXPECT_FALSE(slider->isEnabled());
        EXPECT_EQ(FieldText(window, ctl::kRow1Value), "1.09375 V");
        PressEsc(window);
    });
    Run();
}

TEST_F(QtControllerWindowTest, SyncTakesApplyToTheFamilySelectedBoardFirst) {
    std::size_t mark = 0;
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        Pick(ControlOf<QComboBox>(window, ctl::kDeviceList), 1);
        Click(ControlOf<QCheckBox>(window, ctl::kSync));
        PressKey(ControlOf<QSlider>(window, ctl::kRow2Slider), Qt::Key_End);
        mark = LogMark();
        Click(ControlOf<QPushButton>(window, ctl::kApply));
        PressEsc(window);
    });
    Run();
    EXPECT_EQ(Mcu().FbvddCode(), 248);
    EXPECT_EQ(DirectRegulator(0x44).FixedCode(), 248);
    // The RTX 2080 Ti is of another family.
    EXPECT_EQ(WrittenHandlesSince(mark), (std::vector<std::uintptr_t>{kMcu3080Ti, kDirect3080Ti}));
}

// The selected board takes no write; the other board of its family still gets what the user
// asked for, not the value the selected board reads back.
TEST_F(QtControllerWindowTest, SyncHandsTheUsersValueOnWhenTheSelectedBoardRefusesIt) {
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        Pick(ControlOf<QComboBox>(window, ctl::kDeviceList), 1);
        Mcu().SetLocked(true);  // it answers reads and refuses every write
        Click(ControlOf<QCheckBox>(window, ctl::kSync));
        PressKey(ControlOf<QSlider>(window, ctl::kRow2Slider), Qt::Key_End);
        Click(ControlOf<QPushButton>(window, ctl::kApply));
        PressEsc(window);
    });
    Run();
    EXPECT_EQ(Mcu().FbvddCode(), 220);
    EXPECT_EQ(DirectRegulator(0x44).FixedCode(), 248);
}

TEST_F(QtControllerWindowTest, WithoutSyncApplyStaysOnTheSelectedBoard) {
    std::size_t mark = 0;
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        PressKey(ControlOf<QSlider>(window, ctl::kRow2Slider), Qt::Key_End);
        mark = LogMark();
        Click(ControlOf<QPushButton>(window, ctl::kApply));
        PressEsc(window);
    });
    Run();
    EXPECT_EQ(WrittenHandlesSince(mark), (std::vector<std::uintptr_t>{kDirect3080Ti}));
    EXPECT_EQ(Mcu().FbvddCode(), 220);
}

TEST_F(QtControllerWindowTest, SaveWritesProfileIniAndLoadAppliesIt) {
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        Click(ControlOf<QPushButton>(window, ctl::kSave));
        QFile profile(QDir(currentDir.path()).filePath(QStringLiteral("Profile.ini")));
        ASSERT_TRUE(profile.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(profile.readAll());
        EXPECT_TRUE(text.contains(QStringLiteral("[RTX3080TiZYL]"))) << Text(text);
        EXPECT_TRUE(text.contains(QStringLiteral("FBVDD=220"))) << Text(text);

        // The board changes behind the program's back; Load brings the saved value back.
        DirectRegulator(0x44).SetFixed(240);
        PressKey(ControlOf<QSlider>(window, ctl::kRow2Slider), Qt::Key_Home);
        Click(ControlOf<QPushButton>(window, ctl::kLoad));
        EXPECT_EQ(DirectRegulator(0x44).FixedCode(), 220);
        EXPECT_EQ(FieldText(window, ctl::kRow2Value), "1.37500 V");
        PressEsc(window);
    });
    Run();
}

// Keys typed into the three hex fields land in order, and one typed after Home goes in there.
TEST_F(QtControllerWindowTest, InternalTestTakesTypedHexFieldsInOrder) {
    std::size_t mark = 0;
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        Pick(ControlOf<QComboBox>(window, ctl::kDeviceList), 1);
        Click(ControlOf<QPushButton>(window, ctl::kTest));
    });
    script.WhenDialog(res::kTestDialogId, [&](QWidget* dialog) {
        Click(ControlOf<QCheckBox>(dialog, testdlg::kWordAccess));
        // Into each field, its whole text selected with Ctrl+A, then the keys.
        auto typeOver = [](QLineEdit* field, const QString& keys) {
            field->setFocus(Qt::MouseFocusReason);
            QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(field, keys);
        };
        auto* address = ControlOf<QLineEdit>(dialog, testdlg::kAddress);
        auto* reg = ControlOf<QLineEdit>(dialog, testdlg::kRegister);
        auto* data = ControlOf<QLineEdit>(dialog, testdlg::kData);
        typeOver(address, QStringLiteral("5A"));
        typeOver(reg, QStringLiteral("1C"));
        typeOver(data, QStringLiteral("1234"));
        EXPECT_EQ(Text(address->text()), "5A");
        EXPECT_EQ(Text(reg->text()), "1C");
        EXPECT_EQ(Text(data->text()), "1234");
        EXPECT_EQ(LabelText(dialog, testdlg::kAddressEcho), "5Ah");
        EXPECT_EQ(LabelText(dialog, testdlg::kRegisterEcho), "1Ch");
        EXPECT_EQ(LabelText(dialog, testdlg::kDataEcho), "1234h");

        PressKey(reg, Qt::Key_Home);
        QTest::keyClicks(reg, QStringLiteral("0x"));
        EXPECT_EQ(Text(reg->text()), "0x1C");
        EXPECT_EQ(LabelText(dialog, testdlg::kRegisterEcho), "1Ch");

        mark = LogMark();
        Click(ControlOf<QPushButton>(dialog, testdlg::kRead));
        EXPECT_EQ(LabelText(dialog, testdlg::kResult), "OK");
        PressEsc(dialog);
    });
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) { PressEsc(window); });
    Run({L"internalTest"});
    const std::vector<sim::LogEntry>& entries = machine.Log().Entries();
    ASSERT_EQ(entries.size(), mark + 1);
    EXPECT_EQ(entries.back().handle, kMcu3080Ti) << "the selected board's GPU";
    EXPECT_EQ(entries.back().device, 0x5A);
    EXPECT_EQ(entries.back().reg, 0x1C);
    EXPECT_EQ(entries.back().length, 2u);
}

TEST_F(QtControllerWindowTest, InternalTestReadsARegisterWhileTheWindowWaits) {
    QPointer<QWidget> controller;
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        controller = window;
        auto* test = ControlOf<QPushButton>(window, ctl::kTest);
        EXPECT_FALSE(test->isHidden());
        Click(test);
    });
    script.WhenDialog(res::kTestDialogId, [&](QWidget* dialog) {
        EXPECT_EQ(dialog->parentWidget(), controller.data()) << "owned by the controller window";
        EXPECT_EQ(Text(dialog->windowTitle()), "Internal Test");
        auto* timer = controller->findChild<QTimer*>(QStringLiteral("timer6281"));
        ASSERT_NE(timer, nullptr);
        EXPECT_TRUE(timer->isActive());
        EXPECT_EQ(timer->interval(), 1000);

        auto* address = ControlOf<QLineEdit>(dialog, testdlg::kAddress);
        address->selectAll();
        Type(address, QStringLiteral("40"));
        auto* reg = ControlOf<QLineEdit>(dialog, testdlg::kRegister);
        reg->selectAll();
        Type(reg, QStringLiteral("8B"));
        EXPECT_EQ(LabelText(dialog, testdlg::kAddressEcho), "40h");
        EXPECT_EQ(LabelText(dialog, testdlg::kRegisterEcho), "8Bh");
        Click(ControlOf<QCheckBox>(dialog, testdlg::kWordAccess));
        Click(ControlOf<QPushButton>(dialog, testdlg::kRead));
        // The NVVDD regulator measures 1094 mV (0x446), least significant byte first.
        EXPECT_EQ(LabelText(dialog, testdlg::kResult), "OK");
        EXPECT_EQ(FieldText(dialog, testdlg::kData), "446");
        EXPECT_EQ(LabelText(dialog, testdlg::kDataEcho), "446h");

        PressKey(ControlOf<QWidget>(dialog, testdlg::kData), Qt::Key_Return);
        EXPECT_TRUE(dialog->isVisible()) << "Enter does not close the Internal Test dialog";
        PressEsc(dialog);
    });
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) { PressEsc(window); });
    Run({L"internalTest"});
    const std::vector<sim::LogEntry>& entries = machine.Log().Entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().handle, kDirect3080Ti) << "the selected board's GPU";
    EXPECT_EQ(entries.back().device, 0x40);
    EXPECT_EQ(entries.back().reg, 0x8B);
    EXPECT_EQ(entries.back().length, 2u);
}

TEST_F(QtControllerWindowTest, WithoutASupportedBoardTheWindowSaysSoAndNeverShows) {
    sim::SimMachine bare;
    std::string error;
    ASSERT_TRUE(sim::LoadScenario("gpu handle=0x100 name=\"NVIDIA GeForce RTX 3060\" subsystem=0x38971462 "
                                  "vbios=94.06.14.00.5A board=none\n",
                                  "bare", bare, error))
        << error;
    nvApi = &bare;
    bool windowShown = true;
    script.WhenMessageBox([&](QWidget* box) {
        auto* message = qobject_cast<QMessageBox*>(box);
        EXPECT_EQ(Text(message->text()), "Device not support.");
        EXPECT_EQ(Text(message->windowTitle()), "RTX Halvorn Controller");
        EXPECT_EQ(message->icon(), QMessageBox::NoIcon);
        windowShown = message->parentWidget() && message->parentWidget()->isVisible();
        ClickOk(box);
    });
    Run();
    EXPECT_FALSE(windowShown);
    EXPECT_EQ(framework.RunningDialog(), nullptr);
}

}  // namespace
}  // namespace qt_test
