// The BMP reader: files of every depth and header kind written by ImageMagick decode to the
// pixels ImageMagick itself reads from them; hand-made header kinds it does not write; and
// a corpus of malformed files that must all be refused without reading out of bounds.
#include "BmpBuilder.h"
#include "TempDir.h"
#include "logo/BmpImage.h"
#include "logo/LogoRasterizer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// ImageMagick's convert, or empty when this machine has none. The Debian binary first, so
// that a wrapper earlier in PATH does not slow every call.
std::string convertTool()
{
    for (const char* p : {"/usr/bin/convert-im6.q16", "/usr/bin/convert"})
        if (::access(p, X_OK) == 0)
            return p;
    if (std::system("command -v convert >/dev/null 2>&1") == 0)
        return "convert";
    return "";
}

int run(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()); }

std::string capture(const std::string& command)
{
    std::string out;
    std::FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    ::pclose(p);
    return out;
}

// A deterministic noisy picture with smooth parts, so that quantising to a palette keeps
// many colours and every channel takes many values.
void writeSourcePpm(const std::filesystem::path& file, int w, int h)
{
    std::string data = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    uint32_t seed = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            data.push_back(char((x * 255) / (w - 1)));
            data.push_back(char((y * 255) / (h - 1)));
            data.push_back(char(seed >> 24));
        }
    writeFileBytes(file, data);
}

struct ImVariant {
    const char* name;
    const char* args;   // between the source and the output
    const char* format; // BMP3: (40-byte header), BMP: (V5), BMP2: (core header)
    uint32_t headerSize;
    int bpp;
    uint32_t compression;
    int channelBits;    // bits ImageMagick keeps per channel (5/6 for 16-bit pictures)
};

const ImVariant kVariants[] = {
    {"bmp3_24", "", "BMP3", 40, 24, 0, 8},
    {"bmp3_8", "-colors 200 -type Palette -compress None", "BMP3", 40, 8, 0, 8},
    {"bmp3_4", "-colors 12 -type Palette -compress None", "BMP3", 40, 4, 0, 8},
    {"bmp3_1", "-monochrome", "BMP3", 40, 1, 0, 8},
    {"bmp3_rle8", "-colors 200 -type Palette -compress RLE", "BMP3", 40, 8, 1, 8},
    {"v5_24", "", "BMP", 124, 24, 0, 8},
    {"v5_8", "-colors 200 -type Palette -compress None", "BMP", 124, 8, 0, 8},
    {"v5_rgb565", "-define bmp:subtype=RGB565", "BMP", 124, 16, 3, 5},
    {"v5_rgb555", "-define bmp:subtype=RGB555", "BMP", 124, 16, 3, 5},
    {"v5_32_alpha", "-alpha on -channel A -evaluate set 50% +channel", "BMP", 124, 32, 3, 8},
    {"core_24", "", "BMP2", 12, 24, 0, 8},
    {"core_8", "-colors 200 -type Palette -compress None", "BMP2", 12, 8, 0, 8},
};

// Compares every pixel of our reading with ImageMagick's "rgb:" reading of the same file.
void expectSamePixels(const BmpImage& img, const std::string& rgb, int channelBits, const std::string& what)
{
    ASSERT_EQ(rgb.size(), std::size_t(img.width()) * img.height() * 3) << what;
    int mismatches = 0;
    for (int y = 0; y < img.height() && mismatches < 5; ++y)
        for (int x = 0; x < img.width() && mismatches < 5; ++x) {
            BmpColor c = img.pixelColor(x, y);
            const auto* p = reinterpret_cast<const uint8_t*>(rgb.data()) + 3 * (std::size_t(y) * img.width() + x);
            // 16-bit pictures: ImageMagick widens 5/6-bit channels by replicating bits, the
            // printer tool by shifting; both keep the same top bits. Green of 5-6-5 has 6.
            int shiftR = 8 - channelBits, shiftB = 8 - channelBits;
            int shiftG = (channelBits == 5 && img.greenMask() == 0x07E0) ? 2 : 8 - channelBits;
            bool same = (c.red >> shiftR) == (p[0] >> shiftR) && (c.green >> shiftG) == (p[1] >> shiftG) &&
                        (c.blue >> shiftB) == (p[2] >> shiftB);
            if (!same) {
                ++mismatches;
                ADD_FAILURE() << what << " pixel (" << x << "," << y << "): ours " << int(c.red) << "," << int(c.green)
                              << "," << int(c.blue) << " ImageMagick " << int(p[0]) << "," << int(p[1]) << ","
                              << int(p[2]);
            }
        }
}

