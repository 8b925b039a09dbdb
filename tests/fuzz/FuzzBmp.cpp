// A BMP file from outside, read and converted every way the logo tool converts it.
#include "FuzzCheck.h"

#include "logo/BmpImage.h"
#include "logo/LogoRasterizer.h"

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> outputOf(const LogoRasterizer& r) { return {r.output(), r.output() + r.outputLength()}; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte picks the options; the rest is the file.
    if (size < 1)
        return 0;
    const uint8_t pick = data[0];
    std::vector<uint8_t> file(data + 1, data + size);
    auto image = BmpImage::parse(file);
    if (!image.ok())
        return 0;
    FUZZ_CHECK(image->width() > 0 && image->height() > 0);

    LogoOptions options = LogoOptions::defaults(pick & 1 ? kFamilyTavro15 : kFamilyTavro25);
    options.divergingPoint = (pick & 2) ? 128 : int32_t(pick) * 7 % 256; // the identity curve and others
    options.starEmulation = pick & 4;
    if (pick & 8)
        options.maxPrintableArea = 1 + pick % 600; // odd widths, narrower than some pictures
    LogoRasterizer r(options);
    const uint64_t w = uint64_t(image->width()), h = uint64_t(image->height());
    // A picture is taken by the conversion: each one gets its own parse.
    auto fresh = [&file] { return std::move(*BmpImage::parse(file)); };

    r.load(fresh());
    if (r.convertMono(false).ok()) {
        FUZZ_CHECK(r.W8() % 8 == 0 && r.H8() % 8 == 0);
        FUZZ_CHECK(r.W8() >= w && r.W8() - w < 8 && r.H8() >= h && r.H8() - h < 8);
        FUZZ_CHECK(r.outputLength() == LogoRasterizer::predictedSize(w, h, false));
        FUZZ_CHECK(r.centringBytes() == 0);
        const auto plain = outputOf(r);
        const uint32_t plainW8 = r.W8();

        // Converting again gives the same dots (no state leaks from one picture to the next).
        r.load(fresh());
        FUZZ_CHECK(r.convertMono(false).ok() && outputOf(r) == plain);

        // Centring only puts blank columns in front.
        r.load(fresh());
        if (r.convertMono(true).ok()) {
            const auto centred = outputOf(r);
            FUZZ_CHECK(centred.size() == plain.size() + r.centringBytes());
            FUZZ_CHECK(std::equal(plain.begin(), plain.end(), centred.begin() + r.centringBytes()));
            for (uint32_t i = 0; i < r.centringBytes(); ++i)
                FUZZ_CHECK(centred[i] == 0);
            FUZZ_CHECK(uint64_t(r.W8()) * (r.H8() / 8) == centred.size());
            FUZZ_CHECK(r.W8() >= plainW8 && (r.W8() == plainW8 || r.W8() <= options.maxPrintableArea + 7));
        }
    }
    r.load(fresh());
    if (r.convertGray().ok()) {
        FUZZ_CHECK(r.outputLength() == LogoRasterizer::predictedSize(w, h, true));
        // Six levels in four bits: no nibble above 5.
        for (uint32_t i = 0; i < r.outputLength(); ++i)
            FUZZ_CHECK((r.output()[i] & 0x0F) <= 5 && (r.output()[i] >> 4) <= 5);
    }
    return 0;
}
