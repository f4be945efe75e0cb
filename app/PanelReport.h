#pragma once
// What the controller window's panel shows, read off a headless panel in the window's own texts:
// for front ends without a window (the command line, the simulator tool).
#include <string>
#include <vector>

#include "headless/HeadlessPanel.h"

struct PanelReading {
    int id;               // the control that holds the value: value field, list or check box
    std::wstring label;   // the row's label, or the check box's text
    std::wstring value;   // the value field's text, the list's selected item, "on" or "off"
    std::wstring detail;  // for a slider row: its position, range and whether it takes input
    bool read = true;     // false: the board's value could not be read, the panel shows another
};

// The shown controls in the window's order, top to bottom: the check boxes, the slider rows,
// the list rows left before right. A list without a selection reads "(none)". unread: the
// controls whose value the controller could not read from the board.
std::vector<PanelReading> ReadPanel(const HeadlessPanel& panel, const std::vector<int>& unread = {});

// Whether a reading holds a value of the board at all (the Sync box is the window's own).
bool IsBoardValue(const PanelReading& reading);

// One line per reading, "NVVDD: 1.20000 V  (slider 64 in 0-128, disabled)" or "NVVDD: not read",
// for a listing.
std::vector<std::wstring> PanelLines(const std::vector<PanelReading>& readings);

// "NVVDD 1.20000 V, FBVDD not read, ..., Auto on": the board's values.
std::wstring BoardSettingsText(const std::vector<PanelReading>& readings);
