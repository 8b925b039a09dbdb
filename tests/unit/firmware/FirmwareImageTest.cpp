#include "firmware/FirmwareImage.h"
#include "firmware/TransferBlock.h"

#include "FirmwareImages.h"
#include "TempDir.h"

#include <gtest/gtest.h>

using Fault = FirmwareImage::Fault;

TEST(FirmwareImage, ParseTakesOnlyASignedImageOfExactlyEightMebibytes)
{
    Fault fault = Fault::CannotOpen;
    auto good = FirmwareImage::parse(makeTestImage(), &fault);
    ASSERT_TRUE(good.ok()) << good.message();
    EXPECT_EQ(fault, Fault::None);

    auto unsigned_ = FirmwareImage::parse(makeTestImage(-1, 1, false), &fault);
    EXPECT_FALSE(unsigned_.ok());
    EXPECT_EQ(fault, Fault::NoSignature);
    EXPECT_EQ(unsigned_.message(), "Wrong File!");

    auto big = makeTestImage();
    big.push_back(0);
    auto tooBig = FirmwareImage::parse(big, &fault);
    EXPECT_FALSE(tooBig.ok());
    EXPECT_EQ(fault, Fault::WrongSize);
    EXPECT_EQ(tooBig.message(), "FileSize (8388609 bytes) Error!");

    // A "QZM2" one byte off is not the signature.
    auto shifted = makeTestImage(-1, 1, false);
    shifted[0x7FFFFB] = 'Q', shifted[0x7FFFFC] = 'Z', shifted[0x7FFFFD] = 'M', shifted[0x7FFFFE] = '2';
    EXPECT_FALSE(FirmwareImage::parse(shifted).ok());
}

TEST(FirmwareImage, BootPermissionIsOneToTen)
{
    for (int value : {0, 1, 10, 11, 255}) {
        auto image = FirmwareImage::parse(makeTestImage(-1, static_cast<std::uint8_t>(value)));
        ASSERT_TRUE(image.ok());
        EXPECT_EQ(image->trailer().bootPermission, value);
        EXPECT_EQ(image->trailer().bootAllowed(), value >= 1 && value <= 10) << value;
    }
}

TEST(FirmwareImage, LargerFilePassesTheTrailerCheckButIsRefusedWhenLoaded)
{
    TempDir dir;
    auto big = makeTestImage();
    big.resize(kTestImageSize + 4096, 0xAA);
    // The signature sits at 0x7FFFFC..0x7FFFFF even though the file goes on.
    writeTestImage(dir / "big.T25", big);
    auto trailer = FirmwareImage::readTrailer(dir / "big.T25");
    ASSERT_TRUE(trailer.ok());
    EXPECT_TRUE(trailer->signature);

    Fault fault{};
    std::uint64_t size = 0;
    auto loaded = FirmwareImage::load(dir / "big.T25", &fault, &size);
    EXPECT_FALSE(loaded.ok());
    EXPECT_EQ(fault, Fault::WrongSize);
    EXPECT_EQ(size, kTestImageSize + 4096);
    EXPECT_EQ(loaded.message(), "FileSize (8392704 bytes) Error!");
}

TEST(FirmwareImage, ShortFileHasNoSignatureAtFileOpen)
{
    TempDir dir;
    // Everything but the last byte: the missing '2' reads as zero.
    auto image = makeTestImage();
    image.pop_back();
    writeTestImage(dir / "short.T25", image);
    auto trailer = FirmwareImage::readTrailer(dir / "short.T25");
    ASSERT_TRUE(trailer.ok());
    EXPECT_FALSE(trailer->signature);

    writeTestImage(dir / "tiny.T25", {1, 2, 3});
    auto tiny = FirmwareImage::readTrailer(dir / "tiny.T25");
    ASSERT_TRUE(tiny.ok());
    EXPECT_FALSE(tiny->signature);
    EXPECT_EQ(tiny->bootPermission, 0);

    EXPECT_FALSE(FirmwareImage::readTrailer(dir / "missing.T25").ok());
    Fault fault{};
    EXPECT_FALSE(FirmwareImage::load(dir / "missing.T25", &fault).ok());
    EXPECT_EQ(fault, Fault::CannotOpen);
}

TEST(FirmwareImage, LoadReadsTheWholeFile)
{
    TempDir dir;
    auto bytes = makeTestImage();
    writeTestImage(dir / "fw.T25", bytes);
    auto image = FirmwareImage::load(dir / "fw.T25");
    ASSERT_TRUE(image.ok()) << image.message();
    ASSERT_EQ(image->bytes().size(), bytes.size());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image->bytes().begin()));
}
