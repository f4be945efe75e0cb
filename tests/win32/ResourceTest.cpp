// The Windows program's resources as compiled into HalvornController.exe, and its windows as
// Windows builds them from those resources, against the dialog template tables.
#include <strings.h>

#include <cstdint>
#include <cstdio>

#include "WineTest.h"
#include "res/DialogTemplates.h"

namespace {

using wine::DriverRun;
using K = res::ControlKind;

// Window and control styles, as the Windows headers number them.
constexpr std::uint32_t WS_POPUP = 0x80000000, WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000,
                        WS_CAPTION = 0x00C00000, WS_BORDER = 0x00800000, WS_VSCROLL = 0x00200000,
                        WS_SYSMENU = 0x00080000, WS_MINIMIZEBOX = 0x00020000, WS_TABSTOP = 0x00010000,
                        WS_EX_APPWINDOW = 0x00040000;
constexpr std::uint32_t DS_SETFONT = 0x40, DS_FIXEDSYS = 0x8, DS_MODALFRAME = 0x80, DS_CENTER = 0x800;
constexpr std::uint32_t ES_AUTOHSCROLL = 0x80, ES_READONLY = 0x800, ES_NUMBER = 0x2000, CBS_DROPDOWN = 0x2,
                        BS_PUSHBUTTON = 0x0, BS_AUTOCHECKBOX = 0x3, TBS_HORZ = 0x0, TBS_NOTICKS = 0x10, SS_LEFT = 0x0;

struct Expected {
    const char* className;
    std::uint32_t style;
};

Expected ExpectedFor(const res::DialogTemplate& dialog, const res::ControlTemplate& control) {
    Expected e{"", 0};
    switch (control.kind) {
        case K::Label:
        case K::StatusText:
            e = {"Static", SS_LEFT};
            break;
        case K::Slider:
            e = {"msctls_trackbar32", TBS_HORZ | TBS_NOTICKS | WS_TABSTOP};
            break;
        case K::ValueField:
            e = {"Edit", ES_AUTOHSCROLL | ES_READONLY | WS_BORDER | WS_TABSTOP};
            break;
        case K::TextField:
            e = {"Edit", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP};
            break;
        case K::DigitField:
            e = {"Edit", ES_AUTOHSCROLL | ES_NUMBER | WS_BORDER | WS_TABSTOP};
            break;
        case K::List:
            e = {"ComboBox", CBS_DROPDOWN | WS_TABSTOP};
            if (dialog.id == res::kControllerDialogId && control.id == 1012) e.style |= WS_VSCROLL;
            break;
        case K::CheckBox:
            e = {"Button", BS_AUTOCHECKBOX | WS_TABSTOP};
            break;
        case K::PushButton:
            e = {"Button", BS_PUSHBUTTON | WS_TABSTOP};
            break;
    }
    e.style |= WS_CHILD | (control.visible ? WS_VISIBLE : 0);
    return e;
}

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (const wchar_t* p = text; *p; ++p) out.push_back(static_cast<char>(*p));
    return out;
}

// "item ID CLASS style=0x... exstyle=0x... rect=X,Y,W,H text=TEXT" from `template`, and
// "control ID CLASS style=... exstyle=... visible=V rect=X,Y,W,H text=TEXT" from `layout`.
struct Item {
    int id = 0;
    std::string className;
    unsigned long style = 0, exStyle = 0;
    int visible = -1;
    int x = 0, y = 0, w = 0, h = 0;
    std::string text;
};

bool ParseItem(const std::string& line, Item& item) {
    char name[64] = {};
    int used = 0;
    if (std::sscanf(line.c_str(), "item %d %63s style=0x%lx exstyle=0x%lx rect=%d,%d,%d,%d text=%n", &item.id, name,
                    &item.style, &item.exStyle, &item.x, &item.y, &item.w, &item.h, &used) == 8 ||
        std::sscanf(line.c_str(), "control %d %63s style=0x%lx exstyle=0x%lx visible=%d rect=%d,%d,%d,%d text=%n",
                    &item.id, name, &item.style, &item.exStyle, &item.visible, &item.x, &item.y, &item.w, &item.h,
                    &used) == 9) {
        item.className = name;
        item.text = line.substr(static_cast<std::size_t>(used));
        return used > 0;
    }
    return false;
}

std::vector<Item> Items(const DriverRun& run, const char* kind) {
    std::vector<Item> items;
    for (const std::string& line : run.lines) {
        Item item;
        if (line.rfind(kind, 0) == 0 && ParseItem(line, item)) items.push_back(item);
    }
    return items;
}

