#pragma once
// The transfer block of one flash area: header, FileSize, checksum, then the area's image
// bytes. Built whole in memory and sent exactly as built.
//
//   0..3   area header 01 11 <code> 32
//   4..7   FileSize = L, little-endian
//   8..9   sum of bytes 10..L-1 modulo 65536, little-endian
//   10..   L - 10 image bytes from the area's offset (the range's last ten bytes are not sent)
//
// The Boot block always ends in 00 80 FE FF (the boot loader's entry marker), whatever the
// image holds there; the checksum covers those four bytes.
#include "firmware/FirmwareArea.h"
#include "firmware/FirmwareImage.h"

#include <cstdint>
#include <span>
#include <vector>

inline constexpr std::size_t kTransferHeaderSize = 10;

// The area's place in an image of the layout: firmwareAreaSpec for the printer's flash, every
// offset and length divided by the layout's scale otherwise.
FirmwareAreaSpec firmwareAreaSpec(FirmwareArea area, ModelFamily family, const FirmwareImageLayout& layout);

// Pure: the block for the area of the family, cut from the image by its layout.
std::vector<std::uint8_t> buildTransferBlock(const FirmwareImage& image, FirmwareArea area, ModelFamily family);
// Same, from the raw image bytes (they must hold the area's range; checked by the caller).
std::vector<std::uint8_t> buildTransferBlock(std::span<const std::uint8_t> image, const FirmwareAreaSpec& areaSpec);

// The checksum field of a block (bytes 8..9).
std::uint16_t transferBlockChecksum(std::span<const std::uint8_t> block);
