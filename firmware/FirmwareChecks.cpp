#include "firmware/FirmwareChecks.h"

#include "app/MessageCatalog.h"
#include "app/Sha256.h"

#include <algorithm>
#include <cstdio>

std::string hexOffset(std::uint32_t offset)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%06X", offset);
    return buf;
}

namespace {

std::string byteHex(std::uint8_t v)
{
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", v);
    return buf;
}

std::string_view legacyAreaCaption(LegacyArea area, bool korean)
{
    switch (area) {
    case LegacyArea::Program: return korean ? "프로그램 영역" : "Program area";
    case LegacyArea::ExtFont: return korean ? "확장 폰트 영역" : "Ext Font area";
    case LegacyArea::Boot: return korean ? "부트 영역" : "Boot area";
    case LegacyArea::Font: break;
    }
    return korean ? "폰트 영역" : "Font area";
}

} // namespace

ImageRange imageRangeOf(FirmwareArea area, ModelFamily family, bool korean)
{
    const FirmwareAreaSpec layout = firmwareAreaSpec(area, family);
    // The block carries the range's bytes up to its last ten (the header takes their place).
    return {std::string(firmwareAreaCaption(area, korean)), layout.offset,
            static_cast<std::uint32_t>(layout.length - 10)};
}

ImageRange imageRangeOf(const LegacyAreaSpec& area, bool korean)
{
    return {std::string(legacyAreaCaption(area.area, korean)), area.start, area.end - area.start};
}

std::optional<std::string> coverageProblem(std::uint64_t fileSize, const ImageRange& range, bool korean)
{
    const std::uint64_t needed = std::uint64_t(range.offset) + range.length;
    if (fileSize >= needed)
        return std::nullopt;
    const std::string last = hexOffset(static_cast<std::uint32_t>(needed - 1));
    if (korean)
        return "이 파일에는 " + range.areaName + "이 모두 들어 있지 않습니다.\n영역은 이미지의 " +
               hexOffset(range.offset) + " ~ " + last + " 바이트이므로 파일은 " + std::to_string(needed) +
               " 바이트 이상이어야 하지만, 이 파일은 " + std::to_string(fileSize) +
               " 바이트입니다.\n펌웨어 파일을 확인하십시오.";
    return "This file does not hold the whole " + range.areaName + ".\nThe area is bytes " + hexOffset(range.offset) +
           " to " + last + " of the image, so the file must be at least " + std::to_string(needed) +
           " bytes long; this file has " + std::to_string(fileSize) + " bytes.\nPlease check the firmware file.";
}

std::optional<std::uint8_t> blankFill(std::span<const std::uint8_t> image, const ImageRange& range)
{
    if (range.offset >= image.size() || range.length == 0)
        return std::nullopt;
    const auto area = image.subspan(range.offset, std::min<std::size_t>(range.length, image.size() - range.offset));
    const std::uint8_t first = area.front();
    if (first != 0x00 && first != 0xFF)
        return std::nullopt;
    if (std::all_of(area.begin(), area.end(), [first](std::uint8_t b) { return b == first; }))
        return first;
    return std::nullopt;
}

std::string blankAreaQuestion(const ImageRange& range, std::uint8_t fill, bool korean)
{
    const std::string last = hexOffset(range.offset + range.length - 1);
    if (korean)
        return "이 파일의 " + range.areaName + "은 비어 있습니다: " + hexOffset(range.offset) + " ~ " + last +
               " 의 모든 바이트가 " + byteHex(fill) +
               " 입니다.\n다운로드하면 프린터의 이 영역이 비게 되어 프린터가 동작하지 않을 수 있습니다.\n그래도 다운로드하시겠습니까?";
    return "The " + range.areaName + " of this file is blank: every byte from " + hexOffset(range.offset) + " to " + last +
           " is " + byteHex(fill) +
           ".\nDownloading it leaves this area of the printer empty, and the printer may not work.\nDownload it anyway?";
}

std::string blankAreaRefusal(const ImageRange& range, std::uint8_t fill)
{
    return "the " + range.areaName + " of this file is blank: every byte from " + hexOffset(range.offset) + " to " +
           hexOffset(range.offset + range.length - 1) + " is " + byteHex(fill) +
           " (most likely the wrong file); nothing was sent. Use --force to download it anyway";
}

bool isDangerousArea(FirmwareArea area) { return area == FirmwareArea::Boot || area == FirmwareArea::Downloader; }

