#pragma once
// A Windows BMP file read into memory as a device-independent bitmap: rows bottom-up (or
// top-down for a negative height) with the 4-byte stride, the colour table, and the colour
// masks of 16- and 32-bit pictures. Our own reader: everything comes from the file's
// bytes, every offset and size is checked against the file before it is used.
//
// Accepted: core (12-byte), info (40-byte), V2/V3 (52/56-byte), V4 (108-byte) and
// V5 (124-byte) headers; 1, 2, 4, 8, 16, 24 and 32 bits per pixel; BI_RGB, BI_BITFIELDS
// (and BI_ALPHABITFIELDS) for 16/32 bits, BI_RLE8 and BI_RLE4 (decoded here into plain
// 8- and 4-bit rows). Anything else is refused with a message and a BmpFault.
#include "app/Result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

// Why a file was refused, so that callers can pick the message the user sees.
enum class BmpFault {
    None,
    CannotRead,  // missing, unreadable, or too large to be a picture file
    Unsupported, // a valid file of a kind we do not decode (JPEG/PNG inside, 64 bpp, OS/2 2.x)
    Malformed,   // sizes, offsets or indices that do not fit the file
};

struct BmpColor {
    uint8_t blue = 0, green = 0, red = 0, reserved = 0;
};

class BmpImage final {
public:
    // Files beyond this are not logos and are refused before being read (bytes).
    static constexpr std::uintmax_t kMaxFileBytes = 256u << 20;
    // Width and height beyond this are refused as absurd (dots).
    static constexpr uint32_t kMaxDimension = 1u << 20;
    // An RLE stream may not expand beyond this (bytes of decoded rows).
    static constexpr std::size_t kMaxDecodedBytes = 64u << 20;

    // Reads and checks the file. On failure the message names the file and the fault;
    // *fault (when given) says which kind. Any thread may call it.
    static Result<BmpImage> load(const std::filesystem::path& file, BmpFault* fault = nullptr);
    // The same over bytes already in memory (the whole file, starting with "BM").
    static Result<BmpImage> parse(std::vector<uint8_t> bytes, BmpFault* fault = nullptr);

    int width() const { return m_width; }
    int height() const { return m_height; } // always positive
    int bitCount() const { return m_bitCount; }
    bool topDown() const { return m_topDown; }
    uint32_t headerSize() const { return m_headerSize; }
    uint32_t compression() const { return m_compression; }
    // The declared bfSize of the file header (bytes 2..5).
    uint32_t declaredFileSize() const { return m_declaredFileSize; }

    // Bytes per row of the (decoded) pixel data, a multiple of 4.
    std::size_t stride() const { return m_stride; }
    // Row y of the picture, y = 0 being the top row; stride() bytes.
    const uint8_t* row(int y) const
    {
        std::size_t r = m_topDown ? std::size_t(y) : std::size_t(m_height - 1 - y);
        return m_pixels + r * m_stride;
    }

    // The colour table as far as the file holds it (only for up to 8 bits per pixel); every
    // pixel index of the picture is known to be inside it.
    const std::vector<BmpColor>& colorTable() const { return m_colors; }

    // Masks of the 16- and 32-bit pixel (the BI_RGB defaults 5-5-5 and 8-8-8 when the file
    // gives none). Each is contiguous; a zero mask is a component that stays 0.
    uint32_t redMask() const { return m_masks[0]; }
    uint32_t greenMask() const { return m_masks[1]; }
    uint32_t blueMask() const { return m_masks[2]; }
    // True for 32-bit pixels laid out B, G, R, X (the common case, with a fast path).
    bool isPlainBgrx() const
    {
        return m_masks[0] == 0x00FF0000u && m_masks[1] == 0x0000FF00u && m_masks[2] == 0x000000FFu;
    }

    // The colour-table index of the pixel (pictures up to 8 bits per pixel).
    int pixelIndex(int x, int y) const;
    // The colour of any pixel: a table entry, or the masked components scaled so that a
    // component's top bit is bit 7 (a 5-bit value c gives 8·c, as the printer tool does).
    BmpColor pixelColor(int x, int y) const;
    // The 8-bit value of a masked component of a 16/32-bit pixel value.
    static uint8_t maskedComponent(uint32_t pixel, uint32_t mask);

private:
    BmpImage() = default;
    static Result<BmpImage> parseImpl(std::vector<uint8_t> bytes, BmpFault& fault);

    std::vector<uint8_t> m_file;    // the whole file
    std::vector<uint8_t> m_decoded; // decoded RLE rows, else empty
    const uint8_t* m_pixels = nullptr;
    int m_width = 0;
    int m_height = 0;
    int m_bitCount = 0;
    bool m_topDown = false;
    uint32_t m_headerSize = 0;
    uint32_t m_compression = 0;
    uint32_t m_declaredFileSize = 0;
    std::size_t m_stride = 0;
    std::vector<BmpColor> m_colors;
    uint32_t m_masks[3] = {0, 0, 0};

public:
    // Movable: m_pixels points into a vector's heap buffer, which a move hands over as is.
    BmpImage(BmpImage&& other) noexcept = default;
    BmpImage& operator=(BmpImage&& other) noexcept = default;
    BmpImage(const BmpImage&) = delete;
    BmpImage& operator=(const BmpImage&) = delete;
};
