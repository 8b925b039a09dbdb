#pragma once
// The control ids of the logo tool's sheet and its progress windows. A control is found by its
// object name "ctl<id>" (controlName), which tests, the screenshot tool and the benches use to
// reach it; the numbers are the dialog resources' own, so a page may reuse another page's id.
#include "qthost/QtControlName.h"

namespace logo_ctl {

// Every page with the bitmap list (LogoListPanel).
inline constexpr int kList = 1001;
inline constexpr int kCountLabel = 1002;
inline constexpr int kSizeLabel = 1003;
inline constexpr int kCount = 1075; // "  2 / 255"
inline constexpr int kSize = 1074;  // "  1 / 384 KByte"

// Select Bitmap.
inline constexpr int kOpenFile = 1016;
inline constexpr int kRemove = 1015;
inline constexpr int kReset = 1014;

// Preview Bitmap: the picture and its print mode.
inline constexpr int kPreviewFrame = 1017;
inline constexpr int kPreviewNormal = 1019;
inline constexpr int kPreviewQuadruple = 1020;
inline constexpr int kPreviewDoubleHeight = 1021;
inline constexpr int kPreviewDoubleWidth = 1022;
// The "As printed" switch has no resource id: it is found by this object name.
inline constexpr const char* kAsPrinted = "asPrinted";
// Beside it: printed by the Print button, or as the top or the bottom logo.
inline constexpr const char* kPrintedBy = "printedBy";

// Upload Bitmap.
inline constexpr int kUpload = 1023;
inline constexpr int kUploadPrinterName = 1077;
inline constexpr int kUploadPortName = 1076;

// Print && Setup: the range, the print mode, the header, the printer.
inline constexpr int kPrintAll = 1032;
inline constexpr int kPrintSelection = 1033;
inline constexpr int kPrintSelectionText = 1034;
inline constexpr int kPrintNormal = 1019;
inline constexpr int kPrintDoubleWidth = 1020;
inline constexpr int kPrintDoubleHeight = 1021;
inline constexpr int kPrintQuadruple = 1022;
inline constexpr int kNoHeader = 1039;
inline constexpr int kAddHeader = 1040;
inline constexpr int kPrintPrinterName = 1072;
inline constexpr int kPrintPortName = 1073;
inline constexpr int kPrint = 1029;
// Print && Setup: the top and bottom logo.
inline constexpr int kTopEnable = 1115;
inline constexpr int kTopDisable = 1116;
inline constexpr int kTopNumber = 1118;
inline constexpr int kTopJustify = 1126;
inline constexpr int kPowerOnEnable = 1120;
inline constexpr int kPowerOnDisable = 1121;
inline constexpr int kBottomEnable = 1123;
inline constexpr int kBottomDisable = 1124;
inline constexpr int kBottomNumber = 1125;
inline constexpr int kBottomJustify = 1127;
inline constexpr int kSetLogoValues = 1036;
inline constexpr int kTest = 1038;

// Advanced.
inline constexpr int kPrintToFile = 1064;
inline constexpr int kGrayPrinting = 1020;
inline constexpr int kStarEmulation = 1021;
inline constexpr int kMaxPrintableArea = 1066;
inline constexpr int kDivergingSlider = 1067;
inline constexpr int kDivergingPoint = 1068;
inline constexpr int kDevice = 1018;
inline constexpr int kAbout = 1042;

// The Uploading and Printing windows.
inline constexpr int kProgressStatus = 1057;
inline constexpr int kProgressBar = 1069;
inline constexpr int kProgressCancel = 2;

// The object name a control with this id carries.
using ::controlName;

} // namespace logo_ctl
