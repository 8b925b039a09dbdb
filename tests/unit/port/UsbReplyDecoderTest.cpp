#include "port/UsbReplyDecoder.h"

#include <gtest/gtest.h>

using Bytes = std::vector<std::uint8_t>;

static Bytes decode(std::initializer_list<Bytes> reads)
{
    UsbReplyDecoder decoder;
    Bytes out;
    for (const auto& r : reads)
        decoder.feed(r.data(), static_cast<int>(r.size()), out);
    decoder.finish(out);
    return out;
}

TEST(UsbReplyDecoder, DecodesEscapePairs)
{
    EXPECT_EQ(decode({{0x1B, 0x30, 0x41, 0x1B, 0x1B}}), (Bytes{0x00, 0x41, 0x1B}));
    // 1B before any other byte stands for that byte.
    EXPECT_EQ(decode({{0x1B, 0x41, 0x30, 0x1B, 0x31}}), (Bytes{0x41, 0x30, 0x31}));
    EXPECT_EQ(decode({{}}), Bytes{});
}

TEST(UsbReplyDecoder, EscapeSplitAcrossReadsPairsWithTheNextRead)
{
    EXPECT_EQ(decode({{0x1B, 0x30, 0x41, 0x1B}, {0x1B}}), (Bytes{0x00, 0x41, 0x1B}));
    EXPECT_EQ(decode({{0x41, 0x1B}, {0x30, 0x42}}), (Bytes{0x41, 0x00, 0x42}));
    // An empty read in between does not break the pair.
    EXPECT_EQ(decode({{0x1B}, {}, {0x30}}), (Bytes{0x00}));
}

TEST(UsbReplyDecoder, LoneEscapeAtTheEndIsKeptAndDecoderRestarts)
{
    UsbReplyDecoder decoder;
    Bytes out;
    const std::uint8_t tail[] = {0x41, 0x1B};
    decoder.feed(tail, 2, out);
    EXPECT_TRUE(decoder.pendingEscape());
    decoder.finish(out);
    EXPECT_EQ(out, (Bytes{0x41, 0x1B}));
    EXPECT_FALSE(decoder.pendingEscape());
    const std::uint8_t next[] = {0x30};
    decoder.feed(next, 1, out);
    EXPECT_EQ(out.back(), 0x30); // not paired with the escape of the previous reply
}
