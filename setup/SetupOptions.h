#pragma once
// The user setup as the setup dialog holds it: one value per option, each a radio-group
// index (0 = first button), a combo selection or a number. Every option starts at -1 ("no
// value": neither the user nor the printer has given one) and only options with a value
// are written to the printer. The exceptions start with a value: the water-mark image
// number (1), the cutting-position lines (0), the left margin (0) and the customize code
// text ("0"); margin and code are always written.
//
// Both front ends keep their form in this model: the desktop dialog maps its controls onto
// it, tavroctl fills it from KEY=VALUE arguments. Plain data, no threads of its own.
#include "app/ConnectionRules.h"
#include "app/Result.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int kNoValue = -1;

struct SetupOptions {
    int paperWidth = kNoValue;     // setting 3: 0 "80mm", 1 "58mm"
    int columns = kNoValue;        // column combo (58mm only): 0 "32 Column", 1 "34 Column"
    int paperType = kNoValue;      // setting 116: 0 "Black", 1 "2Color"
    int colorDensity = kNoValue;   // setting 118: 0 "LIGHT", 1 "MEDIUM", 2 "DARK"
    int watermark = kNoValue;      // setting 242: 0 "Disable", 1 "Enable"
    int imageNumber = 1;           //   its "Image#", 1..255
    int cutAdjust = kNoValue;      // setting 243: 0 "OFF", 1 "ON"
    int lines = 0;                 //   its "Lines", 0..255
    int drawerOnCut = kNoValue;    // setting 244: 0 "Disable", 1 "Enable"
    int bellType = kNoValue;       // setting 245: index into kBellTypes
    int bellCount = kNoValue;      //   count combo: 0..4 for 1..5 times
    int codePage = kNoValue;       // setting 246: index into codePageTable()
    int nvGraphic = kNoValue;      // setting 2: index into kNvGraphicSizes
    int nvUser = kNoValue;         // setting 1: index into kNvUserSizes
    int cutMode = kNoValue;        // setting 247: 0 "Partial", 1 "Full Cut"
    int boldKorean = kNoValue;     // setting 248: 0 "OFF", 1 "ON"
    int speed = kNoValue;          // setting 249: index into speedEntries(family)
    int margin = 0;                // setting 250: left margin in dots, 0..576
    int drawerSelfTest = kNoValue; // setting 251: 0 "Enable", 1 "Disable"
    int rxBuffer = kNoValue;       // setting 252: index 0 "64", 1 "32", 2 "20", 3 "4" Kbyte
    int stopBit = kNoValue;        // setting 253: 0 "ONE", 1 "TWO"
    std::string customCode = "0";  // setting 255: up to 8 hexadecimal digits
    // The "New Option" group: written only, the printer is never asked for them.
    int emulation = kNoValue;      // 204: 0 "EPSON", 1 "STAR"
    int density = kNoValue;        // 208: 0..3 "LEVEL 1".."LEVEL 4"
    int kitchenBell = kNoValue;    // 205: 0 "OFF", 1 "ON"
    int autoCut = kNoValue;        // 206: 0 "ON", 1 "OFF"
    int selfTest = kNoValue;       // 207: 0 "Self-Test", 1 "HexaDump"
    int receiveError = kNoValue;   // 0 "Print '?'", 1 "IGNORE": held, never sent nor read
    int usbMode = kNoValue;        // 210: 0 "USB", 1 "COM"
    int sleepMode = kNoValue;      // 212: index into kSleepModes
    int paperSave = kNoValue;      // 213: index into kPaperSaveModes
    int wifiKeep = kNoValue;       // 199: 0 "Enable", 1 "Disable"
    int lcdPassword = kNoValue;    // 214: 0 "Reset", 1 "Don't touch"
    int bell = kNoValue;           // 198: 0 "External", 1 "Built-in"
    int btPower = kNoValue;        // 196: 0 "OFF", 1 "ON"

    bool operator==(const SetupOptions&) const = default;

    // True when a Set Value would send anything: some option has a value, or the margin
    // is not 0, or the code text is not "0".
    bool hasAnythingToWrite() const;

    // The form after "Default" (factory values). korean: the system default language is
    // Korean, which changes "Drawer Open In Self-Test" (Enable) and the receive buffer
    // (third entry instead of the fourth).
    static SetupOptions defaults(bool korean);

    // After a failed read, write or test page the dialog gives the edits their start
    // values back.
    void resetEditsAfterFailure()
    {
        imageNumber = 1;
        lines = 0;
    }
};

// One entry of the "Default Code Page" combo: "0| PC437 (USA, Std Europe)" carries 0.
struct CodePageEntry {
    int number;
    const char* text;
};
// The 33 entries in list order.
const std::vector<CodePageEntry>& codePageTable();
// The index of the entry that carries number; kNoValue when none does.
int codePageIndexOf(int number);

// Combo texts in list order.
inline constexpr std::array<const char*, 6> kBellTypes = {
    "ZAVON Bell", "ZAVON Melody 1", "ZAVON Melody 2", "ZAVON Melody 3",
    "Other Bell(DK1)", "Other Bell(DK2)"};
inline constexpr std::array<const char*, 4> kSleepModes = {"0 Min | OFF", "5 Min", "10 Min", "15 Min"};
inline constexpr std::array<const char*, 3> kPaperSaveModes = {
    "OFF (Default)", "LV 1 (Recommend)", "LV2"};
inline constexpr std::array<const char*, 4> kDensityLevels = {"LEVEL 1", "LEVEL 2", "LEVEL 3", "LEVEL 4"};
inline constexpr std::array<const char*, 3> kColorDensities = {"LIGHT", "MEDIUM", "DARK"};
inline constexpr std::array<const char*, 2> kColumnEntries = {"32 Column", "34 Column"};
inline constexpr std::array<int, 5> kNvUserSizes = {64, 128, 192, 256, 320};
inline constexpr std::array<int, 7> kNvGraphicSizes = {0, 64, 128, 192, 256, 320, 384};
// The receive-buffer sizes that setting 252 carries, by combo index (Kbyte).
inline constexpr std::array<int, 4> kRxBufferSizes = {64, 32, 20, 4};

// The "Max Print Speed" combo (mm/sec) of a model family: TAVRO36/38 (family 5) offers
// only "180" and "150"; every other family the four entries.
std::vector<int> speedEntries(ModelFamily modelFamily);

// The NV memory the printer has for user and graphic data together (Kbyte); the defaults
// 64 + 384 fill it exactly.
inline constexpr int kNvMemoryLimitKb = 448;
// The sum of the sizes the two NV combos show (an unselected combo shows nothing: 0).
int nvTotalKb(const SetupOptions& options);
// The one NV size check of the user setup: the two sizes fit in kNvMemoryLimitKb. Failure:
// "nv_user + nv_graphic = N KB<context>: out of range the MAX NV memory size (448 KB)" (the
// dialog shows the catalog's message instead).
Status checkNvSize(const SetupOptions& options, std::string_view context = {});
