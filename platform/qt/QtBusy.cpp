#include "platform/qt/QtBusy.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace qtfront {

namespace {

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        default:
            return false;
    }
}

class InputDropper final : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override { return IsUserInput(event->type()); }
};

// Installed on the application while anyone needs the user's input dropped. A run without the
// window has a QCoreApplication only, so the filter goes on that.
class InputDrop {
public:
    InputDrop() {
        if (users_++ == 0) QCoreApplication::instance()->installEventFilter(&dropper_);
    }
    ~InputDrop() {
        if (--users_ == 0) QCoreApplication::instance()->removeEventFilter(&dropper_);
    }
    InputDrop(const InputDrop&) = delete;
    InputDrop& operator=(const InputDrop&) = delete;

private:
    static inline int users_ = 0;
    static inline InputDropper dropper_;
};

struct Waiting {
    QPointer<QObject> context;
    std::function<void()> action;
};

int busyDepth = 0;
std::optional<InputDrop> busyDrop;
std::vector<Waiting> waiting;

}  // namespace

void QtSleeper::Sleep(unsigned milliseconds) {
    if (!QCoreApplication::instance()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return;
    }
    PumpEventsFor(milliseconds);
}

void PumpEventsFor(unsigned milliseconds) {
    InputDrop drop;
    if (milliseconds == 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    QElapsedTimer elapsed;
    elapsed.start();
    for (qint64 left = milliseconds; left > 0; left = static_cast<qint64>(milliseconds) - elapsed.elapsed()) {
        QEventLoop loop;
        QTimer::singleShot(std::chrono::milliseconds(left), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void BeginBusy() {
    if (busyDepth++ > 0) return;
    busyDrop.emplace();
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void EndBusy() {
    if (busyDepth == 0) return;
    if (busyDepth > 1) {
        --busyDepth;
        return;
    }
    // What the window system queued while nothing pumped is read and dropped now, still busy.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    busyDepth = 0;
    busyDrop.reset();
    QApplication::restoreOverrideCursor();
    std::vector<Waiting> due = std::move(waiting);
    waiting.clear();
    for (Waiting& w : due) {
        if (!w.context) continue;
        QTimer::singleShot(0, w.context.data(), std::move(w.action));
    }
}

bool IsBusy() { return busyDepth > 0; }

void WhenIdle(QObject* context, std::function<void()> action) {
    if (!IsBusy()) {
        action();
        return;
    }
    waiting.push_back(Waiting{QPointer<QObject>(context), std::move(action)});
}

}  // namespace qtfront