bool isDangerousArea(LegacyArea area) { return area == LegacyArea::Boot; }

std::string imageFileProblem(std::uint64_t fileSize, const FirmwareImage::Trailer& trailer, bool korean)
{
    const std::string expectedSize = std::to_string(FirmwareImage::kSize);
    const std::string where = hexOffset(FirmwareImage::kSignatureOffset) + (korean ? " ~ " : " to ") +
                              hexOffset(FirmwareImage::kSize - 1);
    std::string found;
    if (fileSize <= FirmwareImage::kSignatureOffset) {
        found = korean ? "파일이 그 전에 끝납니다" : "the file ends before them";
    } else {
        for (std::uint8_t b : trailer.signatureBytes)
            found += (found.empty() ? "" : " ") + byteHex(b);
    }
    std::string text;
    if (korean) {
        if (fileSize != FirmwareImage::kSize)
            text += "파일 크기: " + expectedSize + " 바이트여야 하지만 이 파일은 " + std::to_string(fileSize) + " 바이트입니다.\n";
        text += "서명: 마지막 4 바이트(" + where + ")가 \"QZM2\" 이어야 하지만 " + found +
                (fileSize <= FirmwareImage::kSignatureOffset ? "." : " 입니다.");
        return text;
    }
    if (fileSize != FirmwareImage::kSize)
        text += "Expected a file of " + expectedSize + " bytes; this file has " + std::to_string(fileSize) + " bytes.\n";
    text += "Expected the signature \"QZM2\" in the last four bytes (" + where + "); " +
            (fileSize <= FirmwareImage::kSignatureOffset ? found : "found " + found) + ".";
    return text;
}

std::string imageSizeExpected(bool korean)
{
    const std::string size = std::to_string(FirmwareImage::kSize);
    return korean ? "펌웨어 파일은 " + size + " 바이트(8 MiB)여야 합니다." : "A firmware file has " + size + " bytes (8 MiB).";
}

std::string areaDigest(std::span<const std::uint8_t> image, const ImageRange& range)
{
    if (range.offset >= image.size())
        return sha256Hex({});
    return sha256Hex(image.subspan(range.offset, std::min<std::size_t>(range.length, image.size() - range.offset)));
}

std::string pinnedDigestProblem(const std::string& file, const std::string& pinned)
{
    if (pinned.empty())
        return {};
    const std::string wanted = normalisedSha256(pinned);
    if (wanted.empty())
        return "--sha256 wants 64 hexadecimal digits, not \"" + pinned + "\"";
    auto digest = sha256OfFile(file);
    if (!digest)
        return std::string(catalogText(Msg::FileOpenError)) + " (" + digest.message() + ")";
    if (*digest != wanted)
        return "the file's SHA-256 is " + *digest + ", not the " + wanted + " given with --sha256; nothing was sent";
    return {};
}

Result<FirmwareImage> checkAreaDownload(const std::string& file, FirmwareArea area, const std::string& areaText,
                                        ModelFamily family, bool serviceMode, const std::string& pinned,
                                        bool forceBlank)
{
    using R = Result<FirmwareImage>;
    // What File Open checks: the file opens and carries the signature.
    auto trailer = FirmwareImage::readTrailer(file);
    if (!trailer)
        return R::failure("ERROR : File Open (" + trailer.message() + ")");
    if (!trailer->signature)
        return R::failure("ERROR : Please check the firmware file.");
    if (!firmwareAreaAllowed(area, family, serviceMode, trailer->bootAllowed())) {
        if (area == FirmwareArea::LcdFont)
            return R::failure("the LCD font area exists only on a TAVRO46/48");
        if (area == FirmwareArea::Boot && serviceMode)
            return R::failure("this image does not allow a Boot Area download (boot permission " +
                              std::to_string(trailer->bootPermission) + ", needs 1..10)");
        return R::failure("--area " + areaText + " needs --service");
    }
    // What UPDATE checks: the exact size and the signature of the bytes actually read.
    FirmwareImage::Fault fault{};
    auto image = FirmwareImage::load(file, &fault);
    if (!image)
        return image;
    if (std::string problem = pinnedDigestProblem(file, pinned); !problem.empty())
        return R::failure(problem);
    if (auto fill = blankFill(image->bytes(), imageRangeOf(area, family, false)); fill && !forceBlank)
        return R::failure(blankAreaRefusal(imageRangeOf(area, family, false), *fill));
    return image;
}
