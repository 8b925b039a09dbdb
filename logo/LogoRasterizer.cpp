#include "logo/LogoRasterizer.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace {

// The widest row the work plane can hold: its capacity over the smallest padded height.
constexpr uint32_t kMaxRowDots = LogoRasterizer::kWorkCapacity / 8;

inline uint8_t clamp255(int v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// The 8 x 8 bit transpose: row i is byte 7-i of x (row 0 in the top byte), dot c of a row is
// bit 7-c; afterwards byte 7-c holds column c with row i in bit 7-i.
inline uint64_t transpose8(uint64_t x)
{
    uint64_t t;
    t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAULL;
    x = x ^ t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCULL;
    x = x ^ t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ULL;
    x = x ^ t ^ (t << 28);
    return x;
}

// Luminance parts in single precision: each product is the float the formula computes,
// so (r + g) + b summed in the formula's order gives the formula's exact float.
struct LumaTables {
    float r[256], g[256], b[256];
    LumaTables()
    {
        for (int i = 0; i < 256; ++i) {
            r[i] = 0.30f * float(i);
            g[i] = 0.59f * float(i);
            b[i] = 0.11f * float(i);
        }
    }
};
const LumaTables& lumaTables()
{
    static const LumaTables tables;
    return tables;
}

inline uint8_t lumaFast(const LumaTables& t, uint8_t red, uint8_t green, uint8_t blue)
{
    float y = t.r[red] + t.g[green] + t.b[blue];
    int v = int(y);
    return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}

} // namespace

LogoRasterizer::LogoRasterizer(const LogoOptions& options)
    : m_options(options),
      m_rows(std::make_unique<uint8_t[]>(2 * std::size_t(kMaxRowDots))),
      m_band(std::make_unique<uint8_t[]>(kMaxRowDots)),
      m_output(std::make_unique<uint8_t[]>(kOutputCapacity)),
      m_lut(std::make_unique<uint8_t[]>(65536))
{
}

LogoRasterizer::~LogoRasterizer() = default;

Status LogoRasterizer::load(const std::filesystem::path& file, BmpFault* fault)
{
    m_image.reset();
    m_outputLength = 0;
    m_centringBytes = 0;
    auto image = BmpImage::load(file, fault);
    if (!image.ok())
        return image.status();
    m_image.emplace(std::move(image.value()));
    return Status::success();
}

void LogoRasterizer::load(BmpImage image)
{
    m_outputLength = 0;
    m_centringBytes = 0;
    m_image.emplace(std::move(image));
}

uint64_t LogoRasterizer::predictedSize(uint64_t width, uint64_t height, bool gray)
{
    uint64_t size = ((height + 7) / 8) * ((width + 7) / 8 * 8);
    return gray ? size * 4 : size;
}

uint8_t LogoRasterizer::luminance(uint8_t red, uint8_t green, uint8_t blue)
{
    float y = 0.30f * float(red) + 0.59f * float(green) + 0.11f * float(blue);
    int v = int(y);
    return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}

uint8_t LogoRasterizer::brightness(int g, int t)
{
    // Both branches are exact in double: g and t are small integers, 128 a power of two.
    double v = t <= 128 ? double(g) * ((128.0 - t) / 128.0 + 1.0) : double(g) * t / 128.0 - (2.0 * t - 256.0);
    return clamp255(int(v));
}

Status LogoRasterizer::prepare(bool gray)
{
    m_outputLength = 0;
    m_centringBytes = 0;
    m_w8 = m_h8 = 0;
    if (!m_image)
        return Status::failure("no picture loaded");
    const uint64_t w8 = (uint64_t(m_image->width()) + 7) / 8 * 8;
    const uint64_t h8 = (uint64_t(m_image->height()) + 7) / 8 * 8;
    if (w8 * h8 > kWorkCapacity) {
        m_image.reset();
        return Status::failure("picture of " + std::to_string(w8) + " x " + std::to_string(h8) +
                               " padded dots exceeds the work plane of " + std::to_string(kWorkCapacity) + " dots");
    }
    const uint64_t length = gray ? w8 * h8 / 2 : w8 * h8 / 8;
    if (length > kOutputCapacity) {
        m_image.reset();
        return Status::failure("raster of " + std::to_string(length) + " bytes exceeds the output buffer of " +
                               std::to_string(kOutputCapacity) + " bytes");
    }
    m_w8 = uint32_t(w8);
    m_h8 = uint32_t(h8);
    m_outputLength = uint32_t(length);

    const int t = std::clamp<int>(m_options.divergingPoint, 0, 255);
    for (int g = 0; g < 256; ++g)
        m_curve[g] = brightness(g, t);

    const BmpImage& img = *m_image;
    const int bpp = img.bitCount();
    const LumaTables& lt = lumaTables();
    if (bpp <= 8) {
        const auto& table = img.colorTable();
        for (std::size_t i = 0; i < table.size(); ++i)
            m_lut[i] = m_curve[lumaFast(lt, table[i].red, table[i].green, table[i].blue)];
    } else if (bpp == 16) {
        const uint32_t rm = img.redMask(), gm = img.greenMask(), bm = img.blueMask();
        for (uint32_t v = 0; v < 65536; ++v)
            m_lut[v] = m_curve[lumaFast(lt, BmpImage::maskedComponent(v, rm), BmpImage::maskedComponent(v, gm),
                                        BmpImage::maskedComponent(v, bm))];
    }
    return Status::success();
}

