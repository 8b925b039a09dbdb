#include "setup/TestPage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

using Block = std::vector<std::uint8_t>;

Block textBlock(const char* text)
{
    // The terminating 00 goes to the printer with the text.
    return Block(text, text + std::strlen(text) + 1);
}

// The text as iconv converts it from UTF-8 to code page 949 (EUC-KR plus the extended
// Hangul rows).
Result<Block> toCodePage949(const std::string& utf8)
{
    iconv_t cd = ::iconv_open("CP949", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return Result<Block>::failure(std::string("iconv cannot convert to code page 949: ") +
                                      std::strerror(errno));
    std::string in = utf8;
    Block out(in.size() * 2 + 4);
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = reinterpret_cast<char*>(out.data());
    std::size_t outLeft = out.size();
    std::size_t rc = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    int error = errno;
    ::iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0)
        return Result<Block>::failure(std::string("code page 949 conversion failed: ") + std::strerror(error));
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace

Result<std::vector<std::uint8_t>> koreanTestLine()
{
    auto converted = toCodePage949("한글출력테스트 漢子 한글 0123456789\n");
    if (!converted)
        return converted;
    converted->push_back(0x00);
    return converted;
}

Result<TestPageBlocks> testPageBlocks(bool korean)
{
    const Block init = {0x1B, 0x40};
    const Block color2 = {0x1D, 0x28, 0x4E, 0x02, 0x00, 0x30, 0x32};
    const Block color1 = {0x1D, 0x28, 0x4E, 0x02, 0x00, 0x30, 0x31};
    const Block digits = textBlock("0123456789");
    const Block lf = {0x0A, 0x00};
    const Block cut = {0x1B, 0x69};
    Block charset;
    for (int c = 0x80; c <= 0xFF; ++c)
        charset.push_back(static_cast<std::uint8_t>(c));

    TestPageBlocks page;
    page.push_back(init);
    page.push_back(textBlock("USER SETUP UTILITY TEST PRINT!\n"));
    for (int i = 0; i < 5; ++i) {
        page.push_back(color2);
        page.push_back(digits);
        page.push_back(color1);
        page.push_back(digits);
    }
    page.push_back(lf);
    page.push_back(charset);
    page.push_back(lf);
    page.push_back(init);
    page.push_back(lf);
    if (korean) {
        auto line = koreanTestLine();
        if (!line)
            return Result<TestPageBlocks>(line.status());
        page.push_back(*line);
    }
    page.push_back(lf);
    page.push_back(lf);
    page.push_back(lf);
    page.push_back(cut);
    return page;
}
