// Firmware image files of every shape, and the transfer block of each area a user may choose:
// the block must be exactly what the virtual printer's own reader of the protocol takes whole,
// with the image's bytes from the area's place, and a block changed in one byte must be refused.
//
// The images are the printer's flash scaled down (2 or 8 KiB instead of 8 MiB, every area's
// place divided alike): the same checks and cuts, thousands of times faster. The printer's
// reader knows only the real lengths, so it names the scaled FileSize as the one thing wrong
// with a block, and its sum and digest of the data say whether the bytes were the right ones.
#include "FuzzCheck.h"

#include "firmware/FirmwareArea.h"
#include "firmware/FirmwareImage.h"
#include "firmware/TransferBlock.h"
#include "sim/CommandInterpreter.h"
#include "sim/FlashDigest.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct QuietSink final : InterpreterSink {
    void reply(const std::vector<uint8_t>&) override {}
    void event(SimEvent) override {}
    void flashWriting(const std::string& v) override { verdicts.push_back(v); }
    std::vector<std::string> verdicts;
};

// The printer's name of each area in its state.
const char* stateName(FirmwareArea a)
{
    switch (a) {
    case FirmwareArea::Program: return "program";
    case FirmwareArea::ExtFont: return "ext-font";
    case FirmwareArea::LcdFont: return "lcd-font";
    case FirmwareArea::Downloader: return "download";
    case FirmwareArea::Boot: break;
    }
    return "boot";
}

