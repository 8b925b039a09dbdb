#include "logo/LogoPicture.h"

#include "logo/LogoRasterizer.h"

#include <algorithm>

std::array<uint8_t, 4> nvPictureHeader(uint32_t w8, uint32_t h8, bool gray)
{
    const uint32_t x = w8 / 8, y = h8 / 8;
    uint8_t xH = uint8_t((x >> 8) & 0xFF);
    if (gray)
        xH |= 0xA0;
    return {uint8_t(x & 0xFF), xH, uint8_t(y & 0xFF), uint8_t((y >> 8) & 0xFF)};
}

std::array<uint8_t, 4> LogoPicture::header() const { return nvPictureHeader(widthDots, heightDots, gray); }

std::vector<uint8_t> LogoPicture::uploadBytes() const
{
    std::vector<uint8_t> bytes(4 + raster.size());
    auto h = header();
    std::copy(h.begin(), h.end(), bytes.begin());
    std::copy(raster.begin(), raster.end(), bytes.begin() + 4);
    return bytes;
}

Result<LogoPicture> rasterizeLogo(LogoRasterizer& rasterizer, const std::filesystem::path& file,
                                  bool autoCenter, BmpFault* fault)
{
    BmpFault local = BmpFault::None;
    BmpFault& f = fault ? *fault : local;
    Status s = rasterizer.load(file, &f);
    if (!s.ok())
        return s;
    const BmpImage* image = rasterizer.image();
    LogoPicture picture;
    picture.gray = rasterizer.options().grayPrinting;
    picture.predictedSize = LogoRasterizer::predictedSize(uint64_t(image->width()), uint64_t(image->height()),
                                                          picture.gray);
    s = picture.gray ? rasterizer.convertGray() : rasterizer.convertMono(autoCenter);
    if (!s.ok())
        return Status::failure(file.string() + ": " + s.message());
    picture.widthDots = rasterizer.W8();
    picture.heightDots = rasterizer.H8();
    picture.centringBytes = rasterizer.centringBytes();
    picture.raster.assign(rasterizer.output(), rasterizer.output() + rasterizer.outputLength());
    return picture;
}

Result<LogoPicture> rasterizeLogoFile(const std::filesystem::path& file, const LogoOptions& options,
                                      bool autoCenter, BmpFault* fault)
{
    LogoRasterizer rasterizer(options);
    return rasterizeLogo(rasterizer, file, autoCenter, fault);
}
