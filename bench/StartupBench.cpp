// Start-up time to the shown window, and resident memory then, of the Qt program on the built-in
// simulated machine beside two floors started the same way: the controller's dialog template built
// by the same dialog framework with no boards and no detection (what the toolkit's widgets cost),
// and a bare Qt dialog. A fresh process each time, on the offscreen platform. Prints figures;
// asserts nothing.
//
//   startup_bench [runs]      (default 15 runs of each, alternating)
//
// Each run starts this program again as a child that runs the controller, shows the template
// alone or shows an empty dialog. The child reports on stdout when its window first paints, with its VmRSS from
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
#include "dialog/DialogFramework.h"
#include "platform/qt/AppIcon.h"
#include "platform/qt/ControllerProgram.h"
#include "platform/qt/QtDialogFramework.h"
#include "res/DialogTemplates.h"
#include "platform/qt/QtBusy.h"
#include "platform/qt/QtProcessServices.h"

namespace {

const char kControllerMode[] = "--child=controller";
const char kTemplateMode[] = "--child=template";
const char kBareMode[] = "--child=bare";

// The controller's template on screen with nothing behind it: no NvAPI, no detection, no boards.
class TemplateOnly final : public DialogLogic {
public:
    bool OnInitDialog(DialogWindow& window) override {
        window_ = &window;
        window.SetAppIcon();
        return true;
    }
    void OnCommand(int, Notification) override {}
    void OnHScroll(int) override {}
    void OnTimer(std::uintptr_t) override {}
    void OnOK() override {}
    // The close the first paint asks for ends the run, as the controller's own close does.
    void OnCancel() override { window_->EndDialog(kIdCancel); }
    void OnDestroy() override {}

private:
    DialogWindow* window_ = nullptr;
};

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

enum class Child { Controller, Template, Bare };

int RunChild(int argc, char* argv[], Child child) {
    QApplication application(argc, argv);
    FirstPaint watcher;
    application.installEventFilter(&watcher);
    if (child == Child::Controller) {
        qtfront::BusyState busy;
        qtfront::QtProcessServices services(busy);
        ThreadSleeper sleeper;
        return qtfront::RunController({QStringLiteral("--simulate")}, services, sleeper, busy);
    }
    if (child == Child::Template) {
        QApplication::setWindowIcon(qtfront::AppIcon());
        qtfront::BusyState busy;
        qtfront::QtDialogFramework framework(busy);
        TemplateOnly logic;
        framework.RunModal(res::ControllerDialog(), logic);
        return 0;
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

    // Alternating, so that a slow moment of the machine falls on all three alike.
    struct Figures {
        const char* mode;
        const char* label;
        std::vector<double> ms;
        std::vector<long> kb;
    };
    Figures children[] = {{kControllerMode, "controller window, --simulate", {}, {}},
                          {kTemplateMode, "template alone, no boards", {}, {}},
                          {kBareMode, "bare QDialog", {}, {}}};
    // One of each first, unmeasured, so that all find the libraries in the page cache.
    Sample warm;
    for (const Figures& c : children)
        if (!RunOnce(c.mode, runtimeDir.path(), workDir.path(), warm)) return 1;
    for (int i = 0; i < runs; ++i) {
        for (Figures& c : children) {
            Sample sample;
            if (!RunOnce(c.mode, runtimeDir.path(), workDir.path(), sample)) return 1;
            c.ms.push_back(sample.ms);
            c.kb.push_back(sample.rssKb);
        }
    }

    std::printf("Start-up to the shown window, offscreen, %d runs each (median, [min, max]):\n", runs);
    for (const Figures& c : children)
        std::printf("  %-30s %7.1f ms  [%.1f, %.1f]   VmRSS %6ld kB\n", c.label, Median(c.ms),
                    *std::min_element(c.ms.begin(), c.ms.end()), *std::max_element(c.ms.begin(), c.ms.end()),
                    Median(c.kb));
    const auto ratio = [&](const Figures& over, const Figures& under, const char* name) {
        std::printf("  ratio controller / %s: time %.2f, memory %.2f\n", name, Median(over.ms) / Median(under.ms),
                    static_cast<double>(Median(over.kb)) / static_cast<double>(Median(under.kb)));
    };
    ratio(children[0], children[1], "template alone");
    ratio(children[0], children[2], "bare");
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && QByteArray(argv[1]) == kControllerMode) return RunChild(argc, argv, Child::Controller);
    if (argc > 1 && QByteArray(argv[1]) == kTemplateMode) return RunChild(argc, argv, Child::Template);
    if (argc > 1 && QByteArray(argv[1]) == kBareMode) return RunChild(argc, argv, Child::Bare);
    return RunParent(argc, argv);
}
