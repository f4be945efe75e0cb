#include "platform/qt/QtBusy.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
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

}  // namespace

class BusyState::InputDrop {
public:
    explicit InputDrop(BusyState& busy) : busy_(busy) { busy_.StartDroppingInput(); }
    ~InputDrop() { busy_.StopDroppingInput(); }
    InputDrop(const InputDrop&) = delete;
    InputDrop& operator=(const InputDrop&) = delete;

private:
    BusyState& busy_;
};

struct BusyState::Waiting {
    QPointer<QObject> context;
    std::function<void()> action;
};

BusyState::BusyState() : inputDropper_(std::make_unique<InputDropper>()) {}

BusyState::~BusyState() {
    // Gone mid-operation (an exception through it): the application must not keep the filter.
    if (inputDropUsers_ > 0 && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(inputDropper_.get());
}

// A run without the window has a QCoreApplication only, so the filter goes on that.
void BusyState::StartDroppingInput() {
    if (inputDropUsers_++ == 0) QCoreApplication::instance()->installEventFilter(inputDropper_.get());
}

void BusyState::StopDroppingInput() {
    if (--inputDropUsers_ == 0) QCoreApplication::instance()->removeEventFilter(inputDropper_.get());
}

void QtSleeper::Sleep(unsigned milliseconds) {
    if (!QCoreApplication::instance()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return;
    }
    busy_.PumpEventsFor(milliseconds);
}

void BusyState::PumpEventsFor(unsigned milliseconds) {
    InputDrop drop(*this);
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

void BusyState::Begin() {
    if (depth_++ > 0) return;
    StartDroppingInput();
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void BusyState::End() {
    if (depth_ == 0) return;
    if (depth_ > 1) {
        --depth_;
        return;
    }
    // What the window system queued while nothing pumped is read and dropped now, still busy.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    depth_ = 0;
    StopDroppingInput();
    QApplication::restoreOverrideCursor();
    std::vector<Waiting> due = std::move(waiting_);
    waiting_.clear();
    for (Waiting& w : due) {
        if (!w.context) continue;
        QTimer::singleShot(0, w.context.data(), std::move(w.action));
    }
}

bool BusyState::IsBusy() const { return depth_ > 0; }

void BusyState::WhenIdle(QObject* context, std::function<void()> action) {
    if (!IsBusy()) {
        action();
        return;
    }
    waiting_.push_back(Waiting{QPointer<QObject>(context), std::move(action)});
}

}  // namespace qtfront
