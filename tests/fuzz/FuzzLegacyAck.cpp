// The TAVRO15 download's answers (DLE ACK / DLE NAK) as the port delivers them: in any
// pieces, with stray bytes between them.
#include "FuzzCheck.h"

#include "firmware/LegacyPackets.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

namespace {

using Answer = LegacyAckParser::Answer;

// The answers of a whole stream, read by looking ahead instead of carrying a state: a DLE
// followed by ACK or NAK is an answer; a DLE always takes the byte after it.
std::vector<Answer> answersOf(const std::vector<uint8_t>& s)
{
    std::vector<Answer> out;
    std::size_t i = 0;
    while (i < s.size()) {
        if (s[i] != kDle) {
            ++i;
            continue;
        }
        if (i + 1 < s.size()) {
            if (s[i + 1] == kAck)
                out.push_back(Answer::Ack);
            else if (s[i + 1] == kNak)
                out.push_back(Answer::Nak);
        }
        i += 2;
    }
    return out;
}

// Feeds the stream in pieces whose lengths come from cuts (0 allowed: an empty read).
std::vector<Answer> feedInPieces(LegacyAckParser& parser, const std::vector<uint8_t>& stream,
                                 const std::vector<uint8_t>& cuts)
{
    std::vector<Answer> out;
    std::size_t at = 0;
    for (std::size_t i = 0; at < stream.size(); ++i) {
        std::size_t n = i < cuts.size() ? cuts[i] % 6 : stream.size() - at;
        n = std::min(n, stream.size() - at);
        auto got = parser.feed(std::span(stream).subspan(at, n));
        out.insert(out.end(), got.begin(), got.end());
        at += n;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::vector<uint8_t> cuts = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 32));
    const bool printerLike = in.ConsumeBool();
    std::vector<uint8_t> raw = in.ConsumeRemainingBytes<uint8_t>();

    // Any bytes: one read or many give the same answers, and the ones a lookahead reader finds.
    LegacyAckParser whole;
    const auto once = whole.feed(raw);
    FUZZ_CHECK(once == answersOf(raw));
    LegacyAckParser pieces;
    FUZZ_CHECK(feedInPieces(pieces, raw, cuts) == once);

    // A printer's answers with the noise a real one adds (a lone ACK in front, the DLE in a
    // read of its own): exactly the answers it meant, in order, however the reads fall.
    if (printerLike) {
        std::vector<Answer> meant;
        std::vector<uint8_t> stream;
        for (uint8_t b : raw) {
            if (b & 0x01)
                stream.push_back(kAck); // stray
            if (b & 0x02)
                stream.push_back(b & 0x04 ? 0x00 : 0x55); // line noise that is neither DLE nor an answer
            const Answer a = b & 0x08 ? Answer::Nak : Answer::Ack;
            meant.push_back(a);
            stream.push_back(kDle);
            stream.push_back(a == Answer::Ack ? kAck : kNak);
        }
        LegacyAckParser printer;
        FUZZ_CHECK(feedInPieces(printer, stream, cuts) == meant);
        // A download that starts again after a failure begins clean, whatever came before.
        printer.feed(std::vector<uint8_t>{kDle});
        printer.reset();
        FUZZ_CHECK(printer.feed(std::vector<uint8_t>{kAck}).empty());
    }
    return 0;
}
