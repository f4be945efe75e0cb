#pragma once
// The dialog framework on raw Win32: DialogBoxParamW on the program's dialog resources (built
// from the same tables as every other front end), the common controls reached by control ID, and
// the dialog's messages turned into the core's events:
//
//   WM_INITDIALOG                         OnInitDialog
//   WM_COMMAND IDOK / IDCANCEL            OnOK / OnCancel (Enter; Esc and the close box)
//   WM_COMMAND BN_CLICKED (buttons, boxes) OnCommand Clicked
//   WM_COMMAND EN_CHANGE, CBN_EDITCHANGE  OnCommand TextChanged
//   WM_COMMAND CBN_SELCHANGE              OnCommand SelectionChanged
//   WM_HSCROLL from a trackbar            OnHScroll with its control ID, for every scroll code
//   WM_TIMER                              OnTimer, then the default processing
//   WM_DESTROY                            OnDestroy
//
// A dialog that was given the application icon also paints it while minimised and returns it for
// WM_QUERYDRAGICON. A dialog opened while another runs is owned, and disabled meanwhile, by it.
#include <string>
#include <vector>

#include "dialog/DialogFramework.h"

namespace win32 {

class Win32Dialog;

class Win32DialogFramework final : public DialogFramework {
public:
    // instance: the HINSTANCE whose resources hold the dialogs and icon 130.
    explicit Win32DialogFramework(void* instance);

    int RunModal(const res::DialogTemplate& dialog, DialogLogic& logic) override;
    void ShowMessage(const std::wstring& text, const std::wstring& caption, MessageIcon icon) override;

private:
    void* instance_;                   // HINSTANCE
    void* appIcon_;                    // HICON, loaded once, shared by every window
    std::vector<Win32Dialog*> running_;  // innermost last
};

}  // namespace win32
