#pragma once
// The application: makes sure it runs once, brings up GPU access, runs the controller window
// modally and tears down what it created. Platform services come in through the ports.
#include <optional>
#include <string>
#include <vector>

#include "app/CDlg3080TiZYL.h"
#include "app/CommandLine.h"
#include "app/ProcessServices.h"
#include "app/RunContext.h"
#include "dialog/ControlPanel.h"
#include "dialog/DialogFramework.h"
#include "gpu/GpuList.h"

class CHalvornApp final : public PanelSource {
public:
    // line: the command line as the front end parsed it; the window takes its file name.
    CHalvornApp(DialogFramework& framework, ProcessServices& services, const RunContext& context,
                const CommandLine& line, BoardFactory createBoard = CreateBoardController);

    // The whole run. Always false: the process ends without a message loop of its own.
    bool InitInstance();
    // GPU list released, then the single-instance lock.
    void Cleanup();

    // The controller window's panel while that window is the main window, else null.
    ControlPanel* ControllerPanel() override;

private:
    DialogFramework& framework_;
    ProcessServices& services_;
    RunContext context_;
    bool internalTest_;
    BoardFactory createBoard_;

    // The run's GPU list: made after the single-instance lock, destroyed by Cleanup.
    std::optional<GpuList> gpus_;
    bool singleInstanceLock_ = false;
    CDlg3080TiZYL* mainWindow_ = nullptr;
};
