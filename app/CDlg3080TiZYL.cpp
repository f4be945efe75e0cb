#include "app/CDlg3080TiZYL.h"

#include <array>
#include <utility>

#include "app/AppTitle.h"
#include "diag/CDlgTest.h"
#include "res/ControlIds.h"
#include "res/DialogTemplates.h"

namespace {

// The window's own controls that start work. The panel's controls stay as the controllers set
// them (the NVVDD slider follows Auto); the window drops the user's input to them while busy.
constexpr std::array<int, 8> kStartWork = {ctl::kDeviceList, ctl::kSync, ctl::kAuto, ctl::kLoad,
                                           ctl::kSave, ctl::kTest, ctl::kApply, ctl::kDefault};

}  // namespace

CDlg3080TiZYL::CDlg3080TiZYL(DialogFramework& framework, PanelSource& panels, const BoardServices& services,
                             ProcessServices& process, std::wstring applicationName, BoardFactory createBoard)
    : framework_(framework),
      panels_(panels),
      services_(services),
      process_(process),
      applicationName_(std::move(applicationName)),
      createBoard_(std::move(createBoard)) {}

bool CDlg3080TiZYL::OnInitDialog(DialogWindow& window) {
    window_ = &window;
    window.SetAppIcon();
    if (TakeTheBoards()) EnumerateBoards();
    // Started even when enumeration has just ended the window; the destroy handler kills it.
    timerId_ = window.SetTimer(kTimerId, kTimerPeriodMs);
    if (internalTestMode_) window.Controls().Show(ctl::kTest, true);
    return true;
}

bool CDlg3080TiZYL::TakeTheBoards() {
    holdsTheBoards_ = process_.AcquireMachineLock();
    if (holdsTheBoards_) return true;
    // A run or the boot unit is at work on the boards: detection's transfers must not go between
    // its own. The pauses keep the window answering the system, as during an Apply.
    RunOperation([this] {
        for (unsigned waited = 0; !holdsTheBoards_ && waited < kLockWaitMs; waited += kLockPollMs) {
            services_.sleeper.Sleep(kLockPollMs);
            holdsTheBoards_ = process_.AcquireMachineLock();
        }
    });
    if (holdsTheBoards_) return true;
    window_->ShowMessage(L"Another RTX Halvorn Controller is at work on the boards: a window in another session, "
                         L"or a command-line run. Close it and try again.",
                         kAppTitle, MessageIcon::Warning);
    window_->EndDialog(kIdCancel);
    return false;
}

void CDlg3080TiZYL::GiveTheBoardsBack() {
    if (!holdsTheBoards_) return;
    process_.ReleaseMachineLock();
    holdsTheBoards_ = false;
}

void CDlg3080TiZYL::EnumerateBoards() {
    ControlPanel& controls = window_->Controls();
    controllers_.clear();
    controls.ClearList(ctl::kDeviceList);
    selectedIndex_ = 0;

    for (SupportedController& found : FindControllers(services_, createBoard_, panels_)) {
        controllers_.push_back(Board{std::move(found.board), found.gpuIndex});
        controls.InsertItem(ctl::kDeviceList, static_cast<int>(controllers_.size()) - 1, found.name);
    }

    if (controllers_.empty()) {
        // Nothing left to do on the boards: a run need not wait for the user to read the message.
        GiveTheBoardsBack();
        window_->ShowMessage(L"Device not support.", kAppTitle, MessageIcon::None);
        window_->EndDialog(kIdCancel);
        return;
    }

    RunOperation([&] {
        for (Board& board : controllers_) board.controller->Activate();
        controls.SetSelection(ctl::kDeviceList, selectedIndex_);
        controllers_[static_cast<std::size_t>(selectedIndex_)].controller->Activate();
    });
}

template <typename Work>
void CDlg3080TiZYL::RunOperation(Work&& work) {
    if (busy_ || !window_) return;
    SetBusy(true);
    work();
    SetBusy(false);
}

void CDlg3080TiZYL::SetBusy(bool busy) {
    ControlPanel& controls = window_->Controls();
    // The window is told first and last: it keeps the focus across the disabled stretch, and
    // drops the input that arrived meanwhile before anything takes input again; the guard holds
    // until it has.
    if (busy) {
        busy_ = true;
        window_->SetBusy(true);
    }
    for (int id : kStartWork) controls.Enable(id, !busy);
    if (!busy) {
        window_->SetBusy(false);
        busy_ = false;
    }
}

IVgaControl* CDlg3080TiZYL::Selected() {
    if (selectedIndex_ < 0 || static_cast<std::size_t>(selectedIndex_) >= controllers_.size()) return nullptr;
    return controllers_[static_cast<std::size_t>(selectedIndex_)].controller.get();
}

