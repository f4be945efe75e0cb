// Start-up time to the shown window, and resident memory then, of the Qt program on the built-in
// simulated machine beside a bare Qt dialog started the same way: a fresh process each time, on
// the offscreen platform. Prints figures; asserts nothing.
//
//   startup_bench [runs]      (default 15 runs of each, alternating)
//
// Each run starts this program again as a child that either runs the controller or shows an
// empty dialog. The child reports on stdout when its window first paints, with its VmRSS from
// /proc/self/status, and then closes the window as a user would. The time is taken by the parent
// from starting the child to that report, so process start, dynamic loading and Qt's start-up
// count alike for both.
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "model/Sleeper.h"
#include "platform/qt/ControllerProgram.h"
#include "platform/qt/QtBusy.h"
#include "platform/qt/QtProcessServices.h"

namespace {

const char kControllerMode[] = "--child=controller";
const char kBareMode[] = "--child=bare";

long ResidentKilobytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    // /proc files claim to be empty: read them whole instead of up to their size.
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return std::atol(line.constData() + 6);
    return -1;
}

// Reports the first paint of a top-level window, then closes that window.
class FirstPaint final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!reported_ && event->type() == QEvent::Paint) {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget && widget->isWindow()) {
                reported_ = true;
                std::printf("shown %ld\n", ResidentKilobytes());
                std::fflush(stdout);
                QPointer<QWidget> window(widget);
                QTimer::singleShot(0, widget, [window] {
                    if (window) window->close();
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool reported_ = false;
};

int RunChild(int argc, char* argv[], bool controller) {
    QApplication application(argc, argv);
    FirstPaint watcher;
    application.installEventFilter(&watcher);
    if (controller) {
        qtfront::BusyState busy;
        qtfront::QtProcessServices services(busy);
        ThreadSleeper sleeper;
        return qtfront::RunController({QStringLiteral("--simulate")}, services, sleeper, busy);
    }
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Bare"));
    dialog.setFixedSize(480, 320);
    dialog.exec();
    return 0;
}

struct Sample {
    double ms = 0;
    long rssKb = 0;
};

bool RunOnce(const char* mode, const QString& runtimeDir, const QString& workDir, Sample& sample) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    // A window or run elsewhere on the machine holding the lock on the boards would add its wait.
    environment.insert(QStringLiteral("HALVORN_LOCK_DIR"), runtimeDir);
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(workDir);
    child.setProcessChannelMode(QProcess::SeparateChannels);

    QElapsedTimer clock;
    clock.start();
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(mode)});
    QByteArray output;
    while (!output.contains('\n')) {
        if (!child.waitForReadyRead(30000)) break;
        output += child.readAllStandardOutput();
    }
    sample.ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    child.waitForFinished(30000);
    if (!output.startsWith("shown ")) {
        std::fprintf(stderr, "%s: no window reported; stderr: %s\n", mode, child.readAllStandardError().constData());
        return false;
    }
    sample.rssKb = std::atol(output.constData() + 6);
    return true;
}

template <class T>
T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int RunParent(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    QTemporaryDir runtimeDir;
    QTemporaryDir workDir;
    if (!runtimeDir.isValid() || !workDir.isValid()) return 1;

    std::vector<double> controllerMs, bareMs;
    std::vector<long> controllerKb, bareKb;
    // One of each first, unmeasured, so both find the libraries in the page cache.
    Sample warm;
    if (!RunOnce(kControllerMode, runtimeDir.path(), workDir.path(), warm)) return 1;
    if (!RunOnce(kBareMode, runtimeDir.path(), workDir.path(), warm)) return 1;
    for (int i = 0; i < runs; ++i) {
        Sample controller, bare;
        if (!RunOnce(kControllerMode, runtimeDir.path(), workDir.path(), controller)) return 1;
        if (!RunOnce(kBareMode, runtimeDir.path(), workDir.path(), bare)) return 1;
        controllerMs.push_back(controller.ms);
        controllerKb.push_back(controller.rssKb);
        bareMs.push_back(bare.ms);
        bareKb.push_back(bare.rssKb);
    }

    const double cMs = Median(controllerMs), bMs = Median(bareMs);
    const long cKb = Median(controllerKb), bKb = Median(bareKb);
    std::printf("Start-up to the shown window, offscreen, %d runs each (median, [min, max]):\n", runs);
    std::printf("  controller window, --simulate %8.1f ms  [%.1f, %.1f]   VmRSS %6ld kB\n", cMs,
                *std::min_element(controllerMs.begin(), controllerMs.end()),
                *std::max_element(controllerMs.begin(), controllerMs.end()), cKb);
    std::printf("  bare QDialog                  %8.1f ms  [%.1f, %.1f]   VmRSS %6ld kB\n", bMs,
                *std::min_element(bareMs.begin(), bareMs.end()), *std::max_element(bareMs.begin(), bareMs.end()),
                bKb);
    std::printf("  ratio controller / bare: time %.2f, memory %.2f\n", cMs / bMs,
                static_cast<double>(cKb) / static_cast<double>(bKb));
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && QByteArray(argv[1]) == kControllerMode) return RunChild(argc, argv, true);
    if (argc > 1 && QByteArray(argv[1]) == kBareMode) return RunChild(argc, argv, false);
    return RunParent(argc, argv);
}
