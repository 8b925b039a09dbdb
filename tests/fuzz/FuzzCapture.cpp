// `tavro-sim decode`: a capture file from outside, explained line by line.
#include "FuzzCheck.h"

#include "sim/CaptureDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    DecodeOptions options;
    options.family = 1 + data[0] % 6;
    options.json = data[0] & 0x80;
    const std::vector<uint8_t> bytes(data + 1, data + size);
    std::vector<std::string> lines, pngs;
    std::string error;
    CaptureDecoder::decodeBytes(bytes, options, &lines, &pngs, &error);
    // No pictures are written without a folder for them.
    FUZZ_CHECK(pngs.empty());
    for (const auto& line : lines) {
        FUZZ_CHECK(line.find('\n') == std::string::npos);
        if (options.json)
            FUZZ_CHECK(!line.empty() && line.front() == '{' && line.back() == '}');
    }
    // The same bytes explain the same way every time.
    std::vector<std::string> again;
    std::string error2;
    CaptureDecoder::decodeBytes(bytes, options, &again, nullptr, &error2);
    FUZZ_CHECK(again == lines && error2 == error);
    return 0;
}
