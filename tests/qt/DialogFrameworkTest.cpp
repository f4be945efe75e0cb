// The Qt dialog framework on the real templates, with a dialog logic that records what reaches it:
// layout from dialog units, and the Win32 control behaviour the core relies on.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "UserScript.h"
#include "diag/CDlgTest.h"
#include "dialog/DialogFramework.h"
#include "platform/qt/QtBusy.h"
#include "platform/qt/QtDialogFramework.h"
#include "res/ControlIds.h"
#include "res/DialogTemplates.h"

namespace qt_test {
namespace {

std::string NotificationName(Notification what) {
    switch (what) {
        case Notification::Clicked:
            return "clicked";
        case Notification::TextChanged:
            return "text";
        case Notification::SelectionChanged:
            return "selection";
    }
    return "?";
}

// Records every event as a line; hooks let a test act as the program would.
class ProbeLogic final : public DialogLogic {
public:
    bool OnInitDialog(DialogWindow& window) override {
        window_ = &window;
        events.push_back("init");
        return onInit ? onInit(window) : true;
    }
    void OnCommand(int id, Notification what) override {
        events.push_back(std::to_string(id) + " " + NotificationName(what));
        if (onCommand) onCommand(id, what);
    }
    void OnHScroll(int sliderId) override {
        events.push_back("hscroll " + std::to_string(sliderId) + " at " +
                         std::to_string(window_->Controls().GetPos(sliderId)));
    }
    void OnTimer(std::uintptr_t timerId) override {
        ++ticks;
        if (onTimer) onTimer(timerId);
    }
    void OnOK() override {
        events.push_back("ok");
        if (endOnOk) window_->EndDialog(kIdOk);
    }
    void OnCancel() override {
        events.push_back("cancel");
        if (endOnCancel) window_->EndDialog(kIdCancel);
    }
    void OnDestroy() override {
        events.push_back("destroy");
        window_ = nullptr;
    }

    DialogWindow& Window() { return *window_; }
    ControlPanel& Panel() { return window_->Controls(); }
    // The events from now on.
    std::vector<std::string> Take() {
        std::vector<std::string> taken;
        taken.swap(events);
        return taken;
    }

    std::function<bool(DialogWindow&)> onInit;
    std::function<void(int, Notification)> onCommand;
    std::function<void(std::uintptr_t)> onTimer;
    bool endOnOk = false;
    bool endOnCancel = true;
    std::vector<std::string> events;
    int ticks = 0;

private:
    DialogWindow* window_ = nullptr;
};

using Lines = std::vector<std::string>;

class QtDialogFrameworkTest : public ::testing::Test {
protected:
    int Run(const res::DialogTemplate& dialog) {
        script.Start();
        const int code = framework.RunModal(dialog, logic);
        EXPECT_TRUE(script.Done()) << "the script did not finish";
        return code;
    }

    qtfront::BusyState busy;
    qtfront::QtDialogFramework framework{busy};
    ProbeLogic logic;
    UserScript script;
};

TEST_F(QtDialogFrameworkTest, LaysTheControllerWindowOutInDialogUnitsOfItsFont) {
    const res::DialogTemplate& dialog = res::ControllerDialog();
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        const qtfront::DialogUnits units = qtfront::DialogUnits::Of(window->font());
        EXPECT_GT(units.baseX, 0);
        EXPECT_GT(units.baseY, 0);
        EXPECT_EQ(window->size(), QSize(units.X(dialog.width), units.Y(dialog.height)));
        EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "not resizable";
        EXPECT_EQ(Text(window->windowTitle()), "RTX Halvorn Controller");
        EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_EQ(window->parentWidget(), nullptr) << "a window of its own";

        for (const res::ControlTemplate& control : dialog.controls) {
            SCOPED_TRACE(control.id);
            auto* widget = ControlOf<QWidget>(window, control.id);
            if (!widget) continue;
            EXPECT_EQ(!widget->isHidden(), control.visible);
            const QRect place = units.Rect(control.x, control.y, control.width, control.height);
            EXPECT_EQ(widget->pos(), place.topLeft());
            if (control.kind == res::ControlKind::Label) {
                // A label grows to its whole text where this font is wider than the Windows one.
                EXPECT_GE(widget->width(), place.width());
                EXPECT_GE(widget->width(), widget->fontMetrics().horizontalAdvance(QString::fromWCharArray(control.text)));
            } else {
                EXPECT_EQ(widget->width(), place.width());
            }
            // A list's template height includes the open list; closed it is as high as its field.
            if (control.kind == res::ControlKind::List) {
                EXPECT_LT(widget->height(), place.height());
            } else {
                EXPECT_EQ(widget->height(), place.height());
            }
        }
        PressEsc(window);
    });
    Run(dialog);
}