// Feeds the block in pieces (sizes from cuts, the rest at once) and returns the printer's
// record of the area.
FlashAreaRecord sendThroughPrinter(int family, FirmwareArea area, const std::vector<uint8_t>& block,
                                   const std::vector<uint8_t>& cuts, QuietSink& sink)
{
    PrinterState state(family);
    CommandInterpreter printer(state, sink);
    std::size_t at = 0;
    for (std::size_t i = 0; at < block.size(); ++i) {
        std::size_t n = i < cuts.size() ? std::size_t(cuts[i]) * 37 : block.size() - at;
        n = std::min(n, block.size() - at);
        printer.feed(block.data() + at, n);
        at += n;
    }
    printer.finish();
    auto found = state.flash.find(stateName(area));
    FUZZ_CHECK(found != state.flash.end());
    return found->second;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr int kFamilies[] = {1, 3, 4, 5, 6};
    FuzzedDataProvider in(data, size);
    constexpr std::uint32_t kScales[] = {4096, 1024};
    const FirmwareImageLayout layout = FirmwareImageLayout::scaledDown(kScales[in.ConsumeIntegralInRange<int>(0, 1)]);
    const int family = kFamilies[in.ConsumeIntegralInRange<int>(0, 4)];
    const auto area = kFirmwareAreas[in.ConsumeIntegralInRange<std::size_t>(0, kFirmwareAreas.size() - 1)];
    const int sizeDelta = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(-6, 6) : 0;
    const uint8_t fill = in.ConsumeIntegral<uint8_t>();
    const uint8_t bootPermission = in.ConsumeIntegral<uint8_t>();
    const bool withSignature = in.ConsumeProbability<float>() < 0.9f;
    const auto signature = in.ConsumeBytes<uint8_t>(4);
    const bool corrupt = in.ConsumeBool();
    const uint32_t corruptAt = in.ConsumeIntegral<uint32_t>();
    const uint32_t prefix = in.ConsumeIntegral<uint32_t>();
    const std::vector<uint8_t> cuts = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 8));
    // The fuzzer's bytes go inside the chosen area, where the checksum and digest see them.
    const FirmwareAreaSpec areaLayout = firmwareAreaSpec(area, familyOfNumber(family), layout);
    const uint32_t overlayAt = areaLayout.offset + in.ConsumeIntegral<uint32_t>() % areaLayout.length;
    const std::vector<uint8_t> overlay = in.ConsumeRemainingBytes<uint8_t>();

    const std::uint32_t bootAt = layout.bootPermissionOffset();
    const std::uint32_t signatureAt = layout.signatureOffset();
    const std::size_t fileSize = std::size_t(int64_t(layout.size) + sizeDelta);
    std::vector<uint8_t> file(fileSize, fill);
    std::copy_n(overlay.begin(), std::min<std::size_t>(overlay.size(), fileSize - overlayAt), file.begin() + overlayAt);
    if (fileSize > bootAt)
        file[bootAt] = bootPermission;
    if (fileSize >= layout.size) {
        if (withSignature)
            std::memcpy(file.data() + signatureAt, "QZM2", 4);
        else
            std::copy(signature.begin(), signature.end(), file.begin() + signatureAt);
    }

    // File Open's trailer of the file and of any shorter piece of it: a missing byte is zero.
    const auto trailer = FirmwareImage::trailerOf(file, layout);
    FUZZ_CHECK(trailer.signature ==
               (fileSize > signatureAt + 3 && std::memcmp(file.data() + signatureAt, "QZM2", 4) == 0));
    FUZZ_CHECK(trailer.bootPermission == (fileSize > bootAt ? bootPermission : 0));
    for (std::size_t i = 0; i < 4; ++i)
        FUZZ_CHECK(trailer.signatureBytes[i] == (signatureAt + i < fileSize ? file[signatureAt + i] : 0));
    const std::size_t shortSize = prefix % std::min<std::size_t>(fileSize, layout.size - 1);
    const auto shortTrailer = FirmwareImage::trailerOf(std::span(file).first(shortSize), layout);
    FUZZ_CHECK(!shortTrailer.signature);
    FUZZ_CHECK(shortTrailer.bootPermission == (shortSize > bootAt ? bootPermission : 0));

    // One parse decides: exactly the layout's size and the signature, nothing else.
    FirmwareImage::Fault fault = FirmwareImage::Fault::None;
    auto image = FirmwareImage::parse(std::move(file), &fault, layout);
    if (fileSize != layout.size) {
        FUZZ_CHECK(!image && fault == FirmwareImage::Fault::WrongSize);
        return 0;
    }
    FUZZ_CHECK(bool(image) == trailer.signature);
    if (!image) {
        FUZZ_CHECK(fault == FirmwareImage::Fault::NoSignature);
        return 0;
    }
    FUZZ_CHECK(image->trailer().bootPermission == bootPermission);

    // The block of an area the tool offers for this model (service mode, boot allowed).
    if (!firmwareAreaAllowed(area, familyOfNumber(family), true, true))
        return 0;
    const auto block = buildTransferBlock(*image, area, familyOfNumber(family));
    const uint32_t L = areaLayout.length;
    FUZZ_CHECK(block.size() == L);
    FUZZ_CHECK(std::equal(areaLayout.header.begin(), areaLayout.header.end(), block.begin()));
    FUZZ_CHECK((block[4] | block[5] << 8 | block[6] << 16 | uint32_t(block[7]) << 24) == L);
    const bool boot = area == FirmwareArea::Boot;
    const std::size_t fromImage = L - kTransferHeaderSize - (boot ? 4 : 0);
    FUZZ_CHECK(std::memcmp(block.data() + kTransferHeaderSize, image->bytes().data() + areaLayout.offset, fromImage) == 0);
    FUZZ_CHECK(std::equal(overlay.begin(), overlay.begin() + std::min<std::size_t>(overlay.size(), 64),
                          image->bytes().begin() + overlayAt));
    if (boot)
        FUZZ_CHECK(block[L - 4] == 0x00 && block[L - 3] == 0x80 && block[L - 2] == 0xFE && block[L - 1] == 0xFF);
    // The printer takes it whole, in any pieces, with the bytes it was meant to get: its own
    // sum of the data (the record's checksum) is the block's checksum field. On the real flash
    // it says "ok"; a scaled block is whole but not the length the printer's area has.
    const std::uint32_t realLength = firmwareAreaSpec(area, familyOfNumber(family)).length;
    const std::string whole = layout.scale == 1 ? std::string("ok")
                                                : "refused: FileSize " + std::to_string(L) + " is not " +
                                                      std::to_string(realLength);
    QuietSink sink;
    const FlashAreaRecord rec = sendThroughPrinter(family, area, block, cuts, sink);
    FUZZ_CHECK(rec.verdict == whole);
    FUZZ_CHECK(rec.size == L);
    FUZZ_CHECK(rec.checksum == transferBlockChecksum(block));
    FlashDigest digest;
    digest.add(block.data() + kTransferHeaderSize, L - kTransferHeaderSize);
    FUZZ_CHECK(rec.digest == digest.text());
    FUZZ_CHECK(sink.verdicts.size() == 1 && sink.verdicts[0] == whole);

    // One byte changed on the way (a data byte or the checksum): the printer's sum no longer
    // matches the field, which it refuses.
    if (corrupt) {
        auto bad = block;
        const std::size_t at = kTransferHeaderSize - 2 + corruptAt % (L - kTransferHeaderSize + 2);
        bad[at] = uint8_t(bad[at] ^ (1u << (corruptAt >> 29)));
        QuietSink badSink;
        const FlashAreaRecord refused = sendThroughPrinter(family, area, bad, cuts, badSink);
        FUZZ_CHECK(refused.checksum != transferBlockChecksum(bad));
        FUZZ_CHECK(refused.verdict == (layout.scale == 1 ? std::string("refused: checksum mismatch") : whole));
    }
    return 0;
}
