// The Windows program's resources as compiled into HalvornController.exe, and its windows as
// Windows builds them from those resources, against the dialogs' controls written out below.
#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "WineTest.h"

namespace {

using wine::DriverRun;

// Window and control styles, as the Windows headers number them.
constexpr std::uint32_t WS_POPUP = 0x80000000, WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000,
                        WS_CAPTION = 0x00C00000, WS_BORDER = 0x00800000, WS_VSCROLL = 0x00200000,
                        WS_SYSMENU = 0x00080000, WS_MINIMIZEBOX = 0x00020000, WS_TABSTOP = 0x00010000,
                        WS_EX_APPWINDOW = 0x00040000;
constexpr std::uint32_t DS_SETFONT = 0x40, DS_FIXEDSYS = 0x8, DS_MODALFRAME = 0x80, DS_CENTER = 0x800;
constexpr std::uint32_t ES_AUTOHSCROLL = 0x80, ES_READONLY = 0x800, ES_NUMBER = 0x2000, CBS_DROPDOWN = 0x2,
                        BS_PUSHBUTTON = 0x0, BS_AUTOCHECKBOX = 0x3, TBS_HORZ = 0x0, TBS_NOTICKS = 0x10, SS_LEFT = 0x0;

// The kinds of control the dialogs use: the window class Windows makes and the style the
// template gives, before WS_CHILD and WS_VISIBLE.
struct Kind {
    const char* className;
    std::uint32_t style;
};
const Kind kLabel = {"Static", SS_LEFT};
const Kind kSlider = {"msctls_trackbar32", TBS_HORZ | TBS_NOTICKS | WS_TABSTOP};
const Kind kValueField = {"Edit", ES_AUTOHSCROLL | ES_READONLY | WS_BORDER | WS_TABSTOP};
const Kind kTextField = {"Edit", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP};
const Kind kDigitField = {"Edit", ES_AUTOHSCROLL | ES_NUMBER | WS_BORDER | WS_TABSTOP};
const Kind kList = {"ComboBox", CBS_DROPDOWN | WS_TABSTOP};
const Kind kDeviceList = {"ComboBox", CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP};
const Kind kCheckBox = {"Button", BS_AUTOCHECKBOX | WS_TABSTOP};
const Kind kPushButton = {"Button", BS_PUSHBUTTON | WS_TABSTOP};

struct Control {
    int id;  // -1: a label without an ID
    Kind kind;
    const char* text;
    bool visible;
    int x, y, width, height;  // dialog units; a list's height is its height when open
};

struct Dialog {
    int id;
    const char* title;
    int width, height;
    bool minimizeBox;
    std::vector<Control> controls;  // template order, which is the tab order
};

// Dialog 104: the device list, the panel from top to bottom, then the buttons.
const Dialog kControllerDialog = {
    104, "RTX Halvorn Controller", 315, 210, true,
    {
        {1012, kDeviceList, "", true, 7, 7, 301, 81},
        {1021, kCheckBox, "Sync", true, 7, 25, 31, 10},
        {1017, kCheckBox, "Auto", false, 268, 28, 31, 10},
        {1014, kLabel, "NVVDD", true, 7, 42, 23, 8},
        {1000, kSlider, "", true, 45, 40, 211, 15},
        {1001, kValueField, "", true, 268, 40, 40, 14},
        {1047, kLabel, "FBVDD", true, 7, 62, 22, 8},
        {1002, kSlider, "", true, 45, 60, 211, 15},
        {1003, kValueField, "", true, 268, 60, 40, 14},
        {1015, kLabel, "PEXVDD", true, 7, 82, 27, 8},
        {1004, kSlider, "", true, 45, 80, 211, 15},
        {1005, kValueField, "", true, 268, 80, 40, 14},
        {1018, kLabel, "PWM Freq.", true, 7, 102, 38, 8},
        {1010, kSlider, "", true, 45, 100, 211, 15},
        {1019, kValueField, "", true, 268, 100, 40, 14},
        {1016, kLabel, "X", false, 7, 122, 38, 8},
        {1006, kSlider, "", false, 45, 120, 211, 15},
        {1007, kValueField, "", false, 268, 120, 40, 14},
        {1044, kLabel, "NVVDD Reset", false, 7, 140, 62, 8},
        {1048, kList, "", false, 70, 140, 64, 30},
        {1046, kLabel, "X4 Reset", false, 165, 140, 62, 8},
        {1053, kList, "", false, 228, 140, 64, 30},
        {1043, kLabel, "NVVDD Loadline", false, 7, 155, 62, 8},
        {1049, kList, "", false, 70, 155, 64, 30},
        {1051, kLabel, "X5 Loadline", false, 165, 154, 62, 8},
        {1054, kList, "", false, 228, 154, 64, 30},
        {1045, kLabel, "NVVDD OCP", false, 7, 170, 48, 8},
        {1050, kList, "", false, 70, 170, 64, 30},
        {1052, kLabel, "X6 OCP", false, 165, 169, 60, 8},
        {1055, kList, "", false, 228, 169, 64, 30},
        {1056, kPushButton, "Load", true, 7, 189, 32, 14},
        {1057, kPushButton, "Save", true, 41, 189, 32, 14},
        {1020, kPushButton, "Test", false, 155, 189, 50, 14},
        {1013, kPushButton, "Apply", true, 208, 189, 50, 14},
        {1011, kPushButton, "Default", true, 258, 189, 50, 14},
    }};

// Dialog 103; its status texts are labels the program fills.
const Dialog kTestDialog = {
    103, "Internal Test", 235, 107, false,
    {
        {-1, kLabel, "I2C Address", true, 7, 7, 40, 8},
        {1021, kTextField, "", true, 55, 7, 40, 14},
        {-1, kLabel, "Registry", true, 19, 24, 28, 8},
        {1022, kTextField, "", true, 55, 24, 40, 14},
        {-1, kLabel, "Data", true, 31, 42, 16, 8},
        {1023, kTextField, "", true, 55, 42, 40, 14},
        {1024, kPushButton, "Read", true, 7, 86, 50, 14},
        {1025, kPushButton, "Write", true, 61, 86, 50, 14},
        {1029, kLabel, "", true, 60, 63, 31, 8},
        {1030, kLabel, "", true, 102, 7, 33, 8},
        {1031, kLabel, "", true, 102, 24, 33, 8},
        {1032, kLabel, "", true, 102, 42, 43, 13},
        {-1, kLabel, "I2C Port", true, 154, 7, 28, 8},
        {1033, kDigitField, "", true, 188, 7, 40, 14},
        {1037, kCheckBox, "MSB first", true, 168, 38, 44, 10},
        {1038, kCheckBox, "Word read/write", true, 159, 25, 69, 10},
    }};

std::uint32_t StyleOf(const Control& control) { return control.kind.style | WS_CHILD | (control.visible ? WS_VISIBLE : 0); }

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

void ExpectTemplate(const DriverRun& run, const Dialog& dialog) {
    const std::uint32_t style = DS_SETFONT | DS_FIXEDSYS | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION |
                                WS_SYSMENU | (dialog.minimizeBox ? WS_MINIMIZEBOX : 0);
    char head[160];
    std::snprintf(head, sizeof head, "style=0x%08X exstyle=0x%08X rect=0,0,%d,%d menu= class= font=8,MS Shell Dlg,400,0,1",
                  style, dialog.minimizeBox ? WS_EX_APPWINDOW : 0u, dialog.width, dialog.height);
    const std::string id = std::to_string(dialog.id);
    EXPECT_EQ(run.Answer("template " + id), std::string(head) + " items=" + std::to_string(dialog.controls.size()) +
                                                 " caption=" + dialog.title);

    std::vector<Item> items;
    bool inDialog = false;
    for (const std::string& line : run.lines) {
        if (line.rfind("template ", 0) == 0) inDialog = line.rfind("template " + id + " ", 0) == 0;
        Item item;
        if (inDialog && ParseItem(line, item)) items.push_back(item);
    }
    ASSERT_EQ(items.size(), dialog.controls.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Control& t = dialog.controls[i];
        const Item& item = items[i];
        SCOPED_TRACE("dialog " + id + " item " + std::to_string(i) + " (" + std::to_string(t.id) + ")");
        EXPECT_EQ(item.id, t.id);
        EXPECT_TRUE(SameClass(item.className, t.kind.className)) << item.className << " for " << t.kind.className;
        EXPECT_EQ(item.style, StyleOf(t));
        EXPECT_EQ(item.exStyle, 0u);
        EXPECT_EQ((std::vector<int>{item.x, item.y, item.w, item.h}), (std::vector<int>{t.x, t.y, t.width, t.height}));
        EXPECT_EQ(item.text, t.text);
    }
}

class Win32Resources : public wine::WineTest {};

TEST_F(Win32Resources, DialogTemplatesAndIconInTheProgramAreTheTables) {
    const std::string exe = WindowsPath(ProgramPath());
    const DriverRun run = Drive({"template", exe, "104", "template", exe, "103", "icon", exe, "130"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    ExpectTemplate(run, kControllerDialog);
    ExpectTemplate(run, kTestDialog);
    // 32-bit images from 100 % to 200 % display scaling.
    EXPECT_EQ(run.Answer("icon 130"), "16x32,20x32,24x32,32x32,40x32,48x32,64x32");
}

TEST_F(Win32Resources, ManifestAsksForCommonControls6TheUsersRightsAndPerMonitorDpiAwareness) {
    const DriverRun run = Drive({"manifest", WindowsPath(ProgramPath())});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    std::string manifest;
    for (const std::string& line : run.lines) manifest += line + "\n";
    // The common controls of the program's own width: with another width's, Windows will not start it.
    const std::string architecture = Bits() == 64 ? "amd64" : "x86";
    const std::vector<std::string> wanted = {
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "processorArchitecture=\"" + architecture + "\" publicKeyToken=\"6595b64144ccf1df\"",
        "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
        // Per-monitor v2 where Windows has it, the older declarations as the fallback.
        "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>",
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>"};
    for (const std::string& text : wanted)
        EXPECT_NE(manifest.find(text), std::string::npos) << text << "\n" << manifest;
}

// Windows places a control at MulDiv(dialog units, base unit, 4 or 8) pixels; one pair of base
// units, that of the dialog's font, must account for every control and the window's size.
int MulDiv(int value, int numerator, int denominator) { return (value * numerator + denominator / 2) / denominator; }

// The dialog base units that place every control of the window's layout and make its client size;
// 0 for a direction none does.
std::pair<int, int> FittingBaseUnits(const DriverRun& run, const Dialog& dialog) {
    int clientWidth = 0, clientHeight = 0;
    const std::vector<Item> items = Items(run, "control ");
    if (std::sscanf(run.Answer("dialog").c_str(), "%*s %*s %*s client=%d,%d", &clientWidth, &clientHeight) != 2 ||
        items.size() != dialog.controls.size())
        return {0, 0};
    int baseX = 0, baseY = 0;
    for (int bx = 1; bx <= 64 && !baseX; ++bx) {
        bool all = MulDiv(dialog.width, bx, 4) == clientWidth;
        for (std::size_t i = 0; all && i < items.size(); ++i) {
            const Control& t = dialog.controls[i];
            all = items[i].x == MulDiv(t.x, bx, 4) && items[i].w == MulDiv(t.width, bx, 4);
        }
        if (all) baseX = bx;
    }
    for (int by = 1; by <= 128 && !baseY; ++by) {
        bool all = MulDiv(dialog.height, by, 8) == clientHeight;
        for (std::size_t i = 0; all && i < items.size(); ++i) {
            const Control& t = dialog.controls[i];
            // A drop-down list's template height is its height when open.
            const bool list = SameClass(t.kind.className, "ComboBox");
            all = items[i].y == MulDiv(t.y, by, 8) && (list || items[i].h == MulDiv(t.height, by, 8));
        }
        if (all) baseY = by;
    }
    return {baseX, baseY};
}

void ExpectLaidOutInDialogUnits(const DriverRun& run, const Dialog& dialog) {
    const std::vector<Item> items = Items(run, "control ");
    ASSERT_EQ(items.size(), dialog.controls.size()) << run.Transcript();
    const auto [baseX, baseY] = FittingBaseUnits(run, dialog);
    EXPECT_NE(baseX, 0) << "no horizontal base unit fits every control\n" << run.Transcript();
    EXPECT_NE(baseY, 0) << "no vertical base unit fits every control\n" << run.Transcript();

    // Child windows in the template's order are the tab order.
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Control& t = dialog.controls[i];
        EXPECT_EQ(items[i].id, t.id) << "tab position " << i;
        EXPECT_TRUE(SameClass(items[i].className, t.kind.className)) << items[i].className;
    }
}

TEST_F(Win32Resources, WindowsAreLaidOutFromTheTemplatesInTabOrder) {
    const pid_t program = StartProgram({"internalTest"});
    DriverRun run = Drive({"wait-main", "20000", "layout"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    ExpectLaidOutInDialogUnits(run, kControllerDialog);

    run = Drive({"use-main", "post-click", "1020", "wait-dialog", "Internal Test", "10000", "layout", "press-esc",
                 "wait-gone", "10000"});
    ASSERT_TRUE(run.ok()) << run.Transcript();
    ExpectLaidOutInDialogUnits(run, kTestDialog);
    CloseProgram(program);
}

// The screen's DPI as Wine gives it to the programs started afterwards; set back to 96 at the end,
// since the prefix serves the other tests too.
class Win32Dpi : public Win32Resources {
protected:
    void SetDpi(int dpi) {
        const DriverRun run = RunHelper("reg", {"add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t",
                                               "REG_DWORD", "/d", std::to_string(dpi), "/f"});
        ASSERT_TRUE(run.ok()) << run.Transcript();
    }
    void TearDown() override {
        SetDpi(96);
        Win32Resources::TearDown();
    }
};

struct Fit {
    int id = 0;
    std::string className, text;
    int needW = 0, needH = 0, haveW = 0, haveH = 0;
};

// The driver's "fit" answers: the dialog font's base units at its DPI, and each text's need.
struct Fits {
    int baseX = 0, baseY = 0, dpi = 0;
    std::vector<Fit> controls;
};

Fits ReadFits(const DriverRun& run) {
    Fits fits;
    std::sscanf(run.Answer("fit-base").c_str(), "%d %d %d", &fits.baseX, &fits.baseY, &fits.dpi);
    for (const std::string& line : run.lines) {
        Fit fit;
        char className[64] = {};
        int used = 0;
        if (std::sscanf(line.c_str(), "fit %d %63s need=%d,%d have=%d,%d text=%n", &fit.id, className, &fit.needW,
                        &fit.needH, &fit.haveW, &fit.haveH, &used) == 6 && used > 0) {
            fit.className = className;
            fit.text = line.substr(static_cast<std::size_t>(used));
            fits.controls.push_back(fit);
        }
    }
    return fits;
}

// The window is laid out from its template at this DPI and every text fits its control, measured in
// the font whose base units the layout shows; returns those base units.
std::pair<int, int> ExpectTextsFit(const DriverRun& run, int dpi, const Dialog& dialog) {
    SCOPED_TRACE(std::string(dialog.title) + " at " + std::to_string(dpi) + " DPI");
    ExpectLaidOutInDialogUnits(run, dialog);
    const auto [baseX, baseY] = FittingBaseUnits(run, dialog);
    const Fits fits = ReadFits(run);
    EXPECT_EQ(fits.dpi, dpi) << run.Transcript();
    EXPECT_EQ(std::make_pair(fits.baseX, fits.baseY), std::make_pair(baseX, baseY))
        << "the driver measures in another font than the dialog's\n" << run.Transcript();
    EXPECT_GE(fits.controls.size(), 8u) << run.Transcript();
    for (const Fit& fit : fits.controls) {
        EXPECT_LE(fit.needW, fit.haveW) << fit.className << " " << fit.id << " \"" << fit.text << "\" is cut off";
        EXPECT_LE(fit.needH, fit.haveH) << fit.className << " " << fit.id << " \"" << fit.text << "\" is cut off";
    }
    return {baseX, baseY};
}

TEST_F(Win32Dpi, BothWindowsScaleWithTheScreensDpiAndNoTextIsCutOff) {
    std::map<int, std::pair<int, int>> mainBase, testBase;
    for (const int dpi : {96, 144}) {
        SetDpi(dpi);
        const pid_t program = StartProgram({"internalTest"});
        DriverRun run = Drive({"wait-main", "20000", "layout", "fit"});
        ASSERT_TRUE(run.ok()) << run.Transcript();
        mainBase[dpi] = ExpectTextsFit(run, dpi, kControllerDialog);

        run = Drive({"use-main", "post-click", "1020", "wait-dialog", "Internal Test", "10000", "layout", "fit",
                     "press-esc", "wait-gone", "10000"});
        ASSERT_TRUE(run.ok()) << run.Transcript();
        testBase[dpi] = ExpectTextsFit(run, dpi, kTestDialog);
        CloseProgram(program);
    }
    // The windows were laid out again at 144 DPI, or the checks above measured the 96 DPI layout
    // twice. Wine gives every program the screen's DPI whatever its manifest declares, so this
    // cannot tell a DPI-aware program from an unaware one: the manifest test guards the declaration.
    for (const auto* base : {&mainBase, &testBase}) {
        EXPECT_GE(base->at(144).first * 4, base->at(96).first * 5) << "horizontal base units do not grow";
        EXPECT_GE(base->at(144).second * 4, base->at(96).second * 5) << "vertical base units do not grow";
    }
}

}  // namespace
