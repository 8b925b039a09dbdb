#include "logo/BmpImage.h"

#include "common/FileIo.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "common/UniqueFd.h"

namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiJpeg = 4;
constexpr uint32_t kBiPng = 5;
constexpr uint32_t kBiAlphaBitfields = 6;

constexpr std::size_t kFileHeaderSize = 14;

uint16_t u16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t u32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
int32_t i32(const uint8_t* p) { return static_cast<int32_t>(u32(p)); }

bool contiguous(uint32_t mask)
{
    if (mask == 0)
        return true;
    uint32_t shifted = mask >> std::countr_zero(mask);
    return (shifted & (shifted + 1)) == 0;
}

// Decodes a BI_RLE8 / BI_RLE4 stream into bottom-up rows of stride bytes. Runs that go past
// the end of a row are clipped (as the Windows decoder does); a stream that ends before
// its end-of-bitmap marker, or inside a run, is truncated and refused.
Status decodeRle(const uint8_t* src, std::size_t size, bool four, int width, int height,
                 std::size_t stride, std::vector<uint8_t>& out)
{
    out.assign(stride * std::size_t(height), 0);
    std::size_t pos = 0;
    int x = 0, y = 0; // y counts from the bottom row, as the stream does
    auto put = [&](int value) {
        if (x < width && y < height) {
            uint8_t* row = out.data() + std::size_t(y) * stride;
            if (four) {
                uint8_t& b = row[x / 2];
                b = (x & 1) ? uint8_t((b & 0xF0) | (value & 0x0F)) : uint8_t((b & 0x0F) | (value << 4));
            } else {
                row[x] = uint8_t(value);
            }
        }
        ++x;
    };
    while (true) {
        if (pos + 2 > size)
            return Status::failure("RLE data ends before its end-of-bitmap marker");
        uint8_t count = src[pos], value = src[pos + 1];
        pos += 2;
        if (count > 0) {
            // An encoded run; RLE4 alternates the two nibbles of value.
            int n = std::min<int>(count, std::max(0, width - x));
            for (int i = 0; i < n; ++i)
                put(four ? ((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
            x += count - n;
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of bitmap
            return Status::success();
        } else if (value == 2) { // delta
            if (pos + 2 > size)
                return Status::failure("RLE data ends inside a delta");
            x += src[pos];
            y += src[pos + 1];
            pos += 2;
        } else { // absolute run of value pixels, padded to a 16-bit boundary
            std::size_t bytes = four ? (std::size_t(value) + 1) / 2 : value;
            std::size_t padded = (bytes + 1) & ~std::size_t(1);
            if (pos + bytes > size)
                return Status::failure("RLE data ends inside an absolute run");
            for (int i = 0; i < value; ++i) {
                int v = four ? ((i & 1) ? (src[pos + i / 2] & 0x0F) : (src[pos + i / 2] >> 4)) : src[pos + i];
                put(v);
            }
            pos += std::min(padded, size - pos);
        }
        if (y >= height)
            return Status::success(); // moved past the top: nothing more can be drawn
        if (x > width + 255 * 2)
            x = width + 1; // keep x bounded for hostile deltas; nothing past width is drawn
    }
}

} // namespace

Result<BmpImage> BmpImage::load(const std::filesystem::path& file, BmpFault* fault)
{
    BmpFault local = BmpFault::None;
    BmpFault& f = fault ? *fault : local;
    f = BmpFault::None;
    const std::string name = file.string();
    std::vector<uint8_t> bytes;
    FileOutcome read = readWholeFile(file, kMaxFileBytes, &bytes);
    if (!read) {
        f = BmpFault::CannotRead;
        switch (read.fault) {
        case FileOutcome::Fault::NotRegular:
            return Status::failure(name + ": not a regular file");
        case FileOutcome::Fault::TooLarge:
            return Status::failure(name + ": more than " + std::to_string(kMaxFileBytes) +
                                   " bytes is too large for a logo file");
        default:
            return Status::failure(read.message);
        }
    }
    auto image = parseImpl(std::move(bytes), f);
    if (!image.ok())
        return Status::failure(name + ": " + image.message());
    return image;
}

Result<BmpImage> BmpImage::parse(std::vector<uint8_t> bytes, BmpFault* fault)
{
    BmpFault local = BmpFault::None;
    return parseImpl(std::move(bytes), fault ? *fault : local);
}

Result<BmpImage> BmpImage::parseImpl(std::vector<uint8_t> bytes, BmpFault& fault)
{
    fault = BmpFault::Malformed;
    const std::size_t fileSize = bytes.size();
    const uint8_t* d = bytes.data();
    if (fileSize < kFileHeaderSize + 12)
        return Status::failure("file of " + std::to_string(fileSize) + " bytes is too short for a BMP header");
    if (d[0] != 'B' || d[1] != 'M') {
        if ((d[0] == 'B' && d[1] == 'A') || (d[0] == 'C' && (d[1] == 'I' || d[1] == 'P')) ||
            (d[0] == 'I' && d[1] == 'C') || (d[0] == 'P' && d[1] == 'T')) {
            fault = BmpFault::Unsupported;
            return Status::failure("OS/2 icon or array files are not supported");
        }
        return Status::failure("not a BMP file (no \"BM\" signature)");
    }

    BmpImage img;
    img.m_declaredFileSize = u32(d + 2);
    const uint32_t offBits = u32(d + 10);
    const uint32_t hdr = u32(d + 14);
    img.m_headerSize = hdr;

    if (hdr != 12 && hdr != 40 && hdr != 52 && hdr != 56 && hdr != 108 && hdr != 124) {
        if (hdr == 64 || hdr == 16) {
            fault = BmpFault::Unsupported;
            return Status::failure("OS/2 2.x bitmaps are not supported");
        }
        return Status::failure("unknown info header size " + std::to_string(hdr));
    }
    if (kFileHeaderSize + hdr > fileSize)
        return Status::failure("info header of " + std::to_string(hdr) + " bytes is cut off");

    const uint8_t* h = d + kFileHeaderSize;
    int64_t width = 0, height = 0;
    uint16_t planes = 0;
    uint32_t clrUsed = 0;
    uint32_t sizeImage = 0;
    if (hdr == 12) {
        width = u16(h + 4);
        height = u16(h + 6);
        planes = u16(h + 8);
        img.m_bitCount = u16(h + 10);
    } else {
        width = i32(h + 4);
        height = i32(h + 8);
        planes = u16(h + 12);
        img.m_bitCount = u16(h + 14);
        img.m_compression = u32(h + 16);
        sizeImage = u32(h + 20);
        clrUsed = u32(h + 32);
    }
    if (width <= 0 || height == 0)
        return Status::failure("picture of " + std::to_string(width) + " x " + std::to_string(height) +
                               " dots has no pixels");
    if (height < 0) {
        img.m_topDown = true;
        height = -height;
    }
    if (width > kMaxDimension || height > kMaxDimension)
        return Status::failure("picture of " + std::to_string(width) + " x " + std::to_string(height) +
                               " dots is absurdly large");
    img.m_width = int(width);
    img.m_height = int(height);
    if (planes != 1)
        return Status::failure("plane count " + std::to_string(planes) + " (must be 1)");

    const int bpp = img.m_bitCount;
    if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
        fault = BmpFault::Unsupported;
        return Status::failure(std::to_string(bpp) + " bits per pixel is not supported");
    }
    const uint32_t comp = img.m_compression;
    if (comp == kBiJpeg || comp == kBiPng) {
        fault = BmpFault::Unsupported;
        return Status::failure(std::string(comp == kBiJpeg ? "JPEG" : "PNG") + " compressed bitmaps are not supported");
    }
    const bool rle = comp == kBiRle8 || comp == kBiRle4;
    const bool bitfields = comp == kBiBitfields || comp == kBiAlphaBitfields;
    if (comp > kBiAlphaBitfields) {
        fault = BmpFault::Unsupported;
        return Status::failure("compression " + std::to_string(comp) + " is not supported");
    }
    if ((comp == kBiRle8 && bpp != 8) || (comp == kBiRle4 && bpp != 4) || (bitfields && bpp != 16 && bpp != 32))
        return Status::failure("compression " + std::to_string(comp) + " does not fit " + std::to_string(bpp) +
                               " bits per pixel");
    if (rle && img.m_topDown)
        return Status::failure("a top-down bitmap cannot be RLE compressed");

    // Colour masks: inside V2..V5 headers, or the three DWORDs behind a 40-byte header.
    std::size_t tableStart = kFileHeaderSize + hdr;
    if (bitfields) {
        const uint8_t* m = nullptr;
        if (hdr >= 52) {
            m = h + 40;
        } else if (hdr == 40) {
            std::size_t extra = comp == kBiAlphaBitfields ? 16 : 12;
            if (tableStart + extra > fileSize)
                return Status::failure("colour masks are cut off");
            m = d + tableStart;
            tableStart += extra;
        } else {
            return Status::failure("colour masks need an info header");
        }
        for (int i = 0; i < 3; ++i)
            img.m_masks[i] = u32(m + 4 * i);
        for (int i = 0; i < 3; ++i) {
            if (!contiguous(img.m_masks[i]))
                return Status::failure("colour mask is not contiguous");
            if (bpp == 16 && (img.m_masks[i] >> 16) != 0)
                return Status::failure("colour mask wider than a 16-bit pixel");
            for (int j = 0; j < i; ++j)
                if (img.m_masks[i] & img.m_masks[j])
                    return Status::failure("colour masks overlap");
        }
    } else if (bpp == 16) {
        img.m_masks[0] = 0x7C00;
        img.m_masks[1] = 0x03E0;
        img.m_masks[2] = 0x001F;
    } else if (bpp == 32) {
        img.m_masks[0] = 0x00FF0000;
        img.m_masks[1] = 0x0000FF00;
        img.m_masks[2] = 0x000000FF;
    }

    // The pixel offset must lie behind the headers and inside the file.
    if (offBits < tableStart || offBits > fileSize)
        return Status::failure("pixel data offset " + std::to_string(offBits) + " lies outside " +
                               std::to_string(tableStart) + ".." + std::to_string(fileSize));

    // Colour table: behind the header's own size (a V4/V5 header is longer than 40 bytes),
    // 3-byte entries after a core header. Only the entries that fit before the pixels count.
    if (bpp <= 8) {
        const std::size_t entrySize = hdr == 12 ? 3 : 4;
        std::size_t want = std::size_t(1) << bpp;
        if (clrUsed != 0 && clrUsed < want)
            want = clrUsed;
        std::size_t room = (offBits - tableStart) / entrySize;
        std::size_t n = std::min(want, room);
        if (n == 0)
            return Status::failure("no colour table in front of the pixel data");
        img.m_colors.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const uint8_t* e = d + tableStart + i * entrySize;
            img.m_colors[i] = {e[0], e[1], e[2], entrySize == 4 ? e[3] : uint8_t(0)};
        }
    }

    // bfSize must not promise more than the file holds (a short read of the promised body
    // fails), and must at least cover the headers and the colour table we use.
    std::size_t tableEnd = tableStart + img.m_colors.size() * (hdr == 12 ? 3 : 4);
    if (img.m_declaredFileSize > fileSize)
        return Status::failure("file header says " + std::to_string(img.m_declaredFileSize) +
                               " bytes, the file has " + std::to_string(fileSize));
    if (img.m_declaredFileSize < tableEnd)
        return Status::failure("file header size " + std::to_string(img.m_declaredFileSize) +
                               " does not cover the headers and colour table (" + std::to_string(tableEnd) + " bytes)");

    const uint64_t stride = ((uint64_t(width) * uint64_t(bpp) + 31) / 32) * 4;
    img.m_stride = std::size_t(stride);
    if (rle) {
        if (stride * uint64_t(height) > kMaxDecodedBytes)
            return Status::failure("RLE picture of " + std::to_string(width) + " x " + std::to_string(height) +
                                   " dots is too large");
        std::size_t avail = fileSize - offBits;
        if (sizeImage != 0 && sizeImage < avail)
            avail = sizeImage;
        Status s = decodeRle(d + offBits, avail, comp == kBiRle4, img.m_width, img.m_height, img.m_stride,
                             img.m_decoded);
        if (!s.ok())
            return s;
        img.m_pixels = img.m_decoded.data();
        // Bottom-up rows, as plain pixel data.
        img.m_compression = comp;
    } else {
        const uint64_t need = stride * uint64_t(height);
        if (need > fileSize - offBits)
            return Status::failure("pixel data cut off: " + std::to_string(need) + " bytes needed at offset " +
                                   std::to_string(offBits) + ", the file has " + std::to_string(fileSize - offBits));
        img.m_file = std::move(bytes);
        img.m_pixels = img.m_file.data() + offBits;
    }

    // Every index must name an entry of the table.
    if (bpp <= 8 && img.m_colors.size() < (std::size_t(1) << bpp)) {
        const unsigned limit = unsigned(img.m_colors.size());
        for (int y = 0; y < img.m_height; ++y) {
            const uint8_t* r = img.row(y);
            unsigned worst = 0;
            if (bpp == 8) {
                for (int x = 0; x < img.m_width; ++x)
                    worst = std::max<unsigned>(worst, r[x]);
            } else {
                for (int x = 0; x < img.m_width; ++x)
                    worst = std::max<unsigned>(worst, unsigned(img.pixelIndex(x, y)));
            }
            if (worst >= limit)
                return Status::failure("pixel index " + std::to_string(worst) + " past the colour table of " +
                                       std::to_string(limit) + " entries");
        }
    }
    fault = BmpFault::None;
    return img;
}

