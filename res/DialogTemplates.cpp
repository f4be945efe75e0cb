#include "res/DialogTemplates.h"

#include "res/ControlIds.h"

namespace res {

namespace {
using K = ControlKind;
}  // namespace

const DialogTemplate& ControllerDialog() {
    static const DialogTemplate dialog{
        kControllerDialogId, L"RTX Halvorn Controller", 315, 210, true,
        {
            {ctl::kDeviceList, K::List, L"", true, 7, 7, 301, 81},
            {ctl::kSync, K::CheckBox, L"Sync", true, 7, 25, 31, 10},
            {ctl::kAuto, K::CheckBox, L"Auto", false, 268, 28, 31, 10},
            {ctl::kRow1Label, K::Label, L"NVVDD", true, 7, 42, 23, 8},
            {ctl::kRow1Slider, K::Slider, L"", true, 45, 40, 211, 15},
            {ctl::kRow1Value, K::ValueField, L"", true, 268, 40, 40, 14},
            {ctl::kRow2Label, K::Label, L"FBVDD", true, 7, 62, 22, 8},
            {ctl::kRow2Slider, K::Slider, L"", true, 45, 60, 211, 15},
            {ctl::kRow2Value, K::ValueField, L"", true, 268, 60, 40, 14},
            {ctl::kRow3Label, K::Label, L"PEXVDD", true, 7, 82, 27, 8},
            {ctl::kRow3Slider, K::Slider, L"", true, 45, 80, 211, 15},
            {ctl::kRow3Value, K::ValueField, L"", true, 268, 80, 40, 14},
            {ctl::kRow4Label, K::Label, L"PWM Freq.", true, 7, 102, 38, 8},
            {ctl::kRow4Slider, K::Slider, L"", true, 45, 100, 211, 15},
            {ctl::kRow4Value, K::ValueField, L"", true, 268, 100, 40, 14},
            {ctl::kRow5Label, K::Label, L"X", false, 7, 122, 38, 8},
            {ctl::kRow5Slider, K::Slider, L"", false, 45, 120, 211, 15},
            {ctl::kRow5Value, K::ValueField, L"", false, 268, 120, 40, 14},
            {ctl::kList1LeftLabel, K::Label, L"NVVDD Reset", false, 7, 140, 62, 8},
            {ctl::kList1Left, K::List, L"", false, 70, 140, 64, 30},
            {ctl::kList1RightLabel, K::Label, L"X4 Reset", false, 165, 140, 62, 8},
            {ctl::kList1Right, K::List, L"", false, 228, 140, 64, 30},
            {ctl::kList2LeftLabel, K::Label, L"NVVDD Loadline", false, 7, 155, 62, 8},
            {ctl::kList2Left, K::List, L"", false, 70, 155, 64, 30},
            {ctl::kList2RightLabel, K::Label, L"X5 Loadline", false, 165, 154, 62, 8},
            {ctl::kList2Right, K::List, L"", false, 228, 154, 64, 30},
            {ctl::kList3LeftLabel, K::Label, L"NVVDD OCP", false, 7, 170, 48, 8},
            {ctl::kList3Left, K::List, L"", false, 70, 170, 64, 30},
            {ctl::kList3RightLabel, K::Label, L"X6 OCP", false, 165, 169, 60, 8},
            {ctl::kList3Right, K::List, L"", false, 228, 169, 64, 30},
            {ctl::kLoad, K::PushButton, L"Load", true, 7, 189, 32, 14},
            {ctl::kSave, K::PushButton, L"Save", true, 41, 189, 32, 14},
            {ctl::kTest, K::PushButton, L"Test", false, 155, 189, 50, 14},
            {ctl::kApply, K::PushButton, L"Apply", true, 208, 189, 50, 14},
            {ctl::kDefault, K::PushButton, L"Default", true, 258, 189, 50, 14},
        }};
    return dialog;
}

const DialogTemplate& TestDialog() {
    static const DialogTemplate dialog{
        kTestDialogId, L"Internal Test", 235, 107, false,
        {
            {-1, K::Label, L"I2C Address", true, 7, 7, 40, 8},
            {testdlg::kAddress, K::TextField, L"", true, 55, 7, 40, 14},
            {-1, K::Label, L"Registry", true, 19, 24, 28, 8},
            {testdlg::kRegister, K::TextField, L"", true, 55, 24, 40, 14},
            {-1, K::Label, L"Data", true, 31, 42, 16, 8},
            {testdlg::kData, K::TextField, L"", true, 55, 42, 40, 14},
            {testdlg::kRead, K::PushButton, L"Read", true, 7, 86, 50, 14},
            {testdlg::kWrite, K::PushButton, L"Write", true, 61, 86, 50, 14},
            {testdlg::kResult, K::StatusText, L"", true, 60, 63, 31, 8},
            {testdlg::kAddressEcho, K::StatusText, L"", true, 102, 7, 33, 8},
            {testdlg::kRegisterEcho, K::StatusText, L"", true, 102, 24, 33, 8},
            {testdlg::kDataEcho, K::StatusText, L"", true, 102, 42, 43, 13},
            {-1, K::Label, L"I2C Port", true, 154, 7, 28, 8},
            {testdlg::kPort, K::DigitField, L"", true, 188, 7, 40, 14},
            {testdlg::kMsbFirst, K::CheckBox, L"MSB first", true, 168, 38, 44, 10},
            {testdlg::kWordAccess, K::CheckBox, L"Word read/write", true, 159, 25, 69, 10},
        }};
    return dialog;
}

const ControlTemplate* FindControl(const DialogTemplate& dialog, int id) {
    for (const ControlTemplate& control : dialog.controls)
        if (control.id == id) return &control;
    return nullptr;
}

}  // namespace res
