#include "sim/NvPicture.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#include <stb/stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

uint8_t NvPicture::darkness(int x, int y) const
{
    if (x < 0 || y < 0 || x >= widthDots() || y >= heightDots())
        return 0;
    if (!gray) {
        // Column raster: for each dot column, Y bytes top to bottom, bit 7 the topmost dot.
        size_t index = static_cast<size_t>(x) * yBytes + y / 8;
        if (index >= data.size())
            return 0;
        return (data[index] >> (7 - y % 8)) & 1 ? 255 : 0;
    }
    // Row raster: X·4 bytes per dot row, two dots per byte, the left dot in the high nibble.
    size_t index = static_cast<size_t>(y) * xBytes * 4 + x / 2;
    if (index >= data.size())
        return 0;
    int level = (x % 2 == 0) ? data[index] >> 4 : data[index] & 0x0F;
    if (level > 5)
        level = 5; // the print head has six levels; higher codes print as the darkest
    return static_cast<uint8_t>(level * 51);
}

std::vector<uint8_t> NvPicture::toGrayImage() const
{
    std::vector<uint8_t> img(static_cast<size_t>(widthDots()) * heightDots());
    for (int y = 0; y < heightDots(); ++y)
        for (int x = 0; x < widthDots(); ++x)
            img[static_cast<size_t>(y) * widthDots() + x] = static_cast<uint8_t>(255 - darkness(x, y));
    return img;
}

bool NvPicture::writePng(const std::string& path, std::string* error) const
{
    if (empty()) {
        if (error)
            *error = "empty picture";
        return false;
    }
    auto img = toGrayImage();
    if (!stbi_write_png(path.c_str(), widthDots(), heightDots(), 1, img.data(), widthDots())) {
        if (error)
            *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool NvPicture::writeGrayPng(const std::string& path, int width, int height, const uint8_t* pixels)
{
    return width > 0 && height > 0 && stbi_write_png(path.c_str(), width, height, 1, pixels, width) != 0;
}
