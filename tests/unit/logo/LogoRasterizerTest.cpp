// The rasterizer: hand-worked small pictures per depth, the worked 100 x 50 example and its
// centring, the diverging-point curve, the dither of a mid-gray area, gray levels, the
// capacities, and a literal full-plane model of the conversion rules that the optimised
// two-row implementation must match dot for dot.
#include "BmpBuilder.h"
#include "logo/LogoPicture.h"
#include "logo/LogoRasterizer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const BmpColor kBlack{0, 0, 0, 0};
const BmpColor kWhite{255, 255, 255, 0};

// An 8 x 8 picture: a diagonal from the top left plus the top row's right half. Black dots
// where the pattern is set.
bool pattern(int x, int y) { return x == y || (y == 0 && x >= 4); }

// The column raster of that pattern, worked out by hand: column x, one band; bit 7 is the
// top row. Column 0: only (0,0) → 80. Columns 1..3: the diagonal dot at row x. Columns
// 4..7: the top row and the diagonal.
const std::vector<uint8_t> kPatternColumns = {0x80, 0x40, 0x20, 0x10, 0x88, 0x84, 0x82, 0x81};

BmpSpec patternSpec(int bpp)
{
    BmpSpec s;
    s.bpp = bpp;
    s.width = 8;
    s.height = 8;
    // Indexed: entry 0 black, 1 white, the rest decoys.
    if (bpp <= 8) {
        s.palette.assign(std::size_t(1) << bpp, BmpColor{90, 90, 90, 0});
        s.palette[0] = kBlack;
        s.palette[1] = kWhite;
    }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            bool dot = pattern(x, y);
            uint32_t v = 0;
            switch (bpp) {
            case 1: case 2: case 4: case 8: v = dot ? 0 : 1; break;
            case 16: v = dot ? 0 : 0x7FFF; break;
            case 24: v = dot ? 0 : 0xFFFFFF; break;
            case 32: v = dot ? 0 : 0x00FFFFFF; break;
            }
            s.pixels.push_back(v);
        }
    return s;
}

Status runConversion(LogoRasterizer& r, const BmpSpec& s, bool gray, bool center = false)
{
    auto img = BmpImage::parse(buildBmp(s));
    if (!img.ok())
        return img.status();
    r.load(std::move(img.value()));
    return gray ? r.convertGray() : r.convertMono(center);
}

std::vector<uint8_t> outputOf(const LogoRasterizer& r) { return {r.output(), r.output() + r.outputLength()}; }

// ---- The rules, literally: a full work plane, processed in place. ------------------------
std::vector<uint8_t> referenceConvert(const BmpImage& img, int t, bool gray)
{
    const int w8 = (img.width() + 7) / 8 * 8, h8 = (img.height() + 7) / 8 * 8;
    std::vector<int> plane(std::size_t(w8) * h8);
    auto clamp = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
    for (int y = 0; y < h8; ++y)
        for (int x = 0; x < w8; ++x) {
            int g = 255;
            if (x < img.width() && y < img.height()) {
                BmpColor c = img.pixelColor(x, y);
                g = LogoRasterizer::luminance(c.red, c.green, c.blue);
            }
            double v = t <= 128 ? g * ((128 - t) / 128.0 + 1) : g * t / 128.0 - (2 * t - 256);
            plane[std::size_t(y) * w8 + x] = clamp(int(v));
        }
    const int L = gray ? 5 : 1, d = 255 / (L + 1);
    std::vector<int> dots(plane.size());
    for (int y = 0; y < h8; ++y)
        for (int x = 0; x < w8; ++x) {
            int a = plane[std::size_t(y) * w8 + x];
            int e = gray ? std::min((a + d / 2) / d, 5) : std::clamp(a / 127, 0, 1);
            dots[std::size_t(y) * w8 + x] = L - e;
            int err = a - e * 255 / L;
            auto add = [&](int xx, int yy, int share) {
                int& p = plane[std::size_t(yy) * w8 + xx];
                p = clamp(p + share);
            };
            if (x < w8 - 1)
                add(x + 1, y, err * 7 / 16);
            if (y < h8 - 1) {
                if (x > 0)
                    add(x - 1, y + 1, err * 3 / 16);
                add(x, y + 1, err * 5 / 16);
                if (x < w8 - 1)
                    add(x + 1, y + 1, err * 1 / 16);
            }
        }
    std::vector<uint8_t> out;
    if (gray) {
        for (int y = 0; y < h8; ++y)
            for (int x = 0; x < w8; x += 2)
                out.push_back(uint8_t(dots[std::size_t(y) * w8 + x] * 16 + dots[std::size_t(y) * w8 + x + 1]));
    } else {
        for (int x = 0; x < w8; ++x)
            for (int j = 0; j < h8 / 8; ++j) {
                int b = 0;
                for (int i = 0; i < 8; ++i)
                    b |= dots[std::size_t(8 * j + i) * w8 + x] << (7 - i);
                out.push_back(uint8_t(b));
            }
    }
    return out;
}

