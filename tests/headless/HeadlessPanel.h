#pragma once
// The controls of a dialog template without any window system, behaving as the Win32 controls
// do: a trackbar clamps its thumb into its range, a reset combo box has no selection, typing into
// a combo's field clears the selection, a typed key goes in at the caret of an edit field and the
// text the program sets puts the caret back at the start. The tests drive it as a user would;
// nothing outside tests/ links it.
#include <map>
#include <string>
#include <vector>

#include "dialog/ControlPanel.h"
#include "res/DialogTemplates.h"

class HeadlessPanel final : public ControlPanel {
public:
    struct Control {
        res::ControlKind kind = res::ControlKind::Label;
        std::wstring text;
        bool visible = true;
        bool enabled = true;
        int min = 0, max = 100, pos = 0;  // trackbar defaults
        std::vector<std::wstring> items;
        int selection = -1;
        bool checked = false;
        // The selected text of an edit field or a list's field runs from the anchor to the caret;
        // with both at one place, nothing is selected.
        int anchor = 0, caret = 0;
    };

    explicit HeadlessPanel(const res::DialogTemplate& dialog = res::ControllerDialog());

    bool HasControl(int id) const override;
    void SetText(int id, const std::wstring& text) override;
    void Show(int id, bool visible) override;
    void Enable(int id, bool enabled) override;
    void SetRange(int id, int min, int max) override;
    void SetPos(int id, int pos) override;
    int GetPos(int id) const override;
    void ClearList(int id) override;
    void InsertItem(int id, int index, const std::wstring& text) override;
    void SetSelection(int id, int index) override;
    int GetSelection(int id) const override;
    void SetCheck(int id, bool checked) override;
    bool IsChecked(int id) const override;

    // What a user sees.
    const Control& Get(int id) const;
    std::wstring Text(int id) const { return Get(id).text; }
    bool IsVisible(int id) const { return Get(id).visible; }
    bool IsEnabled(int id) const { return Get(id).enabled; }
    std::vector<std::wstring> Items(int id) const { return Get(id).items; }
    int Caret(int id) const { return Get(id).caret; }
    bool WholeTextSelected(int id) const;

    // What a user does. Each returns false when the control would not take the action.
    bool UserMoveSlider(int id, int pos);        // clamped like a drag to the end of the track
    bool UserSelectItem(int id, int index);
    // The whole text replaced at once, as a paste over the selected whole text; the caret ends
    // behind it. A combo's field: no selection afterwards.
    void UserTypeText(int id, const std::wstring& text);
    // One key in an edit field or a list's field: a character replaces the selected text or goes
    // in at the caret, L'\b' (Backspace) removes the selected text or the character before the
    // caret. Returns whether the text changed.
    bool UserTypeKey(int id, wchar_t key);
    void UserSelectAll(int id);
    void UserPlaceCaret(int id, int pos);  // a click into the text, clamped to it
    bool UserClickCheck(int id);                 // toggles; returns the new state

    // Removes a control, as a window built from another template would lack it.
    void RemoveControl(int id) { controls_.erase(id); }

private:
    Control* Find(int id);
    const Control* Find(int id) const;

    std::map<int, Control> controls_;
};
