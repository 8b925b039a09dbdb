#pragma once
// The options of the logo tool's conversion: paper width for centring, the black/white
// diverging point, gray printing and the star-emulation command prefix, plus the
// auto-centre flag of each list row. Reset to defaults() each time the logo tool opens.
#include "app/ConnectionRules.h"

#include <array>
#include <cstdint>

struct LogoOptions {
    // The list holds at most this many pictures, so there are as many row flags.
    static constexpr int kMaxRows = 255;
    // Printable width of the TAVRO15's 58 mm head and of the 80 mm models (dots at 203 dpi).
    static constexpr uint32_t kNarrowPrintableArea = 384;
    static constexpr uint32_t kWidePrintableArea = 576;
    static constexpr int32_t kDefaultDivergingPoint = 128;

    uint32_t maxPrintableArea = kWidePrintableArea; // dots, used for centring
    int32_t divergingPoint = kDefaultDivergingPoint; // 0..255
    bool grayPrinting = false;
    bool starEmulation = false;
    std::array<bool, kMaxRows> autoCenter{};

    // The defaults for a model family (2 is the TAVRO15, whose paper is 384 dots wide).
    static LogoOptions defaults(ModelFamily modelFamily)
    {
        LogoOptions o;
        o.maxPrintableArea = printableAreaLimit(modelFamily);
        return o;
    }
    // The widest printable area the model's head has, in dots: the largest value the
    // Advanced page takes (a wider one would centre pictures off the paper).
    static uint32_t printableAreaLimit(ModelFamily modelFamily)
    {
        return modelFamily == kFamilyTavro15 ? kNarrowPrintableArea : kWidePrintableArea;
    }
    // The auto-centre flag of list row `row` (0-based); off for rows outside the list.
    bool autoCenterOf(int row) const { return row >= 0 && row < kMaxRows && autoCenter[std::size_t(row)]; }
};
