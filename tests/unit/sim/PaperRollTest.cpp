// The virtual printer's paper: the top logo at the head of every receipt, the bottom logo
// before the cut, the power-on logo, and the receipt written as a PNG at 576 dots.
#include "SimTestSupport.h"
#include "sim/PaperRoll.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace {

// The interpreter with a sink that sends the paper effects to a roll, as a link does.
struct PaperPrinter final : InterpreterSink {
    explicit PaperPrinter(std::string folder, int maxRows = PaperRoll::kMaxRows)
        : roll(state, std::move(folder), [this](SimEvent e) { receipts.push_back(std::move(e)); }, maxRows),
          interp(state, *this)
    {
    }
    void reply(const std::vector<uint8_t>&) override {}
    void event(SimEvent) override {}
    void printedText(const std::vector<uint8_t>& t, int j) override { roll.text(t, j); }
    void printedPicture(int n, int m) override { roll.picture(n, m); }
    void cut() override { roll.cut(); }

    PrinterState state;
    std::vector<SimEvent> receipts;
    PaperRoll roll;
    CommandInterpreter interp;
};

std::vector<uint8_t> picture(int x, int y, uint8_t fill)
{
    std::vector<uint8_t> out{uint8_t(x), 0, uint8_t(y), 0};
    out.resize(4 + std::size_t(x) * std::size_t(y) * 8, fill);
    return out;
}

} // namespace

TEST(SimPaperRoll, TopAndBottomLogosFrameEveryReceipt)
{
    char tmpl[] = "/tmp/tavro-paper-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string folder = std::string(tmpl) + "/receipts";
    {
        PaperPrinter p(folder);
        // Picture 1: 16 x 8 dots all black; picture 2: 8 x 16 dots all black.
        p.interp.feed(hexBytes("1C 71 02") + picture(2, 1, 0xFF) + picture(1, 2, 0xFF));
        ASSERT_EQ(p.state.pictures.size(), 2u);
        // Top logo 1 centred, bottom logo 2 right.
        p.interp.feed(hexBytes("1C 01 30 01 01 01 01 02 02 1C 02 30"));
        p.interp.feed(textBytes("HELLO\r\n") + hexBytes("1B 69"));
        p.interp.feed(textBytes("SECOND\r\n") + hexBytes("1D 56 00"));

        ASSERT_EQ(p.receipts.size(), 2u);
        for (const auto& r : p.receipts) {
            EXPECT_EQ(r.field("items").find("[\"top:1\""), 0u) << r.toJson();
            EXPECT_NE(r.field("items").find("\"bottom:2\"]"), std::string::npos) << r.toJson();
        }
        EXPECT_NE(p.receipts[0].field("items").find("text:HELLO"), std::string::npos);
        const std::string file = folder + "/receipt-0001.png";
        EXPECT_EQ(p.receipts[0].field("file"), "\"" + file + "\"");
        ASSERT_TRUE(std::filesystem::exists(file));

        // Power-on: the top logo alone when it is set for power-on (TF bit 04).
        p.interp.feed(hexBytes("1C 01 30 01 01 05 00 02 00 1C 02 30"));
        p.roll.powerOn();
        ASSERT_EQ(p.receipts.size(), 3u);
        EXPECT_EQ(p.receipts[2].field("items"), "[\"power-on\",\"top:1\"]");
    }
    std::filesystem::remove_all(tmpl);
}

TEST(SimPaperRoll, DotsAreWhereThePrinterPutsThem)
{
    PaperPrinter p("");
    p.interp.feed(hexBytes("1C 71 01") + picture(2, 1, 0xFF)); // 16 x 8 black
    // Right-justified top logo, nothing at the bottom.
    p.interp.feed(hexBytes("1C 01 30 01 01 02 00 01 00 1C 02 30"));
    p.interp.feed(hexBytes("1C 70 01 03")); // quadruple: 32 x 16 at the left
    const auto& d = p.roll.dots();
    const std::size_t w = PaperRoll::kWidthDots;
    ASSERT_EQ(d.size(), w * (8 + 16));
    EXPECT_EQ(d[0 * w + 575], 0);   // the top logo at the right edge
    EXPECT_EQ(d[0 * w + 559], 255); // ... 16 dots wide
    EXPECT_EQ(d[0 * w + 560], 0);
    EXPECT_EQ(d[8 * w + 31], 0);    // the quadruple picture
    EXPECT_EQ(d[23 * w + 0], 0);
    EXPECT_EQ(d[8 * w + 32], 255);
    EXPECT_EQ(p.roll.items(), (std::vector<std::string>{"top:1", "picture:1"}));
    // A number the printer does not hold prints nothing but is recorded.
    p.interp.feed(hexBytes("1C 70 09 00"));
    EXPECT_EQ(d.size(), w * 24);
    // Text goes on paper too: black dots inside the line.
    p.interp.feed(textBytes("X\n"));
    ASSERT_EQ(p.roll.dots().size(), w * (24 + PaperRoll::kLineDots));
    int black = 0;
    for (std::size_t i = w * 24; i < p.roll.dots().size(); ++i)
        black += p.roll.dots()[i] == 0;
    EXPECT_GT(black, 20);
}

