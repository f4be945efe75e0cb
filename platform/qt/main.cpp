// HalvornController: the RTX Halvorn Controller on Qt Widgets.
#include <QApplication>
#include <QStringList>

#include <memory>
#include <optional>

#include "model/Sleeper.h"
#include "platform/qt/CommandLineProgram.h"
#include "platform/qt/ControllerProgram.h"
#include "platform/qt/InfoSwitches.h"
#include "platform/qt/QtBusy.h"
#include "platform/qt/QtProcessServices.h"

int main(int argc, char* argv[]) {
    if (const std::optional<int> status = qtfront::AnswerInfoSwitch(argc, argv)) return *status;
    // Without the window no display is needed: scripts, log-on units and remote shells have none.
    // QApplication takes its own switches (-platform, -style, ...) out of the arguments here.
    std::unique_ptr<QCoreApplication> application;
    if (qtfront::RunsWithoutWindow(argc, argv))
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