// Rewrites a bottom-up uncompressed file as top-down: rows reversed, height negated.
std::vector<uint8_t> toTopDown(const std::vector<uint8_t>& file, const BmpImage& img)
{
    std::vector<uint8_t> out = file;
    uint32_t off = uint32_t(file[10]) | (uint32_t(file[11]) << 8) | (uint32_t(file[12]) << 16) | (uint32_t(file[13]) << 24);
    for (int r = 0; r < img.height(); ++r)
        std::copy_n(file.begin() + off + std::ptrdiff_t(r * img.stride()), img.stride(),
                    out.begin() + off + std::ptrdiff_t((img.height() - 1 - r) * img.stride()));
    putLe(out, 22, uint32_t(-img.height()), 4);
    return out;
}

} // namespace

TEST(BmpImageMagick, EveryDepthAndHeaderKindDecodesAsImageMagickReadsIt)
{
    const std::string convert = convertTool();
    if (convert.empty())
        GTEST_SKIP() << "ImageMagick's convert is not installed (scripts/install-deps.sh installs it)";
    TempDir dir;
    const auto source = dir / "source.ppm";
    writeSourcePpm(source, 37, 11); // odd width: every depth has row padding
    for (const ImVariant& v : kVariants) {
        SCOPED_TRACE(v.name);
        const auto file = dir / (std::string(v.name) + ".bmp");
        ASSERT_EQ(run(convert + " " + source.string() + " " + v.args + " " + v.format + ":" + file.string()), 0);
        BmpFault fault = BmpFault::None;
        auto img = BmpImage::load(file, &fault);
        ASSERT_TRUE(img.ok()) << img.message();
        EXPECT_EQ(fault, BmpFault::None);
        EXPECT_EQ(img->headerSize(), v.headerSize);
        EXPECT_EQ(img->bitCount(), v.bpp);
        EXPECT_EQ(img->compression(), v.compression);
        EXPECT_EQ(img->width(), 37);
        EXPECT_EQ(img->height(), 11);
        std::string rgb = capture(convert + " " + file.string() + " -depth 8 rgb:-");
        expectSamePixels(*img, rgb, v.channelBits, v.name);

        // The same pixels stored top-down (ImageMagick does not write these, but reads them).
        // Core headers have an unsigned height: they have no top-down form.
        if (v.compression == 0 && v.headerSize != 12) {
            const auto flipped = dir / (std::string(v.name) + "_topdown.bmp");
            const std::string original = readFileBytes(file);
            std::vector<uint8_t> orig(original.begin(), original.end());
            writeFileBytes(flipped, asString(toTopDown(orig, *img)));
            auto top = BmpImage::load(flipped);
            ASSERT_TRUE(top.ok()) << top.message();
            EXPECT_TRUE(top->topDown());
            std::string rgbTop = capture(convert + " " + flipped.string() + " -depth 8 rgb:-");
            EXPECT_EQ(rgbTop, rgb) << "ImageMagick reads the flipped file as the original";
            expectSamePixels(*top, rgbTop, v.channelBits, std::string(v.name) + " top-down");
        }
    }
}

// ---- Hand-made header kinds -------------------------------------------------------------

namespace {

std::vector<BmpColor> grayPalette(int n)
{
    std::vector<BmpColor> p;
    for (int i = 0; i < n; ++i) {
        uint8_t v = uint8_t(i * 255 / std::max(1, n - 1));
        p.push_back({v, uint8_t(255 - v), uint8_t(i * 7), 0});
    }
    return p;
}

Result<BmpImage> parseSpec(const BmpSpec& s, BmpFault* fault = nullptr) { return BmpImage::parse(buildBmp(s), fault); }

} // namespace

