#pragma once
// The control ids of the user setup dialog (resource 133), by name. Every control's object
// name is "ctl" followed by its id ("ctl1039" is the 80mm button): the dialog, its form and
// the GUI tests find a control by these names, and the screenshot script by the object name.
// Radio buttons come in pairs (the first is value 0 of its option, the second value 1).
namespace UserSetupControls {

// Model caption: the connection summary.
inline constexpr int kModelArea = 1034;
// "User Setup" group: the settings the printer reads and writes.
inline constexpr int kUserSetupGroup = 1075;
inline constexpr int kPaperWidthLabel = 1076;
inline constexpr int kPaper80mm = 1039;
inline constexpr int kPaper58mm = 1037;
inline constexpr int kColumnCombo = 1067;
inline constexpr int kPaperTypeLabel = 1077;
inline constexpr int kPaperBlack = 1004;
inline constexpr int kPaperTwoColor = 1006;
inline constexpr int kColorDensityCombo = 1055;
inline constexpr int kWaterMarkLabel = 1078;
inline constexpr int kWaterMarkDisable = 1009;
inline constexpr int kWaterMarkEnable = 1011;
inline constexpr int kImageNumberLabel = 1080;
inline constexpr int kImageNumberEdit = 1026;
inline constexpr int kCutAdjustLabel = 1079;
inline constexpr int kCutAdjustOff = 1014;
inline constexpr int kCutAdjustOn = 1016;
inline constexpr int kLinesLabel = 1019;
inline constexpr int kLinesEdit = 1029;
inline constexpr int kDrawerOnCutLabel = 1081;
inline constexpr int kDrawerOnCutDisable = 1020;
inline constexpr int kDrawerOnCutEnable = 1024;
inline constexpr int kBellTypeLabel = 1082;
inline constexpr int kBellTypeCombo = 1069;
inline constexpr int kBellCountCombo = 1053;
inline constexpr int kTimesLabel = 1021;
inline constexpr int kCodePageLabel = 1083;
inline constexpr int kCodePageCombo = 1054;
inline constexpr int kNvGraphicLabel = 1084;
inline constexpr int kNvGraphicCombo = 1056;
inline constexpr int kNvUserLabel = 1085;
inline constexpr int kNvUserCombo = 1057;
inline constexpr int kCutModeLabel = 1086;
inline constexpr int kCutPartial = 1051;
inline constexpr int kCutFull = 1061;
inline constexpr int kBoldKoreanLabel = 1058;
inline constexpr int kBoldKoreanOff = 1049;
inline constexpr int kBoldKoreanOn = 1050;
inline constexpr int kSpeedLabel = 1060;
inline constexpr int kSpeedCombo = 1062;
inline constexpr int kMarginLabel = 1064;
inline constexpr int kMarginEdit = 1063;
inline constexpr int kMarginUnitLabel = 1007;
inline constexpr int kDrawerSelfTestLabel = 1087;
inline constexpr int kDrawerSelfTestEnable = 1065;
inline constexpr int kDrawerSelfTestDisable = 1066;
inline constexpr int kRxBufferLabel = 1088;
inline constexpr int kRxBufferCombo = 1068;
inline constexpr int kStopBitLabel = 1089;
inline constexpr int kStopBitOne = 1071;
inline constexpr int kStopBitTwo = 1072;
inline constexpr int kCustomCodeLabel = 1010;
inline constexpr int kCustomCodeEdit = 1025;
// "New Option" group: the settings that are only written.
inline constexpr int kNewOptionGroup = 1012;
inline constexpr int kEmulationLabel = 1093;
inline constexpr int kEmulationEpson = 1094;
inline constexpr int kEmulationStar = 1095;
inline constexpr int kDensityLabel = 1096;
inline constexpr int kDensityCombo = 1047;
inline constexpr int kKitchenBellLabel = 1097;
inline constexpr int kKitchenBellOff = 1015;
inline constexpr int kKitchenBellOn = 1017;
inline constexpr int kAutoCutLabel = 1098;
inline constexpr int kAutoCutOn = 1030;
inline constexpr int kAutoCutOff = 1031;
inline constexpr int kSelfTestLabel = 1099;
inline constexpr int kSelfTestPrint = 1022;
inline constexpr int kSelfTestHexDump = 1023;
inline constexpr int kReceiveErrorLabel = 1091;
inline constexpr int kReceiveErrorPrint = 1027;
inline constexpr int kReceiveErrorIgnore = 1028;
inline constexpr int kUsbModeLabel = 1101;
inline constexpr int kUsbModeUsb = 1033;
inline constexpr int kUsbModeCom = 1036;
inline constexpr int kSleepModeLabel = 1102;
inline constexpr int kSleepModeCombo = 1048;
inline constexpr int kPaperSaveLabel = 1103;
inline constexpr int kPaperSaveCombo = 1090;
inline constexpr int kWifiKeepLabel = 1104;
inline constexpr int kWifiKeepEnable = 1038;
inline constexpr int kWifiKeepDisable = 1040;
inline constexpr int kLcdPasswordLabel = 1106;
inline constexpr int kLcdPasswordReset = 1041;
inline constexpr int kLcdPasswordKeep = 1042;
inline constexpr int kBellLabel = 1100;
inline constexpr int kBellExternal = 1043;
inline constexpr int kBellBuiltIn = 1044;
inline constexpr int kBtPowerLabel = 1092;
inline constexpr int kBtPowerOff = 1045;
inline constexpr int kBtPowerOn = 1046;
// The receipt printer drawn next to the TAVRO36/38 options.
inline constexpr int kPrinterPicture = 1105;
inline constexpr int kGetValueButton = 1032;
inline constexpr int kSetValueButton = 1052;
inline constexpr int kTestButton = 1035;
inline constexpr int kDefaultButton = 1059;
// Load and Save exist in the resource but are never shown.
inline constexpr int kLoadButton = 1073;
inline constexpr int kSaveButton = 1074;
inline constexpr int kExitButton = 1070;

} // namespace UserSetupControls
