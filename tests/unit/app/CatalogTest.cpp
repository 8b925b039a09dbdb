#include "app/MessageCatalog.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <regex>

namespace {

std::vector<std::string> placeholders(const char* text)
{
    static const std::regex re("%[0-9]*[ds]");
    std::vector<std::string> out;
    std::string s(text);
    for (auto it = std::sregex_iterator(s.begin(), s.end(), re); it != std::sregex_iterator(); ++it)
        out.push_back(it->str());
    return out;
}

class CatalogLanguage : public ::testing::Test {
protected:
    void TearDown() override { selectCatalog(false); }
    TempDir etc;
    LocaleSources sources(std::optional<std::string> lang = std::nullopt)
    {
        LocaleSources s;
        s.etcRoot = etc.path();
        s.langEnv = std::move(lang);
        return s;
    }
};

} // namespace

TEST(Catalog, PlaceholdersMatchBetweenLanguages)
{
    for (int n = 0; n < kCatalogSize; ++n) {
        EXPECT_EQ(placeholders(englishCatalog()[n]), placeholders(koreanCatalog()[n])) << "entry " << n;
        EXPECT_NE(std::string(englishCatalog()[n]), "") << n;
        EXPECT_NE(std::string(koreanCatalog()[n]), "") << n;
    }
}

TEST(Catalog, DuplicateEntriesAreAsTheToolHasThem)
{
    for (auto* table : {&englishCatalog(), &koreanCatalog()}) {
        EXPECT_STREQ((*table)[20], (*table)[24]);
        EXPECT_STREQ((*table)[44], (*table)[47]);
    }
    EXPECT_STREQ(englishCatalog()[34], englishCatalog()[59]);
    EXPECT_STRNE(koreanCatalog()[34], koreanCatalog()[59]);
}

TEST(Catalog, TextsAreExact)
{
    EXPECT_STREQ(englishCatalog()[10], "Turn on your USB printer\r\nand Try again.");
    EXPECT_STREQ(englishCatalog()[11], "TavroTool support only One device.\r\nThere are too many device connected!");
    EXPECT_STREQ(englishCatalog()[41], "m_QueueRead FULL!");
    EXPECT_STREQ(koreanCatalog()[1], "완 료");
    EXPECT_STREQ(koreanCatalog()[62], "아이피를 1~254 사이로 입력하십시오");
    EXPECT_STREQ(englishCatalog()[62], "Please enter IP address between 1 ~ 254.");
}

TEST(Catalog, LookupAndFormat)
{
    selectCatalog(false);
    EXPECT_STREQ(catalogText(Msg::Completed), "COMPLETED");
    EXPECT_STREQ(catalogText(static_cast<Msg>(-1)), "");
    EXPECT_STREQ(catalogText(static_cast<Msg>(kCatalogSize)), "");
    EXPECT_EQ(catalogFormat(Msg::OpenPortOrFileError, 5), "ERROR[5] - Open port or file.");
    EXPECT_EQ(catalogFormat(Msg::NvMemoryExceeded, 448).substr(0, 60),
              std::string("Out of range the MAX NV memory Size!\r\nTotal NV Memory Size 448KB").substr(0, 60));
    EXPECT_EQ(catalogFormat(Msg::GrayNeedsEightBit, std::string("a.bmp")).substr(catalogFormat(Msg::GrayNeedsEightBit, std::string("a.bmp")).size() - 7), "(a.bmp)");
}

TEST_F(CatalogLanguage, SystemDefaultWinsOverUserLang)
{
    std::filesystem::create_directories(etc.path() / "default");
    writeFileBytes(etc.path() / "default/locale", "# system\nLANG=\"ko_KR.UTF-8\"\n");
    EXPECT_TRUE(systemDefaultIsKorean(sources("en_US.UTF-8")));
    EXPECT_TRUE(selectCatalog(sources("en_US.UTF-8")));
    EXPECT_EQ(g_pMsg, &koreanCatalog());
    EXPECT_STREQ(catalogText(Msg::Completed), "완 료");
}

TEST_F(CatalogLanguage, LocaleConfComesFirst)
{
    std::filesystem::create_directories(etc.path() / "default");
    writeFileBytes(etc.path() / "locale.conf", "LANG=en_GB.UTF-8\n");
    writeFileBytes(etc.path() / "default/locale", "LANG=ko_KR.UTF-8\n");
    EXPECT_FALSE(systemDefaultIsKorean(sources("ko_KR.UTF-8")));
}

TEST_F(CatalogLanguage, LangOnlyWhenNoSystemFile)
{
    EXPECT_TRUE(systemDefaultIsKorean(sources("ko_KR.UTF-8")));
    EXPECT_TRUE(systemDefaultIsKorean(sources("ko")));
    EXPECT_FALSE(systemDefaultIsKorean(sources("kok_IN")));
    EXPECT_FALSE(systemDefaultIsKorean(sources("C.UTF-8")));
    EXPECT_FALSE(systemDefaultIsKorean(sources()));
    EXPECT_FALSE(selectCatalog(sources("en_US")));
    EXPECT_EQ(g_pMsg, &englishCatalog());
}
