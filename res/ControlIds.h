#pragma once
// Control IDs: the one place they are written. The templates place the controls by them, the
// dialogs' logic reaches the controls by them.

// The controller window (dialog template 104).
namespace ctl {

constexpr int kDeviceList = 1012;
constexpr int kSync = 1021;
constexpr int kAuto = 1017;
constexpr int kApply = 1013;
constexpr int kDefault = 1011;
constexpr int kTest = 1020;
constexpr int kLoad = 1056;
constexpr int kSave = 1057;

// Slider rows: label, slider, value field.
constexpr int kRow1Label = 1014, kRow1Slider = 1000, kRow1Value = 1001;
constexpr int kRow2Label = 1047, kRow2Slider = 1002, kRow2Value = 1003;
constexpr int kRow3Label = 1015, kRow3Slider = 1004, kRow3Value = 1005;
constexpr int kRow4Label = 1018, kRow4Slider = 1010, kRow4Value = 1019;
constexpr int kRow5Label = 1016, kRow5Slider = 1006, kRow5Value = 1007;

// List rows: left label and list, right label and list.
constexpr int kList1LeftLabel = 1044, kList1Left = 1048, kList1RightLabel = 1046, kList1Right = 1053;
constexpr int kList2LeftLabel = 1043, kList2Left = 1049, kList2RightLabel = 1051, kList2Right = 1054;
constexpr int kList3LeftLabel = 1045, kList3Left = 1050, kList3RightLabel = 1052, kList3Right = 1055;

}  // namespace ctl

// The Internal Test dialog (template 103).
namespace testdlg {

constexpr int kAddress = 1021;
constexpr int kRegister = 1022;
constexpr int kData = 1023;
constexpr int kRead = 1024;
constexpr int kWrite = 1025;
constexpr int kResult = 1029;
constexpr int kAddressEcho = 1030;
constexpr int kRegisterEcho = 1031;
constexpr int kDataEcho = 1032;
constexpr int kPort = 1033;
constexpr int kMsbFirst = 1037;
constexpr int kWordAccess = 1038;

}  // namespace testdlg
