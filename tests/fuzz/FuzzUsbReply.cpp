// The escape coding of the printer's USB replies, fed in the pieces the reads deliver.
#include "FuzzCheck.h"

#include "port/UsbReplyDecoder.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::vector<uint8_t> cuts = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 16));
    const std::vector<uint8_t> stream = in.ConsumeRemainingBytes<uint8_t>();

    // Read in one piece.
    std::vector<uint8_t> whole;
    UsbReplyDecoder one;
    one.feed(stream.data(), int(stream.size()), whole);
    one.finish(whole);
    FUZZ_CHECK(!one.pendingEscape());
    FUZZ_CHECK(whole.size() <= stream.size());

    // Read in pieces cut anywhere (an escape byte may end one read): the same reply.
    std::vector<uint8_t> pieces;
    UsbReplyDecoder many;
    size_t at = 0;
    for (size_t i = 0; at < stream.size(); ++i) {
        size_t n = i < cuts.size() ? cuts[i] % 8 : stream.size() - at;
        n = std::min(n, stream.size() - at);
        many.feed(stream.data() + at, int(n), pieces);
        at += n;
    }
    many.finish(pieces);
    FUZZ_CHECK(pieces == whole);

    // Any bytes the printer means, coded as it codes them, decode to themselves.
    std::vector<uint8_t> coded;
    for (uint8_t b : stream) {
        if (b == 0x00) {
            coded.push_back(0x1B);
            coded.push_back(0x30);
        } else if (b == 0x1B) {
            coded.push_back(0x1B);
            coded.push_back(0x1B);
        } else {
            coded.push_back(b);
        }
    }
    std::vector<uint8_t> decoded;
    UsbReplyDecoder round;
    round.feed(coded.data(), int(coded.size()), decoded);
    FUZZ_CHECK(!round.pendingEscape());
    round.finish(decoded);
    FUZZ_CHECK(decoded == stream);
    return 0;
}
