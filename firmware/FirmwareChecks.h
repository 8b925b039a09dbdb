#pragma once
// What a firmware download is refused for, or asked about, before a byte leaves for the
// printer. Each problem says what was expected and what was found, in the user's language,
// so that the dialogs and tavroctl show the same words.
#include "app/Result.h"
#include "firmware/FirmwareArea.h"
#include "firmware/FirmwareImage.h"
#include "firmware/LegacyPackets.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// An image offset as the texts show it: "0x1D0000".
std::string hexOffset(std::uint32_t offset);

// The bytes of the image that become one area's contents, for the texts.
struct ImageRange {
    std::string areaName;  // "Program Area", "&1.Program" without the accelerator, ...
    std::uint32_t offset;  // first byte in the image
    std::uint32_t length;  // bytes from there
};

ImageRange imageRangeOf(FirmwareArea area, ModelFamily family, bool korean);
ImageRange imageRangeOf(const LegacyAreaSpec& area, bool korean);

// A TAVRO15 image is a flat copy of the flash: the file must reach the end of the area, or
// the printer would get bytes that are not in it. The refusal text, or nothing.
std::optional<std::string> coverageProblem(std::uint64_t fileSize, const ImageRange& range, bool korean);

// Every byte of the area is 00, or every byte is FF: most likely the wrong file, and a
// download leaves the area empty. The value found (0x00 or 0xFF), or nothing. image may be
// shorter than the range (then only what it holds is looked at).
std::optional<std::uint8_t> blankFill(std::span<const std::uint8_t> image, const ImageRange& range);
// The question the dialogs ask (default No). tavroctl shows it as a refusal that names
// --force instead.
std::string blankAreaQuestion(const ImageRange& range, std::uint8_t fill, bool korean);
std::string blankAreaRefusal(const ImageRange& range, std::uint8_t fill);

// The areas that can leave the printer unable to start or to take a new download: Boot and
// the downloader. Asked about with No as the default answer.
bool isDangerousArea(FirmwareArea area);
bool isDangerousArea(LegacyArea area);

// What is wrong with an image file that File Open refuses, for the lines that follow
// "ERROR : Please check the firmware file.": the size expected and found, and the signature
// expected and the bytes found in its place (or that the file ends before it).
std::string imageFileProblem(std::uint64_t fileSize, const FirmwareImage::Trailer& trailer, bool korean);
// The line that follows "FileSize (%d bytes) Error!": the size an image must have.
std::string imageSizeExpected(bool korean);

// The SHA-256 of an area's bytes in the image (what the printer holds after the download),
// of the part the file has when it ends inside the area.
std::string areaDigest(std::span<const std::uint8_t> image, const ImageRange& range);

// The file must be exactly the one the caller pinned (pinned: 64 hex digits, any case; empty:
// no pin). A failure message naming the digests, or empty.
std::string pinnedDigestProblem(const std::string& file, const std::string& pinned);

// What a download of one area of a model other than the TAVRO15 checks before anything is
// sent, in order: the file opens and carries the signature, the area is allowed for the model
// and the mode, the exact size, the pinned digest, and (unless forced) that the area is not
// blank. areaText is the area as the user named it, for the texts. The image, or the refusal.
Result<FirmwareImage> checkAreaDownload(const std::string& file, FirmwareArea area, const std::string& areaText,
                                        ModelFamily family, bool serviceMode, const std::string& pinned,
                                        bool forceBlank);