TEST_F(QtDialogFrameworkTest, ControlsAreOfTheirTemplateKinds) {
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        auto* slider = ControlOf<QSlider>(window, ctl::kRow1Slider);
        EXPECT_EQ(slider->orientation(), Qt::Horizontal);
        EXPECT_EQ(slider->tickPosition(), QSlider::NoTicks);
        EXPECT_EQ(slider->minimum(), 0);
        EXPECT_EQ(slider->maximum(), 100) << "a new trackbar's range";
        EXPECT_TRUE(ControlOf<QLineEdit>(window, ctl::kRow1Value)->isReadOnly());
        auto* list = ControlOf<QComboBox>(window, ctl::kDeviceList);
        EXPECT_TRUE(list->isEditable());
        EXPECT_EQ(list->insertPolicy(), QComboBox::NoInsert);
        EXPECT_EQ(Text(ControlOf<QLabel>(window, ctl::kRow4Label)->text()), "PWM Freq.");
        EXPECT_EQ(Text(ControlOf<QCheckBox>(window, ctl::kSync)->text()), "Sync");
        for (int id : {ctl::kLoad, ctl::kSave, ctl::kTest, ctl::kApply, ctl::kDefault}) {
            auto* button = ControlOf<QPushButton>(window, id);
            EXPECT_FALSE(button->autoDefault()) << id;
            EXPECT_FALSE(button->isDefault()) << id;
        }
        PressEsc(window);
    });
    Run(res::ControllerDialog());
}

TEST_F(QtDialogFrameworkTest, TabOrderIsTemplateOrderAndTheFirstFieldGetsTheFocusSelected) {
    const res::DialogTemplate& dialog = res::TestDialog();
    script.WhenDialog(res::kTestDialogId, [&](QWidget* window) {
        EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
        auto* address = ControlOf<QLineEdit>(window, testdlg::kAddress);
        EXPECT_EQ(window->focusWidget(), address);
        EXPECT_EQ(Text(address->selectedText()), "0");

        std::vector<QWidget*> expected;
        for (const res::ControlTemplate& control : dialog.controls)
            if (control.kind != res::ControlKind::Label && control.kind != res::ControlKind::StatusText)
                expected.push_back(ControlOf<QWidget>(window, control.id));
        std::vector<QWidget*> chain{address};
        for (QWidget* next = address->nextInFocusChain(); next != address && chain.size() < expected.size();
             next = next->nextInFocusChain())
            if (next->focusPolicy() & Qt::TabFocus) chain.push_back(next);
        EXPECT_EQ(chain, expected);
        PressEsc(window);
    });
    logic.onInit = [](DialogWindow& window) {
        window.Controls().SetText(testdlg::kAddress, L"0");
        return true;
    };
    Run(dialog);
}