void CDlg3080TiZYL::OnCommand(int id, Notification what) {
    // Also a command the system or another program sends during an operation's pause.
    if (!window_ || busy_) return;
    if (id == ctl::kDeviceList) {
        // Typing into the list's field changes nothing.
        if (what == Notification::SelectionChanged) RunOperation([this] { OnSelectionChanged(); });
        return;
    }
    if (what != Notification::Clicked) return;

    IVgaControl* selected = Selected();
    // No board: the window is ending and has nothing to forward to.
    if (!selected) return;
    ControlPanel& controls = window_->Controls();
    switch (id) {
        case ctl::kApply:
            RunOperation([this] { OnApply(); });
            break;
        case ctl::kDefault:
            RunOperation([this, selected] {
                selected->LoadDefaults();
                ApplySyncRule(&IVgaControl::LoadDefaults);
            });
            break;
        case ctl::kAuto:
            RunOperation([selected, &controls] { selected->SetAuto(controls.IsChecked(ctl::kAuto)); });
            break;
        case ctl::kSync:
            syncEnabled_ = controls.IsChecked(ctl::kSync);
            break;
        case ctl::kTest:
            // A dialog of its own: it disables this window while it runs.
            OnTest();
            break;
        case ctl::kLoad:
            RunOperation([this] { OnLoad(); });
            break;
        case ctl::kSave:
            RunOperation([this, selected] { selected->SaveProfile(syncEnabled_); });
            break;
        default:
            break;
    }
}

void CDlg3080TiZYL::OnSelectionChanged() {
    const int selection = window_->Controls().GetSelection(ctl::kDeviceList);
    if (selection < 0 || static_cast<std::size_t>(selection) >= controllers_.size()) return;
    selectedIndex_ = selection;
    Selected()->Activate();
}

void CDlg3080TiZYL::OnApply() {
    // Taken before the selected board's Apply, which shows what that board reads back: a write
    // it did not take must not change what the other boards receive.
    wanted_ = Selected()->Wanted();
    ApplyWanted();
}

void CDlg3080TiZYL::OnLoad() {
    std::optional<LoadedProfile> loaded = Selected()->LoadProfile();
    if (!loaded) return;
    syncEnabled_ = loaded->sync;
    window_->Controls().SetCheck(ctl::kSync, syncEnabled_);
    wanted_ = std::move(loaded->wanted);
    ApplyWanted();
}

void CDlg3080TiZYL::ApplyWanted() {
    // A board without a panel has nothing to give: each board then applies its own panel.
    const auto apply = [this](IVgaControl& board) {
        if (wanted_) board.Apply(*wanted_);
        else board.Apply();
    };
    apply(*Selected());
    if (syncEnabled_) ForOthersOfTheFamily(apply);
}

void CDlg3080TiZYL::ApplySyncRule(void (IVgaControl::*operation)()) {
    if (!syncEnabled_) return;
    ForOthersOfTheFamily([operation](IVgaControl& other) { (other.*operation)(); });
}

template <typename Work>
void CDlg3080TiZYL::ForOthersOfTheFamily(Work&& work) {
    const int family = Selected()->GetFamily();
    for (std::size_t j = 0; j < controllers_.size(); ++j) {
        if (static_cast<int>(j) == selectedIndex_) continue;
        IVgaControl& other = *controllers_[j].controller;
        if (other.GetFamily() == family) work(other);
    }
}

void CDlg3080TiZYL::OnTest() {
    // Raw register access exists only for a program started for internal testing.
    if (!internalTestMode_) return;
    CDlgTest dialog(services_.gpus, controllers_[static_cast<std::size_t>(selectedIndex_)].gpuIndex, applicationName_);
    framework_.RunModal(res::TestDialog(), dialog);
}

void CDlg3080TiZYL::OnHScroll(int sliderId) {
    // A slider moved in the middle of a Sync would change what the boards after it receive.
    if (busy_) return;
    if (IVgaControl* selected = Selected()) selected->OnSliderMoved(sliderId);
}

void CDlg3080TiZYL::OnTimer(std::uintptr_t timerId) {
    (void)timerId;
    if (busy_) return;
    if (IVgaControl* selected = Selected()) selected->OnTimerTick();
}

// The window does not close in the middle of a write sequence.
void CDlg3080TiZYL::OnOK() {
    if (window_ && !busy_) window_->EndDialog(kIdOk);
}

void CDlg3080TiZYL::OnCancel() {
    if (window_ && !busy_) window_->EndDialog(kIdCancel);
}

void CDlg3080TiZYL::OnDestroy() {
    for (Board& board : controllers_) board.controller.reset();
    controllers_.clear();
    if (timerId_ != 0) {
        window_->KillTimer(timerId_);
        timerId_ = 0;
    }
    services_.profiles.Close();
    GiveTheBoardsBack();
    window_ = nullptr;
}
