#pragma once
// Writes BMP files for the tests byte by byte, with every header field under the test's
// control: the honest layout by default, and any field overridden to make a bad file.
#include "logo/BmpImage.h"

#include <cstdint>
#include <string>
#include <vector>

struct BmpSpec {
    int width = 8;
    int height = 8;
    int bpp = 24;
    uint32_t headerSize = 40;    // 12, 40, 52, 56, 108, 124
    bool topDown = false;
    uint32_t compression = 0;    // BI_RGB
    std::vector<BmpColor> palette;
    uint32_t clrUsed = 0;
    bool writeMasks = false;     // BI_BITFIELDS masks (inside V2+ headers, else behind the header)
    uint32_t masks[3] = {0, 0, 0};
    // Pixel values, top row first: an index (up to 8 bits), the raw 16-bit value, 0xRRGGBB
    // (24 bits) or the raw 32-bit value.
    std::vector<uint32_t> pixels;
    std::vector<uint8_t> rle;    // the RLE stream for BI_RLE8/BI_RLE4
};

inline void putLe(std::vector<uint8_t>& out, std::size_t at, uint32_t v, int bytes)
{
    if (at + std::size_t(bytes) > out.size())
        out.resize(at + std::size_t(bytes)); // never: every caller writes inside the file
    for (int i = 0; i < bytes; ++i)
        out[at + std::size_t(i)] = uint8_t(v >> (8 * i));
}

inline std::vector<uint8_t> buildBmp(const BmpSpec& s)
{
    const bool core = s.headerSize == 12;
    const std::size_t entry = core ? 3 : 4;
    const std::size_t maskBytes = (s.writeMasks && s.headerSize == 40) ? 12 : 0;
    const std::size_t tableStart = 14 + s.headerSize + maskBytes;
    const std::size_t offBits = tableStart + s.palette.size() * entry;
    const std::size_t stride = (std::size_t(s.width) * std::size_t(s.bpp) + 31) / 32 * 4;
    std::vector<uint8_t> pixelData;
    if (!s.rle.empty()) {
        pixelData = s.rle;
    } else {
        pixelData.assign(stride * std::size_t(s.height), 0);
        for (int y = 0; y < s.height; ++y) {
            int fileRow = s.topDown ? y : s.height - 1 - y;
            uint8_t* row = pixelData.data() + std::size_t(fileRow) * stride;
            for (int x = 0; x < s.width; ++x) {
                uint32_t v = s.pixels.empty() ? 0 : s.pixels[std::size_t(y * s.width + x)];
                switch (s.bpp) {
                case 1: row[x / 8] |= uint8_t((v & 1) << (7 - x % 8)); break;
                case 2: row[x / 4] |= uint8_t((v & 3) << (6 - 2 * (x % 4))); break;
                case 4: row[x / 2] |= uint8_t((v & 15) << ((x % 2) ? 0 : 4)); break;
                case 8: row[x] = uint8_t(v); break;
                case 16: row[2 * x] = uint8_t(v); row[2 * x + 1] = uint8_t(v >> 8); break;
                case 24: row[3 * x] = uint8_t(v); row[3 * x + 1] = uint8_t(v >> 8); row[3 * x + 2] = uint8_t(v >> 16); break;
                case 32: for (int i = 0; i < 4; ++i) row[4 * x + i] = uint8_t(v >> (8 * i)); break;
                default: break;
                }
            }
        }
    }
    std::vector<uint8_t> out(offBits + pixelData.size(), 0);
    out[0] = 'B';
    out[1] = 'M';
    putLe(out, 2, uint32_t(out.size()), 4);
    putLe(out, 10, uint32_t(offBits), 4);
    putLe(out, 14, s.headerSize, 4);
    if (core) {
        putLe(out, 18, uint32_t(s.width), 2);
        putLe(out, 20, uint32_t(s.height), 2);
        putLe(out, 22, 1, 2);
        putLe(out, 24, uint32_t(s.bpp), 2);
    } else {
        putLe(out, 18, uint32_t(s.width), 4);
        putLe(out, 22, uint32_t(s.topDown ? -s.height : s.height), 4);
        putLe(out, 26, 1, 2);
        putLe(out, 28, uint32_t(s.bpp), 2);
        putLe(out, 30, s.compression, 4);
        putLe(out, 34, uint32_t(pixelData.size()), 4);
        putLe(out, 38, 2835, 4);
        putLe(out, 42, 2835, 4);
        putLe(out, 46, s.clrUsed, 4);
        if (s.writeMasks) {
            std::size_t at = s.headerSize >= 52 ? 14 + 40 : 14 + s.headerSize;
            for (int i = 0; i < 3; ++i)
                putLe(out, at + 4 * std::size_t(i), s.masks[i], 4);
        }
    }
    for (std::size_t i = 0; i < s.palette.size(); ++i) {
        const BmpColor& c = s.palette[i];
        std::size_t at = tableStart + i * entry;
        out[at] = c.blue;
        out[at + 1] = c.green;
        out[at + 2] = c.red;
        if (!core)
            out[at + 3] = c.reserved;
    }
    std::copy(pixelData.begin(), pixelData.end(), out.begin() + std::ptrdiff_t(offBits));
    return out;
}

inline std::string asString(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }
