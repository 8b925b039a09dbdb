#pragma once
// Firmware images for tests, made on the fly (never committed): 8 MiB whose bytes depend on
// their offset, so that a block cut from the wrong place cannot match.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

inline constexpr std::uint32_t kTestImageSize = 0x800000;

inline std::uint8_t testImageByte(std::uint32_t offset)
{
    return static_cast<std::uint8_t>((offset * 7) ^ (offset >> 8) ^ (offset >> 16) * 13);
}

// fill < 0: the offset pattern; otherwise every byte `fill`. The trailer gets the boot
// permission and, when asked, the signature "QZM2".
inline std::vector<std::uint8_t> makeTestImage(int fill = -1, std::uint8_t bootPermission = 1, bool signature = true,
                                               std::size_t size = kTestImageSize)
{
    std::vector<std::uint8_t> image(size);
    for (std::uint32_t i = 0; i < size; ++i)
        image[i] = fill < 0 ? testImageByte(i) : static_cast<std::uint8_t>(fill);
    if (size >= 0x7FFFFB + 1)
        image[0x7FFFFB] = bootPermission;
    if (signature && size >= 0x800000) {
        image[0x7FFFFC] = 'Q';
        image[0x7FFFFD] = 'Z';
        image[0x7FFFFE] = 'M';
        image[0x7FFFFF] = '2';
    }
    return image;
}

inline void writeTestImage(const std::filesystem::path& file, const std::vector<std::uint8_t>& image)
{
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
}
