#include "setup/TestPage.h"

#include <gtest/gtest.h>

namespace {
std::size_t total(const TestPageBlocks& blocks)
{
    std::size_t n = 0;
    for (auto& b : blocks)
        n += b.size();
    return n;
}
} // namespace

TEST(TestPage, BlocksInOrder)
{
    auto page = testPageBlocks(false);
    ASSERT_TRUE(page.ok()) << page.message();
    const auto& b = *page;
    ASSERT_EQ(b.size(), 31u);
    EXPECT_EQ(total(b), 358u);
    EXPECT_EQ(b[0], (std::vector<std::uint8_t>{0x1B, 0x40}));
    std::string title(b[1].begin(), b[1].end());
    EXPECT_EQ(title, std::string("USER SETUP UTILITY TEST PRINT!\n") + '\0');
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(b[2 + 4 * i], (std::vector<std::uint8_t>{0x1D, 0x28, 0x4E, 0x02, 0x00, 0x30, 0x32}));
        EXPECT_EQ(b[3 + 4 * i].size(), 11u);
        EXPECT_EQ(b[3 + 4 * i].back(), 0x00);
        EXPECT_EQ(b[4 + 4 * i], (std::vector<std::uint8_t>{0x1D, 0x28, 0x4E, 0x02, 0x00, 0x30, 0x31}));
    }
    EXPECT_EQ(b[22], (std::vector<std::uint8_t>{0x0A, 0x00}));
    ASSERT_EQ(b[23].size(), 128u);
    EXPECT_EQ(b[23].front(), 0x80);
    EXPECT_EQ(b[23].back(), 0xFF);
    EXPECT_EQ(b[25], (std::vector<std::uint8_t>{0x1B, 0x40}));
    EXPECT_EQ(b.back(), (std::vector<std::uint8_t>{0x1B, 0x69}));
}

TEST(TestPage, KoreanLineInCodePage949)
{
    auto page = testPageBlocks(true);
    ASSERT_TRUE(page.ok()) << page.message();
    EXPECT_EQ(page->size(), 32u);
    EXPECT_EQ(total(*page), 395u);
    const std::vector<std::uint8_t> expected = {
        0xC7, 0xD1, 0xB1, 0xDB, 0xC3, 0xE2, 0xB7, 0xC2, 0xC5, 0xD7, 0xBD, 0xBA, 0xC6, 0xAE, 0x20,
        0xF9, 0xD3, 0xED, 0xAD, 0x20, 0xC7, 0xD1, 0xB1, 0xDB, 0x20,
        '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 0x0A, 0x00};
    EXPECT_EQ((*page)[27], expected);
    EXPECT_EQ((*page)[26], (std::vector<std::uint8_t>{0x0A, 0x00}));
}