BmpSpec noiseSpec(int bpp, int w, int h, uint32_t seed)
{
    BmpSpec s;
    s.bpp = bpp;
    s.width = w;
    s.height = h;
    if (bpp <= 8) {
        for (int i = 0; i < (1 << bpp); ++i) {
            seed = seed * 1664525u + 1013904223u;
            s.palette.push_back({uint8_t(seed >> 8), uint8_t(seed >> 16), uint8_t(seed >> 24), 0});
        }
    }
    for (int i = 0; i < w * h; ++i) {
        seed = seed * 1664525u + 1013904223u;
        // Smooth ramps with noise: the dither meets every error value and the clamps.
        uint32_t ramp = uint32_t((i % w) * 255 / std::max(1, w - 1));
        uint32_t v = seed >> 8;
        if (bpp <= 8)
            v %= (1u << bpp);
        else if (bpp == 16)
            v &= 0x7FFF;
        else if (bpp == 24)
            v = (ramp << 16) | (v & 0xFFFF);
        s.pixels.push_back(v);
    }
    return s;
}

} // namespace

TEST(LogoRasterizerMono, EightByEightPatternPerDepth)
{
    LogoOptions options;
    LogoRasterizer r(options);
    for (int bpp : {1, 2, 4, 8, 16, 24, 32}) {
        for (bool topDown : {false, true}) {
            SCOPED_TRACE(testing::Message() << bpp << " bpp, top-down " << topDown);
            BmpSpec s = patternSpec(bpp);
            s.topDown = topDown;
            ASSERT_TRUE(runConversion(r, s, false).ok());
            EXPECT_EQ(r.W8(), 8u);
            EXPECT_EQ(r.H8(), 8u);
            EXPECT_EQ(outputOf(r), kPatternColumns);
        }
    }
}

TEST(LogoRasterizerMono, OneBitPicturesFollowEntryZerosBlue)
{
    LogoOptions options;
    options.divergingPoint = 0; // no effect on 1-bit pictures
    LogoRasterizer r(options);
    // Table white-first (entry 0's blue is not 0): index 1 prints.
    BmpSpec s = patternSpec(1);
    s.palette = {kWhite, kBlack};
    for (auto& v : s.pixels)
        v ^= 1;
    ASSERT_TRUE(runConversion(r, s, false).ok());
    EXPECT_EQ(outputOf(r), kPatternColumns);
    // Entry 0 only blue-less decides, not its luminance: dark red with blue 0 prints as index 0.
    s.palette = {{0, 0, 200, 0}, {0, 0, 0, 0}};
    for (auto& v : s.pixels)
        v ^= 1;
    ASSERT_TRUE(runConversion(r, s, false).ok());
    EXPECT_EQ(outputOf(r), kPatternColumns);
}