TEST_F(QtDialogFrameworkTest, TrackbarRangeAndPositionAsWin32) {
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        logic.Take();
        ControlPanel& panel = logic.Panel();
        const int id = ctl::kRow2Slider;
        auto* slider = ControlOf<QSlider>(window, id);
        panel.SetRange(id, 0, 56);
        panel.SetPos(id, 20);
        panel.SetRange(id, 0, 40);
        EXPECT_EQ(panel.GetPos(id), 20) << "an in-range thumb stays";
        panel.SetRange(id, 0, 10);
        EXPECT_EQ(panel.GetPos(id), 10) << "an out-of-range thumb goes to the nearest end";
        panel.SetRange(id, 15, 30);
        EXPECT_EQ(panel.GetPos(id), 15);
        panel.SetPos(id, 99);
        EXPECT_EQ(panel.GetPos(id), 30);
        panel.SetPos(id, -4);
        EXPECT_EQ(panel.GetPos(id), 15);
        EXPECT_EQ(slider->value(), 15);
        EXPECT_TRUE(logic.Take().empty()) << "the program's moves send no scroll";

        panel.SetRange(id, 0, 50);
        panel.SetPos(id, 20);
        PressKey(slider, Qt::Key_End);
        PressKey(slider, Qt::Key_Home);
        PressKey(slider, Qt::Key_Right);
        PressKey(slider, Qt::Key_PageDown);
        PressKey(slider, Qt::Key_Up);
        PressKey(slider, Qt::Key_PageUp);
        PressKey(slider, Qt::Key_Down);
        // Each handler sees the position the action produced; Up and PageUp go towards the
        // minimum, Down and PageDown towards the maximum, as on a trackbar.
        EXPECT_EQ(logic.Take(), (Lines{"hscroll 1002 at 50", "hscroll 1002 at 0", "hscroll 1002 at 1",
                                       "hscroll 1002 at 11", "hscroll 1002 at 10", "hscroll 1002 at 0",
                                       "hscroll 1002 at 1"}));
        // Against the end of its travel the key still reports, as a trackbar does.
        PressKey(slider, Qt::Key_Home);
        PressKey(slider, Qt::Key_Left);
        EXPECT_EQ(logic.Take(), (Lines{"hscroll 1002 at 0", "hscroll 1002 at 0"}));

        panel.Enable(id, false);
        PressKey(slider, Qt::Key_End);
        EXPECT_EQ(panel.GetPos(id), 0) << "a disabled slider takes no input";
        EXPECT_TRUE(logic.Take().empty());
        PressEsc(window);
    });
    Run(res::ControllerDialog());
}

TEST_F(QtDialogFrameworkTest, ListSelectionAsAComboBox) {
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        logic.Take();
        ControlPanel& panel = logic.Panel();
        const int id = ctl::kList2Left;
        panel.Show(id, true);
        auto* list = ControlOf<QComboBox>(window, id);
        panel.InsertItem(id, 0, L"Level 0");
        panel.InsertItem(id, 1, L"Level 2");
        EXPECT_EQ(panel.GetSelection(id), -1) << "items alone select nothing";
        EXPECT_EQ(Text(list->currentText()), "");
        panel.InsertItem(id, 1, L"Level 1");
        panel.InsertItem(id, -1, L"Level 3");
        panel.InsertItem(id, 9, L"beyond the end");
        ASSERT_EQ(list->count(), 4);
        EXPECT_EQ(Text(list->itemText(1)), "Level 1");
        EXPECT_EQ(Text(list->itemText(3)), "Level 3");

        panel.SetSelection(id, 2);
        EXPECT_EQ(panel.GetSelection(id), 2);
        EXPECT_EQ(Text(list->currentText()), "Level 2");
        panel.InsertItem(id, 0, L"Level -1");
        EXPECT_EQ(panel.GetSelection(id), 3) << "an item put before the selection moves it";
        EXPECT_EQ(Text(list->currentText()), "Level 2");
        panel.SetSelection(id, 7);
        EXPECT_EQ(panel.GetSelection(id), -1);
        EXPECT_EQ(Text(list->currentText()), "");
        EXPECT_TRUE(logic.Take().empty()) << "the program's changes do not notify";

        Pick(list, 1);
        EXPECT_EQ(panel.GetSelection(id), 1);
        EXPECT_EQ(Text(list->currentText()), "Level 0");
        EXPECT_EQ(logic.Take(), (Lines{"1049 selection"}));

        Type(list, QStringLiteral("7"));
        EXPECT_EQ(panel.GetSelection(id), -1) << "typed text is no selection";
        EXPECT_EQ(Text(list->currentText()), "Level 07");
        EXPECT_EQ(logic.Take(), (Lines{"1049 text"}));
        panel.InsertItem(id, 0, L"Level -2");
        EXPECT_EQ(Text(list->currentText()), "Level 07") << "the typed text stays";
        EXPECT_EQ(panel.GetSelection(id), -1);

        PressKey(list, Qt::Key_Down);
        EXPECT_NE(panel.GetSelection(id), -1) << "the keyboard picks an item";
        EXPECT_EQ(logic.Take(), (Lines{"1049 selection"}));

        panel.ClearList(id);
        EXPECT_EQ(panel.GetSelection(id), -1);
        EXPECT_EQ(list->count(), 0);
        EXPECT_EQ(Text(list->currentText()), "");
        EXPECT_TRUE(logic.Take().empty());
        PressEsc(window);
    });
    Run(res::ControllerDialog());
}

