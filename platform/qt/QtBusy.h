#pragma once
// The program's windows while an operation of the controller window runs, and the pauses inside
// it. A pause keeps the event loop going, so the windows paint and the window system gets its
// answers; the user's input (keys, mouse buttons, wheel) is dropped meanwhile rather than held
// back, since held-back input would reach the controls once they take input again. What starts
// work from outside the user's hands, our timers' ticks and a second start's raise request, waits
// for the operation's end.
#include <functional>
#include <memory>
#include <vector>

#include "model/Sleeper.h"

class QObject;

namespace qtfront {

// One program's busy state: made where the program's objects are made and handed to the dialog
// framework, the process services and the sleeper, which must all share it: a raise request or a
// pause must see the operation the dialog began. Used on the Qt application's thread only.
class BusyState {
public:
    BusyState();
    ~BusyState();
    BusyState(const BusyState&) = delete;
    BusyState& operator=(const BusyState&) = delete;

    // Runs the event loop for at least `milliseconds` (0: once over what is queued now) with the
    // user's input dropped.
    void PumpEventsFor(unsigned milliseconds);

    // An operation starts; the wait cursor shows and the user's input is dropped until it ends.
    void Begin();
    // The operation has ended: input that arrived meanwhile is dropped, the cursor restored, and
    // what waited runs from the event loop.
    void End();
    bool IsBusy() const;
    // Runs `action` now, or from the event loop once the running operation has ended; not at all
    // when `context` is gone by then.
    void WhenIdle(QObject* context, std::function<void()> action);

private:
    class InputDrop;
    struct Waiting;

    // The filter sits on the application while anyone needs the user's input dropped; a pause
    // inside an operation is such a user too.
    void StartDroppingInput();
    void StopDroppingInput();

    std::unique_ptr<QObject> inputDropper_;
    int inputDropUsers_ = 0;
    int depth_ = 0;
    std::vector<Waiting> waiting_;
};

// Pauses through the event loop; without a QCoreApplication they only sleep.
class QtSleeper final : public Sleeper {
public:
    explicit QtSleeper(BusyState& busy) : busy_(busy) {}
    void Sleep(unsigned milliseconds) override;

private:
    BusyState& busy_;
};

}  // namespace qtfront
