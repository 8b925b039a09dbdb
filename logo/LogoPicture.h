#pragma once
// One picture as the NV upload sends it: the four header bytes of the define-NV-bit-image
// command (xL xH yL yH, xH ORed with A0 for the gray raster) and the raster behind them.
// This is what the upload engine, the preview and `tavroctl logo raster` share.
#include "app/Result.h"
#include "logo/BmpImage.h"
#include "logo/LogoOptions.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <vector>

class LogoRasterizer;

struct LogoPicture {
    uint32_t widthDots = 0;     // W8, after centring
    uint32_t heightDots = 0;    // H8
    bool gray = false;          // 4-bit row raster instead of the 1-bit column raster
    uint32_t centringBytes = 0; // blank bytes centring put in front of the raster
    uint64_t predictedSize = 0; // what the bitmap list predicted for this file (no centring)
    std::vector<uint8_t> raster;

    std::array<uint8_t, 4> header() const;
    // Header followed by the raster: exactly the bytes of this picture in an upload.
    std::vector<uint8_t> uploadBytes() const;
};

// xL xH yL yH for a raster of w8 x h8 dots: X = w8/8 bytes across, Y = h8/8 bytes down, little
// endian; gray rasters set A0 in xH.
std::array<uint8_t, 4> nvPictureHeader(uint32_t w8, uint32_t h8, bool gray);

// The largest picture one NV definition carries: the define command's height field counts
// bands of eight dots and the printers take at most 288 of them; a picture is at most as wide
// as the printable area it is printed on.
inline constexpr uint32_t kMaxNvPictureHeightDots = 288 * 8;

// Whether a W x H picture can be converted and sent whole with these options: within the
// printable area and the height limit, and within the rasterizer's work plane and output
// buffer (for a mono picture also once centred, since its auto-centre flag may still change
// after it is listed). Failure: why, in one line.
Status checkNvPictureLimits(uint64_t width, uint64_t height, const LogoOptions& options);

// Loads and converts one file with the options (gray when options.grayPrinting, else mono
// with the given auto-centre flag), using the caller's rasterizer so that its buffers are
// reused. Failure: the reader's or the rasterizer's message; *fault says whether the file
// could not be read, is unsupported or malformed (BmpFault::None for a capacity refusal).
Result<LogoPicture> rasterizeLogo(LogoRasterizer& rasterizer, const std::filesystem::path& file,
                                  bool autoCenter, BmpFault* fault = nullptr);
// The same with a rasterizer of its own.
Result<LogoPicture> rasterizeLogoFile(const std::filesystem::path& file, const LogoOptions& options,
                                      bool autoCenter, BmpFault* fault = nullptr);
