// The preview: decoded from the raster that is sent, doubled for the print modes, written
// as a PNG at 203 dpi; and the picture's upload bytes.
#include "BmpBuilder.h"
#include "TempDir.h"
#include "logo/LogoPicture.h"
#include "logo/LogoPreview.h"

#include <gtest/gtest.h>

#include <stb/stb_image.h>

namespace {

LogoPicture monoPicture()
{
    // 8 x 16 dots: column 0 fully printed, column 7 only at row 15; two bands per column.
    LogoPicture p;
    p.widthDots = 8;
    p.heightDots = 16;
    p.raster.assign(16, 0);
    p.raster[0] = 0xFF;
    p.raster[1] = 0xFF;
    p.raster[7 * 2 + 1] = 0x01;
    return p;
}

} // namespace

TEST(LogoPreview, MonoRasterDecodesToDots)
{
    auto img = LogoPreview::render(monoPicture(), LogoPrintMode::Normal);
    ASSERT_TRUE(img.ok()) << img.message();
    ASSERT_EQ(img->width, 8u);
    ASSERT_EQ(img->height, 16u);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 8; ++x) {
            bool dot = x == 0 || (x == 7 && y == 15);
            EXPECT_EQ(img->pixels[y * 8 + x], dot ? 0 : 255) << x << "," << y;
        }
}

TEST(LogoPreview, PrintModesDoubleWidthHeightOrBoth)
{
    struct Case { LogoPrintMode mode; uint32_t w, h; };
    for (Case c : {Case{LogoPrintMode::DoubleWidth, 16, 16}, Case{LogoPrintMode::DoubleHeight, 8, 32},
                   Case{LogoPrintMode::Quadruple, 16, 32}}) {
        auto img = LogoPreview::render(monoPicture(), c.mode);
        ASSERT_TRUE(img.ok());
        ASSERT_EQ(img->width, c.w);
        ASSERT_EQ(img->height, c.h);
        const uint32_t sx = c.w / 8, sy = c.h / 16;
        // The dot at (7, 15) covers sx x sy preview pixels at the bottom right.
        for (uint32_t y = 0; y < c.h; ++y)
            for (uint32_t x = 0; x < c.w; ++x) {
                bool dot = x / sx == 0 || (x / sx == 7 && y / sy == 15);
                ASSERT_EQ(img->pixels[y * c.w + x], dot ? 0 : 255) << x << "," << y;
            }
    }
}

TEST(LogoPreview, GrayRasterShowsSixLevels)
{
    LogoPicture p;
    p.gray = true;
    p.widthDots = 8;
    p.heightDots = 8;
    p.raster.assign(32, 0);
    p.raster[0] = 0x01;
    p.raster[1] = 0x23;
    p.raster[2] = 0x45;
    auto img = LogoPreview::render(p, LogoPrintMode::Normal);
    ASSERT_TRUE(img.ok());
    const uint8_t expect[6] = {255, 204, 153, 102, 51, 0};
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(img->pixels[std::size_t(x)], expect[x]);
    EXPECT_EQ(img->pixels[6], 255);
}

TEST(LogoPreview, InconsistentRasterIsRefused)
{
    LogoPicture p = monoPicture();
    p.raster.pop_back();
    EXPECT_FALSE(LogoPreview::render(p, LogoPrintMode::Normal).ok());
    p = monoPicture();
    p.widthDots = 7;
    EXPECT_FALSE(LogoPreview::render(p, LogoPrintMode::Normal).ok());
}

TEST(LogoPreview, PngHoldsThePixelsAt203Dpi)
{
    TempDir dir;
    auto img = LogoPreview::render(monoPicture(), LogoPrintMode::DoubleWidth);
    ASSERT_TRUE(img.ok());
    const auto file = dir / "p.png";
    ASSERT_TRUE(LogoPreview::writePng(file, *img).ok());
    int w = 0, h = 0, n = 0;
    unsigned char* data = stbi_load(file.c_str(), &w, &h, &n, 1);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 16);
    EXPECT_TRUE(std::equal(img->pixels.begin(), img->pixels.end(), data));
    stbi_image_free(data);
    // pHYs: 7992 dots per metre (203 dpi) both ways, unit metre.
    const std::string bytes = readFileBytes(file);
    const std::string phys = std::string("pHYs") + std::string("\x00\x00\x1f\x38\x00\x00\x1f\x38\x01", 9);
    EXPECT_NE(bytes.find(phys), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "p.png.tmp"));

    EXPECT_FALSE(LogoPreview::writePng(dir / "no" / "such" / "dir.png", *img).ok());
}

