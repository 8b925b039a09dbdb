#pragma once
// Turns one BMP picture into the bytes of the printer's define-NV-bit-image command: a
// 1-bit column raster (eight vertical dots per byte) or, for gray printing, a 4-bit row
// raster with six levels. The arithmetic (single-precision luminance, the brightness
// curve, the integer Floyd-Steinberg diffusion with its clamps) is what the printer tool
// has always produced, so a picture uploaded by either tool prints identically: results
// are byte-exact, and the fast paths below are checked against that arithmetic.
//
// One rasterizer is reused for a run of pictures: load(), convert, read the output, load
// the next. Not thread-safe; use one per thread.
#include "app/Result.h"
#include "logo/BmpImage.h"
#include "logo/LogoOptions.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

class LogoRasterizer final {
public:
    // The work plane holds one byte per dot of the padded picture, the output buffer the
    // largest raster the NV memory of these printers takes in one picture (0x24000 bytes).
    static constexpr uint32_t kWorkCapacity = 576000;
    static constexpr uint32_t kOutputCapacity = 147456;

    // The options are read at each conversion (the Advanced page may change them).
    explicit LogoRasterizer(const LogoOptions& options);
    ~LogoRasterizer();
    LogoRasterizer(const LogoRasterizer&) = delete;
    LogoRasterizer& operator=(const LogoRasterizer&) = delete;

    // Loads the picture. On failure nothing is loaded, the output length is 0 and *fault
    // (when given) says why.
    Status load(const std::filesystem::path& file, BmpFault* fault = nullptr);
    // Takes a picture already read (tests, the benchmark).
    void load(BmpImage image);
    const LogoOptions& options() const { return m_options; }
    bool loaded() const { return m_image.has_value(); }
    const BmpImage* image() const { return m_image ? &*m_image : nullptr; }

    // The 1-bit column raster; centred on maxPrintableArea when autoCenter is set. Fails
    // (output length 0) when nothing is loaded or the picture exceeds the work plane or the
    // output buffer. The loaded picture is released in every case.
    Status convertMono(bool autoCenter);
    // The 4-bit gray row raster (never centred). Failure as for convertMono.
    Status convertGray();

    // After a conversion: the padded width in dots (grown by centring), the padded height.
    uint32_t W8() const { return m_w8; }
    uint32_t H8() const { return m_h8; }
    const uint8_t* output() const { return m_output.get(); }
    uint32_t outputLength() const { return m_outputLength; }
    // Bytes that centring put in front of the raster (the upload's byte total grows by it).
    uint32_t centringBytes() const { return m_centringBytes; }

    // The NV bytes a W x H picture takes: ceil(H/8) * (W rounded up to 8), four times that
    // for the gray raster.
    static uint64_t predictedSize(uint64_t width, uint64_t height, bool gray);

    // Y = 0.30 R + 0.59 G + 0.11 B in single precision, truncated toward zero.
    static uint8_t luminance(uint8_t red, uint8_t green, uint8_t blue);
    // The diverging point's brightness curve: the work value of gray g for point t.
    static uint8_t brightness(int g, int t);

private:
    Status prepare(bool gray);
    void fillRow(int y, uint8_t* out) const;
    void convertOneBit();
    template <bool Gray> void diffuse();

    const LogoOptions& m_options;
    std::optional<BmpImage> m_image;
    // Sized once: three rows of the work plane (a pair being dithered and the row below,
    // which takes the diffused error), the dots of one band of eight rows, and the output.
    std::unique_ptr<uint8_t[]> m_rows;
    std::unique_ptr<uint8_t[]> m_band;
    std::unique_ptr<uint8_t[]> m_output;
    // Work value per colour-table index / per 16-bit pixel value, built per conversion.
    std::unique_ptr<uint8_t[]> m_lut;
    uint8_t m_curve[256] = {};
    bool m_identityCurve = true; // the diverging point 128 leaves every value as it is
    uint32_t m_w8 = 0;
    uint32_t m_h8 = 0;
    uint32_t m_outputLength = 0;
    uint32_t m_centringBytes = 0;
};