TEST(BmpImageHeaders, ColourTableFollowsTheHeadersOwnSize)
{
    // V4 and V5 headers: the table starts at 14 + 108 / 14 + 124, not at 14 + 40. The
    // header bytes 40.. hold masks and colour-space data that must not be read as colours.
    for (uint32_t hs : {40u, 52u, 56u, 108u, 124u}) {
        SCOPED_TRACE(hs);
        BmpSpec s;
        s.headerSize = hs;
        s.bpp = 8;
        s.width = 5;
        s.height = 3;
        s.palette = grayPalette(6);
        s.clrUsed = 6;
        for (int i = 0; i < 15; ++i)
            s.pixels.push_back(uint32_t(i % 6));
        auto bytes = buildBmp(s);
        if (hs > 40)
            std::fill(bytes.begin() + 14 + 40, bytes.begin() + 14 + hs, uint8_t(0xEE)); // decoy
        auto img = BmpImage::parse(bytes);
        ASSERT_TRUE(img.ok()) << img.message();
        ASSERT_EQ(img->colorTable().size(), 6u);
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(img->colorTable()[std::size_t(i)].blue, s.palette[std::size_t(i)].blue);
            EXPECT_EQ(img->colorTable()[std::size_t(i)].red, s.palette[std::size_t(i)].red);
        }
        EXPECT_EQ(img->pixelIndex(4, 2), 14 % 6);
    }
}

TEST(BmpImageHeaders, CoreHeaderHasThreeByteEntries)
{
    BmpSpec s;
    s.headerSize = 12;
    s.bpp = 4;
    s.width = 3;
    s.height = 2;
    s.palette = {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}};
    s.pixels = {0, 1, 2, 2, 1, 0};
    auto img = parseSpec(s);
    ASSERT_TRUE(img.ok()) << img.message();
    EXPECT_EQ(img->pixelColor(1, 0).green, 50);
    EXPECT_EQ(img->pixelColor(0, 1).red, 90);
}

TEST(BmpImageHeaders, BitfieldsMasksBehindAnInfoHeaderAndInsideV4)
{
    // 16-bit 5-6-5 with masks after a 40-byte header, and 32-bit R-G-B-in-low-bytes in V4.
    BmpSpec s;
    s.bpp = 16;
    s.width = 2;
    s.height = 1;
    s.compression = 3;
    s.writeMasks = true;
    s.masks[0] = 0xF800;
    s.masks[1] = 0x07E0;
    s.masks[2] = 0x001F;
    s.pixels = {0xF800 | (63u << 5), 0x001F};
    auto img = parseSpec(s);
    ASSERT_TRUE(img.ok()) << img.message();
    EXPECT_EQ(img->pixelColor(0, 0).red, 248);
    EXPECT_EQ(img->pixelColor(0, 0).green, 252);
    EXPECT_EQ(img->pixelColor(0, 0).blue, 0);
    EXPECT_EQ(img->pixelColor(1, 0).blue, 248);

    BmpSpec v4;
    v4.headerSize = 108;
    v4.bpp = 32;
    v4.width = 1;
    v4.height = 1;
    v4.compression = 3;
    v4.writeMasks = true;
    v4.masks[0] = 0x000000FF;
    v4.masks[1] = 0x0000FF00;
    v4.masks[2] = 0x00FF0000;
    v4.pixels = {0x00332211};
    auto img4 = parseSpec(v4);
    ASSERT_TRUE(img4.ok()) << img4.message();
    EXPECT_FALSE(img4->isPlainBgrx());
    EXPECT_EQ(img4->pixelColor(0, 0).red, 0x11);
    EXPECT_EQ(img4->pixelColor(0, 0).green, 0x22);
    EXPECT_EQ(img4->pixelColor(0, 0).blue, 0x33);
}

TEST(BmpImageHeaders, TwoBitPixelsMostSignificantFirst)
{
    BmpSpec s;
    s.bpp = 2;
    s.width = 5;
    s.height = 1;
    s.palette = grayPalette(4);
    s.pixels = {3, 2, 1, 0, 3};
    auto bytes = buildBmp(s);
    auto img = BmpImage::parse(bytes);
    ASSERT_TRUE(img.ok()) << img.message();
    // First byte of the row: 11 10 01 00.
    EXPECT_EQ(img->row(0)[0], 0xE4);
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(img->pixelIndex(x, 0), int(s.pixels[std::size_t(x)]));
}