TEST(LogoPicture, UploadBytesAreHeaderThenRaster)
{
    TempDir dir;
    BmpSpec s;
    s.width = 100;
    s.height = 50;
    s.pixels.assign(5000, 0x000000);
    writeFileBytes(dir / "black.bmp", asString(buildBmp(s)));
    LogoOptions options;
    auto pic = rasterizeLogoFile(dir / "black.bmp", options, false);
    ASSERT_TRUE(pic.ok()) << pic.message();
    EXPECT_EQ(pic->predictedSize, 728u);
    auto bytes = pic->uploadBytes();
    ASSERT_EQ(bytes.size(), 732u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{0x0D, 0x00, 0x07, 0x00}));
    // Column 0: 50 black rows, then 6 white padding rows in the last band.
    EXPECT_EQ(bytes[4], 0xFF);
    EXPECT_EQ(bytes[4 + 6], 0xC0);

    options.grayPrinting = true;
    pic = rasterizeLogoFile(dir / "black.bmp", options, true);
    ASSERT_TRUE(pic.ok());
    EXPECT_EQ(pic->header(), (std::array<uint8_t, 4>{0x0D, 0xA0, 0x07, 0x00}));
    EXPECT_EQ(pic->raster.size(), 728u * 4);
    EXPECT_EQ(pic->predictedSize, 728u * 4);

    BmpFault fault = BmpFault::None;
    auto missing = rasterizeLogoFile(dir / "missing.bmp", options, false, &fault);
    EXPECT_FALSE(missing.ok());
    EXPECT_EQ(fault, BmpFault::CannotRead);
}

// Where the printer lays a picture across the paper: the alignment moves the picture as a whole
// (a centred picture's blank columns included), a picture as wide as the paper or wider starts
// at the margin, and what passes the right edge is cut off.
TEST(LogoPreview, PlacementOnThePaper)
{
    using J = logo_frames::LogoJustify;
    struct Case {
        uint32_t width, paper;
        J align;
        uint32_t left, printed, cut;
    };
    const Case cases[] = {
        {304, 576, J::Left, 0, 304, 0},     {304, 576, J::Center, 136, 304, 0}, {304, 576, J::Right, 272, 304, 0},
        {440, 576, J::Center, 68, 440, 0},  {576, 576, J::Center, 0, 576, 0},   {608, 576, J::Left, 0, 576, 32},
        {608, 576, J::Right, 0, 576, 32},   {305, 576, J::Center, 135, 305, 0}, {8, 384, J::Right, 376, 8, 0},
    };
    for (const Case& c : cases) {
        const LogoPlacement p = LogoPreview::place(c.width, c.paper, c.align);
        EXPECT_EQ(p.left, c.left) << c.width << " on " << c.paper << " align " << int(c.align);
        EXPECT_EQ(p.printed, c.printed) << c.width << " on " << c.paper;
        EXPECT_EQ(p.cut, c.cut) << c.width << " on " << c.paper;
    }
}

TEST(LogoPreview, OnPaperThePictureIsPlacedAndCutAtTheEdge)
{
    // Double width: 16 dots across on 12 dots of paper, aligned right (it starts at the margin).
    LogoPlacement placed;
    auto sheet = LogoPreview::renderOnPaper(monoPicture(), LogoPrintMode::DoubleWidth, 12,
                                            logo_frames::LogoJustify::Right, &placed);
    ASSERT_TRUE(sheet.ok());
    EXPECT_EQ(sheet->width, 12u);
    EXPECT_EQ(sheet->height, 16u);
    EXPECT_EQ(placed.cut, 4u);
    // Column 0 doubled is printed in every row; column 7 (dots 14, 15) fell off the paper.
    for (uint32_t y = 0; y < 16; ++y) {
        EXPECT_EQ(sheet->pixels[y * 12 + 0], 0);
        EXPECT_EQ(sheet->pixels[y * 12 + 1], 0);
        EXPECT_EQ(sheet->pixels[y * 12 + 11], 255);
    }
    // Normal, centred on 24 dots: 8 blank, the picture, 8 blank.
    sheet = LogoPreview::renderOnPaper(monoPicture(), LogoPrintMode::Normal, 24, logo_frames::LogoJustify::Center,
                                       &placed);
    ASSERT_TRUE(sheet.ok());
    EXPECT_EQ(placed.left, 8u);
    EXPECT_EQ(sheet->pixels[15 * 24 + 8 + 7], 0) << "column 7's dot at row 15";
    EXPECT_EQ(sheet->pixels[0 * 24 + 7], 255);
    EXPECT_FALSE(LogoPreview::renderOnPaper(monoPicture(), LogoPrintMode::Normal, 0, logo_frames::LogoJustify::Left).ok());
}
