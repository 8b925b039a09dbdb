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

Status checkNvPictureLimits(uint64_t width, uint64_t height, const LogoOptions& options)
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height) + " dots";
    if (width == 0 || height == 0)
        return Status::failure("picture of " + size + " has no dots");
    if (width > options.maxPrintableArea)
        return Status::failure("picture of " + size + " is wider than the printable area of " +
                               std::to_string(options.maxPrintableArea) + " dots");
    if (height > kMaxNvPictureHeightDots)
        return Status::failure("picture of " + size + " is higher than the " +
                               std::to_string(kMaxNvPictureHeightDots) + " dots one NV picture can hold");
    const uint64_t w8 = (width + 7) / 8 * 8, h8 = (height + 7) / 8 * 8;
    if (w8 * h8 > LogoRasterizer::kWorkCapacity)
        return Status::failure("picture of " + size + " exceeds the converter's " +
                               std::to_string(LogoRasterizer::kWorkCapacity) + " dots");
    uint64_t widest = w8;
    if (!options.grayPrinting && w8 < options.maxPrintableArea)
        widest = w8 + ((options.maxPrintableArea - w8) / 2 + 7) / 8 * 8;
    const uint64_t bytes = options.grayPrinting ? w8 * h8 / 2 : widest * h8 / 8;
    if (bytes > LogoRasterizer::kOutputCapacity)
        return Status::failure("picture of " + size + " needs " + std::to_string(bytes) +
                               " raster bytes, more than the " + std::to_string(LogoRasterizer::kOutputCapacity) +
                               " one NV picture can hold");
    return Status::success();
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
