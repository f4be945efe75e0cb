// HalvornController: the RTX Halvorn Controller on Qt Widgets.
#include <QApplication>
#include <QStringList>

#include "boards/Sleeper.h"
#include "platform/qt/ControllerProgram.h"
#include "platform/qt/InfoSwitches.h"
#include "platform/qt/QtProcessServices.h"

int main(int argc, char* argv[]) {
    if (const std::optional<int> status = qtfront::AnswerInfoSwitch(argc, argv)) return *status;
    // Qt takes its own switches (-platform, -style, ...) out of the arguments here.
    QApplication application(argc, argv);
    QStringList arguments = QApplication::arguments();
    if (!arguments.isEmpty()) arguments.removeFirst();  // the program's own path

    qtfront::QtProcessServices services;
    ThreadSleeper sleeper;
    return qtfront::RunController(arguments, services, sleeper);
}
