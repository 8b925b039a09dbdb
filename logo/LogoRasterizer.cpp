#include "logo/LogoRasterizer.h"

#include <algorithm>
#include <array>
#include <bit>
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

// Luminance of a row of B, G, R (stride 3) or B, G, R, X (stride 4) pixels. Written as plain
// float arithmetic in the formula's order so that the compiler can vectorise it; vector
// float multiplies and adds round exactly as scalar ones do (no FMA is involved), so the
// result is the scalar formula's. An AVX2 build of the same loop runs where the processor
// has it; the choice is made at run time (not by an ifunc, whose resolver would run before
// the sanitizer runtimes of our test builds are ready).
template <int Stride>
inline void lumaRowBody(const uint8_t* __restrict src, int w, uint8_t* __restrict out)
{
    for (int x = 0; x < w; ++x) {
        const float y = 0.30f * float(src[Stride * x + 2]) + 0.59f * float(src[Stride * x + 1]) +
                        0.11f * float(src[Stride * x]);
        const int v = int(y);
        out[x] = uint8_t(v > 255 ? 255 : v); // never above 255.0, never negative
    }
}

template <int Stride>
__attribute__((target("avx2"))) void lumaRowAvx2(const uint8_t* __restrict src, int w, uint8_t* __restrict out)
{
    lumaRowBody<Stride>(src, w, out);
}

template <int Stride>
void lumaRowPlain(const uint8_t* __restrict src, int w, uint8_t* __restrict out)
{
    lumaRowBody<Stride>(src, w, out);
}

bool haveAvx2()
{
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return avx2;
}

template <int Stride>
void lumaRow(const uint8_t* src, int w, uint8_t* out)
{
    if (haveAvx2())
        lumaRowAvx2<Stride>(src, w, out);
    else
        lumaRowPlain<Stride>(src, w, out);
}

} // namespace

LogoRasterizer::LogoRasterizer(const LogoOptions& options)
    : m_options(options),
      m_rows(std::make_unique<uint8_t[]>(3 * (std::size_t(kMaxRowDots) + 2))),
      m_band(std::make_unique<uint8_t[]>(8 * std::size_t(kMaxRowDots))),
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
    m_identityCurve = true;
    for (int g = 0; g < 256; ++g) {
        m_curve[g] = brightness(g, t);
        m_identityCurve = m_identityCurve && m_curve[g] == g;
    }

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
    case 24:
    case 32:
        if (img.bitCount() == 24 || img.isPlainBgrx()) {
            if (img.bitCount() == 24)
                lumaRow<3>(r, w, out);
            else
                lumaRow<4>(r, w, out);
            if (!m_identityCurve)
                for (int x = 0; x < w; ++x)
                    out[x] = m_curve[out[x]];
        } else {
            const LumaTables& lt = lumaTables();
            const uint32_t rm = img.redMask(), gm = img.greenMask(), bm = img.blueMask();
            for (int x = 0; x < w; ++x, r += 4) {
                uint32_t v = uint32_t(r[0]) | (uint32_t(r[1]) << 8) | (uint32_t(r[2]) << 16) | (uint32_t(r[3]) << 24);
                out[x] = m_curve[lumaFast(lt, BmpImage::maskedComponent(v, rm), BmpImage::maskedComponent(v, gm),
                                          BmpImage::maskedComponent(v, bm))];
            }
        }
        break;
    default:
        break;
    }
    if (uint32_t(w) < m_w8)
        std::memset(out + w, white, m_w8 - uint32_t(w));
}

namespace {

// One quantisation step of the dither, tabulated for every sum v a dot can reach before
// its clamp (its work value, 0..255, plus the 7/16 share of its left neighbour, -56..55):
// the printed level and the four error shares, each truncated toward zero as the integer
// arithmetic does. `next` is the 7/16 share pre-scaled to an entry offset, so that the
// step from one dot to the next is a single dependent load.
struct DitherEntry {
    int32_t next; // 7/16 share · sizeof(DitherEntry)
    int8_t s3, s5, s1;
    uint8_t dot;
};
static_assert(sizeof(DitherEntry) == 8);
// stepPass reads an entry as one little-endian 64-bit word.
static_assert(std::endian::native == std::endian::little);

constexpr int kSumOffset = 64; // v runs from -56 to 310
constexpr int kSumRange = 384;

template <bool Gray>
const DitherEntry* ditherTable()
{
    static const auto table = [] {
        std::array<DitherEntry, kSumRange> t{};
        for (int i = 0; i < kSumRange; ++i) {
            const int a = clamp255(i - kSumOffset);
            int e, dot, err;
            if (Gray) {
                e = std::min((a + 21) / 42, 5); // six levels, step 255 / 6 = 42
                dot = 5 - e;
                err = a - e * 255 / 5;
            } else {
                e = std::min(a / 127, 1);
                dot = 1 - e;
                err = a - e * 255;
            }
            t[std::size_t(i)] = {int32_t(err * 7 / 16) * int32_t(sizeof(DitherEntry)), int8_t(err * 3 / 16),
                                 int8_t(err * 5 / 16), int8_t(err / 16), uint8_t(dot)};
        }
        return t;
    }();
    return table.data() + kSumOffset;
}

// clamp255 of n for n in -64..319: the neighbours below take shares of at most 40.
const uint8_t* clampTable()
{
    static const auto table = [] {
        std::array<uint8_t, kSumRange> t{};
        for (int i = 0; i < kSumRange; ++i)
            t[std::size_t(i)] = clamp255(i - kSumOffset);
        return t;
    }();
    return table.data() + kSumOffset;
}

} // namespace