void LogoRasterizer::fillRow(int y, uint8_t* out) const
{
    const BmpImage& img = *m_image;
    const int w = img.width();
    const uint8_t white = m_curve[255];
    if (y >= img.height()) {
        std::memset(out, white, m_w8);
        return;
    }
    const uint8_t* r = img.row(y);
    const uint8_t* lut = m_lut.get();
    switch (img.bitCount()) {
    case 1:
        for (int x = 0; x < w; ++x)
            out[x] = lut[(r[x >> 3] >> (7 - (x & 7))) & 1];
        break;
    case 2:
        for (int x = 0; x < w; ++x)
            out[x] = lut[(r[x >> 2] >> (6 - 2 * (x & 3))) & 3];
        break;
    case 4: {
        int x = 0;
        for (; x + 1 < w; x += 2) {
            out[x] = lut[r[x >> 1] >> 4];
            out[x + 1] = lut[r[x >> 1] & 0x0F];
        }
        if (x < w)
            out[x] = lut[r[x >> 1] >> 4];
        break;
    }
    case 8:
        for (int x = 0; x < w; ++x)
            out[x] = lut[r[x]];
        break;
    case 16:
        for (int x = 0; x < w; ++x)
            out[x] = lut[r[2 * x] | (r[2 * x + 1] << 8)];
        break;
    case 24: {
        const LumaTables& lt = lumaTables();
        const uint8_t* curve = m_curve;
        for (int x = 0; x < w; ++x, r += 3)
            out[x] = curve[lumaFast(lt, r[2], r[1], r[0])];
        break;
    }
    case 32: {
        const LumaTables& lt = lumaTables();
        const uint8_t* curve = m_curve;
        if (img.isPlainBgrx()) {
            for (int x = 0; x < w; ++x, r += 4)
                out[x] = curve[lumaFast(lt, r[2], r[1], r[0])];
        } else {
            const uint32_t rm = img.redMask(), gm = img.greenMask(), bm = img.blueMask();
            for (int x = 0; x < w; ++x, r += 4) {
                uint32_t v = uint32_t(r[0]) | (uint32_t(r[1]) << 8) | (uint32_t(r[2]) << 16) | (uint32_t(r[3]) << 24);
                out[x] = curve[lumaFast(lt, BmpImage::maskedComponent(v, rm), BmpImage::maskedComponent(v, gm),
                                        BmpImage::maskedComponent(v, bm))];
            }
        }
        break;
    }
    default:
        break;
    }
    if (uint32_t(w) < m_w8)
        std::memset(out + w, white, m_w8 - uint32_t(w));
}