TEST_F(QtDialogFrameworkTest, CheckBoxHasToggledWhenItsClickArrives) {
    std::vector<bool> seen;
    logic.onCommand = [&](int id, Notification what) {
        if (id == ctl::kSync && what == Notification::Clicked) seen.push_back(logic.Panel().IsChecked(ctl::kSync));
    };
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        auto* sync = ControlOf<QCheckBox>(window, ctl::kSync);
        Click(sync);
        Click(sync);
        logic.Panel().SetCheck(ctl::kSync, true);
        EXPECT_TRUE(sync->isChecked());
        Click(sync);
        PressEsc(window);
    });
    Run(res::ControllerDialog());
    EXPECT_EQ(seen, (std::vector<bool>{true, false, false}));
}

TEST_F(QtDialogFrameworkTest, EditFieldsReportTheProgramsTextAndEveryKey) {
    script.WhenDialog(res::kTestDialogId, [&](QWidget* window) {
        logic.Take();
        logic.Panel().SetText(testdlg::kData, L"12");
        logic.Panel().SetText(testdlg::kResult, L"OK");  // a status text: no notification
        EXPECT_EQ(logic.Take(), (Lines{"1023 text"}));
        EXPECT_EQ(logic.Window().GetText(testdlg::kResult), L"OK");

        auto* address = ControlOf<QLineEdit>(window, testdlg::kAddress);
        address->selectAll();
        Type(address, QStringLiteral("5A"));
        EXPECT_EQ(logic.Window().GetText(testdlg::kAddress), L"5A");
        EXPECT_EQ(logic.Take(), (Lines{"1021 text", "1021 text"}));

        auto* port = ControlOf<QLineEdit>(window, testdlg::kPort);
        Type(port, QStringLiteral("1x2-"));
        EXPECT_EQ(Text(port->text()), "12") << "a digits-only field refuses other keys";
        EXPECT_EQ(logic.Take(), (Lines{"1033 text", "1033 text"}));

        logic.Window().FocusAndSelectAll(testdlg::kPort);
        EXPECT_EQ(window->focusWidget(), port);
        EXPECT_EQ(Text(port->selectedText()), "12");

        Click(ControlOf<QPushButton>(window, testdlg::kRead));
        EXPECT_EQ(logic.Take(), (Lines{"1024 clicked"}));
        PressEsc(window);
    });
    Run(res::TestDialog());
}

// Where the focus is when the user presses the key, and the key.
struct KeyCase {
    const char* name;
    int focus;
    Qt::Key key;
    const char* event;
};

void PrintTo(const KeyCase& keyCase, std::ostream* out) { *out << keyCase.name; }

class DialogKeyTest : public QtDialogFrameworkTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(DialogKeyTest, EnterAndEscAreTheDialogsWhereverTheFocusIs) {
    logic.endOnCancel = false;  // the logic decides: here nothing ends the dialog
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        logic.Take();
        auto* focus = ControlOf<QWidget>(window, GetParam().focus);
        PressKey(focus, GetParam().key);
        EXPECT_EQ(logic.Take(), (Lines{GetParam().event}));
        EXPECT_TRUE(window->isVisible());
        logic.endOnCancel = true;
        window->close();
    });
    Run(res::ControllerDialog());
    EXPECT_EQ(logic.events, (Lines{"cancel", "destroy"}));
}

INSTANTIATE_TEST_SUITE_P(Keys, DialogKeyTest,
                         ::testing::Values(KeyCase{"EnterInDeviceList", ctl::kDeviceList, Qt::Key_Return, "ok"},
                                           KeyCase{"KeypadEnterInDeviceList", ctl::kDeviceList, Qt::Key_Enter, "ok"},
                                           KeyCase{"EnterOnButton", ctl::kApply, Qt::Key_Return, "ok"},
                                           KeyCase{"EnterOnSlider", ctl::kRow1Slider, Qt::Key_Return, "ok"},
                                           KeyCase{"EnterOnCheckBox", ctl::kSync, Qt::Key_Return, "ok"},
                                           KeyCase{"EnterInValueField", ctl::kRow1Value, Qt::Key_Return, "ok"},
                                           KeyCase{"EscInDeviceList", ctl::kDeviceList, Qt::Key_Escape, "cancel"},
                                           KeyCase{"EscOnButton", ctl::kDefault, Qt::Key_Escape, "cancel"}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(QtDialogFrameworkTest, TheCloseBoxAsksTheLogicAndEndDialogEndsTheRun) {
    logic.endOnCancel = false;
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
        window->close();
        EXPECT_TRUE(window->isVisible()) << "the logic kept it open";
        logic.endOnOk = true;
        PressKey(window, Qt::Key_Return);
    });
    EXPECT_EQ(Run(res::ControllerDialog()), kIdOk);
    EXPECT_EQ(logic.events, (Lines{"init", "cancel", "ok", "destroy"}));
}

