#include "logo/LogoPreview.h"

#include "common/FileIo.h"

#include <stb/stb_image_write.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>

namespace {

uint32_t crc32(const uint8_t* data, std::size_t size)
{
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
        c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void putBe32(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v >> 24));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void collect(void* context, void* data, int size)
{
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    auto* bytes = static_cast<const uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

} // namespace

Result<LogoPreviewImage> LogoPreview::render(const LogoPicture& picture, LogoPrintMode mode)
{
    const uint32_t w = picture.widthDots, h = picture.heightDots;
    if (w % 8 != 0 || h % 8 != 0)
        return Status::failure("raster size " + std::to_string(w) + " x " + std::to_string(h) + " is not padded to 8 dots");
    const uint64_t expected = picture.gray ? uint64_t(w) * h / 2 : uint64_t(w) * h / 8;
    if (picture.raster.size() != expected)
        return Status::failure("raster of " + std::to_string(picture.raster.size()) + " bytes does not match " +
                               std::to_string(w) + " x " + std::to_string(h) + " dots");
    const uint32_t sx = (mode == LogoPrintMode::DoubleWidth || mode == LogoPrintMode::Quadruple) ? 2 : 1;
    const uint32_t sy = (mode == LogoPrintMode::DoubleHeight || mode == LogoPrintMode::Quadruple) ? 2 : 1;

    LogoPreviewImage image;
    image.width = w * sx;
    image.height = h * sy;
    image.pixels.assign(std::size_t(image.width) * image.height, 255);
    const uint32_t bands = h / 8;
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* line = image.pixels.data() + std::size_t(y * sy) * image.width;
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t shade;
            if (picture.gray) {
                uint8_t b = picture.raster[std::size_t(y) * (w / 2) + x / 2];
                int level = (x & 1) ? (b & 0x0F) : (b >> 4);
                shade = levelShade(std::min(level, 5));
            } else {
                uint8_t b = picture.raster[std::size_t(x) * bands + y / 8];
                shade = ((b >> (7 - (y & 7))) & 1) ? 0 : 255;
            }
            for (uint32_t k = 0; k < sx; ++k)
                line[x * sx + k] = shade;
        }
        if (sy == 2)
            std::memcpy(line + image.width, line, image.width);
    }
    return image;
}

LogoPlacement LogoPreview::place(uint32_t width, uint32_t paper, logo_frames::LogoJustify align)
{
    LogoPlacement p;
    if (width < paper) {
        if (align == logo_frames::LogoJustify::Center)
            p.left = (paper - width) / 2;
        else if (align == logo_frames::LogoJustify::Right)
            p.left = paper - width;
    }
    p.printed = std::min(width, paper - std::min(p.left, paper));
    p.cut = width - p.printed;
    return p;
}

Result<LogoPreviewImage> LogoPreview::renderOnPaper(const LogoPicture& picture, LogoPrintMode mode, uint32_t paper,
                                                    logo_frames::LogoJustify align, LogoPlacement* placement)
{
    if (paper == 0)
        return Status::failure("the paper is 0 dots wide");
    auto printed = render(picture, mode);
    if (!printed.ok())
        return printed.status();
    const LogoPlacement p = place(printed->width, paper, align);
    if (placement)
        *placement = p;
    LogoPreviewImage sheet;
    sheet.width = paper;
    sheet.height = printed->height;
    sheet.pixels.assign(std::size_t(sheet.width) * sheet.height, 255);
    for (uint32_t y = 0; y < sheet.height; ++y)
        std::memcpy(sheet.pixels.data() + std::size_t(y) * paper + p.left,
                    printed->pixels.data() + std::size_t(y) * printed->width, p.printed);
    return sheet;
}

Status LogoPreview::writePng(const std::filesystem::path& file, const LogoPreviewImage& image)
{
    if (image.width == 0 || image.height == 0 || image.pixels.size() != std::size_t(image.width) * image.height)
        return Status::failure("empty or inconsistent preview image");
    std::vector<uint8_t> png;
    if (!stbi_write_png_to_func(collect, &png, int(image.width), int(image.height), 1, image.pixels.data(),
                                int(image.width)) ||
        png.size() < 33)
        return Status::failure("PNG encoding failed");
    // pHYs right behind IHDR (signature 8 bytes + IHDR chunk 25 bytes): dots per metre.
    const uint32_t perMetre = uint32_t(kDotsPerInch / 0.0254 + 0.5);
    std::vector<uint8_t> chunk;
    putBe32(chunk, 9);
    const std::size_t typeAt = chunk.size();
    chunk.insert(chunk.end(), {'p', 'H', 'Y', 's'});
    putBe32(chunk, perMetre);
    putBe32(chunk, perMetre);
    chunk.push_back(1); // unit: metre
    putBe32(chunk, crc32(chunk.data() + typeAt, chunk.size() - typeAt));
    png.insert(png.begin() + 33, chunk.begin(), chunk.end());

    FileOutcome saved = writeFileAtomically(file, std::string_view(reinterpret_cast<const char*>(png.data()), png.size()));
    if (!saved)
        return Status::failure("cannot write " + saved.message);
    return Status::success();
}