// Floyd-Steinberg, left to right and top to bottom, on two rows of the work plane: each dot
// is quantised, its error spread 7/16 right, 3/16 down-left, 5/16 down, 1/16 down-right,
// each share truncated toward zero and the neighbour clamped to 0..255 right away. The
// order of those clamped additions is the order an in-place pass over the full plane
// makes, so the dots are the same.
template <bool Gray>
void LogoRasterizer::diffuse()
{
    const int w8 = int(m_w8);
    const int h8 = int(m_h8);
    const uint32_t bands = m_h8 / 8;
    uint8_t* cur = m_rows.get();
    uint8_t* nxt = m_rows.get() + kMaxRowDots;
    uint8_t* band = m_band.get();
    uint8_t* out = m_output.get();
    if (!Gray)
        std::memset(band, 0, m_w8);
    fillRow(0, cur);
    for (int y = 0; y < h8; ++y) {
        const bool last = y == h8 - 1;
        if (!last)
            fillRow(y + 1, nxt);
        uint8_t* rowOut = out + std::size_t(y) * (m_w8 / 2);
        int carry = 0; // the 7/16 share for the dot at x
        int hi = 0;
        for (int x = 0; x < w8; ++x) {
            const int a = clamp255(cur[x] + carry);
            int e, err, dot;
            if (Gray) {
                // Six levels, step 42: the level nearest a, white (255) being level 5.
                e = std::min((a + 21) / 42, 5);
                dot = 5 - e;
                err = a - e * 51;
            } else {
                e = a >= 127 ? 1 : 0;
                dot = 1 - e;
                err = a - e * 255;
            }
            carry = err * 7 / 16;
            if (!last) {
                if (x > 0)
                    nxt[x - 1] = clamp255(nxt[x - 1] + err * 3 / 16);
                nxt[x] = clamp255(nxt[x] + err * 5 / 16);
                if (x + 1 < w8)
                    nxt[x + 1] = clamp255(nxt[x + 1] + err / 16);
            }
            if (Gray) {
                if (x & 1)
                    rowOut[x >> 1] = uint8_t((hi << 4) | dot);
                else
                    hi = dot;
            } else {
                band[x] = uint8_t((band[x] << 1) | dot);
            }
        }
        if (!Gray && (y & 7) == 7) {
            const uint32_t j = uint32_t(y) / 8;
            for (int x = 0; x < w8; ++x)
                out[std::size_t(x) * bands + j] = band[x];
        }
        std::swap(cur, nxt);
    }
}

// 1-bit pictures print their dots as drawn: index 0 prints when entry 0's blue is 0,
// index 1 prints when it is not (so both black-on-white and inverted tables come out with
// the dark colour printed). Padding dots stay blank.
void LogoRasterizer::convertOneBit()
{
    const BmpImage& img = *m_image;
    const auto& table = img.colorTable();
    const bool invert = table[0].blue == 0; // a 0 bit prints
    const int w = img.width();
    const int h = img.height();
    const uint32_t bands = m_h8 / 8;
    const uint32_t columnsBytes = m_w8 / 8;
    uint8_t* out = m_output.get();
    for (uint32_t j = 0; j < bands; ++j) {
        for (uint32_t bx = 0; bx < columnsBytes; ++bx) {
            // The valid dots of this byte column: the last one may be partly padding.
            int valid = w - int(bx * 8);
            uint8_t keep = valid >= 8 ? 0xFF : uint8_t(0xFF << (8 - valid));
            uint64_t block = 0;
            for (int i = 0; i < 8; ++i) {
                int y = int(j * 8) + i;
                uint8_t b = 0;
                if (y < h) {
                    b = img.row(y)[bx];
                    if (invert)
                        b = uint8_t(~b);
                    b &= keep;
                }
                block |= uint64_t(b) << (8 * (7 - i));
            }
            block = transpose8(block);
            for (int c = 0; c < 8; ++c)
                out[std::size_t(bx * 8 + uint32_t(c)) * bands + j] = uint8_t(block >> (8 * (7 - c)));
        }
    }
}

Status LogoRasterizer::convertMono(bool autoCenter)
{
    Status s = prepare(false);
    if (!s.ok())
        return s;
    if (m_image->bitCount() == 1)
        convertOneBit();
    else
        diffuse<false>();
    m_image.reset();

    const uint32_t area = m_options.maxPrintableArea;
    if (autoCenter && m_w8 < area) {
        // Blank columns on the left only: the printer's own justification then has nothing
        // to do on the right, and the picture sits in the middle of the paper.
        const uint64_t pad = ((uint64_t(area) - m_w8) / 2 + 7) / 8 * 8;
        const uint64_t shift = pad * (m_h8 / 8);
        if (m_outputLength + shift > kOutputCapacity) {
            const uint64_t wanted = m_outputLength + shift;
            m_outputLength = 0;
            return Status::failure("centred raster of " + std::to_string(wanted) +
                                   " bytes exceeds the output buffer of " + std::to_string(kOutputCapacity) + " bytes");
        }
        std::memmove(m_output.get() + shift, m_output.get(), m_outputLength);
        std::memset(m_output.get(), 0, shift);
        m_outputLength += uint32_t(shift);
        m_centringBytes = uint32_t(shift);
        m_w8 += uint32_t(pad);
    }
    return Status::success();
}

Status LogoRasterizer::convertGray()
{
    Status s = prepare(true);
    if (!s.ok())
        return s;
    diffuse<true>();
    m_image.reset();
    return Status::success();
}
