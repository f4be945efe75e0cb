#pragma once
// The user's part while a modal run blocks the test: steps that each wait for a modal window
// (a dialog of a template, a message box) to be the innermost one on screen and then act on it
// through its widgets, as a user would with mouse and keyboard.
//
// The script polls from the event loop that runs at the time, so its steps run inside the modal
// loops of the program, nested ones included. A step that waits too long fails the test and
// closes whatever modal window is up, so a broken program cannot hang the test run.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QAbstractItemView>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>
#include <string>
#include <utility>

namespace qt_test {

inline QString DialogName(int templateId) { return QStringLiteral("dlg%1").arg(templateId); }
inline QString ControlName(int id) { return QStringLiteral("ctl%1").arg(id); }

// A control of a dialog by its ID; null (and a failure) when the dialog has none of that type.
template <class Widget>
Widget* ControlOf(QWidget* dialog, int id) {
    Widget* widget = dialog ? dialog->findChild<Widget*>(ControlName(id), Qt::FindDirectChildrenOnly) : nullptr;
    EXPECT_NE(widget, nullptr) << "control " << id;
    return widget;
}

inline std::string Text(const QString& text) { return text.toStdString(); }

class UserScript {
public:
    using Match = std::function<bool(QWidget*)>;
    using Action = std::function<void(QWidget*)>;

    UserScript() { context_ = new QObject(); }
    ~UserScript() { delete context_; }
    UserScript(const UserScript&) = delete;
    UserScript& operator=(const UserScript&) = delete;

    UserScript& When(std::string what, Match match, Action action) {
        steps_.push_back(Step{std::move(what), std::move(match), std::move(action)});
        return *this;
    }
    UserScript& WhenDialog(int templateId, Action action) {
        const QString name = DialogName(templateId);
        return When("dialog " + std::to_string(templateId),
                    [name](QWidget* window) { return window->objectName() == name; }, std::move(action));
    }
    UserScript& WhenMessageBox(Action action) {
        return When("message box", [](QWidget* window) { return qobject_cast<QMessageBox*>(window) != nullptr; },
                    std::move(action));
    }

    // Call right before the modal run starts.
    void Start() {
        clock_.start();
        Schedule();
    }
    bool Done() const { return steps_.empty(); }

private:
    struct Step {
        std::string what;
        Match match;
        Action action;
    };

    static constexpr qint64 kPatienceMs = 30000;

    void Schedule() { QTimer::singleShot(0, context_, [this] { Poll(); }); }

    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (steps_.empty()) return;
        if (clock_.elapsed() > kPatienceMs) {
            if (!gaveUp_) ADD_FAILURE() << "gave up waiting for " << steps_.front().what;
            gaveUp_ = true;
            if (modal) modal->close();
            Schedule();
            return;
        }
        // Scheduled before acting: an action that opens a nested modal run keeps the script going.
        Schedule();
        if (!modal || !modal->isVisible() || !steps_.front().match(modal)) return;
        Step step = std::move(steps_.front());
        steps_.pop_front();
        clock_.restart();
        step.action(modal);
    }

    QObject* context_;
    std::deque<Step> steps_;
    QElapsedTimer clock_;
    bool gaveUp_ = false;
};

// What a user does.
inline void Click(QAbstractButton* button) {
    ASSERT_NE(button, nullptr);
    if (qobject_cast<QCheckBox*>(button)) {
        // On the box itself, which the label's width does not move.
        const int middle = button->height() / 2;
        QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(middle, middle));
    } else {
        QTest::mouseClick(button, Qt::LeftButton);
    }
}

inline void PressKey(QWidget* widget, Qt::Key key) {
    ASSERT_NE(widget, nullptr);
    widget->setFocus(Qt::TabFocusReason);
    QTest::keyClick(widget, key);
}

inline void Type(QWidget* widget, const QString& keys) {
    ASSERT_NE(widget, nullptr);
    widget->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(widget, keys);
}

// Presses on the slider's handle, moves the mouse dx pixels in steps, lets go.
inline void Drag(QSlider* slider, int dx) {
    ASSERT_NE(slider, nullptr);
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->sliderPosition();
    option.sliderValue = slider->value();
    option.subControls = QStyle::SC_SliderHandle;
    const QPoint from =
        slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider).center();
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, from);
    constexpr int kSteps = 8;
    QPoint at = from;
    for (int step = 1; step <= kSteps; ++step) {
        at = from + QPoint(dx * step / kSteps, 0);
        QTest::mouseMove(slider, at);
    }
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, at);
}

// Opens the list and clicks the item.
inline void Pick(QComboBox* list, int index) {
    ASSERT_NE(list, nullptr);
    list->showPopup();
    QAbstractItemView* view = list->view();
    ASSERT_TRUE(view->isVisible());
    const QRect item = view->visualRect(view->model()->index(index, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, item.center());
}

// The user's Esc on a message box or any dialog: the window's own handling decides.
inline void PressEsc(QWidget* window) { QTest::keyClick(window, Qt::Key_Escape); }

inline void ClickOk(QWidget* messageBox) {
    auto* box = qobject_cast<QMessageBox*>(messageBox);
    ASSERT_NE(box, nullptr);
    Click(box->button(QMessageBox::Ok));
}

}  // namespace qt_test
