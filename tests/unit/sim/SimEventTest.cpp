// The virtual printer's event lines: one JSON object per line, plain ASCII, with raw printer
// bytes as the characters of the same numbers, so that any bytes give a line a JSON reader
// takes and that shows them one for one.
#include "sim/SimEvent.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace {

// The bytes back from a JSON string whose characters are all below 256.
std::vector<uint8_t> latin1Bytes(const std::string& utf8)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<uint8_t>(utf8[i]);
        if (c < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<uint8_t>((c & 0x03) << 6 | (static_cast<uint8_t>(utf8[i + 1]) & 0x3F)));
            ++i;
        }
    }
    return out;
}

} // namespace

TEST(SimEvent, AnyBytesGiveAnAsciiLineThatReadsBackToThem)
{
    std::vector<uint8_t> every;
    for (int b = 0; b < 256; ++b)
        every.push_back(static_cast<uint8_t>(b));
    SimEvent e("text");
    e.bytes("text", every).str("name", "caf\xE9").num("n", -7).flag("eol", true);
    const std::string line = e.toJson({{"seq", 3}, {"t", 12}, {"via", "udp@127.0.0.1"}});
    for (char c : line)
        ASSERT_TRUE(static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x80) << line;
    ASSERT_TRUE(nlohmann::json::accept(line)) << line;
    const auto parsed = nlohmann::ordered_json::parse(line);
    EXPECT_EQ(latin1Bytes(parsed["text"].get<std::string>()), every);
    EXPECT_EQ(latin1Bytes(parsed["name"].get<std::string>()), (std::vector<uint8_t>{'c', 'a', 'f', 0xE9}));
    std::vector<std::string> keys;
    for (auto& [key, value] : parsed.items())
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"seq", "t", "via", "cmd", "text", "name", "n", "eol"}));
    EXPECT_EQ(parsed["n"], -7);
    EXPECT_EQ(parsed["eol"], true);
}

TEST(SimEvent, FieldsKeepTheirWrittenForm)
{
    // What scripts read from the log: quotes and backslashes escaped, bytes from 7F up as
    // \u00XX, numbers and flags bare, structured values compact.
    SimEvent e("receipt");
    e.bytes("raw", {'A', '"', '\\', '\n', 0x7F, 0x80, 0xE9}).hex("hex", {0x1B, 0x40});
    e.json("items", SimEvent::Json::array({SimEvent::latin1("top:1"), SimEvent::Json{{"k", 1}, {"gray", false}}}));
    EXPECT_EQ(e.field("raw"), "\"A\\\"\\\\\\n\\u007f\\u0080\\u00e9\"");
    EXPECT_EQ(e.field("hex"), "\"1B 40\"");
    EXPECT_EQ(e.field("items"), "[\"top:1\",{\"k\":1,\"gray\":false}]");
    EXPECT_EQ(e.field("absent"), "");
    EXPECT_EQ(e.toText(), "receipt raw=\"A\"\\\\x0A\\x7F\\x80\\xE9\" hex=1B 40 items=[\"top:1\",{\"k\":1,\"gray\":false}]");
}