int BmpImage::pixelIndex(int x, int y) const
{
    const uint8_t* r = row(y);
    switch (m_bitCount) {
    case 1: return (r[x >> 3] >> (7 - (x & 7))) & 1;
    case 2: return (r[x >> 2] >> (6 - 2 * (x & 3))) & 3;
    case 4: return (x & 1) ? (r[x >> 1] & 0x0F) : (r[x >> 1] >> 4);
    case 8: return r[x];
    default: return 0;
    }
}

uint8_t BmpImage::maskedComponent(uint32_t pixel, uint32_t mask)
{
    if (mask == 0)
        return 0;
    int shift = std::countr_zero(mask);
    int bits = std::popcount(mask);
    uint32_t v = (pixel & mask) >> shift;
    return bits >= 8 ? uint8_t(v >> (bits - 8)) : uint8_t(v << (8 - bits));
}

BmpColor BmpImage::pixelColor(int x, int y) const
{
    if (m_bitCount <= 8)
        return m_colors[std::size_t(pixelIndex(x, y))];
    const uint8_t* r = row(y);
    if (m_bitCount == 24)
        return {r[3 * x], r[3 * x + 1], r[3 * x + 2], 0};
    uint32_t v = m_bitCount == 16 ? u16(r + 2 * x) : u32(r + 4 * x);
    return {maskedComponent(v, m_masks[2]), maskedComponent(v, m_masks[1]), maskedComponent(v, m_masks[0]), 0};
}