TEST_F(QtDialogFrameworkTest, EndedDuringItsInitialisationTheDialogNeverShows) {
    bool shownDuringMessage = true;
    bool ownedByTheDialog = false;
    logic.onInit = [&](DialogWindow& window) {
        window.ShowMessage(L"Device not support.", L"RTX Halvorn Controller", MessageIcon::None);
        window.EndDialog(kIdCancel);
        return true;
    };
    script.WhenMessageBox([&](QWidget* box) {
        auto* message = qobject_cast<QMessageBox*>(box);
        EXPECT_EQ(Text(message->text()), "Device not support.");
        EXPECT_EQ(Text(message->windowTitle()), "RTX Halvorn Controller");
        EXPECT_EQ(message->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(message->standardButtons(), QMessageBox::Ok);
        QWidget* owner = message->parentWidget();
        ownedByTheDialog = owner && owner->objectName() == DialogName(res::kControllerDialogId);
        shownDuringMessage = owner && owner->isVisible();
        ClickOk(box);
    });
    EXPECT_EQ(Run(res::ControllerDialog()), kIdCancel);
    EXPECT_TRUE(ownedByTheDialog);
    EXPECT_FALSE(shownDuringMessage);
    EXPECT_EQ(logic.events, (Lines{"init", "destroy"}));
    EXPECT_EQ(framework.RunningDialog(), nullptr);
}

TEST_F(QtDialogFrameworkTest, FrameworkMessageBoxHasNoOwnerAndAWarningIcon) {
    script.WhenMessageBox([&](QWidget* box) {
        auto* message = qobject_cast<QMessageBox*>(box);
        EXPECT_EQ(message->parentWidget(), nullptr);
        EXPECT_EQ(message->icon(), QMessageBox::Warning);
        EXPECT_EQ(Text(message->windowTitle()), "HalvornController");
        ClickOk(box);
    });
    script.Start();
    framework.ShowMessage(L"NV Control initialize failed!", L"HalvornController", MessageIcon::Warning);
    EXPECT_TRUE(script.Done());
}

TEST_F(QtDialogFrameworkTest, TimerTicksGoOnWhileANestedDialogRunsItsOwner) {
    ProbeLogic nested;
    int ticksAtNestedOpen = -1;
    int ticksAtNestedClose = -1;
    QString nestedOwner;
    logic.onInit = [](DialogWindow& window) {
        EXPECT_EQ(window.SetTimer(6281, 1), 6281u);
        return true;
    };
    logic.onCommand = [&](int id, Notification what) {
        if (id == ctl::kApply && what == Notification::Clicked) framework.RunModal(res::TestDialog(), nested);
    };
    nested.onInit = [&](DialogWindow&) {
        if (QWidget* owner = framework.RunningDialog()->parentWidget()) nestedOwner = owner->objectName();
        ticksAtNestedOpen = logic.ticks;
        return true;
    };
    script.WhenDialog(res::kControllerDialogId,
                      [&](QWidget* window) { Click(ControlOf<QPushButton>(window, ctl::kApply)); });
    script.When(
        "three ticks of the owner's timer while nested",
        [&](QWidget* window) {
            return window->objectName() == DialogName(res::kTestDialogId) && logic.ticks >= ticksAtNestedOpen + 3;
        },
        [&](QWidget* window) {
            ticksAtNestedClose = logic.ticks;
            PressEsc(window);
        });
    script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) { PressEsc(window); });
    Run(res::ControllerDialog());
    EXPECT_GE(ticksAtNestedClose, ticksAtNestedOpen + 3);
    EXPECT_EQ(nestedOwner, DialogName(res::kControllerDialogId));
    EXPECT_EQ(nested.events.back(), "destroy");
}

}  // namespace
}  // namespace qt_test
