#include "setup/SetupOptions.h"

bool SetupOptions::hasAnythingToWrite() const
{
    const int choices[] = {paperWidth,  paperType,   watermark,   cutAdjust,      drawerOnCut,
                           bellType,    codePage,    nvGraphic,   nvUser,         cutMode,
                           boldKorean,  speed,       drawerSelfTest, rxBuffer,    stopBit,
                           emulation,   density,     kitchenBell, autoCut,        selfTest,
                           usbMode,     sleepMode,   paperSave,   wifiKeep,       lcdPassword,
                           bell,        btPower};
    for (int value : choices)
        if (value != kNoValue)
            return true;
    return margin != 0 || customCode != "0";
}

SetupOptions SetupOptions::defaults(bool korean)
{
    SetupOptions o;
    o.paperType = 0;       // Black
    o.paperWidth = 0;      // 80mm
    o.columns = 0;         // first column entry (the combo is disabled for 80mm)
    o.drawerOnCut = 0;     // Disable
    o.bellType = 0;        // first entry
    o.bellCount = 2;       // 3 times
    o.speed = 0;           // first entry
    o.lines = 0;
    o.cutAdjust = 0;       // OFF
    o.cutMode = 0;         // Partial
    o.imageNumber = 1;
    o.watermark = 0;       // Disable
    o.nvGraphic = 6;       // "384"
    o.nvUser = 0;          // "64"
    o.boldKorean = 0;      // OFF
    o.colorDensity = 1;    // MEDIUM
    o.codePage = 0;
    o.margin = 0;
    o.stopBit = 0;         // ONE
    o.customCode = "0";
    o.drawerSelfTest = korean ? 0 : 1; // Enable on Korean systems, else Disable
    o.rxBuffer = korean ? 2 : 3;       // third entry ("20") on Korean systems, else fourth
    o.emulation = 0;       // EPSON
    o.autoCut = 0;         // ON
    o.selfTest = 0;        // Self-Test
    o.receiveError = 0;    // Print '?'
    o.density = 1;         // "LEVEL 2"
    o.sleepMode = 0;
    o.usbMode = 0;         // USB
    o.kitchenBell = 0;     // OFF
    o.paperSave = 0;
    o.bell = 0;            // External
    o.wifiKeep = 1;        // Disable
    o.lcdPassword = 1;     // Don't touch
    o.btPower = 0;         // OFF
    return o;
}

const std::vector<CodePageEntry>& codePageTable()
{
    static const std::vector<CodePageEntry> table = {
        {0, "0| PC437 (USA, Std Europe)"},
        {1, "1| Katakana"},
        {2, "2| PC 850 (Multilingual)"},
        {3, "3| PC 860 (Portuguese)"},
        {4, "4| PC 863 (Canadian-French)"},
        {5, "5| PC 865 (Nordic)"},
        {13, "13| PC 857 (Turkish)"},
        {14, "14| PC 737 (Greek)"},
        {16, "16| PC1252 (Windows CP)"},
        {17, "17| PC 866 (Cyrillic #2)"},
        {18, "18| PC 852 (Latin 2)"},
        {19, "19| PC 858 (West Euro)"},
        {21, "21| Thai 11"},
        {26, "26| Thai 18"},
        {27, "27| FARSI"},
        {33, "33| PC 775 (Baltic)"},
        {34, "34| PC 855 (Cyrillic)"},
        {36, "36| PC 862 (Hebrew)"},
        {37, "37| PC 864 (Arabic)"},
        {45, "45| WPC1250"},
        {46, "46| WPC 1251 (Cyrillic)"},
        {47, "47| WPC1253"},
        {49, "49| WPC1255"},
        {50, "50| WPC1256"},
        {51, "51| WPC 1257 (Baltic)"},
        {95, "95| TIS 620 (Thai)"},
        {96, "96| Thai 42"},
        {97, "97| Thai 14"},
        {98, "98| Thai 16"},
        {52, "52| WPC1258 (Vietnamese)"},
        {53, "53| KZ1048  (Kazakhstan)"},
        {99, "99| IRAN SYSTEM (Arabic)"},
        {254, "254| SPACE PAGE"},
    };
    return table;
}

int codePageIndexOf(int number)
{
    const auto& table = codePageTable();
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i].number == number)
            return static_cast<int>(i);
    return kNoValue;
}

std::vector<int> speedEntries(ModelFamily modelFamily)
{
    if (modelFamily == kFamilyTavro36)
        return {180, 150};
    return {220, 200, 180, 150};
}

int nvTotalKb(const SetupOptions& options)
{
    int total = 0;
    if (options.nvUser >= 0 && options.nvUser < static_cast<int>(kNvUserSizes.size()))
        total += kNvUserSizes[static_cast<std::size_t>(options.nvUser)];
    if (options.nvGraphic >= 0 && options.nvGraphic < static_cast<int>(kNvGraphicSizes.size()))
        total += kNvGraphicSizes[static_cast<std::size_t>(options.nvGraphic)];
    return total;
}

Status checkNvSize(const SetupOptions& options, std::string_view context)
{
    const int total = nvTotalKb(options);
    if (total <= kNvMemoryLimitKb)
        return Status::success();
    return Status::failure("nv_user + nv_graphic = " + std::to_string(total) + " KB" + std::string(context) +
                           ": out of range the MAX NV memory size (" + std::to_string(kNvMemoryLimitKb) + " KB)");
}
