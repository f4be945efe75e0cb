#include "app/CHalvornApp.h"

#include <utility>

#include "app/AppTitle.h"
#include "app/CommandLine.h"
#include "res/DialogTemplates.h"

CHalvornApp::CHalvornApp(DialogFramework& framework, ProcessServices& services, const RunContext& context,
                         const CommandLine& line, BoardFactory createBoard)
    : framework_(framework),
      services_(services),
      context_(context),
      internalTest_(line.InternalTest()),
      createBoard_(std::move(createBoard)) {}

bool CHalvornApp::InitInstance() {
    services_.InitCommonControls();

    if (!services_.AcquireInstanceLock(kAppTitle)) {
        services_.RaiseRunningInstance(kAppTitle);
        return false;
    }
    singleInstanceLock_ = true;

    gpus_.emplace(context_.nvapi);
    if (!gpus_->IsReady()) {
        // Released before the message, so a start while it is on screen is not a second instance.
        Cleanup();
        framework_.ShowMessage(L"NV Control initialize failed!", services_.ApplicationName(), MessageIcon::Warning);
        return false;
    }

    {
        const BoardServices boards{*gpus_, context_.sleeper, context_.profiles};
        CDlg3080TiZYL window(framework_, *this, boards, services_, services_.ApplicationName(), createBoard_);
        mainWindow_ = &window;
        if (internalTest_) window.SetInternalTestMode(true);
        framework_.RunModal(res::ControllerDialog(), window);
        mainWindow_ = nullptr;
        Cleanup();
    }
    return false;
}

void CHalvornApp::Cleanup() {
    gpus_.reset();
    if (singleInstanceLock_) {
        services_.ReleaseInstanceLock();
        singleInstanceLock_ = false;
    }
}

ControlPanel* CHalvornApp::ControllerPanel() { return mainWindow_ ? mainWindow_->Panel() : nullptr; }
