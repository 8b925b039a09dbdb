#pragma once
// A picture for a benchmark to upload.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

// A 24-bit BMP with a pattern (so that the raster is not trivially empty).
inline void writeBmp(const std::filesystem::path& file, int w, int h)
{
    const int stride = (w * 3 + 3) / 4 * 4;
    std::vector<unsigned char> out(54 + std::size_t(stride) * std::size_t(h), 0);
    auto le = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            out[at + std::size_t(i)] = (unsigned char)(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    le(2, std::uint32_t(out.size()), 4);
    le(10, 54, 4);
    le(14, 40, 4);
    le(18, std::uint32_t(w), 4);
    le(22, std::uint32_t(h), 4);
    le(26, 1, 2);
    le(28, 24, 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char v = (unsigned char)((x * 7 + y * 13) & 0xFF);
            std::size_t at = 54 + std::size_t(y) * std::size_t(stride) + std::size_t(x) * 3;
            out[at] = out[at + 1] = out[at + 2] = v;
        }
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
}
