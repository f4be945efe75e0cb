#include "res/DialogTemplates.h"

namespace res {

namespace {
using K = ControlKind;
}  // namespace

const DialogTemplate& ControllerDialog() {
    static const DialogTemplate dialog{
        kControllerDialogId, L"RTX Halvorn Controller", 315, 210, true,
        {
            {1012, K::List, L"", true, 7, 7, 301, 81},
            {1021, K::CheckBox, L"Sync", true, 7, 25, 31, 10},
            {1017, K::CheckBox, L"Auto", false, 268, 28, 31, 10},
            {1014, K::Label, L"NVVDD", true, 7, 42, 23, 8},
            {1000, K::Slider, L"", true, 45, 40, 211, 15},
            {1001, K::ValueField, L"", true, 268, 40, 40, 14},
            {1047, K::Label, L"FBVDD", true, 7, 62, 22, 8},
            {1002, K::Slider, L"", true, 45, 60, 211, 15},
            {1003, K::ValueField, L"", true, 268, 60, 40, 14},
            {1015, K::Label, L"PEXVDD", true, 7, 82, 27, 8},
            {1004, K::Slider, L"", true, 45, 80, 211, 15},
            {1005, K::ValueField, L"", true, 268, 80, 40, 14},
            {1018, K::Label, L"PWM Freq.", true, 7, 102, 38, 8},
            {1010, K::Slider, L"", true, 45, 100, 211, 15},
            {1019, K::ValueField, L"", true, 268, 100, 40, 14},
            {1016, K::Label, L"X", false, 7, 122, 38, 8},
            {1006, K::Slider, L"", false, 45, 120, 211, 15},
            {1007, K::ValueField, L"", false, 268, 120, 40, 14},
            {1044, K::Label, L"NVVDD Reset", false, 7, 140, 62, 8},
            {1048, K::List, L"", false, 70, 140, 64, 30},
            {1046, K::Label, L"X4 Reset", false, 165, 140, 62, 8},
            {1053, K::List, L"", false, 228, 140, 64, 30},
            {1043, K::Label, L"NVVDD Loadline", false, 7, 155, 62, 8},
            {1049, K::List, L"", false, 70, 155, 64, 30},
            {1051, K::Label, L"X5 Loadline", false, 165, 154, 62, 8},
            {1054, K::List, L"", false, 228, 154, 64, 30},
            {1045, K::Label, L"NVVDD OCP", false, 7, 170, 48, 8},
            {1050, K::List, L"", false, 70, 170, 64, 30},
            {1052, K::Label, L"X6 OCP", false, 165, 169, 60, 8},
            {1055, K::List, L"", false, 228, 169, 64, 30},
            {1056, K::PushButton, L"Load", true, 7, 189, 32, 14},
            {1057, K::PushButton, L"Save", true, 41, 189, 32, 14},
            {1020, K::PushButton, L"Test", false, 155, 189, 50, 14},
            {1013, K::PushButton, L"Apply", true, 208, 189, 50, 14},
            {1011, K::PushButton, L"Default", true, 258, 189, 50, 14},
        }};
    return dialog;
}

const DialogTemplate& TestDialog() {
    static const DialogTemplate dialog{
        kTestDialogId, L"Internal Test", 235, 107, false,
        {
            {-1, K::Label, L"I2C Address", true, 7, 7, 40, 8},
            {1021, K::TextField, L"", true, 55, 7, 40, 14},
            {-1, K::Label, L"Registry", true, 19, 24, 28, 8},
            {1022, K::TextField, L"", true, 55, 24, 40, 14},
            {-1, K::Label, L"Data", true, 31, 42, 16, 8},
            {1023, K::TextField, L"", true, 55, 42, 40, 14},
            {1024, K::PushButton, L"Read", true, 7, 86, 50, 14},
            {1025, K::PushButton, L"Write", true, 61, 86, 50, 14},
            {1029, K::StatusText, L"", true, 60, 63, 31, 8},
            {1030, K::StatusText, L"", true, 102, 7, 33, 8},
            {1031, K::StatusText, L"", true, 102, 24, 33, 8},
            {1032, K::StatusText, L"", true, 102, 42, 43, 13},
            {-1, K::Label, L"I2C Port", true, 154, 7, 28, 8},
            {1033, K::DigitField, L"", true, 188, 7, 40, 14},
            {1037, K::CheckBox, L"MSB first", true, 168, 38, 44, 10},
            {1038, K::CheckBox, L"Word read/write", true, 159, 25, 69, 10},
        }};
    return dialog;
}

const ControlTemplate* FindControl(const DialogTemplate& dialog, int id) {
    for (const ControlTemplate& control : dialog.controls)
        if (control.id == id) return &control;
    return nullptr;
}

}  // namespace res
