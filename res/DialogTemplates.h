#pragma once
// The two dialog templates as data: the one source of the windows' layout for every front end.
// Positions are in dialog units.
#include <vector>

namespace res {

enum class ControlKind {
    Label,        // static text
    StatusText,   // static text the program fills
    Slider,       // horizontal trackbar without ticks
    ValueField,   // read-only edit with border, auto horizontal scroll
    TextField,    // editable edit with border, auto horizontal scroll
    DigitField,   // as TextField, accepting only digits when typed into
    List,         // drop-down combo with editable field (a vertical scroll bar for the device list)
    CheckBox,     // auto check box
    PushButton,
};

struct ControlTemplate {
    int id;  // -1 for labels without an ID
    ControlKind kind;
    const wchar_t* text;
    bool visible;
    int x, y, width, height;
};

struct DialogTemplate {
    int id;
    const wchar_t* title;
    int width, height;
    bool minimizeBox;
    std::vector<ControlTemplate> controls;  // template order, which is also the tab order
};

constexpr int kControllerDialogId = 104;
constexpr int kTestDialogId = 103;
constexpr int kAppIconId = 130;

const DialogTemplate& ControllerDialog();
const DialogTemplate& TestDialog();
const ControlTemplate* FindControl(const DialogTemplate& dialog, int id);

}  // namespace res
