#pragma once
// The picture as the printer prints it: decoded back from the raster that is sent (so the
// preview shows exactly those bytes), one pixel per 203-dpi dot, black or white for the
// 1-bit raster and six levels for the gray raster, doubled for the print modes.
#include "app/Result.h"
#include "logo/LogoFrames.h"
#include "logo/LogoPicture.h"

#include <cstdint>
#include <filesystem>
#include <vector>

// The print modes of the print-NV-picture command (its m byte).
enum class LogoPrintMode : uint8_t { Normal = 0, DoubleWidth = 1, DoubleHeight = 2, Quadruple = 3 };

struct LogoPreviewImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels; // 8-bit gray, row-major, 0 = black (a full dot), 255 = paper
};

// Where a picture lands across the paper.
struct LogoPlacement {
    uint32_t left = 0;    // dots from the paper's left edge to the picture's first column
    uint32_t printed = 0; // columns of the picture that are on the paper
    uint32_t cut = 0;     // columns beyond the paper's right edge: not printed
};

class LogoPreview final {
public:
    // The thermal head's resolution, written into the PNG so viewers show true size.
    static constexpr int kDotsPerInch = 203;

    // Renders the raster of the picture. Fails when the raster does not match its size.
    static Result<LogoPreviewImage> render(const LogoPicture& picture, LogoPrintMode mode);
    // Where the printer lays a picture `width` dots wide (already doubled by the print mode)
    // on paper `paper` dots wide: LEFT at the margin, CENTER and RIGHT within the paper by the
    // picture's whole width, blank columns of a centred picture included (a picture as wide
    // as the paper or wider starts at the margin). What passes the right edge is cut off.
    static LogoPlacement place(uint32_t width, uint32_t paper, logo_frames::LogoJustify align);
    // The paper as the printer leaves it: `paper` dots across and the picture's rows (doubled
    // for the mode), the picture placed as place() says and cut at the edge. *placement (when
    // given) receives the placement. Fails as render() does, or for paper 0 dots wide.
    static Result<LogoPreviewImage> renderOnPaper(const LogoPicture& picture, LogoPrintMode mode, uint32_t paper,
                                                  logo_frames::LogoJustify align,
                                                  LogoPlacement* placement = nullptr);
    // Writes an 8-bit grayscale PNG with a 203-dpi pHYs chunk; the file is replaced only
    // once it is complete.
    static Status writePng(const std::filesystem::path& file, const LogoPreviewImage& image);
    // The gray value of a gray-raster level 0..5 (0 white, 5 darkest).
    static uint8_t levelShade(int level) { return uint8_t(255 - 51 * level); }
};
