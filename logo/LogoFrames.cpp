#include "logo/LogoFrames.h"

#include <algorithm>
#include <cstdio>

namespace logo_frames {

namespace {

uint8_t numberByte(int n) { return uint8_t(std::clamp(n, 1, 255)); }

// The receipt's text. Every line fits 40 columns (the Font A width of 58 mm paper, so it
// prints unwrapped on every model); the item block is column-aligned for that width.
constexpr const char* kReceiptLines[] = {
    "            SAMPLE STORE No. 042",
    "       1200 Harbour Road, Unit 7",
    "        Riverside, 40210 Eastland",
    "           Tel. (555) 010-2040",
    "",
    "",
    "Date: 2026/01/15          Order: 000731",
    "Time: 14:32:08           Customer: 1187",
    "Sales person: Counter 2",
    "========================================",
    "Item            Qty   Unit Price  Amount",
    "----------------------------------------",
    "Thermal paper roll 80mm",
    "                  3 x      2.50     7.50",
    "----------------------------------------",
    "Sub-total                           7.50",
    "Tax 10%                             0.75",
    "TOTAL                               8.25",
    "========================================",
    "Paid (cash)                        10.00",
    "Change                              1.75",
    "Member points earned: 8    Balance: 1240",
    "",
    "Returns accepted within 30 days with",
    "this receipt.",
    "",
    "  T h a n k   y o u   f o r   y o u r",
    "            p u r c h a s e !",
    "This is a sample receipt of the printer.",
    "  The top and bottom logos are added",
    "    by the printer as configured.",
};

} // namespace

Bytes initialise() { return {0x1B, 0x40}; }

Bytes printerCheck() { return {0x1D, 0x49, 0x01}; }

Bytes defineCommand(int count, bool star)
{
    Bytes b;
    if (star)
        b.push_back(0x1B);
    b.insert(b.end(), {0x1C, 0x71, numberByte(count)});
    return b;
}

Bytes emptyPicture() { return {0x00, 0x00, 0x00, 0x00}; }

Bytes clearAll() { return {0x1C, 0x71, 0x01, 0x00, 0x00, 0x00, 0x00}; }

Bytes printCommand(int number, PrintMode mode, bool star)
{
    Bytes b;
    if (star)
        b.push_back(0x1B);
    b.insert(b.end(), {0x1C, 0x70, numberByte(number), uint8_t(mode)});
    return b;
}

Bytes headerLine(int number)
{
    char text[32];
    int n = std::snprintf(text, sizeof text, "--- Logo %d ---\n", number);
    return Bytes(text, text + n);
}

std::array<uint8_t, 12> logoSettingsFrame(const LogoSettingsValues& v)
{
    return {0x1C,
            0x01,
            0x30,
            uint8_t(v.topEnable ? 1 : 0),
            numberByte(v.topNumber),
            uint8_t(uint8_t(v.topJustify) | (v.powerOn ? 0x04 : 0x00)),
            uint8_t(v.bottomEnable ? 1 : 0),
            numberByte(v.bottomNumber),
            uint8_t(v.bottomJustify),
            0x1C,
            0x02,
            0x30};
}

Bytes sampleReceipt()
{
    Bytes b;
    b.reserve(kSampleReceiptSize);
    for (const char* line : kReceiptLines) {
        for (const char* c = line; *c; ++c)
            b.push_back(uint8_t(*c));
        b.push_back(0x0D);
        b.push_back(0x0A);
    }
    // Feed, ESC a 6, feed, the cut ESC i with its parameter, feed: the tail every receipt of
    // the tool has ended with, which the printer answers by adding its bottom logo and cutting.
    b.insert(b.end(), {0x0D, 0x0A, 0x0D, 0x0A, 0x1B, 0x61, 0x06, 0x0D, 0x0A, 0x1B, 0x69, 0x20, 0x0D, 0x0A});
    return b;
}

} // namespace logo_frames