bool SameClass(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

void ExpectTemplate(const DriverRun& run, const res::DialogTemplate& dialog) {
    const std::uint32_t style = DS_SETFONT | DS_FIXEDSYS | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION |
                                WS_SYSMENU | (dialog.minimizeBox ? WS_MINIMIZEBOX : 0);
    char head[160];
    std::snprintf(head, sizeof head, "style=0x%08X exstyle=0x%08X rect=0,0,%d,%d menu= class= font=8,MS Shell Dlg,400,0,1",
                  style, dialog.minimizeBox ? WS_EX_APPWINDOW : 0u, dialog.width, dialog.height);
    const std::string id = std::to_string(dialog.id);
    EXPECT_EQ(run.Answer("template " + id), std::string(head) + " items=" + std::to_string(dialog.controls.size()) +
                                                 " caption=" + Narrow(dialog.title));

    std::vector<Item> items;
    bool inDialog = false;
    for (const std::string& line : run.lines) {
        if (line.rfind("template ", 0) == 0) inDialog = line.rfind("template " + id + " ", 0) == 0;
        Item item;
        if (inDialog && ParseItem(line, item)) items.push_back(item);
    }
    ASSERT_EQ(items.size(), dialog.controls.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const res::ControlTemplate& t = dialog.controls[i];
        const Expected e = ExpectedFor(dialog, t);
        const Item& item = items[i];
        SCOPED_TRACE("dialog " + id + " item " + std::to_string(i) + " (" + std::to_string(t.id) + ")");
        EXPECT_EQ(item.id, t.id);
        EXPECT_TRUE(SameClass(item.className, e.className)) << item.className << " for " << e.className;
        EXPECT_EQ(item.style, e.style);
        EXPECT_EQ(item.exStyle, 0u);
        EXPECT_EQ((std::vector<int>{item.x, item.y, item.w, item.h}), (std::vector<int>{t.x, t.y, t.width, t.height}));
        EXPECT_EQ(item.text, Narrow(t.text));
    }
}

class Win32Resources : public wine::WineTest {};

TEST_F(Win32Resources, DialogTemplatesAndIconInTheProgramAreTheTables) {
    const std::string exe = WindowsPath(ProgramPath());
    const DriverRun run = Drive({"template", exe, "104", "template", exe, "103", "icon", exe, "130"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    ExpectTemplate(run, res::ControllerDialog());
    ExpectTemplate(run, res::TestDialog());
    // 32-bit images from 100 % to 200 % display scaling.
    EXPECT_EQ(run.Answer("icon 130"), "16x32,20x32,24x32,32x32,40x32,48x32,64x32");
}

TEST_F(Win32Resources, ManifestAsksForCommonControls6TheUsersRightsAndDpiAwareness) {
    const DriverRun run = Drive({"manifest", WindowsPath(ProgramPath())});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    std::string manifest;
    for (const std::string& line : run.lines) manifest += line + "\n";
    for (const char* wanted : {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                               "processorArchitecture=\"x86\" publicKeyToken=\"6595b64144ccf1df\"",
                               "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
                               ">true</dpiAware>"})
        EXPECT_NE(manifest.find(wanted), std::string::npos) << wanted << "\n" << manifest;
}

// Windows places a control at MulDiv(dialog units, base unit, 4 or 8) pixels; one pair of base
// units, that of the dialog's font, must account for every control and the window's size.
int MulDiv(int value, int numerator, int denominator) { return (value * numerator + denominator / 2) / denominator; }

void ExpectLaidOutInDialogUnits(const DriverRun& run, const res::DialogTemplate& dialog) {
    int clientWidth = 0, clientHeight = 0;
    ASSERT_EQ(std::sscanf(run.Answer("dialog").c_str(), "%*s %*s %*s client=%d,%d", &clientWidth, &clientHeight), 2)
        << run.Transcript();
    const std::vector<Item> items = Items(run, "control ");
    ASSERT_EQ(items.size(), dialog.controls.size()) << run.Transcript();

    int baseX = 0, baseY = 0;
    for (int bx = 1; bx <= 64 && !baseX; ++bx) {
        bool all = MulDiv(dialog.width, bx, 4) == clientWidth;
        for (std::size_t i = 0; all && i < items.size(); ++i) {
            const res::ControlTemplate& t = dialog.controls[i];
            all = items[i].x == MulDiv(t.x, bx, 4) && items[i].w == MulDiv(t.width, bx, 4);
        }
        if (all) baseX = bx;
    }
    for (int by = 1; by <= 128 && !baseY; ++by) {
        bool all = MulDiv(dialog.height, by, 8) == clientHeight;
        for (std::size_t i = 0; all && i < items.size(); ++i) {
            const res::ControlTemplate& t = dialog.controls[i];
            // A drop-down list's template height is its height when open.
            all = items[i].y == MulDiv(t.y, by, 8) && (t.kind == K::List || items[i].h == MulDiv(t.height, by, 8));
        }
        if (all) baseY = by;
    }
    EXPECT_NE(baseX, 0) << "no horizontal base unit fits every control\n" << run.Transcript();
    EXPECT_NE(baseY, 0) << "no vertical base unit fits every control\n" << run.Transcript();

    // Child windows in the template's order are the tab order.
    for (std::size_t i = 0; i < items.size(); ++i) {
        const res::ControlTemplate& t = dialog.controls[i];
        EXPECT_EQ(items[i].id, t.id) << "tab position " << i;
        EXPECT_TRUE(SameClass(items[i].className, ExpectedFor(dialog, t).className)) << items[i].className;
    }
}

TEST_F(Win32Resources, WindowsAreLaidOutFromTheTemplatesInTabOrder) {
    const pid_t program = StartProgram({"internalTest"});
    DriverRun run = Drive({"wait-main", "20000", "layout"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    ExpectLaidOutInDialogUnits(run, res::ControllerDialog());

    run = Drive({"use-main", "post-click", "1020", "wait-dialog", "Internal Test", "10000", "layout", "press-esc",
                 "wait-gone", "10000"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    ExpectLaidOutInDialogUnits(run, res::TestDialog());
    CloseProgram(program);
}

}  // namespace
