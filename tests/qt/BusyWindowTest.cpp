// The Qt controller window during a Sync Apply whose pauses run the event loop: the window keeps
// painting and answering, while the user's clicks and keys, our timer's ticks and a second start's
// raise request that come in the middle of a pause start nothing. The traffic is that of the same
// Apply left alone.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "ControllerFixture.h"
#include "platform/qt/QtBusy.h"
#include "res/ControlIds.h"
#include "res/DialogTemplates.h"
#include "sim/MachineSleeper.h"

namespace qt_test {
namespace {

const std::wstring kName = L"RTX Halvorn Controller";

// Pauses are recorded on the simulated machine and then run the event loop, as the program's
// own pauses do; the first one after Arm first lets `interrupt` queue what comes meanwhile.
class PumpingSleeper final : public Sleeper {
public:
    PumpingSleeper(sim::SimMachine& machine, qtfront::BusyState& busy) : recorded_(machine), busy_(busy) {}
    void Arm(std::function<void()> interrupt) { interrupt_ = std::move(interrupt); }
    void Sleep(unsigned milliseconds) override {
        recorded_.Sleep(milliseconds);
        if (interrupt_) {
            std::function<void()> interrupt = std::move(interrupt_);
            interrupt_ = nullptr;
            interrupt();
        }
        busy_.PumpEventsFor(0);
    }

private:
    sim::MachineSleeper recorded_;
    qtfront::BusyState& busy_;
    std::function<void()> interrupt_;
};

void PostClick(QWidget* widget) {
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    const QPointF global = widget->mapToGlobal(at);
    QCoreApplication::postEvent(widget, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                                        Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(widget, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                                        Qt::NoButton, Qt::NoModifier));
}

void PostKey(QWidget* widget, Qt::Key key) {
    QCoreApplication::postEvent(widget, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
    QCoreApplication::postEvent(widget, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier));
}

class QtBusyWindowTest : public ControllerFixture {
protected:
    struct Outcome {
        std::vector<std::string> traffic;  // every transfer and pause from the click on Apply
        bool busyInPause = false;
        bool waitCursorInPause = false;
        bool applyEnabledInPause = true;
        bool minimisedAfterPause = false;
        bool applyEnabledAfter = false;
        bool restoredAfter = false;
    };

    // The MCU-driven board selected, Sync on, FBVDD at 1.475 V and NV Freq. at 600 kHz, then
    // Apply; with `interrupt`, the first pause finds a click on Apply, a click and a key on the
    // NV Freq. slider, Enter, Esc, a timer tick and a raise request queued, with the window
    // minimised.
    Outcome ApplyOn(sim::SimMachine& board, bool interrupt) {
        PumpingSleeper pauses(board, busy);
        Outcome outcome;
        std::size_t mark = 0;
        script.WhenDialog(res::kControllerDialogId, [&](QWidget* window) {
            Pick(ControlOf<QComboBox>(window, ctl::kDeviceList), 1);
            Click(ControlOf<QCheckBox>(window, ctl::kSync));
            auto* fbvdd = ControlOf<QSlider>(window, ctl::kRow2Slider);
            fbvdd->setFocus(Qt::TabFocusReason);
            for (int i = 220 - 192; i < 236 - 192; ++i) QTest::keyClick(fbvdd, Qt::Key_Right);
            // NV Freq. from 400 to 600 kHz: written after FBVDD's pause, from the slider as it is then.
            auto* frequency = ControlOf<QSlider>(window, ctl::kRow4Slider);
            frequency->setFocus(Qt::TabFocusReason);
            for (int i = 0; i < 2; ++i) QTest::keyClick(frequency, Qt::Key_Right);
            auto* apply = ControlOf<QPushButton>(window, ctl::kApply);
            qtfront::QtProcessServices secondStart(busy, lockDir.path());
            if (interrupt)
                pauses.Arm([&] {
                    outcome.busyInPause = busy.IsBusy();
                    outcome.waitCursorInPause =
                        QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
                    outcome.applyEnabledInPause = apply->isEnabled();
                    window->showMinimized();
                    PostClick(apply);
                    PostClick(frequency);
                    PostKey(frequency, Qt::Key_Right);
                    PostKey(window, Qt::Key_Return);
                    PostKey(window, Qt::Key_Escape);
                    window->findChild<QTimer*>(QStringLiteral("timer6281"))->start(0);
                    secondStart.AcquireInstanceLock(kName);
                    secondStart.RaiseRunningInstance(kName);
                    // Long enough for the request to be taken and a zero timer to fire.
                    for (int round = 0; round < 20; ++round) busy.PumpEventsFor(0);
                    outcome.minimisedAfterPause = window->isMinimized();
                });
            mark = board.Log().Entries().size();
            Click(apply);
            outcome.applyEnabledAfter = apply->isEnabled();
            const std::size_t end = board.Log().Entries().size();
            if (interrupt) {
                QElapsedTimer waited;
                waited.start();
                while (window->isMinimized() && waited.elapsed() < 10000) QCoreApplication::processEvents();
                outcome.restoredAfter = !window->isMinimized();
            }
            window->findChild<QTimer*>(QStringLiteral("timer6281"))->start(1000);
            for (std::size_t i = mark; i < end; ++i)
                outcome.traffic.push_back(sim::TransferLog::Format(board.Log().Entries()[i]));
            PressEsc(window);
        });
        CHalvornApp application(framework, services, RunContext{board, pauses, profiles}, {});
        script.Start();
        EXPECT_FALSE(application.InitInstance());
        EXPECT_TRUE(script.Done());
        return outcome;
    }
};

TEST_F(QtBusyWindowTest, InputTicksAndRaiseDuringAPauseStartNothingAndTheTrafficStaysTheSame) {
    sim::SimMachine alone;
    sim::LoadDefaultScenario(alone);
    const Outcome reference = ApplyOn(alone, false);
    const Outcome interrupted = ApplyOn(machine, true);

    EXPECT_EQ(interrupted.traffic, reference.traffic);
    std::vector<std::string> writes;
    for (const std::string& line : interrupted.traffic)
        if (line.rfind("W ", 0) == 0) writes.push_back(line);
    // The MCU-driven board first (its transfer log position is GPU 0), then the direct one.
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes.at(0), "W gpu0 p1 5A:18 [03 01 EC 00] ok");
    EXPECT_EQ(writes.at(1), "W gpu0 p1 5A:13 [01 06] ok");
    EXPECT_TRUE(interrupted.busyInPause);
    EXPECT_TRUE(interrupted.waitCursorInPause);
    EXPECT_FALSE(interrupted.applyEnabledInPause);
    EXPECT_TRUE(interrupted.minimisedAfterPause) << "the raise request came through in the middle of Apply";
    EXPECT_TRUE(interrupted.applyEnabledAfter);
    EXPECT_TRUE(interrupted.restoredAfter) << "the raise request was lost";
    EXPECT_FALSE(busy.IsBusy());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace qt_test