namespace {

// The state of one row's pass: the entry of the dot being quantised (its sum already
// includes the 7/16 share from the left), and the two dots below that still take shares.
struct RowPass {
    const DitherEntry* e;
    intptr_t below;     // the dot under x: its work value plus the 1/16 share from x - 1
    intptr_t belowLeft; // the dot under x - 1, short of its 3/16 share from x
};

inline void startPass(RowPass& p, const DitherEntry* table, const uint8_t* cur, const uint8_t* nxt)
{
    p.e = table + cur[0];
    p.below = nxt[0];
    p.belowLeft = 0;
}

// Quantises dot x of `cur`, spreads its error, and writes the now final dot x - 1 below.
inline void stepPass(RowPass& p, const DitherEntry* table, const uint8_t* clampTo, const uint8_t* cur,
                     uint8_t* nxt, uint8_t* dots, intptr_t x)
{
    // One 8-byte load for the whole entry; its fields come out by shifts.
    uint64_t q;
    std::memcpy(&q, p.e, sizeof q);
    const intptr_t next = int32_t(uint32_t(q));
    p.e = reinterpret_cast<const DitherEntry*>(reinterpret_cast<const char*>(table + cur[x + 1]) + next);
    nxt[x - 1] = clampTo[p.belowLeft + int8_t(q >> 32)];
    p.belowLeft = clampTo[p.below + int8_t(q >> 40)];
    p.below = clampTo[intptr_t(nxt[x + 1]) + int8_t(q >> 48)];
    dots[x] = uint8_t(q >> 56);
}

} // namespace

// Floyd-Steinberg, left to right and top to bottom: each dot is quantised, its error
// spread 7/16 right, 3/16 down-left, 5/16 down, 1/16 down-right, each share truncated
// toward zero and the neighbour clamped to 0..255 right away. A dot below receives its
// shares in the order an in-place pass over the whole plane makes them (from the left,
// the middle, then the right dot above), so the result is that pass's, dot for dot.
//
// Speed: the dot-to-dot step is one table load, and two rows are dithered in one sweep,
// the second two dots behind the first — by then every dot it reads is final — so that the
// two rows' dependency chains overlap.
template <bool Gray>
void LogoRasterizer::diffuse()
{
    const intptr_t w8 = m_w8;
    const uint32_t h8 = m_h8;
    const uint32_t bands = h8 / 8;
    // Three rows of the work plane, each with a guard dot on both sides: shares that fall
    // off the picture's edges land there and are never read back.
    const std::size_t span = kMaxRowDots + 2;
    uint8_t* rowA = m_rows.get() + 1;            // the upper row of the pair
    uint8_t* rowB = m_rows.get() + span + 1;     // the lower row
    uint8_t* rowC = m_rows.get() + 2 * span + 1; // the row under the pair
    uint8_t* dots = m_band.get();
    uint8_t* out = m_output.get();
    const DitherEntry* table = ditherTable<Gray>();
    const uint8_t* clampTo = clampTable();

    fillRow(0, rowA);
    for (uint32_t y = 0; y < h8; y += 2) { // h8 is a multiple of 8: rows come in pairs
        fillRow(int(y + 1), rowB);
        if (y + 2 < h8)
            fillRow(int(y + 2), rowC); // else it takes the last row's shares as scratch
        rowA[w8] = rowB[w8] = rowC[w8] = 0;
        uint8_t* dotsA = Gray ? dots : dots + std::size_t(y & 7) * kMaxRowDots;
        uint8_t* dotsB = dotsA + kMaxRowDots;

        RowPass upper, lower;
        startPass(upper, table, rowA, rowB);
        stepPass(upper, table, clampTo, rowA, rowB, dotsA, 0);
        stepPass(upper, table, clampTo, rowA, rowB, dotsA, 1);
        startPass(lower, table, rowB, rowC); // rowB[0] is final once the upper pass is at 2
        for (intptr_t x = 2; x < w8; ++x) {
            stepPass(upper, table, clampTo, rowA, rowB, dotsA, x);
            stepPass(lower, table, clampTo, rowB, rowC, dotsB, x - 2);
        }
        rowB[w8 - 1] = uint8_t(upper.belowLeft);
        stepPass(lower, table, clampTo, rowB, rowC, dotsB, w8 - 2);
        stepPass(lower, table, clampTo, rowB, rowC, dotsB, w8 - 1);
        rowC[w8 - 1] = uint8_t(lower.belowLeft);

        if (Gray) {
            for (uint32_t r = 0; r < 2; ++r) {
                const uint8_t* d = dots + r * kMaxRowDots;
                uint8_t* rowOut = out + std::size_t(y + r) * std::size_t(w8 / 2);
                for (intptr_t x = 0; x < w8; x += 2)
                    rowOut[x / 2] = uint8_t((d[x] << 4) | d[x + 1]);
            }
        } else if (((y + 1) & 7) == 7) {
            // Eight rows of 0/1 bytes make the column bytes of one band: shifting row i's
            // bytes to bit 7 - i and ORing gives eight column bytes at once.
            const uint32_t j = y / 8;
            for (intptr_t x = 0; x < w8; x += 8) {
                uint64_t acc = 0;
                for (uint32_t i = 0; i < 8; ++i) {
                    uint64_t r;
                    std::memcpy(&r, dots + std::size_t(i) * kMaxRowDots + std::size_t(x), 8);
                    acc |= r << (7 - i);
                }
                for (uint32_t k = 0; k < 8; ++k)
                    out[(std::size_t(x) + k) * bands + j] = uint8_t(acc >> (8 * k));
            }
        }
        // The row under the pair, with its shares from above, is the next pair's upper row.
        std::swap(rowA, rowC);
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