TEST(SimPaperRoll, AnUncutReceiptKeepsItsHeadAndGoesOnTakingBytes)
{
    PaperPrinter p("", 40);
    const std::size_t w = PaperRoll::kWidthDots;
    p.interp.feed(hexBytes("1C 71 01") + picture(2, 2, 0xFF)); // 16 x 16 black
    p.interp.feed(textBytes("FIRST\n"));
    p.interp.feed(hexBytes("1C 70 01 00")); // 16 rows, only 10 fit under the cap
    ASSERT_EQ(p.roll.dots().size(), w * 40);
    EXPECT_EQ(p.roll.dots()[39 * w + 0], 0) << "the picture's head is on the paper";
    EXPECT_EQ(p.roll.dots()[39 * w + 16], 255);
    ASSERT_EQ(p.receipts.size(), 1u);
    EXPECT_EQ(p.receipts[0].cmd(), "paper-full");
    EXPECT_EQ(p.receipts[0].field("rows"), "30");

    for (int i = 0; i < 5; ++i)
        p.interp.feed(textBytes("MORE\n"));
    EXPECT_EQ(p.roll.dots().size(), w * 40);
    EXPECT_EQ(p.roll.droppedRows(), 6 + 5 * PaperRoll::kLineDots);
    EXPECT_EQ(p.receipts.size(), 1u) << "the cut-off is told once";
    // Still a working printer: the interpreter goes on and the cut ends the receipt with
    // what was left off counted.
    p.interp.feed(hexBytes("1D 56 00"));
    ASSERT_EQ(p.receipts.size(), 2u);
    EXPECT_EQ(p.receipts[1].cmd(), "receipt");
    EXPECT_EQ(p.receipts[1].field("height"), "40");
    EXPECT_EQ(p.receipts[1].field("droppedRows"), std::to_string(6 + 5 * PaperRoll::kLineDots + 24));
    EXPECT_NE(p.receipts[1].field("items").find("text:MORE"), std::string::npos);

    // The next receipt starts with the whole cap again and no cut-off.
    p.interp.feed(textBytes("NEXT\n"));
    EXPECT_EQ(p.roll.dots().size(), w * PaperRoll::kLineDots);
    EXPECT_EQ(p.roll.droppedRows(), 0);
    EXPECT_EQ(p.roll.items(), (std::vector<std::string>{"text:NEXT"}));
    EXPECT_EQ(p.receipts.size(), 2u);
}

TEST(SimPaperRoll, AVeryLongReceiptStaysWithinItsMemory)
{
    PaperPrinter p("");
    std::vector<uint8_t> lines;
    const std::size_t count = PaperRoll::kMaxItems + 500;
    for (std::size_t i = 0; i < count; ++i) {
        auto line = textBytes("LINE " + std::to_string(i) + "\n");
        lines.insert(lines.end(), line.begin(), line.end());
    }
    p.interp.feed(lines);
    EXPECT_EQ(p.roll.dots().size(), std::size_t(PaperRoll::kMaxRows) * PaperRoll::kWidthDots);
    EXPECT_EQ(p.roll.items().size(), PaperRoll::kMaxItems);
    EXPECT_EQ(p.roll.items().front(), "text:LINE 0");
    EXPECT_EQ(p.roll.droppedItems(), 500);
    EXPECT_EQ(p.roll.droppedRows(), std::int64_t(count) * PaperRoll::kLineDots - PaperRoll::kMaxRows);
    ASSERT_EQ(p.receipts.size(), 1u);
    EXPECT_EQ(p.receipts[0].cmd(), "paper-full");
}
