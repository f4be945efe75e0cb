// HalvornController: the RTX Halvorn Controller on Qt Widgets.
#include <QApplication>
#include <QStringList>

#include <cstdio>
#include <memory>

#include "app/CommandLine.h"
#include "model/Sleeper.h"
#include "platform/qt/CommandLineProgram.h"
#include "platform/qt/ControllerProgram.h"
#include "platform/qt/QtBusy.h"
#include "platform/qt/QtProcessServices.h"
#include "res/Version.h"

int main(int argc, char* argv[]) {
    // Before Qt asks for it: a session without a runtime directory (the boot unit) gets one of its
    // own instead of Qt's warning.
    qtfront::ProvideSessionDirectory();
    // Decided before Qt starts: what needs no window needs no display, and a mistyped switch must
    // not open one (a script would hang, a headless machine abort in Qt's platform plugin).
    const CommandLine line = ParseCommandLine(qtfront::WideArguments(argc, argv), qtfront::kFrontEndSwitches);
    if (line.usageError.empty() && line.command == Command::Version) {
        std::printf("RTX Halvorn Controller %s\n", res::kVersion);
        return 0;
    }
    // QApplication takes its own switches (-platform, -style, ...) out of the arguments here.
    std::unique_ptr<QCoreApplication> application;
    if (line.RunsWithoutWindow())
        application = std::make_unique<QCoreApplication>(argc, argv);
    else
        application = std::make_unique<QApplication>(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    if (!arguments.isEmpty()) arguments.removeFirst();  // the program's own path

    qtfront::BusyState busy;
    qtfront::QtProcessServices services(busy);
    qtfront::QtSleeper sleeper(busy);
    return qtfront::RunController(arguments, services, sleeper, busy);
}
