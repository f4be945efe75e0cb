#pragma once
// The dialog framework as the core needs it: run a dialog modally from a template, reach its
// controls by ID, message boxes, a window timer, the window icons. Realized on Win32, on Qt and
// headlessly for tests; the core never sees a window system.
#include <cstdint>
#include <string>

#include "dialog/ControlPanel.h"
#include "res/DialogTemplates.h"

enum class MessageIcon { None, Warning };

// Dialog end codes, as Windows numbers them.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

// One dialog on screen, from its creation until it is destroyed.
class DialogWindow {
public:
    virtual ~DialogWindow() = default;

    // Every control of the template, by ID.
    virtual ControlPanel& Controls() = 0;
    // The text of an edit field, a list's field or a label.
    virtual std::wstring GetText(int id) const = 0;
    // Puts the keyboard focus into a text field and selects its whole text.
    virtual void FocusAndSelectAll(int id) = 0;

    // Ends the modal run once the current handler returns; the window is then destroyed.
    virtual void EndDialog(int code) = 0;
    // Starts a timer whose ticks arrive as OnTimer; returns its ID, 0 when none could be started.
    virtual std::uintptr_t SetTimer(std::uintptr_t id, unsigned periodMs) = 0;
    virtual void KillTimer(std::uintptr_t id) = 0;
    // A message box owned by this window; returns when the user has closed it.
    virtual void ShowMessage(const std::wstring& text, const std::wstring& caption, MessageIcon icon) = 0;
    // The application icon as the window's large and small icon.
    virtual void SetAppIcon() = 0;
    // An operation of the window runs (true) or has ended (false). Meanwhile the window shows the
    // wait cursor, keeps painting and answering the system during the pauses, drops the user's
    // input and holds back its timers and requests from outside; input that arrived meanwhile is
    // dropped when it ends, so a queued click never starts a second operation.
    virtual void SetBusy(bool busy) = 0;
};

enum class Notification { Clicked, TextChanged, SelectionChanged };

// What a dialog of the core does with its window's events.
class DialogLogic {
public:
    virtual ~DialogLogic() = default;
    virtual bool OnInitDialog(DialogWindow& window) = 0;
    virtual void OnCommand(int id, Notification what) = 0;
    virtual void OnHScroll(int sliderId) = 0;
    virtual void OnTimer(std::uintptr_t timerId) = 0;
    virtual void OnOK() = 0;      // Enter
    virtual void OnCancel() = 0;  // Esc or the close box
    virtual void OnDestroy() = 0;
};

class DialogFramework {
public:
    virtual ~DialogFramework() = default;
    // Creates the dialog, runs it modally until it ends and is destroyed; returns the end code.
    // A dialog opened while another runs is owned by it.
    virtual int RunModal(const res::DialogTemplate& dialog, DialogLogic& logic) = 0;
    // A message box without an owner window, captioned by the caller.
    virtual void ShowMessage(const std::wstring& text, const std::wstring& caption, MessageIcon icon) = 0;
};
