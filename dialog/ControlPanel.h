#pragma once
// The controls of the controller window that board controllers configure and read, addressed by
// control ID. Realized by the Win32 dialog, the Qt window and a headless model for tests.
#include <string>

class ControlPanel {
public:
    virtual ~ControlPanel() = default;

    virtual bool HasControl(int id) const = 0;

    virtual void SetText(int id, const std::wstring& text) = 0;  // label, value field
    virtual void Show(int id, bool visible) = 0;
    virtual void Enable(int id, bool enabled) = 0;               // slider
    virtual void SetRange(int id, int min, int max) = 0;         // slider, no redraw
    virtual void SetPos(int id, int pos) = 0;                    // slider, clamped into its range
    virtual int GetPos(int id) const = 0;
    virtual void ClearList(int id) = 0;                          // nothing selected afterwards
    virtual void InsertItem(int id, int index, const std::wstring& text) = 0;
    virtual void SetSelection(int id, int index) = 0;            // out of range: no selection
    virtual int GetSelection(int id) const = 0;                  // -1 when nothing is selected
    virtual void SetCheck(int id, bool checked) = 0;
    virtual bool IsChecked(int id) const = 0;
};

// How a controller reaches the panel: the application's main window, when that window is the
// controller window; null otherwise (then Activate does nothing).
class PanelSource {
public:
    virtual ~PanelSource() = default;
    virtual ControlPanel* ControllerPanel() = 0;
};
