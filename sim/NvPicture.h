#pragma once
// One picture of the NV bit-image memory as FS q defined it: X bytes across and Y bytes down
// (X·8 × Y·8 dots), either the 1-bit column raster or, with the gray flag, the 4-bit row raster
// of six levels (nibble 0 white .. 5 darkest).
#include <cstdint>
#include <string>
#include <vector>

struct NvPicture {
    int xBytes = 0;
    int yBytes = 0;
    bool gray = false;
    std::vector<uint8_t> data;

    int widthDots() const { return xBytes * 8; }
    int heightDots() const { return yBytes * 8; }
    bool empty() const { return xBytes == 0 || yBytes == 0; }
    // Bytes of raster data the header announces.
    static size_t dataSize(int xBytes, int yBytes, bool gray)
    {
        return static_cast<size_t>(xBytes) * yBytes * (gray ? 32 : 8);
    }

    // Darkness of one dot as printed, 0 (paper) .. 255 (full black).
    uint8_t darkness(int x, int y) const;
    // An 8-bit gray image (255 white), widthDots × heightDots, row-major, as printed.
    std::vector<uint8_t> toGrayImage() const;
    // Writes it as a PNG file. Returns false (and says why) when it cannot.
    bool writePng(const std::string& path, std::string* error) const;
    // Writes any 8-bit gray image (width x height bytes, row-major) as a PNG.
    static bool writeGrayPng(const std::string& path, int width, int height, const uint8_t* pixels);
};