TEST(BmpImageHeaders, Rle8AndRle4DecodeRunsAbsoluteRunsAndDeltas)
{
    // 6 x 3, bottom row first: the bottom row is a run of four 1s and two runs of one; EOL;
    // a delta skips the middle row; the top row is an absolute run; end of bitmap.
    BmpSpec s;
    s.bpp = 8;
    s.compression = 1;
    s.width = 6;
    s.height = 3;
    s.palette = grayPalette(4);
    s.rle = {4, 1, 1, 2, 1, 3, 0, 0,   // runs, end of line
             0, 2, 0, 1,               // delta: up one row
             0, 6, 1, 0, 0, 0, 0, 1,   // absolute run of 6 (even: no pad byte)
             0, 1};                    // end of bitmap
    auto img = parseSpec(s);
    ASSERT_TRUE(img.ok()) << img.message();
    const int expect[3][6] = {{1, 0, 0, 0, 0, 1}, {0, 0, 0, 0, 0, 0}, {1, 1, 1, 1, 2, 3}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(img->pixelIndex(x, y), expect[y][x]) << x << "," << y;

    BmpSpec r4;
    r4.bpp = 4;
    r4.compression = 2;
    r4.width = 6;
    r4.height = 1;
    r4.palette = grayPalette(16);
    r4.rle = {3, 0x12, 0, 3, 0x34, 0x50, 0, 1}; // run 1 2 1, absolute 3 4 5, end
    auto img4 = parseSpec(r4);
    ASSERT_TRUE(img4.ok()) << img4.message();
    const int e4[6] = {1, 2, 1, 3, 4, 5};
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(img4->pixelIndex(x, 0), e4[x]);
}

// ---- Malformed corpus -------------------------------------------------------------------

namespace {

BmpSpec validSpec(int bpp)
{
    BmpSpec s;
    s.bpp = bpp;
    s.width = 9;
    s.height = 4;
    if (bpp <= 8)
        s.palette = grayPalette(1 << bpp);
    for (int i = 0; i < 36; ++i)
        s.pixels.push_back(bpp <= 8 ? uint32_t(i % (1 << bpp)) : uint32_t(i * 0x010203));
    return s;
}

struct Corrupt {
    const char* name;
    std::function<std::vector<uint8_t>()> make;
    BmpFault fault;
};

std::vector<uint8_t> withField(std::vector<uint8_t> b, std::size_t at, uint32_t v, int bytes = 4)
{
    putLe(b, at, v, bytes);
    return b;
}

} // namespace

TEST(BmpImageMalformed, EveryBadFileIsRefusedWithAMessage)
{
    const auto good8 = buildBmp(validSpec(8));
    const auto good24 = buildBmp(validSpec(24));
    const auto good4 = buildBmp(validSpec(4));
    std::vector<Corrupt> corpus = {
        {"empty", [] { return std::vector<uint8_t>{}; }, BmpFault::Malformed},
        {"signature only", [] { return std::vector<uint8_t>{'B', 'M'}; }, BmpFault::Malformed},
        {"not a bmp", [&] { auto b = good24; b[0] = 'P'; b[1] = '6'; return b; }, BmpFault::Malformed},
        {"OS/2 array", [&] { auto b = good24; b[0] = 'B'; b[1] = 'A'; return b; }, BmpFault::Unsupported},
        {"file header only", [&] { return std::vector<uint8_t>(good24.begin(), good24.begin() + 14); }, BmpFault::Malformed},
        {"cut in the info header", [&] { auto b = std::vector<uint8_t>(good24.begin(), good24.begin() + 40); putLe(b, 2, 40, 4); return b; }, BmpFault::Malformed},
        {"unknown header size", [&] { return withField(good24, 14, 41); }, BmpFault::Malformed},
        {"OS/2 2.x header", [&] { return withField(good24, 14, 64); }, BmpFault::Unsupported},
        {"zero width", [&] { return withField(good24, 18, 0); }, BmpFault::Malformed},
        {"negative width", [&] { return withField(good24, 18, uint32_t(-9)); }, BmpFault::Malformed},
        {"zero height", [&] { return withField(good24, 22, 0); }, BmpFault::Malformed},
        {"INT_MIN height", [&] { return withField(good24, 22, 0x80000000u); }, BmpFault::Malformed},
        {"absurd width", [&] { return withField(good24, 18, 0x7FFFFFFF); }, BmpFault::Malformed},
        {"width x height overflows 32 bits", [&] { auto b = withField(good24, 18, 0x100000); return withField(b, 22, 0x100000); }, BmpFault::Malformed},
        {"rows beyond the file", [&] { return withField(good24, 22, 5000); }, BmpFault::Malformed},
        {"planes 0", [&] { return withField(good24, 26, 0, 2); }, BmpFault::Malformed},
        {"64 bits per pixel", [&] { return withField(good24, 28, 64, 2); }, BmpFault::Unsupported},
        {"3 bits per pixel", [&] { return withField(good24, 28, 3, 2); }, BmpFault::Unsupported},
        {"JPEG inside", [&] { return withField(good24, 30, 4); }, BmpFault::Unsupported},
        {"PNG inside", [&] { return withField(good24, 30, 5); }, BmpFault::Unsupported},
        {"unknown compression", [&] { return withField(good24, 30, 11); }, BmpFault::Unsupported},
        {"RLE8 on 24 bits", [&] { return withField(good24, 30, 1); }, BmpFault::Malformed},
        {"bitfields on 8 bits", [&] { return withField(good8, 30, 3); }, BmpFault::Malformed},
        {"pixel offset past the end", [&] { return withField(good24, 10, 0xFFFFFFF0u); }, BmpFault::Malformed},
        {"pixel offset inside the header", [&] { return withField(good24, 10, 20); }, BmpFault::Malformed},
        {"pixel offset leaves too few bytes", [&] { return withField(good24, 10, uint32_t(good24.size() - 10)); }, BmpFault::Malformed},
        {"bfSize longer than the file", [&] { return withField(good24, 2, uint32_t(good24.size() + 1)); }, BmpFault::Malformed},
        {"bfSize huge", [&] { return withField(good24, 2, 0xFFFFFFFFu); }, BmpFault::Malformed},
        {"bfSize short of the colour table", [&] { return withField(good8, 2, 60); }, BmpFault::Malformed},
        {"pixels truncated by one byte", [&] { auto b = good24; b.pop_back(); putLe(b, 2, uint32_t(b.size()), 4); return b; }, BmpFault::Malformed},
        {"8-bit index past a short table", [&] { auto b = withField(good8, 46, 16); return b; }, BmpFault::Malformed},
        {"4-bit index past a short table", [&] { return withField(good4, 46, 3); }, BmpFault::Malformed},
        {"no room for a colour table", [&] { return withField(good8, 10, 54); }, BmpFault::Malformed},
        {"top-down RLE", [] { BmpSpec s = validSpec(8); s.compression = 1; s.topDown = true; s.rle = {0, 1}; return buildBmp(s); }, BmpFault::Malformed},
        {"RLE without end marker", [] { BmpSpec s = validSpec(8); s.compression = 1; s.rle = {3, 1, 3, 2}; return buildBmp(s); }, BmpFault::Malformed},
        {"RLE cut in an absolute run", [] { BmpSpec s = validSpec(8); s.compression = 1; s.rle = {0, 40, 1, 2}; return buildBmp(s); }, BmpFault::Malformed},
        {"RLE cut in a delta", [] { BmpSpec s = validSpec(8); s.compression = 1; s.rle = {0, 2, 1}; return buildBmp(s); }, BmpFault::Malformed},
        {"RLE index past the table", [] { BmpSpec s = validSpec(8); s.compression = 1; s.clrUsed = 4; s.palette.resize(4); s.rle = {2, 200, 0, 1}; return buildBmp(s); }, BmpFault::Malformed},
        {"RLE bomb", [] { BmpSpec s = validSpec(8); s.compression = 1; s.width = 1 << 20; s.height = 1 << 20; s.rle = {0, 1}; return buildBmp(s); }, BmpFault::Malformed},
        {"masks cut off", [] { BmpSpec s = validSpec(16); s.compression = 3; s.pixels.clear(); s.height = 1; s.width = 1; auto b = buildBmp(s); b.resize(14 + 40 + 4); putLe(b, 2, uint32_t(b.size()), 4); putLe(b, 10, uint32_t(b.size()), 4); return b; }, BmpFault::Malformed},
        {"overlapping masks", [] { BmpSpec s = validSpec(16); s.compression = 3; s.writeMasks = true; s.masks[0] = 0x7C00; s.masks[1] = 0x0FE0; s.masks[2] = 0x1F; return buildBmp(s); }, BmpFault::Malformed},
        {"gappy mask", [] { BmpSpec s = validSpec(32); s.compression = 3; s.writeMasks = true; s.masks[0] = 0xF0F00000; s.masks[1] = 0xFF00; s.masks[2] = 0xFF; return buildBmp(s); }, BmpFault::Malformed},
        {"16-bit mask wider than the pixel", [] { BmpSpec s = validSpec(16); s.compression = 3; s.writeMasks = true; s.masks[0] = 0xF0000; s.masks[1] = 0xFF00; s.masks[2] = 0xFF; return buildBmp(s); }, BmpFault::Malformed},
    };
    for (auto& c : corpus) {
        SCOPED_TRACE(c.name);
        BmpFault fault = BmpFault::None;
        auto img = BmpImage::parse(c.make(), &fault);
        EXPECT_FALSE(img.ok());
        EXPECT_FALSE(img.message().empty());
        EXPECT_EQ(fault, c.fault) << img.message();
    }
    // And every prefix of valid files: each cut refuses or (never) reads past the end.
    for (const auto* good : {&good8, &good24, &good4}) {
        for (std::size_t n = 0; n < good->size(); ++n) {
            std::vector<uint8_t> cut(good->begin(), good->begin() + std::ptrdiff_t(n));
            auto img = BmpImage::parse(cut);
            EXPECT_FALSE(img.ok()) << "prefix of " << n << " bytes";
        }
        EXPECT_TRUE(BmpImage::parse(*good).ok());
    }
}

TEST(BmpImageMalformed, FilesThatCannotBeReadSayWhy)
{
    TempDir dir;
    BmpFault fault = BmpFault::None;
    auto missing = BmpImage::load(dir / "missing.bmp", &fault);
    EXPECT_FALSE(missing.ok());
    EXPECT_EQ(fault, BmpFault::CannotRead);
    EXPECT_NE(missing.message().find("missing.bmp"), std::string::npos);

    auto folder = BmpImage::load(dir.path(), &fault);
    EXPECT_FALSE(folder.ok());
    EXPECT_EQ(fault, BmpFault::CannotRead);

    writeFileBytes(dir / "bad.bmp", "BM not really");
    auto bad = BmpImage::load(dir / "bad.bmp", &fault);
    EXPECT_FALSE(bad.ok());
    EXPECT_EQ(fault, BmpFault::Malformed);
    EXPECT_NE(bad.message().find("bad.bmp"), std::string::npos);
}

TEST(BmpImageMalformed, ExtraBytesAfterThePixelsAreAccepted)
{
    // Editors sometimes append metadata; bfSize then still covers what we read.
    auto b = buildBmp(validSpec(24));
    b.insert(b.end(), 100, uint8_t(0xAB));
    EXPECT_TRUE(BmpImage::parse(b).ok());
}

TEST(BmpImageMalformed, MutatedFilesAreRefusedOrConvertCleanly)
{
    // Deterministic byte mutations of valid files of several kinds: every result is either
    // refused with a message or a picture that converts within the buffers (AddressSanitizer
    // builds check that nothing reads or writes out of bounds on the way).
    std::vector<std::vector<uint8_t>> seeds = {buildBmp(validSpec(1)), buildBmp(validSpec(4)), buildBmp(validSpec(8)),
                                               buildBmp(validSpec(16)), buildBmp(validSpec(24)),
                                               buildBmp(validSpec(32))};
    BmpSpec rle = validSpec(8);
    rle.compression = 1;
    rle.rle = {4, 1, 0, 3, 1, 2, 3, 0, 0, 0, 2, 1, 1, 5, 2, 0, 1};
    seeds.push_back(buildBmp(rle));
    BmpSpec v5 = validSpec(16);
    v5.headerSize = 124;
    v5.compression = 3;
    v5.writeMasks = true;
    v5.masks[0] = 0xF800;
    v5.masks[1] = 0x07E0;
    v5.masks[2] = 0x001F;
    seeds.push_back(buildBmp(v5));

    LogoOptions options;
    LogoRasterizer rasterizer(options);
    uint32_t seed = 2718281;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    int refused = 0, converted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = seeds[next() % seeds.size()];
        const int edits = 1 + int(next() % 4);
        for (int i = 0; i < edits; ++i) {
            // Mostly the headers, where the sizes and offsets live.
            std::size_t at = next() % 3 ? next() % std::min<std::size_t>(bytes.size(), 70) : next() % bytes.size();
            bytes[at] = uint8_t(next() % 3 == 0 ? 0xFF : next());
        }
        if (next() % 5 == 0)
            bytes.resize(next() % bytes.size());
        auto img = BmpImage::parse(bytes);
        if (!img.ok()) {
            EXPECT_FALSE(img.message().empty());
            ++refused;
            continue;
        }
        rasterizer.load(std::move(img.value()));
        Status s = (round & 1) ? rasterizer.convertGray() : rasterizer.convertMono(true);
        if (s.ok()) {
            EXPECT_LE(rasterizer.outputLength(), LogoRasterizer::kOutputCapacity);
            ++converted;
        }
    }
    EXPECT_GT(refused, 100);
    EXPECT_GT(converted, 100);
}
