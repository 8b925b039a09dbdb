#include "firmware/TransferBlock.h"

#include <algorithm>
#include <cassert>

std::vector<std::uint8_t> buildTransferBlock(std::span<const std::uint8_t> image, const FirmwareAreaSpec& areaSpec)
{
    const std::uint32_t L = areaSpec.length;
    assert(L >= kTransferHeaderSize + 4 && std::size_t(areaSpec.offset) + L - kTransferHeaderSize <= image.size());
    std::vector<std::uint8_t> block(L, 0xFF);
    block[4] = static_cast<std::uint8_t>(L);
    block[5] = static_cast<std::uint8_t>(L >> 8);
    block[6] = static_cast<std::uint8_t>(L >> 16);
    block[7] = static_cast<std::uint8_t>(L >> 24);
    auto from = image.begin() + areaSpec.offset;
    std::copy(from, from + (L - kTransferHeaderSize), block.begin() + kTransferHeaderSize);
    std::copy(areaSpec.header.begin(), areaSpec.header.end(), block.begin());
    if (areaSpec.area == FirmwareArea::Boot) {
        static constexpr std::uint8_t kBootTail[4] = {0x00, 0x80, 0xFE, 0xFF};
        std::copy(std::begin(kBootTail), std::end(kBootTail), block.end() - 4);
    }
    std::uint32_t sum = 0;
    for (std::size_t i = kTransferHeaderSize; i < L; ++i)
        sum += block[i];
    block[8] = static_cast<std::uint8_t>(sum);
    block[9] = static_cast<std::uint8_t>(sum >> 8);
    return block;
}

FirmwareAreaSpec firmwareAreaSpec(FirmwareArea area, ModelFamily family, const FirmwareImageLayout& layout)
{
    FirmwareAreaSpec scaled = firmwareAreaSpec(area, family);
    scaled.offset /= layout.scale;
    scaled.length /= layout.scale;
    return scaled;
}

std::vector<std::uint8_t> buildTransferBlock(const FirmwareImage& image, FirmwareArea area, ModelFamily family)
{
    return buildTransferBlock(image.bytes(), firmwareAreaSpec(area, family, image.layout()));
}

std::uint16_t transferBlockChecksum(std::span<const std::uint8_t> block)
{
    if (block.size() < kTransferHeaderSize)
        return 0;
    return static_cast<std::uint16_t>(block[8] | (block[9] << 8));
}
