#pragma once
// The controller window: the device list of the supported boards, each with its controller, and
// the routing of every user action and timer tick to the selected board's controller. What the
// user wants is the window's own value: taken from the panel at Apply, or from the profile at
// Load, and handed as it is to the selected board and, with Sync, to the rest of its family.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/BoardDetection.h"
#include "app/ProcessServices.h"
#include "dialog/ControlPanel.h"
#include "dialog/DialogFramework.h"
#include "window/IVgaControl.h"

class CDlg3080TiZYL final : public DialogLogic {
public:
    static constexpr std::uintptr_t kTimerId = 6281;
    static constexpr unsigned kTimerPeriodMs = 1000;
    // While a command-line run holds the lock on the boards, the starting window asks for it this
    // often, and gives up after kLockWaitMs: nothing that long is a run, but another session's
    // window, which a hidden window must not wait for unseen.
    static constexpr unsigned kLockPollMs = 100;
    static constexpr unsigned kLockWaitMs = 30000;

    // applicationName captions the messages the Internal Test dialog shows. The window holds the
    // machine lock on the boards from before its detection until it is destroyed, and closes the
    // run's profile store then.
    CDlg3080TiZYL(DialogFramework& framework, PanelSource& panels, const BoardServices& services,
                  ProcessServices& process, std::wstring applicationName,
                  BoardFactory createBoard = CreateBoardController);

    // Shows the Test button; set before the modal run.
    void SetInternalTestMode(bool enabled) { internalTestMode_ = enabled; }

    // The window's controls while it exists, else null: what the controllers work on.
    ControlPanel* Panel() { return window_ ? &window_->Controls() : nullptr; }

    bool OnInitDialog(DialogWindow& window) override;
    void OnCommand(int id, Notification what) override;
    void OnHScroll(int sliderId) override;
    void OnTimer(std::uintptr_t timerId) override;
    void OnOK() override;
    void OnCancel() override;
    void OnDestroy() override;

private:
    struct Board {
        std::unique_ptr<IVgaControl> controller;
        // The board's own GPU: entries skip GPUs without a supported board, so the entry's
        // position is not a GPU index.
        std::uint32_t gpuIndex;
    };

    // Takes the machine lock, waiting in the busy state for the run that holds it; false when it
    // did not come, after saying so.
    bool TakeTheBoards();
    void GiveTheBoardsBack();
    void EnumerateBoards();
    // Runs one operation of the window with the window busy; does nothing while another runs.
    // Pauses inside an operation let the window paint and answer the system, so a click, a key or
    // a tick may arrive in the middle of one: it must not start a second.
    template <typename Work>
    void RunOperation(Work&& work);
    void SetBusy(bool busy);
    IVgaControl* Selected();
    void OnSelectionChanged();
    void OnApply();
    void OnLoad();
    // The selected board, then with Sync the rest of its family, applies what the user wants.
    void ApplyWanted();
    void OnTest();
    // The selected board has done `operation`; with Sync the rest of its family follows in list order.
    void ApplySyncRule(void (IVgaControl::*operation)());
    template <typename Work>
    void ForOthersOfTheFamily(Work&& work);

    DialogFramework& framework_;
    PanelSource& panels_;
    BoardServices services_;
    ProcessServices& process_;
    std::wstring applicationName_;
    BoardFactory createBoard_;
    DialogWindow* window_ = nullptr;

    int selectedIndex_ = 0;
    std::uintptr_t timerId_ = 0;
    bool internalTestMode_ = false;
    std::vector<Board> controllers_;
    std::optional<WantedSettings> wanted_;
    bool syncEnabled_ = false;
    bool busy_ = false;
    bool holdsTheBoards_ = false;
};
