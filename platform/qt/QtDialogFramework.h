#pragma once
// The dialog framework on Qt Widgets. A dialog is a QDialog laid out from its template in dialog
// units of its own font; its controls behave as the Win32 controls the core was written for:
// - a slider is a trackbar: a new range keeps an in-range thumb, a position is clamped, and the
//   scroll notification comes from the user's actions only, never from the program;
// - a list is a drop-down combo with an edit field: typing leaves no selection, only the user's
//   picks notify, a program's insertions and resets never do;
// - a check box has toggled when its click arrives; every text the program puts into an edit
//   field notifies as a change, as WM_SETTEXT does;
// - Enter is the dialog's OK and Esc or the close box its Cancel, whatever control has the focus;
//   the dialog's logic decides whether either ends the dialog.
// Control widgets are named "ctl<ID>" and dialogs "dlg<template ID>".
#include <string>
#include <vector>

#include "dialog/DialogFramework.h"

class QFont;
class QRect;
class QWidget;

namespace qtfront {

class BusyState;
class QtDialog;

// Dialog units as Windows defines them for a dialog font: horizontally a quarter of the average
// width of the letters A-Z and a-z, vertically an eighth of the font's height.
struct DialogUnits {
    int baseX = 0;
    int baseY = 0;

    static DialogUnits Of(const QFont& font);
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
};

class QtDialogFramework final : public DialogFramework {
public:
    // busy: the program's, shared with its process services and pauses.
    explicit QtDialogFramework(BusyState& busy) : busy_(busy) {}
    ~QtDialogFramework() override = default;
    QtDialogFramework(const QtDialogFramework&) = delete;
    QtDialogFramework& operator=(const QtDialogFramework&) = delete;

    int RunModal(const res::DialogTemplate& dialog, DialogLogic& logic) override;
    void ShowMessage(const std::wstring& text, const std::wstring& caption, MessageIcon icon) override;

    // The innermost dialog that runs, or null.
    QWidget* RunningDialog() const;

private:
    BusyState& busy_;
    std::vector<QtDialog*> running_;
};

// A message box as the core's messages look: one OK button, a warning icon or none.
void ShowMessageBox(QWidget* owner, const std::wstring& text, const std::wstring& caption, MessageIcon icon);

}  // namespace qtfront