TEST(LogoRasterizerMono, OneBitPaddingStaysBlank)
{
    // 3 x 2 all-printing 1-bit picture: the 8 x 8 block has dots only in its top-left 3 x 2.
    LogoOptions options;
    LogoRasterizer r(options);
    BmpSpec s;
    s.bpp = 1;
    s.width = 3;
    s.height = 2;
    s.palette = {kBlack, kWhite};
    s.pixels.assign(6, 0);
    ASSERT_TRUE(runConversion(r, s, false).ok());
    EXPECT_EQ(outputOf(r), (std::vector<uint8_t>{0xC0, 0xC0, 0xC0, 0, 0, 0, 0, 0}));
}

TEST(LogoRasterizerMono, OneByOneBecomesEightBytesWithWhitePadding)
{
    LogoOptions options;
    LogoRasterizer r(options);
    BmpSpec s;
    s.width = 1;
    s.height = 1;
    s.pixels = {0x000000};
    ASSERT_TRUE(runConversion(r, s, false).ok());
    EXPECT_EQ(r.W8(), 8u);
    EXPECT_EQ(r.H8(), 8u);
    EXPECT_EQ(outputOf(r), (std::vector<uint8_t>{0x80, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(LogoRasterizer::predictedSize(1, 1, false), 8u);
}

TEST(LogoRasterizerMono, WorkedExampleAndItsCentring)
{
    LogoOptions options; // 576 dots
    LogoRasterizer r(options);
    BmpSpec s = noiseSpec(24, 100, 50, 7);
    ASSERT_TRUE(runConversion(r, s, false).ok());
    EXPECT_EQ(r.W8(), 104u);
    EXPECT_EQ(r.H8(), 56u);
    ASSERT_EQ(r.outputLength(), 728u);
    EXPECT_EQ(LogoRasterizer::predictedSize(100, 50, false), 728u);
    const auto plain = outputOf(r);

    ASSERT_TRUE(runConversion(r, s, false, /*center*/ true).ok());
    // pad = (576 - 104) / 2 = 236, rounded up to 240 blank columns of 7 bytes.
    EXPECT_EQ(r.W8(), 344u);
    EXPECT_EQ(r.outputLength(), 2408u);
    EXPECT_EQ(r.centringBytes(), 1680u);
    const auto centred = outputOf(r);
    EXPECT_TRUE(std::all_of(centred.begin(), centred.begin() + 1680, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), centred.begin() + 1680));

    auto h = nvPictureHeader(r.W8(), r.H8(), false);
    EXPECT_EQ(h, (std::array<uint8_t, 4>{43, 0, 7, 0}));
    EXPECT_EQ(nvPictureHeader(104, 56, false), (std::array<uint8_t, 4>{0x0D, 0x00, 0x07, 0x00}));
    EXPECT_EQ(nvPictureHeader(576, 8, true), (std::array<uint8_t, 4>{0x48, 0xA0, 0x01, 0x00}));
    EXPECT_EQ(nvPictureHeader(2048 * 8 + 8, 300 * 8, false), (std::array<uint8_t, 4>{0x01, 0x08, 0x2C, 0x01}));
}

TEST(LogoRasterizerMono, PicturesAsWideAsThePaperAreNotMoved)
{
    LogoOptions options;
    options.maxPrintableArea = 384;
    LogoRasterizer r(options);
    for (int w : {384, 381, 400}) { // 381 pads to 384: W8 is not below the area
        BmpSpec s;
        s.width = w;
        s.height = 8;
        s.pixels.assign(std::size_t(w) * 8, 0x000000);
        ASSERT_TRUE(runConversion(r, s, false, true).ok());
        EXPECT_EQ(r.W8(), uint32_t((w + 7) / 8 * 8)) << w;
        EXPECT_EQ(r.centringBytes(), 0u);
    }
    // One byte column narrower moves by (384 - 376) / 2 = 4, rounded up to 8.
    BmpSpec s;
    s.width = 376;
    s.height = 8;
    s.pixels.assign(376 * 8, 0);
    ASSERT_TRUE(runConversion(r, s, false, true).ok());
    EXPECT_EQ(r.W8(), 384u);
    EXPECT_EQ(r.centringBytes(), 8u);
    // Gray rasters are never centred.
    ASSERT_TRUE(runConversion(r, s, true, true).ok());
    EXPECT_EQ(r.W8(), 376u);
}

TEST(LogoRasterizerCurve, DivergingPointBrightness)
{
    for (int g : {0, 1, 64, 127, 128, 200, 255})
        EXPECT_EQ(LogoRasterizer::brightness(g, 128), g);
    EXPECT_EQ(LogoRasterizer::brightness(100, 0), 200);
    EXPECT_EQ(LogoRasterizer::brightness(128, 0), 255); // 256 clamped
    EXPECT_EQ(LogoRasterizer::brightness(100, 64), 150); // 100 * 1.5
    EXPECT_EQ(LogoRasterizer::brightness(101, 96), 126); // 101 * 1.25 = 126.25
    EXPECT_EQ(LogoRasterizer::brightness(255, 255), 254); // 508.0078 - 254
    EXPECT_EQ(LogoRasterizer::brightness(200, 255), 144); // 398.4375 - 254
    EXPECT_EQ(LogoRasterizer::brightness(128, 255), 1);   // 255 - 254
    EXPECT_EQ(LogoRasterizer::brightness(127, 255), 0);   // -0.99 truncates to 0
    EXPECT_EQ(LogoRasterizer::brightness(10, 200), 0);    // negative, clamped
    EXPECT_EQ(LogoRasterizer::brightness(150, 129), 149); // 151.171875 - 2
}

TEST(LogoRasterizerCurve, LuminanceInSinglePrecisionTruncated)
{
    EXPECT_EQ(LogoRasterizer::luminance(255, 255, 255), 255);
    EXPECT_EQ(LogoRasterizer::luminance(0, 0, 0), 0);
    EXPECT_EQ(LogoRasterizer::luminance(255, 0, 0), 76);  // 76.5
    EXPECT_EQ(LogoRasterizer::luminance(0, 255, 0), 150); // 150.45
    EXPECT_EQ(LogoRasterizer::luminance(0, 0, 255), 28);  // 28.05
    // Single precision, not double: gray 7 sums to just below 7 in float (7 in double), gray
    // 10 to exactly 10 in float (just below in double).
    EXPECT_EQ(LogoRasterizer::luminance(7, 7, 7), 6);
    EXPECT_EQ(LogoRasterizer::luminance(10, 10, 10), 10);
    EXPECT_EQ(LogoRasterizer::luminance(100, 100, 100), 100);
}

TEST(LogoRasterizerCurve, DivergingPointMovesTheDither)
{
    // Mid-gray 100: at 128 it prints about 60 % of the dots, at 0 (doubled to 200) far fewer,
    // at 255 (2g - 254 < 0 → black) all of them.
    LogoOptions options;
    LogoRasterizer r(options);
    BmpSpec s;
    s.width = 64;
    s.height = 64;
    s.pixels.assign(64 * 64, 0x646464);
    auto countDots = [&] {
        int n = 0;
        for (uint32_t i = 0; i < r.outputLength(); ++i)
            n += __builtin_popcount(r.output()[i]);
        return n;
    };
    options.divergingPoint = 128;
    ASSERT_TRUE(runConversion(r, s, false).ok());
    int mid = countDots();
    options.divergingPoint = 0;
    ASSERT_TRUE(runConversion(r, s, false).ok());
    int light = countDots();
    options.divergingPoint = 255;
    ASSERT_TRUE(runConversion(r, s, false).ok());
    int dark = countDots();
    EXPECT_NEAR(mid, 64 * 64 * 155 / 255, 200);
    EXPECT_NEAR(light, 64 * 64 * 55 / 255, 200);
    EXPECT_EQ(dark, 64 * 64);
}

TEST(LogoRasterizerMono, MidGrayDithersToACheckerboardNotAFill)
{
    LogoOptions options;
    LogoRasterizer r(options);
    BmpSpec s;
    s.width = 64;
    s.height = 64;
    s.pixels.assign(64 * 64, 0x808080);
    ASSERT_TRUE(runConversion(r, s, false).ok());
    // Top row worked by hand: 128 → no dot, error -127, 7/16 → -55; 73 → dot, +31; 159 → no
    // dot, -42; 86 → dot, ... so the top row alternates, starting blank.
    for (int x = 0; x < 16; ++x)
        EXPECT_EQ((r.output()[x * 8] >> 7) & 1, x & 1) << x;
    // Over the area: about half the dots, and mostly alternating neighbours.
    int dots = 0, alternations = 0;
    for (int x = 0; x < 64; ++x)
        for (int y = 0; y < 64; ++y) {
            int d = (r.output()[x * 8 + y / 8] >> (7 - y % 8)) & 1;
            dots += d;
            if (x + 1 < 64)
                alternations += d != ((r.output()[(x + 1) * 8 + y / 8] >> (7 - y % 8)) & 1);
        }
    EXPECT_NEAR(dots, 2048, 100);
    EXPECT_GT(alternations, 64 * 63 * 8 / 10);
}

TEST(LogoRasterizerGray, LevelsZeroToFiveInRowRaster)
{
    LogoOptions options;
    LogoRasterizer r(options);
    // The 8 x 8 pattern: black dots are level 5, white 0, left dot in the high nibble.
    ASSERT_TRUE(runConversion(r, patternSpec(24), true).ok());
    ASSERT_EQ(r.outputLength(), 32u);
    const uint8_t row0[4] = {0x50, 0x00, 0x55, 0x55};
    const uint8_t row5[4] = {0x00, 0x00, 0x05, 0x00};
    EXPECT_TRUE(std::equal(row0, row0 + 4, r.output()));
    EXPECT_TRUE(std::equal(row5, row5 + 4, r.output() + 5 * 4));

    // Single gray dots: level = 5 - (a + 21) / 42.
    struct Case { uint32_t rgb; uint8_t nibble; };
    for (Case c : {Case{0xFFFFFF, 0}, Case{0x000000, 5}, Case{0x808080, 2}, Case{0x404040, 3}, Case{0x1A1A1A, 4}}) {
        BmpSpec s;
        s.width = 1;
        s.height = 1;
        s.pixels = {c.rgb};
        ASSERT_TRUE(runConversion(r, s, true).ok());
        EXPECT_EQ(r.output()[0] >> 4, c.nibble) << std::hex << c.rgb;
    }

    // Noise: never a level above 5.
    ASSERT_TRUE(runConversion(r, noiseSpec(24, 77, 40, 3), true).ok());
    EXPECT_EQ(r.outputLength(), 80u * 40 / 2);
    for (uint32_t i = 0; i < r.outputLength(); ++i) {
        EXPECT_LE(r.output()[i] >> 4, 5);
        EXPECT_LE(r.output()[i] & 15, 5);
    }
    EXPECT_EQ(LogoRasterizer::predictedSize(77, 40, true), 80u * 40 / 2);
}

TEST(LogoRasterizer, SixteenBitLuminanceUsesRedAndBlueInTheirPlaces)
{
    // Pure 5-bit red is (248, 0, 0): Y = 74 → gray level 5 - 95/42 = 3. Pure blue is
    // Y = 27 → level 4. Swapped channels would give the other level.
    LogoOptions options;
    LogoRasterizer r(options);
    BmpSpec s;
    s.bpp = 16;
    s.width = 2;
    s.height = 1;
    s.pixels = {0x7C00, 0x001F};
    ASSERT_TRUE(runConversion(r, s, true).ok());
    EXPECT_EQ(r.output()[0] >> 4, 3);
    // The second dot also carries the first's 7/16 error (74 - 51·2 = -28 → -12): 27 - 12 = 15
    // → level 5 - 36/42 = 5.
    EXPECT_EQ(r.output()[0] & 15, 5);

    // Every 5-5-5 picture converts exactly like the 24-bit picture of (8R, 8G, 8B).
    BmpSpec s16 = noiseSpec(16, 45, 21, 99), s24 = s16;
    s24.bpp = 24;
    for (auto& v : s24.pixels)
        v = (((v >> 10) & 31) << 19) | (((v >> 5) & 31) << 11) | ((v & 31) << 3);
    for (bool gray : {false, true}) {
        ASSERT_TRUE(runConversion(r, s16, gray).ok());
        auto a = outputOf(r);
        ASSERT_TRUE(runConversion(r, s24, gray).ok());
        EXPECT_EQ(a, outputOf(r));
    }
}

TEST(LogoRasterizer, MatchesTheLiteralRulesOnNoisyPictures)
{
    LogoOptions options;
    LogoRasterizer r(options);
    for (int bpp : {2, 4, 8, 16, 24, 32}) {
        for (int t : {0, 77, 128, 200, 255}) {
            for (bool gray : {false, true}) {
                SCOPED_TRACE(testing::Message() << bpp << " bpp, point " << t << ", gray " << gray);
                options.divergingPoint = t;
                BmpSpec s = noiseSpec(bpp, 29 + bpp, 19, uint32_t(bpp * 1000 + t));
                auto img = BmpImage::parse(buildBmp(s));
                ASSERT_TRUE(img.ok());
                auto expected = referenceConvert(*img, t, gray);
                ASSERT_TRUE(runConversion(r, s, gray).ok());
                EXPECT_EQ(outputOf(r), expected);
            }
        }
    }
    // 1-bit pictures in gray mode go through the curve and the diffusion too.
    BmpSpec s = noiseSpec(1, 21, 13, 5);
    s.palette = {{30, 60, 90, 0}, {200, 180, 160, 0}};
    options.divergingPoint = 128;
    auto img = BmpImage::parse(buildBmp(s));
    ASSERT_TRUE(img.ok());
    auto expected = referenceConvert(*img, 128, true);
    ASSERT_TRUE(runConversion(r, s, true).ok());
    EXPECT_EQ(outputOf(r), expected);
}

TEST(LogoRasterizer, PicturesBeyondTheCapacitiesAreRefused)
{
    LogoOptions options;
    LogoRasterizer r(options);
    BmpSpec big;
    big.bpp = 1;
    big.palette = {kBlack, kWhite};
    big.width = 1000;
    big.height = 577; // 1000 x 584 padded dots > 576 000
    Status s = runConversion(r, big, false);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find("576000"), std::string::npos) << s.message();
    EXPECT_EQ(r.outputLength(), 0u);
    EXPECT_FALSE(r.loaded());

    BmpSpec full = big;
    full.width = 576;
    full.height = 1000; // exactly the work plane
    EXPECT_TRUE(runConversion(r, full, false).ok());
    EXPECT_EQ(r.outputLength(), 72000u);

    // Gray: 576 x 512 fills the 147 456-byte output exactly; 8 more rows do not fit.
    BmpSpec gray = full;
    gray.height = 512;
    EXPECT_TRUE(runConversion(r, gray, true).ok());
    EXPECT_EQ(r.outputLength(), 147456u);
    gray.height = 513;
    s = runConversion(r, gray, true);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find("147456"), std::string::npos) << s.message();

    // Centring on an absurd paper width would run past the output: refused, not written.
    options.maxPrintableArea = 4000000000u;
    BmpSpec small;
    small.width = 8;
    small.height = 8;
    s = runConversion(r, small, false, true);
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(r.outputLength(), 0u);

    // Nothing loaded.
    EXPECT_FALSE(r.convertMono(false).ok());
    EXPECT_FALSE(r.convertGray().ok());
}

TEST(LogoRasterizer, LoadFailureLeavesNothingToConvert)
{
    LogoOptions options;
    LogoRasterizer r(options);
    BmpFault fault = BmpFault::None;
    EXPECT_FALSE(r.load("/nonexistent/logo.bmp", &fault).ok());
    EXPECT_EQ(fault, BmpFault::CannotRead);
    EXPECT_EQ(r.outputLength(), 0u);
    EXPECT_FALSE(r.convertMono(false).ok());
}
